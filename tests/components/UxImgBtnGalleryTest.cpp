// Saves a picture of image buttons in their states (imgbtn-gallery.bmp in the working
// folder, the build's tests folder under CTest) for a person to look at. The live form is
// copied from the screen; the last row is drawn through the owner-draw path in each state.
#include <gtest/gtest.h>

#include "ImgBtnSupport.h"

#include <uxtheme.h>

#include "framework/SysUtils.h"
#include "support/Pump.h"

using namespace framework;
using namespace imgbtntest;

namespace {

TEST(ImgBtnGallery, SavesAPictureOfTheButtonsInTheirStates) {
    auto images = SquareList({clBlue, clRed, clGreen, clFuchsia});
    TForm form(nullptr);
    form.SetCaption("Image buttons");
    form.BorderStyle = TFormBorderStyle::bsSingle;
    form.SetClientSize(560, 260);
    std::vector<std::unique_ptr<TUxImgBtn>> buttons;
    auto add = [&](int col, int row, const std::string& caption) {
        auto b = std::make_unique<TUxImgBtn>(&form);
        b->SetBounds(8 + col * 138, 8 + row * 48, 130, 40);
        b->SetParent(&form);
        b->SetCaption(caption);
        buttons.push_back(std::move(b));
        return buttons.back().get();
    };
    const TUxImgBtnKind kinds[] = {TUxImgBtnKind::bkOK,    TUxImgBtnKind::bkCancel, TUxImgBtnKind::bkHelp,
                                   TUxImgBtnKind::bkYes,   TUxImgBtnKind::bkNo,     TUxImgBtnKind::bkClose,
                                   TUxImgBtnKind::bkRetry, TUxImgBtnKind::bkAll,    TUxImgBtnKind::bkAbort,
                                   TUxImgBtnKind::bkIgnore};
    for (int i = 0; i < 10; ++i) add(i % 4, i / 4, "")->SetKind(kinds[i]);
    TUxImgBtn* plain = add(2, 2, "Image left");
    plain->SetImages(images.get());
    plain->SetImageIndex(0);
    TUxImgBtn* right = add(3, 2, "Image right");
    right->SetImages(images.get());
    right->SetImageIndex(1);
    right->SetLayout(TUxImgBtnLayout::blImageRight);
    TUxImgBtn* flat = add(0, 3, "Flat, left");
    flat->SetImages(images.get());
    flat->SetImageIndex(2);
    flat->SetFlat(true);
    flat->SetAlignment(TAlignment::taLeftJustify);
    flat->SetMustDrawButtonFrame(false);
    flat->SetMustDrawFocusRect(false);
    TUxImgBtn* disabled = add(1, 3, "Disabled");
    disabled->SetImages(images.get());
    disabled->SetImageIndex(3);
    disabled->SetEnabled(false);
    TUxImgBtn* wrap = add(2, 3, "Two|lines");
    wrap->SetImages(images.get());
    wrap->SetImageIndex(0);
    form.Show();
    testsupport::PumpFor(300);

    // One button drawn classic in each state: normal, hot (flat), pressed, focused, disabled.
    TUxImgBtn probe(&form);
    probe.SetBounds(0, 250, 130, 40);
    probe.SetVisible(false);
    probe.SetParent(&form);
    SetWindowTheme(probe.Handle(), L" ", L" ");
    probe.SetImages(images.get());
    probe.SetImageIndex(0);
    probe.SetCaption("State");
    const UINT states[] = {0, ODS_SELECTED, ODS_FOCUS, ODS_DISABLED};
    TBitmap gallery(560, 260 + 50);
    RECT all{0, 0, 560, 310};
    gallery.Canvas().Brush().SetColor(clBtnFace);
    gallery.Canvas().FillRect(all);
    HDC screen = GetDC(form.Handle());
    BitBlt(gallery.Canvas().Handle(), 0, 0, 560, 260, screen, 0, 0, SRCCOPY);
    ReleaseDC(form.Handle(), screen);
    for (int i = 0; i < 4; ++i) {
        if (states[i] == ODS_DISABLED) probe.SetEnabled(false);
        auto bmp = Render(probe, states[i]);
        BitBlt(gallery.Canvas().Handle(), 8 + i * 138, 264, 130, 40, bmp->Canvas().Handle(), 0, 0, SRCCOPY);
    }
    // The live form must show something besides its background: the glyphs and images.
    int coloured = 0;
    for (int y = 0; y < 260; y += 2)
        for (int x = 0; x < 560; x += 2) {
            const COLORREF c = gallery.Canvas().Pixel(x, y);
            coloured += GetRValue(c) != GetGValue(c) || GetGValue(c) != GetBValue(c);
        }
    EXPECT_GT(coloured, 500);
    gallery.SaveToFile("imgbtn-gallery.bmp");
    EXPECT_TRUE(FileExists("imgbtn-gallery.bmp"));
}

}  // namespace
