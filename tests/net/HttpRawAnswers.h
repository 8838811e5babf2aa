// Server answers as they go over the wire, good ones and broken ones, with what a reader
// must make of each: HttpFramingTest feeds them to the framing parsers directly,
// HttpClientTest has the http peer send them to the client byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/HttpClient.h"

namespace rawanswers {

using namespace std::string_literals;

struct RawAnswer {
    const char* name;
    std::string wire;
    // The framing parsers read the head and the body to its end (and then find Body).
    bool framed;
    // What the client ends with, its StatusCode (-1: not checked) and the document it
    // stores (nullptr: not checked; for a framed answer also what the parsers find).
    uint16_t err;
    int status;
    const char* body;
    // Relocations the client follows; the target of each is the peer's /echo, whose echo of
    // the request is then the document.
    int relocations = 0;
    // The client's peer sends the first split bytes on their own, the rest a moment later.
    size_t split = 0;
};

inline std::string Head(const std::string& StatusLine, const std::string& Fields) {
    return StatusLine + "\r\n" + Fields + "\r\n";
}

inline std::vector<RawAnswer> Answers() {
    const std::string ok = "HTTP/1.1 200 OK";
    const std::string len2 = "Content-Length: 2\r\n";
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    const std::string moved = "HTTP/1.1 302 Found";
    static const std::string testing = "This server reply is for testing";
    // What a relocation's body up to the close would pass for, read as the next answer.
    const std::string forged = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nforge";
    // A field line of exactly MaxHeaderLineLength bytes.
    const std::string longField = "X-Long: " + std::string(THttpClient::MaxHeaderLineLength - 8, 'a');
    return {
        // Sound answers at the edges of the grammar.
        {"length", Head(ok, len2) + "ok", true, 0, 200, "ok"},
        {"no reason phrase", Head("HTTP/1.1 200", len2) + "ok", true, 0, 200, "ok"},
        {"folded field", Head(ok, "X-Folded: a\r\n  b\r\n" + len2) + "ok", true, 0, 200, "ok"},
        {"chunk size with blanks and an extension", Head(ok, chunked) + "3 ;x=1\r\nabc\r\n0\r\n\r\n", true, 0, 200,
         "abc"},
        {"chunked in upper case among other fields", Head(ok, "Transfer-Encoding: Chunked\r\nX-A: 1\r\n") +
                                                          "2\r\nok\r\n0\r\n\r\n",
         true, 0, 200, "ok"},
        // NUL bytes in the head.
        {"NUL after the reason", Head(ok + "\0"s, len2) + "ok", false, httpErrBadResponse, -1, nullptr},
        {"NUL in Date", Head(ok, "Date: Tue, 01 Dec 2026 10:00:00 GMT\0\r\n"s + len2) + "ok", false,
         httpErrBadResponse, -1, nullptr},
        {"NUL in ETag", Head(ok, "ETag: \"v1\"\0\r\n"s + len2) + "ok", false, httpErrBadResponse, -1, nullptr},
        // Status lines outside the grammar.
        {"status code of 100 digits", Head("HTTP/1.1 " + std::string(100, '2') + " OK", len2) + "ok", false,
         httpErrBadResponse, -1, nullptr},
        {"minor version of 100 digits", Head("HTTP/1." + std::string(100, '1') + " 200 OK", len2) + "ok", false,
         httpErrBadResponse, -1, nullptr},
        {"status code of 4 digits", Head("HTTP/1.1 2000 OK", len2) + "ok", false, httpErrBadResponse, -1, nullptr},
        {"status code glued to the reason", Head("HTTP/1.1 200OK", len2) + "ok", false, httpErrBadResponse, -1,
         nullptr},
        {"no status line", Head("Server: x", len2) + "ok", false, httpErrBadResponse, -1, nullptr},
        // Lines of the head that are not field lines.
        {"field line without a colon", Head(ok, "Server test-server/fake\r\n" + len2) + "ok", false,
         httpErrBadResponse, -1, nullptr},
        {"blank inside the field name", Head(ok, "Content Length: 2\r\n" + len2) + "ok", false, httpErrBadResponse,
         -1, nullptr},
        {"folded line right after the status line", Head(ok, " X-A: 1\r\n" + len2) + "ok", false,
         httpErrBadResponse, -1, nullptr},
        // Relocations that are not followed.
        {"empty Location", Head(moved, "Location: \r\nConnection: close\r\nContent-Length: 5\r\n") + "moved", true,
         0, 302, "moved"},
        {"empty Location, body up to the close", Head(moved, "Connection: close\r\nLocation: \r\n") + testing, true,
         0, 302, testing.c_str()},
        {"empty Location, chunked body", Head(moved, "Location: \r\n" + chunked) + "20\r\n" + testing + "\r\n0\r\n\r\n",
         true, 0, 302, testing.c_str()},
        {"301 without Location, body up to the close", Head("HTTP/1.1 301 Moved", "Connection: close\r\n") + testing,
         true, 0, 301, testing.c_str()},
        {"Location to file:", Head(moved, "Location: file:///C:/x\r\nContent-Length: 5\r\n") + "moved", true,
         httpErrInsecureRelocation, 302, nullptr},
        {"Location to data:", Head(moved, "Location: data:text/plain,hi\r\nContent-Length: 5\r\n") + "moved", true,
         httpErrInsecureRelocation, 302, nullptr},
        // Relocations followed: an answer whose body ends at the close leaves a connection that
        // cannot carry the next request, however its body is framed or said to end.
        {"302 without a length, body with the head", Head(moved, "Location: /echo\r\n") + forged, true, 0, 200,
         nullptr, 1},
        {"302 without a length, body after the head", Head(moved, "Location: /echo\r\n") + forged, true, 0, 200,
         nullptr, 1, Head(moved, "Location: /echo\r\n").size()},
        {"301 with a coding that is not chunked", Head("HTTP/1.1 301 Moved", "Location: /echo\r\n"
                                                                             "Transfer-Encoding: gzip\r\n") + forged,
         false, 0, 200, nullptr, 1},
        {"Connection: Upgrade, close", Head(moved, "Location: /echo\r\nConnection: Upgrade, close\r\n" + len2) + "ok",
         true, 0, 200, nullptr, 1},
        {"Connection: TE, Close", Head(moved, "Location: /echo\r\nConnection: TE, Close\r\n" + len2) + "ok", true,
         0, 200, nullptr, 1},
        // A head cut by the close names nothing to follow, however far it got.
        {"head cut after Location", moved + "\r\nLocation: /echo\r\n", false, httpErrNoStatus, 302, nullptr},
        {"head cut after Location and one more field", moved + "\r\nLocation: /echo\r\nX-A: 1\r\n", false,
         httpErrNoStatus, 302, nullptr},
        // The line limit is on a line without its line end, whichever it is.
        {"field line at the limit, CR LF", Head(ok, longField + "\r\n" + len2) + "ok", true, 0, 200, "ok"},
        {"field line at the limit, LF", ok + "\n" + longField + "\nContent-Length: 2\n\nok", true, 0, 200, "ok"},
        {"field line over the limit, CR LF", Head(ok, longField + "a\r\n" + len2) + "ok", true, httpErrBadResponse,
         -1, nullptr},
        {"field line over the limit, LF", ok + "\n" + longField + "a\nContent-Length: 2\n\nok", true,
         httpErrBadResponse, -1, nullptr},
        // Content-Length lists.
        {"Content-Length 6,06,6", Head(ok, "Content-Length: 6,06,6\r\n") + "abcdef", true, 0, 200, "abcdef"},
        {"Content-Length 6,    6", Head(ok, "Content-Length: 6,    6\r\n") + "abcdef", true, 0, 200, "abcdef"},
        {"Content-Length 6, 7", Head(ok, "Content-Length: 6, 7\r\n") + "abcdefg", false, httpErrBadResponse, -1,
         nullptr},
        {"Content-Length 2 and 2,2 on two lines", Head(ok, len2 + "Content-Length: 2,2\r\n") + "ok", true, 0, 200,
         "ok"},
        {"Content-Length 2 and 2,3 on two lines", Head(ok, len2 + "Content-Length: 2,3\r\n") + "ok", false,
         httpErrBadResponse, -1, nullptr},
        // Transfer codings.
        {"unknown transfer coding", Head(ok, "Transfer-Encoding: identityx\r\nContent-Length: 6\r\n") + "abcdef",
         false, httpErrBadResponse, -1, nullptr},
        {"chunked before another coding", Head(ok, "Transfer-Encoding: chunked, gzip\r\n") + "2\r\nok\r\n0\r\n\r\n",
         false, httpErrBadResponse, -1, nullptr},
        {"chunked on two lines", Head(ok, chunked + chunked) + "2\r\nok\r\n0\r\n\r\n", true, 0, 200, "ok"},
        {"chunked, chunked", Head(ok, "Transfer-Encoding: chunked, chunked\r\n") + "2\r\nok\r\n0\r\n\r\n", true, 0,
         200, "ok"},
        {"chunked, chunked on a body that is not chunked", Head(ok, "Transfer-Encoding: chunked, chunked\r\n") + "ok",
         false, httpErrBadResponse, 200, nullptr},
        {"identity, chunked", Head(ok, "Transfer-Encoding: identity, chunked\r\n") + "2\r\nok\r\n0\r\n\r\n", true,
         0, 200, "ok"},
        {"chunked, identity", Head(ok, "Transfer-Encoding: chunked, identity\r\n") + "2\r\nok\r\n0\r\n\r\n", true,
         0, 200, "ok"},
        {"identity, identity up to the close",
         Head(ok, "Transfer-Encoding: identity, identity\r\nConnection: close\r\n") + "abcdef", true, 0, 200,
         "abcdef"},
        {"identity with a length", Head(ok, "Transfer-Encoding: identity\r\nContent-Length: 2\r\n") + "ok", true, 0,
         200, "ok"},
        {"chunked, gzip, chunked", Head(ok, "Transfer-Encoding: chunked, gzip, chunked\r\n") + "2\r\nok\r\n0\r\n\r\n",
         false, httpErrBadResponse, -1, nullptr},
        // Framed, but by a coding under the chunks that the client cannot undo.
        {"gzip with Content-Length 0", Head(ok, "Transfer-Encoding: gzip\r\nContent-Length: 0\r\n"), false,
         httpErrBadResponse, 200, nullptr},
        {"gzip under the chunks", Head(ok, "Transfer-Encoding: gzip, chunked\r\n") + "2\r\nok\r\n0\r\n\r\n", true,
         httpErrBadResponse, -1, nullptr},
        // Broken chunk framing.
        {"chunk longer than its size", Head(ok, chunked) + "3\r\nabcXYZ\r\n0\r\n\r\n", false, httpErrBadResponse,
         200, nullptr},
        {"chunk size followed by a letter", Head(ok, chunked) + "5x\r\nabcde\r\n0\r\n\r\n", false,
         httpErrBadResponse, 200, nullptr},
        {"chunk size of 5,000 leading zeros", Head(ok, chunked) + std::string(5000, '0') + "5\r\nabcde\r\n0\r\n\r\n",
         false, httpErrBadResponse, 200, nullptr},
    };
}

}  // namespace rawanswers
