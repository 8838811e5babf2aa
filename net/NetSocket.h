// The finished socket component: the core with every layer above it, from the proxy
// tunnel up to the bandwidth limit. It adds nothing of its own.
#pragma once

#include "net/ThrottledNetSocket.h"

class TNetSocket : public TCustomThrottledNetSocket {
public:
    explicit TNetSocket(framework::TComponent* Owner) : TCustomThrottledNetSocket(Owner) {}
    ~TNetSocket() override { DisposeSocket(); }
};
