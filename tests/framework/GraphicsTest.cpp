// Bitmaps, icons, the picture registry and image lists, checked on pixels and bytes.
#include <gtest/gtest.h>

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
