// The image button: layout, drawing, hot tracking, animation and clicks.
#include <gtest/gtest.h>

#include "ImgBtnSupport.h"
#include "components/UxImgBtn.h"
#include "support/Pump.h"

#include <uxtheme.h>

using namespace framework;
using namespace imgbtntest;
using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

// One visible form for the suite (hiding a window costs Wine two seconds under Xvfb).
class ImgBtn : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        form = new TForm(nullptr);
        form->SetClientSize(400, 300);
        form->Show();
        PumpFor(50);
    }
    static void TearDownTestSuite() {
        delete form;
        form = nullptr;
    }
    void SetUp() override {
        form->OnClose = nullptr;
        images = SquareList({clBlue, clRed, clLime, clYellow, clAqua, clNavy, clMaroon, clGreen, clOlive});
        btn = std::make_unique<TUxImgBtn>(form);
        btn->SetBounds(10, 10, 200, 40);
        btn->SetParent(form);
        // The classic drawing; the themed one has its own test.
        SetWindowTheme(btn->Handle(), L" ", L" ");
    }
    static TForm* form;
    std::unique_ptr<TImageList> images;
    std::unique_ptr<TUxImgBtn> btn;
};
TForm* ImgBtn::form = nullptr;

// Width and height of the caption as DrawText measures it in the button's font.
SIZE Measure(TUxImgBtn& b, const std::string& text) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, b.Font().Handle());
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return SIZE{r.right, r.bottom};
}

TEST_F(ImgBtn, LayoutOfImageAndCaptionForEveryLayoutAndAlignment) {
    btn->SetCaption("Caption");
    btn->SetImages(images.get());
    btn->SetImageIndex(0);
    const SIZE text = Measure(*btn, "Caption");
    const int tw = text.cx, th = text.cy;
    // The content rectangle of a plain button: the client area less 4 on every side.
    const RECT r{4, 4, 196, 36};
    const int spare = 192 - (31 + 4 + tw);  // image 32 wide (its rectangle ends at 31), spacing 4
    const int imageTop = 4 + (32 - 31) / 2, textTop = 4 + (32 - th) / 2;
    struct Row {
        TUxImgBtnLayout layout;
        TAlignment align;
        int margin;
        int imageLeft, textLeft;
    };
    using L = TUxImgBtnLayout;
    using A = TAlignment;
    const Row rows[] = {
        {L::blImageLeft, A::taCenter, -1, 4 + spare / 2, 4 + spare / 2 + 35},
        {L::blImageLeft, A::taLeftJustify, 0, 4, 39},
        {L::blImageLeft, A::taLeftJustify, 10, 14, 49},
        {L::blImageLeft, A::taRightJustify, 0, 4 + spare, 4 + spare + 35},  // caption ends at R.right
        {L::blImageLeft, A::taRightJustify, 10, 4 + spare - 10, 4 + spare - 10 + 35},
        {L::blImageRight, A::taCenter, -1, 4 + 161 - spare / 2, 4 + spare - spare / 2},
        {L::blImageRight, A::taLeftJustify, 0, 4 + 161, 4 + spare},  // image ends at R.right
        {L::blImageRight, A::taLeftJustify, 10, 4 + 151, 4 + spare - 10},
        {L::blImageRight, A::taRightJustify, 0, 4 + 161 - spare, 4},
    };
    for (const Row& row : rows) {
        btn->SetLayout(row.layout);
        btn->SetAlignment(row.align);
        btn->SetMargin(row.margin);
        RECT t, i;
        btn->ComputeParts(r, t, i);
        SCOPED_TRACE(testing::Message() << "layout " << int(row.layout) << " align " << int(row.align) << " margin "
                                        << row.margin);
        EXPECT_EQ(i.left, row.imageLeft);
        EXPECT_EQ(i.right - i.left, 31);
        EXPECT_EQ(i.top, imageTop);
        EXPECT_EQ(t.left, row.textLeft);
        EXPECT_EQ(t.right - t.left, tw);
        EXPECT_EQ(t.top, textTop);
    }
    // Without an image (index -1) the caption alone is placed, with no spacing.
    btn->SetLayout(L::blImageLeft);
    btn->SetAlignment(A::taLeftJustify);
    btn->SetMargin(0);
    btn->SetImageIndex(-1);
    RECT t, i;
    btn->ComputeParts(r, t, i);
    EXPECT_EQ(t.left, 4);
    EXPECT_TRUE(IsRectEmpty(&i));
}

TEST_F(ImgBtn, MarginAndAlignmentSettersFollowEachOther) {
    btn->SetAlignment(TAlignment::taLeftJustify);
    EXPECT_EQ(btn->Margin(), 0) << "an alignment on margin -1 makes it 0";
    btn->SetMargin(-1);
    EXPECT_EQ(btn->Alignment(), TAlignment::taCenter);
    btn->SetMargin(-5);
    EXPECT_EQ(btn->Margin(), -1) << "below -1 is ignored";
}

TEST_F(ImgBtn, NormalAndPressedDrawingShowTheFrameImageAndCaption) {
    btn->SetCaption("Go");
    btn->SetImages(images.get());
    btn->SetImageIndex(0);  // blue
    auto normal = Render(*btn, 0);
    const RECT client{0, 0, 200, 40};
    const int blue = CountColor(*normal, client, RGB(0, 0, 255));
    EXPECT_EQ(blue, 32 * 32);
    EXPECT_EQ(normal->Canvas().Pixel(199, 39), GetSysColor(COLOR_3DDKSHADOW)) << "raised push-button frame";
    // The caption: the same drawing with the caption in the button's own colour differs only
    // inside the caption's rectangle, and there it does.
    RECT caption, image;
    btn->ComputeParts(RECT{4, 4, 196, 36}, caption, image);
    btn->Font().SetColor(btn->Color());
    auto unseen = Render(*btn, 0);
    btn->Font().SetColor(clWindowText);
    const auto inked = Differences(*normal, *unseen);
    EXPECT_FALSE(inked.empty()) << "the caption";
    for (POINT p : inked) EXPECT_TRUE(PtInRect(&caption, p)) << p.x << "," << p.y << " outside the caption";

    // Pressed: a shadow rectangle and the content one pixel right and down.
    auto pressed = Render(*btn, ODS_SELECTED);
    EXPECT_EQ(pressed->Canvas().Pixel(0, 0), GetSysColor(COLOR_BTNSHADOW));
    auto firstBlue = [](TBitmap& b) {
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x)
                if (b.Canvas().Pixel(x, y) == RGB(0, 0, 255)) return POINT{x, y};
        return POINT{-1, -1};
    };
    const POINT a = firstBlue(*normal), b = firstBlue(*pressed);
    EXPECT_EQ(b.x, a.x + 1);
    EXPECT_EQ(b.y, a.y + 1);
    btn->DisableDrawDown = true;
    auto still = Render(*btn, ODS_SELECTED);
    EXPECT_EQ(firstBlue(*still).x, a.x);
}

TEST_F(ImgBtn, DisabledButtonEmbossesCaptionAndGreysImage) {
    // Left-aligned, so the image keeps its place when the caption goes.
    btn->SetAlignment(TAlignment::taLeftJustify);
    btn->SetMargin(0);
    btn->SetImages(images.get());
    btn->SetImageIndex(0);
    btn->SetEnabled(false);
    auto bare = Render(*btn, ODS_DISABLED);
    btn->SetCaption("Go");
    auto bmp = Render(*btn, ODS_DISABLED);
    const RECT inner{4, 4, 196, 36};
    RECT caption, image;
    btn->ComputeParts(inner, caption, image);
    EXPECT_EQ(CountColor(*bmp, inner, RGB(0, 0, 255)), 0) << "no colour of the image";
    EXPECT_EQ(CountColor(*bmp, inner, GetSysColor(COLOR_WINDOWTEXT)), 0) << "no normal caption";
    image.right += 1, image.bottom += 1;  // its rectangle ends on the last pixel
    EXPECT_EQ(CountColor(*bmp, image, GetSysColor(COLOR_BTNSHADOW)), 32 * 32) << "the image in shadow";

    // The caption twice: in the highlight colour one pixel down and right, and in shadow.
    const auto inked = Differences(*bmp, *bare);
    ASSERT_FALSE(inked.empty()) << "the caption";
    RECT embossed = caption;
    embossed.right += 1, embossed.bottom += 1;
    auto brightness = [](COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); };
    const int ground = brightness(GetSysColor(COLOR_BTNFACE));
    int lighter = 0, darker = 0;
    for (POINT p : inked) {
        EXPECT_TRUE(PtInRect(&embossed, p)) << p.x << "," << p.y << " outside the caption";
        const int b = brightness(bmp->Canvas().Pixel(p.x, p.y));
        lighter += b > ground;
        darker += b < ground;
    }
    EXPECT_GT(lighter, 0) << "the embossed highlight";
    EXPECT_GT(darker, 0) << "the caption in shadow";
}

TEST_F(ImgBtn, FlatFramelessLeftButtonDrawsImageFourPixelsInAndFrameOnlyWhenHot) {
    btn->SetFlat(true);
    btn->SetAlignment(TAlignment::taLeftJustify);
    btn->SetMargin(0);
    btn->SetColor(clWhite);
    btn->SetImages(images.get());
    btn->SetImageIndex(1);  // red
    btn->SetCaption("Value");
    auto bmp = Render(*btn, 0);
    EXPECT_EQ(bmp->Canvas().Pixel(4, 4), RGB(255, 0, 0)) << "image at the content rectangle's corner";
    EXPECT_EQ(bmp->Canvas().Pixel(3, 4), RGB(255, 255, 255));
    EXPECT_EQ(bmp->Canvas().Pixel(0, 0), RGB(255, 255, 255)) << "no frame while the mouse is away";
}

// The background is the button's colour on every paint, not only the first (the caption
// drawing leaves the brush clear), and also through the double-buffered path, whose memory
// bitmap starts black. A yellow button on a white bitmap shows whether it was filled.
TEST_F(ImgBtn, EveryPaintFillsTheBackgroundWithTheButtonsColour) {
    btn->SetCaption("Go");
    btn->SetImages(images.get());
    btn->SetImageIndex(0);
    btn->SetColor(clYellow);
    const COLORREF yellow = RGB(255, 255, 0);
    for (bool flat : {true, false}) {
        for (bool buffered : {false, true}) {
            SCOPED_TRACE(testing::Message() << (flat ? "flat" : "framed") << (buffered ? ", double-buffered" : ""));
            btn->SetFlat(flat);
            btn->SetDoubleBuffered(buffered);
            for (int paint = 1; paint <= 2; ++paint) {
                auto bmp = Render(*btn, 0);
                EXPECT_EQ(bmp->Canvas().Pixel(5, 5), yellow) << "paint " << paint;
                EXPECT_EQ(bmp->Canvas().Pixel(194, 34), yellow) << "paint " << paint;
            }
        }
    }
    btn->SetDoubleBuffered(false);
}

// The button's drawing canvas, which only the button and its handlers see.
struct CanvasOf : TUxImgBtn {
    static TCanvas& Get(TUxImgBtn& b) { return (b.*(&CanvasOf::Canvas))(); }
};

// A drawing handler that throws, with and without the memory bitmap: the canvas lets go of
// the DC, and the next draw (into a fresh memory DC) reaches the button whole.
TEST_F(ImgBtn, AnOwnerDrawThatThrowsFreesTheCanvasAndTheNextDrawIsWhole) {
    std::string caught;
    Application().OnException = [&](const std::exception& e) { caught = e.what(); };
    btn->SetOwnerDraw(true);
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "double-buffered" : "direct");
        btn->SetDoubleBuffered(buffered);
        caught.clear();
        btn->OnButtonDraw = [](TComponent*, const DRAWITEMSTRUCT&) { throw Exception("draw failed"); };
        Render(*btn, 0);
        EXPECT_EQ(caught, "draw failed");
        EXPECT_FALSE(CanvasOf::Get(*btn).HandleAllocated());
        btn->OnButtonDraw = [this](TComponent*, const DRAWITEMSTRUCT& d) {
            CanvasOf::Get(*btn).Brush().SetColor(clLime);
            CanvasOf::Get(*btn).FillRect(d.rcItem);
        };
        auto bmp = Render(*btn, 0);
        EXPECT_EQ(bmp->Canvas().Pixel(1, 1), RGB(0, 255, 0));
        EXPECT_EQ(bmp->Canvas().Pixel(btn->Width() - 2, btn->Height() - 2), RGB(0, 255, 0));
        EXPECT_FALSE(CanvasOf::Get(*btn).HandleAllocated());
    }
    btn->OnButtonDraw = nullptr;
    btn->SetOwnerDraw(false);
    btn->SetDoubleBuffered(false);
    Application().OnException = nullptr;
}

TEST_F(ImgBtn, BuiltInGlyphsFollowTheKindAndTheKindsCaption) {
    struct Row {
        TUxImgBtnKind kind;
        COLORREF ink;
        const char* caption;
        int modal;
    } rows[] = {{TUxImgBtnKind::bkOK, RGB(0, 160, 0), "OK", mrOk},
                {TUxImgBtnKind::bkCancel, RGB(192, 0, 0), "Annuler", mrCancel},
                {TUxImgBtnKind::bkHelp, RGB(0, 0, 192), "&Aide", mrNone}};
    for (const Row& row : rows) {
        TUxImgBtn b(form);
        b.SetBounds(10, 60, 120, 30);
        b.SetParent(form);
        SetWindowTheme(b.Handle(), L" ", L" ");
        b.SetCaption("Custom");
        b.SetImages(images.get());
        b.SetKind(row.kind);
        EXPECT_EQ(b.Caption(), "") << "leaving bkCustom clears the caption";
        EXPECT_EQ(b.Images(), nullptr);
        EXPECT_EQ(b.ModalResult(), row.modal);
        // The glyph's ink shows inside the glyph's rectangle, and nowhere without the glyph.
        RECT caption, glyph;
        b.ComputeParts(RECT{4, 4, 116, 26}, caption, glyph);
        glyph.right += 1, glyph.bottom += 1;  // its rectangle ends on the last pixel
        auto bmp = Render(b, 0);
        const RECT all{0, 0, 120, 30};
        EXPECT_GT(CountColor(*bmp, glyph, row.ink), 0) << row.caption;
        EXPECT_EQ(CountColor(*bmp, all, row.ink), CountColor(*bmp, glyph, row.ink)) << row.caption;
        b.SetImageVisible(false);
        auto bare = Render(b, 0);
        EXPECT_EQ(CountColor(*bare, all, row.ink), 0) << row.caption;
    }
}

TEST_F(ImgBtn, UnchangedImageIndexCausesNoRepaint) {
    btn->SetImages(images.get());
    btn->SetImageIndex(2);
    ValidateRect(btn->Handle(), nullptr);
    btn->SetImageIndex(2);
    EXPECT_FALSE(GetUpdateRect(btn->Handle(), nullptr, FALSE));
    btn->SetImageIndex(3);
    EXPECT_TRUE(GetUpdateRect(btn->Handle(), nullptr, FALSE));
}

TEST_F(ImgBtn, RemovingTheImageListClearsImagesAndIndex) {
    auto list = SquareList({clRed});
    btn->SetImages(list.get());
    btn->SetImageIndex(0);
    list.reset();
    EXPECT_EQ(btn->Images(), nullptr);
    EXPECT_EQ(btn->ImageIndex(), -1);
}

TEST_F(ImgBtn, AnimationStepsThroughTheFramesOnItsTimer) {
    btn->SetImages(images.get());
    btn->SetImageIndex(5);
    btn->SetAnimateFrames(3);
    btn->SetAnimateInterval(30);
    std::vector<int> seen;
    btn->SetAnimate(true);
    EXPECT_TRUE(btn->Animating());
    EXPECT_TRUE(btn->DoubleBuffered());
    seen.push_back(btn->CurrentImageIndex());
    ASSERT_TRUE(PumpUntil([&] {
        const int now = btn->CurrentImageIndex();
        if (now != seen.back()) seen.push_back(now);
        return seen.size() >= 5;
    }, 3000));
    EXPECT_EQ(seen, (std::vector<int>{5, 6, 7, 5, 6}));
    int replaced = 0;
    btn->OnGetAnimateIndex = [&](TComponent*, int frame, int& index) {
        ++replaced;
        index = 8;
    };
    EXPECT_EQ(btn->CurrentImageIndex(), 8);
    btn->SetAnimate(false);
    EXPECT_FALSE(btn->Animating());
    EXPECT_EQ(btn->CurrentFrame(), 0);
    EXPECT_EQ(btn->CurrentImageIndex(), 5);
}

TEST_F(ImgBtn, ClickReachesOnClickAndCloseKindClosesTheForm) {
    int clicks = 0;
    btn->OnClick = [&](TComponent*) { ++clicks; };
    SendMessageA(btn->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);

    bool closed = false;
    form->OnClose = [&](TForm*, TCloseAction& a) {
        closed = true;
        a = TCloseAction::caNone;
    };
    btn->SetKind(TUxImgBtnKind::bkClose);
    SendMessageA(btn->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(closed);
    EXPECT_EQ(clicks, 1) << "a close button runs no click event";
}

TEST_F(ImgBtn, HotTrackingFollowsRealMouseMessages) {
    btn->SetFlat(true);
    btn->SetHotTrack(true);
    btn->HotTrackFont().SetStyle(fsUnderline);
    int enters = 0, leaves = 0;
    btn->OnMouseEnter = [&](TComponent*) { ++enters; };
    btn->OnMouseLeave = [&](TComponent*) { ++leaves; };
    POINT centre = btn->ClientToScreen(POINT{100, 20});
    SetCursorPos(centre.x, centre.y);
    PostMessageA(btn->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(100, 20));
    ASSERT_TRUE(PumpUntil([&] { return btn->MouseInside(); }, 2000));
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(btn->Font().Style() & fsUnderline, unsigned(fsUnderline)) << "the hot-track font is worn";
    auto hot = Render(*btn, 0);
    EXPECT_EQ(hot->Canvas().Pixel(0, 0), GetSysColor(COLOR_BTNHIGHLIGHT)) << "a flat button shows its frame when hot";
    EXPECT_EQ(hot->Canvas().Pixel(199, 39), GetSysColor(COLOR_BTNSHADOW));
    // Moving away: the system's leave notice ends the hot state.
    SetCursorPos(5, 1000);
    ASSERT_TRUE(PumpUntil([&] { return !btn->MouseInside(); }, 3000));
    EXPECT_EQ(leaves, 1);
    EXPECT_EQ(btn->Font().Style() & fsUnderline, 0u);
}

TEST_F(ImgBtn, ThemedDrawingUsesThePushButtonElementOnlyWithTheFrameFlag) {
    SetWindowTheme(btn->Handle(), nullptr, nullptr);  // themes back on for this one
    if (!IsThemeActive()) GTEST_SKIP() << "no visual style is active";
    btn->SetImages(images.get());
    btn->SetImageIndex(0);
    form->SetColor(clWhite);
    btn->SetMustDrawButtonFrame(false);
    auto frameless = Render(*btn, 0);
    EXPECT_EQ(frameless->Canvas().Pixel(1, 1), RGB(255, 255, 255)) << "only the parent's background behind it";
    btn->SetMustDrawButtonFrame(true);
    auto framed = Render(*btn, 0);
    EXPECT_NE(framed->Canvas().Pixel(1, 1), RGB(255, 255, 255)) << "the themed element";
    form->SetColor(clBtnFace);
}

}  // namespace
