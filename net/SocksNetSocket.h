// The SOCKS proxy layer of the socket chain. With no SOCKS server set it passes every
// operation through to the layer below.
#pragma once

#include "net/HttpTunnelNetSocket.h"

class TCustomSocksNetSocket : public TCustomHttpTunnelNetSocket {
public:
    explicit TCustomSocksNetSocket(framework::TComponent* Owner) : TCustomHttpTunnelNetSocket(Owner) {}
    ~TCustomSocksNetSocket() override { DisposeSocket(); }
};
