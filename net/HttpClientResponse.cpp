// The receive side of the HTTP client: lines, the status line and header fields, the body
// (by length, chunked or until close), the proxy's CONNECT answer, relocations and the local
// document name.
#include "net/HttpClient.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

#include "net/InetUrl.h"
#include "net/InetUtils.h"

using framework::TComponent;

namespace {

constexpr size_t ReadFree = 1024 * 1024;

std::string DefaultPortOf(const std::string& Proto) { return InetAsciiLower(Proto) == "https" ? "443" : "80"; }

// Cut before the first "#" (unless it starts the text); blanks, control bytes and bytes
// outside ASCII (a UTF-8 path) percent-encoded, as a request line must carry them.
std::string CleanRelocation(const std::string& Value) {
    std::string v = Value;
    const size_t hash = v.find('#');
    if (hash != std::string::npos && hash > 0) v.erase(hash);
    std::string out;
    for (char ch : v) {
        const uint8_t c = uint8_t(ch);
        if (c <= 0x20 || c >= 0x7F)
            out += '%' + InetBytesToHex(&c, 1);
        else
            out += ch;
    }
    return out;
}

// The scheme of an absolute URL in lower case; empty for a relative reference.
std::string SchemeOf(const std::string& Value) {
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (Value.empty() || !alpha(Value[0])) return std::string();
    size_t i = 1;
    while (i < Value.size() && (alpha(Value[i]) || IsDigit(Value[i]) || Value[i] == '+' || Value[i] == '-' ||
                                Value[i] == '.'))
        ++i;
    return i < Value.size() && Value[i] == ':' ? InetAsciiLower(Value.substr(0, i)) : std::string();
}

}  // namespace

void THttpClient::ResetResponse(bool KeepLocation) {
    // Every output starts over together; only the relocation target may be carried on.
    TResponseInfo fresh;
    fresh.Location = KeepLocation ? std::move(resp_.Location) : URL;
    resp_ = std::move(fresh);
    rcvCount_ = 0;
    headerLineCount_ = 0;
    headerBytes_ = 0;
    interimCount_ = 0;
    inBody_ = false;
    receivingHeader_ = false;
    uploading_ = false;
    readyDue_ = false;
    ForgetFields();
    challenges_.Clear();
    authInfos_.clear();
    authTypesPresent_ = 0;
    closeAfterResponse_ = requestVer_ == "1.0";
}

void THttpClient::ConsumeBuffer(size_t Count) {
    Count = std::min(Count, rcvCount_);
    if (Count == 0) return;
    if (Count < rcvCount_) memmove(rcvBuf_.data(), rcvBuf_.data() + Count, rcvCount_ - Count);
    rcvCount_ -= Count;
}

void THttpClient::HandleSocketData(uint16_t) {
    if (rcvBuf_.size() < rcvCount_ + ReadFree + 1) rcvBuf_.resize(rcvCount_ + ReadFree + 1);
    const int n = socket_->ReceiveData(rcvBuf_.data() + rcvCount_, int(rcvBuf_.size() - rcvCount_ - 1));
    if (n <= 0 || requestKind_ == httpABORT) return;
    rcvCount_ += size_t(n);
    rcvBuf_[rcvCount_] = 0;
    const TFireWatch watch(*this);
    if (state_ == hcsAwaitTunnel && !ReadTunnelAnswer()) return;
    while (watch.Holds() && rcvCount_ > 0 && !failed_) {
        if (state_ == hcsAwaitBody && receiveTarget_ == TReceiveTarget::Body) {
            if (!ReadBodyBytes()) return;
        } else if (state_ == hcsAwaitHeader && receiveTarget_ == TReceiveTarget::Header) {
            if (!ReadHeaderLines()) return;
        } else {
            // Between requests, or after the document: the bytes are nobody's.
            rcvCount_ = 0;
            static_cast<void>(Fire(OnDataPush, this, uint16_t(0)));
            return;
        }
    }
}

namespace {

// The lines of a head (each without its line end), up to the empty line that ends it.
std::vector<std::string> HeadLines(const std::string& Head) {
    std::vector<std::string> lines;
    size_t b = 0;
    while (b < Head.size()) {
        size_t lf = Head.find('\n', b);
        if (lf == std::string::npos) lf = Head.size();
        std::string line = Head.substr(b, lf - b);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        lines.push_back(std::move(line));
        b = lf + 1;
    }
    return lines;
}

}  // namespace

bool THttpClient::ReadTunnelAnswer() {
    if (!TunnelAnswerComplete()) return false;
    tunnelAnswered_ = true;
    const size_t end = HttpHeadLength(reinterpret_cast<const char*>(rcvBuf_.data()), rcvCount_);
    const std::vector<std::string> lines = HeadLines(std::string(reinterpret_cast<const char*>(rcvBuf_.data()), end));
    THttpStatusLine status;
    if (lines.empty() || !HttpParseStatusLine(lines[0], status) || status.Major != 1) {
        FailRequest(httpErrBadResponse, "HTTP bad status line");
        return false;
    }
    // 407 drives the proxy authentication like any answer; anything else is the proxy's
    // refusal, never the https document.
    if (status.Code == 407) {
        StateChange(hcsAwaitHeader);
        return true;
    }
    if (status.Code != 200) {
        resp_.StatusCode = status.Code;
        FailRequest(httpErrProxyRefused, status.Reason);
        return false;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string name, value;
        const THttpHeadLine kind = HttpSplitFieldLine(lines[i], name, value);
        if (kind == THttpHeadLine::hhlBad || (kind == THttpHeadLine::hhlContinuation && i == 1)) {
            FailRequest(httpErrBadResponse, "HTTP bad header line");
            return false;
        }
    }
    // The answer ends at its blank line; what follows already belongs to the tunnel.
    ConsumeBuffer(end);
    if (proxyAuth_.Ntlm) AuthStateChange(proxyAuth_.Ntlm, ntlmAuthDone);
    if (proxyAuth_.Digest) AuthStateChange(proxyAuth_.Digest, digestAuthDone);
    if (proxyAuth_.Basic) AuthStateChange(proxyAuth_.Basic, basicAuthDone);
    if (!TlsCapable()) {
        // This client has no TLS: plain bytes must not go to a TLS server.
        FailRequest(WSAEPROTONOSUPPORT, "Protocol \"https\" not implemented");
        return false;
    }
    // What came with the answer is the target's: the TLS layer reads it first.
    if (rcvCount_ > 0) socket_->UnreadReceived(rcvBuf_.data(), int(rcvCount_));
    rcvCount_ = 0;
    StartTunnelTls();
    return false;
}

bool THttpClient::ReadBodyBytes() {
    if (requestKind_ == httpHEAD) {
        rcvCount_ = 0;
        socket_->Abort();
        return false;
    }
    const TFireWatch watch(*this);
    int64_t piece = int64_t(rcvCount_);
    if (resp_.ContentLength >= 0 && !resp_.Chunked)
        piece = std::min<int64_t>(piece, resp_.ContentLength - resp_.ReceivedCount);
    const uint32_t id = requestId_;
    const int64_t used = ProcessBodyData(rcvBuf_.data(), piece);
    if (!watch.Holds() || failed_ || RequestEnded(id)) return false;
    ConsumeBuffer(size_t(used));
    if (receiveTarget_ == TReceiveTarget::Body) return used != 0;
    if (!Fired([&] { AfterDocument(); })) return false;
    // Whatever follows the document on this connection is not ours.
    rcvCount_ = 0;
    return false;
}

bool THttpClient::ReadHeaderLines() {
    const TFireWatch watch(*this);
    // The header's lines are taken from an offset; what is left moves to the front once,
    // not once per line.
    size_t off = 0;
    bool incomplete = false;
    while (state_ == hcsAwaitHeader && receiveTarget_ == TReceiveTarget::Header && !failed_) {
        const uint8_t* b = rcvBuf_.data() + off;
        const size_t avail = rcvCount_ - off;
        const uint8_t* lf = static_cast<const uint8_t*>(memchr(b, '\n', avail));
        // The limit is on the line without its line end, CR LF or a bare LF alike; a CR
        // may still wait for its LF.
        if (!lf) {
            if (avail > MaxHeaderLineLength + 1 || (avail == MaxHeaderLineLength + 1 && b[avail - 1] != '\r'))
                FailRequest(httpErrBadResponse, "HTTP header line too long");
            incomplete = true;
            break;
        }
        const size_t len = size_t(lf - b);
        if (len - (len > 0 && b[len - 1] == '\r' ? 1 : 0) > MaxHeaderLineLength) {
            FailRequest(httpErrBadResponse, "HTTP header line too long");
            return false;
        }
        lastLineCR_ = len > 0 && b[len - 1] == '\r';
        lastLine_.assign(reinterpret_cast<const char*>(b), lastLineCR_ ? len - 1 : len);
        off += len + 1;
        headerBytes_ += len + 1;
        const size_t count = rcvCount_;
        ProcessHeaderLine();
        if (!watch.Holds()) return false;
        // Dropped (the answer ended, failed or was aborted): nothing left to move.
        if (rcvCount_ != count) {
            off = 0;
            break;
        }
    }
    if (off) ConsumeBuffer(off);
    return !incomplete;
}

bool THttpClient::TunnelAnswerComplete() {
    if (HttpHeadLength(reinterpret_cast<const char*>(rcvBuf_.data()), rcvCount_) > 0) return true;
    if (rcvCount_ > MaxHeaderBytes) FailRequest(httpErrBadResponse, "HTTP proxy answer too long");
    return false;
}

void THttpClient::ProcessHeaderLine() {
    if (!CountHeaderLine()) return;
    const std::string& line = lastLine_;
    if (TakeHeaderlessAnswer(line)) return;
    const TFireWatch watch(*this);
    const uint32_t id = requestId_;
    // A field applied here may fail the request, or its event may end or free it.
    auto gone = [&] { return !watch.Holds() || failed_ || RequestEnded(id) || state_ != hcsAwaitHeader; };
    if (line.empty()) {
        ApplyPendingField();
        if (gone()) return;
        EndOfHeader();
        return;
    }
    resp_.ResponseHeaders.Add(line);
    if (headerLineCount_ == 1)
        ReadStatusLine(line);
    else
        ReadFieldLine(line);
    if (gone()) return;
    static_cast<void>(TriggerHeaderData());
}

bool THttpClient::CountHeaderLine() {
    if (headerLineCount_ == 0) {
        if (!TriggerHeaderBegin()) return false;
    } else if (headerLineCount_ == -1)
        headerLineCount_ = 0;
    ++headerLineCount_;
    if (headerLineCount_ > MaxHeaderLines) {
        FailRequest(httpErrBadResponse, "HTTP header has too many lines");
        return false;
    }
    if (headerBytes_ > MaxHeaderBytes) {
        FailRequest(httpErrBadResponse, "HTTP header too large");
        return false;
    }
    return true;
}

bool THttpClient::TakeHeaderlessAnswer(const std::string& Line) {
    if (headerLineCount_ != 1 || Line.empty() || Line[0] != '<' ||
        (!InetStartsText(Line, "<HTML>") && !InetStartsText(Line, "<!DOCTYPE")))
        return false;
    // No header at all: the line is the first of the document.
    if (resp_.ContentType.empty()) resp_.ContentType = "text/html";
    if (!Fired([&] { StateChange(hcsAwaitBody); })) return true;
    receiveTarget_ = TReceiveTarget::Body;
    if (!TriggerHeaderEnd()) return true;
    closeAfterResponse_ = true;
    if (!BeginDocument()) return true;
    const std::string first = Line + (lastLineCR_ ? "\r\n" : "\n");
    ProcessBodyData(reinterpret_cast<const uint8_t*>(first.data()), int64_t(first.size()));
    return true;
}

void THttpClient::ReadStatusLine(const std::string& Line) {
    THttpStatusLine status;
    if (!HttpParseStatusLine(Line, status) || status.Major != 1) {
        // Nothing can say whether or how a body follows: no status is made up.
        if (Line.compare(0, 5, "HTTP/") != 0 && !Fire(OnDataPush2, this)) return;
        FailRequest(httpErrBadResponse, "HTTP bad status line");
        return;
    }
    responseVersion_ = status.VersionText();
    closeAfterResponse_ = requestVer_ == "1.0" || status.Minor == 0;
    resp_.StatusCode = status.Code;
    resp_.ReasonPhrase = status.Reason;
}

void THttpClient::ReadFieldLine(const std::string& Line) {
    std::string name, value;
    // The field applied here may fire OnCookie.
    const TFireWatch watch(*this);
    switch (HttpSplitFieldLine(Line, name, value)) {
        case THttpHeadLine::hhlField:
            ApplyPendingField();
            if (!watch.Holds()) return;
            fieldName_ = std::move(name);
            fieldValue_ = std::move(value);
            fieldPending_ = true;
            return;
        case THttpHeadLine::hhlContinuation:
            // A folded value goes on after one blank; a fold with no field before it is not one.
            if (fieldPending_) {
                if (!value.empty()) fieldValue_ += (fieldValue_.empty() ? "" : " ") + value;
                return;
            }
            break;
        default: break;
    }
    FailRequest(httpErrBadResponse, "HTTP bad header line");
}

void THttpClient::ApplyPendingField() {
    if (!fieldPending_) return;
    fieldPending_ = false;
    ApplyField(fieldName_, fieldValue_);
}

void THttpClient::ForgetFields() {
    fieldPending_ = false;
    fieldName_.clear();
    fieldValue_.clear();
    transferCodings_.clear();
}

void THttpClient::ApplyField(const std::string& Name, const std::string& Value) {
    const std::string& name = Name;
    const std::string& value = Value;
    if (name == "location") {
        HandleLocation(value);
    } else if (name == "content-length") {
        const int64_t len = HttpParseContentLength(value);
        if (len < 0 || (resp_.ContentLength >= 0 && len != resp_.ContentLength)) {
            FailRequest(httpErrBadResponse, "HTTP bad Content-Length");
            return;
        }
        resp_.ContentLength = len;
    } else if (name == "transfer-encoding") {
        // Several lines make one list; how it frames the body is decided at the head's end.
        HttpAddTransferCodings(value, transferCodings_);
        const std::string v = InetAsciiLower(value);
        resp_.TransferEncoding = resp_.TransferEncoding.empty() ? v : resp_.TransferEncoding + ", " + v;
    } else if (name == "content-range") {
        const size_t dash = value.find('-');
        const size_t slash = value.find('/');
        if (dash != std::string::npos && value.size() > 6) {
            ContentRangeBegin = dash > 6 ? value.substr(6, dash - 6) : std::string();
            ContentRangeEnd = value.substr(
                dash + 1, slash == std::string::npos || slash < dash ? std::string::npos : slash - dash - 1);
        }
    } else if (name == "accept-ranges") {
        resp_.AcceptRanges = value;
    } else if (name == "content-type") {
        resp_.ContentType = InetAsciiLower(value);
    } else if (name == "www-authenticate" || name == "proxy-authenticate") {
        challenges_.Add(value);
    } else if (name == "set-cookie") {
        bool accept = true;
        if (!TriggerCookie(value, accept)) return;
    } else if (name == "connection" || name == "proxy-connection") {
        // A list of options: "close" among them ends the connection, whatever else is named.
        if (HttpListHasToken(value, "close"))
            closeAfterResponse_ = true;
        else if (HttpListHasToken(value, "keep-alive"))
            closeAfterResponse_ = false;
    } else if (name == "date") {
        resp_.ResponseDate = InetParseRfc822Date(value, true);
    } else if (name == "last-modified") {
        resp_.ResponseLastModified = InetParseRfc822Date(value, true);
    } else if (name == "expires") {
        resp_.ResponseExpires = InetParseRfc822Date(value, true);
    } else if (name == "age") {
        resp_.ResponseAge = int32_t(std::min<int64_t>(InetParseDecimal(value.c_str()), INT32_MAX));
    } else if (name == "cache-control") {
        resp_.ResponseCacheControl = value;
    } else if (name == "etag") {
        resp_.ResponseEtag = value;
    } else if (name == "content-encoding") {
        resp_.ContentEncoding = value;
    }
}

void THttpClient::EndOfHeader() {
    if (resp_.StatusCode >= 100 && resp_.StatusCode < 200 && resp_.StatusCode != 101) {
        // An interim answer (100 Continue, 103 Early Hints, ...): the real one follows.
        if (++interimCount_ > MaxInterimAnswers) {
            FailRequest(httpErrBadResponse, "HTTP too many interim answers");
            return;
        }
        resp_.ResponseHeaders.Clear();
        headerLineCount_ = -1;
        headerBytes_ = 0;
        relocationPending_ = false;
        resp_.Location = URL;
        resp_.ContentLength = -1;
        resp_.TransferEncoding.clear();
        ForgetFields();
        resp_.ContentType.clear();
        resp_.ContentEncoding.clear();
        return;
    }
    if (!TriggerHeaderEnd()) return;
    if (state_ == hcsReady) {
        rcvCount_ = 0;
        return;
    }
    if (resp_.StatusCode == 0) {
        // No status line worth the name: nothing can say whether or how a body follows.
        FailRequest(httpErrBadResponse, "HTTP bad status line");
        return;
    }
    if (resp_.StatusCode == 101) {
        FailRequest(httpErrBadResponse, "HTTP protocol switch not asked for");
        return;
    }
    const THttpTransferFraming framing = HttpTransferFraming(transferCodings_);
    const bool chunked = framing == THttpTransferFraming::htfChunked;
    // A chunked body is framed by its chunks, whatever a Content-Length says.
    if (chunked) resp_.ContentLength = -1;
    // A 301 or 302 without a length is taken to carry nothing when its relocation is followed;
    // one that is not followed (no target, or not following) is the document, so its body,
    // up to the close, is read like any other.
    const bool followedMove = relocationPending_ && (resp_.StatusCode == 301 || resp_.StatusCode == 302);
    const bool untilClose = !chunked && resp_.ContentLength == -1;
    // No body by the method or the status; or one taken to carry nothing.
    const bool bodyless = requestKind_ == httpHEAD || resp_.StatusCode == 204 || resp_.StatusCode == 304 ||
                          (untilClose && (resp_.StatusCode < 200 || followedMove));
    const bool noBody = bodyless || (!chunked && resp_.ContentLength == 0);
    // Chunks are the one transfer coding this client decodes: any other would be stored
    // as if it were the document, an empty one included.
    if (!bodyless && !transferCodings_.empty() && !HttpOnlyChunked(transferCodings_)) {
        FailRequest(httpErrBadResponse, "HTTP transfer coding not supported: " + resp_.TransferEncoding);
        return;
    }
    resp_.Chunked = chunked;
    // A body that ends at the close, read or not: the connection cannot carry another request.
    if (untilClose && (followedMove || !bodyless)) closeAfterResponse_ = true;
    if (noBody) {
        receiveTarget_ = TReceiveTarget::None;
        rcvCount_ = 0;
        if (!Fired([&] { StateChange(hcsBodyDone); })) return;
        AfterDocument();
        return;
    }
    std::string ext;
    const size_t dot = documentName_.rfind('.');
    if (dot != std::string::npos) ext = InetAsciiLower(documentName_.substr(dot));
    if ((ext == ".exe" || dot == std::string::npos) && resp_.ContentType == "text/html") {
        const size_t p = PosN(".", documentName_, -1);
        if (p)
            documentName_ = documentName_.substr(0, p) + "htm";
        else
            documentName_ += ".htm";
    }
    if (!Fired([&] { StateChange(hcsAwaitBody); })) return;
    receiveTarget_ = TReceiveTarget::Body;
    BeginDocument();
}

bool THttpClient::BeginDocument() {
    inBody_ = true;
    chunks_.Reset();
    if (!TriggerDocBegin()) return false;
    contentCoding_->Prepare(resp_.ContentEncoding);
    rewindReceiveSize_ = ReceiveStream ? ReceiveStream->Size() : 0;
    return true;
}

int64_t THttpClient::ProcessBodyData(const uint8_t* Data, int64_t Len) {
    if (!inBody_ && !BeginDocument()) return Len;
    const TFireWatch watch(*this);
    const uint32_t id = requestId_;
    if (!resp_.Chunked) {
        if (Len > 0) {
            contentCoding_->WriteBuffer(Data, size_t(Len));
            // The owner may have aborted (or started anew) from OnDocData.
            if (!watch.Holds() || RequestEnded(id)) return Len;
            resp_.ReceivedCount += Len;
        }
        if (resp_.ContentLength >= 0 && resp_.ReceivedCount >= resp_.ContentLength) EndDocument();
        return Len;
    }
    bool ended = false;
    const size_t used = chunks_.Feed(Data, size_t(Len), [&](const uint8_t* Bytes, size_t Count) {
        contentCoding_->WriteBuffer(Bytes, Count);
        if (!watch.Holds() || RequestEnded(id)) {
            ended = true;
            return false;
        }
        resp_.ReceivedCount += int64_t(Count);
        return true;
    });
    if (ended) return Len;
    if (chunks_.Failed()) {
        FailRequest(httpErrBadResponse, chunks_.ErrorText());
        return Len;
    }
    if (chunks_.Done()) EndDocument();
    return int64_t(used);
}

void THttpClient::EndDocument() {
    inBody_ = false;
    receiveTarget_ = TReceiveTarget::None;
    // ProcessBodyData's caller asks whether the request held.
    if (!Fired([&] { StateChange(hcsBodyDone); })) return;
    static_cast<void>(TriggerDocEnd());
}

void THttpClient::AfterDocument() {
    if (failed_) return;
    if (relocationPending_) {
        ConnectOrReuse();
        return;
    }
    if (closeAfterResponse_) {
        // The close ends the request (HandleSocketClosed).
        socket_->Close();
        return;
    }
    SetReady();
}

// ---- Relocation ----------------------------------------------------------------------------

void THttpClient::HandleLocation(std::string Value) {
    for (char c : Value) {
        if (c == '\r' || c == '\n' || c == '\0') {
            FailRequest(httpErrBadResponse, "HTTP bad Location");
            return;
        }
    }
    // Nowhere named: the answer itself is the result.
    if (Value.empty()) return;
    if (Value.compare(0, 2, "//") == 0) Value = protocol_ + ":" + Value;
    if (requestKind_ == httpPUT || requestKind_ == httpPATCH || resp_.StatusCode == 201) {
        resp_.Location = Value;
        return;
    }
    if (!FollowRelocation || resp_.StatusCode <= 300 || resp_.StatusCode > 308) return;
    // Only http and https are fetched here; "file:", "data:" and the like are not paths
    // on this server.
    const std::string scheme = SchemeOf(Value);
    if (!scheme.empty() && ((scheme != "http" && scheme != "https") || Value.compare(scheme.size() + 1, 2, "//") != 0)) {
        resp_.Location = Value;
        FailRequest(httpErrInsecureRelocation, "Relocation to \"" + scheme + ":\" refused");
        return;
    }
    const std::string proto0 = protocol_.empty() ? std::string("http") : protocol_;
    auto hostPort = [&](const std::string& Host, const std::string& Port, const std::string& Proto) {
        return Port.empty() || Port == DefaultPortOf(Proto) ? Host : Host + ":" + Port;
    };
    if (scheme.empty()) {
        // A relative reference, resolved against the path (and query) of this request; through
        // a proxy the request path is the whole URL.
        std::string base = requestPath_;
        if (InetStartsText(base, "http://") || InetStartsText(base, "https://")) {
            const size_t slash = base.find('/', base.find("//") + 2);
            base = slash == std::string::npos ? std::string("/") : base.substr(slash);
        }
        if (base.empty() || base[0] != '/') base = "/" + base;
        const std::string path = ResolveRelativePath(base, CleanRelocation(Value));
        resp_.Location = proto0 + "://" + hostPort(requestHost_, requestPort_, proto0) + path;
        requestPath_ = ProxyUsed() && protocol_ != "https" ? resp_.Location : path;
    } else {
        std::string proto, user, pass, host, port, path;
        SplitUrl(Value, proto, user, path, port, host, pass);
        proto = InetAsciiLower(proto);
        if (RefuseHttpsToHttp && InetAsciiLower(protocol_) == "https" && proto == "http") {
            FailRequest(httpErrInsecureRelocation, "Relocation from https to http refused");
            return;
        }
        path = path.empty() ? std::string("/") : CleanRelocation(path);
        if (host.empty()) host = requestHost_;
        // Credentials were given for one scheme, host and port: the user's for the request's
        // URL, those inside a relocation URL for its target. They do not follow a relocation
        // anywhere else, and the user's come back with one to where they belong.
        const std::string origin = InetAsciiLower(proto + "://" + host + ":" + (port.empty() ? DefaultPortOf(proto) : port));
        serverCredsApply_ = origin == credOrigin_;
        const bool own = !user.empty() && !pass.empty();
        if (own || origin != curCredOrigin_) {
            curCredOrigin_ = own || serverCredsApply_ ? origin : std::string();
            curUser_ = own ? user : serverCredsApply_ ? credUser_ : std::string();
            curPassword_ = own ? pass : serverCredsApply_ ? credPassword_ : std::string();
            AuthStateChange(serverAuth_.Basic, ServerAuth == httpAuthBasic && !curUser_.empty() && !curPassword_.empty()
                                                   ? basicAuthSend
                                                   : basicAuthNone);
            AuthStateChange(serverAuth_.Digest, digestAuthNone);
            AuthStateChange(serverAuth_.Ntlm, ntlmAuthNone);
        }
        protocol_ = proto;
        requestHost_ = host;
        requestPort_ = port.empty() ? DefaultPortOf(proto) : port;
        resp_.Location = proto + "://" + host + (port.empty() ? "" : ":" + port) + path;
        if (ProxyUsed()) {
            requestPath_ = proto == "https" ? path : resp_.Location;
        } else {
            requestPath_ = path;
            connectHost_ = host;
            connectPort_ = requestPort_;
        }
    }
    relocationPending_ = true;
}

void THttpClient::ChangeMethodForRelocation() {
    if ((resp_.StatusCode == 303 && requestKind_ != httpHEAD) ||
        (requestKind_ == httpPOST && (resp_.StatusCode == 301 || resp_.StatusCode == 302)))
        requestKind_ = httpGET;
}

bool THttpClient::RelocationAllowed() {
    ++locationChangeCurCount_;
    if (locationChangeCurCount_ <= LocationChangeMaxCount) return true;
    bool allow = false;
    const int32_t count = locationChangeCurCount_;
    return Fire(OnLocationChangeExceeded, this, count, allow) && allow;
}

void THttpClient::Rewind() {
    if (ReceiveStream) {
        if (ReceiveStream->Size() != rewindReceiveSize_) {
            try {
                ReceiveStream->SetSize(rewindReceiveSize_);
            } catch (const framework::EStreamError&) {
                // A stream that cannot be cut is written over from the mark on.
            }
        }
        ReceiveStream->SetPosition(rewindReceiveSize_);
    }
    if (UploadStream && resp_.SentCount > 0) {
        UploadStream->Seek(-resp_.SentCount, framework::TSeekOrigin::soCurrent);
        // Gone back once: a second rewind before the next upload must not go further.
        resp_.SentCount = 0;
    }
}

void THttpClient::ConnectOrReuse() {
    const bool keep = !closeAfterResponse_ && connected_ && socket_->State() == wsConnected && CanReuseConnection();
    if (!keep) {
        restartOnClose_ = true;
        socket_->OnSessionClosed = [this](TComponent*, uint16_t E) { RestartAfterRelocation(E); };
        socket_->Close();
        return;
    }
    const int32_t status = resp_.StatusCode;
    const TFireWatch watch(*this);
    if (!RelocationAllowed()) {
        if (!watch.Holds()) return;
        relocationPending_ = false;
        PostSetReady();
        return;
    }
    if (!TriggerLocationChange()) return;
    ChangeMethodForRelocation();
    // Both the document already written and the body already sent go back before the
    // counters are reset: afterwards nobody knows how far to go back.
    Rewind();
    ResetResponse(true);
    resp_.StatusCode = status;
    docNameSource_ = requestPath_;
    DocNameFromPath();
    if (!startConnectionPosted_) {
        startConnectionPosted_ = true;
        PostMessageA(GetHandle(), idStartConnection_, 0, 0);
    }
}

void THttpClient::RestartAfterRelocation(uint16_t) {
    restartOnClose_ = false;
    socket_->OnSessionClosed = [this](TComponent*, uint16_t E) { HandleSocketClosed(E); };
    connected_ = false;
    tunnelAnswered_ = false;
    receivingHeader_ = false;
    if (proxyAuth_.Ntlm) AuthStateChange(proxyAuth_.Ntlm, ntlmAuthNegotiate);
    if (startConnectionPosted_) {
        relocationPending_ = false;
        return;
    }
    relocationPending_ = false;
    std::string target = resp_.Location.substr(0, resp_.Location.find('#'));
    std::string proto, user, pass, host, port, path;
    SplitUrl(target, proto, user, path, port, host, pass);
    docNameSource_ = path;
    DocNameFromPath();
    const TFireWatch watch(*this);
    if (!RelocationAllowed()) {
        if (watch.Holds()) PostSetReady();
        return;
    }
    ChangeMethodForRelocation();
    if (!TriggerLocationChange()) return;
    resp_.ContentEncoding.clear();
    responseVersion_.clear();
    if (ProxyUsed()) {
        std::string pp, pu, pw, ph, pport, ppath;
        SplitUrl(Proxy, pp, pu, ppath, pport, ph, pw);
        connectHost_ = ph.empty() ? Proxy : ph;
        connectPort_ = pport.empty() ? ProxyPort : pport;
    }
    Rewind();
    ResetResponse(true);
    startConnectionPosted_ = true;
    PostMessageA(GetHandle(), idStartConnection_, 0, 0);
}

void THttpClient::DocNameFromPath() {
    std::string p = docNameSource_.substr(0, docNameSource_.find('?'));
    if (requestKind_ == httpOPTIONS) {
        documentName_ = "options.htm";
        return;
    }
    if (p.empty() || p.back() == '/') {
        documentName_ = "document.htm";
        return;
    }
    const size_t slash = p.rfind('/');
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    if (name.size() > 255) name.resize(255);
    documentName_ = name.substr(0, name.find('?'));
}
