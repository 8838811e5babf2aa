// Controls made from argument structs: every field lands where a form expects it, bounds are
// a size and not edges, and the handlers given run on a real click.
#include <gtest/gtest.h>

#include "framework/ControlArgs.h"
#include "framework/Forms.h"

using namespace framework;

namespace {

void ExpectPlaced(TWinControl& c, TWinControl* parent, TBounds b, const char* what) {
    EXPECT_EQ(c.Parent(), parent) << what;
    EXPECT_EQ(c.Left(), b.X) << what;
    EXPECT_EQ(c.Top(), b.Y) << what;
    EXPECT_EQ(c.Width(), b.W) << what;
    EXPECT_EQ(c.Height(), b.H) << what;
}

TEST(MakeControl, EveryKindGetsItsNameCaptionPlaceAndOptions) {
    TForm form(nullptr);
    form.SetClientSize(300, 200);
    std::unique_ptr<TGroupBox> grp;
    std::unique_ptr<TLabel> fixed;
    std::unique_ptr<TCheckBox> chk;
    std::unique_ptr<TButton> ok, cancel;
    std::unique_ptr<TImage> img;
    // Sizes smaller than the edges a RECT reader would take them for.
    MakeControl(grp, &form, TGroupBoxArgs{.Name = "grp", .Parent = &form, .Bounds = {40, 30, 20, 10}, .Caption = "G"});
    MakeControl(fixed, &form,
                TLabelArgs{.Name = "fixed", .Parent = grp.get(), .Bounds = {5, 6, 7, 8}, .Caption = "a long text",
                           .AutoSize = false});
    MakeControl(chk, &form, TCheckBoxArgs{.Name = "chk", .Parent = &form, .Bounds = {10, 60, 120, 17}, .Caption = "C"});
    MakeControl(ok, &form,
                TButtonArgs{.Name = "ok", .Parent = &form, .Bounds = {10, 90, 75, 25}, .Caption = "Ok",
                            .Default = true, .ModalResult = mrOk});
    MakeControl(cancel, &form,
                TButtonArgs{.Name = "cancel", .Parent = &form, .Bounds = {90, 90, 75, 25}, .Caption = "Close",
                            .Cancel = true, .ModalResult = mrCancel});
    MakeControl(img, &form, TImageArgs{.Name = "img", .Parent = &form, .Bounds = {0, 120, 30, 30}, .AutoSize = true});

    ExpectPlaced(*grp, &form, {40, 30, 20, 10}, "group");
    ExpectPlaced(*fixed, grp.get(), {5, 6, 7, 8}, "label not fitted to its text");
    ExpectPlaced(*chk, &form, {10, 60, 120, 17}, "check box");
    ExpectPlaced(*ok, &form, {10, 90, 75, 25}, "ok");
    ExpectPlaced(*img, &form, {0, 120, 30, 30}, "image without a picture");
    EXPECT_EQ(grp->Name(), "grp");
    EXPECT_EQ(fixed->Name(), "fixed");
    EXPECT_EQ(cancel->Name(), "cancel");
    EXPECT_EQ(grp->Caption(), "G");
    EXPECT_EQ(fixed->Caption(), "a long text");
    EXPECT_EQ(chk->Caption(), "C");
    EXPECT_FALSE(fixed->AutoSize());
    EXPECT_TRUE(img->AutoSize());
    EXPECT_TRUE(ok->Default());
    EXPECT_FALSE(ok->Cancel());
    EXPECT_EQ(ok->ModalResult(), mrOk);
    EXPECT_FALSE(cancel->Default());
    EXPECT_TRUE(cancel->Cancel());
    EXPECT_EQ(cancel->ModalResult(), mrCancel);
    // Made by the form: found among its components by name.
    EXPECT_EQ(form.FindComponent("chk"), chk.get());
    // Parented in the order made.
    form.Show();
    EXPECT_EQ(GetParent(fixed->Handle()), grp->Handle());
    EXPECT_NE(GetWindowLongPtrA(ok->Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
}

TEST(MakeControl, ClickHandlersRunOnARealClickAndSeeTheMemberSet) {
    TForm form(nullptr);
    std::unique_ptr<TButton> btn;
    std::unique_ptr<TCheckBox> chk;
    TComponent* clickedButton = nullptr;
    TComponent* clickedBox = nullptr;
    MakeControl(btn, &form,
                TButtonArgs{.Name = "btn", .Parent = &form, .Bounds = {10, 10, 75, 25}, .Caption = "Go",
                            .OnClick = [&](TComponent* s) { clickedButton = s; }});
    MakeControl(chk, &form,
                TCheckBoxArgs{.Name = "chk", .Parent = &form, .Bounds = {10, 40, 100, 17}, .Caption = "Box",
                              .OnClick = [&](TComponent* s) {
                                  clickedBox = s;
                                  EXPECT_TRUE(chk->Checked());
                              }});
    form.Show();
    SendMessageA(btn->Handle(), BM_CLICK, 0, 0);
    SendMessageA(chk->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(clickedButton, btn.get());
    EXPECT_EQ(clickedBox, chk.get());
}

}  // namespace
