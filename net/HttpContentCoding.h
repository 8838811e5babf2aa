// Content codings of HTTP responses: a process-wide registry of decoders for the values of
// "Content-Encoding", and one handler per HTTP client that builds the "Accept-Encoding"
// value and chains the decoders a response needs in front of the client's document output.
// The program registers only the pass-through codings "identity" and "*", so a body always
// reaches the receive stream as it came (a gzip body is stored undecoded).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "framework/Streams.h"

class EHttpContentCodingException : public framework::Exception {
public:
    using framework::Exception::Exception;
};

// Where a stage hands its bytes on.
using THttpWriteProc = std::function<void(const void* Buffer, size_t Count)>;

// One decoder in a chain; it writes what it decodes to the next stage.
class THttpContentCoding {
public:
    explicit THttpContentCoding(THttpWriteProc Next) : OutputWriteBuffer(std::move(Next)) {}
    virtual ~THttpContentCoding() = default;
    THttpContentCoding(const THttpContentCoding&) = delete;
    THttpContentCoding& operator=(const THttpContentCoding&) = delete;

    // End of data: a decoder flushes what it still holds.
    virtual void Complete() {}
    virtual void WriteBuffer(const void* Buffer, size_t Count) = 0;

protected:
    THttpWriteProc OutputWriteBuffer;
};

// What a class reference of a coding carries: its name, its class-level answers and how
// to make an instance.
struct THttpContentCodingClass {
    const char* ClassName;
    // The comma-separated names the coding answers to; null: the class name after the
    // prefix "THttpContentCoding" (any other class name raises "GetCoding must be
    // overridden in <class name>").
    std::string (*GetCodingProc)();
    // Whether the coding can be used here; null: always.
    bool (*GetActiveProc)();
    std::unique_ptr<THttpContentCoding> (*Create)(THttpWriteProc Next);

    std::string GetCoding() const;
    bool GetActive() const;
};

// The pass-through codings "identity" and "*".
class THttpCCodIdentity : public THttpContentCoding {
public:
    using THttpContentCoding::THttpContentCoding;
    void WriteBuffer(const void* Buffer, size_t Count) override { OutputWriteBuffer(Buffer, Count); }
    static const THttpContentCodingClass Class;
};
class THttpCCodStar : public THttpCCodIdentity {
public:
    using THttpCCodIdentity::THttpCCodIdentity;
    static const THttpContentCodingClass Class;
};

// The registry: coding classes with their default quality.
class TCodingsList {
public:
    struct Entry {
        const THttpContentCodingClass* CodingClass;
        float Quality;
    };

    void Register(const THttpContentCodingClass& CodingClass, float Quality);
    // The class whose name list holds Name (ignoring case), the last registered first;
    // null when none does.
    const THttpContentCodingClass* Find(const std::string& Name) const;
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};

// The program's registry, made on first use with "identity" and "*" (quality 0). Filled at
// start-up, read afterwards.
TCodingsList& HttpContentCodings();

// A handler's copy of one registry entry.
struct THttpCodingItem {
    const THttpContentCodingClass* CodingClass;
    bool Enabled = true;
    float Quality = 0;
};

class THttpCodingHandler {
public:
    // OutputStream is the client's receive-stream field (read at each write, may hold null);
    // DocData is called after each write to it. The items copy Registry's entries, and
    // Prepare finds the decoders there (the registry outlives the handler).
    THttpCodingHandler(framework::TStream* const* OutputStream, THttpWriteProc DocData,
                       const TCodingsList& Registry = HttpContentCodings());
    ~THttpCodingHandler();
    THttpCodingHandler(const THttpCodingHandler&) = delete;
    THttpCodingHandler& operator=(const THttpCodingHandler&) = delete;

    // The "Accept-Encoding" value; empty when disabled (no header is then sent). With
    // UseQuality and two or more usable codings enabled every coding carries its ";q=";
    // otherwise only codings of a quality above 0 are named.
    std::string GetAcceptEncoding();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool Value) { enabled_ = Value; }
    bool UseQuality() const { return useQuality_; }
    void SetUseQuality(bool Value);

    const std::vector<THttpCodingItem>& Items() const { return items_; }
    // Switches one coding on or off, or changes its quality, by (one of) its names; false
    // when the handler has no such coding.
    bool SetCodingEnabled(const std::string& Name, bool Value);
    bool SetCodingQuality(const std::string& Name, float Value);

    // At document begin: the decoders for the response's Content-Encoding, innermost last
    // applied first. False (and no decoder) when a coding is unknown; the body then passes
    // undecoded. Without Enabled no decoder is made.
    bool Prepare(const std::string& ContentEncoding);
    // The entry of the chain.
    void WriteBuffer(const void* Buffer, size_t Count);
    // At document end: each decoder flushes, the last created first.
    void Complete();
    size_t ActiveCount() const { return decoders_.size(); }

private:
    void Output(const void* Buffer, size_t Count);
    THttpCodingItem* ItemByName(const std::string& Name);

    framework::TStream* const* outputStream_;
    THttpWriteProc docData_;
    const TCodingsList* registry_;
    THttpWriteProc input_;
    std::string acceptEncoding_;
    bool recalc_ = true;
    bool enabled_ = false;
    bool useQuality_ = false;
    std::vector<std::unique_ptr<THttpContentCoding>> decoders_;
    std::vector<THttpCodingItem> items_;
};
