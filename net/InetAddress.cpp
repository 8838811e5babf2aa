#include "net/InetAddress.h"

#include <cstring>

#include "net/InetSocketErrors.h"
#include "net/InetUtils.h"
#include "net/InetWinsock.h"

bool IsDigit(char Ch) { return Ch >= '0' && Ch <= '9'; }

bool IsDottedIPv4(const std::string& Text) {
    size_t i = 0;
    while (i < Text.size() && Text[i] == ' ') ++i;
    if (i < Text.size() && Text[i] == '.') return false;
    int dots = 0, part = 0;
    bool digits = false;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        if (IsDigit(c)) {
            part = part * 10 + (c - '0');
            if (part > 255) return false;
            digits = true;
        } else if (c == '.') {
            if (i + 1 >= Text.size() || !IsDigit(Text[i + 1])) return false;
            ++dots;
            part = 0;
        } else {
            for (; i < Text.size(); ++i)
                if (Text[i] != ' ') return false;
            break;
        }
    }
    return digits && dots == 3;
}

bool IsIPv4Strict(const std::string& Text) {
    int dots = 0, part = 0;
    bool inPart = false;
    for (char c : Text) {
        if (IsDigit(c)) {
            part = part * 10 + (c - '0');
            if (part > 255) return false;
            inPart = true;
        } else if (c == '.') {
            if (!inPart) return false;
            ++dots;
            part = 0;
            inPart = false;
        } else {
            return false;
        }
    }
    return dots == 3;
}

uint32_t ParseIPv4(const std::string& Text, bool& Ok) {
    Ok = false;
    if (Text.size() <= 5) return 0xFFFFFFFFu;
    uint32_t result = 0;
    int part = 0, dots = 0;
    bool inPart = false;
    for (char c : Text) {
        if (IsDigit(c)) {
            part = part * 10 + (c - '0');
            if (part > 255) return 0xFFFFFFFFu;
            inPart = true;
        } else if (c == '.') {
            if (!inPart || ++dots > 3) return 0xFFFFFFFFu;
            result |= uint32_t(part) << (8 * (dots - 1));
            part = 0;
            inPart = false;
        } else {
            return 0xFFFFFFFFu;
        }
    }
    if (dots != 3 || !inPart) return 0xFFFFFFFFu;
    result |= uint32_t(part) << 24;
    Ok = true;
    return result;
}

std::string IPv4ToText(uint32_t Addr) {
    return std::to_string(Addr & 0xFF) + "." + std::to_string((Addr >> 8) & 0xFF) + "." +
           std::to_string((Addr >> 16) & 0xFF) + "." + std::to_string(Addr >> 24);
}

namespace {

// Groups of "a:b:c" (possibly empty text); false for an empty group, a non-hex character or
// a group above 0xFFFF.
bool ParseGroups(const std::string& Text, uint16_t* Groups, int& Count) {
    Count = 0;
    if (Text.empty()) return true;
    size_t start = 0;
    for (;;) {
        const size_t end = Text.find(':', start);
        const std::string g = Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (g.empty() || g.size() > 4 || Count >= 8) return false;
        uint32_t v = 0;
        for (char c : g) {
            if (!InetIsHexDigit(c)) return false;
            v = v * 16 + uint32_t(InetHexDigitValue(c));
        }
        Groups[Count++] = uint16_t(v);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

}  // namespace

bool ParseIPv6(const std::string& Text, in6_addr& Bytes, uint32_t& ScopeId) {
    std::memset(&Bytes, 0, sizeof(Bytes));
    ScopeId = 0;
    if (Text.empty() || Text.size() > 39) return false;
    std::string addr = Text;
    const size_t pct = Text.find('%');
    if (pct != std::string::npos) {
        addr = Text.substr(0, pct);
        uint64_t scope = 0;
        for (size_t i = pct + 1; i < Text.size(); ++i) {
            if (!IsDigit(Text[i])) return false;  // also a second '%'
            scope = scope * 10 + uint64_t(Text[i] - '0');
            if (scope > 0xFFFFFFFFu) return false;
        }
        ScopeId = uint32_t(scope);
    }
    uint16_t head[8], tail[8];
    int nHead = 0, nTail = 0;
    const size_t dc = addr.find("::");
    if (dc == std::string::npos) {
        if (!ParseGroups(addr, head, nHead) || nHead != 8) return false;
    } else {
        if (addr.find("::", dc + 1) != std::string::npos) return false;
        if (!ParseGroups(addr.substr(0, dc), head, nHead) || !ParseGroups(addr.substr(dc + 2), tail, nTail))
            return false;
        if (nHead + nTail > 7) return false;  // "::" stands for at least one zero group
    }
    uint16_t groups[8] = {};
    for (int i = 0; i < nHead; ++i) groups[i] = head[i];
    for (int i = 0; i < nTail; ++i) groups[8 - nTail + i] = tail[i];
    for (int i = 0; i < 8; ++i) {
        Bytes.s6_addr[2 * i] = uint8_t(groups[i] >> 8);
        Bytes.s6_addr[2 * i + 1] = uint8_t(groups[i]);
    }
    return true;
}

std::string IPv6ToText(const in6_addr& Bytes) {
    uint16_t g[8];
    for (int i = 0; i < 8; ++i) g[i] = uint16_t(Bytes.s6_addr[2 * i] << 8 | Bytes.s6_addr[2 * i + 1]);
    int runStart = -1, runLen = 0;
    for (int i = 0; i < 8;) {
        if (g[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && g[j] == 0) ++j;
        if (j - i > runLen) {
            runStart = i;
            runLen = j - i;
        }
        i = j;
    }
    char hex[8];
    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (runStart >= 0 && i >= runStart && i < runStart + runLen) {
            if (i == runStart) out += out.empty() ? "::" : ":";
            continue;
        }
        snprintf(hex, sizeof(hex), "%x", g[i]);
        out += hex;
        if (i < 7) out += ":";
    }
    return out;
}

std::string SockAddr6ToText(const TSockAddrIn6& Record) {
    std::string s = IPv6ToText(Record.sin6_addr);
    if (Record.sin6_scope_id != 0) s += "%" + std::to_string(Record.sin6_scope_id);
    return s;
}

bool IPLiteralKind(const std::string& Text, TSocketFamily& Kind) {
    in6_addr a;
    uint32_t scope;
    if (IsIPv4Strict(Text))
        Kind = sfIPv4;
    else if (ParseIPv6(Text, a, scope))
        Kind = sfIPv6;
    else {
        Kind = TSocketFamily(0);
        return false;
    }
    return true;
}

void InitSockAddr(TSockAddrIn6& Record, TSocketFamily Family) {
    std::memset(&Record, 0, sizeof(Record));
    Record.sin6_family = Family == sfIPv6 ? AF_INET6 : AF_INET;
}

int SockAddrLen(const TSockAddrIn6& Record) {
    return Record.sin6_family == AF_INET6 ? int(sizeof(sockaddr_in6)) : int(sizeof(sockaddr_in));
}

uint32_t WinsockResolveIPv4(const std::string& Text) {
    if (Text.empty()) throw ESocketException("Winsock Resolve Host: '" + Text + "' Invalid Hostname.");
    if (IsDottedIPv4(Text)) {
        const unsigned long a = Winsock::inet_addr(InetTrimBlanks(Text).c_str());
        if (a == INADDR_NONE && InetTrimBlanks(Text) != "255.255.255.255")
            throw ESocketException("Winsock Resolve Host: '" + Text + "' Invalid IP address.");
        return uint32_t(a);
    }
    hostent* h = Winsock::gethostbyname(Text.c_str());
    if (!h || !h->h_addr_list || !h->h_addr_list[0] || h->h_length < 4)
        throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + Text + "' - " +
                               SocketErrorTextWithCode(WinsockGetLastError()));
    uint32_t a;
    std::memcpy(&a, h->h_addr_list[0], 4);
    return a;
}

void WinsockResolveHost(const std::string& Text, TSockAddrIn6& Target, TSocketFamily Family, int Protocol) {
    if (Text.empty()) throw ESocketException("NetSocket Resolve Host: Invalid Hostname");
    if (Family != sfIPv6 && IsIPv4Strict(Text)) {
        bool ok;
        uint32_t a = ParseIPv4(Text, ok);
        if (!ok) {
            if (Text != "255.255.255.255")
                throw ESocketException("Winsock Resolve Host: '" + Text + "' Invalid IP address.");
            a = 0xFFFFFFFFu;
        }
        const uint16_t port = Target.sin6_port;
        std::memset(&Target, 0, sizeof(Target));
        auto* v4 = reinterpret_cast<sockaddr_in*>(&Target);
        v4->sin_family = AF_INET;
        v4->sin_port = port;
        v4->sin_addr.s_addr = a;
        return;
    }
    addrinfo hints{};
    hints.ai_family = Family == sfIPv4 ? AF_INET : Family == sfIPv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_protocol = Protocol;
    addrinfo* res = nullptr;
    const int rc = Winsock::getaddrinfo(Text.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + Text + "' - " +
                               SocketErrorTextWithCode(rc));
    const TUniqueAddrInfo owned(res);
    const addrinfo* taken = nullptr;
    const addrinfo* first = nullptr;
    for (const addrinfo* p = res; p && !taken; p = p->ai_next) {
        if (p->ai_family == AF_INET && (Family == sfAny || Family == sfAnyIPv4 || Family == sfIPv4))
            taken = p;
        else if (p->ai_family == AF_INET6 && (Family == sfAny || Family == sfAnyIPv6 || Family == sfIPv6))
            taken = p;
        else if (!first && (p->ai_family == AF_INET || p->ai_family == AF_INET6))
            first = p;
    }
    if (!taken && (Family == sfAnyIPv4 || Family == sfAnyIPv6)) taken = first;
    if (!taken) throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + Text + "'");
    const uint16_t port = Target.sin6_port;
    std::memset(&Target, 0, sizeof(Target));
    if (taken->ai_family == AF_INET6) {
        std::memcpy(&Target, taken->ai_addr, sizeof(sockaddr_in6));
    } else {
        std::memcpy(&Target, taken->ai_addr, sizeof(sockaddr_in));
    }
    Target.sin6_port = port;
}

uint16_t WinsockResolvePort(const std::string& Port, const std::string& Proto) {
    if (Port.empty()) throw ESocketException("Winsock Resolve Port: Invalid Port.");
    if (Proto.empty()) throw ESocketException("Winsock Resolve Port: Invalid Proto.");
    if (IsDigit(Port[0])) {
        uint32_t v = 0;
        for (size_t i = 0; i < Port.size() && IsDigit(Port[i]); ++i) {
            v = v * 10 + uint32_t(Port[i] - '0');
            if (v > 65535) throw ESocketException("Winsock Resolve Port: Port '" + Port + "' out of range.");
        }
        return uint16_t(v);
    }
    servent* s = Winsock::getservbyname(Port.c_str(), Proto.c_str());
    if (!s)
        throw ESocketException("Winsock Resolve Port: Cannot convert port '" + Port + "' - " +
                               SocketErrorTextWithCode(WinsockGetLastError()));
    return Winsock::ntohs(u_short(s->s_port));
}

int WinsockResolveProto(const std::string& Proto) {
    if (Proto.empty()) throw ESocketException("Winsock Resolve Proto: Invalid Protocol.");
    if (IsDigit(Proto[0])) return int(InetParseDecimal(Proto.c_str()));
    const std::string p = InetAsciiLower(InetTrimBlanks(Proto));
    if (p == "tcp") return IPPROTO_TCP;
    if (p == "udp") return IPPROTO_UDP;
    if (p == "raw") return IPPROTO_RAW;
    protoent* e = Winsock::getprotobyname(p.c_str());
    if (!e)
        throw ESocketException("Winsock Resolve Proto: Cannot convert protocol '" + p + "' - " +
                               SocketErrorTextWithCode(WinsockGetLastError()));
    return e->p_proto;
}

std::string NetSocketHostName() {
    const std::string name = WinsockGetHostName();
    if (name.empty()) throw ESocketException("Winsock Get Host Name failed");
    return name;
}

int ProcessorCount() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors > 0 ? int(si.dwNumberOfProcessors) : 1;
}
