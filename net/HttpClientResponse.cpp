// The receive side of the HTTP client: lines, the status line and header fields, the body
// (by length, chunked or until close), the proxy's CONNECT answer, relocations and the local
// document name.
#include "net/HttpClient.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

#include "net/InetUrl.h"

using framework::TComponent;

namespace {

constexpr size_t ReadFree = 1024 * 1024;

std::string DefaultPortOf(const std::string& Proto) { return InetAsciiLower(Proto) == "https" ? "443" : "80"; }

// Cut before the first "#" (unless it starts the text) and blanks as "%20".
std::string CleanRelocation(const std::string& Value) {
    std::string v = Value;
    const size_t hash = v.find('#');
    if (hash != std::string::npos && hash > 0) v.erase(hash);
    std::string out;
    for (char c : v) {
        if (c == ' ')
            out += "%20";
        else
            out += c;
    }
    return out;
}

// The directory part of a request path: up to and including the last "/" or ":" before
// any "?".
std::string DirectoryOf(const std::string& Path) {
    const std::string p = Path.substr(0, Path.find('?'));
    const size_t cut = p.find_last_of("/:");
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
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
    auto alive = AliveToken();

    if (state_ == hcsAwaitTunnel) {
        if (!TunnelAnswerComplete()) return;
        tunnelAnswered_ = true;
        const char* b = reinterpret_cast<const char*>(rcvBuf_.data());
        const std::string head(b, std::min<size_t>(rcvCount_, 16));
        if (InetStartsText(head, "HTTP/1.0 200") || InetStartsText(head, "HTTP/1.1 200") ||
            InetStartsText(head, "HTTP/1.0  200") || InetStartsText(head, "HTTP/1.1  200")) {
            // The answer ends at its blank line; what follows already belongs to the tunnel.
            const std::string all(b, rcvCount_);
            size_t end = all.find("\r\n\r\n");
            end = end == std::string::npos ? all.find("\n\n") + 2 : end + 4;
            ConsumeBuffer(end);
            if (proxyAuth_.Ntlm) AuthStateChange(proxyAuth_.Ntlm, ntlmAuthDone);
            if (proxyAuth_.Digest) AuthStateChange(proxyAuth_.Digest, digestAuthDone);
            if (proxyAuth_.Basic) AuthStateChange(proxyAuth_.Basic, basicAuthDone);
            if (!TlsCapable()) {
                // This client has no TLS: plain bytes must not go to a TLS server.
                FailRequest(WSAEPROTONOSUPPORT, "Protocol \"https\" not implemented");
                return;
            }
            // What came with the answer is the target's: the TLS layer reads it first.
            if (rcvCount_ > 0) socket_->UnreadReceived(rcvBuf_.data(), int(rcvCount_));
            rcvCount_ = 0;
            StartTunnelTls();
            return;
        }
        // 407 drives the proxy authentication like any answer; anything else is the
        // proxy's refusal, never the https document.
        const char* lf = static_cast<const char*>(memchr(b, '\n', rcvCount_));
        const std::string first(b, lf ? size_t(lf - b) : rcvCount_);
        int status = 0;
        std::string reason;
        if (InetStartsText(first, "HTTP/1.")) {
            size_t d = 8;
            while (d < first.size() && first[d] == ' ') ++d;
            if (d + 3 <= first.size() && IsDigit(first[d]) && IsDigit(first[d + 1]) && IsDigit(first[d + 2]))
                status = (first[d] - '0') * 100 + (first[d + 1] - '0') * 10 + (first[d + 2] - '0');
            if (d + 4 <= first.size()) reason = first.substr(d + 4);
            if (!reason.empty() && reason.back() == '\r') reason.pop_back();
        }
        if (status != 407) {
            resp_.StatusCode = status;
            FailRequest(httpErrProxyRefused, status ? reason : std::string("HTTP proxy answer not understood"));
            return;
        }
        StateChange(hcsAwaitHeader);
    }

    while (*alive && rcvCount_ > 0 && !failed_) {
        if (state_ == hcsAwaitBody && receiveTarget_ == TReceiveTarget::Body) {
            if (requestKind_ == httpHEAD) {
                rcvCount_ = 0;
                socket_->Abort();
                return;
            }
            int64_t piece = int64_t(rcvCount_);
            if (resp_.ContentLength >= 0 && resp_.TransferEncoding != "chunked")
                piece = std::min<int64_t>(piece, resp_.ContentLength - resp_.ReceivedCount);
            const uint32_t id = requestId_;
            const int64_t used = ProcessBodyData(rcvBuf_.data(), piece);
            if (!*alive || failed_ || RequestEnded(id)) return;
            ConsumeBuffer(size_t(used));
            if (receiveTarget_ == TReceiveTarget::Body) {
                if (used == 0) break;
                continue;
            }
            AfterDocument();
            // Whatever follows the document on this connection is not ours.
            rcvCount_ = 0;
            return;
        }
        if (state_ == hcsAwaitHeader && receiveTarget_ == TReceiveTarget::Header) {
            // The header's lines are taken from an offset; what is left moves to the front
            // once, not once per line.
            size_t off = 0;
            bool incomplete = false;
            while (state_ == hcsAwaitHeader && receiveTarget_ == TReceiveTarget::Header && !failed_) {
                const uint8_t* b = rcvBuf_.data() + off;
                const size_t avail = rcvCount_ - off;
                const uint8_t* lf = static_cast<const uint8_t*>(memchr(b, '\n', avail));
                if (!lf) {
                    if (avail > MaxHeaderLineLength) FailRequest(httpErrBadResponse, "HTTP header line too long");
                    incomplete = true;
                    break;
                }
                const size_t len = size_t(lf - b);
                if (len > MaxHeaderLineLength) {
                    FailRequest(httpErrBadResponse, "HTTP header line too long");
                    return;
                }
                lastLineCR_ = len > 0 && b[len - 1] == '\r';
                lastLine_.assign(reinterpret_cast<const char*>(b), lastLineCR_ ? len - 1 : len);
                off += len + 1;
                headerBytes_ += len + 1;
                const size_t count = rcvCount_;
                ProcessHeaderLine();
                if (!*alive) return;
                // Dropped (the answer ended, failed or was aborted): nothing left to move.
                if (rcvCount_ != count) {
                    off = 0;
                    break;
                }
            }
            if (off) ConsumeBuffer(off);
            if (incomplete) break;
            continue;
        }
        // Between requests, or after the document: the bytes are nobody's.
        rcvCount_ = 0;
        if (OnDataPush) {
            auto h = OnDataPush;
            h(this, 0);
        }
        break;
    }
}

bool THttpClient::TunnelAnswerComplete() {
    const std::string all(reinterpret_cast<const char*>(rcvBuf_.data()), rcvCount_);
    if (all.find("\r\n\r\n") != std::string::npos || all.find("\n\n") != std::string::npos) return true;
    if (rcvCount_ > MaxHeaderBytes) FailRequest(httpErrBadResponse, "HTTP proxy answer too long");
    return false;
}

void THttpClient::ProcessHeaderLine() {
    if (headerLineCount_ == 0)
        TriggerHeaderBegin();
    else if (headerLineCount_ == -1)
        headerLineCount_ = 0;
    ++headerLineCount_;
    if (headerLineCount_ > MaxHeaderLines) {
        FailRequest(httpErrBadResponse, "HTTP header has too many lines");
        return;
    }
    if (headerBytes_ > MaxHeaderBytes) {
        FailRequest(httpErrBadResponse, "HTTP header too large");
        return;
    }
    const std::string& line = lastLine_;
    if (headerLineCount_ == 1 && !line.empty() && line[0] == '<' &&
        (InetStartsText(line, "<HTML>") || InetStartsText(line, "<!DOCTYPE"))) {
        // No header at all: the line is the first of the document.
        if (resp_.ContentType.empty()) resp_.ContentType = "text/html";
        StateChange(hcsAwaitBody);
        receiveTarget_ = TReceiveTarget::Body;
        TriggerHeaderEnd();
        closeAfterResponse_ = true;
        BeginDocument();
        const std::string first = line + (lastLineCR_ ? "\r\n" : "\n");
        ProcessBodyData(reinterpret_cast<const uint8_t*>(first.data()), int64_t(first.size()));
        return;
    }
    if (!line.empty()) {
        resp_.ResponseHeaders.Add(line);
        if (headerLineCount_ == 1) {
            if (line.compare(0, 8, "HTTP/1.0") == 0 || line.compare(0, 8, "HTTP/1.1") == 0) {
                responseVersion_ = line.substr(5, 3);
                if (requestVer_ == "1.0" || responseVersion_ == "1.0")
                    closeAfterResponse_ = true;
                else
                    closeAfterResponse_ = false;
                resp_.StatusCode = 0;
                resp_.ReasonPhrase.clear();
                size_t d = 9;
                while (d < line.size() && !IsDigit(line[d])) ++d;
                if (d + 3 <= line.size() && IsDigit(line[d]) && IsDigit(line[d + 1]) && IsDigit(line[d + 2]))
                    resp_.StatusCode = (line[d] - '0') * 100 + (line[d + 1] - '0') * 10 + (line[d + 2] - '0');
                if (d + 4 <= line.size()) resp_.ReasonPhrase = line.substr(d + 4);
            } else if (OnDataPush2) {
                auto h = OnDataPush2;
                h(this);
            }
        } else {
            const size_t colon = line.find(':');
            if (colon != std::string::npos) {
                const std::string name = InetAsciiLower(line.substr(0, colon));
                size_t v = colon + 1;
                while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
                const std::string value = line.substr(v);
                if (name == "location") {
                    HandleLocation(value);
                    if (failed_) return;
                } else if (name == "content-length") {
                    const int64_t len = HttpParseContentLength(value);
                    if (len < 0 || (resp_.ContentLength >= 0 && len != resp_.ContentLength)) {
                        FailRequest(httpErrBadResponse, "HTTP bad Content-Length");
                        return;
                    }
                    resp_.ContentLength = len;
                } else if (name == "transfer-encoding") {
                    resp_.TransferEncoding = InetAsciiLower(InetTrimBlanks(value));
                    // "gzip, chunked": the chunking is what frames the body.
                    if (resp_.TransferEncoding.size() > 7 &&
                        resp_.TransferEncoding.compare(resp_.TransferEncoding.size() - 7, 7, "chunked") == 0)
                        resp_.TransferEncoding = "chunked";
                } else if (name == "content-range") {
                    const size_t dash = value.find('-');
                    const size_t slash = value.find('/');
                    if (dash != std::string::npos && value.size() > 6) {
                        ContentRangeBegin = dash > 6 ? value.substr(6, dash - 6) : std::string();
                        ContentRangeEnd = value.substr(dash + 1, slash == std::string::npos || slash < dash
                                                                     ? std::string::npos
                                                                     : slash - dash - 1);
                    }
                } else if (name == "accept-ranges") {
                    resp_.AcceptRanges = value;
                } else if (name == "content-type") {
                    resp_.ContentType = InetAsciiLower(value);
                } else if (name == "www-authenticate" || name == "proxy-authenticate") {
                    challenges_.Add(value);
                } else if (name == "set-cookie") {
                    bool accept = true;
                    TriggerCookie(value, accept);
                } else if (name == "connection" || name == "proxy-connection") {
                    const std::string c = InetAsciiLower(InetTrimBlanks(value));
                    if (c == "close") closeAfterResponse_ = true;
                    else if (c == "keep-alive") closeAfterResponse_ = false;
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
        }
        TriggerHeaderData();
        return;
    }
    EndOfHeader();
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
        resp_.ContentType.clear();
        resp_.ContentEncoding.clear();
        return;
    }
    TriggerHeaderEnd();
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
    const bool chunked = resp_.TransferEncoding == "chunked";
    // A chunked body is framed by its chunks, whatever a Content-Length says.
    if (chunked) resp_.ContentLength = -1;
    const bool noBody = requestKind_ == httpHEAD || resp_.StatusCode == 204 || resp_.StatusCode == 304 ||
                        (!chunked && resp_.ContentLength == 0) ||
                        (!chunked && resp_.ContentLength == -1 && (resp_.StatusCode < 200 || resp_.StatusCode == 301 || resp_.StatusCode == 302));
    if (noBody) {
        receiveTarget_ = TReceiveTarget::None;
        rcvCount_ = 0;
        StateChange(hcsBodyDone);
        AfterDocument();
        return;
    }
    // Read until close: the connection cannot carry another request.
    if (!chunked && resp_.ContentLength < 0) closeAfterResponse_ = true;
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
    StateChange(hcsAwaitBody);
    receiveTarget_ = TReceiveTarget::Body;
    BeginDocument();
}

void THttpClient::BeginDocument() {
    inBody_ = true;
    chunks_.Reset();
    TriggerDocBegin();
    contentCoding_->Prepare(resp_.ContentEncoding);
    rewindReceiveSize_ = ReceiveStream ? ReceiveStream->Size() : 0;
}

int64_t THttpClient::ProcessBodyData(const uint8_t* Data, int64_t Len) {
    if (!inBody_) BeginDocument();
    auto alive = AliveToken();
    const uint32_t id = requestId_;
    if (resp_.TransferEncoding != "chunked") {
        if (Len > 0) {
            contentCoding_->WriteBuffer(Data, size_t(Len));
            // The owner may have aborted (or started anew) from OnDocData.
            if (!*alive || RequestEnded(id)) return Len;
            resp_.ReceivedCount += Len;
        }
        if (resp_.ContentLength >= 0 && resp_.ReceivedCount >= resp_.ContentLength) EndDocument();
        return Len;
    }
    bool ended = false;
    const size_t used = chunks_.Feed(Data, size_t(Len), [&](const uint8_t* Bytes, size_t Count) {
        contentCoding_->WriteBuffer(Bytes, Count);
        if (!*alive || RequestEnded(id)) {
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
    StateChange(hcsBodyDone);
    TriggerDocEnd();
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
    if (Value.compare(0, 2, "//") == 0) Value = protocol_ + ":" + Value;
    if (requestKind_ == httpPUT || requestKind_ == httpPATCH || resp_.StatusCode == 201) {
        resp_.Location = Value;
        return;
    }
    if (!FollowRelocation || resp_.StatusCode <= 300 || resp_.StatusCode > 308) return;
    const std::string proto0 = protocol_.empty() ? std::string("http") : protocol_;
    auto hostPort = [&](const std::string& Host, const std::string& Port, const std::string& Proto) {
        return Port.empty() || Port == DefaultPortOf(Proto) ? Host : Host + ":" + Port;
    };
    if (!Value.empty() && Value[0] == '/') {
        const std::string path = CleanRelocation(Value);
        resp_.Location = proto0 + "://" + hostPort(requestHost_, requestPort_, proto0) + path;
        requestPath_ = ProxyUsed() && protocol_ != "https" ? resp_.Location : path;
    } else if (!InetStartsText(Value, "http://") && !InetStartsText(Value, "https://")) {
        std::string dir = DirectoryOf(requestPath_);
        std::string path = CleanRelocation(dir + Value);
        if (ProxyUsed() && protocol_ != "https") {
            resp_.Location = path;
            requestPath_ = path;
        } else {
            if (path.empty() || path[0] != '/') path = "/" + path;
            resp_.Location = proto0 + "://" + hostPort(requestHost_, requestPort_, proto0) + path;
            requestPath_ = path;
        }
    } else {
        std::string proto, user, pass, host, port, path;
        SplitUrl(Value, proto, user, path, port, host, pass);
        proto = InetAsciiLower(proto);
        if (RefuseHttpsToHttp && InetAsciiLower(protocol_) == "https" && proto == "http") {
            FailRequest(httpErrInsecureRelocation, "Relocation from https to http refused");
            return;
        }
        if (proto != "http" && proto != "https") {
            // Nothing this client could follow; the 30x ends the request.
            resp_.Location = Value;
            return;
        }
        path = path.empty() ? std::string("/") : CleanRelocation(path);
        if (host.empty()) host = requestHost_;
        // The server's credentials were given for one scheme, host and port: they do not
        // follow the relocation anywhere else (and come back with one to where they belong).
        const bool home = InetAsciiLower(proto + "://" + host + ":" + (port.empty() ? DefaultPortOf(proto) : port)) ==
                          credOrigin_;
        if (home != serverCredsApply_) {
            serverCredsApply_ = home;
            curUser_ = home ? credUser_ : std::string();
            curPassword_ = home ? credPassword_ : std::string();
            AuthStateChange(serverAuth_.Basic, home && ServerAuth == httpAuthBasic && !curUser_.empty() && !curPassword_.empty()
                                                  ? basicAuthSend
                                                  : basicAuthNone);
            AuthStateChange(serverAuth_.Digest, digestAuthNone);
            AuthStateChange(serverAuth_.Ntlm, ntlmAuthNone);
        }
        // Those inside the relocation URL are for its target.
        if (!user.empty() && !pass.empty()) {
            curUser_ = user;
            curPassword_ = pass;
            if (ServerAuth == httpAuthBasic) AuthStateChange(serverAuth_.Basic, basicAuthSend);
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
    const TRequestWatch watch(*this);
    if (OnLocationChangeExceeded) {
        auto h = OnLocationChangeExceeded;
        TEventScope scope(*this);
        h(this, locationChangeCurCount_, allow);
    }
    return allow && !watch.Ended();
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
    if (!RelocationAllowed()) {
        relocationPending_ = false;
        PostSetReady();
        return;
    }
    const TRequestWatch watch(*this);
    TriggerLocationChange();
    if (watch.Ended()) return;
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
    if (!RelocationAllowed()) {
        PostSetReady();
        return;
    }
    ChangeMethodForRelocation();
    const TRequestWatch watch(*this);
    TriggerLocationChange();
    if (watch.Ended()) return;
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
