// How an HTTP/1.x body is framed, decoded the same way wherever an answer is read (the HTTP
// client and the CONNECT tunnel layer): a Content-Length value, and a chunked body with its
// size lines, data, line ends and trailer. Each caller passes its own limits; nothing a peer
// sends can grow memory or wrap a count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// A Content-Length value: decimal digits only (blanks around them allowed), at most 18 of
// them; -1 when the text is not one.
int64_t HttpParseContentLength(const std::string& Text);

struct THttpChunkLimits {
    // A size line with its extensions, or the line end after a chunk's data.
    size_t MaxLineLength = 4096;
    // The largest chunk size taken (256 TiB).
    int64_t MaxChunkSize = int64_t(1) << 48;
    // All trailer lines after the last chunk together.
    size_t MaxTrailerBytes = 256 * 1024;
};

enum class THttpChunkState : uint8_t {
    hcsSizeDigits,  // the hex digits of a size line
    hcsSizeLine,    // the rest of the size line (extensions) up to its line feed
    hcsData,        // the chunk's data
    hcsDataEnd,     // the line end after the data
    hcsTrailer,     // trailer lines after the last chunk, up to an empty one
    hcsDone,        // the body is complete; nothing more is taken
    hcsFailed,      // the body broke a rule or a limit (see ErrorText)
};

class THttpChunkDecoder {
public:
    // Receives the data bytes of the body; returns false when the receiver ended the body
    // (the decoder then stops where it is).
    using TDataSink = std::function<bool(const uint8_t* Data, size_t Len)>;

    explicit THttpChunkDecoder(const THttpChunkLimits& Limits = {}) : limits_(Limits) {}
    void SetLimits(const THttpChunkLimits& Limits) { limits_ = Limits; }
    void Reset();
    // Decodes what it can of Buf; returns how many bytes it took. It takes nothing after the
    // end of the body, and stops at the first fault.
    size_t Feed(const uint8_t* Buf, size_t Len, const TDataSink& Sink);

    THttpChunkState State() const { return state_; }
    bool Done() const { return state_ == THttpChunkState::hcsDone; }
    bool Failed() const { return state_ == THttpChunkState::hcsFailed; }
    const std::string& ErrorText() const { return error_; }
    // Data bytes handed to the sink since Reset.
    int64_t DataCount() const { return dataCount_; }

private:
    void ChangeState(THttpChunkState NewState);
    void Fail(const char* Text);

    THttpChunkLimits limits_;
    THttpChunkState state_ = THttpChunkState::hcsSizeDigits;
    int64_t size_ = 0, taken_ = 0, dataCount_ = 0;
    bool digits_ = false;
    size_t lineBytes_ = 0, trailerBytes_ = 0;
    std::string error_;
};
