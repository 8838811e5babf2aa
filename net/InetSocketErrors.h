// English texts of the error codes the socket layers report: socket library codes, SOCKS
// proxy codes (20000-20017), HTTP-tunnel proxy codes (21000-21599, the proxy's HTTP status
// plus 21000 from 21100 on) and HTTP reason phrases. Pure functions.
#pragma once

#include <string>

// The socket error text; "Not a Winsocket error" outside the table.
std::string SocketErrorText(int Code);
// The text and " (#<code>)".
std::string SocketErrorTextWithCode(int Code);
std::string SocksErrorText(int Code);
// Reason phrase of an HTTP status: "HTTP status code <n>" for other statuses of 100-599,
// "Not a HTTP status code" outside.
std::string HttpStatusText(int Status);
std::string HttpTunnelErrorText(int Code);
// "HTTP Proxy - ..." or "SOCKS - ..." for proxy codes, else "Not a proxy error".
std::string ProxyErrorText(int Code);
bool IsProxyError(int Code);
// The proxy text of a proxy code, else "Winsock - " and the socket text.
std::string NetSocketErrorText(int Code);
