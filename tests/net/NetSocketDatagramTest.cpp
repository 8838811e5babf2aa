// Datagram sockets on loopback: a listener and a "connected" sender over IPv4 and IPv6,
// answers to the sender's address, multicast through the loopback interface, the address
// records of a connection, and the time-value helpers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/NetSocket.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using testsupport::PumpUntil;

namespace {

std::string Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "";
}

// Lets the test plant a stale error code, as a layer may leave one.
struct TErrorPlantingSocket : TNetSocket {
    using TNetSocket::TNetSocket;
    using TCustomNetSocket::SetLastError;
};

struct Family {
    const char* name;
    TSocketFamily family;
    const char* loopback;
};

}  // namespace

TEST(NetSocketDatagram, ListenerAndSenderExchangeDatagrams) {
    for (const Family& f : {Family{"IPv4", sfIPv4, "127.0.0.1"}, Family{"IPv6", sfIPv6, "::1"}}) {
        TNetSocket server(nullptr), client(nullptr);
        server.SetSocketFamily(f.family);
        server.SetProto("udp");
        server.SetAddr(f.loopback);
        server.SetPort("0");
        std::vector<TSocketState> states;
        int serverUp = 0;
        server.OnChangeState = [&](framework::TComponent*, TSocketState, TSocketState n) { states.push_back(n); };
        server.OnSessionConnected = [&](framework::TComponent*, uint16_t e) { serverUp += e == 0; };
        std::vector<std::string> got;
        sockaddr_in6 from6{};
        sockaddr_in from4{};
        server.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
            std::vector<uint8_t> bytes;
            int len = 0;
            const int n = f.family == sfIPv6 ? server.ReceiveFrom6Bytes(bytes, from6, len)
                                             : server.ReceiveFromBytes(bytes, from4, len);
            if (n > 0) got.emplace_back(bytes.begin(), bytes.end());
        };
        const std::string listenError = Raised([&] { server.Listen(); });
        if (f.family == sfIPv6 && !listenError.empty()) GTEST_SKIP() << "no IPv6 loopback: " << listenError;
        ASSERT_EQ(listenError, "") << f.name;
        EXPECT_EQ(states, (std::vector<TSocketState>{wsBound, wsListening, wsConnected})) << f.name;
        EXPECT_EQ(serverUp, 1) << f.name;
        const std::string port = server.LocalPortText();
        ASSERT_NE(port, "0") << f.name;

        std::string answer;
        int clientUp = 0;
        client.SetSocketFamily(f.family);
        client.SetProto("udp");
        client.SetAddr(f.loopback);
        client.SetPort(port);
        client.OnSessionConnected = [&](framework::TComponent*, uint16_t e) { clientUp += e == 0; };
        client.OnDataAvailable = [&](framework::TComponent*, uint16_t) { answer += client.ReceiveAsTextAlias(); };
        client.Connect();
        // A datagram socket is connected at once.
        EXPECT_EQ(client.State(), wsConnected) << f.name;
        EXPECT_EQ(clientUp, 1) << f.name;
        EXPECT_EQ(client.SendText("first"), 5);
        EXPECT_EQ(client.SendText("second"), 6);
        ASSERT_TRUE(PumpUntil([&] { return got.size() == 2; })) << f.name;
        EXPECT_EQ(got, (std::vector<std::string>{"first", "second"})) << f.name;
        const std::string clientPort = client.LocalPortText();
        const std::vector<uint8_t> reply{'r', 'e', 'p', 'l', 'y', '!', '!'};
        if (f.family == sfIPv6) {
            EXPECT_EQ(std::to_string(Winsock::ntohs(from6.sin6_port)), clientPort);
            EXPECT_EQ(server.SendBytesToAddr6(from6, reply, 5), 5);
        } else {
            EXPECT_EQ(std::to_string(Winsock::ntohs(from4.sin_port)), clientPort);
            EXPECT_EQ(std::string(Winsock::inet_ntoa(from4.sin_addr)), "127.0.0.1");
            EXPECT_EQ(server.SendBytesToAddr(from4, reply, 5), 5);
        }
        ASSERT_TRUE(PumpUntil([&] { return answer == "reply"; })) << f.name << ": " << answer;
        EXPECT_EQ(client.BytesReceived(), 5);
        client.Close();
        server.Close();
        EXPECT_EQ(server.State(), wsClosed);
    }
}

// A member of a group on this host, and a sender whose hop limit 0 keeps its datagrams on
// the host as well.
TEST(NetSocketDatagram, MulticastGroupOnThisHost) {
    TNetSocket member(nullptr), sender(nullptr);
    member.SetProto("udp");
    member.SetAddr("0.0.0.0");
    member.SetPort("0");
    member.MultiCast = true;
    member.MultiCastAddrStr = "239.255.42.99";
    member.ReuseAddr = true;
    std::string got;
    member.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        std::vector<uint8_t> bytes(100);
        sockaddr_in from{};
        int len = 0;
        if (member.ReceiveFromBytes(bytes, from, len) > 0) got.append(bytes.begin(), bytes.end());
    };
    member.Listen();
    EXPECT_EQ(member.State(), wsConnected);
    const std::string port = member.LocalPortText();

    sender.SetProto("udp");
    sender.SetAddr("239.255.42.99");
    sender.SetPort(port);
    sender.MultiCast = true;
    sender.MultiCastIpTTL = 0;
    sender.Connect();
    EXPECT_EQ(sender.State(), wsConnected);
    int ttl = -1, len = sizeof(ttl);
    ASSERT_EQ(Winsock::getsockopt(sender.HSocket(), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&ttl), &len), 0);
    EXPECT_EQ(ttl, 0);
    sender.SendText("to the group");
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }, 5000));
    EXPECT_EQ(got, "to the group");
}

// A datagram sender bound to a local address sends its multicast through that interface.
TEST(NetSocketDatagram, MulticastLeavesThroughTheLocalAddress) {
    TNetSocket sender(nullptr);
    sender.SetProto("udp");
    sender.SetAddr("239.255.42.99");
    sender.SetPort("9");
    sender.SetLocalAddr("127.0.0.1");
    sender.MultiCast = true;
    sender.Connect();
    ASSERT_EQ(sender.State(), wsConnected);
    in_addr iface{};
    int len = sizeof(iface);
    ASSERT_EQ(Winsock::getsockopt(sender.HSocket(), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<char*>(&iface), &len), 0);
    // Reported as the address, or (Wine) as the index of the loopback interface, 1; never the
    // any-address of a socket left on the default route.
    const std::string text = Winsock::inet_ntoa(iface);
    EXPECT_TRUE(text == "127.0.0.1" || iface.s_addr == 1) << text;
}

TEST(NetSocketDatagram, BadMulticastGroupsAreRefused) {
    struct Case {
        TSocketFamily family;
        const char* addr;
        const char* group;
        const char* message;
    } cases[] = {
        {sfIPv6, "::1", "ff02::zz", "setsockopt(IPV6_ADD_MEMBERSHIP) Invalid multicast address"},
        {sfIPv6, "::1", "fe80::1", "setsockopt(IPV6_ADD_MEMBERSHIP) Invalid multicast address"},
        {sfIPv4, "127.0.0.1", "not-a-group", "setsockopt(IP_ADD_MEMBERSHIP)"},
    };
    for (const Case& c : cases) {
        TNetSocket s(nullptr);
        s.SetSocketFamily(c.family);
        s.SetProto("udp");
        s.SetAddr(c.addr);
        s.SetPort("0");
        s.MultiCast = true;
        s.MultiCastAddrStr = c.group;
        const std::string text = Raised([&] { s.Listen(); });
        if (c.family == sfIPv6 && text.find("listen: Bind") != std::string::npos) continue;  // no IPv6 here
        EXPECT_NE(text.find(c.message), std::string::npos) << c.group << ": " << text;
        EXPECT_EQ(s.LastError(), WSAEINVAL) << c.group;
        s.Abort();
    }
}

TEST(NetSocketDatagram, AddressRecordsAndAcceptErrors) {
    TErrorPlantingSocket server(nullptr);
    TNetSocket accepted(nullptr), client(nullptr);
    // Accept outside listening: -1 and LastError 10022.
    server.OnError = [](framework::TComponent*) {};
    EXPECT_EQ(server.Accept(), INVALID_SOCKET);
    EXPECT_EQ(server.LastError(), WSAEINVAL);
    server.OnError = nullptr;
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.OnSessionAvailable = [&](framework::TComponent*, uint16_t) { accepted.Dup(server.Accept()); };
    server.Listen();
    server.SetLastError(-5);
    bool up = false;
    client.OnSessionConnected = [&](framework::TComponent*, uint16_t e) { up = e == 0; };
    TSockAddrIn6 rec{};
    int len = sizeof(rec);
    EXPECT_EQ(client.ReadPeerSockAddr(rec, len), -1);  // not connected
    client.SetAddr("127.0.0.1");
    client.SetPort(server.LocalPortText());
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return up && accepted.State() == wsConnected; }, 10000));
    EXPECT_EQ(server.LastError(), 0);
    len = sizeof(rec);
    ASSERT_EQ(client.ReadPeerSockAddr(rec, len), 0);
    EXPECT_EQ(len, int(sizeof(sockaddr_in)));
    EXPECT_EQ(std::to_string(Winsock::ntohs(rec.sin6_port)), server.LocalPortText());
    len = sizeof(rec);
    ASSERT_EQ(client.ReadLocalSockAddr(rec, len), 0);
    EXPECT_EQ(std::to_string(Winsock::ntohs(rec.sin6_port)), client.LocalPortText());
    EXPECT_EQ(std::to_string(Winsock::ntohs(rec.sin6_port)), accepted.GetPeerPort());
    client.Abort();
    len = sizeof(rec);
    EXPECT_EQ(client.ReadLocalSockAddr(rec, len), -1);
}

TEST(NetSocketDatagram, TimeValues) {
    TNetSocket s(nullptr);
    struct Case {
        timeval a, b;
        int order;
    } cases[] = {
        {{0, 0}, {0, 0}, 0},      {{1, 0}, {0, 999999}, 1}, {{0, 5}, {0, 6}, -1},
        {{7, 10}, {7, 10}, 0},    {{-1, 0}, {0, 0}, -1},    {{3, 999999}, {4, 0}, -1},
    };
    for (const Case& c : cases) {
        const int r = s.TimeValCompare(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.order) << c.a.tv_sec << "." << c.a.tv_usec;
        EXPECT_EQ(s.TimeValIsSet(c.a), c.a.tv_sec != 0 || c.a.tv_usec != 0);
    }
    timeval t{12, 34};
    EXPECT_TRUE(s.TimeValIsSet(t));
    s.TimeValClear(t);
    EXPECT_FALSE(s.TimeValIsSet(t));
    EXPECT_EQ(t.tv_sec, 0);
    EXPECT_EQ(t.tv_usec, 0);
}
