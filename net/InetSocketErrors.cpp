#include "net/InetSocketErrors.h"

#include "net/InetWinsock.h"

namespace {

const char* const kSocks[] = {"No Error",
                              "Protocol Error",
                              "Version Error",
                              "Authentication Method Error",
                              "General Failure",
                              "Connection Not Allowed",
                              "Network Unreachable",
                              "Host Unreachable",
                              "Connection Refused",
                              "TTL Expired",
                              "Unknown Command",
                              "Unknown Address Type",
                              "Unassigned Error",
                              "Internal Error",
                              "Data Receive Error",
                              "Authentication Failed",
                              "Rejected Or Failed",
                              "Host Resolution Failed"};

struct Status {
    int code;
    const char* text;
};
const Status kStatus[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {102, "Processing"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {207, "Multi-Status (WebDAV)"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {306, "Switch Proxy"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {418, "I'm a teapot"},
    {422, "Unprocessable Entity (WebDAV)"},
    {423, "Locked (WebDAV)"},
    {424, "Failed Dependency (WebDAV)"},
    {425, "Unordered Collection"},
    {426, "Upgrade Required"},
    {444, "No Response"},
    {449, "Retry With"},
    {450, "Blocked by Windows Parental Controls"},
    {499, "Client Closed Request"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {506, "Variant Also Negotiates"},
    {507, "Insufficient Storage (WebDAV)"},
    {509, "Bandwidth Limit Exceeded"},
    {510, "Not Extended"},
};

bool IsSocksCode(int Code) { return Code >= 20000 && Code <= 20017; }
bool IsTunnelCode(int Code) { return Code >= 21000 && Code <= 21599; }

}  // namespace

std::string SocketErrorText(int Code) {
    const char* t = WinsockErrorTableText(Code);
    return t ? t : "Not a Winsocket error";
}

std::string SocketErrorTextWithCode(int Code) { return SocketErrorText(Code) + " (#" + std::to_string(Code) + ")"; }

std::string SocksErrorText(int Code) { return IsSocksCode(Code) ? kSocks[Code - 20000] : "Not a SOCKS error"; }

std::string HttpStatusText(int Status) {
    for (const auto& s : kStatus)
        if (s.code == Status) return s.text;
    if (Status >= 100 && Status <= 599) return "HTTP status code " + std::to_string(Status);
    return "Not a HTTP status code";
}

std::string HttpTunnelErrorText(int Code) {
    switch (Code) {
        case 21000: return "Protocol Error";
        case 21001: return "General Failure";
        case 21002: return "Proxy server must support HTTP/1.1";
        case 21200: return "No Error";
        default: break;
    }
    if (Code >= 21100 && Code <= 21599) return HttpStatusText(Code - 21000);
    return "Not a HTTP tunnel error";
}

std::string ProxyErrorText(int Code) {
    if (IsTunnelCode(Code)) return "HTTP Proxy - " + HttpTunnelErrorText(Code);
    if (IsSocksCode(Code)) return "SOCKS - " + SocksErrorText(Code);
    return "Not a proxy error";
}

bool IsProxyError(int Code) { return IsSocksCode(Code) || IsTunnelCode(Code); }

std::string NetSocketErrorText(int Code) {
    return IsProxyError(Code) ? ProxyErrorText(Code) : "Winsock - " + SocketErrorText(Code);
}
