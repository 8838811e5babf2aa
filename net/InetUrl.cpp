#include "net/InetUrl.h"

#include <cctype>

#include "net/InetUtils.h"

namespace {

// The entry path up to and including its last "/", or "/" when it has none. A query is no
// part of the base: "/a/b?x=/y/" resolves "./c" against "/a/", not inside the query.
std::string BaseOf(std::string path) {
    path = path.substr(0, path.find_first_of("?#"));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "/" : path.substr(0, slash + 1);
}

bool IsSchemeText(const std::string& s) {
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) return false;
    return true;
}

void SplitUserPart(const std::string& part, std::string& user, std::string& password) {
    size_t colon = part.find(':');
    if (colon == std::string::npos) {
        user = part;
    } else {
        user = part.substr(0, colon);
        password = part.substr(colon + 1);
    }
}

}  // namespace

void SplitUrl(std::string Url, std::string& Proto, std::string& User, std::string& Path, std::string& Port,
              std::string& Host, std::string& Password) {
    const std::string entryPath = Path;
    Proto.clear();
    User.clear();
    Path.clear();
    Port.clear();
    Host.clear();
    Password.clear();
    if (Url.empty()) return;

    if (Url.compare(0, 2, "./") == 0) {
        Path = BaseOf(entryPath) + Url.substr(2);
        return;
    }
    if (Url.compare(0, 3, "../") == 0) {
        std::string base = BaseOf(entryPath);
        std::string rest = Url.substr(3);
        for (;;) {
            base.pop_back();  // the trailing "/"
            size_t slash = base.rfind('/');
            base = slash == std::string::npos ? "/" : base.substr(0, slash + 1);
            if (rest.compare(0, 3, "../") != 0) break;
            rest.erase(0, 3);
        }
        Path = base + rest;
        return;
    }

    // What follows the scheme: authority, then path.
    std::string rest;
    const size_t sep = Url.find("://");
    if (sep != std::string::npos) {
        std::string scheme = InetAsciiLower(Url.substr(0, sep));
        if (IsSchemeText(scheme)) {
            Proto = scheme;
            rest = Url.substr(sep + 3);
        } else {
            Proto = "http";
            rest = Url;
        }
    } else if (Url[0] == '/') {
        Proto = "http";
        if (Url.size() < 2 || Url[1] != '/') {
            Path = Url;
            return;
        }
        rest = Url.substr(2);
    } else if (InetStartsText(Url, "http:")) {
        Proto = "http";
        if (Url.size() > 6 && Url[6] != '/') {
            Path = Url.substr(5);
            return;
        }
        rest = Url.size() > 6 ? Url.substr(6) : std::string();
    } else if (InetStartsText(Url, "mailto:")) {
        Proto = "mailto";
        rest = Url.substr(Url.find(':') + 1);
    } else {
        rest = Url;
    }

    size_t pathAt = rest.find('/');
    const size_t query = rest.find('?');
    if (query < pathAt) pathAt = query;
    std::string authority;
    if (pathAt == std::string::npos) {
        authority = rest;
    } else {
        authority = rest.substr(0, pathAt);
        Path = rest.substr(pathAt);
    }

    bool hostSet = false;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']', 1);
        if (close != std::string::npos) {
            Host = authority.substr(1, close - 1);
            hostSet = true;
            authority.erase(0, close + 1);
        }
    }

    const size_t at = authority.rfind('@');
    // A bracketed IPv6 host after the user part: its colons are no port separators.
    if (!hostSet && at != std::string::npos && at + 1 < authority.size() && authority[at + 1] == '[') {
        size_t close = authority.find(']', at + 2);
        if (close != std::string::npos) {
            Host = authority.substr(at + 2, close - at - 2);
            if (close + 1 < authority.size() && authority[close + 1] == ':') Port = authority.substr(close + 2);
            SplitUserPart(authority.substr(0, at), User, Password);
            return;
        }
    }

    const size_t colon = authority.rfind(':');
    if (colon == std::string::npos && at == std::string::npos) {
        if (!hostSet) Host = authority;
        return;
    }
    if (colon != std::string::npos && (at == std::string::npos || at < colon)) {
        Port = authority.substr(colon + 1);
        if (at == std::string::npos) {
            if (!hostSet) Host = authority.substr(0, colon);
            return;
        }
        if (!hostSet) Host = authority.substr(at + 1, colon - at - 1);
    } else if (!hostSet) {
        Host = authority.substr(at + 1);
    }
    SplitUserPart(authority.substr(0, at), User, Password);
}

std::string RemoveDotSegments(const std::string& Path) {
    std::string in = Path, out;
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0) {
            in.erase(0, 3);
        } else if (in.compare(0, 2, "./") == 0) {
            in.erase(0, 2);
        } else if (in.compare(0, 3, "/./") == 0) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
            in = in.size() == 3 ? std::string("/") : in.substr(3);
            const size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            // The first segment, with its leading "/", moves to the output.
            const size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

std::string ResolveRelativePath(const std::string& Base, const std::string& Reference) {
    const std::string base = Base.substr(0, Base.find('#'));
    const size_t baseQuery = base.find('?');
    const std::string basePath = base.substr(0, baseQuery);
    const std::string ref = Reference.substr(0, Reference.find('#'));
    if (ref.empty()) return base;
    if (ref[0] == '?') return basePath + ref;
    const size_t query = ref.find('?');
    const std::string path = ref.substr(0, query);
    const std::string rest = query == std::string::npos ? std::string() : ref.substr(query);
    if (path[0] == '/') return RemoveDotSegments(path) + rest;
    // Merged with the base's directory: up to and including its last "/".
    const size_t slash = basePath.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string("/") : basePath.substr(0, slash + 1);
    return RemoveDotSegments(dir + path) + rest;
}

size_t PosN(const std::string& Sub, const std::string& S, int N) {
    if (N == 0 || Sub.empty() || Sub.size() > S.size()) return 0;
    if (N > 0) {
        size_t p = std::string::npos;
        for (size_t from = 0; N > 0; --N, from = p + 1) {
            p = S.find(Sub, from);
            if (p == std::string::npos) return 0;
        }
        return p + 1;
    }
    size_t p = S.size() - Sub.size() + 1;  // one past the last possible start
    for (; N < 0; ++N) {
        if (p == 0) return 0;
        p = S.rfind(Sub, p - 1);
        if (p == std::string::npos) return 0;
    }
    return p + 1;
}
