// Line mode: received data is gathered and handed to OnDataAvailable one line (ending with
// LineEnd) at a time; the handler reads the line with the usual receive calls. Optional
// echo of what arrives and simple line editing (backspace, tab) for terminal-like peers.
// Without LineMode the layer only hands over what it still buffers, then steps aside.
#pragma once

#include <functional>
#include <string>

#include "net/SslNetSocket.h"

// The events line mode adds to the socket's (VA_NET_SOCKET_EVENTS).
#define VA_LINE_NET_SOCKET_EVENTS(X) X(OnLineLimitExceeded)

using TLineLimitEvent = std::function<void(framework::TComponent* Sender, int RcvdLength, bool& ClearData)>;

class TCustomLineNetSocket : public TCustomSslNetSocket {
public:
    explicit TCustomLineNetSocket(framework::TComponent* Owner);
    ~TCustomLineNetSocket() override;

    bool LineMode() const { return lineMode_; }
    virtual void SetLineMode(bool Value);
    int LineLimit = 65536;
    std::string LineEnd = "\r\n";
    bool LineEcho = false;
    bool LineEdit = false;
    TLineLimitEvent OnLineLimitExceeded;

    // Text then LineEnd; -1 on failure, else both lengths.
    virtual int SendWithLineEnd(const std::string& Text);
    int PendingInputLen() const { return int(pendingInput_.size()); }
    bool LineSeen() const { return lineSeen_; }

    int PendingReceiveCount() override;

protected:
    void WndProc(framework::TMessage& Msg) override;
    int Receive(void* Buffer, int Size, int Flags) override;
    bool TriggerDataAvailable(uint16_t ErrCode) override;
    void HardAbort(uint16_t Error) override;
    void TriggerSessionClosed(uint16_t ErrCode) override;
    int64_t ConsumedMark() override { return TCustomSslNetSocket::ConsumedMark() + takenFromBuffer_; }

    virtual void FireLineLimit(int RcvdLength, bool& ClearData);
    // Edits the Len new bytes at the end of the buffer; returns where the edited text starts.
    virtual size_t ApplyLineEditing(size_t OldLen);

private:
    // Hands complete lines (searching from From) to the handler; false when the socket went.
    bool DeliverLines(size_t From);
    void Retrigger();

    bool lineMode_ = false;
    std::string pendingInput_;
    size_t deliverLen_ = 0;
    bool lineSeen_ = false;
    bool lineSeenThisRound_ = false;
    bool dropPendingInput_ = false;
    bool rawRead_ = false;
    int64_t takenFromBuffer_ = 0;
};
