// The URL splitter as a table of URLs and their six parts, the relative forms against a
// base path, relative references resolved as a relocation's are, and the N-th occurrence
// search.
#include <gtest/gtest.h>

#include <utility>

#include "net/InetUrl.h"

namespace {

struct UrlCase {
    const char* url;
    const char* proto;
    const char* user;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
};

const UrlCase kUrls[] = {
    // url                                    proto     user  pass  host           port    path
    {"https://u:p@example.org:8443/a/b?c=d#e", "https", "u", "p", "example.org", "8443", "/a/b?c=d#e"},
    {"http://example.org", "http", "", "", "example.org", "", ""},
    {"http://example.org/", "http", "", "", "example.org", "", "/"},
    {"HTTP://Example.ORG/Path", "http", "", "", "Example.ORG", "", "/Path"},
    {"http://[::1]:8080/x", "http", "", "", "::1", "8080", "/x"},
    {"http://[fe80::1%25eth0]/", "http", "", "", "fe80::1%25eth0", "", "/"},
    {"http://[::1]", "http", "", "", "::1", "", ""},
    {"http://u:p@[::1]:81/x", "http", "u", "p", "::1", "81", "/x"},
    {"http://u@[2001:db8::2]/x", "http", "u", "", "2001:db8::2", "", "/x"},
    {"example.org/index.html", "", "", "", "example.org", "", "/index.html"},
    {"example.org:81", "", "", "", "example.org", "81", ""},
    {"example.org?q=1/2", "", "", "", "example.org", "", "?q=1/2"},
    {"http://example.org?q", "http", "", "", "example.org", "", "?q"},
    {"user@example.org", "", "user", "", "example.org", "", ""},
    {"http://user:pa:ss@host/", "http", "user", "pa:ss", "host", "", "/"},
    {"http://a@b@host:1/", "http", "a@b", "", "host", "1", "/"},
    {"http://user:pw@host", "http", "user", "pw", "host", "", ""},
    {"http://user:@host:", "http", "user", "", "host", "", ""},
    {"socks5://proxy:1080", "socks5", "", "", "proxy", "1080", ""},
    {"svn+ssh://h/r", "svn+ssh", "", "", "h", "", "/r"},
    // Text before "://" that is no scheme: the whole URL is authority and path.
    {"host/p?u=http://x", "http", "", "", "host", "", "/p?u=http://x"},
    {"/", "http", "", "", "", "", "/"},
    {"/a/b?c", "http", "", "", "", "", "/a/b?c"},
    {"//host:9/x", "http", "", "", "host", "9", "/x"},
    {"http:/abs/path", "http", "", "", "", "", "/abs/path"},
    {"HTTP:host", "http", "", "", "", "", "host"},
    {"http:", "http", "", "", "", "", ""},
    {"mailto:someone@example.org", "mailto", "someone", "", "example.org", "", ""},
    {"MailTo:a:b@c", "mailto", "a", "b", "c", "", ""},
    {"%41:%42@h%43:%44/%45", "", "%41", "%42", "h%43", "%44", "/%45"},
};

void Split(const std::string& url, std::string (&parts)[6], const std::string& base = "") {
    std::string& path = parts[5];
    path = base;
    SplitUrl(url, parts[0], parts[1], path, parts[4], parts[3], parts[2]);
}

}  // namespace

TEST(SplitUrl, Table) {
    for (const auto& c : kUrls) {
        std::string p[6];
        Split(c.url, p, "/ignored/base");
        EXPECT_EQ(p[0], c.proto) << c.url;
        EXPECT_EQ(p[1], c.user) << c.url;
        EXPECT_EQ(p[2], c.password) << c.url;
        EXPECT_EQ(p[3], c.host) << c.url;
        EXPECT_EQ(p[4], c.port) << c.url;
        EXPECT_EQ(p[5], c.path) << c.url;
    }
}

TEST(SplitUrl, OutputsAreClearedFirst) {
    std::string proto = "x", user = "x", path = "x", port = "x", host = "x", password = "x";
    SplitUrl("", proto, user, path, port, host, password);
    for (const std::string* s : {&proto, &user, &path, &port, &host, &password}) EXPECT_EQ(*s, "");
    proto = user = port = host = password = "x";
    path = "/a/b.html";
    SplitUrl("./c", proto, user, path, port, host, password);
    EXPECT_EQ(path, "/a/c");
    for (const std::string* s : {&proto, &user, &port, &host, &password}) EXPECT_EQ(*s, "");
}

TEST(SplitUrl, RelativeFormsAgainstTheEntryPath) {
    struct Case {
        const char* base;
        const char* url;
        const char* path;
    } cases[] = {
        {"/a/b.html", "./c.html", "/a/c.html"},
        {"/a/b/", "./", "/a/b/"},
        {"noslash", "./x", "/x"},
        {"", "./x", "/x"},
        {"/a/b/d.html", "../x", "/a/x"},
        {"/a/b/d.html", "../../x", "/x"},
        {"/a/b/d.html", "../../../../x", "/x"},
        {"/a/b/d.html?q=/z/", "../x", "/a/x"},  // a query is no part of the base
        {"/a/b?q=/z/#f/g", "./x", "/a/x"},
        {"/", "../x", "/x"},
        {"/a/b/d.html", "../", "/a/"},
        {"/a/b/d.html", "..//x", "/a//x"},
    };
    for (const auto& c : cases) {
        std::string p[6];
        Split(c.url, p, c.base);
        EXPECT_EQ(p[5], c.path) << c.base << " + " << c.url;
        EXPECT_EQ(p[0], "") << c.url;
    }
}

// The URL may be the caller's own path variable.
TEST(SplitUrl, UrlAndPathMayBeOneString) {
    std::string proto, user, port, host, password;
    std::string s = "http://h/p";
    SplitUrl(s, proto, user, s, port, host, password);
    EXPECT_EQ(host, "h");
    EXPECT_EQ(s, "/p");
}

TEST(PosN, CountsFromEitherEnd) {
    struct Case {
        const char* sub;
        const char* s;
        int n;
        size_t pos;
    } cases[] = {
        {"/", "/a/b/c", 1, 1}, {"/", "/a/b/c", 2, 3}, {"/", "/a/b/c", 3, 5}, {"/", "/a/b/c", 4, 0},
        {"/", "/a/b/c", -1, 5}, {"/", "/a/b/c", -3, 1}, {"/", "/a/b/c", -4, 0}, {"/", "/a/b/c", 0, 0},
        {"aa", "aaaa", 2, 2}, {"aa", "aaaa", -1, 3}, {"aa", "aaaa", -3, 1}, {"aa", "aaaa", 4, 0},
        {"", "abc", 1, 0}, {"abcd", "abc", 1, 0}, {"x", "", -1, 0}, {"ab", "ab", -1, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(PosN(c.sub, c.s, c.n), c.pos) << c.sub << " in " << c.s << " #" << c.n;
}

// A relocation's relative reference against the request's path and query: the examples of
// the URI standard for a base of /b/c/d;p?q, and the forms servers send.
TEST(ResolveRelativePath, AgainstTheRequestsPathAndQuery) {
    const std::pair<const char*, const char*> cases[] = {
        {"g", "/b/c/g"},          {"./g", "/b/c/g"},        {"g/", "/b/c/g/"},      {"/g", "/g"},
        {"?y", "/b/c/d;p?y"},     {"g?y", "/b/c/g?y"},      {"#s", "/b/c/d;p?q"},   {"g#s", "/b/c/g"},
        {";x", "/b/c/;x"},        {"", "/b/c/d;p?q"},       {".", "/b/c/"},         {"./", "/b/c/"},
        {"..", "/b/"},            {"../", "/b/"},           {"../g", "/b/g"},       {"../..", "/"},
        {"../../g", "/g"},        {"../../../g", "/g"},     {"/./g", "/g"},         {"/../g", "/g"},
        {"g.", "/b/c/g."},        {".g", "/b/c/.g"},        {"g..", "/b/c/g.."},    {"..g", "/b/c/..g"},
        {"./../g", "/b/g"},       {"./g/.", "/b/c/g/"},     {"g/./h", "/b/c/g/h"},  {"g/../h", "/b/c/h"},
        {"g?y/./x", "/b/c/g?y/./x"}, {"/a/./b/../z", "/a/z"},
    };
    for (const auto& [ref, want] : cases) EXPECT_EQ(ResolveRelativePath("/b/c/d;p?q", ref), want) << ref;
    EXPECT_EQ(ResolveRelativePath("/a/b/c?old=1", "?q=1"), "/a/b/c?q=1");
}
