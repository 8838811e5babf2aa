// The socket libraries, loaded by name on first use and never linked: "wsock32.dll" (started
// with WSAStartup once), "ws2_32.dll" for WSAIoctl, and the address-info functions from
// ws2_32 or, on systems that lack them there, "wship6.dll". Each entry in namespace Winsock
// binds itself on its first call and then calls straight through.
//
// Once loaded, the libraries stay loaded and started for the life of the process: unloading
// after the last socket would cost a reload per request and pull the library from under
// name look-ups still running on worker threads. The in-use count is still kept (sockets
// and the counted wrappers below) for those who want to know.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/Exception.h"
#include "framework/Handles.h"

// Start-up and binding failures ("Procedure X not found in wsock32.dll - ...").
class ESocketAPIException : public framework::Exception {
public:
    using framework::Exception::Exception;
};

// The requested version, 2.2 by default (low byte: major). Changes are ignored once
// "wsock32.dll" is loaded.
uint8_t WinsockReqVerLow();
uint8_t WinsockReqVerHigh();
void SetWinsockReqVerLow(uint8_t Value);
void SetWinsockReqVerHigh(uint8_t Value);

// Load (and start) as needed, then the address of Name in the library; an empty Name only
// loads. Failures raise framework::Exception ("Unable to load wsock32.dll - ...") or
// ESocketAPIException.
FARPROC LoadWinsockProc(const std::string& Name);
FARPROC LoadWinsock2Proc(const std::string& Name);
FARPROC LoadWinsockIPv6Proc(const std::string& Name);

bool IsWinsockLoaded();
// Winsock 2.2 requested, an NT system above 5.0.
bool HasIPv6Api();
// What WSAStartup answered.
WSADATA WinsockData();

void IncrementInUse();
void DecrementInUse();
int32_t WinsockInUseCount();

// "Connection refused", ...; "Not a WinSock error" outside the table.
std::string WinsockErrorText(int Code);
// The text and " (#<code>)".
std::string WinsockErrorTextWithCode(int Code);
// The table's text of a socket error code, nullptr when it has none.
const char* WinsockErrorTableText(int Code);

// The unspecified (::) and loopback (::1) IPv6 addresses.
extern const in6_addr InetIn6AddrAny;
extern const in6_addr InetIn6AddrLoopback;

// Counted wrappers: the in-use count is held around the call.
void WinsockSetLastError(int Error);
int WinsockGetLastError();
// The host name (empty on error).
std::string WinsockGetHostName();
int WinsockSetSockOpt(SOCKET S, int Level, int OptName, const char* OptVal, int OptLen);
int WinsockGetSockOpt(SOCKET S, int Level, int OptName, char* OptVal, int* OptLen);
int WinsockIoctl(SOCKET S, DWORD Code, void* In, DWORD InLen, void* Out, DWORD OutLen, DWORD* Returned,
                 WSAOVERLAPPED* Overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE Completion);
// The dotted text, empty for no result.
std::string WinsockInetNtoa(in_addr Addr);
int WinsockRecv(SOCKET S, char* Buf, int Len, int Flags);

// The bound entries, named and typed as the system's own.
namespace Winsock {
int WSAAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSAAPI WSACleanup();
void WSAAPI WSASetLastError(int iError);
int WSAAPI WSAGetLastError();
int WSAAPI WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);
HANDLE WSAAPI WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen);
HANDLE WSAAPI WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf, int buflen);
int WSAAPI WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent);
servent* WSAAPI getservbyname(const char* name, const char* proto);
protoent* WSAAPI getprotobyname(const char* name);
hostent* WSAAPI gethostbyname(const char* name);
hostent* WSAAPI gethostbyaddr(const char* addr, int len, int type);
int WSAAPI gethostname(char* name, int namelen);
SOCKET WSAAPI socket(int af, int type, int protocol);
int WSAAPI shutdown(SOCKET s, int how);
int WSAAPI setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WSAAPI getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int WSAAPI sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int WSAAPI send(SOCKET s, const char* buf, int len, int flags);
u_short WSAAPI ntohs(u_short netshort);
int WSAAPI listen(SOCKET s, int backlog);
int WSAAPI ioctlsocket(SOCKET s, long cmd, u_long* argp);
char* WSAAPI inet_ntoa(in_addr in);
unsigned long WSAAPI inet_addr(const char* cp);
u_short WSAAPI htons(u_short hostshort);
int WSAAPI getsockname(SOCKET s, sockaddr* name, int* namelen);
int WSAAPI getpeername(SOCKET s, sockaddr* name, int* namelen);
int WSAAPI connect(SOCKET s, const sockaddr* name, int namelen);
int WSAAPI closesocket(SOCKET s);
int WSAAPI bind(SOCKET s, const sockaddr* name, int namelen);
SOCKET WSAAPI accept(SOCKET s, sockaddr* addr, int* addrlen);
int WSAAPI recv(SOCKET s, char* buf, int len, int flags);
int WSAAPI recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int WSAAPI WSAIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer, LPVOID lpvOutBuffer,
                    DWORD cbOutBuffer, LPDWORD lpcbBytesReturned, LPWSAOVERLAPPED lpOverlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
int WSAAPI getaddrinfo(const char* nodename, const char* servname, const addrinfo* hints, addrinfo** res);
void WSAAPI freeaddrinfo(addrinfo* ai);
int WSAAPI getnameinfo(const sockaddr* sa, socklen_t salen, char* host, DWORD hostlen, char* serv, DWORD servlen,
                       int flags);
}  // namespace Winsock

// The list getaddrinfo hands out, given back to the library that made it.
struct TAddrInfoTraits {
    using Handle = addrinfo*;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { Winsock::freeaddrinfo(h); }
};
using TUniqueAddrInfo = framework::UniqueResource<TAddrInfoTraits>;
