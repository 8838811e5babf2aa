// Address literals and the blocking resolvers: IPv4 tests, IPv6 parsing and formatting
// (every formatted text parses back), ports, protocols and host names.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "net/InetAddress.h"

TEST(InetAddress, IPv4Tests) {
    struct Case {
        const char* text;
        bool dotted, strict, parses;
    } cases[] = {
        {" 10.0.0.1 ", true, false, false}, {"10.0.0.1", true, true, true},  {"10.0.0", false, false, false},
        {"10.0.0.256", false, false, false}, {"10.0.0.1.", false, false, false}, {"10.0.0.", false, true, false},
        {".1.2.3", false, false, false},     {"1..2.3", false, false, false},  {"1.2.3.4x", false, false, false},
        {"255.255.255.255", true, true, true}, {"0.0.0.0", true, true, true}, {"1.2.3.999", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDottedIPv4(c.text), c.dotted) << c.text;
        EXPECT_EQ(IsIPv4Strict(c.text), c.strict) << c.text;
        bool ok;
        ParseIPv4(c.text, ok);
        EXPECT_EQ(ok, c.parses) << c.text;
    }
    bool ok;
    const uint32_t a = ParseIPv4("192.168.1.20", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(a, 0x1401A8C0u);  // network order: first part in the lowest byte
    EXPECT_EQ(IPv4ToText(a), "192.168.1.20");
}

TEST(InetAddress, IPv6ParseTable) {
    struct Case {
        const char* text;
        bool ok;
        const char* canonical;
        uint32_t scope;
    } cases[] = {
        {"::", true, "::", 0},
        {"::1", true, "::1", 0},
        {"1::1", true, "1::1", 0},
        {"fe80::1%12", true, "fe80::1", 12},
        {"FE80:0:0:0:0:0:0:AB", true, "fe80::ab", 0},
        {"1:0:2:3:4:5:6:7", true, "1::2:3:4:5:6:7", 0},
        {"::1:2:3:4:5:6:7", true, "::1:2:3:4:5:6:7", 0},
        {"1:2:3:4:5:6:7::", true, "1:2:3:4:5:6:7::", 0},
        {"1:0:0:2:0:0:0:3", true, "1:0:0:2::3", 0},
        {":1", false, "", 0},
        {"1:", false, "", 0},
        {"1:2", false, "", 0},
        {"1::2::3", false, "", 0},
        {"1:2:3:4:5:6:7:8:9", false, "", 0},
        {"::1:2:3:4:5:6:7:8", false, "", 0},
        {"12345::", false, "", 0},
        {"g::", false, "", 0},
        {"::1%1%2", false, "", 0},
        {"::1%x", false, "", 0},
        {"::ffff:1.2.3.4", false, "", 0},
        {"", false, "", 0},
        {"1111:2222:3333:4444:5555:6666:7777:88889", false, "", 0},
    };
    for (const Case& c : cases) {
        in6_addr a;
        uint32_t scope = 99;
        ASSERT_EQ(ParseIPv6(c.text, a, scope), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(IPv6ToText(a), c.canonical) << c.text;
        EXPECT_EQ(scope, c.scope) << c.text;
    }
}

TEST(InetAddress, EveryFormattedIPv6ParsesBack) {
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i) {
        in6_addr a;
        // Mostly zero groups, so that runs of every length and place come up.
        for (int g = 0; g < 8; ++g) {
            const uint16_t v = (rng() % 3 == 0) ? uint16_t(rng()) : 0;
            a.s6_addr[2 * g] = uint8_t(v >> 8);
            a.s6_addr[2 * g + 1] = uint8_t(v);
        }
        const std::string text = IPv6ToText(a);
        in6_addr back;
        uint32_t scope;
        ASSERT_TRUE(ParseIPv6(text, back, scope)) << text;
        ASSERT_EQ(std::memcmp(&a, &back, 16), 0) << text;
    }
    TSockAddrIn6 r;
    InitSockAddr(r, sfIPv6);
    EXPECT_EQ(r.sin6_family, AF_INET6);
    EXPECT_EQ(SockAddrLen(r), 28);
    r.sin6_addr.s6_addr[15] = 1;
    r.sin6_scope_id = 7;
    EXPECT_EQ(SockAddr6ToText(r), "::1%7");
    InitSockAddr(r, sfAnyIPv6);
    EXPECT_EQ(SockAddrLen(r), 16);
    TSocketFamily kind;
    EXPECT_TRUE(IPLiteralKind("1.2.3.4", kind));
    EXPECT_EQ(kind, sfIPv4);
    EXPECT_TRUE(IPLiteralKind("::1", kind));
    EXPECT_EQ(kind, sfIPv6);
    EXPECT_FALSE(IPLiteralKind("localhost", kind));
}

namespace {
std::string RaisedBy(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "";
}
}  // namespace

TEST(InetAddress, PortsAndProtocols) {
    EXPECT_EQ(WinsockResolvePort("8080x", "tcp"), 8080);
    EXPECT_EQ(WinsockResolvePort("65535", "tcp"), 65535);
    EXPECT_EQ(WinsockResolvePort("0", "tcp"), 0);
    // A port above 65535 is refused, not wrapped onto another port.
    EXPECT_EQ(RaisedBy([] { WinsockResolvePort("65536", "tcp"); }),
              "Winsock Resolve Port: Port '65536' out of range.");
    EXPECT_EQ(RaisedBy([] { WinsockResolvePort("70000", "tcp"); }), "Winsock Resolve Port: Port '70000' out of range.");
    EXPECT_EQ(RaisedBy([] { WinsockResolvePort("", "tcp"); }), "Winsock Resolve Port: Invalid Port.");
    EXPECT_EQ(RaisedBy([] { WinsockResolvePort("80", ""); }), "Winsock Resolve Port: Invalid Proto.");
    EXPECT_EQ(RaisedBy([] { WinsockResolvePort("no-such-service-xyz", "tcp"); })
                  .rfind("Winsock Resolve Port: Cannot convert port 'no-such-service-xyz' - ", 0),
              0u);
    EXPECT_EQ(WinsockResolveProto("tcp"), 6);
    EXPECT_EQ(WinsockResolveProto(" UDP "), 17);
    EXPECT_EQ(WinsockResolveProto("raw"), 255);
    EXPECT_EQ(WinsockResolveProto("41"), 41);
    EXPECT_EQ(RaisedBy([] { WinsockResolveProto(""); }), "Winsock Resolve Proto: Invalid Protocol.");
}

TEST(InetAddress, HostResolution) {
    EXPECT_EQ(WinsockResolveIPv4("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(WinsockResolveIPv4(" 127.0.0.1 "), 0x0100007Fu);
    EXPECT_EQ(WinsockResolveIPv4("127.1"), 0x0100007Fu);  // by gethostbyname, numerically
    EXPECT_EQ(RaisedBy([] { WinsockResolveIPv4(""); }), "Winsock Resolve Host: '' Invalid Hostname.");
    TSockAddrIn6 r;
    InitSockAddr(r, sfIPv4);
    r.sin6_port = htons(81);
    WinsockResolveHost("127.0.0.2", r, sfIPv4, IPPROTO_TCP);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&r);
    EXPECT_EQ(v4->sin_family, AF_INET);
    EXPECT_EQ(v4->sin_addr.s_addr, 0x0200007Fu);
    EXPECT_EQ(ntohs(v4->sin_port), 81);  // the port already set stays
    WinsockResolveHost("::1", r, sfIPv6, IPPROTO_TCP);
    EXPECT_EQ(r.sin6_family, AF_INET6);
    EXPECT_EQ(IPv6ToText(r.sin6_addr), "::1");
    EXPECT_EQ(RaisedBy([] {
                  TSockAddrIn6 t;
                  WinsockResolveHost("", t, sfIPv4, 6);
              }),
              "NetSocket Resolve Host: Invalid Hostname");
    EXPECT_FALSE(NetSocketHostName().empty());
    EXPECT_GE(ProcessorCount(), 1);
}
