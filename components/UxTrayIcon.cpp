#include "components/UxTrayIcon.h"

#include <algorithm>
#include <cstring>

#include "components/UxUtils.h"
#include "framework/Handles.h"

using namespace framework;

TTrayShell RealTrayShell() { return TTrayShell{&::Shell_NotifyIconA, &::Shell32Version, &::Sleep}; }
TTrayShell& TrayShell() {
    static TTrayShell shell = RealTrayShell();
    return shell;
}

UINT TaskbarCreatedMessage() {
    static const UINT id = RegisterWindowMessageA("TaskbarCreated");
    return id;
}

namespace {
// Registered when the program starts, as the shell may broadcast at any time.
const UINT g_taskbarCreated = TaskbarCreatedMessage();

constexpr uint32_t kShell5 = 0x00050000;

unsigned LiveShiftState() {
    unsigned s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= tssShift;
    if (GetKeyState(VK_MENU) < 0) s |= tssAlt;
    if (GetKeyState(VK_CONTROL) < 0) s |= tssCtrl;
    if (GetKeyState(VK_LBUTTON) < 0) s |= tssLeft;
    if (GetKeyState(VK_RBUTTON) < 0) s |= tssRight;
    if (GetKeyState(VK_MBUTTON) < 0) s |= tssMiddle;
    return s;
}

void CopyCut(char* dst, size_t capacity, const std::string& src, size_t maxChars) {
    const size_t n = std::min({src.size(), maxChars, capacity - 1});
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

RECT TrayWindowRect(bool& found) {
    RECT r{0, 0, 0, 0};
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    HWND notify = tray ? FindWindowExA(tray, nullptr, "TrayNotifyWnd", nullptr) : nullptr;
    found = notify && GetWindowRect(notify, &r);
    return r;
}
}  // namespace

// ---- life -----------------------------------------------------------------------------

TUxTrayIcon::TUxTrayIcon(TComponent* owner)
    : TUxComponent(owner), icon_(std::make_unique<TIcon>()), shownIcon_(std::make_unique<TIcon>()) {
    icon_->OnChange = [this](TGraphic*) { UpdateShownIcon(); };
    wnd_ = AllocateUtilityWindow("", MakeWndMethod<TUxTrayIcon, &TUxTrayIcon::HandleTrayMessage>(this));
    (void)g_taskbarCreated;
}

TUxTrayIcon::~TUxTrayIcon() {
    MarkDestroying();
    KillTimer(wnd_, TrayTimerClick);
    KillTimer(wnd_, TrayTimerBalloon);
    SetActive(false);
    // The process stays in the task list: it is about to go away on its own.
    SetTaskListState(true);
    icon_.reset();
    shownIcon_.reset();
    DestroyWindow(wnd_);
}

void TUxTrayIcon::Loaded() {
    TUxComponent::Loaded();
    UpdateShownIcon();
    if (!streamedActive_) return;
    SetActive(true);
    if (!(visibility_ & TrayVis(tvVisibleTaskBar))) {
        Application().ShowMainForm = false;
        Application().NormalizeTopMosts();
        SetActiveWindow(Application().Handle());
        ShowWindowNoAnimation(Application().Handle(), SW_HIDE);
        hiddenAtStart_ = true;
    }
    if (!(visibility_ & TrayVis(tvVisibleTaskList))) SetTaskListState(false);
}

void TUxTrayIcon::Notification(TComponent* c, TOperation op) {
    TUxComponent::Notification(c, op);
    if (op != TOperation::opRemove) return;
    if (c == dropDownMenu_) dropDownMenu_ = nullptr;
    if (c == popupMenu_) popupMenu_ = nullptr;
    if (c == icons_) {
        icons_ = nullptr;
        UpdateShownIcon();
    }
}

// ---- properties -----------------------------------------------------------------------

bool TUxTrayIcon::LargeRecord() const { return TrayShell().Shell32Version() >= kShell5; }

void TUxTrayIcon::SetActive(bool v) {
    if (Loading()) {
        streamedActive_ = v;
        return;
    }
    if (v == active_) return;
    active_ = v;
    if (v) {
        FillRecord();
        HookApplication();
        AddIcon();
    } else {
        StopAnimation();
        UnhookApplication();
        RemoveIcon();
    }
}

void TUxTrayIcon::FillRecord() {
    std::memset(&data_, 0, sizeof data_);
    if (LargeRecord()) {
        data_.cbSize = NOTIFYICONDATAA_V2_SIZE;
        data_.uVersion = NOTIFYICON_VERSION;
    } else {
        data_.cbSize = NOTIFYICONDATAA_V1_SIZE;
    }
    data_.hWnd = wnd_;
    data_.uID = TrayIconId;
    data_.uCallbackMessage = WM_TRAYNOTIFY;
    data_.hIcon = shownIcon_->Empty() ? Application().Icon() : shownIcon_->Handle();
    CopyTip();
    data_.uFlags = 0;
}

void TUxTrayIcon::CopyTip() {
    CopyCut(data_.szTip, sizeof data_.szTip, GetShortHint(hint_), LargeRecord() ? 127 : 63);
}

void TUxTrayIcon::SetAnimated(bool v) {
    if (v == animated_) return;
    animated_ = v;
    if (v) StartAnimation();
    else StopAnimation();
}

void TUxTrayIcon::SetIconIndex(int v) {
    if (v == iconIndex_) return;
    iconIndex_ = v;
    UpdateShownIcon();
}

void TUxTrayIcon::SetIcons(TCustomImageList* list) {
    if (SwapComponentReference(this, list, icons_)) UpdateShownIcon();
}

void TUxTrayIcon::SetDropDownMenu(TPopupMenu* m) { SwapComponentReference(this, m, dropDownMenu_); }
void TUxTrayIcon::SetPopupMenu(TPopupMenu* m) { SwapComponentReference(this, m, popupMenu_); }

void TUxTrayIcon::SetDelay(unsigned ms) {
    delay_ = ms;
    if (animating_) {
        StopAnimation();
        StartAnimation();
    }
}

void TUxTrayIcon::SetHint(const std::string& v) {
    std::string h = v;
    if (!LargeRecord()) {
        // An old shell shows one line.
        for (size_t at; (at = h.find("\r\n")) != std::string::npos;) h.replace(at, 2, " - ");
    }
    if (h == hint_) return;
    hint_ = h;
    hintChanged_ = true;
}

void TUxTrayIcon::UpdateShownIcon() {
    if (Loading() || !shownIcon_) return;
    if (icons_ && iconIndex_ >= 0 && iconIndex_ < icons_->Count()) {
        icons_->GetIcon(iconIndex_, *shownIcon_);
    } else if (icon_->Empty()) {
        shownIcon_->SetHandle(CopyIcon(Application().Icon()));
    } else {
        shownIcon_->Assign(*icon_);
    }
    data_.hIcon = shownIcon_->Handle();
    if (added_) CallShellNotify(NIF_ICON, NIM_MODIFY);
}

void TUxTrayIcon::SetVisibility(TTrayVisibilities v) {
    const TTrayVisibilities old = visibility_;
    visibility_ = v;
    if (!active_) return;
    const TTrayVisibilities added = v & ~old, removed = old & ~v;
    SetTaskListState((v & TrayVis(tvVisibleTaskList)) != 0);
    if ((added & TrayVis(tvAutoHide)) && !ApplicationVisible()) MinimizeToTray();
    if (added & TrayVis(tvVisibleTaskBar)) RestoreFromTray();
    else if (removed & TrayVis(tvVisibleTaskBar)) MinimizeToTray();
    const bool iconic = IsIconic(Application().Handle()) != 0;
    if ((added & TrayVis(tvAutoHideIcon)) && !iconic) RemoveIcon();
    else if ((removed & TrayVis(tvAutoHideIcon)) && !iconic) AddIcon();
}

void TUxTrayIcon::SetTaskListState(bool listed) {
    if (listed == taskListed_) return;
    taskListed_ = listed;
    using TRegisterServiceProcess = DWORD(WINAPI*)(DWORD, DWORD);
    static TRegisterServiceProcess entry = ProcAs<TRegisterServiceProcess>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "RegisterServiceProcess"));
    if (entry) entry(GetCurrentProcessId(), listed ? 0 : 1);
}

// ---- the shell ------------------------------------------------------------------------

bool TUxTrayIcon::NotifyOnce(DWORD message) { return TrayShell().Shell_NotifyIconA(message, &data_) != FALSE; }

bool TUxTrayIcon::CallShellNotify(UINT Flags, DWORD Message) {
    data_.uFlags = Flags;
    if (NotifyOnce(Message)) return true;
    if (visibility_ & TrayVis(tvNoRetryOnFailure)) return false;
    // A shell that is starting or busy answers with no error or a time-out: wait and retry.
    auto retryable = [] {
        const DWORD e = GetLastError();
        return e == 0 || e == ERROR_TIMEOUT;
    };
    if (!retryable()) return false;
    for (int attempt = 0; attempt < 31; ++attempt) {
        TrayShell().Sleep(1000);
        if (Message == NIM_ADD && NotifyOnce(NIM_MODIFY)) return true;     // it was there after all
        if (Message == NIM_DELETE && !NotifyOnce(NIM_MODIFY)) return true;  // it is gone
        if (NotifyOnce(Message)) return true;
        if (!retryable()) return false;
    }
    return false;
}

void TUxTrayIcon::AddIcon() {
    if (added_ || !active_) return;
    if ((visibility_ & TrayVis(tvAutoHideIcon)) && ApplicationVisible()) return;
    if (!CallShellNotify(NIF_MESSAGE | NIF_ICON | NIF_TIP, NIM_ADD)) return;
    added_ = true;
    if (LargeRecord()) {
        // The version shares its field with the balloon time-out: put the version back.
        data_.uVersion = NOTIFYICON_VERSION;
        CallShellNotify(0, NIM_SETVERSION);
    }
    if (animated_) StartAnimation();
}

void TUxTrayIcon::RemoveIcon() {
    if (!added_) return;
    StopAnimation();
    if (CallShellNotify(0, NIM_DELETE)) added_ = false;
}

bool TUxTrayIcon::ApplicationVisible() const { return !hiddenAtStart_ && !IsIconic(Application().Handle()); }

// ---- animation ------------------------------------------------------------------------

void TUxTrayIcon::StartAnimation() {
    if (!added_ || animating_ || !animated_) return;
    if (SetTimer(wnd_, TrayTimerAnimate, delay_, nullptr)) animating_ = true;
}

void TUxTrayIcon::StopAnimation() {
    if (!animating_) return;
    KillTimer(wnd_, TrayTimerAnimate);
    animating_ = false;
}

void TUxTrayIcon::AnimateTick() {
    if (!added_ || !icons_ || icons_->Count() < 2) {
        SetIconIndex(0);
        return;
    }
    const int count = icons_->Count();
    int next;
    if (iconIndex_ < 0) {
        next = 0;
    } else if (SwingForthAndBack) {
        if (iconIndex_ >= count - 1) swingDirection_ = -1;
        else if (iconIndex_ == 0) swingDirection_ = 1;
        next = ((iconIndex_ + swingDirection_) % count + count) % count;
    } else {
        next = (iconIndex_ + 1) % count;
    }
    SetIconIndex(next);
    if (OnAnimate) OnAnimate(this, iconIndex_);
}

// ---- balloons -------------------------------------------------------------------------

void TUxTrayIcon::ShowBalloon(const std::string& Title, const std::string& Text, TBalloonType BalloonType,
                              unsigned Timeout, bool CancelPrevious) {
    if (!added_ || !LargeRecord()) return;
    balloonShownAt_ = GetTickCount64();
    balloonTimeoutSecs_ = Timeout / 1000;
    if (CancelPrevious) HideBalloon();
    CopyCut(data_.szInfoTitle, sizeof data_.szInfoTitle, Title, 63);
    CopyCut(data_.szInfo, sizeof data_.szInfo, Text, 255);
    data_.uTimeout = Timeout;
    static const DWORD kIconFlags[4] = {NIIF_NONE, NIIF_ERROR, NIIF_INFO, NIIF_WARNING};
    data_.dwInfoFlags = kIconFlags[static_cast<int>(BalloonType) & 3];
    if (!CallShellNotify(NIF_INFO, NIM_MODIFY)) return;
    const bool something = !Title.empty() || !Text.empty();
    if (something) ++balloonCount_;
    else balloonCount_ = std::max(0, balloonCount_ - 1);
    if (Timeout < 10000 && something) SetTimer(wnd_, TrayTimerBalloon, Timeout, nullptr);
    if (OnBalloonShow) OnBalloonShow(this);
}

void TUxTrayIcon::HideBalloon() {
    if (balloonCount_ < 0) return;
    const int n = balloonCount_ + 1;
    for (int i = 0; i < n; ++i) ShowBalloon("", "", TBalloonType::btNone, 5000, false);
}

// ---- the application window -----------------------------------------------------------

void TUxTrayIcon::HookApplication() {
    if (hookId_) return;
    hookId_ = Application().HookMainWindow([this](TMessage& m) {
        // The low four bits of a system command are the system's own: compare the rest.
        if (m.Msg == WM_SYSCOMMAND && (m.WParam & 0xFFF0) == SC_MINIMIZE && (visibility_ & TrayVis(tvAutoHide)) &&
            active_)
            MinimizeToTray();
        return false;  // the normal minimise follows
    });
}

void TUxTrayIcon::UnhookApplication() {
    if (!hookId_) return;
    Application().UnhookMainWindow(hookId_);
    hookId_ = 0;
}

void TUxTrayIcon::MinimizeToTray() {
    TApplication& app = Application();
    if (ApplicationVisible()) {
        TForm* main = app.MainForm();
        if ((Snap || (visibility_ & TrayVis(tvAnimateToTray))) && main) {
            if (visibility_ & TrayVis(tvAnimateToTray)) {
                bool found = false;
                RECT to = TrayWindowRect(found);
                RECT from;
                if (found && GetWindowRect(main->Handle(), &from)) DrawAnimatedRects(main->Handle(), IDANI_CAPTION, &from, &to);
            }
            main->Hide();
        }
        app.ShowMainForm = false;
        app.Minimize();
    }
    ShowWindow(app.Handle(), SW_HIDE);
    visibility_ &= ~TrayVis(tvVisibleTaskBar);
    if (visibility_ & TrayVis(tvAutoHideIcon)) AddIcon();
}

void TUxTrayIcon::RestoreFromTray() {
    TApplication& app = Application();
    if (hiddenAtStart_) {
        ShowWindowNoAnimation(app.Handle(), SW_MINIMIZE);
        if (!(Snap || (visibility_ & TrayVis(tvAnimateToTray)))) app.ShowMainForm = true;
    }
    visibility_ |= TrayVis(tvVisibleTaskBar);
    ShowWindow(app.Handle(), SW_SHOW);
    if (!ApplicationVisible()) {
        TForm* main = app.MainForm();
        if ((visibility_ & TrayVis(tvAnimateToTray)) && main) {
            bool found = false;
            RECT from = TrayWindowRect(found);
            RECT to;
            if (found && GetWindowRect(main->Handle(), &to)) DrawAnimatedRects(main->Handle(), IDANI_CAPTION, &from, &to);
        }
        app.Restore();
        if (main) main->Show();
    }
    hiddenAtStart_ = false;
    if (visibility_ & TrayVis(tvAutoHideIcon)) RemoveIcon();
}

// ---- the shell's callbacks ------------------------------------------------------------

void TUxTrayIcon::MouseDown(TMouseButton b, int x, int y) {
    buttonDown_ = true;
    if (OnMouseDown) OnMouseDown(this, b, LiveShiftState(), x, y);
}

void TUxTrayIcon::MouseUp(TMouseButton b, int x, int y) {
    if (!buttonDown_) return;
    buttonDown_ = false;
    const unsigned shift = LiveShiftState();
    const bool wantClick = OnClick || (b == TMouseButton::mbLeft &&
                                       (dropDownMenu_ || (visibility_ & (TrayVis(tvRestoreClick) | TrayVis(tvMinimizeClick)))));
    if (wantClick) {
        const bool wantDbl = OnDblClick || (visibility_ & (TrayVis(tvRestoreDbClick) | TrayVis(tvMinimizeDbClick)));
        if (wantDbl) {
            pendingButton_ = b, pendingShift_ = shift, pendingX_ = x, pendingY_ = y;
            if (!clickPending_) {
                clickPending_ = true;
                SetTimer(wnd_, TrayTimerClick, GetDoubleClickTime(), nullptr);
            }
        } else {
            DoClick(b, shift, x, y);
        }
    }
    if (OnMouseUp) OnMouseUp(this, b, shift, x, y);
    if (b == TMouseButton::mbRight && !LargeRecord()) ContextPopup(x, y);
}

void TUxTrayIcon::DoClick(TMouseButton b, unsigned shift, int x, int y) {
    if (OnClick) OnClick(this, b, shift, x, y);
    if (b != TMouseButton::mbLeft) return;
    if (dropDownMenu_) {
        SetForegroundWindow(wnd_);
        dropDownMenu_->Popup(x, y);
        PostMessageA(wnd_, WM_NULL, 0, 0);
    }
    const bool visible = ApplicationVisible();
    if (visible && (visibility_ & TrayVis(tvMinimizeClick))) MinimizeToTray();
    else if (!visible && (visibility_ & TrayVis(tvRestoreClick))) RestoreFromTray();
}

void TUxTrayIcon::DoDblClick(TMouseButton b, unsigned shift, int x, int y) {
    if (clickPending_) {
        clickPending_ = false;
        KillTimer(wnd_, TrayTimerClick);
    }
    if (OnDblClick) {
        OnDblClick(this, b, shift, x, y);
        return;
    }
    if (b != TMouseButton::mbLeft) return;
    if (popupMenu_) {
        TMenuItem& items = popupMenu_->Items();
        for (int i = 0; i < items.Count(); ++i)
            if (items.Items(i)->Default()) {
                items.Items(i)->Click();
                break;
            }
    }
    const bool visible = ApplicationVisible();
    if (visible && (visibility_ & TrayVis(tvMinimizeDbClick))) MinimizeToTray();
    else if (!visible && (visibility_ & TrayVis(tvRestoreDbClick))) RestoreFromTray();
}

void TUxTrayIcon::ContextPopup(int x, int y) {
    bool handled = false;
    if (OnContextPopup) OnContextPopup(this, POINT{x, y}, handled);
    if (handled || !popupMenu_) return;
    SetForegroundWindow(wnd_);
    popupMenu_->Popup(x, y);
    PostMessageA(wnd_, WM_NULL, 0, 0);
}

void TUxTrayIcon::HandleTrayMessage(TMessage& m) {
    if (m.Msg == WM_TRAYNOTIFY) {
        POINT p{0, 0};
        GetCursorPos(&p);
        const int x = p.x, y = p.y;
        switch (static_cast<UINT>(m.LParam)) {
            case WM_CONTEXTMENU:
            case NIN_KEYSELECT: ContextPopup(x, y); break;
            case WM_MOUSEMOVE:
                if (hintChanged_) {
                    hintChanged_ = false;
                    CopyTip();
                    if (added_) CallShellNotify(NIF_TIP, NIM_MODIFY);
                }
                if (OnMouseMove) OnMouseMove(this, LiveShiftState(), x, y);
                break;
            case WM_LBUTTONDOWN: MouseDown(TMouseButton::mbLeft, x, y); break;
            case WM_RBUTTONDOWN: MouseDown(TMouseButton::mbRight, x, y); break;
            case WM_MBUTTONDOWN: MouseDown(TMouseButton::mbMiddle, x, y); break;
            case WM_LBUTTONUP: MouseUp(TMouseButton::mbLeft, x, y); break;
            case WM_RBUTTONUP: MouseUp(TMouseButton::mbRight, x, y); break;
            case WM_MBUTTONUP: MouseUp(TMouseButton::mbMiddle, x, y); break;
            case WM_LBUTTONDBLCLK: DoDblClick(TMouseButton::mbLeft, LiveShiftState(), x, y); break;
            case WM_RBUTTONDBLCLK: DoDblClick(TMouseButton::mbRight, LiveShiftState(), x, y); break;
            case WM_MBUTTONDBLCLK: DoDblClick(TMouseButton::mbMiddle, LiveShiftState(), x, y); break;
            case NIN_BALLOONHIDE:
                try {
                    if (OnBalloonHide) OnBalloonHide(this);
                } catch (...) {
                }
                m.Result = 1;
                break;
            case NIN_BALLOONTIMEOUT:
                if ((GetTickCount64() - balloonShownAt_) / 1000 > balloonTimeoutSecs_) HideBalloon();
                m.Result = 1;
                break;
            case NIN_BALLOONUSERCLICK:
                try {
                    if (OnBalloonClick) OnBalloonClick(this);
                } catch (...) {
                }
                m.Result = 1;
                HideBalloon();
                break;
        }
        return;
    }
    switch (m.Msg) {
        case WM_TIMER:
            if (m.WParam == TrayTimerAnimate) AnimateTick();
            else if (m.WParam == TrayTimerBalloon) {
                KillTimer(wnd_, TrayTimerBalloon);
                HideBalloon();
            } else if (m.WParam == TrayTimerClick) {
                KillTimer(wnd_, TrayTimerClick);
                if (clickPending_) {
                    clickPending_ = false;
                    DoClick(pendingButton_, pendingShift_, pendingX_, pendingY_);
                }
            }
            return;
        case WM_QUERYENDSESSION:
            if (OnQueryEndSession) OnQueryEndSession(this);
            m.Result = DefWindowProcA(wnd_, m.Msg, m.WParam, m.LParam);
            return;
        case WM_ENDSESSION:
            if (m.WParam) RemoveIcon();
            else if (active_) AddIcon();
            return;
    }
    if (m.Msg == TaskbarCreatedMessage()) {
        RemoveIcon();
        // Whatever the removal answered, the new shell has no icon of ours.
        added_ = false;
        if (active_) AddIcon();
        return;
    }
    m.Result = DefWindowProcA(wnd_, m.Msg, m.WParam, m.LParam);
}
