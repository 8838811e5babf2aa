// The finished TLS socket component: the whole socket chain with TLS in it. It adds nothing.
#pragma once

#include "net/NetSocket.h"

class TSslNetSocket : public TNetSocket {
public:
    explicit TSslNetSocket(framework::TComponent* Owner) : TNetSocket(Owner) {}
    ~TSslNetSocket() override { DisposeSocket(); }
};
