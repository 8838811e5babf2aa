// GIF images: every fixture decodes to the pixels PIL decodes; the file's properties; the
// writer (its files are read again by PIL and gifsicle after the test); damaged, hostile and
// truncated files; copies, cursors, the clipboard, drawing and the picture registry.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "PictureFiles.h"
#include "components/UxAni.h"
#include "components/UxGIF.h"
#include "components/UxUtils.h"

using namespace framework;
using picturefiles::Fixture;
using picturefiles::Output;
using picturefiles::ReadAll;

namespace {

TMemoryStream StreamOf(const std::string& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

std::unique_ptr<TUxGIFImage> Load(const std::string& bytes) {
    auto g = std::make_unique<TUxGIFImage>();
    TMemoryStream s = StreamOf(bytes);
    g->LoadFromStream(s);
    return g;
}

std::string Save(TUxGIFImage& g) {
    TMemoryStream s;
    g.SaveToStream(s);
    return s.Bytes();
}

// The pixels a NAME.expect file lists: per frame its rectangle and "rrggbb" or "------".
struct ExpectedFrame {
    int left, top, w, h;
    std::vector<std::string> pixels;
};
std::vector<ExpectedFrame> ReadExpect(const std::string& file) {
    std::ifstream in(file);
    std::string word;
    int n = 0;
    in >> word >> n;
    std::vector<ExpectedFrame> frames(static_cast<size_t>(n));
    for (auto& f : frames) {
        in >> word >> f.left >> f.top >> f.w >> f.h;
        f.pixels.resize(static_cast<size_t>(f.w) * f.h);
        for (auto& p : f.pixels) in >> p;
    }
    return frames;
}

std::string Hex(COLORREF c) {
    char s[8];
    std::snprintf(s, sizeof s, "%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
    return s;
}

// Frame i against the expected pixels; transparent ones must show the frame's transparent
// colour.
void ExpectFrame(TUxGIFImage& g, int i, const ExpectedFrame& e, const std::string& name) {
    TUxGIFFrame& f = g.Frames(i);
    EXPECT_EQ(f.Origin.x, e.left) << name << " frame " << i;
    EXPECT_EQ(f.Origin.y, e.top) << name << " frame " << i;
    TBitmap& b = f.Bitmap();
    ASSERT_EQ(b.Width(), e.w) << name << " frame " << i;
    ASSERT_EQ(b.Height(), e.h) << name << " frame " << i;
    int wrong = 0;
    for (int y = 0; y < e.h; ++y)
        for (int x = 0; x < e.w; ++x) {
            const std::string& want = e.pixels[static_cast<size_t>(y) * e.w + x];
            const COLORREF got = b.Canvas().Pixel(x, y);
            const std::string expected = want == "------" ? Hex(ColorToRGB(f.TransparentColor)) : want;
            if (Hex(got) != expected && wrong++ < 3)
                ADD_FAILURE() << name << " frame " << i << " at " << x << "," << y << ": " << Hex(got) << " not "
                              << expected;
        }
    EXPECT_EQ(wrong, 0) << name << " frame " << i;
}

const char* const kFixtures[] = {"still.gif",     "interlaced.gif",  "anim.gif",     "loop65535.gif", "optimised.gif",
                                 "transparent.gif", "localonly.gif", "handmade.gif", "mono.gif"};

TEST(UxGIF, EveryFixtureDecodesToThePixelsPILDecodes) {
    for (const char* name : kFixtures) {
        auto g = Load(ReadAll(Fixture(name)));
        const auto expected = ReadExpect(Fixture(std::string(name) + ".expect"));
        ASSERT_EQ(g->Count(), static_cast<int>(expected.size())) << name;
        EXPECT_FALSE(g->Corrupted) << name;
        for (int i = 0; i < g->Count(); ++i) ExpectFrame(*g, i, expected[static_cast<size_t>(i)], name);
    }
}

TEST(UxGIF, ReadsTheFilesProperties) {
    auto hand = Load(ReadAll(Fixture("handmade.gif")));
    EXPECT_EQ(hand->Version(), TGIFVersion::gv89a);
    EXPECT_EQ(hand->ScreenWidth(), 12);
    EXPECT_EQ(hand->ScreenHeight(), 9);
    ASSERT_EQ(hand->Comment().Count(), 1);
    EXPECT_EQ(hand->Comment()[0], "after the last image") << "a comment after the last image is the image's";
    EXPECT_EQ(hand->BackgroundColor, static_cast<TColor>(RGB(0, 255, 0)));
    TUxGIFFrame& f0 = hand->Frames(0);
    EXPECT_TRUE(f0.Interlaced);
    EXPECT_EQ(f0.AnimateInterval, 120);
    EXPECT_EQ(f0.DisposalMethod, 1);
    // Entry 5 repeats entry 1 (pure red): its blue steps up from 0 until it is unique.
    EXPECT_EQ(f0.TransparentColor, static_cast<TColor>(RGB(255, 0, 1)));
    EXPECT_EQ(f0.Item().BitsPerPixel, 3);
    TUxGIFFrame& f1 = hand->Frames(1);
    EXPECT_TRUE(f1.LocalColors);
    EXPECT_EQ(f1.Item().BitsPerPixel, 5);
    EXPECT_EQ(f1.TransparentColor, clNone);
    EXPECT_EQ(f1.AnimateInterval, 30);
    EXPECT_EQ(f1.Bitmap().PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(f0.Bitmap().PixelFormat(), TPixelFormat::pf4bit);

    auto loop = Load(ReadAll(Fixture("loop65535.gif")));
    EXPECT_TRUE(loop->Looping);
    EXPECT_EQ(loop->RepeatCount, 30000);
    auto anim = Load(ReadAll(Fixture("anim.gif")));
    EXPECT_TRUE(anim->Looping);
    EXPECT_EQ(anim->RepeatCount, 0);
    EXPECT_EQ(anim->Frames(1).AnimateInterval, 200);
    auto still = Load(ReadAll(Fixture("still.gif")));
    EXPECT_FALSE(still->Looping);
    EXPECT_EQ(still->Width(), 40);
    EXPECT_EQ(still->Height(), 30);
    auto mono = Load(ReadAll(Fixture("mono.gif")));
    EXPECT_EQ(mono->Frames(0).Bitmap().PixelFormat(), TPixelFormat::pf1bit);
    auto local = Load(ReadAll(Fixture("localonly.gif")));
    EXPECT_EQ(local->Data().ColorTable.Count, 0) << "no global table";
    EXPECT_TRUE(local->Frames(0).LocalColors);
}

// A GIF made of parts: header and screen (with an optional global table), then blocks.
std::string Gif(int sw, int sh, const std::string& globalTable, const std::string& blocks, const char* version = "89a") {
    std::string s = std::string("GIF") + version;
    s += static_cast<char>(sw & 255), s += static_cast<char>(sw >> 8);
    s += static_cast<char>(sh & 255), s += static_cast<char>(sh >> 8);
    int bits = 0;
    while ((3 << (bits + 1)) < static_cast<int>(globalTable.size())) ++bits;
    s += static_cast<char>(globalTable.empty() ? 0 : 0x80 | bits);
    s += '\0';
    s += '\0';
    return s + globalTable + blocks + ";";
}
std::string Image(int w, int h, const std::string& data, const std::string& localTable = "", int left = 0, int top = 0) {
    std::string s = ",";
    for (int v : {left, top, w, h}) s += static_cast<char>(v & 255), s += static_cast<char>(v >> 8);
    int bits = 0;
    while ((3 << (bits + 1)) < static_cast<int>(localTable.size())) ++bits;
    s += static_cast<char>(localTable.empty() ? 0 : 0x80 | bits);
    return s + localTable + data;
}
const std::string kBlackWhite("\0\0\0\xff\xff\xff", 6);
// Code size 3 (clear 8, end 9, 4-bit codes): clear, 5, 2, end. Values beyond a 1-bit table.
const std::string kWideValues("\x03\x02\x58\x92\x00", 5);
// Code size 2 (clear 4, end 5, 3-bit codes): clear, 1, then 7 while the next free entry is 6.
const std::string kCodeTooHigh("\x02\x02\xCC\x01\x00", 5);

TEST(UxGIF, HostileAndUnusualFilesAreHandledSoundly) {
    // No colour table anywhere is legal: the depth follows the code size.
    auto bare = Load(Gif(2, 1, "", Image(2, 1, kWideValues)));
    ASSERT_EQ(bare->Count(), 1);
    EXPECT_EQ(bare->Frames(0).Bitmap().Width(), 2);

    // Pixel values never spill beyond the bitmap's depth: 5 in a 1-bit frame shows as 1.
    auto masked = Load(Gif(2, 1, kBlackWhite, Image(2, 1, kWideValues)));
    TBitmap& mb = masked->Frames(0).Bitmap();
    ASSERT_EQ(mb.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(mb.Canvas().Pixel(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(mb.Canvas().Pixel(1, 0), RGB(0, 0, 0)) << "the neighbour keeps its own value";

    // A code beyond the next free entry is damage, not a read of an unset entry.
    auto high = Load(Gif(4, 1, kBlackWhite, Image(4, 1, kCodeTooHigh)));
    EXPECT_TRUE(high->Frames(0).Corrupted);
    EXPECT_TRUE(high->Corrupted);
    GIFTolerantDecoding = false;
    try {
        Load(Gif(4, 1, kBlackWhite, Image(4, 1, kCodeTooHigh)));
        ADD_FAILURE() << "strict decoding accepted a bad code";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "GIF encoded data is corrupt");
    }
    try {
        Load(Gif(4, 1, kBlackWhite, Image(4, 1, std::string("\x0C\x01\x00\x00", 4))));
        ADD_FAILURE() << "strict decoding accepted code size 12";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "GIF code size not in range 2 to 9");
    }
    GIFTolerantDecoding = true;
    EXPECT_TRUE(Load(Gif(4, 1, kBlackWhite, Image(4, 1, std::string("\x0C\x01\x00\x00", 4))))->Frames(0).Corrupted);

    // A tiny file announcing a 65535 x 65535 frame gets no bitmap: kept as damaged without
    // a picture, or refused by strict decoding.
    const std::string huge = Gif(65535, 65535, kBlackWhite, Image(65535, 65535, kWideValues));
    EXPECT_LT(huge.size(), 40u);
    auto kept = Load(huge);
    ASSERT_EQ(kept->Count(), 1);
    EXPECT_TRUE(kept->Frames(0).Corrupted);
    EXPECT_EQ(kept->Width(), 0);
    EXPECT_TRUE(kept->Frames(0).Bitmap().Empty());
    GIFTolerantDecoding = false;
    try {
        Load(huge);
        ADD_FAILURE() << "huge frame accepted";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "GIF encoded data is corrupt");
    }
    GIFTolerantDecoding = true;
    // A frame of size 0 on a 0 x 0 screen: loads, empty, no division by zero.
    auto zero = Load(Gif(0, 0, kBlackWhite, Image(0, 0, kWideValues)));
    ASSERT_EQ(zero->Count(), 1);
    EXPECT_EQ(zero->Width(), 0);
    EXPECT_EQ(zero->Frames(0).Bitmap().Width(), 0);

    struct {
        const char* what;
        std::string bytes;
        std::string message;
    } errors[] = {
        {"version", Gif(1, 1, kBlackWhite, "", "88a"), "Unknown GIF version"},
        {"signature", "GIX89a" + std::string(20, '\0'), "Unknown GIF version"},
        {"extension", Gif(1, 1, kBlackWhite, std::string("!\x99\x00", 3)), "Unrecognized extension block: 99"},
        {"introducer", Gif(1, 1, kBlackWhite, "x"), "Erreur de lecture du flux"},
        {"screen", std::string("GIF89a\x01\x00", 8), "Erreur de lecture du flux"},
    };
    for (const auto& e : errors) {
        try {
            Load(e.bytes);
            ADD_FAILURE() << e.what;
        } catch (const framework::Exception& x) {
            EXPECT_EQ(x.Message(), e.message) << e.what;
        }
    }
}

TEST(UxGIF, SizePrefixedDataIsCheckedAgainstTheStream) {
    const std::string file = ReadAll(Fixture("mono.gif"));
    TMemoryStream ok;
    const uint32_t size = static_cast<uint32_t>(file.size());
    ok.WriteBuffer(&size, 4);
    ok.WriteBuffer(file.data(), size);
    ok.SetPosition(0);
    TUxGIFImage g;
    g.ReadData(ok);
    EXPECT_EQ(g.Width(), 17);
    TMemoryStream out;
    g.WriteData(out);
    uint32_t written;
    std::memcpy(&written, out.Memory(), 4);
    EXPECT_EQ(written, out.Bytes().size() - 4);

    TMemoryStream lying;
    const uint32_t tooBig = 0x7FFFFFFF;
    lying.WriteBuffer(&tooBig, 4);
    lying.WriteBuffer(file.data(), size);
    lying.SetPosition(0);
    TUxGIFImage h;
    EXPECT_THROW(h.ReadData(lying), EStreamError);
    EXPECT_EQ(h.Count(), 0);
}

TEST(UxGIF, EveryTruncatedFixtureLoadsOrFailsCleanly) {
    for (const char* name : kFixtures) {
        const std::string file = ReadAll(Fixture(name));
        int corrupted = 0;
        for (size_t n = 0; n < file.size(); ++n) {
            try {
                auto g = Load(file.substr(0, n));
                for (int i = 0; i < g->Count(); ++i) g->Frames(i).Bitmap();
                corrupted += g->Corrupted;
            } catch (const framework::Exception&) {
            }
        }
        EXPECT_GT(corrupted, 0) << name << ": a file cut inside its data is kept, marked corrupted";
    }
}

TEST(UxGIF, RewritesAFileKeepingItsRawData) {
    const std::string file = ReadAll(Fixture("handmade.gif"));
    auto g = Load(file);
    const std::string again = Save(*g);
    auto h = Load(again);
    ASSERT_EQ(h->Count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(h->Frames(i).Item().ImageData, g->Frames(i).Item().ImageData);
        EXPECT_EQ(h->Frames(i).Origin.x, g->Frames(i).Origin.x);
        EXPECT_EQ(h->Frames(i).AnimateInterval, g->Frames(i).AnimateInterval);
        EXPECT_EQ(h->Frames(i).TransparentColor, g->Frames(i).TransparentColor);
    }
    EXPECT_EQ(h->Comment()[0], "after the last image");
    EXPECT_TRUE(h->Frames(1).LocalColors);
    EXPECT_EQ(Save(*h), again);
    ASSERT_TRUE(StreamOf(again).SaveToFile(Output("rewritten-handmade.gif")));
}

// A 24-bit bitmap with a few flat colours.
std::unique_ptr<TBitmap> Drawing(int w, int h, int shift) {
    auto b = std::make_unique<TBitmap>(w, h, TPixelFormat::pf24bit);
    const TColor colours[] = {clRed, clLime, clBlue, clYellow, clBlack};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->Canvas().SetPixel(x, y, colours[(x / 3 + y / 2 + shift) % 5]);
    return b;
}

void WriteExpect(TUxGIFImage& g, const std::string& file) {
    std::ostringstream out;
    out << "frames " << g.Count() << "\n";
    for (int i = 0; i < g.Count(); ++i) {
        TBitmap& b = g.Frames(i).Bitmap();
        out << "frame " << g.Frames(i).Origin.x << " " << g.Frames(i).Origin.y << " " << b.Width() << " " << b.Height() << "\n";
        for (int y = 0; y < b.Height(); ++y) {
            for (int x = 0; x < b.Width(); ++x) out << (x ? " " : "") << Hex(b.Canvas().Pixel(x, y));
            out << "\n";
        }
    }
    std::ofstream(file) << out.str();
}

TEST(UxGIF, WritesFramesMadeFromBitmaps) {
    TUxGIFImage g;
    TMemoryStream s;
    try {
        g.SaveToStream(s);
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "No GIF Data to write");
    }
    try {
        g.SetWidth(3);
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot change the Size of a GIF image");
    }
    EXPECT_TRUE(g.Empty());

    // Three frames of 24-bit bitmaps: reduced, encoded, looping, one transparent colour.
    std::vector<std::unique_ptr<TBitmap>> sources;
    for (int i = 0; i < 3; ++i) {
        sources.push_back(Drawing(29, 17, i));
        EXPECT_EQ(g.AddFrame(*sources.back()), i);
        EXPECT_EQ(g.Version(), i ? TGIFVersion::gv89a : TGIFVersion::gv87a);
    }
    g.Looping = true;
    g.RepeatCount = 7;
    g.Frames(1).AnimateInterval = 250;
    g.Frames(2).TransparentColor = clBlue;
    g.Comment().Add("written by VoltAtlas");
    const std::string bytes = Save(g);
    EXPECT_NE(bytes.find("NETSCAPE2.0"), std::string::npos);
    auto back = Load(bytes);
    ASSERT_EQ(back->Count(), 3);
    EXPECT_EQ(back->RepeatCount, 7);
    EXPECT_EQ(back->Frames(1).AnimateInterval, 250);
    EXPECT_EQ(back->Frames(2).TransparentColor, static_cast<TColor>(RGB(0, 0, 255)));
    for (int i = 0; i < 3; ++i)
        for (int y = 0; y < 17; y += 4)
            for (int x = 0; x < 29; x += 3)
                ASSERT_EQ(back->Frames(i).Bitmap().Canvas().Pixel(x, y), sources[static_cast<size_t>(i)]->Canvas().Pixel(x, y));
    ASSERT_TRUE(StreamOf(bytes).SaveToFile(Output("written-anim.gif")));
    WriteExpect(*back, Output("written-anim.gif.expect"));

    // One frame never gets a loop extension; a 1-bit picture is coded from code size 2.
    TUxGIFImage one;
    TBitmap mono(21, 6, TPixelFormat::pf1bit);
    mono.Canvas().Brush().SetColor(clBlack);
    RECT r{3, 1, 15, 4};
    mono.Canvas().FillRect(r);
    one.AddFrame(mono);
    one.Looping = true;
    const std::string monoBytes = Save(one);
    EXPECT_EQ(monoBytes.find("NETSCAPE2.0"), std::string::npos);
    const size_t desc = monoBytes.find(',', 13 + 6);
    ASSERT_NE(desc, std::string::npos);
    EXPECT_EQ(monoBytes[desc + 10], 2) << "code-size byte of a 1-bit image";
    EXPECT_EQ(Load(monoBytes)->Frames(0).Bitmap().Canvas().Pixel(4, 2), RGB(0, 0, 0));
    ASSERT_TRUE(StreamOf(monoBytes).SaveToFile(Output("written-mono.gif")));
    WriteExpect(*Load(monoBytes), Output("written-mono.gif.expect"));

    // Many colours: reduced by the default method, then every code width and table reset.
    TUxGIFImage big;
    TBitmap gradient(300, 200, TPixelFormat::pf24bit);
    for (int y = 0; y < 200; ++y) {
        auto* row = static_cast<uint8_t*>(gradient.ScanLine(y));
        for (int x = 0; x < 300; ++x) row[3 * x] = static_cast<uint8_t>(x), row[3 * x + 1] = static_cast<uint8_t>(y), row[3 * x + 2] = static_cast<uint8_t>(x ^ y);
    }
    big.AddFrame(gradient);
    const std::string bigBytes = Save(big);
    ASSERT_TRUE(StreamOf(bigBytes).SaveToFile(Output("written-gradient.gif")));
    WriteExpect(*Load(bigBytes), Output("written-gradient.gif.expect"));
}

TEST(UxGIF, CopiesFramesCursorsAndTheClipboard) {
    auto a = Load(ReadAll(Fixture("anim.gif")));
    TUxGIFImage b;
    ASSERT_TRUE(b.Assign(*a));
    EXPECT_TRUE(b.Equals(*a));
    EXPECT_EQ(b.Count(), 3);
    EXPECT_EQ(b.Frames(2).SharedItem(), a->Frames(2).SharedItem()) << "images are shared, not copied";
    TBitmap bmp;
    a->SetFrameIndex(1);
    ASSERT_TRUE(a->AssignTo(bmp));
    EXPECT_EQ(bmp.Width(), 24);

    TUxAni ani;
    TMemoryStream s = StreamOf(ReadAll(Fixture("steps.ani")));
    ani.LoadFromStream(s);
    TUxGIFImage fromAni;
    ASSERT_TRUE(fromAni.Assign(ani));
    ASSERT_EQ(fromAni.Count(), 5);
    const uint16_t ms[] = {100, 100, 16, 200, 500};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(fromAni.Frames(i).AnimateInterval, ms[i]) << i;
    EXPECT_EQ(fromAni.BackgroundColor, clWindow);
    EXPECT_EQ(fromAni.Frames(0).Bitmap().Canvas().Pixel(20, 8), RGB(220, 30, 30));
    EXPECT_EQ(fromAni.Frames(2).Bitmap().Canvas().Pixel(20, 8), RGB(30, 30, 220));
    EXPECT_NE(fromAni.Frames(0).TransparentColor, clNone);

    // The clipboard needs an owner window for SetClipboardData.
    HWND owner = AllocateUtilityWindow("", TWndMethod{});
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    UINT format = 0;
    HANDLE data = nullptr;
    a->SaveToClipboardFormat(format, data);
    EXPECT_EQ(format, UINT(CF_BITMAP));
    SetClipboardData(format, data);
    CloseClipboard();
    ASSERT_TRUE(OpenClipboard(owner));
    TUxGIFImage pasted;
    pasted.LoadFromClipboardFormat(CF_BITMAP, GetClipboardData(CF_BITMAP));
    CloseClipboard();
    EXPECT_EQ(pasted.Count(), 3);
    EXPECT_EQ(pasted.Frames(2).Item().ImageData, a->Frames(2).Item().ImageData);
    // A size prefix larger than the clipboard block is refused.
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    HGLOBAL lie = GlobalAlloc(GMEM_MOVEABLE, 16);
    auto* p = static_cast<uint32_t*>(GlobalLock(lie));
    p[0] = 1000, p[1] = p[2] = p[3] = 0;
    GlobalUnlock(lie);
    SetClipboardData(CF_UXGIF(), lie);
    TUxGIFImage bad;
    EXPECT_THROW(bad.LoadFromClipboardFormat(CF_BITMAP, nullptr), EStreamError);
    EmptyClipboard();
    CloseClipboard();
    DestroyWindow(owner);
}

TEST(UxGIF, DrawsTransparentlyAndReportsProgress) {
    auto g = Load(ReadAll(Fixture("handmade.gif")));
    std::vector<std::pair<TProgressStage, int>> seen;
    g->OnProgress = [&](TUxGIFImage*, TProgressStage st, int pct, const std::string&) { seen.push_back({st, pct}); };
    TBitmap canvas(8, 5, TPixelFormat::pf24bit);
    RECT all{0, 0, 8, 5};
    canvas.Canvas().Brush().SetColor(clFuchsia);
    canvas.Canvas().FillRect(all);
    g->SetFrameIndex(1);
    g->SetFrameIndex(0);
    g->Draw(canvas.Canvas(), all);
    EXPECT_EQ(canvas.Canvas().Pixel(5, 0), RGB(255, 0, 255)) << "the transparent pixel leaves the background";
    EXPECT_EQ(canvas.Canvas().Pixel(1, 0), RGB(255, 0, 0)) << "the other red stays";
    g->SetTransparent(false);
    g->Draw(canvas.Canvas(), all);
    EXPECT_EQ(canvas.Canvas().Pixel(5, 0), RGB(255, 0, 1));
    g->Frames(1).Bitmap();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().first, TProgressStage::psStarting);
    EXPECT_EQ(seen.back().first, TProgressStage::psEnding);
    EXPECT_EQ(seen.back().second, 100);
}

// ---- LZW ----

std::vector<uint8_t> Pattern(const char* kind, size_t n, int bits) {
    std::vector<uint8_t> px(n);
    uint32_t seed = 7;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245 + 12345;
        const std::string k = kind;
        const uint32_t v = k == "flat" ? 1 : k == "ramp" ? static_cast<uint32_t>(i / 5) : k == "noise" ? seed >> 16
                                                                                          : static_cast<uint32_t>((i / 7) ^ ((seed >> 16) & 1));
        px[i] = static_cast<uint8_t>(v & ((1u << bits) - 1));
    }
    return px;
}

TEST(UxGIF, LzwDecodeReadsBackWhatLzwEncodeWrites) {
    // Flat runs make the longest strings (and the entry coded before it is complete), noise
    // fills the table to 12 bits and past its reset, every depth has its own code sizes.
    for (const char* kind : {"flat", "ramp", "noise", "mixed"})
        for (int bits : {1, 2, 4, 8})
            for (size_t n : {size_t{1}, size_t{2}, size_t{300}, size_t{70000}, size_t{400000}}) {
                const auto px = Pattern(kind, n, bits);
                std::string raw;
                LzwEncode(px, bits, raw);
                std::vector<uint8_t> out;
                const TLzwDecoded d = LzwDecode(raw, out, n);
                ASSERT_EQ(d.Pixels, n) << kind << " " << bits << " " << n;
                EXPECT_FALSE(d.Corrupt) << kind << " " << bits << " " << n;
                ASSERT_TRUE(std::equal(px.begin(), px.end(), out.begin())) << kind << " " << bits << " " << n;
            }
    // Fewer values wanted than coded: exactly that many, the rest 0; data cut short: what
    // they hold, without the End code.
    const auto px = Pattern("noise", 5000, 8);
    std::string raw;
    LzwEncode(px, 8, raw);
    std::vector<uint8_t> out;
    TLzwDecoded d = LzwDecode(raw, out, 1234);
    EXPECT_EQ(d.Pixels, 1234u);
    EXPECT_TRUE(std::equal(px.begin(), px.begin() + 1234, out.begin()));
    EXPECT_EQ(out[1234], 0);
    d = LzwDecode(raw.substr(0, 600), out, 5000);
    EXPECT_GT(d.Pixels, 100u);
    EXPECT_LT(d.Pixels, 5000u);
    EXPECT_FALSE(d.Ended);
    EXPECT_TRUE(std::equal(px.begin(), px.begin() + static_cast<ptrdiff_t>(d.Pixels), out.begin()));
    EXPECT_TRUE(LzwDecode(kCodeTooHigh, out, 4).Corrupt);
}

// Codes as another encoder may write them: after the table is full it goes on with 12-bit
// codes and no Clear (a deferred clear). Code size 2: only single values 0..3, so entry k
// holds the values of codes k - 6 and k - 5 after the Clear.
TEST(UxGIF, LzwDecodeGoesOnWithAFullTable) {
    std::vector<uint8_t> values;
    std::string bytes;
    uint32_t acc = 0;
    int bits = 0, width = 3, next = 6;
    auto put = [&](int code) {
        acc |= static_cast<uint32_t>(code) << bits;
        for (bits += width; bits >= 8; bits -= 8, acc >>= 8) bytes += static_cast<char>(acc & 255);
    };
    put(4);  // Clear
    for (int j = 0; j < 4200; ++j) {
        const int v = (j * 7 + j / 5) & 3;
        put(v);
        values.push_back(static_cast<uint8_t>(v));
        if (j >= 1 && next < 4096 && ++next == (1 << width) && width < 12) ++width;
    }
    ASSERT_EQ(width, 12);
    put(4095);  // the last entry: the values of codes 4089 and 4090
    values.push_back(values[4089]);
    values.push_back(values[4090]);
    put(5);  // End
    if (bits) bytes += static_cast<char>(acc & 255);
    std::string raw(1, '\x02');
    for (size_t at = 0; at < bytes.size(); at += 255) {
        const size_t n = std::min<size_t>(255, bytes.size() - at);
        raw += static_cast<char>(n) + bytes.substr(at, n);
    }
    raw += '\0';
    std::vector<uint8_t> out;
    const TLzwDecoded d = LzwDecode(raw, out, values.size() + 10);
    EXPECT_FALSE(d.Corrupt);
    EXPECT_TRUE(d.Ended);
    ASSERT_EQ(d.Pixels, values.size());
    EXPECT_TRUE(std::equal(values.begin(), values.end(), out.begin()));
}

// ---- copies, damage in later frames ----

// Entry i of the test tables: saturated, no two alike, none grey.
COLORREF TableColour(int i) { return RGB(i * 17 % 256, 255 - i * 17 % 256, i * 50 % 256); }
std::string Table(int count) {
    std::string t;
    for (int i = 0; i < count; ++i) t += {static_cast<char>(GetRValue(TableColour(i))), static_cast<char>(GetGValue(TableColour(i))), static_cast<char>(GetBValue(TableColour(i)))};
    return t;
}
std::string Coded(const std::vector<uint8_t>& px, int bits) {
    std::string raw;
    LzwEncode(px, bits, raw);
    return raw;
}
// Graphic control: transparent index, delay 0.
std::string Transparent(int index) { return std::string("!\xF9\x04\x01\x00\x00", 6) + static_cast<char>(index) + '\0'; }

// A 16 x 12 frame of a 16-colour table, value (x + 3y) mod 16; value 5 transparent, the
// bottom-left pixel (value 1) not.
std::string SixteenColours() {
    std::vector<uint8_t> px(16 * 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) px[static_cast<size_t>(y) * 16 + x] = static_cast<uint8_t>((x + 3 * y) & 15);
    return Gif(16, 12, Table(16), Transparent(5) + Image(16, 12, Coded(px, 4)));
}

int WrongPixels(TBitmap& b, int w, int h, const std::function<COLORREF(int, int)>& want) {
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) wrong += b.Canvas().Pixel(x, y) != want(x, y);
    return wrong;
}

TEST(UxGIF, CopiesOfFramesKeepTheirColoursAndTransparentColour) {
    auto g = Load(SixteenColours());
    const auto want = [](int x, int y) { return TableColour((x + 3 * y) & 15); };
    ASSERT_EQ(g->Width(), 16);
    ASSERT_EQ(WrongPixels(g->Frames(0).Bitmap(), 16, 12, want), 0);

    TUxGIFImage shared;  // frames copied with their decoded bitmaps
    ASSERT_TRUE(shared.Assign(*g));
    EXPECT_EQ(WrongPixels(shared.Frames(0).Bitmap(), 16, 12, want), 0) << "a copy of a picture";
    TUxGIFImage single;
    single.Assign(g->Frames(0));
    EXPECT_EQ(WrongPixels(single.Frames(0).Bitmap(), 16, 12, want), 0) << "a picture of one frame";
    TBitmap to;
    ASSERT_TRUE(g->AssignTo(to));
    EXPECT_EQ(WrongPixels(to, 16, 12, want), 0) << "a bitmap";
    EXPECT_TRUE(to.Transparent());
    EXPECT_EQ(ColorToRGB(to.TransparentColor()), TableColour(5)) << "the frame's transparent colour, not a corner's";
    // Drawn transparently, the pixels of value 5 leave the background.
    TBitmap canvas(16, 12, TPixelFormat::pf24bit);
    RECT all{0, 0, 16, 12};
    canvas.Canvas().Brush().SetColor(clBlack);
    canvas.Canvas().FillRect(all);
    to.Draw(canvas.Canvas(), all);
    EXPECT_EQ(canvas.Canvas().Pixel(5, 0), RGB(0, 0, 0));
    EXPECT_EQ(canvas.Canvas().Pixel(0, 11), TableColour(1));

    // A frame without a transparent colour gives an opaque bitmap.
    auto opaque = Load(Gif(2, 1, kBlackWhite, Image(2, 1, kWideValues)));
    TBitmap plain;
    plain.SetTransparent(true);
    opaque->AssignTo(plain);
    EXPECT_FALSE(plain.Transparent());
}

// A palettised DIB section of the test table; value (x + 3y) mod 2^bits.
std::unique_ptr<TBitmap> Palettised(int w, int h, int bits) {
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colors[256];
    } bi{};
    bi.h = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, h, 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0, 1u << bits, 0};
    for (int i = 0; i < (1 << bits); ++i)
        bi.colors[i] = RGBQUAD{GetBValue(TableColour(i)), GetGValue(TableColour(i)), GetRValue(TableColour(i)), 0};
    void* pixels = nullptr;
    HBITMAP handle = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &pixels, nullptr, 0);
    auto b = std::make_unique<TBitmap>();
    b->SetHandle(handle);
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<uint8_t*>(b->ScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int v = (x + 3 * y) & ((1 << bits) - 1);
            if (bits == 8) row[x] = static_cast<uint8_t>(v);
            else if (bits == 4) row[x >> 1] |= static_cast<uint8_t>(v << (x & 1 ? 0 : 4));
            else row[x >> 3] |= static_cast<uint8_t>(v << (7 - (x & 7)));
        }
    }
    return b;
}

TEST(UxGIF, FramesAddedFromPalettisedBitmapsKeepTheirColours) {
    for (int bits : {1, 4, 8}) {
        auto source = Palettised(23, 9, bits);
        const auto want = [bits](int x, int y) { return TableColour((x + 3 * y) & ((1 << bits) - 1)); };
        ASSERT_EQ(WrongPixels(*source, 23, 9, want), 0) << bits;
        TUxGIFImage g;
        g.AddFrame(*source);
        EXPECT_EQ(WrongPixels(g.Frames(0).Bitmap(), 23, 9, want), 0) << bits << " bits: the frame";
        auto back = Load(Save(g));
        EXPECT_EQ(WrongPixels(back->Frames(0).Bitmap(), 23, 9, want), 0) << bits << " bits: the file written";
        EXPECT_EQ(back->Frames(0).Item().BitsPerPixel, bits);
    }
}

TEST(UxGIF, DamageInALaterFrameStaysInThatFrame) {
    const std::string good = Image(16, 12, Coded(std::vector<uint8_t>(16 * 12, 3), 4));
    const std::string table = Table(16);
    // A frame whose data end early keeps what they hold; the frame before it is whole.
    const auto px = Pattern("noise", 64 * 64, 4);
    const std::string cut = Coded(px, 4).substr(0, 300);
    auto early = Load(Gif(64, 64, table, good + Image(64, 64, cut)));
    ASSERT_EQ(early->Count(), 2);
    early->SetFrameIndex(1);
    EXPECT_EQ(early->Width(), 64);
    EXPECT_TRUE(early->Frames(1).Corrupted);
    EXPECT_FALSE(early->Frames(0).Corrupted);
    EXPECT_TRUE(early->Corrupted);
    EXPECT_EQ(early->Frames(1).Bitmap().Canvas().Pixel(1, 0), TableColour(px[1]));

    // A file cut anywhere inside the next frame's descriptor or table: that frame is not
    // there, the one before is whole, the picture is damaged.
    const std::string second = Image(16, 12, Coded(px, 4), Table(16));
    for (size_t n = 1; n < 10 + 48; ++n) {
        const std::string bytes = Gif(16, 12, table, good).substr(0, Gif(16, 12, table, good).size() - 1) + second.substr(0, n);
        auto g = Load(bytes);
        ASSERT_EQ(g->Count(), 1) << n;
        EXPECT_FALSE(g->Frames(0).Corrupted) << n;
        EXPECT_TRUE(g->Corrupted) << n;
    }

    // A later frame larger than its codes can fill has no picture, and measuring or drawing
    // it neither raises nor builds a bitmap: 1,000 code bytes fill at most 2,730,666 values.
    const std::string codes = std::string("\x08", 1) + [] {
        std::string blocks;
        for (int i = 0; i < 4; ++i) blocks += '\xFA' + std::string(250, '\0');  // literal 0s
        return blocks + '\0';
    }();
    struct {
        int w, h;
        bool shown;
    } sizes[] = {{3000, 3000, false}, {1700, 1600, true}, {1024, 1024, true}};
    for (const auto& c : sizes) {
        auto g = Load(Gif(c.w, c.h, Table(256), good + Image(c.w, c.h, codes)));
        ASSERT_EQ(g->Count(), 2);
        g->SetFrameIndex(1);
        TBitmap canvas(4, 4, TPixelFormat::pf24bit);
        RECT all{0, 0, 4, 4};
        for (int twice = 0; twice < 2; ++twice) {
            EXPECT_EQ(g->Width(), c.shown ? c.w : 0) << c.w;
            EXPECT_EQ(g->Height(), c.shown ? c.h : 0) << c.w;
            EXPECT_NO_THROW(g->Draw(canvas.Canvas(), all));
        }
        EXPECT_TRUE(g->Frames(1).Corrupted) << c.w;
        EXPECT_TRUE(g->Corrupted) << c.w;
        EXPECT_FALSE(g->Frames(0).Corrupted) << c.w;
        if (!c.shown) {
            GIFTolerantDecoding = false;
            g = Load(Gif(c.w, c.h, Table(256), good + Image(c.w, c.h, codes)));
            EXPECT_THROW(g->Frames(1).Bitmap(), EInvalidGraphic);
            GIFTolerantDecoding = true;
        }
    }
    // A flat picture as our encoder writes it is far within the bound.
    TBitmap flat(2000, 2000, TPixelFormat::pf8bit);
    TUxGIFImage big;
    big.AddFrame(flat);
    auto back = Load(Save(big));
    EXPECT_EQ(back->Width(), 2000);
    EXPECT_FALSE(back->Corrupted);
}

// A transparent index whose colour clashes with every other blue of its red and green but
// one: the blue steps until it is unique.
TEST(UxGIF, TransparentColourStepsToTheOneFreeBlue) {
    std::string table;
    for (int i = 0; i < 256; ++i) {
        const int blue = i == 37 ? 100 : i;  // 37 is free; 100 is there twice
        table += {'\x10', '\x20', static_cast<char>(blue)};
    }
    auto g = Load(Gif(1, 1, table, Transparent(100) + Image(1, 1, Coded({0}, 8))));
    EXPECT_EQ(g->Frames(0).TransparentColor, static_cast<TColor>(RGB(0x10, 0x20, 37)));
}

TEST(UxGIF, IsKnownToThePictureRegistry) {
    EXPECT_EQ(TPicture::FindExtension("GIF"), &TUxGIFImage::Class());
    EXPECT_EQ(TPicture::FindClipboardFormat(CF_UXGIF()), &TUxGIFImage::Class());
    bool signature = false;
    for (const auto& s : GraphicSignatures())
        signature |= s->Signature == "GIF" && s->Offset == 0 && s->GraphicClass == &TUxGIFImage::Class();
    EXPECT_TRUE(signature);
    TPicture pic;
    pic.LoadFromFile(Fixture("still.gif"));
    ASSERT_TRUE(dynamic_cast<TUxGIFImage*>(pic.Graphic()));
    EXPECT_EQ(pic.Width(), 40);
    bool listed = false;
    for (const auto& f : TPicture::FileFormats()) listed |= f.Extension == "gif" && f.Description == "CompuServe GIF Image";
    EXPECT_TRUE(listed);
}

}  // namespace
