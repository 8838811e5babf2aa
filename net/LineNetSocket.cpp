#include "net/LineNetSocket.h"

#include <algorithm>
#include <cstring>

#include "net/InetWinsock.h"

TCustomLineNetSocket::TCustomLineNetSocket(framework::TComponent* Owner) : TCustomSslNetSocket(Owner) {}

TCustomLineNetSocket::~TCustomLineNetSocket() { DisposeSocket(); }

void TCustomLineNetSocket::SetLineMode(bool Value) {
    if (Value == lineMode_) return;
    lineMode_ = Value;
    // The line being handed over belongs to the mode being left: the buffer is read from its
    // start without it, and a line is looked for again when line mode comes back.
    deliverLen_ = 0;
    // What is buffered is looked at again from the message loop, in the new mode.
    if (!pendingInput_.empty() || deliverLen_ > 0) PostToId(idDataRetrigger_);
}

int TCustomLineNetSocket::PendingReceiveCount() {
    if (lineMode_ && !rawRead_) return int(std::min(deliverLen_, pendingInput_.size()));
    if (!pendingInput_.empty() && !rawRead_) return int(pendingInput_.size());
    return TCustomSslNetSocket::PendingReceiveCount();
}

int TCustomLineNetSocket::Receive(void* Buffer, int Size, int Flags) {
    if (!rawRead_ && Size > 0) {
        size_t avail = 0;
        if (lineMode_ && deliverLen_ > 0)
            avail = std::min(deliverLen_, pendingInput_.size());
        else if (!lineMode_ && !pendingInput_.empty())
            avail = pendingInput_.size();
        if (avail > 0) {
            const size_t n = std::min(size_t(Size), avail);
            std::memcpy(Buffer, pendingInput_.data(), n);
            if (!(Flags & MSG_PEEK)) {
                pendingInput_.erase(0, n);
                if (lineMode_) deliverLen_ = std::min(deliverLen_ - n, pendingInput_.size());
                takenFromBuffer_ += int64_t(n);
            }
            return int(n);
        }
    }
    return TCustomSslNetSocket::Receive(Buffer, Size, Flags);
}

bool TCustomLineNetSocket::TriggerDataAvailable(uint16_t ErrCode) {
    if (!lineMode_ || LineEnd.empty() || ProxyNegotiating()) return TCustomSslNetSocket::TriggerDataAvailable(ErrCode);
    int count;
    rawRead_ = true;
    try {
        count = TCustomSslNetSocket::PendingReceiveCount();
    } catch (...) {
        rawRead_ = false;
        throw;
    }
    rawRead_ = false;
    if (count < 0) return true;
    if (count == 0) count = 255;
    const size_t oldLen = pendingInput_.size();
    pendingInput_.resize(oldLen + size_t(count));
    // Read through the whole chain (a throttle above may shorten it), but from the socket,
    // not from this buffer.
    rawRead_ = true;
    int n;
    try {
        n = ReceiveData(pendingInput_.data() + oldLen, count);
    } catch (...) {
        rawRead_ = false;
        pendingInput_.resize(oldLen);
        throw;
    }
    rawRead_ = false;
    if (n < 0) n = 0;
    pendingInput_.resize(oldLen + size_t(n));
    if (n == 0 && pendingInput_.empty()) return true;
    size_t from = 0;
    if (n > 0) {
        size_t start = oldLen;
        if (LineEdit) {
            if (!Fired([&] { start = ApplyLineEditing(oldLen); })) return true;
        } else if (LineEcho) {
            if (!Fired([&] { Send(pendingInput_.data() + oldLen, n); })) return true;
        }
        from = start > LineEnd.size() ? start - LineEnd.size() : 0;
    }
    DeliverLines(from);
    return true;
}

bool TCustomLineNetSocket::DeliverLines(size_t From) {
    // The handler of each line may free, abort or restart the socket: the rest waits then.
    bool heard = false;
    auto deliver = [&] { return Fired([&] { heard = TCustomSslNetSocket::TriggerDataAvailable(0); }); };
    for (;;) {
        const size_t i = pendingInput_.find(LineEnd, From);
        if (i == std::string::npos) break;
        deliverLen_ = i + LineEnd.size();
        lineSeen_ = lineSeenThisRound_ = true;
        while (lineMode_ && deliverLen_ > 0) {
            const size_t before = deliverLen_;
            if (!deliver()) return false;
            if (!heard) {
                // Nobody listens: the line is dropped.
                pendingInput_.erase(0, deliverLen_);
                deliverLen_ = 0;
                break;
            }
            // A handler that leaves its line unread gets it again with the next data.
            if (deliverLen_ == before) return true;
        }
        while (!lineMode_ && !pendingInput_.empty()) {
            const size_t before = pendingInput_.size();
            if (!deliver()) return false;
            if (!heard || pendingInput_.size() == before) break;
        }
        if (!lineMode_) return true;
        From = 0;
    }
    if (LineLimit > 0 && pendingInput_.size() > size_t(LineLimit)) {
        bool clear = true;
        if (!Fired([&] { FireLineLimit(int(std::min<size_t>(pendingInput_.size(), 0x7FFFFFFF)), clear); }))
            return false;
        if (clear) {
            pendingInput_.clear();
            deliverLen_ = 0;
        }
    }
    return true;
}

void TCustomLineNetSocket::FireLineLimit(int RcvdLength, bool& ClearData) {
    (void)FireEvent(OnLineLimitExceeded, this, RcvdLength, ClearData);
}

size_t TCustomLineNetSocket::ApplyLineEditing(size_t OldLen) {
    const std::string fresh = pendingInput_.substr(OldLen);
    if (fresh.find_first_of("\b\t") == std::string::npos) {
        if (LineEcho) Send(fresh.data(), int(fresh.size()));
        return OldLen;
    }
    std::string out = pendingInput_.substr(0, OldLen);
    size_t lowest = OldLen;
    std::string echo;
    for (char c : fresh) {
        if (c == '\b') {
            if (!out.empty()) {
                out.pop_back();
                lowest = std::min(lowest, out.size());
                echo += "\b \b";
            }
        } else if (c == '\t') {
            // Blanks up to the next multiple of 8 within the current line.
            const size_t lineStart = out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1;
            const size_t col = out.size() - lineStart;
            const size_t blanks = 8 - col % 8;
            out.append(blanks, ' ');
            echo.append(blanks, ' ');
        } else {
            out += c;
            echo += c;
        }
    }
    pendingInput_ = out;
    if (LineEcho && !echo.empty()) Send(echo.data(), int(echo.size()));
    return lowest;
}

int TCustomLineNetSocket::SendWithLineEnd(const std::string& Text) {
    const int r = SendText(Text);
    if (Text.empty()) return r;
    if (SendText(LineEnd) < 0) return -1;
    return int(Text.size() + LineEnd.size());
}

void TCustomLineNetSocket::HardAbort(uint16_t Error) {
    // Only the connection being aborted loses its unterminated last line; an abort of a
    // closed socket must not carry the drop over to the next connection.
    const TFireWatch watch(*this);
    dropPendingInput_ = HSocket() != INVALID_SOCKET || State() != wsClosed;
    TCustomSslNetSocket::HardAbort(Error);
    if (watch.Alive()) dropPendingInput_ = false;
}

void TCustomLineNetSocket::TriggerSessionClosed(uint16_t ErrCode) {
    lineSeen_ = true;
    if (lineMode_ && !pendingInput_.empty() && !dropPendingInput_) {
        // The rest without a line end is the last line.
        deliverLen_ = pendingInput_.size();
        while (deliverLen_ > 0) {
            const size_t before = deliverLen_;
            bool heard = false;
            if (!Fired([&] { heard = TCustomSslNetSocket::TriggerDataAvailable(0); })) return;
            if (!heard || deliverLen_ == before) break;
        }
    }
    pendingInput_.clear();
    pendingInput_.shrink_to_fit();
    deliverLen_ = 0;
    dropPendingInput_ = false;
    TCustomSslNetSocket::TriggerSessionClosed(ErrCode);
}

void TCustomLineNetSocket::Retrigger() {
    int passes = 0;
    while (!pendingInput_.empty()) {
        lineSeenThisRound_ = false;
        const size_t before = pendingInput_.size();
        if (lineMode_) {
            if (!DeliverLines(0)) return;
        } else {
            if (!Fired([&] { TriggerDataAvailable(0); })) return;
        }
        if (pendingInput_.empty()) break;
        ++passes;
        if (pendingInput_.size() == before && (!lineMode_ || !lineSeenThisRound_)) break;
        if (lineMode_ && passes > 3 && !lineSeenThisRound_) break;
    }
    // Data the system still holds gets its read event again: none would come by itself
    // while the handler was served from the buffer.
    if (HSocket() != INVALID_SOCKET && State() == wsConnected) {
        u_long n = 0;
        if (Winsock::ioctlsocket(HSocket(), FIONREAD, &n) == 0 && n > 0)
            PostToId(idSocketEvent_, WPARAM(HSocket()), MAKELONG(FD_READ, 0));
    }
}

void TCustomLineNetSocket::WndProc(framework::TMessage& Msg) {
    if (Msg.Msg != idDataRetrigger_) return TCustomSslNetSocket::WndProc(Msg);
    const TFireWatch watch(*this);
    try {
        Retrigger();
    } catch (const std::exception& e) {
        if (watch.Alive()) HandleBgException(e, "WMTriggerDataAvailable");
    }
}
