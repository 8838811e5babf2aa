// The asynchronous HTTP/1.0 and HTTP/1.1 client. One THttpClient owns one socket and runs
// each request as a chain of socket events and posted messages on the thread of its hidden
// window; the end of every request is reported once, from the message loop, through
// OnRequestDone (ErrCode 0: the exchange completed, whatever StatusCode says).
//
// The wire side lives in the same class but in its own sources: HttpClient.cpp also
// builds the request header and streams the upload, HttpClientResponse.cpp parses the
// answer, reads the body, follows relocations and opens TLS through a proxy's CONNECT
// tunnel, HttpClientAuth.cpp answers 401 and 407 challenges (Basic, Digest, NTLM; for a
// proxy without credentials, the logged-on user's NTLM session) by repeating the request.
//
// Everything that arrives from the server is bounded: header lines, their number and their
// total size, chunk sizes and Content-Length values. A response that breaks a bound ends the
// request with httpErrBadResponse instead of growing memory or looping.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "framework/StringList.h"
#include "framework/Streams.h"
#include "net/HttpContentCoding.h"
#include "net/HttpFraming.h"
#include "net/InetDigestAuth.h"
#include "net/InetNtlmMsgs.h"
#include "net/InetWndControl.h"
#include "net/NetSocket.h"

enum THttpRequest : uint8_t {
    httpABORT = 0, httpGET = 1, httpPOST = 2, httpPUT = 3, httpHEAD = 4, httpDELETE = 5, httpCLOSE = 6,
    httpPATCH = 7, httpOPTIONS = 8, httpTRACE = 9
};

enum THttpAuthType : uint8_t {
    httpAuthNone = 0, httpAuthBasic = 1, httpAuthNtlm = 2, httpAuthDigest = 3, httpAuthBearer = 4,
    httpAuthToken = 5, httpAuthJWT = 6, httpAuthOAuth = 7, httpAuthDigest2 = 8
};

enum THttpClientOption : uint8_t {
    httpoNoBasicAuth = 0, httpoNoNTLMAuth = 1, httpoBandwidthControl = 2, httpoEnableContentCoding = 3,
    httpoUseQuality = 4, httpoNoDigestAuth = 5, httpoAllowAnchor = 6
};
// A set of THttpClientOption, one bit per value.
using THttpClientOptions = uint8_t;
constexpr THttpClientOptions HttpOpt(THttpClientOption O) { return THttpClientOptions(1u << O); }

enum THttpClientState : uint8_t {
    hcsReady = 0, hcsStarting = 1, hcsConnected = 2, hcsResolving = 3, hcsResolved = 4, hcsAwaitHeader = 5,
    hcsAwaitBody = 6, hcsBodyDone = 7, hcsAwaitTunnel = 8, hcsClosing = 9, hcsAborting = 10
};

// Completion codes beside the Winsock codes.
enum : uint16_t {
    httpErrBusy = 1, httpErrNothingToSend = 2, httpErrAborted = 3, httpErrVersion = 5, httpErrAuthState = 6,
    httpErrSslHandshake = 7, httpErrTimeout = 8, httpErrNoStatus = 9, httpErrOutOfMemory = 10, httpErrException = 11,
    // The response broke a bound or a rule of the protocol (see the header comment).
    httpErrBadResponse = 12,
    // A relocation refused: to a scheme other than http and https, or from https to http
    // while RefuseHttpsToHttp is set.
    httpErrInsecureRelocation = 13,
    // The proxy answered a CONNECT with neither 200 nor a challenge; StatusCode and
    // ReasonPhrase are the proxy's.
    httpErrProxyRefused = 14,
};

// The authentication states, each kept for the server and for the proxy.
enum TNtlmAuthState : uint8_t {
    ntlmAuthNone = 0, ntlmAuthNegotiate = 1 /* type 1 to send */, ntlmAuthAuthenticate = 3 /* type 3 to send */,
    ntlmAuthDone = 4
};
// Digest: credentials to send, then waiting for a challenge or done.
enum TDigestAuthState : uint8_t { digestAuthNone = 0, digestAuthSend = 1, digestAuthDone = 2 };
enum TBasicAuthState : uint8_t { basicAuthNone = 0, basicAuthSend = 1, basicAuthDone = 2 };

// One "WWW-Authenticate" or "Proxy-Authenticate" value of the last response.
struct TWWWAuthInfo {
    THttpAuthType AuthType = httpAuthNone;
    std::string Realm;
    std::string Charset;
    std::string Uri;
    std::string Header;  // the challenge as it came (one of a field value's list)
};
using TWWWAuthInfos = std::vector<TWWWAuthInfo>;

class TNtlmAuthSession;

class EHttpException : public framework::Exception {
public:
    EHttpException(const std::string& Msg, uint16_t Code) : framework::Exception(Msg), ErrorCode(Code) {}
    uint16_t ErrorCode;
};

class THttpClient;
using THttpRequestDone = std::function<void(framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode)>;
using TDocDataEvent = std::function<void(framework::TComponent* Sender, const void* Buffer, int Len)>;
using TOnCommand = std::function<void(framework::TComponent* Sender, std::string& S)>;
using TCookieRcvdEvent = std::function<void(framework::TComponent* Sender, const std::string& Data, bool& Accept)>;
using TBeforeHeaderSendEvent =
    std::function<void(framework::TComponent* Sender, const std::string& Method, framework::TStringList& Headers)>;
using THttpBeforeAuthEvent = std::function<void(framework::TComponent* Sender, THttpAuthType AuthType, bool ProxyAuth,
                                                const std::string& AuthHdr, bool& Allow)>;
using TLocationChangeExceeded =
    std::function<void(framework::TComponent* Sender, int32_t RelocationCount, bool& AllowMoreRelocations)>;
using TSelectDnsEvent =
    std::function<void(framework::TComponent* Sender, framework::TStringList& DnsList, std::string& NewDns)>;
using TDataPushEvent = std::function<void(framework::TComponent* Sender, uint16_t ErrCode)>;

// Every event of THttpClient, and those TSslHttpClient adds (the socket's TLS events it
// relays): code and tests that must cover each event walk these lists.
#define VA_NET_HTTP_CLIENT_EVENTS(X)                                                                   \
    X(OnTrace) X(OnSessionConnected) X(OnSessionClosed) X(OnHeaderData) X(OnCommand) X(OnHeaderBegin)  \
    X(OnHeaderEnd) X(OnRequestHeaderBegin) X(OnRequestHeaderEnd) X(OnDocBegin) X(OnDocData) X(OnDocEnd) \
    X(OnSendBegin) X(OnSendData) X(OnSendEnd) X(OnStateChange) X(OnRequestDone) X(OnLocationChange)    \
    X(OnLocationChangeExceeded) X(OnCookie) X(OnDataPush) X(OnDataPush2) X(OnSocketError)             \
    X(OnBeforeHeaderSend) X(OnBeforeAuth) X(OnSelectDns) X(OnSocksConnected) X(OnSocksAuthState)       \
    X(OnSocksError)
#define VA_NET_HTTPS_CLIENT_EVENTS(X) \
    X(OnSslVerifyPeer) X(OnSslCliGetSession) X(OnSslCliNewSession) X(OnSslHandshakeDone) X(OnSslCliCertRequest)

class THttpClient : public TInetWndControl {
public:
    explicit THttpClient(framework::TComponent* Owner);
    ~THttpClient() override;

    // ---- Limits on what the server sends ----
    static constexpr size_t MaxHeaderLineLength = 16384;
    static constexpr int MaxHeaderLines = 256;
    static constexpr size_t MaxHeaderBytes = 256 * 1024;
    // Chunk extensions and the line end after the size.
    static constexpr size_t MaxChunkLineLength = 4096;
    // Interim (1xx) answers before the real one.
    static constexpr int MaxInterimAnswers = 16;

    // ---- Published properties ----
    std::string LocalAddr = "0.0.0.0";
    std::string LocalAddr6 = "::";
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string Sender;
    std::string Agent = "Mozilla/4.0";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string AcceptLanguage;
    std::string Reference;
    std::string Connection;
    std::string ProxyConnection;
    std::string Username, Password;
    std::string ProxyUsername, ProxyPassword;
    std::string ProxyURL;
    bool NoCache = false;
    TDateTime ModifiedSince = 0;
    std::string Cookie;
    framework::TStringList& ExtraHeaders() { return extraHeaders_; }
    void SetExtraHeaders(const framework::TStringList& Value);
    bool ResponseNoException = false;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    std::string ContentRangeBegin, ContentRangeEnd;
    std::string ContentIfRange;
    std::string ReqIfMatch, ReqIfNoneMatch;
    void SetMultiThreaded(bool Value) override;
    const std::string& RequestVer() const { return requestVer_; }
    // "1.0" or "1.1"; else EHttpException "Insupported HTTP version" (code 5).
    void SetRequestVer(const std::string& Value);
    bool FollowRelocation = true;
    int32_t LocationChangeMaxCount = 5;
    // Relocations followed by the current request (StartGet starts it over); counted by the
    // client.
    int32_t LocationChangeCurCount() const { return locationChangeCurCount_; }
    TLocationChangeExceeded OnLocationChangeExceeded;
    THttpAuthType ServerAuth = httpAuthNone;
    THttpAuthType ProxyAuth = httpAuthNone;
    uint32_t BandwidthLimit = 10000;
    uint32_t BandwidthSampling = 1000;
    // Bits 3 and 4 live in the content-coding handler.
    THttpClientOptions Options();
    void SetOptions(THttpClientOptions Value);
    // Seconds of silence after which RequestAndWait gives up.
    uint32_t Timeout = 30;
    // Milliseconds of silence (or of connecting) after which an asynchronous request ends
    // with httpErrTimeout; 0 = none. Without it a stalled server keeps the client busy.
    uint32_t IdleTimeoutMs = 0;
    // Milliseconds a whole request may take (relocations and retries included), however
    // busy the server keeps it; then it ends with httpErrTimeout. 0 = none.
    uint32_t RequestLimitMs = 0;
    // A relocation from an https URL to an http one ends the request with
    // httpErrInsecureRelocation instead of being followed.
    bool RefuseHttpsToHttp = false;
    // Handed to the socket's SOCKS layer before every connection; an empty level is 5, an
    // empty port 1080.
    std::string SocksServer, SocksLevel, SocksPort, SocksUsercode, SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    TSocketFamily SocketFamily() const { return socketFamily_; }
    void SetSocketFamily(TSocketFamily Value);
    TSocketErrs SocketErrs = wsErrTech;
    std::string AuthBearerToken;

    // ---- Events ----
    framework::TNotifyEvent OnTrace, OnSessionConnected, OnSessionClosed, OnHeaderData;
    TOnCommand OnCommand;
    framework::TNotifyEvent OnHeaderBegin, OnHeaderEnd, OnRequestHeaderBegin, OnRequestHeaderEnd, OnDocBegin;
    TDocDataEvent OnDocData;
    framework::TNotifyEvent OnDocEnd, OnSendBegin;
    TDocDataEvent OnSendData;
    framework::TNotifyEvent OnSendEnd, OnStateChange;
    THttpRequestDone OnRequestDone;
    framework::TNotifyEvent OnLocationChange;
    TCookieRcvdEvent OnCookie;
    TDataPushEvent OnDataPush;
    framework::TNotifyEvent OnDataPush2;
    TSocketEvent OnSocketError;
    TBeforeHeaderSendEvent OnBeforeHeaderSend;
    THttpBeforeAuthEvent OnBeforeAuth;
    TSelectDnsEvent OnSelectDns;
    // The socket's SOCKS events, relayed with the client as Sender.
    TSessionConnected OnSocksConnected;
    TSocksAuthStateEvent OnSocksAuthState;
    TSocksErrorEvent OnSocksError;

    // ---- Public state ----
    std::string URL;
    framework::TStream* ReceiveStream = nullptr;
    framework::TStream* UploadStream = nullptr;
    // What the client found out about the current exchange. Read-only: the body's framing
    // is decided from these, so no handler may move where a body ends.
    int32_t StatusCode() const { return resp_.StatusCode; }
    const std::string& ReasonPhrase() const { return resp_.ReasonPhrase; }
    const std::string& DocumentName() const { return documentName_; }
    int64_t ContentLength() const { return resp_.ContentLength; }
    int64_t ReceivedCount() const { return resp_.ReceivedCount; }
    int64_t SentCount() const { return resp_.SentCount; }
    const std::string& ContentType() const { return resp_.ContentType; }
    const std::string& TransferEncoding() const { return resp_.TransferEncoding; }
    const std::string& ContentEncoding() const { return resp_.ContentEncoding; }
    // The version of the last status line; kept across requests, as it tells how the open
    // connection's server treats keep-alive.
    const std::string& ResponseVersion() const { return responseVersion_; }
    const framework::TStringList& ResponseHeaders() const { return resp_.ResponseHeaders; }
    const std::string& Location() const { return resp_.Location; }
    TDateTime ResponseDate() const { return resp_.ResponseDate; }
    TDateTime ResponseLastModified() const { return resp_.ResponseLastModified; }
    TDateTime ResponseExpires() const { return resp_.ResponseExpires; }
    int32_t ResponseAge() const { return resp_.ResponseAge; }
    const std::string& ResponseCacheControl() const { return resp_.ResponseCacheControl; }
    const std::string& AcceptRanges() const { return resp_.AcceptRanges; }
    const std::string& ResponseEtag() const { return resp_.ResponseEtag; }
    THttpRequest RequestKind() const { return requestKind_; }
    uint16_t RequestError() const { return resp_.RequestError; }
    THttpClientState State() const { return state_; }
    TNetSocket* CtrlSocket() const { return socket_.get(); }
    THttpCodingHandler& ContentCodingHnd() { return *contentCoding_; }
    // The address the last connection went to ("" when forgotten).
    const std::string& LastAddress() const { return lastAddress_; }
    // The authentication states. NTLM: 0 none, 1 negotiate to send, 3 authenticate to
    // send, 4 done; Digest and Basic: 0 none, 1 credentials to send, 2 done or waiting for
    // a challenge.
    int AuthNTLMState() const { return serverAuth_.Ntlm; }
    int AuthDigestState() const { return serverAuth_.Digest; }
    int AuthBasicState() const { return serverAuth_.Basic; }
    int ProxyAuthNTLMState() const { return proxyAuth_.Ntlm; }
    int ProxyAuthDigestState() const { return proxyAuth_.Digest; }
    int ProxyAuthBasicState() const { return proxyAuth_.Basic; }
    // The challenges of the last response, parsed when it ended.
    const TWWWAuthInfos& WWWAuthInfos() const { return authInfos_; }
    // Passed to both NTLM message builders (see InetNtlmMsgs.h); 0 unless the owner sets it.
    uint32_t NtlmLevel = 0;
    // Why the logged-on user's NTLM session could not be used ("" when it could or was not
    // needed), e.g. where the system has no NTLM package.
    const std::string& SspiFailure() const { return sspiFailure_; }

    // ---- Operations ----
    // A new request starts from OnRequestDone or from outside the client's events; inside
    // any other of its events (after an Abort there too) the start is refused at once with
    // EHttpException code 1, as the code that fired the event still works on the request.
    void StartGet();
    void StartPost() { StartRequest(httpPOST); }
    void StartHead() { StartRequest(httpHEAD); }
    void StartClose() { StartRequest(httpCLOSE); }
    virtual void StartRequest(THttpRequest Kind);
    virtual void RequestAndWait(THttpRequest Kind);
    virtual void Abort();
    void SetTerminated(bool Value) override;
    void SetOnBgException(TInetBgExceptionEvent Event) override;
    void SetPumpHook(TInetPumpHook Event) override;
    void AttachToThread() override;
    void DetachFromThread() override;

protected:
    // ---- Virtual operations ----
    virtual void SetReady();
    virtual void MakeSocket();
    virtual void PrepareSocket();
    virtual void SendRequestHeader(const std::string& Method, const std::string& Version);
    virtual void ProcessHeaderLine();
    // Returns how many of the bytes belong to the document (the rest follows it).
    virtual int64_t ProcessBodyData(const uint8_t* Data, int64_t Len);
    virtual void SendHeaderLine(const std::string& Line);
    virtual void StartConnection();
    virtual void CloseConnection();
    virtual void ResetResponse(bool KeepLocation = false);
    virtual void ConnectOrReuse();
    // Each advances one authentication state machine by one step.
    virtual void StepNtlmAuth();
    virtual void StepProxyNtlmAuth();
    virtual void StepDigestAuth();
    virtual void StepProxyDigestAuth();
    virtual void StepBasicAuth();
    virtual void StepProxyBasicAuth();
    virtual void HandleSocketDnsDone(uint16_t Error);
    virtual void HandleSocketClosed(uint16_t Error);
    virtual void HandleSocketConnected(uint16_t Error);
    virtual void HandleSocketDataSent(uint16_t Error);
    virtual void HandleSocketData(uint16_t Error);
    virtual void RestartAfterRelocation(uint16_t Error);
    virtual void StateChange(THttpClientState NewState);
    // Each trigger fires its event through Fire: true when the client and its request are
    // still those that fired it, and only then does the caller go on.
    [[nodiscard]] virtual bool TriggerStateChange();
    [[nodiscard]] virtual bool TriggerCookie(const std::string& Data, bool& Accept);
    [[nodiscard]] virtual bool TriggerSessionConnected();
    [[nodiscard]] virtual bool TriggerSessionClosed();
    [[nodiscard]] virtual bool TriggerBeforeHeaderSend(const std::string& Method, framework::TStringList& Headers);
    [[nodiscard]] virtual bool TriggerRequestHeaderBegin();
    [[nodiscard]] virtual bool TriggerRequestHeaderEnd();
    [[nodiscard]] virtual bool TriggerHeaderBegin();
    [[nodiscard]] virtual bool TriggerHeaderEnd();
    [[nodiscard]] virtual bool TriggerDocBegin();
    [[nodiscard]] virtual bool TriggerDocData(const void* Data, int Len);
    [[nodiscard]] virtual bool TriggerDocEnd();
    [[nodiscard]] virtual bool TriggerSendBegin();
    [[nodiscard]] virtual bool TriggerSendData(const void* Data, int Len);
    [[nodiscard]] virtual bool TriggerSendEnd();
    virtual void PostRequestDone();
    virtual void PostSetReady();
    virtual void DocNameFromPath();
    // Nothing of the client is touched after it: the handler may free it or start anew.
    virtual void TriggerRequestDone();
    [[nodiscard]] virtual bool TriggerCommand(std::string& S);
    [[nodiscard]] virtual bool TriggerHeaderData();
    [[nodiscard]] virtual bool TriggerLocationChange();

    // Counts the client's events under way (OnRequestDone excepted) while one runs; the
    // count survives a handler that frees the client.
    class TEventScope {
    public:
        explicit TEventScope(THttpClient& Client) : client_(Client), alive_(Client.AliveToken()) { ++client_.eventDepth_; }
        ~TEventScope() {
            if (*alive_) --client_.eventDepth_;
        }
        TEventScope(const TEventScope&) = delete;
        TEventScope& operator=(const TEventScope&) = delete;

    private:
        THttpClient& client_;
        std::shared_ptr<const bool> alive_;
    };
    int eventDepth_ = 0;
    // The one way the client calls a handler of its own (OnRequestDone excepted), counted
    // as under way. The request's work changes (NewWork) when it starts, is aborted and
    // when its end is posted, so the answer is false after any of these as after a free.
    template <class Handler, class... Args>
    [[nodiscard]] bool Fire(const Handler& Event, Args&&... A) {
        TEventScope scope(*this);
        return FireEvent(Event, std::forward<Args>(A)...);
    }

    // The outputs of the current exchange, all reset at once by ResetResponse.
    struct TResponseInfo {
        int32_t StatusCode = 0;
        std::string ReasonPhrase;
        int64_t ContentLength = -1;
        int64_t ReceivedCount = 0;
        int64_t SentCount = 0;
        std::string ContentType, TransferEncoding, ContentEncoding;
        // The body is framed by chunks (decided when the head ends).
        bool Chunked = false;
        framework::TStringList ResponseHeaders;
        std::string Location;
        TDateTime ResponseDate = 0, ResponseLastModified = 0, ResponseExpires = 0;
        int32_t ResponseAge = -1;
        std::string ResponseCacheControl;
        std::string AcceptRanges;
        std::string ResponseEtag;
        uint16_t RequestError = 0;
    };
    TResponseInfo resp_;
    std::string documentName_;
    std::string responseVersion_;
    THttpRequest requestKind_ = httpABORT;

    void WndProc(framework::TMessage& Msg) override;
    int MessageIdCount() override { return TInetWndControl::MessageIdCount() + 3; }
    void TakeMessageIds() override;
    void ReturnMessageIds() override;
    void AbortAfterException(const std::exception& E) override;

    // ---- The steps of StartRequest ----
    // Raises EHttpException for a start that cannot be taken now (busy, inside an event,
    // nothing to upload).
    void RefuseStartIfBusy(THttpRequest Kind);
    // A new request number, and the whole-request time limit armed.
    void BeginRequestCount(THttpRequest Kind);
    // httpCLOSE: the connection closes (later, when open), then the client is ready.
    void CloseOnRequest();
    // The kind, the response reset, the credentials and connection values of the
    // properties, and the proxy of ProxyURL.
    void TakeRequestSettings(THttpRequest Kind);
    // URL split into what is asked of whom: request host, port and path, the host and port
    // to connect to (the proxy's when one is set), the document name.
    void TakeRequestTarget();
    // The authentication states cleared and preset for the request.
    void PrepareAuthForRequest();
    // The kept connection when it leads to the same place, else a new one.
    void ReuseOrConnect();

    // ---- Shared between the client's sources ----
    // Ends the request with Code and Reason: the connection is dropped, ready is posted.
    void FailRequest(uint16_t Code, const std::string& Reason);
    void StartUpload();
    void SendRequest();
    void Rewind();
    // The relocation target of a "location" value.
    void HandleLocation(std::string Value);
    // "GET" and the like for RequestKind.
    std::string MethodText() const;
    void ConsumeBuffer(size_t Count);
    // HandleSocketData by where the bytes go. Each returns false when the read is over for
    // now (the bytes wait for more, the request ended, or they are not ours).
    // The proxy's answer to CONNECT: true when it is to be read as an ordinary answer (407).
    bool ReadTunnelAnswer();
    // Hands the complete lines of the buffer to the header parser.
    bool ReadHeaderLines();
    // Hands the buffer to the body as one piece.
    bool ReadBodyBytes();
    // ProcessHeaderLine's steps: count and bound the line (false when over a bound), an
    // answer without any head, the status line, a field line or a folded one.
    bool CountHeaderLine();
    bool TakeHeaderlessAnswer(const std::string& Line);
    void ReadStatusLine(const std::string& Line);
    void ReadFieldLine(const std::string& Line);
    // A field takes effect once the next line shows that it is not folded any further.
    void ApplyPendingField();
    void ApplyField(const std::string& Name, const std::string& Value);
    void ForgetFields();
    void EndOfHeader();
    // False when the request ended in OnDocBegin (or the client went).
    bool BeginDocument();
    void EndDocument();
    // The document is complete: close, relocate or become ready.
    void AfterDocument();
    // Whether the relocation count allows one more (asks OnLocationChangeExceeded).
    bool RelocationAllowed();
    void ChangeMethodForRelocation();
    bool ProxyUsed() const { return !Proxy.empty(); }
    // Whether this client speaks TLS (the HTTPS variant does).
    virtual bool TlsCapable() const { return false; }
    // False when the connection must wait for something it needs that is being made on
    // another thread; the idStartConnection_ message (with startConnectionPosted_ set)
    // then starts it.
    virtual bool ReadyToConnect() { return true; }
    void HandleSslHandshakeDone(uint16_t Error, TX509Base* PeerCert, bool& Disconnect);
    // The TLS handshake of the request's connection ended (nothing here; the HTTPS variant
    // reports it).
    [[nodiscard]] virtual bool TriggerSslHandshakeDone(uint16_t ErrCode, TX509Base* PeerCert, bool& Disconnect);
    bool TunnelAnswerComplete();
    // Starts TLS over the proxy's open CONNECT tunnel.
    void StartTunnelTls();

    // ---- Authentication (HttpClientAuth.cpp) ----
    // The presets at the start of a request, after the states were cleared.
    void PresetAuthentication();
    // Runs when a response has ended: true when a retry was started or the request was
    // ended by the steps (request-done already posted).
    bool HandleAuthentication();
    // A POST, PUT or PATCH whose last request was an NTLM negotiate step, sent without its
    // body.
    bool BodyWithheldForNtlm() const;
    // Sends the withheld body again without NTLM after an answer that asked for nothing.
    bool ResendWithBody();
    void ParseChallenges();
    const TWWWAuthInfo* FindChallenge(THttpAuthType Type) const;
    bool DoNtlmAuth();
    bool DoDigestAuth();
    bool DoBasicAuth();
    bool AskBeforeAuth(THttpAuthType Type, bool Proxy, const std::string& Header);
    void RestartForAuth();
    // The challenge stays unanswered: the state starts over and the request ends.
    template <class TState>
    void GiveUpAuth(TState& State) {
        challenges_.Clear();
        AuthStateChange(State, TState(0));
        PostRequestDone();
    }
    struct TAuthSide;
    void StepDigestSide(TAuthSide& Side, const char* StateName);
    void StepBasicSide(TAuthSide& Side, const char* StateName);
    // Every change of the six states goes through these.
    void AuthStateChange(TNtlmAuthState& State, TNtlmAuthState NewState);
    void AuthStateChange(TDigestAuthState& State, TDigestAuthState NewState);
    void AuthStateChange(TBasicAuthState& State, TBasicAuthState NewState);
    // All three states of one side back to none, as at the start of a request.
    void ResetAuthStates(TAuthSide& Side);
    // "Keep-alive" is needed while the version may close the connection.
    bool KeepAliveByVersion() const;
    // Whether the open connection can carry the current request: same proxy or server,
    // and through a proxy's tunnel, the same target.
    bool CanReuseConnection() const;
    // The logged-on user's NTLM session for the proxy, created on first use; false (with
    // sspiFailure_ set) when the system cannot give one.
    bool EnsureSspiSession();
    // The credential lines of the request header; HostText is the request host as sent.
    void AddAuthLines(framework::TStringList& Lines, const std::string& Method, const std::string& HostText);
    std::string BasicAuthValue(bool Proxy) const;
    std::string DigestAuthValue(bool Proxy, const std::string& Method, const std::string& HostText);
    std::string NtlmNegotiateValue(bool Proxy);

    std::unique_ptr<TNetSocket> socket_;
    std::unique_ptr<THttpCodingHandler> contentCoding_;
    framework::TStringList extraHeaders_;
    framework::TMemoryStream sendBuffer_;
    std::string requestVer_ = "1.0";
    THttpClientOptions options_ = 0;
    TSocketFamily socketFamily_ = sfIPv4;
    THttpClientState state_ = hcsReady;

    UINT idRequestDone_ = 0, idSetReady_ = 0, idStartConnection_ = 0;
    // Every request gets a number; the posted set-ready and request-done carry it, so that
    // one left queued by an ended request cannot end the next one. doneId_ is the last
    // request whose end was posted: one request, one OnRequestDone.
    uint32_t requestId_ = 0, doneId_ = 0;
    // The request-done of doneId_ is posted and has not come through yet (a thread move
    // posts it again on the new thread).
    bool donePending_ = false;
    LPARAM donePosted_ = 0;
    // Whether the request has ended (aborted, or ready) since Id was current.
    bool RequestEnded(uint32_t Id) const { return Id != requestId_ || state_ == hcsReady || state_ == hcsAborting; }
    // Stops an upload still under way; the connection, with part of a body on it, is dropped.
    // False when the request ended in OnSendEnd (or the client went).
    bool StopUpload();
    // Ends the running request with httpErrTimeout.
    void EndOnTimeout();
    std::unique_ptr<TInetTimer> limitTimer_;

    // The current request.
    std::string curUser_, curPassword_, curConnection_, curProxyConnection_;
    std::string connectHost_, connectPort_;
    std::string requestHost_, requestPort_, requestPath_, protocol_;
    std::string docNameSource_;
    // The open connection, for reuse.
    std::string openHost_, openPort_, openProtocol_;
    std::string lastAddress_;
    int lastAddressIndex_ = -1;
    bool connected_ = false;
    bool closeAfterResponse_ = true;
    bool tunnelAnswered_ = false;
    bool relocationPending_ = false;
    bool startConnectionPosted_ = false;
    bool receivingHeader_ = false;
    bool setReadyPosted_ = false;
    bool restartOnClose_ = false;
    // One side of the authentication (the server's or the proxy's): its three states, kept
    // for the retries, the parsed challenges and the NTLM authenticate (type 3) message,
    // built when the challenge arrives.
    struct TAuthSide {
        TNtlmAuthState Ntlm = ntlmAuthNone;
        TDigestAuthState Digest = digestAuthNone;
        TBasicAuthState Basic = basicAuthNone;
        TNTLM_Msg2_Info NtlmInfo;
        TDigestAuthInfo DigestInfo;
        std::string NtlmAuthenticate;
        // A stale nonce was answered once in this exchange.
        bool StaleAnswered = false;
    };
    TAuthSide serverAuth_, proxyAuth_;
    framework::TStringList challenges_;
    TWWWAuthInfos authInfos_;
    uint16_t authTypesPresent_ = 0;  // one bit per THttpAuthType in authInfos_
    bool authRetry_ = false;
    // The request went again with its body after its negotiate step was not challenged.
    bool bodyResent_ = false;
    int32_t locationChangeCurCount_ = 0;
    // The logged-on user's session for a proxy that asks for NTLM while no proxy
    // credentials are set, and whether the current exchange goes through it.
    std::unique_ptr<TNtlmAuthSession> sspiProxy_;
    bool proxyUsesSspi_ = false;
    std::string proxySspiNegotiate_;
    std::string sspiFailure_;
    // host:port of the CONNECT tunnel the open connection carries ("" for none).
    std::string openTunnel_;
    bool tunnelTlsPending_ = false;

    // Receiving.
    std::vector<uint8_t> rcvBuf_;
    size_t rcvCount_ = 0;
    std::string lastLine_;
    bool lastLineCR_ = false;
    // The last field line of the head, not yet applied (a folded line may continue it).
    std::string fieldName_, fieldValue_;
    bool fieldPending_ = false;
    std::vector<std::string> transferCodings_;
    int interimCount_ = 0;
    // The scheme, host and port the server credentials were given for; a relocation
    // elsewhere leaves them behind.
    std::string credOrigin_, credUser_, credPassword_;
    bool serverCredsApply_ = true;
    // The origin the credentials in use (curUser_, curPassword_) belong to: the request's, or
    // that of a relocation URL that named its own.
    std::string curCredOrigin_;
    int32_t headerLineCount_ = 0;
    size_t headerBytes_ = 0;
    bool inBody_ = false;
    // Where complete lines go: the header parser, or nothing once the body is done.
    enum class TReceiveTarget : uint8_t { None, Header, Body } receiveTarget_ = TReceiveTarget::None;
    THttpChunkDecoder chunks_{THttpChunkLimits{MaxChunkLineLength, int64_t(1) << 48, MaxHeaderBytes}};
    int64_t rewindReceiveSize_ = 0;
    // Sending.
    std::vector<uint8_t> uploadBuf_;
    bool uploading_ = false;
    bool readyDue_ = false;
    // The connection the request was found unusable on; a close after the error is noise.
    bool failed_ = false;
};

// The HTTPS variant: the socket speaks TLS for "https" URLs (verified against the context's
// trust settings, with the request host as the server name).
class TSslHttpClient : public THttpClient {
public:
    explicit TSslHttpClient(framework::TComponent* Owner) : THttpClient(Owner) {}
    ~TSslHttpClient() override;
    TSslContext* SslContext() const { return socket_->SslContext(); }
    void SetSslContext(TSslContext* Value) { socket_->SetSslContext(Value); }
    framework::TStringList& SslAcceptableHosts() { return socket_->SslAcceptableHosts; }
    // Offered to the server when not empty (handed to the context before each connection).
    framework::TStringList AlpnProtocols;

    // The socket's TLS events, with the socket as Sender; OnSslHandshakeDone follows the
    // client's own handling of the handshake's end.
    TSslVerifyPeerEvent OnSslVerifyPeer;
    TSslCliGetSession OnSslCliGetSession;
    TSslCliNewSession OnSslCliNewSession;
    TSslHandshakeDoneEvent OnSslHandshakeDone;
    TSslCliCertRequest OnSslCliCertRequest;

protected:
    bool TlsCapable() const override { return true; }
    // A context yet to be built that trusts the Windows ROOT store waits until the stores
    // have been read on a thread of their own: on this thread the read would hold every
    // window of it for as long.
    bool ReadyToConnect() override;
    void PrepareSocket() override;
    // Clears ReasonPhrase and fires OnSslHandshakeDone.
    [[nodiscard]] bool TriggerSslHandshakeDone(uint16_t ErrCode, TX509Base* PeerCert, bool& Disconnect) override;
};
