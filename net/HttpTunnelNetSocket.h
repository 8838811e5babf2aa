// The HTTP CONNECT tunnel layer of the socket chain. With no tunnel server set it passes
// every operation through to the socket core.
#pragma once

#include "net/CustomNetSocket.h"

class TCustomHttpTunnelNetSocket : public TCustomNetSocket {
public:
    explicit TCustomHttpTunnelNetSocket(framework::TComponent* Owner) : TCustomNetSocket(Owner) {}
    ~TCustomHttpTunnelNetSocket() override { DisposeSocket(); }

protected:
    // True while a proxy (tunnel or SOCKS) negotiates the connection: the bytes on the wire
    // are then the proxy's, not the application's.
    virtual bool ProxyNegotiating() { return false; }
};
