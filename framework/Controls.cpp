#include "framework/Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace framework {

namespace {
int g_nextId = 1000;

// Each of our windows to its control, looked up on every message the window gets. Kept in
// the process: a window property costs a call to the window server (Wine's wineserver) on
// every look-up, some 50 microseconds each, about ten milliseconds over the main window's
// creation and first showing.
struct TControlMap {
    std::mutex lock;
    std::unordered_map<HWND, TWinControl*> map;
};
TControlMap& ControlMap() {
    static TControlMap controls;
    return controls;
}
void BindControl(HWND wnd, TWinControl* control) {
    auto& c = ControlMap();
    std::lock_guard<std::mutex> guard(c.lock);
    c.map[wnd] = control;
}
// Only while the handle is still the control's (a handle value may be reused by a newer window).
void UnbindControl(HWND wnd, const TWinControl* control) {
    auto& c = ControlMap();
    std::lock_guard<std::mutex> guard(c.lock);
    const auto it = c.map.find(wnd);
    if (it != c.map.end() && it->second == control) c.map.erase(it);
}

// The application's tooltip window and the hidden window that answers its questions.
HWND g_tooltip = nullptr;
std::unique_ptr<TMessageWindow> g_hintSink;
std::string g_hintText;

void EnsureTooltip() {
    if (g_tooltip) return;
    g_hintSink = std::make_unique<TMessageWindow>([](TMessage& m) {
        if (m.Msg != WM_NOTIFY) return false;
        auto* hdr = reinterpret_cast<NMHDR*>(m.LParam);
        if (hdr->code != TTN_GETDISPINFOA) return false;
        auto* di = reinterpret_cast<NMTTDISPINFOA*>(m.LParam);
        TWinControl* c = TWinControl::FromHandle(reinterpret_cast<HWND>(hdr->idFrom));
        if (!c) return false;
        THintInfo info;
        info.HintControl = c;
        info.HintColor = ApplicationHintColor();
        info.HintStr = GetShortHint(c->Hint());
        c->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
        if (info.HintColor == clNone || info.HintColor == clDefault) info.HintColor = ApplicationHintColor();
        SendMessageA(g_tooltip, TTM_SETTIPBKCOLOR, ColorToRGB(info.HintColor), 0);
        g_hintText = info.HintStr;
        di->lpszText = g_hintText.data();
        return true;
    });
    g_tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (g_tooltip) SendMessageA(g_tooltip, TTM_SETMAXTIPWIDTH, 0, 400);
}

TOOLINFOA ToolFor(HWND wnd) {
    TOOLINFOA ti{};
    ti.cbSize = TTTOOLINFOA_V2_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = g_hintSink ? g_hintSink->Handle() : nullptr;
    ti.uId = reinterpret_cast<UINT_PTR>(wnd);
    ti.lpszText = LPSTR_TEXTCALLBACKA;
    return ti;
}
}  // namespace

std::string GetShortHint(const std::string& hint) {
    const size_t bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(0, bar);
}

std::string GetLongHint(const std::string& hint) {
    const size_t bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

// ---- TWinControl ----------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TComponent(owner), id_(g_nextId++) {
    font_.OnChange = [this](TFont*) {
        if (!inFontChange_) parentFont_ = false;
        FontChanged();
    };
}

TWinControl::~TWinControl() {
    MarkDestroying();
    if (handle_ && g_tooltip) {
        TOOLINFOA ti = ToolFor(handle_);
        SendMessageA(g_tooltip, TTM_DELTOOL, 0, reinterpret_cast<LPARAM>(&ti));
    }
    DestroyWnd();
    for (TWinControl* c : controls_) c->parent_ = nullptr;
    if (parent_) {
        auto& v = parent_->controls_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
}

TWinControl* TWinControl::FromHandle(HWND wnd) {
    if (!wnd) return nullptr;
    auto& c = ControlMap();
    std::lock_guard<std::mutex> guard(c.lock);
    const auto it = c.map.find(wnd);
    return it != c.map.end() ? it->second : nullptr;
}

HWND TWinControl::Handle() {
    if (!handle_) CreateWnd();
    return handle_;
}

void TWinControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    if (parent_) {
        auto& v = parent_->controls_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    parent_ = parent;
    if (parent_) {
        parent_->controls_.push_back(this);
        if (parentFont_) {
            inFontChange_ = true;
            font_.Assign(parent_->font_);
            inFontChange_ = false;
        }
        if (parentColor_) color_ = parent_->color_;
        if (handle_) ::SetParent(handle_, parent_->Handle());
        else if (parent_->handle_) HandleNeeded();
    }
}

void TWinControl::CreateParams(TCreateParams& p) {
    p.ClassName = "VoltAtlasControl";
    p.SystemClass = false;
    p.Style = WS_CHILD | WS_CLIPSIBLINGS;
    p.ExStyle = 0;
}

HWND TWinControl::CreationParent() { return parent_ ? parent_->Handle() : nullptr; }

void TWinControl::CreateWnd() {
    TCreateParams p;
    p.X = left_, p.Y = top_, p.Width = width_, p.Height = height_;
    CreateParams(p);
    left_ = p.X, top_ = p.Y, width_ = p.Width, height_ = p.Height;
    HINSTANCE inst = GetModuleHandleA(nullptr);
    if (!p.SystemClass) {
        WNDCLASSEXA wc{};
        wc.style = p.ClassStyle;
        wc.lpfnWndProc = StdWndProc;
        wc.lpszClassName = p.ClassName.c_str();
        wc.hIcon = p.ClassIcon;
        EnsureWindowClass(wc);
    }
    DWORD style = p.Style;
    if (style & WS_CHILD) {
        if (visible_) style |= WS_VISIBLE;
        else style &= ~WS_VISIBLE;
    }
    if (!enabled_) style |= WS_DISABLED;
    HWND parentWnd = CreationParent();
    if ((style & WS_CHILD) && !parentWnd) throw Exception("Control '" + Name() + "' has no parent window");
    HWND wnd = CreateWindowExA(p.ExStyle, p.ClassName.c_str(), caption_.c_str(), style, left_, top_, width_, height_,
                               parentWnd, (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)) : p.Menu,
                               inst, this);
    if (!wnd) throw Exception("Cannot create window for '" + Name() + "'");
    if (p.SystemClass) {
        handle_ = wnd;
        BindControl(wnd, this);
        oldProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::StdWndProc)));
    }
    SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    CreatedWnd();
    for (TWinControl* c : std::vector<TWinControl*>(controls_)) c->HandleNeeded();
    UpdateHintTool();
}

void TWinControl::DestroyWnd() {
    const HWND wnd = handle_;
    if (wnd) DestroyWindow(wnd);
    // A window that could not be destroyed here (another thread's) is no longer this control's.
    if (wnd) UnbindControl(wnd, this);
    handle_ = nullptr;
}

void TWinControl::RecreateWnd() {
    if (!handle_) return;
    DestroyWnd();
    HandleNeeded();
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    TWinControl* self = nullptr;
    if (msg == WM_NCCREATE) self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams);
    if (self) {
        // A new window: bound to its control over whatever a reused handle value had.
        self->handle_ = wnd;
        BindControl(wnd, self);
    } else {
        self = FromHandle(wnd);
    }
    if (!self) return DefWindowProcA(wnd, msg, w, l);
    TMessage m{msg, w, l, 0};
    try {
        self->WndProc(m);
    } catch (const std::exception& e) {
        HandleWndProcException(e);
    }
    if (msg == WM_NCDESTROY) {
        UnbindControl(wnd, self);
        if (self->oldProc_) SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->oldProc_));
        self->oldProc_ = nullptr;
        self->handle_ = nullptr;
        self->mouseInside_ = false;
    }
    return m.Result;
}

void TWinControl::DefaultHandler(TMessage& m) {
    if (!handle_) {
        m.Result = 0;
        return;
    }
    m.Result = oldProc_ ? CallWindowProcA(oldProc_, handle_, m.Msg, m.WParam, m.LParam)
                        : DefWindowProcA(handle_, m.Msg, m.WParam, m.LParam);
}

bool TWinControl::Reflect(TMessage& m) {
    HWND child = nullptr;
    switch (m.Msg) {
        case WM_COMMAND: child = reinterpret_cast<HWND>(m.LParam); break;
        case WM_NOTIFY: child = reinterpret_cast<NMHDR*>(m.LParam)->hwndFrom; break;
        case WM_DRAWITEM: {
            auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam);
            if (dis->CtlType != ODT_MENU) child = dis->hwndItem;
            break;
        }
        case WM_MEASUREITEM: {
            auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(m.LParam);
            if (mis->CtlType != ODT_MENU && handle_) child = GetDlgItem(handle_, static_cast<int>(mis->CtlID));
            break;
        }
        default: child = reinterpret_cast<HWND>(m.LParam); break;  // WM_CTLCOLOR*
    }
    TWinControl* c = FromHandle(child);
    if (!c || c == this) return false;
    m.Result = c->Perform(CN_BASE + m.Msg, m.WParam, m.LParam);
    return true;
}

LRESULT TWinControl::Perform(UINT msg, WPARAM w, LPARAM l) {
    TMessage m{msg, w, l, 0};
    WndProc(m);
    return m.Result;
}

namespace {
bool HasNonClientArea(HWND wnd) {
    RECT window, client;
    if (!GetWindowRect(wnd, &window) || !GetClientRect(wnd, &client)) return true;
    MapWindowPoints(wnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return !EqualRect(&window, &client);
}
}  // namespace

void TWinControl::WndProc(TMessage& m) {
    switch (m.Msg) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_MEASUREITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            if (Reflect(m)) return;
            break;
        case CN_CTLCOLORBTN:
        case CN_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(m.WParam);
            SetTextColor(dc, ColorToRGB(font_.Color()));
            SetBkColor(dc, ColorToRGB(color_));
            colorBrush_.SetColor(color_);
            m.Result = reinterpret_cast<LRESULT>(colorBrush_.Handle());
            return;
        }
        case WM_MOUSEMOVE:
            if (!mouseInside_ && handle_) {
                TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, handle_, 0};
                if (TrackMouseEvent(&tme)) {
                    mouseInside_ = true;
                    Perform(CM_MOUSEENTER);
                }
            }
            break;
        case WM_MOUSELEAVE:
            if (mouseInside_) {
                mouseInside_ = false;
                Perform(CM_MOUSELEAVE);
            }
            break;
        case WM_WINDOWPOSCHANGED: {
            auto* wp = reinterpret_cast<WINDOWPOS*>(m.LParam);
            if (!(wp->flags & SWP_NOMOVE)) left_ = wp->x, top_ = wp->y;
            if (!(wp->flags & SWP_NOSIZE)) width_ = wp->cx, height_ = wp->cy;
            break;
        }
        case WM_PAINT:
            if (!oldProc_) {
                PaintScope paint(handle_);
                CanvasHandleScope canvas(paintCanvas_, paint.get());
                paintCanvas_.Font().Assign(font_);
                Paint(paintCanvas_);
                return;
            }
            break;
        case WM_ERASEBKGND:
            if (!oldProc_) {
                RECT r;
                GetClientRect(handle_, &r);
                colorBrush_.SetColor(color_);
                ::FillRect(reinterpret_cast<HDC>(m.WParam), &r, colorBrush_.Handle());
                m.Result = 1;
                return;
            }
            break;
        case WM_NCPAINT:
            // Nothing to draw outside a client area that fills the window (no frame, caption,
            // menu or scroll bar); the default handling would still take and free a window DC
            // for each such control as the form shows.
            if (handle_ && !HasNonClientArea(handle_)) {
                m.Result = 0;
                return;
            }
            break;
        case WM_GETFONT:
            if (!oldProc_) {  // our own classes answer with the font they paint with
                m.Result = reinterpret_cast<LRESULT>(font_.Handle());
                return;
            }
            break;
        case CM_PARENTFONTCHANGED:
            if (parentFont_ && parent_) {
                inFontChange_ = true;
                font_.Assign(parent_->font_);
                inFontChange_ = false;
            }
            return;
        case CM_PARENTCOLORCHANGED:
            if (parentColor_ && parent_) SetColor(parent_->color_), parentColor_ = true;
            return;
        case CM_PARENTSHOWHINTCHANGED:
            UpdateHintTool();
            return;
        default:
            if ((m.Msg >= CM_BASE && m.Msg < CM_BASE + 0x100) || (m.Msg >= CN_BASE && m.Msg < CN_BASE + 0x400)) {
                return;  // framework messages end here unless a class handles them
            }
            break;
    }
    DefaultHandler(m);
}

void TWinControl::NotifyChildren(UINT msg) {
    for (TWinControl* c : std::vector<TWinControl*>(controls_)) c->Perform(msg);
}

void TWinControl::FontChanged() {
    if (handle_) SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    Perform(CM_FONTCHANGED);
    NotifyChildren(CM_PARENTFONTCHANGED);
    Invalidate();
}

void TWinControl::SetParentFont(bool v) {
    parentFont_ = v;
    if (v && parent_) Perform(CM_PARENTFONTCHANGED);
}

void TWinControl::SetColor(TColor c) {
    parentColor_ = false;
    if (c == color_) return;
    color_ = c;
    Perform(CM_COLORCHANGED);
    NotifyChildren(CM_PARENTCOLORCHANGED);
    Invalidate();
}

void TWinControl::SetParentColor(bool v) {
    parentColor_ = v;
    if (v && parent_) Perform(CM_PARENTCOLORCHANGED);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    left_ = left, top_ = top, width_ = width, height_ = height;
    if (handle_) SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT TWinControl::ClientRect() {
    RECT r{0, 0, width_, height_};
    if (handle_) GetClientRect(handle_, &r);
    return r;
}

POINT TWinControl::ClientToScreen(POINT p) {
    ::ClientToScreen(Handle(), &p);
    return p;
}

void TWinControl::SetCaption(const std::string& text) {
    if (text == caption_) return;
    caption_ = text;
    if (handle_) SetWindowTextA(handle_, caption_.c_str());
    Perform(CM_TEXTCHANGED);
    Invalidate();
}

void TWinControl::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    if (handle_) EnableWindow(handle_, v);
    Perform(CM_ENABLEDCHANGED);
    Invalidate();
}

void TWinControl::SetVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    if (handle_) ShowWindow(handle_, v ? SW_SHOWNA : SW_HIDE);
    Perform(CM_VISIBLECHANGED);
}

bool TWinControl::Showing() { return handle_ && IsWindowVisible(handle_); }

void TWinControl::SetHint(const std::string& h) {
    hint_ = h;
    UpdateHintTool();
}

bool TWinControl::ShowHint() const {
    if (parentShowHint_ && parent_) return parent_->ShowHint();
    return showHint_;
}

void TWinControl::SetShowHint(bool v) {
    showHint_ = v;
    parentShowHint_ = false;
    Perform(CM_SHOWHINTCHANGED);
    UpdateHintTool();
    NotifyChildren(CM_PARENTSHOWHINTCHANGED);
}

void TWinControl::SetParentShowHint(bool v) {
    parentShowHint_ = v;
    UpdateHintTool();
}

void TWinControl::UpdateHintTool() {
    if (!handle_) return;
    const bool want = ShowHint() && !hint_.empty();
    if (!want && !g_tooltip) return;
    EnsureTooltip();
    if (!g_tooltip) return;
    TOOLINFOA ti = ToolFor(handle_);
    const bool has = SendMessageA(g_tooltip, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&ti)) != 0;
    ti = ToolFor(handle_);
    if (want && !has) SendMessageA(g_tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    if (!want && has) SendMessageA(g_tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    for (TWinControl* c : controls_) c->UpdateHintTool();
}

bool TWinControl::Focused() { return handle_ && GetFocus() == handle_; }
void TWinControl::SetFocus() { ::SetFocus(Handle()); }

void TWinControl::Invalidate() {
    if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Repaint() {
    if (!handle_) return;
    InvalidateRect(handle_, nullptr, TRUE);
    UpdateWindow(handle_);
}

void TWinControl::Update() {
    if (handle_) UpdateWindow(handle_);
}

void TWinControl::Click() {
    if (OnClick) OnClick(this);
}

// ---- TMessageWindow -------------------------------------------------------------------

void EnsureWindowClass(WNDCLASSEXA wc) {
    wc.cbSize = sizeof wc;
    wc.hInstance = GetModuleHandleA(nullptr);
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(wc.hInstance, wc.lpszClassName, &existing)) return;
    if (!wc.hCursor) wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    if (!RegisterClassExA(&wc))
        throw Exception(std::string("Cannot register window class ") + wc.lpszClassName);
}

TMessageWindow::TMessageWindow(Handler handler, bool messageOnly) : handler_(std::move(handler)) {
    static const char kClass[] = "VoltAtlasMessageWindow";
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = kClass;
    EnsureWindowClass(wc);
    wnd_ = messageOnly ? CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, inst, this)
                       : CreateWindowExA(WS_EX_TOOLWINDOW, kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, this);
    if (!wnd_) throw Exception("Cannot create a hidden window");
}

TMessageWindow::~TMessageWindow() {
    if (wnd_) {
        SetWindowLongPtrA(wnd_, GWLP_USERDATA, 0);
        DestroyWindow(wnd_);
    }
}

LRESULT CALLBACK TMessageWindow::Proc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
        SetWindowLongPtrA(wnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
    }
    auto* self = reinterpret_cast<TMessageWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (self && self->handler_) {
        TMessage m{msg, w, l, 0};
        try {
            if (self->handler_(m)) return m.Result;
        } catch (const std::exception& e) {
            HandleWndProcException(e);
            return 0;
        }
    }
    return DefWindowProcA(wnd, msg, w, l);
}

}  // namespace framework
