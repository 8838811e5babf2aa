// TUxTrayIcon: one icon in the Windows notification area (Shell_NotifyIconA). The shell's
// callbacks arrive on a hidden utility window of its own and become mouse, click,
// double-click, context-menu and balloon events. It can animate the icon from an image
// list, show balloon tips, and move the application between the taskbar and the
// notification area (minimise to tray, restore from tray) by hooking the application
// window. GUI thread only; the retry loop around a busy shell blocks it (up to 31 s).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/ImageList.h"
#include "framework/Menus.h"

// The shell as the tray icon reaches it. Filled with the real functions; Wine's shell
// cannot be made to fail, be slow or be old, so tests put their own in its place.
struct TTrayShell {
    BOOL(WINAPI* Shell_NotifyIconA)(DWORD Message, PNOTIFYICONDATAA Data);
    uint32_t (*Shell32Version)();
    void(WINAPI* Sleep)(DWORD Milliseconds);
};
TTrayShell& TrayShell();
TTrayShell RealTrayShell();

enum TTrayVisibility : unsigned {
    tvVisibleTaskBar, tvVisibleTaskList, tvAutoHide, tvAutoHideIcon, tvVisibleDesign, tvRestoreClick,
    tvRestoreDbClick, tvMinimizeClick, tvMinimizeDbClick, tvAnimateToTray, tvNoRetryOnFailure
};
using TTrayVisibilities = unsigned;  // bit (1 << TTrayVisibility)
constexpr TTrayVisibilities TrayVis(TTrayVisibility v) { return 1u << v; }
inline constexpr TTrayVisibilities DefaultTrayVisibility =
    TrayVis(tvVisibleTaskBar) | TrayVis(tvVisibleTaskList) | TrayVis(tvAutoHide);

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift-state bits of the mouse events.
enum : unsigned { tssShift = 1, tssAlt = 2, tssCtrl = 4, tssLeft = 8, tssRight = 16, tssMiddle = 32 };
enum class TBalloonType { btNone, btError, btInfo, btWarning };

// The callback message, icon id and timer ids on the hidden window.
inline constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;
inline constexpr UINT TrayIconId = 1;
inline constexpr UINT_PTR TrayTimerAnimate = 1, TrayTimerBalloon = 2, TrayTimerClick = 3;
// The id of the "TaskbarCreated" broadcast.
UINT TaskbarCreatedMessage();

class TUxComponent : public framework::TComponent {
public:
    using framework::TComponent::TComponent;
};

class TUxTrayIcon : public TUxComponent {
public:
    explicit TUxTrayIcon(framework::TComponent* owner);
    ~TUxTrayIcon() override;

    bool Active() const { return active_; }
    void SetActive(bool v);
    bool Animated() const { return animated_; }
    void SetAnimated(bool v);
    framework::TIcon& Icon() { return *icon_; }
    void SetIcon(const framework::TIcon& icon) { icon_->Assign(icon); }
    int IconIndex() const { return iconIndex_; }
    void SetIconIndex(int v);
    framework::TCustomImageList* Icons() const { return icons_; }
    void SetIcons(framework::TCustomImageList* list);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& v);
    framework::TPopupMenu* DropDownMenu() const { return dropDownMenu_; }
    void SetDropDownMenu(framework::TPopupMenu* m);
    framework::TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(framework::TPopupMenu* m);
    unsigned Delay() const { return delay_; }
    void SetDelay(unsigned ms);
    bool Snap = false;
    bool SwingForthAndBack = false;
    TTrayVisibilities Visibility() const { return visibility_; }
    void SetVisibility(TTrayVisibilities v);

    virtual void MinimizeToTray();
    virtual void RestoreFromTray();
    // Timeout in ms; BalloonType none, error, info, warning.
    void ShowBalloon(const std::string& Title, const std::string& Text, TBalloonType BalloonType, unsigned Timeout,
                     bool CancelPrevious);
    void HideBalloon();
    bool CallShellNotify(UINT Flags, DWORD Message);

    // What the component keeps between shell calls (read by tests and the curious).
    const NOTIFYICONDATAA& NotifyData() const { return data_; }
    HWND WindowHandle() const { return wnd_; }
    bool IconAdded() const { return added_; }
    int BalloonCount() const { return balloonCount_; }
    bool ClickPending() const { return clickPending_; }
    bool TaskListState() const { return taskListed_; }
    bool ApplicationVisible() const;

    std::function<void(framework::TComponent* Sender, int ImageIndex)> OnAnimate;
    using TMouseEvent = std::function<void(framework::TComponent* Sender, TMouseButton Button, unsigned Shift, int X, int Y)>;
    TMouseEvent OnClick, OnDblClick, OnMouseDown, OnMouseUp;
    std::function<void(framework::TComponent* Sender, unsigned Shift, int X, int Y)> OnMouseMove;
    framework::TNotifyEvent OnBalloonShow, OnBalloonHide, OnBalloonClick, OnQueryEndSession;
    std::function<void(framework::TComponent* Sender, POINT MousePos, bool& Handled)> OnContextPopup;

protected:
    void Loaded() override;
    void Notification(framework::TComponent* c, framework::TOperation op) override;
    void HandleTrayMessage(framework::TMessage& msg);

private:
    bool LargeRecord() const;
    void FillRecord();
    void CopyTip();
    void AddIcon();
    void RemoveIcon();
    void UpdateShownIcon();
    void StartAnimation();
    void StopAnimation();
    void AnimateTick();
    void HookApplication();
    void UnhookApplication();
    void SetTaskListState(bool listed);
    void MouseDown(TMouseButton b, int x, int y);
    void MouseUp(TMouseButton b, int x, int y);
    void DoClick(TMouseButton b, unsigned shift, int x, int y);
    void DoDblClick(TMouseButton b, unsigned shift, int x, int y);
    void ContextPopup(int x, int y);
    bool NotifyOnce(DWORD message);

    std::unique_ptr<framework::TIcon> icon_, shownIcon_;
    NOTIFYICONDATAA data_{};
    HWND wnd_ = nullptr;
    bool active_ = false, streamedActive_ = false, animated_ = false;
    bool added_ = false, animating_ = false, hintChanged_ = false, clickPending_ = false;
    bool hiddenAtStart_ = false, buttonDown_ = false;
    int hookId_ = 0;
    int iconIndex_ = 0;
    framework::TCustomImageList* icons_ = nullptr;
    std::string hint_;
    framework::TPopupMenu* dropDownMenu_ = nullptr;
    framework::TPopupMenu* popupMenu_ = nullptr;
    unsigned delay_ = 100;
    TTrayVisibilities visibility_ = DefaultTrayVisibility;
    TMouseButton pendingButton_ = TMouseButton::mbLeft;
    unsigned pendingShift_ = 0;
    int pendingX_ = 0, pendingY_ = 0;
    int balloonCount_ = 0;
    ULONGLONG balloonShownAt_ = 0;
    unsigned balloonTimeoutSecs_ = 0;
    int swingDirection_ = 1;
    bool taskListed_ = true;
};
