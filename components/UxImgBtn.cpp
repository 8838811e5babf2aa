#include "components/UxImgBtn.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>
#include <optional>

#include "components/UxUtils.h"
#include "framework/SysUtils.h"

using namespace framework;

namespace {
struct KindRow {
    int ModalResult;
    const char* Caption;
    int Glyph;
};
constexpr KindRow kKinds[] = {
    {mrNone, "", -1},          {mrOk, "OK", 2},          {mrCancel, "Annuler", 4},     {mrNone, "&Aide", 0},
    {mrYes, "&Oui", 3},        {mrNo, "&Non", 1},        {mrNone, "&Fermer", 5},       {mrAbort, "Abandon", 8},
    {mrRetry, "&Retenter", 6}, {mrIgnore, "&Ignorer", 9}, {mrAll, "&Tous", 7},
};
const KindRow& Row(TUxImgBtnKind k) { return kKinds[static_cast<int>(k)]; }


constexpr int kGlyph = 18;
constexpr COLORREF kGlyphTransparent = RGB(0x80, 0x80, 0x00);  // 0x008080

// Draws the ten glyphs side by side: help, no, OK, yes, cancel, close, retry, all, abort,
// ignore.
void DrawGlyphs(HDC dc) {
    RECT all{0, 0, kGlyph * 10, kGlyph};
    FillRect(dc, &all, static_cast<HBRUSH>(TGdiObject(CreateSolidBrush(kGlyphTransparent)).get()));
    auto pen = [&](COLORREF c, int w) { return TGdiObject(CreatePen(PS_SOLID, w, c)); };
    auto line = [&](int x0, int y0, int x1, int y1) {
        MoveToEx(dc, x0, y0, nullptr);
        LineTo(dc, x1, y1);
    };
    auto check = [&](int ox, COLORREF c) {
        TGdiObject p = pen(c, 3);
        TSelectObject sel(dc, p.get());
        line(ox + 3, 9, ox + 7, 13);
        line(ox + 7, 13, ox + 14, 4);
    };
    auto cross = [&](int ox, COLORREF c) {
        TGdiObject p = pen(c, 3);
        TSelectObject sel(dc, p.get());
        line(ox + 4, 4, ox + 13, 13);
        line(ox + 13, 4, ox + 4, 13);
    };
    // 0 help: a blue question mark.
    {
        TGdiObject f(CreateFontA(-16, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0, "Arial"));
        TSelectObject sel(dc, f.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 192));
        RECT r{0, 0, kGlyph, kGlyph};
        DrawTextA(dc, "?", 1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    // 1 no: a red circle with a bar.
    {
        TGdiObject p = pen(RGB(192, 0, 0), 2);
        TSelectObject selPen(dc, p.get()), selBrush(dc, GetStockObject(NULL_BRUSH));
        Ellipse(dc, kGlyph + 2, 2, kGlyph + 16, 16);
        line(kGlyph + 5, 13, kGlyph + 13, 5);
    }
    check(2 * kGlyph, RGB(0, 160, 0));  // 2 OK
    check(3 * kGlyph, RGB(0, 96, 0));   // 3 yes
    cross(4 * kGlyph, RGB(192, 0, 0));  // 4 cancel
    // 5 close: a door.
    {
        RECT r{5 * kGlyph + 4, 2, 5 * kGlyph + 14, 16};
        FillRect(dc, &r, static_cast<HBRUSH>(TGdiObject(CreateSolidBrush(RGB(128, 64, 0))).get()));
        RECT knob{5 * kGlyph + 11, 8, 5 * kGlyph + 13, 10};
        FillRect(dc, &knob, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    // 6 retry: a circular arrow.
    {
        TGdiObject p = pen(RGB(0, 0, 192), 2);
        TSelectObject sel(dc, p.get());
        const int ox = 6 * kGlyph;
        Arc(dc, ox + 3, 3, ox + 15, 15, ox + 9, 3, ox + 15, 9);
        line(ox + 9, 3, ox + 12, 0);
        line(ox + 9, 3, ox + 12, 6);
    }
    // 7 all: two checks.
    {
        TGdiObject p = pen(RGB(0, 128, 0), 2);
        TSelectObject sel(dc, p.get());
        const int ox = 7 * kGlyph;
        line(ox + 1, 8, ox + 4, 11);
        line(ox + 4, 11, ox + 9, 4);
        line(ox + 7, 11, ox + 10, 14);
        line(ox + 10, 14, ox + 16, 6);
    }
    // 8 abort: a red disc with a white bar.
    {
        {
            TGdiObject b(CreateSolidBrush(RGB(192, 0, 0)));
            TSelectObject selBrush(dc, b.get()), selPen(dc, GetStockObject(NULL_PEN));
            Ellipse(dc, 8 * kGlyph + 2, 2, 8 * kGlyph + 17, 17);
        }
        RECT bar{8 * kGlyph + 5, 8, 8 * kGlyph + 14, 11};
        FillRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    // 9 ignore: an arrow jumping over a bar.
    {
        TGdiObject p = pen(RGB(64, 64, 64), 2);
        TSelectObject sel(dc, p.get());
        const int ox = 9 * kGlyph;
        line(ox + 8, 4, ox + 8, 15);
        Arc(dc, ox + 2, 4, ox + 15, 16, ox + 15, 10, ox + 2, 10);
        line(ox + 15, 10, ox + 12, 8);
        line(ox + 15, 10, ox + 16, 6);
    }
}
}  // namespace

// Themes are on for this button: the system draws themed buttons and this window has
// not been switched off (SetWindowTheme).
bool TUxCustomImageButton::ThemesActive() {
    if (!IsThemeActive() || !IsAppThemed() || !HandleAllocated()) return false;
    HTHEME theme = OpenThemeData(Handle(), L"BUTTON");
    if (!theme) return false;
    CloseThemeData(theme);
    return true;
}

int KindModalResult(TUxImgBtnKind k) { return Row(k).ModalResult; }
const char* KindCaption(TUxImgBtnKind k) { return Row(k).Caption; }
int KindGlyph(TUxImgBtnKind k) { return Row(k).Glyph; }

TCustomImageList& UxDefaultGlyphs() {
    static std::unique_ptr<TImageList> list;
    if (!list) {
        list = std::make_unique<TImageList>(nullptr, kGlyph, kGlyph);
        TBitmap strip;
        // The program may carry its own strip as a bitmap resource; else the unit draws one.
        if (!strip.LoadFromResourceName(GetModuleHandleA(nullptr), "UxCustomImageButtonDEFAULT")) {
            strip.SetSize(kGlyph * 10, kGlyph);
            DrawGlyphs(strip.Canvas().Handle());
        }
        list->AddMasked(strip, static_cast<TColor>(kGlyphTransparent));
    }
    return *list;
}

// ---- construction and properties ------------------------------------------------------

TUxCustomImageButton::TUxCustomImageButton(TComponent* owner)
    : TUxCustomButton(owner), canvas_(std::make_unique<TCanvas>()), changeLink_(std::make_unique<TChangeLink>()) {
    changeLink_->OnChange = [this](TChangeLink*) { Invalidate(); };
    SetColor(clBtnFace);
    UxDefaultGlyphs();
}

TUxCustomImageButton::~TUxCustomImageButton() {
    MarkDestroying();
    if (images_) images_->UnRegisterChanges(changeLink_.get());
    changeLink_.reset();
    if (HandleAllocated()) StopAnimation();
}

void TUxCustomImageButton::CreateParams(TCreateParams& p) {
    TUxCustomButton::CreateParams(p);
    p.Style |= BS_OWNERDRAW;
}

void TUxCustomImageButton::CreatedWnd() {
    TUxCustomButton::CreatedWnd();
    if (animate_) StartAnimation();
}

void TUxCustomImageButton::Loaded() {
    TUxCustomButton::Loaded();
    if (animate_ && HandleAllocated()) StartAnimation();
}

void TUxCustomImageButton::Notification(TComponent* c, TOperation op) {
    TUxCustomButton::Notification(c, op);
    if (op == TOperation::opRemove && c == images_) {
        images_ = nullptr;
        imageIndex_ = -1;
        Invalidate();
    }
}

void TUxCustomImageButton::SetImageIndex(int v) {
    if (v == imageIndex_) return;
    imageIndex_ = v;
    Invalidate();
}

void TUxCustomImageButton::SetImages(TCustomImageList* list) {
    if (!SwapImageListReference(this, list, images_, changeLink_.get())) return;
    if (!images_) imageIndex_ = -1;
    Invalidate();
}

void TUxCustomImageButton::SetAlignment(TAlignment v) {
    if (v == alignment_) return;
    alignment_ = v;
    if (margin_ == -1) margin_ = 0;
    Invalidate();
}

void TUxCustomImageButton::SetMargin(int v) {
    if (v == margin_ || v < -1) return;
    margin_ = v;
    if (v == -1) alignment_ = TAlignment::taCenter;
    Invalidate();
}

void TUxCustomImageButton::SetLayout(TUxImgBtnLayout v) {
    if (v == layout_) return;
    layout_ = v;  // the designer-only alignment follow-up has no place here
    Invalidate();
}

void TUxCustomImageButton::SetKind(TUxImgBtnKind v) {
    if (v == kind_) return;
    if (v == TUxImgBtnKind::bkCustom) {
        SetModalResult(mrNone);
    } else {
        if (v == TUxImgBtnKind::bkOK || v == TUxImgBtnKind::bkYes) SetDefault(true);
        if (v == TUxImgBtnKind::bkCancel || v == TUxImgBtnKind::bkNo) SetCancel(true);
        if (kind_ == TUxImgBtnKind::bkCustom && !Loading()) {
            SetCaption("");
            SetImages(nullptr);
        }
        SetModalResult(KindModalResult(v));
    }
    kind_ = v;
    Invalidate();
}

void TUxCustomImageButton::SetAnimate(bool v) {
    if (v == animate_) return;
    animate_ = v;
    if (v) StartAnimation();
    else StopAnimation();
    Invalidate();
}

void TUxCustomImageButton::SetAnimateFrames(int v) {
    if (v == animateFrames_) return;
    animateFrames_ = v;
    if (animating_) {
        StopAnimation();
        StartAnimation();
        Invalidate();
    }
}

void TUxCustomImageButton::SetAnimateInterval(unsigned v) {
    if (v == animateInterval_) return;
    animateInterval_ = v;
    if (animating_) {
        StopAnimation();
        StartAnimation();
        Invalidate();
    }
}

#define UX_SIMPLE_SETTER(Name, field, type) \
    void TUxCustomImageButton::Set##Name(type v) { \
        if (v == field) return;                     \
        field = v;                                  \
        Invalidate();                               \
    }
UX_SIMPLE_SETTER(ImageVisible, imageVisible_, bool)
UX_SIMPLE_SETTER(OwnerDraw, ownerDraw_, bool)
UX_SIMPLE_SETTER(Spacing, spacing_, int)
UX_SIMPLE_SETTER(Flat, flat_, bool)
UX_SIMPLE_SETTER(MustDrawButtonFrame, mustDrawButtonFrame_, bool)
UX_SIMPLE_SETTER(MustDrawFocusRect, mustDrawFocusRect_, bool)
#undef UX_SIMPLE_SETTER

std::string TUxCustomImageButton::PaintCaption() const {
    if (kind_ != TUxImgBtnKind::bkCustom && Caption().empty()) return KindCaption(kind_);
    return TUxCustomButton::PaintCaption();
}

void TUxCustomImageButton::Click() {
    if (kind_ == TUxImgBtnKind::bkHelp) {
        for (TWinControl* c = this; c; c = c->Parent())
            if (c->HelpContext() != 0) {
                Application().HelpContext(c->HelpContext());
                return;
            }
    } else if (kind_ == TUxImgBtnKind::bkClose) {
        for (TWinControl* c = Parent(); c; c = c->Parent())
            if (auto* form = dynamic_cast<TForm*>(c)) {
                form->Close();
                return;
            }
    }
    TUxCustomButton::Click();
}

void TUxCustomImageButton::FocusSet(HWND) {
    focused_ = true;
    Invalidate();
}

void TUxCustomImageButton::FocusKilled(HWND) {
    focused_ = false;
    Invalidate();
}

// ---- messages -------------------------------------------------------------------------

void TUxCustomImageButton::WndProc(TMessage& m) {
    switch (m.Msg) {
        case CN_DRAWITEM:
            HandleDrawItemNotification(*reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam));
            m.Result = 1;
            return;
        case CN_MEASUREITEM: {
            auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(m.LParam);
            mis->itemWidth = static_cast<UINT>(Width());
            mis->itemHeight = static_cast<UINT>(Height());
            m.Result = 1;
            return;
        }
        case WM_LBUTTONDBLCLK: {
            // A quick second click is a click too.
            TMessage down{WM_LBUTTONDOWN, m.WParam, m.LParam, 0};
            DefaultHandler(down);
            m.Result = down.Result;
            return;
        }
        case WM_TIMER:
            if (m.WParam == 1) {
                AdvanceFrame();
                m.Result = 1;
                return;
            }
            break;
        case WM_DESTROY:
            StopAnimation();
            break;
        case CM_MOUSEENTER:
            if (mouseInside_ || !Enabled() || GetCapture()) return;
            mouseInside_ = true;
            TUxCustomButton::WndProc(m);
            if (ThemesActive()) Repaint();
            else if (flat_) Invalidate();
            return;
        case CM_MOUSELEAVE:
            if (!mouseInside_ || !Enabled()) return;
            mouseInside_ = false;
            TUxCustomButton::WndProc(m);
            if (ThemesActive()) Repaint();
            else if (flat_) Invalidate();
            return;
    }
    TUxCustomButton::WndProc(m);
}

// ---- drawing --------------------------------------------------------------------------

void TUxCustomImageButton::HandleDrawItemNotification(const DRAWITEMSTRUCT& dis) {
    if (Destroying()) return;
    DRAWITEMSTRUCT d = dis;
    // Double buffering (on while animating): draw into a memory bitmap, then copy it. Declared
    // in this order so the bitmap is put out of the DC before either goes.
    TMemoryDC memDC;
    TGdiObject memBmp;
    std::optional<TSelectObject> selBmp;
    if (DoubleBuffered()) {
        memDC = CreateMemoryDC(dis.hDC);
        memBmp.reset(CreateCompatibleBitmap(dis.hDC, std::max(1, Width()), std::max(1, Height())));
        if (memDC && memBmp) {
            selBmp.emplace(memDC.get(), memBmp.get());
            d.hDC = memDC.get();
        }
    }
    {
        CanvasHandleScope bound(*canvas_, d.hDC);
        canvas_->Font().Assign(Font());
        if (ownerDraw_ && OnButtonDraw) OnButtonDraw(this, d);
        else PaintButton(d);
    }
    if (d.hDC != dis.hDC) BitBlt(dis.hDC, 0, 0, Width(), Height(), memDC.get(), 0, 0, SRCCOPY);
}

void TUxCustomImageButton::PaintButton(const DRAWITEMSTRUCT& dis) {
    RECT r = PaintFrame(dis);
    RECT f = r;
    const bool selected = (dis.itemState & ODS_SELECTED) != 0;
    if (!DisableDrawDown && selected && Enabled()) OffsetRect(&r, 1, ThemesActive() ? 0 : 1);
    RECT t, i;
    ComputeParts(r, t, i);
    if (DropArrow() && DropDownMenu()) {
        const int h = Height() / 2;
        RECT a{Width() - 16, h, Width() - 9, h + 7};
        if (selected) OffsetRect(&a, 1, 1);
        PaintDropArrow(*canvas_, a);
        if (selected) OffsetRect(&f, 1, -1);
    }
    PaintText(t, Enabled());
    PaintImage(i);
    PaintFocusRect(f);
}

RECT TUxCustomImageButton::PaintFrame(const DRAWITEMSTRUCT& dis) {
    RECT r = ClientRect();
    if (Destroying()) return r;
    TCanvas& c = *canvas_;
    const bool disabled = (dis.itemState & ODS_DISABLED) != 0;
    const bool pressed = (dis.itemState & ODS_SELECTED) && !disabled;
    const bool focusBit = (dis.itemState & ODS_FOCUS) != 0;
    if (ThemesActive()) {
        HTHEME theme = OpenThemeData(Handle(), L"BUTTON");
        if (theme) {
            int state = disabled ? PBS_DISABLED : pressed ? PBS_PRESSED : mouseInside_ ? PBS_HOT
                                                        : focusBit        ? PBS_DEFAULTED
                                                                          : PBS_NORMAL;
            DrawThemeParentBackground(Handle(), c.Handle(), &r);
            if (mustDrawButtonFrame_) DrawThemeBackground(theme, c.Handle(), BP_PUSHBUTTON, state, &r, nullptr);
            RECT content = r;
            GetThemeBackgroundContentRect(theme, c.Handle(), BP_PUSHBUTTON, state, &r, &content);
            CloseThemeData(theme);
            return content;
        }
    }
    if (flat_) {
        c.Brush().SetColor(Color());
        c.FillRect(r);
        if (mustDrawButtonFrame_ && (mouseInside_ || focused_)) {
            const TColor topLeft = pressed ? clBtnShadow : clBtnHighlight;
            const TColor bottomRight = pressed ? clBtnHighlight : clBtnShadow;
            c.Pen().SetColor(topLeft);
            c.MoveTo(r.left, r.bottom - 1);
            c.LineTo(r.left, r.top);
            c.LineTo(r.right - 1, r.top);
            c.Pen().SetColor(bottomRight);
            c.LineTo(r.right - 1, r.bottom - 1);
            c.LineTo(r.left, r.bottom - 1);
        }
    } else {
        RECT fr = r;
        if (focused_ || focusBit) {
            c.Pen().SetColor(!mustDrawButtonFrame_ ? Color() : disabled ? clInactiveCaption : clWindowFrame);
            c.Brush().SetStyle(TBrushStyle::bsClear);
            c.Rectangle(fr);
            InflateRect(&fr, -1, -1);
        }
        if (pressed) {
            c.Pen().SetColor(mustDrawButtonFrame_ ? clBtnShadow : Color());
            c.Brush().SetColor(clBtnFace);
            c.Rectangle(fr);
            InflateRect(&fr, -1, -1);
        } else if (mustDrawButtonFrame_) {
            UINT state = DFCS_BUTTONPUSH | DFCS_ADJUSTRECT;
            if (disabled) state |= DFCS_INACTIVE;
            DrawFrameControl(c.Handle(), &fr, DFC_BUTTON, state);
        }
        c.Brush().SetColor(Color());
        c.FillRect(fr);
    }
    InflateRect(&r, -4, -4);
    return r;
}

bool TUxCustomImageButton::ShowsImage() {
    if (!imageVisible_) return false;
    if (images_) return CurrentImageIndex() != -1;
    return kind_ != TUxImgBtnKind::bkCustom;
}

int TUxCustomImageButton::CurrentImageIndex() {
    if (!animating_) return imageIndex_;
    int index = frame_ + imageIndex_ - 1;
    if (OnGetAnimateIndex) OnGetAnimateIndex(this, frame_, index);
    return index;
}

void TUxCustomImageButton::ComputeParts(const RECT& r, RECT& t, RECT& i) {
    int spacing = 0;
    i = RECT{0, 0, 0, 0};
    if (ShowsImage()) {
        const TCustomImageList& list = images_ ? *images_ : UxDefaultGlyphs();
        i = RECT{0, 0, list.Width() - 1, list.Height() - 1};
        spacing = spacing_;
    }
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    t = RECT{0, 0, rw - (i.right - i.left), r.bottom};
    if (alignment_ != TAlignment::taCenter) t.right = std::max<LONG>(t.right, Width() - i.right - 18);
    UINT flags = DT_CALCRECT | (alignment_ == TAlignment::taLeftJustify    ? DT_LEFT
                                : alignment_ == TAlignment::taRightJustify ? DT_RIGHT
                                                                           : DT_CENTER);
    if (WordWrap()) flags |= DT_WORDBREAK;
    {
        // Measuring outside a draw request (a layout question): a screen DC with our font.
        std::optional<UniqueWindowDC> screen;
        std::optional<CanvasHandleScope> bound;
        if (!canvas_->HandleAllocated()) {
            screen.emplace();
            if (screen->get()) {
                bound.emplace(*canvas_, screen->get());
                canvas_->Font().Assign(Font());
            }
        }
        UxDrawText(*canvas_, PaintCaption(), t, flags);
    }
    const int total = i.right + spacing + t.right;
    const int spare = rw - total;
    int m;
    if (margin_ == -1 || alignment_ == TAlignment::taCenter) m = spare / 2;
    else if (alignment_ == TAlignment::taRightJustify) m = spare - margin_;
    else m = margin_;
    if (layout_ == TUxImgBtnLayout::blImageLeft) {
        OffsetRect(&i, m, 0);
        OffsetRect(&t, i.right + spacing, 0);
    } else {
        OffsetRect(&i, rw - m - i.right, 0);
        OffsetRect(&t, rw - total - m, 0);
    }
    // Centred in R: both move down by half the room left below them, from R's top.
    OffsetRect(&i, r.left, r.top + (rh - i.bottom) / 2);
    OffsetRect(&t, r.left, r.top + (rh - t.bottom) / 2);
}

void TUxCustomImageButton::PaintText(const RECT& tr, bool enabled) {
    UINT flags = (alignment_ == TAlignment::taLeftJustify    ? DT_LEFT
                  : alignment_ == TAlignment::taRightJustify ? DT_RIGHT
                                                             : DT_CENTER) |
                 DT_VCENTER;
    if (WordWrap()) flags |= DT_WORDBREAK;
    TCanvas& c = *canvas_;
    c.Brush().SetStyle(TBrushStyle::bsClear);
    const std::string text = PaintCaption();
    RECT t = tr;
    if (enabled) {
        UxDrawText(c, text, t, flags);
        return;
    }
    const TColor own = c.Font().Color();
    OffsetRect(&t, 1, 1);
    c.Font().SetColor(clBtnHighlight);
    UxDrawText(c, text, t, flags);
    t = tr;
    c.Font().SetColor(clBtnShadow);
    UxDrawText(c, text, t, flags);
    c.Font().SetColor(own);
}

void TUxCustomImageButton::PaintImage(const RECT& ir) {
    if (Destroying() || !ShowsImage()) return;
    if (images_) images_->Draw(*canvas_, ir.left, ir.top, CurrentImageIndex(), Enabled());
    else UxDefaultGlyphs().Draw(*canvas_, ir.left, ir.top, KindGlyph(kind_), Enabled());
}

void TUxCustomImageButton::PaintFocusRect(const RECT& r) {
    if (!mustDrawFocusRect_ || !focused_ || Destroying()) return;
    canvas_->Pen().SetColor(clWindowFrame);
    canvas_->Brush().SetColor(clBtnFace);
    canvas_->DrawFocusRect(r);
}

// ---- animation ------------------------------------------------------------------------

void TUxCustomImageButton::StartAnimation() {
    if (Loading() || !HandleAllocated() || animating_) return;
    SetDoubleBuffered(true);
    frame_ = 0;
    AdvanceFrame();
    if (!SetTimer(Handle(), 1, animateInterval_, nullptr)) RaiseLastOSError();
    animating_ = true;
}

void TUxCustomImageButton::StopAnimation() {
    if (!animating_) return;
    if (HandleAllocated()) KillTimer(Handle(), 1);
    frame_ = 0;
    SetDoubleBuffered(false);
    animating_ = false;
}

void TUxCustomImageButton::AdvanceFrame() {
    ++frame_;
    if (frame_ > animateFrames_) frame_ = 1;
    Invalidate();
}
