// Bitmaps, icons, the picture registry and image lists, checked on pixels and bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/Graphics.h"
#include "framework/ImageList.h"

using namespace framework;

namespace {

TEST(Bitmap, StreamRoundTripKeepsSizeAndPixels) {
    TBitmap b(5, 3, TPixelFormat::pf24bit);
    b.Canvas().SetPixel(0, 0, clRed);
    b.Canvas().SetPixel(4, 2, clBlue);
    TMemoryStream s;
    b.SaveToStream(s);
    EXPECT_EQ(s.Bytes().substr(0, 2), "BM");
    s.SetPosition(0);
    TBitmap c;
    c.LoadFromStream(s);
    EXPECT_EQ(c.Width(), 5);
    EXPECT_EQ(c.Height(), 3);
    EXPECT_EQ(c.Canvas().Pixel(0, 0), ColorToRGB(clRed));
    EXPECT_EQ(c.Canvas().Pixel(4, 2), ColorToRGB(clBlue));
    EXPECT_EQ(c.Canvas().Pixel(1, 1), ColorToRGB(clWhite)) << "a new bitmap starts white";
    EXPECT_EQ(c.TransparentColor(), clWhite) << "bottom-left pixel";
}

// A DIB section of the given depth: palettised ones with a colour table of saturated,
// non-grey colours; 16 and 32 bits with bit-field masks. Pixel (x, y) holds value
// (x + 3 * y) masked to the depth.
HBITMAP PaintedSection(int w, int h, int bits, DWORD compression) {
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colors[256];
    } bi{};
    bi.h.biSize = sizeof bi.h;
    bi.h.biWidth = w;
    bi.h.biHeight = h;
    bi.h.biPlanes = 1;
    bi.h.biBitCount = static_cast<WORD>(bits);
    bi.h.biCompression = compression;
    if (bits <= 8) {
        bi.h.biClrUsed = 1u << bits;
        for (int i = 0; i < (1 << bits); ++i)
            bi.colors[i] = RGBQUAD{static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 37), static_cast<BYTE>(i * 91), 0};
    } else if (compression == BI_BITFIELDS) {
        const DWORD masks16[] = {0xF800, 0x07E0, 0x001F}, masks32[] = {0xFF0000, 0x00FF00, 0x0000FF};
        std::memcpy(bi.colors, bits == 16 ? masks16 : masks32, sizeof masks16);
    }
    void* pixels = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &pixels, nullptr, 0);
    const int stride = ((w * bits + 31) / 32) * 4;
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<uint8_t*>(pixels) + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            const uint32_t v = static_cast<uint32_t>(x + 3 * y) * 2654435761u;
            switch (bits) {
                case 1: row[x >> 3] |= static_cast<uint8_t>(((x + 3 * y) & 1) << (7 - (x & 7))); break;
                case 4: row[x >> 1] |= static_cast<uint8_t>(((x + 3 * y) & 15) << (x & 1 ? 0 : 4)); break;
                case 8: row[x] = static_cast<uint8_t>(x + 3 * y); break;
                case 16: std::memcpy(row + 2 * x, &v, 2); break;
                default: std::memcpy(row + 4 * x, &v, 4); break;
            }
        }
    }
    return b;
}

TEST(Bitmap, AssignCopiesEveryDepthFaithfully) {
    struct {
        int bits;
        DWORD compression;
        TPixelFormat format;
    } cases[] = {{1, BI_RGB, TPixelFormat::pf1bit},         {4, BI_RGB, TPixelFormat::pf4bit},
                 {8, BI_RGB, TPixelFormat::pf8bit},         {16, BI_BITFIELDS, TPixelFormat::pfDevice},
                 {24, BI_RGB, TPixelFormat::pf24bit},       {32, BI_RGB, TPixelFormat::pf32bit},
                 {32, BI_BITFIELDS, TPixelFormat::pf32bit}};
    for (const auto& c : cases) {
        TBitmap source;
        source.SetHandle(PaintedSection(24, 16, c.bits, c.compression));
        ASSERT_FALSE(source.Empty()) << c.bits;
        TBitmap copy;
        ASSERT_TRUE(copy.Assign(source));
        EXPECT_EQ(copy.PixelFormat(), source.PixelFormat()) << c.bits;
        ASSERT_EQ(copy.Width(), 24);
        ASSERT_EQ(copy.Height(), 16);
        int wrong = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x)
                if (copy.Canvas().Pixel(x, y) != source.Canvas().Pixel(x, y) && wrong++ < 3)
                    ADD_FAILURE() << c.bits << " bits at " << x << "," << y;
        EXPECT_EQ(wrong, 0) << c.bits << " bits";
        if (c.bits <= 8) {
            RGBQUAD want[256], got[256];
            const UINT n = GetDIBColorTable(source.Canvas().Handle(), 0, 256, want);
            ASSERT_EQ(GetDIBColorTable(copy.Canvas().Handle(), 0, 256, got), n) << c.bits;
            EXPECT_EQ(std::memcmp(want, got, n * sizeof(RGBQUAD)), 0) << c.bits << ": the colour table is the source's";
        }
    }
    // The bits are the copy's own.
    TBitmap a;
    a.SetHandle(PaintedSection(4, 4, 8, BI_RGB));
    TBitmap b;
    b.Assign(a);
    static_cast<uint8_t*>(a.ScanLine(0))[0] = 200;
    EXPECT_NE(static_cast<uint8_t*>(b.ScanLine(0))[0], 200);
}

TEST(Bitmap, AFixedTransparentColourReplacesTheCornerAndIsCopied) {
    TBitmap b(3, 2, TPixelFormat::pf24bit);
    b.Canvas().SetPixel(0, 1, clBlue);
    EXPECT_EQ(b.TransparentColor(), clBlue) << "automatic: the bottom-left pixel";
    b.SetTransparentColor(clRed);
    b.SetTransparent(true);
    EXPECT_EQ(b.TransparentColor(), clRed);
    TBitmap c;
    c.Assign(b);
    EXPECT_TRUE(c.Transparent());
    EXPECT_EQ(c.TransparentColor(), clRed);
    // Drawn transparently, the red pixel leaves the background and the blue one stays.
    b.Canvas().SetPixel(1, 0, clRed);
    TBitmap target(3, 2, TPixelFormat::pf24bit);
    RECT all{0, 0, 3, 2};
    target.Canvas().Brush().SetColor(clLime);
    target.Canvas().FillRect(all);
    b.Draw(target.Canvas(), all);
    EXPECT_EQ(target.Canvas().Pixel(1, 0), ColorToRGB(clLime));
    EXPECT_EQ(target.Canvas().Pixel(0, 1), ColorToRGB(clBlue));
    b.SetTransparentColor(clDefault);
    EXPECT_EQ(b.TransparentColor(), clBlue);
}

TEST(Brush, AColourAfterTheClearStyleFillsAgainEvenWhenItIsTheSameColour) {
    TBitmap b(4, 1);
    for (TColor second : {clRed, clBlue}) {
        SCOPED_TRACE(second == clRed ? "same colour" : "other colour");
        b.Canvas().Brush().SetColor(clRed);
        b.Canvas().Brush().SetStyle(TBrushStyle::bsClear);
        b.Canvas().Brush().SetColor(second);
        EXPECT_EQ(b.Canvas().Brush().Style(), TBrushStyle::bsSolid);
        RECT r{0, 0, 4, 1};
        b.Canvas().FillRect(r);
        EXPECT_EQ(b.Canvas().Pixel(2, 0), ColorToRGB(second));
        b.Canvas().Brush().SetColor(clWhite);
        b.Canvas().FillRect(r);
    }
}

// Texts reach the ...A functions in the ANSI code page: a literal written in the source as
// "è" must be the one byte 0xE8 of code page 1252, which Windows reads back as U+00E8.
TEST(AnsiLiterals, AreCompiledInCodePage1252) {
    const std::string message = EOutOfResources().Message();
    EXPECT_EQ(message, "Ressources syst\xE8me insuffisantes");
    EXPECT_EQ(std::string("è"), "\xE8");
    wchar_t wide[64] = {};
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, message.c_str(), -1, wide, 64), 0);
    EXPECT_EQ(std::wstring(wide), L"Ressources syst\u00E8me insuffisantes");
}

TEST(Bitmap, RejectsDataThatIsNoBitmap) {
    TMemoryStream s;
    s.WriteBuffer("GIF89a and more bytes", 21);
    s.SetPosition(0);
    TBitmap b;
    EXPECT_THROW(b.LoadFromStream(s), Exception);
    EXPECT_TRUE(b.Empty());
}

TEST(Icon, SavedHandleReloadsWithItsSize) {
    TIcon icon;
    icon.SetHandle(CopyIcon(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION))));
    TMemoryStream s;
    icon.SaveToStream(s);
    ASSERT_GE(s.Bytes().size(), 22u);
    EXPECT_EQ(s.Bytes().substr(0, 4), std::string("\0\0\1\0", 4));
    s.SetPosition(0);
    TIcon again;
    again.LoadFromStream(s);
    EXPECT_FALSE(again.Empty());
    EXPECT_EQ(again.Width(), icon.Width());
    EXPECT_EQ(again.Height(), icon.Height());
}

TEST(Picture, RegistryFindsClassesByExtensionAndForgetsUnregisteredOnes) {
    EXPECT_EQ(TPicture::FindExtension("BMP"), &TBitmap::Class());
    EXPECT_EQ(TPicture::FindExtension(".ico"), &TIcon::Class());
    EXPECT_EQ(TPicture::FindExtension("xyz"), nullptr);
    static const TGraphicClass fake{"TFake", [] { return std::unique_ptr<TGraphic>(new TBitmap); }};
    TPicture::RegisterFileFormat("fak", "Fake pictures", fake);
    EXPECT_EQ(TPicture::FindExtension("fak"), &fake);
    TPicture::UnregisterGraphicClass(fake);
    EXPECT_EQ(TPicture::FindExtension("fak"), nullptr);
    TPicture p;
    EXPECT_THROW(p.LoadFromFile("C:\\nothing.xyz"), EInvalidGraphic);
}

TEST(ImageList, DrawsEnabledImagesAsIsAndDisabledOnesInTheShadowColour) {
    TImageList list(nullptr, 8, 8);
    TBitmap img(16, 8);
    RECT a{0, 0, 8, 8}, b{8, 0, 16, 8};
    img.Canvas().Brush().SetColor(clBlue);
    img.Canvas().FillRect(a);
    img.Canvas().Brush().SetColor(clFuchsia);  // transparent in the second image
    img.Canvas().FillRect(b);
    RECT dot{11, 3, 13, 5};
    img.Canvas().Brush().SetColor(clRed);
    img.Canvas().FillRect(dot);
    int changes = 0;
    TChangeLink link;
    link.OnChange = [&](TChangeLink*) { ++changes; };
    list.RegisterChanges(&link);
    EXPECT_EQ(list.AddMasked(img, clFuchsia), 0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(changes, 1);

    TBitmap out(20, 10);
    RECT all{0, 0, 20, 10};
    out.Canvas().Brush().SetColor(clLime);
    out.Canvas().FillRect(all);
    list.Draw(out.Canvas(), 0, 0, 0, true);
    list.Draw(out.Canvas(), 10, 0, 1, false);
    EXPECT_EQ(out.Canvas().Pixel(4, 4), ColorToRGB(clBlue));
    EXPECT_EQ(out.Canvas().Pixel(10 + 3, 3), GetSysColor(COLOR_BTNSHADOW)) << "disabled: the shape in shadow";
    EXPECT_EQ(out.Canvas().Pixel(10 + 0, 0), ColorToRGB(clLime)) << "transparent parts stay undrawn";
    list.UnRegisterChanges(&link);
    list.Clear();
    EXPECT_EQ(changes, 1);
}

}  // namespace
