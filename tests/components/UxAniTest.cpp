// Animated cursors: reading files packed from icotool's cursors and icons, steps, rates and
// texts, writing them back (read again by us and by the system's own cursor loader),
// playing, converting, and refusing damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "PictureFiles.h"
#include "components/UxAni.h"
#include "support/TempDir.h"

using namespace framework;
using picturefiles::Fixture;
using picturefiles::ReadAll;

namespace {

std::unique_ptr<TUxAni> Load(const std::string& bytes) {
    auto a = std::make_unique<TUxAni>();
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    a->LoadFromStream(s);
    return a;
}

std::string Save(TUxAni& a) {
    TMemoryStream s;
    a.SaveToStream(s);
    return s.Bytes();
}

std::string U32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Chunk(const std::string& tag, const std::string& body) {
    return tag + U32(static_cast<uint32_t>(body.size())) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}
std::string Anih(uint32_t images, uint32_t flags = 1, uint32_t size = 36) {
    std::string h = U32(36) + U32(images) + U32(images) + U32(0) + U32(0) + U32(0) + U32(0) + U32(10) + U32(flags);
    return Chunk("anih", h.substr(0, size));
}
std::string Ints(std::initializer_list<uint32_t> v) {
    std::string s;
    for (uint32_t x : v) s += U32(x);
    return s;
}
std::string Riff(const std::string& body) {
    return "RIFF" + U32(static_cast<uint32_t>(body.size() + 4)) + "ACON" + body;
}
std::string Frames(int n) {
    std::string list = "fram";
    for (int i = 0; i < n; ++i) list += Chunk("icon", ReadAll(Fixture("frame" + std::to_string(i) + ".cur")));
    return Chunk("LIST", list);
}

TEST(UxAni, ReadsStepsRatesHotSpotsAndTexts) {
    auto a = Load(ReadAll(Fixture("steps.ani")));
    EXPECT_EQ(a->FrameCount(), 5);
    EXPECT_EQ(a->IconCount(), 3);
    EXPECT_EQ(a->Title(), "Odd");
    EXPECT_EQ(a->Author(), "Even");
    EXPECT_EQ(a->Header().cFrames, 3u);
    EXPECT_EQ(a->Index(), 0);
    EXPECT_FALSE(a->Empty());
    const int image[] = {0, 1, 2, 1, 0};
    const POINT hot[] = {{3, 5}, {16, 16}, {30, 1}};
    const uint32_t rate[] = {0, 6, 1, 12, 30};
    for (int i = 0; i < 5; ++i) {
        TUxIconFrame* f = a->Frames(i);
        ASSERT_TRUE(f) << i;
        EXPECT_FALSE(f->IsIcon) << i;
        EXPECT_EQ(f->HotSpotX, hot[image[i]].x) << i;
        EXPECT_EQ(f->HotSpotY, hot[image[i]].y) << i;
        EXPECT_EQ(f->Rate, rate[i]) << i;
        EXPECT_EQ(f->Icon.get(), a->Icons(image[i])) << i;
    }
    EXPECT_EQ(a->Frames(5), nullptr);
    EXPECT_EQ(a->Frames(-1), nullptr);
    EXPECT_EQ(a->Icons(3), nullptr);
    EXPECT_EQ(a->Width(), 32);
    EXPECT_EQ(a->Height(), 32);

    auto icons = Load(ReadAll(Fixture("icons.ani")));
    EXPECT_EQ(icons->FrameCount(), 2) << "without a sequence the images play in order";
    EXPECT_TRUE(icons->Frames(1)->IsIcon);
    EXPECT_EQ(icons->Frames(1)->HotSpotX, 16) << "an icon's hot spot is its centre";
    EXPECT_EQ(icons->Frames(1)->Rate, 6u) << "no rates: the header's default";
    EXPECT_TRUE(icons->Title().empty());
}

TEST(UxAni, WritesWhatItReadsAndTheSystemLoadsItAsACursor) {
    auto a = Load(ReadAll(Fixture("steps.ani")));
    const std::string bytes = Save(*a);
    uint32_t riff;
    std::memcpy(&riff, bytes.data() + 4, 4);
    EXPECT_EQ(riff, bytes.size() - 8);
    // "Odd" and its zero make an even chunk; "Even" and its zero an odd one with a pad byte.
    const size_t inam = bytes.find("INAM"), iart = bytes.find("IART");
    ASSERT_NE(inam, std::string::npos);
    ASSERT_NE(iart, std::string::npos);
    EXPECT_EQ(bytes.substr(inam + 4, 8), U32(4) + std::string("Odd\0", 4));
    EXPECT_EQ(bytes.substr(iart + 4, 10), U32(5) + std::string("Even\0\0", 6));
    auto b = Load(bytes);
    EXPECT_EQ(b->Title(), "Odd");
    EXPECT_EQ(b->Author(), "Even");
    EXPECT_EQ(b->Rates(), a->Rates());
    EXPECT_EQ(b->Sequence(), a->Sequence());
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(b->Frames(i)->IsIcon) << "cursors stay cursors";
        EXPECT_EQ(b->Frames(i)->HotSpotX, a->Frames(i)->HotSpotX);
        EXPECT_EQ(b->Frames(i)->HotSpotY, a->Frames(i)->HotSpotY);
    }
    EXPECT_EQ(Save(*b), bytes);

    testsupport::TempDir dir;
    const std::string file = dir.File("steps.ani");
    b->SaveToFile(file);
    HCURSOR cursor = LoadCursorFromFileA(file.c_str());
    ASSERT_TRUE(cursor) << "the system's loader reads our file";
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(cursor, &ii));
    EXPECT_FALSE(ii.fIcon);
    EXPECT_EQ(ii.xHotspot, 3u);
    EXPECT_EQ(ii.yHotspot, 5u);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    DestroyCursor(cursor);

    // Through the picture registry by extension.
    EXPECT_EQ(TPicture::FindExtension("ani"), &TUxAni::Class());
    TPicture pic;
    pic.LoadFromFile(file);
    ASSERT_TRUE(dynamic_cast<TUxAni*>(pic.Graphic()));
    EXPECT_EQ(static_cast<TUxAni*>(pic.Graphic())->FrameCount(), 5);
}

// A cursor of two images: 48 x 48 with hot spot (20, 30) first, then 32 x 32 with (3, 5).
TEST(UxAni, EachImageOfACursorKeepsItsOwnHotSpot) {
    ASSERT_EQ(GetSystemMetrics(SM_CXICON), 32) << "the test expects the 32 x 32 image shown";
    auto a = Load(ReadAll(Fixture("multi.ani")));
    TUxIconFrame* f = a->Frames(0);
    ASSERT_TRUE(f);
    EXPECT_EQ(a->Width(), 32);
    EXPECT_EQ(f->HotSpotX, 3) << "the hot spot of the image shown";
    EXPECT_EQ(f->HotSpotY, 5);

    const std::string bytes = Save(*a);
    const size_t icon = bytes.find("icon");
    ASSERT_NE(icon, std::string::npos);
    const std::string file = bytes.substr(icon + 8);
    ASSERT_EQ(file.substr(0, 6), std::string("\0\0\2\0\2\0", 6)) << "a cursor of two images";
    const POINT want[] = {{20, 30}, {3, 5}};
    for (int i = 0; i < 2; ++i) {
        uint16_t x, y;
        std::memcpy(&x, file.data() + 6 + 16 * i + 4, 2);
        std::memcpy(&y, file.data() + 6 + 16 * i + 6, 2);
        EXPECT_EQ(x, want[i].x) << "entry " << i;
        EXPECT_EQ(y, want[i].y) << "entry " << i;
    }
    auto b = Load(bytes);
    EXPECT_EQ(b->Frames(0)->HotSpotX, 3);
    EXPECT_EQ(b->Frames(0)->HotSpotY, 5);

    // The system's loader picks the same image and reads its hot spot from our file.
    testsupport::TempDir dir;
    const std::string path = dir.File("multi.ani");
    b->SaveToFile(path);
    HCURSOR cursor = LoadCursorFromFileA(path.c_str());
    ASSERT_TRUE(cursor);
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(cursor, &ii));
    EXPECT_EQ(ii.xHotspot, 3u);
    EXPECT_EQ(ii.yHotspot, 5u);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    DestroyCursor(cursor);

    TUxAni d;
    d.Assign(*b);
    EXPECT_EQ(Save(d), bytes) << "a copy writes the same hot spots";
}

TEST(UxAni, PlaysAtTheStepRates) {
    struct {
        uint32_t rate;
        unsigned ms;
    } cases[] = {{0, 100}, {6, 100}, {1, 16}, {60, 1000}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
    for (const auto& c : cases) EXPECT_EQ(TUxAni::RateToInterval(c.rate), c.ms) << c.rate;
    // A rate whose interval only fits in 64 bits is not wrapped to a short one.
    EXPECT_EQ(TUxAni::RateToInterval(100000000u), 1666666666u);

    auto a = Load(ReadAll(Fixture("steps.ani")));
    int changes = 0;
    a->OnChange = [&](TGraphic*) { ++changes; };
    a->Animate();
    EXPECT_EQ(a->Index(), 1);
    EXPECT_EQ(a->TimerInterval(), 100u);
    EXPECT_TRUE(a->Animated());
    a->Animate();
    EXPECT_EQ(a->Index(), 2);
    EXPECT_EQ(a->TimerInterval(), 16u);
    for (int i = 0; i < 3; ++i) a->Animate();
    EXPECT_EQ(a->Index(), 0) << "wraps after the last step";
    EXPECT_GE(changes, 5);
    a->SetIndex(7);
    EXPECT_EQ(a->Index(), 0) << "outside the steps: ignored";
    a->SetAnimated(false);
    EXPECT_FALSE(a->Animated());
}

TEST(UxAni, ConvertsToIconStripAndCopies) {
    auto a = Load(ReadAll(Fixture("steps.ani")));
    a->SetIndex(2);
    TIcon icon;
    ASSERT_TRUE(a->AssignTo(icon));
    EXPECT_FALSE(icon.Empty());
    TBitmap strip;
    strip.Canvas().Brush().SetColor(clWhite);
    ASSERT_TRUE(a->AssignTo(strip));
    EXPECT_EQ(strip.Width(), 32 * 5);
    EXPECT_EQ(strip.Height(), 32);
    EXPECT_EQ(a->Index(), 2) << "the current step is restored";
    // True-colour cursors reduce to 16 colours: the slots keep their hue.
    EXPECT_EQ(strip.PixelFormat(), TPixelFormat::pf4bit);
    const COLORREF red = strip.Canvas().Pixel(20, 8), blue = strip.Canvas().Pixel(2 * 32 + 20, 8);
    EXPECT_TRUE(GetRValue(red) > GetGValue(red) && GetRValue(red) > GetBValue(red)) << std::hex << red;
    EXPECT_TRUE(GetBValue(blue) > GetRValue(blue) && GetBValue(blue) > GetGValue(blue)) << std::hex << blue;
    EXPECT_EQ(strip.Canvas().Pixel(1, 1), RGB(255, 255, 255)) << "background around the cursor";

    TBitmap vertical;
    a->FrameStrip(vertical, clBlack, true, false);
    EXPECT_EQ(vertical.Width(), 32);
    EXPECT_EQ(vertical.Height(), 32 * 5);
    const COLORREF expected[] = {RGB(220, 30, 30), RGB(30, 180, 30), RGB(30, 30, 220), RGB(30, 180, 30), RGB(220, 30, 30)};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(vertical.Canvas().Pixel(20, i * 32 + 8), expected[i]) << i;
    EXPECT_EQ(vertical.Canvas().Pixel(1, 1), RGB(0, 0, 0));
    // Many steps: the strip stays within what a bitmap can be.
    std::vector<uint32_t> seq(5000, 1);
    a->SetSequence(seq);
    EXPECT_EQ(a->FrameCount(), 5000);
    TBitmap wide;
    a->FrameStrip(wide, clBlack, false, false);
    EXPECT_LE(wide.Width(), TUxAni::kMaxStripPixels);
    EXPECT_EQ(wide.Width(), TUxAni::kMaxStripPixels / 32 * 32);

    TUxAni copy;
    auto fresh = Load(ReadAll(Fixture("steps.ani")));
    ASSERT_TRUE(copy.Assign(*fresh));
    EXPECT_EQ(Save(copy), Save(*fresh));
    EXPECT_NE(copy.Icons(0), fresh->Icons(0)) << "images are copied, not shared";
    copy.Clear();
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(copy.Index(), -1);
}

TEST(UxAni, SizeAndClipboardAndEmptySavesAreRefused) {
    auto a = Load(ReadAll(Fixture("icons.ani")));
    auto message = [](auto f) {
        try {
            f();
        } catch (const EInvalidGraphic& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { a->SetWidth(5); }), "Impossible de modifier la taille d'une icône");
    EXPECT_EQ(message([&] { a->SetHeight(5); }), "Impossible de modifier la taille d'une icône");
    UINT f = 0;
    HANDLE h = nullptr;
    EXPECT_EQ(message([&] { a->SaveToClipboardFormat(f, h); }), "Le Presse-papiers ne supporte pas les icônes");
    EXPECT_EQ(message([&] { a->LoadFromClipboardFormat(CF_BITMAP, nullptr); }),
              "Le Presse-papiers ne supporte pas les icônes");
    TUxAni empty;
    TMemoryStream s;
    EXPECT_EQ(message([&] { empty.SaveToStream(s); }), "Image non valide");
    EXPECT_TRUE(empty.Transparent());
}

TEST(UxAni, DamagedFilesAreRefusedAndLeaveTheImageEmpty) {
    const std::string good = Riff(Anih(2) + Chunk("rate", Ints({3, 4})) + Frames(2));
    ASSERT_EQ(Load(good)->FrameCount(), 2);
    std::string hugeRate = Riff(Anih(2) + "rate" + U32(0x7FFFFFF0) + Ints({3, 4}) + Frames(2));
    std::string hugeList = Riff(Anih(2) + "LIST" + U32(0x7FFFFFF0) + "fram");
    std::string bigIcon = Frames(1);
    std::memcpy(bigIcon.data() + 16, "\xF0\xFF\x00\x00", 4);  // the icon sub-chunk outgrows its list
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"not RIFF", "RIFX" + good.substr(4)},
        {"not ACON", good.substr(0, 8) + "AVI " + good.substr(12)},
        {"no frame flag", Riff(Anih(2, 0) + Frames(2))},
        {"no images in the header", Riff(Anih(0) + Frames(2))},
        {"short header", Riff(Anih(2, 1, 20) + Frames(2))},
        {"rate beyond the file", hugeRate},
        {"list beyond the file", hugeList},
        {"list shorter than its type", Riff(Anih(2) + Chunk("LIST", "fr") + Frames(2))},
        {"icon beyond its list", Riff(Anih(1) + bigIcon)},
        {"fewer rates than steps", Riff(Anih(2) + Chunk("rate", Ints({3})) + Frames(2))},
        {"step naming no image", Riff(Anih(2) + Chunk("seq ", Ints({0, 1, 2})) + Frames(2))},
        {"no images", Riff(Anih(2))},
        {"no header", Riff(Frames(2))},
    };
    for (const auto& c : cases) {
        TUxAni a;
        a.SetTitle("old");
        TMemoryStream s;
        s.WriteBuffer(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
        s.SetPosition(0);
        try {
            a.LoadFromStream(s);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), "Erreur de lecture du flux") << c.what;
        }
        EXPECT_TRUE(a.Empty()) << c.what;
        EXPECT_EQ(a.IconCount(), 0) << c.what;
    }
    // Every prefix of a good file loads or is refused; none crashes or hangs.
    const std::string steps = ReadAll(Fixture("steps.ani"));
    int loaded = 0;
    for (size_t n = 0; n < steps.size(); ++n) {
        try {
            loaded += Load(steps.substr(0, n))->FrameCount() > 0;
        } catch (const framework::Exception&) {
        }
    }
    EXPECT_LT(loaded, static_cast<int>(steps.size()));
}

}  // namespace
