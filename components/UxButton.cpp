#include "components/UxButton.h"

#include <algorithm>

using namespace framework;

namespace {
struct DlgMap {
    unsigned Code;
    LRESULT Dlgc;
};
constexpr DlgMap kDlgMap[] = {{dcWantAllKeys, DLGC_WANTALLKEYS}, {dcWantArrows, DLGC_WANTARROWS},
                              {dcWantChars, DLGC_WANTCHARS},     {dcButton, DLGC_BUTTON},
                              {dcHasSetSel, DLGC_HASSETSEL},     {dcWantTab, DLGC_WANTTAB}};
}  // namespace

TDlgCodes DlgcToDlgCodes(LRESULT dlgc) {
    TDlgCodes c = 0;
    for (const auto& m : kDlgMap)
        if ((dlgc & m.Dlgc) == m.Dlgc) c |= m.Code;
    return c;
}

LRESULT DlgCodesToDlgc(TDlgCodes codes) {
    LRESULT r = 0;
    for (const auto& m : kDlgMap)
        if (codes & m.Code) r |= m.Dlgc;
    return r;
}

uint32_t ShiftStateToKeyData(unsigned shift) {
    uint32_t d = 0;
    if (shift & ssAlt) d |= 0x20000000;
    if (shift & ssCtrl) d |= 0x10000000;
    if (shift & ssShift) d |= 0x08000000;
    return d;
}

// ---- TUxExButton ----------------------------------------------------------------------

TUxExButton::TUxExButton(TComponent* owner) : TButton(owner) {}

void TUxExButton::WndProc(TMessage& m) {
    switch (m.Msg) {
        case WM_SIZE:
        case WM_MOVE:
            TButton::WndProc(m);
            BoundsChanged();
            break;
        case WM_SETFOCUS:
            TButton::WndProc(m);
            FocusSet(reinterpret_cast<HWND>(m.WParam));
            break;
        case WM_KILLFOCUS:
            TButton::WndProc(m);
            FocusKilled(reinterpret_cast<HWND>(m.WParam));
            break;
        case WM_ERASEBKGND: {
            TCanvas canvas;
            HDC dc = reinterpret_cast<HDC>(m.WParam);
            const int saved = SaveDC(dc);
            canvas.SetHandle(dc);
            const int r = PaintBackground(canvas, m.LParam);
            canvas.SetHandle(nullptr);
            RestoreDC(dc, saved);
            if (r < 0) TButton::WndProc(m);
            else m.Result = r;
            break;
        }
        case WM_GETDLGCODE: {
            TButton::WndProc(m);
            TDlgCodes codes = DlgcToDlgCodes(m.Result) | dcNative;
            DialogCode(codes);
            if (!(codes & dcNative)) m.Result = DlgCodesToDlgc(codes);
            break;
        }
        case WM_PRINT:
        case WM_PRINTCLIENT: {
            HDC dc = reinterpret_cast<HDC>(m.WParam);
            const int saved = SaveDC(dc);
            TButton::WndProc(m);
            RestoreDC(dc, saved);
            break;
        }
        case CM_TEXTCHANGED: TextChanged(); break;
        case CM_FONTCHANGED: FontChangedNotice(); break;
        case CM_COLORCHANGED: ColorChanged(); break;
        case CM_ENABLEDCHANGED: EnabledChanged(); break;
        case CM_VISIBLECHANGED: VisibleChanged(); break;
        case CM_PARENTFONTCHANGED:
            TButton::WndProc(m);
            ParentFontChanged();
            break;
        case CM_PARENTCOLORCHANGED:
            TButton::WndProc(m);
            ParentColorChanged();
            if (OnParentColorChange) OnParentColorChange(this);
            break;
        case CM_HITTEST: m.Result = HitTest(static_cast<short>(LOWORD(m.LParam)), static_cast<short>(HIWORD(m.LParam))) ? 1 : 0; break;
        case CM_MOUSEENTER:
            mouseOver_ = true;
            if (OnMouseEnter) OnMouseEnter(this);
            MouseEnter();
            break;
        case CM_MOUSELEAVE:
            mouseOver_ = false;
            MouseLeave();
            if (OnMouseLeave) OnMouseLeave(this);
            break;
        case CM_HINTSHOW: {
            auto* info = reinterpret_cast<THintInfo*>(m.LParam);
            if (info) {
                if (hintColor_ == clNone) {
                    info->HintColor = ApplicationHintColor();
                } else if (hintColor_ == clDefault) {
                    // The parent decides; without one the colour stays as offered.
                    if (Parent()) {
                        THintInfo copy = *info;
                        Parent()->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&copy));
                        info->HintColor = copy.HintColor;
                    }
                } else {
                    info->HintColor = hintColor_;
                }
                if (!HintWindowClass.empty()) info->HintWindowClass = HintWindowClass;
            }
            TButton::WndProc(m);
            break;
        }
        case CM_UXEXTENSION: m.Result = 1; break;
        default: TButton::WndProc(m); break;
    }
    if (dotNet_ && (m.Msg == WM_SETFOCUS || m.Msg == WM_KILLFOCUS || m.Msg == WM_NCPAINT || m.Msg == CM_MOUSEENTER ||
                    m.Msg == CM_MOUSELEAVE))
        DrawHighlightFrame();
}

void TUxExButton::DrawHighlightFrame() {
    if (!HandleAllocated()) return;
    HWND wnd = Handle();
    RECT r;
    GetWindowRect(wnd, &r);
    OffsetRect(&r, -r.left, -r.top);
    const bool highlighted = Focused() || mouseOver_;
    {
        UniqueWindowDC dc = UniqueWindowDC::WholeWindow(wnd);
        if (!dc) return;
        TGdiObject focusedBrush(CreateSolidBrush(ColorToRGB(clHighlight)));
        TGdiObject unfocusedBrush(CreateSolidBrush(ColorToRGB(clBtnShadow)));
        TGdiObject ownBrush(CreateSolidBrush(ColorToRGB(Color())));
        FrameRect(dc.get(), &r, static_cast<HBRUSH>(highlighted ? focusedBrush.get() : unfocusedBrush.get()));
        InflateRect(&r, -1, -1);
        FrameRect(dc.get(), &r, static_cast<HBRUSH>(highlighted ? focusedBrush.get() : ownBrush.get()));
    }
    if (!highlighted) {
        // The ring the frame used is repainted by the button itself.
        RECT outer{0, 0, Width() - 1, Height() - 1}, inner{2, 2, Width() - 3, Height() - 3};
        TGdiObject ring(CreateRectRgnIndirect(&outer)), hole(CreateRectRgnIndirect(&inner));
        CombineRgn(static_cast<HRGN>(ring.get()), static_cast<HRGN>(ring.get()), static_cast<HRGN>(hole.get()),
                   RGN_DIFF);
        InvalidateRgn(wnd, static_cast<HRGN>(ring.get()), FALSE);
    }
}

// ---- TUxCustomButton ------------------------------------------------------------------

TUxCustomButton::TUxCustomButton(TComponent* owner) : TUxExButton(owner) {
    Font().OnChange = [this, prev = Font().OnChange](TFont* f) {
        if (prev) prev(f);
        if (!swappingFont_) DeriveHotTrackFont();
    };
    DeriveHotTrackFont();
}

TUxCustomButton::~TUxCustomButton() { MarkDestroying(); }

void TUxCustomButton::CreateParams(TCreateParams& p) {
    TUxExButton::CreateParams(p);
    p.Style |= BS_MULTILINE;
}

void TUxCustomButton::SetDropArrow(bool v) {
    if (v == dropArrow_) return;
    dropArrow_ = v;
    Invalidate();
}

void TUxCustomButton::SetDropDownMenu(TPopupMenu* menu) {
    if (menu == dropDownMenu_) return;
    if (dropDownMenu_) RemoveFreeNotification(dropDownMenu_);
    dropDownMenu_ = menu;
    if (menu) FreeNotification(menu);
    if (dropArrow_) Invalidate();
}

void TUxCustomButton::Notification(TComponent* c, TOperation op) {
    TUxExButton::Notification(c, op);
    if (op == TOperation::opRemove && c == dropDownMenu_) dropDownMenu_ = nullptr;
}

void TUxCustomButton::SetWordWrap(bool v) {
    if (v == wordWrap_) return;
    wordWrap_ = v;
    Invalidate();
}

void TUxCustomButton::SetHotTrackFontOptions(TUxTrackFontOptions v) {
    hotTrackOptions_ = v;
    DeriveHotTrackFont();
}

void TUxCustomButton::DeriveHotTrackFont() {
    if (!(hotTrackOptions_ & hoFollowFont)) return;
    const TFont& f = Font();
    if (!(hotTrackOptions_ & hoPreserveCharSet)) hotTrackFont_.SetCharset(f.Charset());
    if (!(hotTrackOptions_ & hoPreserveColor)) hotTrackFont_.SetColor(f.Color());
    if (!(hotTrackOptions_ & hoPreserveHeight)) hotTrackFont_.SetHeight(f.Height());
    if (!(hotTrackOptions_ & hoPreserveName)) hotTrackFont_.SetName(f.Name());
    if (!(hotTrackOptions_ & hoPreservePitch)) hotTrackFont_.SetPitch(f.Pitch());
    if (!(hotTrackOptions_ & hoPreserveStyle)) hotTrackFont_.SetStyle(f.Style());
}

std::string TUxCustomButton::PaintCaption() const {
    std::string c = Caption();
    if (wordWrap_) std::replace(c.begin(), c.end(), '|', '\n');
    return c;
}

void TUxCustomButton::Click() {
    POINT p = ClientToScreen(POINT{0, Height()});
    TUxExButton::Click();
    ShowDropDown(p.x, p.y);
}

bool TUxCustomButton::ShowDropDown(int x, int y) {
    if (!dropDownMenu_) return false;
    dropDownMenu_->PopupComponent = this;
    if (dropDownMenu_->Alignment == TPopupAlignment::paRight) x += Width();
    else if (dropDownMenu_->Alignment == TPopupAlignment::paCenter) x += Width() / 2;
    bool handled = false;
    if (OnDropDownMenu) OnDropDownMenu(this, POINT{x, y}, handled);
    if (!handled) {
        dropDownMenu_->Popup(x, y);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
        }
    }
    return true;
}

void TUxCustomButton::PaintDropArrow(TCanvas& canvas, const RECT& r) {
    canvas.Pen().SetColor(Enabled() ? clWindowText : clInactiveCaption);
    for (int i = 0; i <= r.bottom - r.top; ++i) {
        if (r.right - i < r.left + i) break;
        canvas.MoveTo(r.left + i, r.top + i);
        canvas.LineTo(r.right - i, r.top + i);
    }
}

void TUxCustomButton::SetBounds(int left, int top, int width, int height) {
    TUxExButton::SetBounds(left, top, width, height);
    if (!forceSameSize_) return;
    TWinControl* form = Parent();
    while (form && !dynamic_cast<TForm*>(form)) form = form->Parent();
    if (!form) return;
    // Tell every button of the form; receivers only resize themselves.
    std::vector<TWinControl*> todo(form->Controls().begin(), form->Controls().end());
    while (!todo.empty()) {
        TWinControl* c = todo.back();
        todo.pop_back();
        if (c != this && dynamic_cast<TUxCustomButton*>(c))
            c->Perform(CM_UXSAMESIZE, reinterpret_cast<WPARAM>(this), MAKELPARAM(width, height));
        todo.insert(todo.end(), c->Controls().begin(), c->Controls().end());
    }
}

void TUxCustomButton::WndProc(TMessage& m) {
    switch (m.Msg) {
        case CM_UXSAMESIZE:
            if (reinterpret_cast<TUxCustomButton*>(m.WParam) != this)
                TUxExButton::SetBounds(Left(), Top(), LOWORD(m.LParam), HIWORD(m.LParam));  // no re-broadcast
            return;
        case CM_MOUSEENTER:
            if (!MouseOver() && hotTrack_) {
                swappingFont_ = true;
                savedFont_.Assign(Font());
                Font().Assign(hotTrackFont_);
                swappingFont_ = false;
            }
            break;
        case CM_MOUSELEAVE:
            if (MouseOver() && hotTrack_) {
                swappingFont_ = true;
                Font().Assign(savedFont_);
                swappingFont_ = false;
            }
            break;
    }
    TUxExButton::WndProc(m);
}
