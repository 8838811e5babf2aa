// Content codings: the program's registry ("identity" and "*" only), Accept-Encoding with
// and without qualities, and decoder chains built from a registry of test codings whose
// output shows the order in which they ran.
#include <gtest/gtest.h>

#include <string>

#include "net/HttpContentCoding.h"

using framework::TMemoryStream;
using framework::TStream;

namespace {

// Wraps each piece in "<name>(" ... ")" and writes "<name>!" when completed.
template <char Name>
class Tagging : public THttpContentCoding {
public:
    using THttpContentCoding::THttpContentCoding;
    void WriteBuffer(const void* Buffer, size_t Count) override {
        std::string s = std::string(1, Name) + "(" + std::string(static_cast<const char*>(Buffer), Count) + ")";
        OutputWriteBuffer(s.data(), s.size());
    }
    void Complete() override {
        std::string s = std::string(1, Name) + "!";
        OutputWriteBuffer(s.data(), s.size());
    }
};

template <class T>
std::unique_ptr<THttpContentCoding> Make(THttpWriteProc next) {
    return std::make_unique<T>(std::move(next));
}

// Named by the class-name rule.
const THttpContentCodingClass kCodingA{"THttpContentCodingA", nullptr, nullptr, Make<Tagging<'a'>>};
// Named by its own list.
const THttpContentCodingClass kCodingB{"TBCoding", [] { return std::string("b, x-b"); }, nullptr, Make<Tagging<'b'>>};
// Never usable here.
const THttpContentCodingClass kCodingOff{"THttpContentCodingOff", nullptr, [] { return false; }, Make<Tagging<'o'>>};
// A class that names neither itself nor follows the rule.
const THttpContentCodingClass kNameless{"TNameless", nullptr, nullptr, Make<Tagging<'n'>>};
// Registered after B, answering one of B's names.
const THttpContentCodingClass kCodingB2{"TB2Coding", [] { return std::string("x-b"); }, nullptr, Make<Tagging<'c'>>};

struct Sink {
    TMemoryStream stream;
    TStream* field = &stream;  // the client's ReceiveStream field
    std::string docData;
    THttpWriteProc DocData() {
        return [this](const void* b, size_t n) { docData.append(static_cast<const char*>(b), n); };
    }
    void Write(THttpCodingHandler& h, const std::string& s) { h.WriteBuffer(s.data(), s.size()); }
};

TCodingsList TestRegistry() {
    TCodingsList r;
    r.Register(THttpCCodIdentity::Class, 0);
    r.Register(kCodingA, 1);
    r.Register(kCodingB, 0.5f);
    r.Register(kCodingOff, 0.9f);
    return r;
}

}  // namespace

TEST(ContentCoding, ProgramRegistryNamesNothingWithoutQualities) {
    Sink sink;
    THttpCodingHandler h(&sink.field, sink.DocData());
    EXPECT_EQ(h.GetAcceptEncoding(), "");  // disabled
    h.SetEnabled(true);
    EXPECT_EQ(h.GetAcceptEncoding(), "");  // both codings have quality 0: no header
    h.SetUseQuality(true);
    EXPECT_EQ(h.GetAcceptEncoding(), "identity;q=0, *;q=0");
    ASSERT_EQ(h.Items().size(), 2u);
    EXPECT_EQ(HttpContentCodings().Find("IDENTITY"), &THttpCCodIdentity::Class);
    EXPECT_EQ(HttpContentCodings().Find("*"), &THttpCCodStar::Class);
    EXPECT_EQ(HttpContentCodings().Find("gzip"), nullptr);
}

TEST(ContentCoding, PassThroughAndUnknownCodingsLeaveTheBodyAsItCame) {
    const std::string gzipBody("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9\xc9\x07\x00", 17);
    struct Case {
        const char* encoding;
        bool enabled;
        bool prepared;
        size_t decoders;
    } cases[] = {
        {"", true, true, 0},           {"identity", true, true, 1}, {"Identity, *", true, true, 2},
        {"*", true, true, 1},          {"gzip", true, false, 0},    {"identity, gzip", true, false, 0},
        {"gzip", false, true, 0},
    };
    for (const auto& c : cases) {
        Sink sink;
        THttpCodingHandler h(&sink.field, sink.DocData());
        h.SetEnabled(c.enabled);
        EXPECT_EQ(h.Prepare(c.encoding), c.prepared) << c.encoding;
        EXPECT_EQ(h.ActiveCount(), c.decoders) << c.encoding;
        sink.Write(h, gzipBody.substr(0, 5));
        sink.Write(h, gzipBody.substr(5));
        h.Complete();
        EXPECT_EQ(sink.stream.Bytes(), gzipBody) << c.encoding;
        EXPECT_EQ(sink.docData, gzipBody) << c.encoding;
    }
}

TEST(ContentCoding, ChainDecodesTheLastAppliedCodingFirst) {
    TCodingsList registry = TestRegistry();
    Sink sink;
    THttpCodingHandler h(&sink.field, sink.DocData(), registry);
    h.SetEnabled(true);
    // "a, b": a was applied first, so b is undone first and a last; completion flushes b
    // (through a) before a.
    ASSERT_TRUE(h.Prepare("a, x-b"));
    EXPECT_EQ(h.ActiveCount(), 2u);
    sink.Write(h, "1");
    sink.Write(h, "2");
    h.Complete();
    EXPECT_EQ(sink.stream.Bytes(), "a(b(1))a(b(2))a(b!)a!");
    EXPECT_EQ(sink.docData, sink.stream.Bytes());

    // A new document starts a new chain; an unknown name anywhere leaves none.
    sink.stream.Clear();
    ASSERT_TRUE(h.Prepare("B"));
    sink.Write(h, "3");
    EXPECT_EQ(sink.stream.Bytes(), "b(3)");
    EXPECT_FALSE(h.Prepare("a, br"));
    EXPECT_EQ(h.ActiveCount(), 0u);
    sink.Write(h, "4");
    EXPECT_EQ(sink.stream.Bytes(), "b(3)4");
}

TEST(ContentCoding, OutputStreamIsReadAtEachWrite) {
    Sink sink;
    sink.field = nullptr;
    THttpCodingHandler h(&sink.field, sink.DocData());
    sink.Write(h, "x");
    EXPECT_EQ(sink.docData, "x");  // no stream yet: only the data event
    sink.field = &sink.stream;
    sink.Write(h, "y");
    EXPECT_EQ(sink.stream.Bytes(), "y");
    EXPECT_EQ(sink.docData, "xy");
}

TEST(ContentCoding, AcceptEncodingWithAndWithoutQualities) {
    TCodingsList registry = TestRegistry();
    Sink sink;
    THttpCodingHandler h(&sink.field, sink.DocData(), registry);
    h.SetEnabled(true);
    // Only qualities above 0, never the unusable coding.
    EXPECT_EQ(h.GetAcceptEncoding(), "A, b, x-b");
    h.SetUseQuality(true);
    EXPECT_EQ(h.GetAcceptEncoding(), "identity;q=0, A;q=1, b, x-b;q=0.5");
    // Changes are seen: the text is not kept past them.
    ASSERT_TRUE(h.SetCodingQuality("a", 0.3333f));
    EXPECT_EQ(h.GetAcceptEncoding(), "identity;q=0, A;q=0.333, b, x-b;q=0.5");
    ASSERT_TRUE(h.SetCodingQuality("x-b", 0.125f));
    EXPECT_EQ(h.GetAcceptEncoding(), "identity;q=0, A;q=0.333, b, x-b;q=0.125");
    ASSERT_TRUE(h.SetCodingEnabled("identity", false));
    EXPECT_EQ(h.GetAcceptEncoding(), "A;q=0.333, b, x-b;q=0.125");
    // With a single usable coding left, qualities are not written.
    ASSERT_TRUE(h.SetCodingEnabled("b", false));
    EXPECT_EQ(h.GetAcceptEncoding(), "A");
    EXPECT_FALSE(h.SetCodingEnabled("gzip", false));
    h.SetEnabled(false);
    EXPECT_EQ(h.GetAcceptEncoding(), "");
}

TEST(ContentCoding, NamesByClassRuleAndLatestRegistrationWins) {
    EXPECT_EQ(kCodingA.GetCoding(), "A");
    EXPECT_TRUE(kCodingA.GetActive());
    EXPECT_FALSE(kCodingOff.GetActive());
    try {
        kNameless.GetCoding();
        ADD_FAILURE() << "no exception";
    } catch (const EHttpContentCodingException& e) {
        EXPECT_STREQ(e.what(), "GetCoding must be overridden in TNameless");
    }
    TCodingsList registry = TestRegistry();
    EXPECT_EQ(registry.Find("X-B"), &kCodingB);
    registry.Register(kCodingB2, 0);
    EXPECT_EQ(registry.Find("x-b"), &kCodingB2);
    EXPECT_EQ(registry.Find("b"), &kCodingB);
    EXPECT_EQ(registry.Find("x"), nullptr);
}
