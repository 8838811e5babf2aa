#include "framework/StdCtrls.h"

#include "framework/Forms.h"

namespace framework {

// ---- TPanel ---------------------------------------------------------------------------

TPanel::TPanel(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 185, 41); }

void TPanel::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "TPanel";
    p.ClassStyle |= CS_HREDRAW | CS_VREDRAW;
    p.Style |= WS_CLIPCHILDREN;
}

void TPanel::Paint(TCanvas& canvas) {
    RECT r = ClientRect();
    auto edge = [&](TBevelCut cut) {
        if (cut == TBevelCut::bvNone) return;
        DrawEdge(canvas.Handle(), &r, cut == TBevelCut::bvLowered ? BDR_SUNKENINNER : BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    };
    edge(bevelOuter_);
    edge(bevelInner_);
    canvas.Brush().SetColor(Color());
    canvas.FillRect(r);
    if (!Caption().empty()) {
        canvas.Brush().SetStyle(TBrushStyle::bsClear);
        canvas.RequireAll();
        std::string text = Caption();
        DrawTextA(canvas.Handle(), text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

// ---- TLabel ---------------------------------------------------------------------------

TLabel::TLabel(TComponent* owner) : TWinControl(owner) {
    SetParentColor(true);
    SetBounds(0, 0, 65, 13);
}

void TLabel::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "TLabel";
    p.ClassStyle |= CS_HREDRAW | CS_VREDRAW;
}

void TLabel::SetAutoSize(bool v) {
    autoSize_ = v;
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!autoSize_ || wordWrap_) return;
    RECT r{0, 0, 0, 0};
    {
        UniqueWindowDC dc;
        SelectScope font(dc.get(), Font().Handle());
        const std::string text = Caption().empty() ? std::string(" ") : Caption();
        DrawTextA(dc.get(), text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX);
    }
    SetBounds(Left(), Top(), r.right, r.bottom);
}

void TLabel::WndProc(TMessage& m) {
    if (m.Msg == CM_TEXTCHANGED || m.Msg == CM_FONTCHANGED) {
        AdjustSize();
        Invalidate();
        return;
    }
    if (m.Msg == WM_NCHITTEST) {  // a label lets the mouse through to what lies below
        m.Result = HTTRANSPARENT;
        return;
    }
    TWinControl::WndProc(m);
}

void TLabel::Paint(TCanvas& canvas) {
    RECT r = ClientRect();
    canvas.Brush().SetStyle(TBrushStyle::bsClear);
    canvas.RequireAll();
    UINT flags = alignment_ == TAlignment::taCenter        ? DT_CENTER
                 : alignment_ == TAlignment::taRightJustify ? DT_RIGHT
                                                            : DT_LEFT;
    if (wordWrap_) flags |= DT_WORDBREAK;
    if (!Enabled()) SetTextColor(canvas.Handle(), GetSysColor(COLOR_GRAYTEXT));
    DrawTextA(canvas.Handle(), Caption().c_str(), -1, &r, flags);
}

// ---- TGroupBox ------------------------------------------------------------------------

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 185, 105); }

void TGroupBox::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "BUTTON";
    p.SystemClass = true;
    p.Style |= BS_GROUPBOX | WS_CLIPCHILDREN;
}

void TGroupBox::WndProc(TMessage& m) {
    if (m.Msg == WM_ERASEBKGND) {
        // The box paints only its frame and caption; its inside is ours to fill.
        RECT r;
        GetClientRect(Handle(), &r);
        const UniqueGdiObject b(CreateSolidBrush(ColorToRGB(Color())));
        ::FillRect(reinterpret_cast<HDC>(m.WParam), &r, static_cast<HBRUSH>(b.get()));
        m.Result = 1;
        return;
    }
    if (m.Msg == WM_NCHITTEST) {  // the system answers "transparent" for a group box
        m.Result = HTCLIENT;
        return;
    }
    TWinControl::WndProc(m);
}

// ---- TCheckBox ------------------------------------------------------------------------

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 97, 17); }

void TCheckBox::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "BUTTON";
    p.SystemClass = true;
    p.Style |= BS_AUTOCHECKBOX | WS_TABSTOP;
}

void TCheckBox::CreatedWnd() { SendMessageA(Handle(), BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0); }

bool TCheckBox::Checked() {
    if (HandleAllocated()) checked_ = SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    return checked_;
}

void TCheckBox::SetChecked(bool v) {
    checked_ = v;
    if (HandleAllocated()) SendMessageA(Handle(), BM_SETCHECK, v ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WndProc(TMessage& m) {
    if (m.Msg == CN_COMMAND && HIWORD(m.WParam) == BN_CLICKED) {
        Checked();
        Click();
        return;
    }
    TWinControl::WndProc(m);
}

// ---- TButton --------------------------------------------------------------------------

TButton::TButton(TComponent* owner) : TWinControl(owner) { SetBounds(0, 0, 75, 25); }

void TButton::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "BUTTON";
    p.SystemClass = true;
    p.Style |= (default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
}

void TButton::SetDefault(bool v) {
    default_ = v;
    if (!HandleAllocated()) return;
    // An owner-drawn button keeps its type; the form answers DM_GETDEFID for it.
    const LONG_PTR type = GetWindowLongPtrA(Handle(), GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
        SendMessageA(Handle(), BM_SETSTYLE, v ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
    if (modalResult_ != mrNone) {
        for (TWinControl* p = Parent(); p; p = p->Parent())
            if (auto* form = dynamic_cast<TForm*>(p)) {
                form->SetModalResult(modalResult_);
                break;
            }
    }
    TWinControl::Click();
}

void TButton::WndProc(TMessage& m) {
    if (m.Msg == CN_COMMAND && HIWORD(m.WParam) == BN_CLICKED) {
        Click();
        return;
    }
    TWinControl::WndProc(m);
}

// ---- TImage ---------------------------------------------------------------------------

TImage::TImage(TComponent* owner) : TWinControl(owner) {
    SetParentColor(true);
    SetBounds(0, 0, 105, 105);
    picture_.OnChange = [this](TPicture*) { PictureChanged(); };
}

void TImage::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "TImage";
}

void TImage::SetAutoSize(bool v) {
    autoSize_ = v;
    PictureChanged();
}

void TImage::PictureChanged() {
    if (autoSize_ && picture_.Width() > 0 && picture_.Height() > 0)
        SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
    Invalidate();
}

void TImage::Paint(TCanvas& canvas) {
    TGraphic* g = picture_.Graphic();
    if (!g || g->Empty()) return;
    RECT c = ClientRect();
    RECT r{0, 0, g->Width(), g->Height()};
    if (Stretch) {
        r = c;
    } else if (Center) {
        OffsetRect(&r, (c.right - r.right) / 2, (c.bottom - r.bottom) / 2);
    }
    canvas.StretchDraw(r, *g);
}

}  // namespace framework
