// The button extension layer: caption line breaks, hot-track font, drop-down menu, the
// same-size rule, hint colour and dialog codes.
#include <gtest/gtest.h>

#include "components/UxButton.h"
#include "support/Pump.h"

using namespace framework;

namespace {

// Exposes what the layer computes and counts the same-size notices it receives.
class TProbeButton : public TUxCustomButton {
public:
    using TUxCustomButton::TUxCustomButton;
    std::string Painted() const { return PaintCaption(); }
    int sameSizeNotices = 0;

protected:
    void WndProc(TMessage& m) override {
        if (m.Msg == CM_UXSAMESIZE) ++sameSizeNotices;
        TUxCustomButton::WndProc(m);
    }
};

class UxButton : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm>(nullptr);
        form->HandleNeeded();
    }
    std::unique_ptr<TForm> form;
};

TEST_F(UxButton, BarBreaksTheCaptionOnlyUnderWordWrap) {
    TProbeButton b(form.get());
    b.SetCaption("Two|lines");
    EXPECT_EQ(b.Painted(), "Two\nlines");
    b.SetWordWrap(false);
    EXPECT_EQ(b.Painted(), "Two|lines");
}

TEST_F(UxButton, SecondEnterWithoutLeaveKeepsTheSavedNormalFont) {
    TProbeButton b(form.get());
    b.SetParent(form.get());
    b.SetHotTrack(true);
    b.HotTrackFont().SetStyle(fsBold);
    EXPECT_EQ(b.HotTrackFontOptions(), 69u);
    b.Perform(CM_MOUSEENTER);
    EXPECT_EQ(b.Font().Style(), unsigned(fsBold));
    b.Perform(CM_MOUSEENTER);
    b.Perform(CM_MOUSELEAVE);
    EXPECT_EQ(b.Font().Style(), 0u) << "the normal font comes back, not the hot one";
}

TEST_F(UxButton, HotTrackFontFollowsTheFontExceptPreservedAttributes) {
    TProbeButton b(form.get());
    b.HotTrackFont().SetColor(clRed);
    b.HotTrackFont().SetStyle(fsUnderline);
    b.Font().SetName("Arial");
    b.Font().SetHeight(-20);
    b.Font().SetColor(clBlue);
    b.Font().SetStyle(fsBold);
    EXPECT_EQ(b.HotTrackFont().Name(), "Arial");
    EXPECT_EQ(b.HotTrackFont().Height(), -20);
    EXPECT_EQ(b.HotTrackFont().Color(), clRed) << "colour is preserved by default";
    EXPECT_EQ(b.HotTrackFont().Style(), unsigned(fsUnderline)) << "style is preserved by default";
    b.SetHotTrackFontOptions(0);  // without hoFollowFont nothing is copied
    b.Font().SetName("Courier New");
    EXPECT_EQ(b.HotTrackFont().Name(), "Arial");
}

TEST_F(UxButton, ClickWithoutMenuRunsOnlyTheClickAndCentredMenuOpensMidBottom) {
    TProbeButton b(form.get());
    b.SetBounds(20, 30, 81, 25);
    b.SetParent(form.get());
    int clicks = 0;
    b.OnClick = [&](TComponent*) { ++clicks; };
    b.Click();
    EXPECT_EQ(clicks, 1);

    TPopupMenu menu(form.get());
    menu.Alignment = TPopupAlignment::paCenter;
    b.SetDropDownMenu(&menu);
    POINT at{};
    b.OnDropDownMenu = [&](TComponent*, POINT p, bool& handled) {
        at = p;
        handled = true;  // nothing pops up
    };
    b.Click();
    EXPECT_EQ(clicks, 2);
    const POINT bottomLeft = b.ClientToScreen(POINT{0, 25});
    EXPECT_EQ(at.x, bottomLeft.x + 81 / 2);
    EXPECT_EQ(at.y, bottomLeft.y);
    EXPECT_EQ(menu.PopupComponent, &b);
}

TEST_F(UxButton, SameSizeReachesEachOtherButtonOnceAndIsNotRebroadcast) {
    TProbeButton a(form.get()), b(form.get()), c(form.get());
    for (TProbeButton* x : {&a, &b, &c}) {
        x->SetParent(form.get());
        x->SetForceSameSize(true);
    }
    b.SetBounds(50, 60, 10, 10);
    c.SetBounds(70, 80, 10, 10);
    a.sameSizeNotices = b.sameSizeNotices = c.sameSizeNotices = 0;
    a.SetBounds(5, 6, 90, 33);
    EXPECT_EQ(a.sameSizeNotices, 0);
    EXPECT_EQ(b.sameSizeNotices, 1);
    EXPECT_EQ(c.sameSizeNotices, 1);
    EXPECT_EQ(b.Width(), 90);
    EXPECT_EQ(b.Height(), 33);
    EXPECT_EQ(b.Left(), 50) << "each keeps its own position";
    EXPECT_EQ(c.Top(), 80);
}

TEST_F(UxButton, HintColourComesFromTheParentTheApplicationOrItself) {
    TProbeButton b(form.get());
    b.SetParent(form.get());
    THintInfo info;
    info.HintColor = clYellow;
    b.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.HintColor, clYellow) << "the form leaves the offered colour as it is";
    b.SetHintColor(clNone);
    Application().HintColor = clAqua;
    b.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.HintColor, clAqua);
    b.SetHintColor(clLime);
    b.HintWindowClass = "MyHint";
    b.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.HintColor, clLime);
    EXPECT_EQ(info.HintWindowClass, "MyHint");
    Application().HintColor = clInfoBk;
    EXPECT_EQ(b.Perform(CM_UXEXTENSION), 1);
}

TEST(UxButtonCodes, DialogCodesAndKeyDataConvertBothWays) {
    const LRESULT dlgc = DLGC_WANTARROWS | DLGC_BUTTON | DLGC_WANTTAB;
    const TDlgCodes codes = DlgcToDlgCodes(dlgc);
    EXPECT_EQ(codes, TDlgCodes(dcWantArrows | dcButton | dcWantTab));
    EXPECT_EQ(DlgCodesToDlgc(codes | dcNative), dlgc) << "the native flag has no Windows bit";
    EXPECT_EQ(ShiftStateToKeyData(ssAlt | ssCtrl | ssShift), 0x38000000u);
}

}  // namespace
