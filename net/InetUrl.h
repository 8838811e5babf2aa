// Cutting a URL into protocol, user, password, host, port and path, without decoding or
// normalising anything; and the relative forms "./" and "../" resolved against a base path.
// The HTTP client uses it for request URLs, proxies, relocation targets and the Digest uri.
#pragma once

#include <string>

// Every output is cleared first; Path's value on entry is the base that "./" and "../"
// URLs are resolved against (only Path is set for them). Proto is the only part changed in
// case; no default port is supplied and no escape is decoded. A bracketed IPv6 host is
// returned without its brackets.
//   "https://u:p@host:8443/a?b"  -> https, u, p, host, 8443, /a?b
//   "host/x"                     -> no protocol, host, /x
//   "mailto:me@example.org"      -> mailto, me, host example.org
void SplitUrl(std::string Url, std::string& Proto, std::string& User, std::string& Path, std::string& Port,
              std::string& Host, std::string& Password);

// The dot segments "." and ".." of a path removed, as a reference is resolved: "/a/./b/../z"
// gives "/a/z"; ".." above the root stays at the root.
std::string RemoveDotSegments(const std::string& Path);

// A relative reference (no scheme, no "//" authority; a fragment is dropped) resolved
// against the path and query of the URL it came from: "?q=1" keeps Base's path, "/x" replaces
// it, anything else is merged with Base's directory; dot segments go in every case.
//   Base "/a/b/c?old=1": "?q=1" -> "/a/b/c?q=1", "../f" -> "/a/f", "" -> "/a/b/c?old=1"
std::string ResolveRelativePath(const std::string& Base, const std::string& Reference);

// 1-based position of the N-th occurrence of Sub in S, counted from the start for N > 0
// and from the end for N < 0 (occurrences may overlap); 0 when S holds fewer, and for N = 0
// or an empty Sub.
size_t PosN(const std::string& Sub, const std::string& S, int N);
