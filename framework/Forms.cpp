#include "framework/Forms.h"

#include <algorithm>

namespace framework {

void HandleWndProcException(const std::exception& e) { Application().HandleException(e); }
TColor ApplicationHintColor() { return Application().HintColor; }

// ---- TForm ----------------------------------------------------------------------------

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetVisible(false);
    SetColor(clBtnFace);
    Font().SetName("MS Sans Serif");
    Font().SetSize(8);
    SetBounds(0, 0, 400, 300);
    Application().Forms().push_back(this);
}

TForm::~TForm() {
    MarkDestroying();
    auto& forms = Application().Forms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (Application().MainForm() == this) Application().SetMainForm(nullptr);
    if (menu_) menu_->SetWindow(nullptr);
}

void TForm::CreateParams(TCreateParams& p) {
    p.ClassName = "VoltAtlasForm";
    p.SystemClass = false;
    p.ClassStyle = CS_DBLCLKS;
    p.ExStyle = 0;
    p.Style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    switch (BorderStyle) {
        case TFormBorderStyle::bsNone: p.Style |= WS_POPUP; break;
        case TFormBorderStyle::bsSingle: p.Style |= WS_CAPTION | WS_BORDER; break;
        case TFormBorderStyle::bsSizeable: p.Style |= WS_CAPTION | WS_THICKFRAME; break;
        case TFormBorderStyle::bsDialog:
            p.Style |= WS_CAPTION | DS_MODALFRAME;
            p.ExStyle |= WS_EX_DLGMODALFRAME;
            break;
    }
    if (BorderStyle != TFormBorderStyle::bsNone) {
        if (BorderIcons & biSystemMenu) p.Style |= WS_SYSMENU;
        if (BorderStyle != TFormBorderStyle::bsDialog) {
            if (BorderIcons & biMinimize) p.Style |= WS_MINIMIZEBOX;
            if ((BorderIcons & biMaximize) && BorderStyle == TFormBorderStyle::bsSizeable) p.Style |= WS_MAXIMIZEBOX;
        }
    }
    // Made with its menu, size and first place at once: each change of a top-level window's
    // frame or place after its creation costs the display driver a round of its own.
    if (menu_) p.Menu = menu_->Handle();
    p.ClassIcon = Application().Icon();
    if (clientWidth_ >= 0) {
        RECT r{0, 0, clientWidth_, clientHeight_};
        AdjustWindowRectEx(&r, p.Style, p.Menu != nullptr, p.ExStyle);
        p.Width = r.right - r.left, p.Height = r.bottom - r.top;
    }
    if (!placed_) {
        POINT at;
        if (FirstPlace(p.Width, p.Height, at)) p.X = at.x, p.Y = at.y;
    }
}

HWND TForm::CreationParent() { return Application().Handle(); }

void TForm::Notification(TComponent* c, TOperation op) {
    TWinControl::Notification(c, op);
    // A menu that goes away first leaves the form without one.
    if (op == TOperation::opRemove && c == menu_) menu_ = nullptr;
}

void TForm::CreatedWnd() {
    if (menu_) menu_->SetWindow(Handle());
    ApplyClientSize();
}

void TForm::SetClientSize(int width, int height) {
    clientWidth_ = width, clientHeight_ = height;
    ApplyClientSize();
}

void TForm::ApplyClientSize() {
    if (clientWidth_ < 0 || !HandleAllocated()) {
        if (clientWidth_ >= 0) SetBounds(Left(), Top(), clientWidth_, clientHeight_);
        return;
    }
    HWND wnd = Handle();
    RECT r{0, 0, clientWidth_, clientHeight_};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(wnd, GWL_STYLE)), GetMenu(wnd) != nullptr,
                       static_cast<DWORD>(GetWindowLongPtrA(wnd, GWL_EXSTYLE)));
    RECT now;
    GetWindowRect(wnd, &now);
    if (now.right - now.left != r.right - r.left || now.bottom - now.top != r.bottom - r.top)
        SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
    // A menu bar that wraps takes more room than the estimate: correct by what we got.
    RECT c;
    GetClientRect(wnd, &c);
    const int dw = clientWidth_ - c.right, dh = clientHeight_ - c.bottom;
    if (dw || dh) SetBounds(Left(), Top(), Width() + dw, Height() + dh);
}

int TForm::ClientWidth() { return ClientRect().right; }
int TForm::ClientHeight() { return ClientRect().bottom; }

void TForm::SetMenu(TMainMenu* menu) {
    if (menu == menu_) return;
    if (menu_) {
        menu_->SetWindow(nullptr);
        RemoveFreeNotification(menu_);
    }
    menu_ = menu;
    if (menu_) FreeNotification(menu_);
    if (menu_ && HandleAllocated()) menu_->SetWindow(Handle());
    ApplyClientSize();
}

bool TForm::FirstPlace(int width, int height, POINT& at) {
    if (Position == TPosition::poDesigned) return false;
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    TForm* over = nullptr;
    if (Position == TPosition::poMainFormCenter) over = Application().MainForm();
    if (Position == TPosition::poOwnerFormCenter) over = dynamic_cast<TForm*>(Owner());
    if (over == this || (over && !over->HandleAllocated())) over = nullptr;
    RECT base = area;
    if (over) GetWindowRect(over->Handle(), &base);
    int x = base.left + ((base.right - base.left) - width) / 2;
    int y = base.top + ((base.bottom - base.top) - height) / 2;
    at.x = std::max<int>(area.left, std::min<int>(x, area.right - width));
    at.y = std::max<int>(area.top, std::min<int>(y, area.bottom - height));
    return true;
}

void TForm::PlaceOnFirstShow() {
    if (placed_) return;
    placed_ = true;
    POINT at;
    // Usually where the window was made already.
    if (FirstPlace(Width(), Height(), at) && (at.x != Left() || at.y != Top())) SetBounds(at.x, at.y, Width(), Height());
}

void TForm::Show() {
    HWND wnd = Handle();
    PlaceOnFirstShow();
    SetVisible(true);
    if (this == Application().MainForm() && !IsWindowVisible(Application().Handle()))
        ShowWindow(Application().Handle(), SW_SHOWNOACTIVATE);
    ShowWindow(wnd, SW_SHOW);
    SetForegroundWindow(wnd);
    if (OnShow) OnShow(this);
}

void TForm::Hide() {
    SetVisible(false);
    if (HandleAllocated()) ShowWindow(Handle(), SW_HIDE);
}

void TForm::Close() {
    if (modal_) {
        modalResult_ = mrCancel;
        return;
    }
    TCloseAction action = TCloseAction::caHide;
    if (OnClose) OnClose(this, action);
    if (action == TCloseAction::caNone) return;
    if (this == Application().MainForm()) {
        Hide();
        Application().Terminate();
    } else if (action == TCloseAction::caMinimize) {
        ShowWindow(Handle(), SW_MINIMIZE);
    } else {
        Hide();
    }
}

int TForm::ShowModal() {
    if (modal_) throw Exception("Cannot make a visible window modal");
    modal_ = true;
    modalResult_ = mrNone;
    std::vector<HWND> disabled;
    for (TForm* f : Application().Forms())
        if (f != this && f->HandleAllocated() && IsWindowEnabled(f->Handle())) {
            EnableWindow(f->Handle(), FALSE);
            disabled.push_back(f->Handle());
        }
    try {
        Show();
        for (;;) {
            Application().HandleMessage();
            if (Application().Terminated()) modalResult_ = mrCancel;
            if (modalResult_ == mrNone) continue;
            TCloseAction action = TCloseAction::caHide;
            if (OnClose) OnClose(this, action);
            if (action != TCloseAction::caNone || Application().Terminated()) break;
            modalResult_ = mrNone;
        }
    } catch (...) {
        for (HWND w : disabled) EnableWindow(w, TRUE);
        modal_ = false;
        throw;
    }
    for (HWND w : disabled)
        if (IsWindow(w)) EnableWindow(w, TRUE);
    Hide();
    modal_ = false;
    return modalResult_;
}

TButton* TForm::FindButton(bool wantDefault) {
    std::vector<TWinControl*> todo(Controls().begin(), Controls().end());
    while (!todo.empty()) {
        TWinControl* c = todo.back();
        todo.pop_back();
        if (auto* b = dynamic_cast<TButton*>(c))
            if ((wantDefault ? b->Default() : b->Cancel()) && b->Enabled() && b->Visible()) return b;
        todo.insert(todo.end(), c->Controls().begin(), c->Controls().end());
    }
    return nullptr;
}

bool TForm::IsDialogKey(MSG& msg) {
    if (!HandleAllocated()) return false;
    if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && menu_) {
        WORD sc = static_cast<WORD>(msg.wParam & 0xFF);
        if (GetKeyState(VK_SHIFT) < 0) sc |= scShift;
        if (GetKeyState(VK_CONTROL) < 0) sc |= scCtrl;
        if (GetKeyState(VK_MENU) < 0) sc |= scAlt;
        if (menu_->IsShortCut(sc)) return true;
    }
    return IsDialogMessageA(Handle(), &msg) != 0;
}

void TForm::WndProc(TMessage& m) {
    switch (m.Msg) {
        case WM_CLOSE:
            Close();
            m.Result = 0;
            return;
        case WM_COMMAND:
            if (m.LParam == 0 && HIWORD(m.WParam) == 0 && menu_ && menu_->DispatchCommand(LOWORD(m.WParam))) return;
            if (!TWinControl::FromHandle(reinterpret_cast<HWND>(m.LParam))) {
                if (LOWORD(m.WParam) == IDCANCEL) {
                    if (TButton* b = FindButton(false)) b->Click();
                    else if (modal_) modalResult_ = mrCancel;
                    return;
                }
                if (LOWORD(m.WParam) == IDOK) {
                    if (TButton* b = FindButton(true)) b->Click();
                    return;
                }
            }
            break;
        case DM_GETDEFID:
            if (TButton* b = FindButton(true)) {
                m.Result = MAKELONG(GetDlgCtrlID(b->Handle()), DC_HASDEFID);
                return;
            }
            m.Result = 0;
            return;
        case WM_SYSCOMMAND:
            // The command's low four bits are the system's own: compare the rest.
            if ((m.WParam & 0xFFF0) == SC_MINIMIZE && this == Application().MainForm()) {
                SendMessageA(Application().Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
                m.Result = 0;
                return;
            }
            break;
    }
    TWinControl::WndProc(m);
}

// ---- TApplication ---------------------------------------------------------------------

TApplication& Application() {
    static TApplication app;
    return app;
}

TApplication::TApplication() = default;

TApplication::~TApplication() {
    if (wnd_) DestroyWindow(wnd_);
}

void TApplication::Initialize() { Handle(); }

HWND TApplication::Handle() {
    if (wnd_) return wnd_;
    static const char kClass[] = "TApplication";
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hIcon = Icon();
    wc.lpszClassName = kClass;
    EnsureWindowClass(wc);
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2, y = GetSystemMetrics(SM_CYSCREEN) / 2;
    wnd_ = CreateWindowExA(0, kClass, title_.c_str(),
                           WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0, nullptr,
                           nullptr, inst, nullptr);
    if (!wnd_) throw Exception("Cannot create the application window");
    return wnd_;
}

void TApplication::SetTitle(const std::string& title) {
    title_ = title;
    if (wnd_) SetWindowTextA(wnd_, title_.c_str());
}

HICON TApplication::Icon() {
    if (!icon_) {
        // Icon id 1 is what Explorer shows for the executable; "MAINICON" is the named form.
        icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
        if (!icon_) icon_ = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
        if (!icon_) icon_ = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    }
    return icon_;
}

LRESULT CALLBACK TApplication::WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    TApplication& app = Application();
    if (app.wnd_ != wnd) return DefWindowProcA(wnd, msg, w, l);
    try {
        return app.Dispatch(msg, w, l);
    } catch (const std::exception& e) {
        app.HandleException(e);
        return 0;
    }
}

LRESULT TApplication::Dispatch(UINT msg, WPARAM w, LPARAM l) {
    TMessage m{msg, w, l, 0};
    auto hooks = hooks_;
    for (auto& [id, hook] : hooks)
        if (hook(m)) return m.Result;
    switch (msg) {
        case WM_ACTIVATEAPP:
            if (w) {
                auto handlers = activate_;
                for (auto& [key, handler] : handlers) handler();
            }
            break;
        case WM_SYSCOMMAND:
            if ((w & 0xFFF0) == SC_MINIMIZE) {
                Minimize();
                return 0;
            }
            if ((w & 0xFFF0) == SC_RESTORE) {
                Restore();
                return 0;
            }
            break;
        case WM_CLOSE:
            if (mainForm_) mainForm_->Close();
            return 0;
        case WM_SETFOCUS:
            if (mainForm_ && mainForm_->HandleAllocated() && IsWindowVisible(mainForm_->Handle()) &&
                IsWindowEnabled(mainForm_->Handle())) {
                SetFocus(mainForm_->Handle());
                return 0;
            }
            break;
    }
    return DefWindowProcA(wnd_, msg, w, l);
}

void TApplication::Minimize() {
    HWND wnd = Handle();
    if (IsIconic(wnd)) return;
    NormalizeTopMosts();
    // The forms go out of sight with the application window, and come back with it.
    hiddenForms_.clear();
    for (TForm* f : forms_)
        if (f->HandleAllocated() && IsWindowVisible(f->Handle())) {
            hiddenForms_.push_back(f->Handle());
            ShowWindow(f->Handle(), SW_HIDE);
        }
    ShowWindow(wnd, SW_MINIMIZE);
}

void TApplication::Restore() {
    HWND wnd = Handle();
    if (IsIconic(wnd)) ShowWindow(wnd, SW_RESTORE);
    for (HWND f : hiddenForms_)
        if (IsWindow(f)) ShowWindow(f, SW_SHOWNA);
    hiddenForms_.clear();
    RestoreTopMosts();
    BringToFront();
}

void TApplication::BringToFront() {
    if (mainForm_ && mainForm_->HandleAllocated() && IsWindowVisible(mainForm_->Handle()))
        SetForegroundWindow(mainForm_->Handle());
}

void TApplication::NormalizeTopMosts() {
    for (TForm* f : forms_) {
        if (!f->HandleAllocated()) continue;
        HWND w = f->Handle();
        if (GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) {
            topMosts_.push_back(w);
            SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
}

void TApplication::RestoreTopMosts() {
    for (HWND w : topMosts_)
        if (IsWindow(w)) SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    topMosts_.clear();
}

void TApplication::Run() {
    Handle();
    if (mainForm_ && ShowMainForm) mainForm_->Show();
    while (!terminated_) HandleMessage();
}

bool TApplication::ProcessMessage(MSG& msg) {
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return false;
    }
    HWND active = GetActiveWindow();
    if (auto* form = dynamic_cast<TForm*>(TWinControl::FromHandle(active)))
        if (form->IsDialogKey(msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void TApplication::HandleMessage() {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
        terminated_ = true;
        return;
    }
    ProcessMessage(msg);
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (!ProcessMessage(msg)) break;
}

bool TApplication::HelpContext(int context) { return OnHelp ? OnHelp(context) : false; }

int TApplication::HookMainWindow(THook hook) {
    hooks_.emplace_back(nextHook_, std::move(hook));
    return nextHook_++;
}

void TApplication::UnhookMainWindow(int id) {
    std::erase_if(hooks_, [id](const auto& h) { return h.first == id; });
}

void TApplication::HandleException(const std::exception& e) {
    if (OnException) {
        OnException(e);
        return;
    }
    MessageBoxA(mainForm_ && mainForm_->HandleAllocated() ? mainForm_->Handle() : wnd_, e.what(), title_.c_str(),
                MB_OK | MB_ICONERROR);
}

void TApplication::AddActivateHandler(void* key, std::function<void()> handler) {
    activate_.emplace_back(key, std::move(handler));
}

void TApplication::RemoveActivateHandler(void* key) {
    std::erase_if(activate_, [key](const auto& h) { return h.first == key; });
}

// ---- TApplicationEvents ---------------------------------------------------------------

TApplicationEvents::TApplicationEvents(TComponent* owner) : TComponent(owner) {
    Application().AddActivateHandler(this, [this] {
        if (OnActivate) {
            auto handler = OnActivate;  // the handler may clear OnActivate
            handler(this);
        }
    });
}

TApplicationEvents::~TApplicationEvents() { Application().RemoveActivateHandler(this); }

}  // namespace framework
