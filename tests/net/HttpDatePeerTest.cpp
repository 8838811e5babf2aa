// The Date header of a real HTTP server (nginx, started by the net_peer_nginx fixture on
// 127.0.0.1) read by the RFC 822 parser: within two seconds of this machine's clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "net/InetUtils.h"
#include "net/InetWinsock.h"
#include "NetTestUtil.h"

namespace {

std::string HeadRequest(int port) {
    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
    addr.sin_port = Winsock::htons(u_short(port));
    std::string reply;
    if (Winsock::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "HEAD / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        Winsock::send(s, request.data(), int(request.size()), 0);
        char buf[1024];
        int n;
        while ((n = WinsockRecv(s, buf, sizeof buf, 0)) > 0) reply.append(buf, size_t(n));
    }
    Winsock::closesocket(s);
    return reply;
}

TEST(HttpDatePeer, DateHeaderIsNow) {
    if (!std::getenv("VA_NGINX_PEER")) GTEST_SKIP() << "runs as net_http_date, with the nginx peer";
    std::ifstream f(nettest::OutputFolder() + "nginx.port");
    int port = 0;
    ASSERT_TRUE(f >> port) << "the fixture wrote no port";
    const std::string reply = HeadRequest(port);
    ASSERT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    const size_t at = reply.find("\r\nDate: ");
    ASSERT_NE(at, std::string::npos) << reply;
    const std::string date = reply.substr(at + 8, reply.find("\r\n", at + 8) - at - 8);
    const TDateTime parsed = InetParseRfc822Date(date, true);
    ASSERT_NE(parsed, 0) << date;
    EXPECT_NEAR(parsed, InetNow(), 2.0 / 86400) << date << " read as " << InetRfc822DateText(parsed, true);
}

}  // namespace
