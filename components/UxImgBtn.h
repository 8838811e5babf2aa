// The image button: an owner-drawn push button showing an image from an image list (or a
// built-in glyph chosen by its kind) beside its caption, with alignment, margin, spacing,
// image-left or image-right layout, flat or framed looks, theme-aware drawing, a pressed
// offset, an optional drop arrow and focus rectangle, and a frame animation driven by a
// window timer.
#pragma once

#include <functional>
#include <memory>

#include "components/UxButton.h"
#include "framework/ControlArgs.h"
#include "framework/ImageList.h"

enum class TUxImgBtnLayout { blImageLeft, blImageRight };
enum class TUxImgBtnKind { bkCustom, bkOK, bkCancel, bkHelp, bkYes, bkNo, bkClose, bkAbort, bkRetry, bkIgnore, bkAll };

// The kind's modal result, default caption and built-in glyph (-1: none).
int KindModalResult(TUxImgBtnKind kind);
const char* KindCaption(TUxImgBtnKind kind);
int KindGlyph(TUxImgBtnKind kind);
// The glyphs shared by every image button (18 x 18, ten of them), made on first use.
framework::TCustomImageList& UxDefaultGlyphs();

class TUxCustomImageButton : public TUxCustomButton {
public:
    explicit TUxCustomImageButton(framework::TComponent* owner);
    ~TUxCustomImageButton() override;

    framework::TAlignment Alignment() const { return alignment_; }
    void SetAlignment(framework::TAlignment v);
    bool Animate() const { return animate_; }
    void SetAnimate(bool v);
    int AnimateFrames() const { return animateFrames_; }
    void SetAnimateFrames(int v);
    unsigned AnimateInterval() const { return animateInterval_; }
    void SetAnimateInterval(unsigned v);
    bool DisableDrawDown = false;
    bool Flat() const { return flat_; }
    void SetFlat(bool v);
    framework::TCustomImageList* Images() const { return images_; }
    void SetImages(framework::TCustomImageList* list);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int v);
    bool ImageVisible() const { return imageVisible_; }
    void SetImageVisible(bool v);
    TUxImgBtnKind Kind() const { return kind_; }
    void SetKind(TUxImgBtnKind v);
    TUxImgBtnLayout Layout() const { return layout_; }
    void SetLayout(TUxImgBtnLayout v);
    int Margin() const { return margin_; }
    void SetMargin(int v);
    bool MustDrawFocusRect() const { return mustDrawFocusRect_; }
    void SetMustDrawFocusRect(bool v);
    bool MustDrawButtonFrame() const { return mustDrawButtonFrame_; }
    void SetMustDrawButtonFrame(bool v);
    bool OwnerDraw() const { return ownerDraw_; }
    void SetOwnerDraw(bool v);
    int Spacing() const { return spacing_; }
    void SetSpacing(int v);

    bool MouseInside() const { return mouseInside_; }
    bool Animating() const { return animating_; }
    int CurrentFrame() const { return frame_; }
    // The image shown now (the animation frame's while animating).
    int CurrentImageIndex();

    void Click() override;

    std::function<void(framework::TComponent* Sender, const DRAWITEMSTRUCT& DrawItemStruct)> OnButtonDraw;
    std::function<void(framework::TComponent* Sender, int CurrentFrame, int& ImageIndex)> OnGetAnimateIndex;

    // Where the image and the caption go inside content rectangle R.
    virtual void ComputeParts(const RECT& r, RECT& textRect, RECT& imageRect);

protected:
    void CreateParams(framework::TCreateParams& p) override;
    void CreatedWnd() override;
    void WndProc(framework::TMessage& m) override;
    void Notification(framework::TComponent* c, framework::TOperation op) override;
    void Loaded() override;
    void FocusSet(HWND other) override;
    void FocusKilled(HWND other) override;
    std::string PaintCaption() const override;

    virtual void HandleDrawItemNotification(const DRAWITEMSTRUCT& dis);
    virtual void PaintButton(const DRAWITEMSTRUCT& dis);
    virtual void PaintImage(const RECT& imageRect);
    virtual void PaintFocusRect(const RECT& r);
    virtual RECT PaintFrame(const DRAWITEMSTRUCT& dis);
    virtual void PaintText(const RECT& textRect, bool enabled);

    framework::TCanvas& Canvas() { return *canvas_; }
    bool ThemesActive();
    bool ShowsImage();

private:
    void StartAnimation();
    void StopAnimation();
    void AdvanceFrame();

    std::unique_ptr<framework::TCanvas> canvas_;
    std::unique_ptr<framework::TChangeLink> changeLink_;
    framework::TAlignment alignment_ = framework::TAlignment::taCenter;
    bool animate_ = false;
    int animateFrames_ = 0;
    unsigned animateInterval_ = 200;
    bool flat_ = false;
    framework::TCustomImageList* images_ = nullptr;
    int imageIndex_ = -1;
    bool imageVisible_ = true;
    TUxImgBtnKind kind_ = TUxImgBtnKind::bkCustom;
    TUxImgBtnLayout layout_ = TUxImgBtnLayout::blImageLeft;
    int margin_ = -1;
    bool mustDrawFocusRect_ = true, mustDrawButtonFrame_ = true;
    bool ownerDraw_ = false;
    int spacing_ = 4;
    bool mouseInside_ = false, focused_ = false, animating_ = false;
    uint8_t frame_ = 0;
};

// The image button as forms use it.
class TUxImgBtn : public TUxCustomImageButton {
public:
    using TUxCustomImageButton::TUxCustomImageButton;
};

// An image button for framework::MakeControl; the options left as they are keep the
// button's defaults.
struct TUxImgBtnArgs {
    using Control = TUxImgBtn;
    std::string Name;
    framework::TWinControl* Parent = nullptr;
    framework::TBounds Bounds;
    std::string Caption;
    framework::TCustomImageList* Images = nullptr;
    int ImageIndex = -1;
    bool Flat = false;
    framework::TAlignment Alignment = framework::TAlignment::taCenter;
    bool MustDrawButtonFrame = true;
    bool MustDrawFocusRect = true;
    bool ShowHint = false;
    framework::TNotifyEvent OnClick;
};

inline void ApplyOptions(TUxImgBtn& c, const TUxImgBtnArgs& a) {
    if (a.Flat) c.SetFlat(true);
    if (a.Alignment != framework::TAlignment::taCenter) c.SetAlignment(a.Alignment);
    if (!a.MustDrawButtonFrame) c.SetMustDrawButtonFrame(false);
    if (!a.MustDrawFocusRect) c.SetMustDrawFocusRect(false);
    if (a.Images) c.SetImages(a.Images);
    if (a.ImageIndex != -1) c.SetImageIndex(a.ImageIndex);
    if (a.ShowHint) c.SetShowHint(true);
}
