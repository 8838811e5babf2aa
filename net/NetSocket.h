// The finished socket component: the core with every layer above it, from the proxy
// tunnel up to the bandwidth limit. It adds nothing of its own.
//
// Layer map. The chain, from the bottom:
//   W  TInetWndControl            hidden window, message ids, alive token
//   C  TCustomNetSocket           the socket core
//   H  TCustomHttpTunnelNetSocket HTTP CONNECT proxy
//   S  TCustomSocksNetSocket      SOCKS 4/4A/5 proxy
//   T  TCustomSslNetSocket        TLS
//   L  TCustomLineNetSocket       line mode
//   Y  TCustomSyncNetSocket       waiting (adds RunAndWait, WaitUntilSet; overrides nothing)
//   O  TCustomTimeoutNetSocket    connect and idle limits
//   B  TCustomThrottledNetSocket  bandwidth limit
//   N  TNetSocket                 the finished class (overrides nothing)
// For each virtual operation overridden above the core, the layers that override it and how
// each reaches the one below:
//   before  the layer calls the one below first, then does its own work
//   after   the layer does its own work first, then calls the one below
//   around  own work on both sides of the call below
//   own     while the layer is active (its proxy or TLS negotiating or on, line mode on) it
//           does the work itself and does not call below; otherwise it passes straight down
//
//   Connect               H own, S own, O around (arms its timer, disarms it when Connect ended)
//   Listen                H after, S after, T passes down
//   Close                 T own (TLS close_notify first), else below
//   Accept                T passes down
//   Dup                   T before (then takes up TLS on the adopted handle)
//   Shutdown              T after (close_notify first)
//   Resume                T before
//   AttachToThread        T before, O before, B before
//   DetachFromThread      O after, B after
//   WndProc               T own for its ids, L own for IdDataRetrigger, else below
//   TryToSend             T own (plaintext through TLS), else below
//   AppendToSendBuffer    T own (plaintext queue), else below
//   SetDefaults           H after, T after
//   ShutdownAndClose      T around
//   HardAbort             T after, L around (drop flag for this connection only)
//   Receive               H own, S own, T own (decrypted bytes), L own (its line buffer)
//   PendingReceiveCount   H own, S own, T own, L own (the line being handed over)
//   ReceiveData           B around (shortens to the period's budget, counts what was read)
//   SendRaw               B around (shortens to the budget, counts, pauses when spent)
//   TransportConnected    H own, S own, O after, B around
//   TriggerSessionConnected  T after
//   TriggerDataAvailable  H own, S own, L own (lines)
//   TriggerSessionClosed  H after, S after, L after (last unterminated line first), O after, B after
//   AdoptConnected        T own (nothing: Dup adopts), O after, B before
//   HandleFdConnect, HandleFdRead, HandleFdWrite, HandleFdAccept, HandleFdClose
//                         T own while TLS is active; H after on HandleFdClose
//   ConsumedMark          H, S, L: below plus what their own buffers gave out
#pragma once

#include "net/ThrottledNetSocket.h"

class TNetSocket : public TCustomThrottledNetSocket {
public:
    explicit TNetSocket(framework::TComponent* Owner) : TCustomThrottledNetSocket(Owner) {}
    ~TNetSocket() override { DisposeSocket(); }
};
