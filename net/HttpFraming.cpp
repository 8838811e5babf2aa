#include "net/HttpFraming.h"

#include <algorithm>

int64_t HttpParseContentLength(const std::string& Text) {
    size_t b = 0, e = Text.size();
    while (b < e && (Text[b] == ' ' || Text[b] == '\t')) ++b;
    while (e > b && (Text[e - 1] == ' ' || Text[e - 1] == '\t')) --e;
    if (b == e || e - b > 18) return -1;
    int64_t v = 0;
    for (size_t i = b; i < e; ++i) {
        if (Text[i] < '0' || Text[i] > '9') return -1;
        v = v * 10 + (Text[i] - '0');
    }
    return v;
}

namespace {

int HexValue(uint8_t C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

}  // namespace

void THttpChunkDecoder::Reset() {
    state_ = THttpChunkState::hcsSizeDigits;
    size_ = taken_ = dataCount_ = 0;
    digits_ = false;
    lineBytes_ = trailerBytes_ = 0;
    error_.clear();
}

void THttpChunkDecoder::ChangeState(THttpChunkState NewState) {
    state_ = NewState;
    lineBytes_ = 0;
    if (NewState == THttpChunkState::hcsSizeDigits) {
        size_ = taken_ = 0;
        digits_ = false;
    }
}

void THttpChunkDecoder::Fail(const char* Text) {
    error_ = Text;
    state_ = THttpChunkState::hcsFailed;
}

size_t THttpChunkDecoder::Feed(const uint8_t* Buf, size_t Len, const TDataSink& Sink) {
    size_t i = 0;
    while (i < Len) {
        const uint8_t c = Buf[i];
        switch (state_) {
            case THttpChunkState::hcsSizeDigits: {
                const int d = HexValue(c);
                if (d >= 0) {
                    if (size_ > (limits_.MaxChunkSize >> 4) || size_ * 16 + d > limits_.MaxChunkSize) {
                        Fail("HTTP chunk size too large");
                        return i;
                    }
                    size_ = size_ * 16 + d;
                    digits_ = true;
                    ++i;
                    break;
                }
                if (!digits_) {
                    Fail("HTTP bad chunk size");
                    return i;
                }
                const int64_t size = size_;
                ChangeState(THttpChunkState::hcsSizeLine);
                size_ = size;
                break;
            }
            case THttpChunkState::hcsSizeLine:
            case THttpChunkState::hcsDataEnd:
                ++i;
                if (++lineBytes_ > limits_.MaxLineLength) {
                    Fail("HTTP chunk line too long");
                    return i;
                }
                if (c == '\n') {
                    if (state_ == THttpChunkState::hcsDataEnd)
                        ChangeState(THttpChunkState::hcsSizeDigits);
                    else if (size_ > 0)
                        ChangeState(THttpChunkState::hcsData);
                    else
                        ChangeState(THttpChunkState::hcsTrailer);
                }
                break;
            case THttpChunkState::hcsData: {
                const size_t take = size_t(std::min<int64_t>(size_ - taken_, int64_t(Len - i)));
                taken_ += int64_t(take);
                dataCount_ += int64_t(take);
                const size_t at = i;
                i += take;
                if (taken_ >= size_) ChangeState(THttpChunkState::hcsDataEnd);
                if (!Sink(Buf + at, take)) return i;
                break;
            }
            case THttpChunkState::hcsTrailer:
                // Trailer lines are not interpreted; an empty one ends the body.
                ++i;
                if (++trailerBytes_ > limits_.MaxTrailerBytes) {
                    Fail("HTTP trailer too large");
                    return i;
                }
                if (c == '\n') {
                    if (lineBytes_ == 0) {
                        ChangeState(THttpChunkState::hcsDone);
                        return i;
                    }
                    lineBytes_ = 0;
                } else if (c != '\r') {
                    ++lineBytes_;
                }
                break;
            case THttpChunkState::hcsDone:
            case THttpChunkState::hcsFailed: return i;
        }
    }
    return i;
}
