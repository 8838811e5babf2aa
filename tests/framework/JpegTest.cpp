// JPEG pictures through libjpeg: files PIL wrote are read, ours are read back by us here and
// by PIL afterwards, damaged and hostile data fail cleanly, and the registry knows the class.
#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/Jpeg.h"
#include "framework/SysUtils.h"

using namespace framework;

namespace {

// "<current folder>\jpeg-files\", shared with jpeg_files.py.
std::string Folder() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    return IncludeTrailingPathDelimiter(cwd) + "jpeg-files\\";
}

std::string Bytes(const std::string& name) {
    std::string data;
    EXPECT_TRUE(ReadFileBytes(Folder() + name, data)) << name;
    return data;
}

std::unique_ptr<TJPEGImage> Load(const std::string& data) {
    TMemoryStream s;
    s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    s.SetPosition(0);
    auto j = std::make_unique<TJPEGImage>();
    j->LoadFromStream(s);
    return j;
}

const COLORREF kQuadrants[] = {RGB(200, 30, 40), RGB(20, 180, 60), RGB(30, 60, 210), RGB(240, 230, 20)};

// The colour at each quadrant's centre is within a JPEG's loss of the one drawn there.
void ExpectQuadrants(TJPEGImage& j, bool gray, const std::string& what) {
    ASSERT_EQ(j.Width(), 48) << what;
    ASSERT_EQ(j.Height(), 32) << what;
    for (int i = 0; i < 4; ++i) {
        const COLORREF got = j.Bitmap().Canvas().Pixel(12 + (i % 2) * 24, 8 + (i / 2) * 16);
        COLORREF want = kQuadrants[i];
        if (gray) {
            const int l = (GetRValue(want) * 299 + GetGValue(want) * 587 + GetBValue(want) * 114) / 1000;
            want = RGB(l, l, l);
        }
        EXPECT_LE(std::abs(GetRValue(got) - GetRValue(want)), 12) << what << " quadrant " << i;
        EXPECT_LE(std::abs(GetGValue(got) - GetGValue(want)), 12) << what << " quadrant " << i;
        EXPECT_LE(std::abs(GetBValue(got) - GetBValue(want)), 12) << what << " quadrant " << i;
    }
}

TEST(Jpeg, ReadsWhatPILWrote) {
    for (const char* name : {"quadrants.jpg", "progressive.jpg"}) {
        auto j = Load(Bytes(name));
        EXPECT_FALSE(j->Grayscale());
        ExpectQuadrants(*j, false, name);
    }
    auto g = Load(Bytes("gray.jpg"));
    EXPECT_TRUE(g->Grayscale());
    ExpectQuadrants(*g, true, "gray.jpg");
}

TEST(Jpeg, WritesABitmapThatReadsBack) {
    TBitmap b(48, 32, TPixelFormat::pf24bit);
    for (int i = 0; i < 4; ++i) {
        RECT r{(i % 2) * 24, (i / 2) * 16, (i % 2) * 24 + 24, (i / 2) * 16 + 16};
        b.Canvas().Brush().SetColor(static_cast<TColor>(kQuadrants[i]));
        b.Canvas().FillRect(r);
    }
    TJPEGImage j;
    ASSERT_TRUE(j.Assign(b));
    TMemoryStream s;
    j.SaveToStream(s);
    ASSERT_GE(s.Bytes().size(), 4u);
    EXPECT_EQ(s.Bytes().substr(0, 3), "\xFF\xD8\xFF");
    auto back = Load(s.Bytes());
    ExpectQuadrants(*back, false, "ours");
    ASSERT_TRUE(s.SaveToFile(Folder() + "ours.jpg"));
    // Bytes as loaded are written again unchanged.
    TMemoryStream again;
    back->SaveToStream(again);
    EXPECT_EQ(again.Bytes(), s.Bytes());
    TJPEGImage copy;
    ASSERT_TRUE(copy.Assign(*back));
    EXPECT_EQ(copy.Width(), 48);
}

TEST(Jpeg, DamagedAndHostileDataFailCleanly) {
    try {
        Load("this is not a JPEG file at all");
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()).rfind("JPEG error #", 0), 0u) << e.what();
    }
    // The frame header claims 65000 x 65000 pixels in a file of a few hundred bytes.
    std::string big = Bytes("quadrants.jpg");
    const size_t sof = big.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    big[sof + 5] = '\xFD', big[sof + 6] = '\xE8', big[sof + 7] = '\xFD', big[sof + 8] = '\xE8';
    try {
        Load(big);
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "JPEG image is too large");
    }
    const std::string good = Bytes("progressive.jpg");
    int loaded = 0;
    for (size_t n = 0; n < good.size(); n += 7) {
        try {
            loaded += Load(good.substr(0, n))->Width() == 48;
        } catch (const EInvalidGraphic&) {
        }
    }
    EXPECT_GT(loaded, 0) << "a cut-off progressive file still shows what arrived";
}

TEST(Jpeg, IsKnownToThePictureRegistry) {
    EXPECT_EQ(TPicture::FindExtension("jpg"), &TJPEGImage::Class());
    EXPECT_EQ(TPicture::FindExtension(".JPEG"), &TJPEGImage::Class());
    TPicture pic;
    pic.LoadFromFile(Folder() + "quadrants.jpg");
    ASSERT_TRUE(dynamic_cast<TJPEGImage*>(pic.Graphic()));
    EXPECT_EQ(pic.Width(), 48);
}

}  // namespace
