// The types every socket layer and the name resolvers share: states, options, families and
// the other small enumerations of the socket component, its event signatures, and
// ESocketException.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/Component.h"
#include "framework/Exception.h"

enum TSocketState : uint8_t {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsSocksConnected = 4,
    wsConnected = 5,
    wsAccepting = 6,
    wsListening = 7,
    wsClosed = 8,
    wsDnsLookup = 9
};

enum TNetSocketOption : uint16_t {
    wsoNoReceiveLoop = 0,
    wsoTcpNoDelay = 1,
    wsoSIO_RCVALL = 2,
    wsoNoHttp10Tunnel = 3,
    wsoNotifyAddressListChange = 4,
    wsoNotifyRoutingInterfaceChange = 5,
    wsoAsyncDnsLookup = 6,
    wsoInetDnsLookup = 7,
    wsoUseSTD3AsciiRules = 8,
    wsoIgnoreIDNA = 9,
    wsoNoSendException = 10
};

// A set of TNetSocketOption, one bit per option.
class TNetSocketOptions {
public:
    TNetSocketOptions() = default;
    TNetSocketOptions(std::initializer_list<TNetSocketOption> Options) {
        for (auto o : Options) Include(o);
    }
    bool Has(TNetSocketOption O) const { return (bits_ >> O) & 1u; }
    TNetSocketOptions& Include(TNetSocketOption O) {
        bits_ = uint16_t(bits_ | (1u << O));
        return *this;
    }
    TNetSocketOptions& Exclude(TNetSocketOption O) {
        bits_ = uint16_t(bits_ & ~(1u << O));
        return *this;
    }
    uint16_t Bits() const { return bits_; }
    bool operator==(const TNetSocketOptions&) const = default;

private:
    uint16_t bits_ = 0;
};

enum TSocketFamily : uint8_t { sfAny = 0, sfAnyIPv4 = 1, sfAnyIPv6 = 2, sfIPv4 = 3, sfIPv6 = 4 };
enum TSocketSendFlags : uint8_t { wsSendNormal = 0, wsSendUrgent = 1 };
enum TSocketLingerOnOff : uint8_t { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };
enum TSocketKeepAliveOnOff : uint8_t { wsKeepAliveOff = 0, wsKeepAliveOnCustom = 1, wsKeepAliveOnSystem = 2 };
enum TSocketErrs : uint8_t { wsErrTech = 0, wsErrFriendly = 1 };

class ESocketException : public framework::Exception {
public:
    // With SocketCode > 0 and no ErrorText, the error text of the code; an empty UserText
    // becomes Msg.
    ESocketException(const std::string& Msg, const std::string& ProtocolText = "", const std::string& PortText = "",
                     const std::string& AddressText = "", const std::string& OperationName = "",
                     const std::string& UserText = "", const std::string& ErrorText = "", int SocketCode = 0);

    std::string ErrorText;
    std::string AddressText;
    std::string PortText;
    std::string ProtocolText;
    int SocketCode = 0;
    std::string UserText;
    std::string OperationName;
};

using TSocketEvent = std::function<void(framework::TComponent* Sender, uint16_t ErrCode)>;
using TSendDataEvent = std::function<void(framework::TComponent* Sender, int BytesSent)>;
using TChangeStateEvent =
    std::function<void(framework::TComponent* Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketExceptionEvent = std::function<void(framework::TComponent* Sender, ESocketException& SocExcept)>;
