// The HTTP CONNECT tunnel layer of the socket chain. With a tunnel server set, it connects
// to that proxy instead of the target, asks it for "CONNECT host:port", answers a 407 with
// Basic, Digest or NTLM (reconnecting when the proxy closes), skips the answer's body and
// only then reports the session connected. Bytes that followed the answer are handed out
// first. With no tunnel server set it passes every operation through to the socket core.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/CustomNetSocket.h"
#include "net/HttpChallenges.h"
#include "net/HttpFraming.h"
#include "net/InetDigestAuth.h"

enum THttpTunnelAuthType { htatDetect = 0, htatNone = 1, htatBasic = 2, htatDigest = 3, htatNtlm = 4 };
// What the proxy offered, bits 0..2.
enum THttpTunnelServerAuthType { htsatBasic = 0, htsatNtlm = 1, htsatDigest = 2 };
using THttpTunnelServerAuthTypes = uint8_t;
constexpr THttpTunnelServerAuthTypes HttpTunnelOffered(THttpTunnelServerAuthType T) { return uint8_t(1u << T); }

// The events this layer fires itself; the session events it relays come from the core's list.
#define VA_NET_HTTP_TUNNEL_EVENTS(X) X(OnHttpTunnelConnected) X(OnHttpTunnelError)

using TSessionConnected = TSocketEvent;
using THttpTunnelErrorEvent = std::function<void(framework::TComponent* Sender, uint16_t ErrCode,
                                                 THttpTunnelServerAuthTypes TunnelServerAuthTypes,
                                                 const std::string& Msg)>;

class TCustomHttpTunnelNetSocket : public TCustomNetSocket {
public:
    explicit TCustomHttpTunnelNetSocket(framework::TComponent* Owner);
    ~TCustomHttpTunnelNetSocket() override;

    const std::string& HttpTunnelServer() const { return tunnelServer_; }
    void SetHttpTunnelServer(const std::string& Value);
    const std::string& HttpTunnelPort() const { return tunnelPort_; }
    void SetHttpTunnelPort(const std::string& Value);
    THttpTunnelAuthType HttpTunnelAuthType() const { return authType_; }
    void SetHttpTunnelAuthType(THttpTunnelAuthType Value);
    const std::string& HttpTunnelUsercode() const { return tunnelUser_; }
    void SetHttpTunnelUsercode(const std::string& Value);
    const std::string& HttpTunnelPassword() const { return tunnelPassword_; }
    void SetHttpTunnelPassword(const std::string& Value);
    // Receive buffer for the proxy's answer: its longest header line.
    int32_t HttpTunnelBufferSize = 1024;
    uint32_t HttpTunnelNtlmLevel = 0;
    // The proxy's status line, also the text of an error report.
    const std::string& HttpTunnelLastResponse() const { return answerText_; }

    TSessionConnected OnHttpTunnelConnected;
    THttpTunnelErrorEvent OnHttpTunnelError;

    void Connect() override;
    void Listen() override;
    int PendingReceiveCount() override;

protected:
    // True while a proxy (tunnel or SOCKS) negotiates the connection: the bytes on the wire
    // are then the proxy's, not the application's.
    virtual bool ProxyNegotiating() { return tunnelState_ != htsOff || failed_; }
    // The SOCKS layer above says whether it is switched on; the two exclude each other.
    virtual bool SocksServerSet() const { return false; }

    void TransportConnected(uint16_t ErrCode) override;
    bool TriggerDataAvailable(uint16_t ErrCode) override;
    void TriggerSessionClosed(uint16_t ErrCode) override;
    void HandleFdClose(framework::TMessage& Msg, uint16_t Error) override;
    int Receive(void* Buffer, int Size, int Flags) override;
    int64_t ConsumedMark() override { return TCustomNetSocket::ConsumedMark() + taken_; }
    void SetDefaults() override;
    // An error raised while the proxy answers leaves no half-read answer behind.
    void RaiseSocketError(const std::string& Msg, int ErrCode, const std::string& ProtocolText,
                          const std::string& PortText, const std::string& AddressText, const std::string& OperationName,
                          const std::string& UserText, const std::string& ErrorText) override;
    // One more message: the reconnect after the proxy closed on a 407.
    int MessageIdCount() override { return TCustomNetSocket::MessageIdCount() + 1; }
    void TakeMessageIds() override;
    void ReturnMessageIds() override;
    void WndProc(framework::TMessage& Msg) override;
    // What a proxy layer (this one or SOCKS) does around opening the transport to its proxy.
    struct TProxyConnectSteps {
        // Refuses a proxy reached over IPv6 with this text ("" = allowed).
        std::string IPv6Refusal;
        // Runs once everything is resolved, just before the transport connects.
        std::function<void()> Begin;
        // Runs when the connect threw or left the socket closed.
        std::function<void()> Undo;
    };
    // Resolves Server (an IP literal also sets the socket family), ServerPort and the target
    // port (into TargetPort), then connects the transport to the proxy in place of the target;
    // the target's address and port are put back whatever happens. A failed resolution is
    // raised as "Connect: " + its text and nothing is connected.
    void ConnectThroughProxy(const std::string& Server, const std::string& ServerPort, uint16_t& TargetPort,
                             const TProxyConnectSteps& Steps);
    // Hands out buffered target bytes first; posts a read event while some remain.
    int TakeBuffered(void* Buffer, int Size, int Flags, std::string& From, size_t& Offset);

private:
    void ResetAuthState();
    void ResetAnswer();
    // off (or done), connecting to the proxy, TCP up, CONNECT sent without credentials,
    // sent with Basic or an NTLM type-1 message, sent with Digest or an NTLM type-3 message
    enum THttpTunnelState : uint8_t {
        htsOff = 0, htsConnecting = 1, htsTcpUp = 2, htsPlainSent = 3, htsFirstSent = 4, htsSecondSent = 5
    };
    // Why the tunnel goes off: reset (a new start, a failed connect, the socket's defaults),
    // granted (the buffer keeps what followed the answer), a reconnect with
    // pendingReconnect_'s method, or the proxy's refusal.
    enum class TTunnelEnd : uint8_t { Reset, Granted, Reconnect, Failed };
    // Enters NewState and does what entering it means; End says why the tunnel goes off.
    void TunnelStateChange(THttpTunnelState NewState, TTunnelEnd End = TTunnelEnd::Reset);
    // The proxy's connection is up and the tunnel not granted yet.
    bool ProxyExchangeOpen() const { return tunnelState_ >= htsTcpUp; }
    // A CONNECT is out: what arrives is the proxy's answer.
    bool AnswerAwaited() const { return tunnelState_ >= htsPlainSent; }
    // The proxy's status, or 21000 (its protocol error) while no status line was read.
    int StatusOrProtocolError() const { return status_.value_or(21000); }
    void SendRequest(const std::string& Auth, THttpTunnelState NewState, bool KeepAlive);
    void SendPlain();
    void SendBasic();
    void SendDigest();
    void SendNtlm1();
    // False (nothing sent) when the challenge cannot be answered.
    bool SendNtlm3();
    void StartRequest();
    // false once the tunnel is done or failed: the rest of the buffer is not the proxy's.
    bool ParseLine(const std::string& Line);
    bool SkipBody();
    void Decide();
    void Granted();
    void TunnelError(int Code);
    void Reconnect();
    // The proxy closed instead of answering a request on a kept-alive connection: sets up the
    // reconnect that sends it again (false when that is not the case, or was done already).
    bool TakeCloseRetry();

    std::string tunnelServer_, tunnelPort_, tunnelUser_, tunnelPassword_;
    THttpTunnelAuthType authType_ = htatDetect, curAuth_ = htatDetect;
    THttpTunnelState tunnelState_ = htsOff;
    // The method the reconnect after a closing 407 starts with.
    enum class TTunnelReconnect : uint8_t { None, Basic, Digest, Ntlm };
    TTunnelReconnect pendingReconnect_ = TTunnelReconnect::None;
    // The proxy's status; none until a status line is read.
    std::optional<int> status_;
    // The proxy refused: the connection carries no target data.
    bool failed_ = false;
    bool keepAlive_ = true, http10_ = false, chunked_ = false, inBody_ = false, proxyClosed_ = false;
    bool answerCut_ = false;
    // The request out now followed an answer on the same connection; one retry after the
    // proxy closed instead of answering was made in this attempt; a request is being sent.
    bool reusedConnection_ = false, closeRetried_ = false, sending_ = false;
    int64_t contentLength_ = -1;
    // The answer's transfer codings, in order; how they frame its body is decided at its end.
    std::vector<std::string> transferCodings_;
    THttpChunkDecoder chunks_;
    std::string answerText_;
    THttpTunnelServerAuthTypes offered_ = 0;
    TDigestAuthInfo digest_;
    bool digestAccepted_ = false, digestSupported_ = false;
    std::string ntlmChallenge_;
    // The challenges of the 407 being read; a stale nonce answered once in this exchange.
    std::vector<THttpChallenge> challenges_;
    bool staleAnswered_ = false;
    std::string buffer_;  // the answer as read; after it, target bytes
    size_t offset_ = 0;
    std::string targetAddr_;
    uint16_t targetPort_ = 0;
    int64_t taken_ = 0;
    UINT idHttpTunnelReconnect_ = 0;
};
