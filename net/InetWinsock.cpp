#include "net/InetWinsock.h"

#include <atomic>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "net/InetUtils.h"

namespace {

struct Loader {
    TInetCriticalSection lock;
    HMODULE wsock32 = nullptr;
    HMODULE ws2 = nullptr;
    HMODULE wship6 = nullptr;
    HMODULE ipv6Api = nullptr;
    WSADATA data{};
    uint8_t reqVerLow = 2;
    uint8_t reqVerHigh = 2;
    int32_t inUse = 0;
};

// Made once and kept: worker threads may still call through it while the process ends.
Loader& L() {
    static Loader* loader = new Loader;
    return *loader;
}

std::string LastErrorText() { return framework::SysErrorMessage(GetLastError()); }

FARPROC Find(HMODULE module, const std::string& name, const char* libraryName) {
    FARPROC p = GetProcAddress(module, name.c_str());
    if (!p)
        throw ESocketAPIException("Procedure " + name + " not found in " + libraryName + " - " + LastErrorText());
    return p;
}

// Holds the in-use count around one call.
struct InUse {
    InUse() { IncrementInUse(); }
    ~InUse() { DecrementInUse(); }
};

struct ErrorRow {
    int code;
    const char* text;
};
const ErrorRow kErrors[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {10108, "Service not found"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

}  // namespace

const in6_addr InetIn6AddrAny = {};
const in6_addr InetIn6AddrLoopback = [] {
    in6_addr a{};
    a.s6_addr[15] = 1;
    return a;
}();

uint8_t WinsockReqVerLow() {
    TInetLock lock(L().lock);
    return L().reqVerLow;
}
uint8_t WinsockReqVerHigh() {
    TInetLock lock(L().lock);
    return L().reqVerHigh;
}
void SetWinsockReqVerLow(uint8_t Value) {
    TInetLock lock(L().lock);
    if (!L().wsock32) L().reqVerLow = Value;
}
void SetWinsockReqVerHigh(uint8_t Value) {
    TInetLock lock(L().lock);
    if (!L().wsock32) L().reqVerHigh = Value;
}

FARPROC LoadWinsockProc(const std::string& Name) {
    Loader& l = L();
    TInetLock lock(l.lock);
    if (!l.wsock32) {
        framework::UniqueHModule module(LoadLibraryA("wsock32.dll"));
        if (!module) throw framework::Exception("Unable to load wsock32.dll - " + LastErrorText());
        using StartupFn = int(WSAAPI*)(WORD, LPWSADATA);
        auto startup = framework::ProcAs<StartupFn>(Find(module.get(), "WSAStartup", "wsock32.dll"));
        WSADATA data{};
        int r = startup(MAKEWORD(l.reqVerLow, l.reqVerHigh), &data);
        if (r != 0) throw ESocketAPIException("Winsock startup error ws2_32.dll - " + WinsockErrorTextWithCode(r));
        l.data = data;
        l.wsock32 = module.release();
    }
    return Name.empty() ? nullptr : Find(l.wsock32, Name, "wsock32.dll");
}

FARPROC LoadWinsock2Proc(const std::string& Name) {
    Loader& l = L();
    TInetLock lock(l.lock);
    if (!l.ws2) {
        LoadWinsockProc("");
        HMODULE module = LoadLibraryA("ws2_32.dll");
        if (!module) throw framework::Exception("Unable to load ws2_32.dll - " + LastErrorText());
        l.ws2 = module;
    }
    return Name.empty() ? nullptr : Find(l.ws2, Name, "ws2_32.dll");
}

FARPROC LoadWinsockIPv6Proc(const std::string& Name) {
    Loader& l = L();
    TInetLock lock(l.lock);
    if (!l.ipv6Api) {
        LoadWinsock2Proc("");
        if (GetProcAddress(l.ws2, "getaddrinfo")) {
            l.ipv6Api = l.ws2;
        } else {
            // Older systems keep the address-info functions in the IPv6 helper.
            if (!l.wship6) {
                HMODULE module = LoadLibraryA("wship6.dll");
                if (!module) throw framework::Exception("Unable to load wship6.dll - " + LastErrorText());
                l.wship6 = module;
            }
            l.ipv6Api = l.wship6;
        }
    }
    return Name.empty() ? nullptr : Find(l.ipv6Api, Name, "ws2_32.dll");
}

bool IsWinsockLoaded() {
    TInetLock lock(L().lock);
    return L().wsock32 != nullptr;
}

bool HasIPv6Api() {
    if (WinsockReqVerLow() < 2 || WinsockReqVerHigh() < 2) return false;
    OSVERSIONINFOA vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&vi)) return false;
#pragma GCC diagnostic pop
    return vi.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (vi.dwMajorVersion > 5 || (vi.dwMajorVersion == 5 && vi.dwMinorVersion > 0));
}

WSADATA WinsockData() {
    TInetLock lock(L().lock);
    return L().data;
}

void IncrementInUse() {
    TInetLock lock(L().lock);
    ++L().inUse;
}
void DecrementInUse() {
    TInetLock lock(L().lock);
    --L().inUse;
}
int32_t WinsockInUseCount() {
    TInetLock lock(L().lock);
    return L().inUse;
}

const char* WinsockErrorTableText(int Code) {
    for (const auto& e : kErrors)
        if (e.code == Code) return e.text;
    return nullptr;
}

std::string WinsockErrorText(int Code) {
    const char* t = WinsockErrorTableText(Code);
    return t ? t : "Not a WinSock error";
}

std::string WinsockErrorTextWithCode(int Code) { return WinsockErrorText(Code) + " (#" + std::to_string(Code) + ")"; }

void WinsockSetLastError(int Error) {
    InUse use;
    Winsock::WSASetLastError(Error);
}

int WinsockGetLastError() {
    InUse use;
    return Winsock::WSAGetLastError();
}

std::string WinsockGetHostName() {
    InUse use;
    char buf[256] = {};
    if (Winsock::gethostname(buf, sizeof buf) != 0) return {};
    buf[sizeof buf - 1] = '\0';
    return buf;
}

int WinsockSetSockOpt(SOCKET S, int Level, int OptName, const char* OptVal, int OptLen) {
    InUse use;
    return Winsock::setsockopt(S, Level, OptName, OptVal, OptLen);
}

int WinsockGetSockOpt(SOCKET S, int Level, int OptName, char* OptVal, int* OptLen) {
    InUse use;
    return Winsock::getsockopt(S, Level, OptName, OptVal, OptLen);
}

int WinsockIoctl(SOCKET S, DWORD Code, void* In, DWORD InLen, void* Out, DWORD OutLen, DWORD* Returned,
                 WSAOVERLAPPED* Overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE Completion) {
    InUse use;
    return Winsock::WSAIoctl(S, Code, In, InLen, Out, OutLen, Returned, Overlapped, Completion);
}

std::string WinsockInetNtoa(in_addr Addr) {
    InUse use;
    const char* p = Winsock::inet_ntoa(Addr);
    return p ? p : "";
}

int WinsockRecv(SOCKET S, char* Buf, int Len, int Flags) {
    InUse use;
    return Winsock::recv(S, Buf, Len, Flags);
}

// ---- bound entries ----
// Each resolves its address on the first call; two threads racing there store the same
// address, and the libraries never go, so the address stays good.
#define VA_WINSOCK_ENTRY(LOADER, RET, NAME, PARAMS, ARGS)                     \
    RET WSAAPI NAME PARAMS {                                                  \
        static std::atomic<FARPROC> slot{nullptr};                            \
        FARPROC p = slot.load(std::memory_order_acquire);                     \
        if (!p) {                                                             \
            p = LOADER(#NAME);                                                \
            slot.store(p, std::memory_order_release);                         \
        }                                                                     \
        return framework::ProcAs<RET(WSAAPI*) PARAMS>(p) ARGS;                \
    }

namespace Winsock {
VA_WINSOCK_ENTRY(LoadWinsockProc, int, WSAStartup, (WORD wVersionRequested, LPWSADATA lpWSAData),
                 (wVersionRequested, lpWSAData))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, WSACleanup, (), ())
VA_WINSOCK_ENTRY(LoadWinsockProc, void, WSASetLastError, (int iError), (iError))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, WSAGetLastError, (), ())
VA_WINSOCK_ENTRY(LoadWinsockProc, int, WSACancelAsyncRequest, (HANDLE hAsyncTaskHandle), (hAsyncTaskHandle))
VA_WINSOCK_ENTRY(LoadWinsockProc, HANDLE, WSAAsyncGetHostByName,
                 (HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen), (hWnd, wMsg, name, buf, buflen))
VA_WINSOCK_ENTRY(LoadWinsockProc, HANDLE, WSAAsyncGetHostByAddr,
                 (HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf, int buflen),
                 (hWnd, wMsg, addr, len, type, buf, buflen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, WSAAsyncSelect, (SOCKET s, HWND hWnd, u_int wMsg, long lEvent),
                 (s, hWnd, wMsg, lEvent))
VA_WINSOCK_ENTRY(LoadWinsockProc, servent*, getservbyname, (const char* name, const char* proto), (name, proto))
VA_WINSOCK_ENTRY(LoadWinsockProc, protoent*, getprotobyname, (const char* name), (name))
VA_WINSOCK_ENTRY(LoadWinsockProc, hostent*, gethostbyname, (const char* name), (name))
VA_WINSOCK_ENTRY(LoadWinsockProc, hostent*, gethostbyaddr, (const char* addr, int len, int type), (addr, len, type))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, gethostname, (char* name, int namelen), (name, namelen))
VA_WINSOCK_ENTRY(LoadWinsockProc, SOCKET, socket, (int af, int type, int protocol), (af, type, protocol))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, shutdown, (SOCKET s, int how), (s, how))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, setsockopt, (SOCKET s, int level, int optname, const char* optval, int optlen),
                 (s, level, optname, optval, optlen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, getsockopt, (SOCKET s, int level, int optname, char* optval, int* optlen),
                 (s, level, optname, optval, optlen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, sendto,
                 (SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen),
                 (s, buf, len, flags, to, tolen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, send, (SOCKET s, const char* buf, int len, int flags), (s, buf, len, flags))
VA_WINSOCK_ENTRY(LoadWinsockProc, u_short, ntohs, (u_short netshort), (netshort))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, listen, (SOCKET s, int backlog), (s, backlog))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, ioctlsocket, (SOCKET s, long cmd, u_long* argp), (s, cmd, argp))
VA_WINSOCK_ENTRY(LoadWinsockProc, char*, inet_ntoa, (in_addr in), (in))
VA_WINSOCK_ENTRY(LoadWinsockProc, unsigned long, inet_addr, (const char* cp), (cp))
VA_WINSOCK_ENTRY(LoadWinsockProc, u_short, htons, (u_short hostshort), (hostshort))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, getsockname, (SOCKET s, sockaddr* name, int* namelen), (s, name, namelen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, getpeername, (SOCKET s, sockaddr* name, int* namelen), (s, name, namelen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, connect, (SOCKET s, const sockaddr* name, int namelen), (s, name, namelen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, closesocket, (SOCKET s), (s))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, bind, (SOCKET s, const sockaddr* name, int namelen), (s, name, namelen))
VA_WINSOCK_ENTRY(LoadWinsockProc, SOCKET, accept, (SOCKET s, sockaddr* addr, int* addrlen), (s, addr, addrlen))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, recv, (SOCKET s, char* buf, int len, int flags), (s, buf, len, flags))
VA_WINSOCK_ENTRY(LoadWinsockProc, int, recvfrom, (SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen),
                 (s, buf, len, flags, from, fromlen))
VA_WINSOCK_ENTRY(LoadWinsock2Proc, int, WSAIoctl,
                 (SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer, LPVOID lpvOutBuffer,
                  DWORD cbOutBuffer, LPDWORD lpcbBytesReturned, LPWSAOVERLAPPED lpOverlapped,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine),
                 (s, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer, cbOutBuffer, lpcbBytesReturned,
                  lpOverlapped, lpCompletionRoutine))
VA_WINSOCK_ENTRY(LoadWinsockIPv6Proc, int, getaddrinfo,
                 (const char* nodename, const char* servname, const addrinfo* hints, addrinfo** res),
                 (nodename, servname, hints, res))
VA_WINSOCK_ENTRY(LoadWinsockIPv6Proc, void, freeaddrinfo, (addrinfo* ai), (ai))
VA_WINSOCK_ENTRY(LoadWinsockIPv6Proc, int, getnameinfo,
                 (const sockaddr* sa, socklen_t salen, char* host, DWORD hostlen, char* serv, DWORD servlen, int flags),
                 (sa, salen, host, hostlen, serv, servlen, flags))
}  // namespace Winsock
