// The SOCKS proxy layer of the socket chain. With a SOCKS server set it connects to that
// server instead of the target and negotiates the connection with SOCKS 4, 4A or 5 (with
// user/password for 5); the owner sees the session connected only once the server granted
// it, and bytes that followed the grant are handed out first. With no SOCKS server set it
// passes every operation through to the layer below.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/HttpTunnelNetSocket.h"

enum TSocksAuthentication { socksNoAuthentication = 0, socksAuthenticateUsercode = 1 };
enum TSocksAuthState { socksAuthStart = 0, socksAuthSuccess = 1, socksAuthFailure = 2, socksAuthNotRequired = 3 };
using TSocksErrorEvent = std::function<void(framework::TComponent* Sender, uint16_t ErrCode, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(framework::TComponent* Sender, TSocksAuthState AuthState)>;

// The events this layer fires itself; the session events it relays come from the core's list.
#define VA_NET_SOCKS_EVENTS(X) X(OnSocksConnected) X(OnSocksError) X(OnSocksAuthState)

class TCustomSocksNetSocket : public TCustomHttpTunnelNetSocket {
public:
    explicit TCustomSocksNetSocket(framework::TComponent* Owner) : TCustomHttpTunnelNetSocket(Owner) {}
    ~TCustomSocksNetSocket() override { DisposeSocket(); }

    const std::string& SocksServer() const { return socksServer_; }
    void SetSocksServer(const std::string& Value);
    const std::string& SocksLevel() const { return socksLevel_; }
    void SetSocksLevel(const std::string& Value);
    const std::string& SocksPort() const { return socksPort_; }
    void SetSocksPort(const std::string& Value);
    std::string SocksUsercode;
    std::string SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    const std::string& ProxyURL() const { return proxyUrl_; }
    void SetProxyURL(const std::string& Value);
    // Where the SOCKS 5 server bound the connection, from its reply.
    const std::string& SocksBoundAddr() const { return boundAddr_; }
    const std::string& SocksBoundPort() const { return boundPort_; }

    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

    void Connect() override;
    void Listen() override;
    int PendingReceiveCount() override;

protected:
    bool ProxyNegotiating() override { return socksState_ != socksIdle || TCustomHttpTunnelNetSocket::ProxyNegotiating(); }
    bool SocksServerSet() const override { return !socksServer_.empty(); }
    void TransportConnected(uint16_t ErrCode) override;
    bool TriggerDataAvailable(uint16_t ErrCode) override;
    void TriggerSessionClosed(uint16_t ErrCode) override;
    int Receive(void* Buffer, int Size, int Flags) override;
    int64_t ConsumedMark() override { return TCustomHttpTunnelNetSocket::ConsumedMark() + taken_; }
    void SetDefaults() override;
    // Each fires its event; true when the socket and its connection attempt held.
    [[nodiscard]] virtual bool TriggerSocksConnected(uint16_t ErrCode);
    [[nodiscard]] virtual bool TriggerSocksError(uint16_t ErrCode, const std::string& Msg);
    [[nodiscard]] virtual bool TriggerSocksAuthState(TSocksAuthState AuthState);

private:
    void SendNegotiation(const std::string& Bytes);
    void SocksDoConnect();
    void SocksDoAuthenticate();
    void SocksError(int Code, const std::string& Msg);
    void SocksGranted(size_t ReplyLen);
    // Handles the bytes in the reply buffer; false while the reply is incomplete.
    bool HandleReply();

    // The longest reply: SOCKS 5 naming a domain of 255 bytes (4 + 1 + 255 + 2).
    static constexpr size_t kReplySize = 262;

    std::string socksServer_, socksLevel_ = "5", socksPort_, proxyUrl_;
    // idle (or done), greeting sent (connecting to the server first), authentication sent,
    // connect request sent, refused (until the connection ends: what the server still sends
    // is its own, and its close is no second failure)
    enum TSocksState : uint8_t {
        socksIdle = 0, socksGreeting = 1, socksAuthSent = 2, socksRequestSent = 3, socksFailed = 4
    };
    void SocksStateChange(TSocksState NewState);
    TSocksState socksState_ = socksIdle;
    uint8_t method_ = 0;
    uint8_t reply_[kReplySize] = {};
    size_t fill_ = 0;
    std::string boundAddr_, boundPort_;
    std::string targetAddr_;
    uint16_t targetPort_ = 0;
    std::string after_;  // bytes that followed the grant
    size_t afterOffset_ = 0;
    int64_t taken_ = 0;
    bool inClosed_ = false;
};
