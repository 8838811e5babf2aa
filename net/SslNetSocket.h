// The TLS layer of the socket chain. With TLS off it passes every operation through to the
// layer below.
#pragma once

#include "net/SocksNetSocket.h"

class TCustomSslNetSocket : public TCustomSocksNetSocket {
public:
    explicit TCustomSslNetSocket(framework::TComponent* Owner) : TCustomSocksNetSocket(Owner) {}
    ~TCustomSslNetSocket() override { DisposeSocket(); }
};
