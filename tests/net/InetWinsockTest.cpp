// The socket library loader and the error texts: loaded and started once and kept, bound
// entries against a real refused connect on 127.0.0.1, and every error code's text.
#include <gtest/gtest.h>

#include "net/InetSocketErrors.h"
#include "net/InetWinsock.h"

namespace {

TEST(WinsockLoader, LoadsOnceAndStaysLoaded) {
    LoadWinsockProc("");
    ASSERT_TRUE(IsWinsockLoaded());
    const HMODULE wsock32 = GetModuleHandleA("wsock32.dll");
    ASSERT_NE(wsock32, nullptr);
    EXPECT_EQ(WinsockData().wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(LoadWinsockProc("socket"), GetProcAddress(wsock32, "socket"));
    // The version cannot change under a started library.
    SetWinsockReqVerLow(1);
    EXPECT_EQ(WinsockReqVerLow(), 2);

    // A socket comes and goes (the count falls to 0): the library stays loaded and started,
    // so a socket made before that still works and the next needs no new start.
    const int32_t before = WinsockInUseCount();
    IncrementInUse();
    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET);
    DecrementInUse();
    EXPECT_EQ(WinsockInUseCount(), before);
    EXPECT_TRUE(IsWinsockLoaded());
    EXPECT_EQ(GetModuleHandleA("wsock32.dll"), wsock32);
    int type = 0, len = sizeof type;
    EXPECT_EQ(WinsockGetSockOpt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len), 0);
    EXPECT_EQ(type, SOCK_STREAM);
    EXPECT_EQ(Winsock::closesocket(s), 0);
    EXPECT_EQ(WinsockInUseCount(), before);  // the counted wrapper gave its count back

    EXPECT_NE(LoadWinsock2Proc("WSAIoctl"), nullptr);
    EXPECT_NE(LoadWinsockIPv6Proc("getaddrinfo"), nullptr);
    EXPECT_TRUE(HasIPv6Api());
}

TEST(WinsockLoader, MissingProcedure) {
    try {
        LoadWinsockProc("NoSuchSocketFunction");
        FAIL() << "no exception";
    } catch (const ESocketAPIException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Procedure NoSuchSocketFunction not found in wsock32.dll - ", 0), 0u)
            << e.what();
    }
    EXPECT_THROW(LoadWinsockIPv6Proc("NoSuchSocketFunction"), ESocketAPIException);
}

TEST(WinsockLoader, WrappersAndAddressInfo) {
    EXPECT_FALSE(WinsockGetHostName().empty());
    in_addr a{};
    a.s_addr = Winsock::inet_addr("127.0.0.1");
    EXPECT_EQ(WinsockInetNtoa(a), "127.0.0.1");
    EXPECT_EQ(Winsock::ntohs(Winsock::htons(0x1234)), 0x1234);
    WinsockSetLastError(10060);
    EXPECT_EQ(WinsockGetLastError(), 10060);

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* res = nullptr;
    ASSERT_EQ(Winsock::getaddrinfo("127.0.0.1", "80", &hints, &res), 0);
    ASSERT_NE(res, nullptr);
    char host[NI_MAXHOST] = {};
    EXPECT_EQ(Winsock::getnameinfo(res->ai_addr, socklen_t(res->ai_addrlen), host, sizeof host, nullptr, 0, NI_NUMERICHOST), 0);
    EXPECT_STREQ(host, "127.0.0.1");
    Winsock::freeaddrinfo(res);
    EXPECT_EQ(InetIn6AddrLoopback.s6_addr[15], 1);
    EXPECT_EQ(InetIn6AddrAny.s6_addr[15], 0);
}

// A port that was just free on 127.0.0.1 refuses the connection: 10061 and its text.
TEST(WinsockLoader, RefusedConnect) {
    SOCKET probe = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(probe, INVALID_SOCKET);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
    addr.sin_port = 0;
    ASSERT_EQ(Winsock::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    int len = sizeof addr;
    ASSERT_EQ(Winsock::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    Winsock::closesocket(probe);  // bound, never listening: nobody accepts on that port

    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(Winsock::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), SOCKET_ERROR);
    const int code = WinsockGetLastError();
    Winsock::closesocket(s);
    EXPECT_EQ(code, 10061);
    EXPECT_EQ(WinsockErrorTextWithCode(code), "Connection refused (#10061)");
    EXPECT_EQ(SocketErrorTextWithCode(code), "Connection refused (#10061)");
    EXPECT_EQ(NetSocketErrorText(code), "Winsock - Connection refused");
}

struct CodeText {
    int code;
    const char* text;
};

const CodeText kSocketTexts[] = {
    {0, "No Error"}, {10004, "Interrupted system call"}, {10009, "Bad file number"}, {10013, "Permission denied"},
    {10014, "Bad address"}, {10022, "Invalid argument"}, {10024, "Too many open files"},
    {10035, "Operation would block"}, {10036, "Operation now in progress"}, {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"}, {10039, "Destination address required"}, {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"}, {10042, "Protocol not available"}, {10043, "Protocol not supported"},
    {10044, "Socket type not supported"}, {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"}, {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"}, {10049, "Address not available"}, {10050, "Network is down"},
    {10051, "Network is unreachable"}, {10052, "Network dropped connection on reset"}, {10053, "Connection aborted"},
    {10054, "Connection reset by peer"}, {10055, "No buffer space available"}, {10056, "Socket is already connected"},
    {10057, "Socket is not connected"}, {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"}, {10060, "Connection timed out"}, {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"}, {10063, "File name too long"}, {10064, "Host is down"},
    {10065, "No route to host"}, {10066, "Directory not empty"}, {10067, "Too many processes"},
    {10068, "Too many users"}, {10069, "Disc quota exceeded"}, {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"}, {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"}, {10093, "WinSock not initialized"},
    {10108, "Service not found"}, {11001, "Host not found"}, {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"}, {11004, "No Data"}};

TEST(ErrorTexts, EverySocketCode) {
    ASSERT_EQ(sizeof kSocketTexts / sizeof kSocketTexts[0], 52u);
    for (const auto& c : kSocketTexts) {
        EXPECT_EQ(WinsockErrorText(c.code), c.text) << c.code;
        EXPECT_EQ(SocketErrorText(c.code), c.text) << c.code;
        EXPECT_EQ(NetSocketErrorText(c.code), std::string("Winsock - ") + c.text) << c.code;
    }
    for (int other : {1, -1, 10001, 10072, 11005, 20000}) {
        EXPECT_EQ(WinsockErrorText(other), "Not a WinSock error") << other;
        EXPECT_EQ(SocketErrorText(other), "Not a Winsocket error") << other;
    }
}

TEST(ErrorTexts, ProxiesAndHttp) {
    const char* socks[] = {"No Error", "Protocol Error", "Version Error", "Authentication Method Error",
                           "General Failure", "Connection Not Allowed", "Network Unreachable", "Host Unreachable",
                           "Connection Refused", "TTL Expired", "Unknown Command", "Unknown Address Type",
                           "Unassigned Error", "Internal Error", "Data Receive Error", "Authentication Failed",
                           "Rejected Or Failed", "Host Resolution Failed"};
    for (int i = 0; i < 18; ++i) {
        EXPECT_EQ(SocksErrorText(20000 + i), socks[i]);
        EXPECT_EQ(NetSocketErrorText(20000 + i), std::string("SOCKS - ") + socks[i]);
        EXPECT_TRUE(IsProxyError(20000 + i));
    }
    EXPECT_EQ(SocksErrorText(20018), "Not a SOCKS error");
    EXPECT_FALSE(IsProxyError(20018));
    EXPECT_EQ(NetSocketErrorText(20018), "Winsock - Not a Winsocket error");

    struct {
        int code;
        const char* text;
    } tunnel[] = {{21000, "HTTP Proxy - Protocol Error"},
                  {21001, "HTTP Proxy - General Failure"},
                  {21002, "HTTP Proxy - Proxy server must support HTTP/1.1"},
                  {21200, "HTTP Proxy - No Error"},
                  {21407, "HTTP Proxy - Proxy Authentication Required"},
                  {21503, "HTTP Proxy - Service Unavailable"},
                  {21308, "HTTP Proxy - HTTP status code 308"},
                  {21003, "HTTP Proxy - Not a HTTP tunnel error"},
                  {21599, "HTTP Proxy - HTTP status code 599"}};
    for (const auto& t : tunnel) {
        EXPECT_EQ(NetSocketErrorText(t.code), t.text) << t.code;
        EXPECT_TRUE(IsProxyError(t.code));
    }
    EXPECT_FALSE(IsProxyError(21600));
    EXPECT_EQ(ProxyErrorText(21600), "Not a proxy error");
    EXPECT_EQ(HttpTunnelErrorText(21600), "Not a HTTP tunnel error");

    EXPECT_EQ(HttpStatusText(200), "OK");
    EXPECT_EQ(HttpStatusText(418), "I'm a teapot");
    EXPECT_EQ(HttpStatusText(450), "Blocked by Windows Parental Controls");
    EXPECT_EQ(HttpStatusText(510), "Not Extended");
    EXPECT_EQ(HttpStatusText(308), "HTTP status code 308");
    EXPECT_EQ(HttpStatusText(100), "Continue");
    EXPECT_EQ(HttpStatusText(599), "HTTP status code 599");
    EXPECT_EQ(HttpStatusText(600), "Not a HTTP status code");
    EXPECT_EQ(HttpStatusText(99), "Not a HTTP status code");
}

}  // namespace
