// TWinControl: the base window class of every control and form. One object per window,
// found from its HWND through a window property; a virtual WndProc sees every message.
// Standard controls (BUTTON, STATIC) are subclassed, other classes are registered by the
// framework. A parent's WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_MEASUREITEM and WM_CTLCOLOR*
// about a child are reflected to the child as CN_xxx messages, so a control handles its own
// notifications. The framework's own control messages (CM_xxx) tell a control that its
// font, colour, text, enabled or visible state changed, or that the mouse entered or left.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Graphics.h"

namespace framework {

// A window message as the control's WndProc handles it.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

enum : UINT {
    CM_BASE = 0xB000,
    CM_ACTIVATE = CM_BASE + 0,
    CM_FOCUSCHANGED = CM_BASE + 7,
    CM_PARENTFONTCHANGED = CM_BASE + 8,
    CM_PARENTCOLORCHANGED = CM_BASE + 9,
    CM_HITTEST = CM_BASE + 10,
    CM_VISIBLECHANGED = CM_BASE + 11,
    CM_ENABLEDCHANGED = CM_BASE + 12,
    CM_COLORCHANGED = CM_BASE + 13,
    CM_FONTCHANGED = CM_BASE + 14,
    CM_CURSORCHANGED = CM_BASE + 15,
    CM_TEXTCHANGED = CM_BASE + 18,
    CM_MOUSEENTER = CM_BASE + 19,
    CM_MOUSELEAVE = CM_BASE + 20,
    CM_HINTSHOW = CM_BASE + 48,
    CM_SHOWHINTCHANGED = CM_BASE + 27,
    CM_PARENTSHOWHINTCHANGED = CM_BASE + 28,
    CM_DIALOGCHAR = CM_BASE + 6,
    CM_CONTROLLISTCHANGE = CM_BASE + 44,
    CM_CONTROLCHANGE = CM_BASE + 54,
    CM_SHOWINGCHANGED = CM_BASE + 17,
    CN_BASE = 0xBC00,
    CN_COMMAND = CN_BASE + WM_COMMAND,
    CN_NOTIFY = CN_BASE + WM_NOTIFY,
    CN_DRAWITEM = CN_BASE + WM_DRAWITEM,
    CN_MEASUREITEM = CN_BASE + WM_MEASUREITEM,
    CN_CTLCOLORBTN = CN_BASE + WM_CTLCOLORBTN,
    CN_CTLCOLORSTATIC = CN_BASE + WM_CTLCOLORSTATIC,
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TWinControl;

// What a control's CM_HINTSHOW handler may adjust before its hint appears (LParam points
// to it).
struct THintInfo {
    TWinControl* HintControl = nullptr;
    TColor HintColor = clInfoBk;
    std::string HintStr;
    std::string HintWindowClass;
};

// How a control's window is made.
struct TCreateParams {
    std::string ClassName;   // our own class, or a system class that is subclassed
    bool SystemClass = false;
    DWORD Style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD ExStyle = 0;
    UINT ClassStyle = CS_DBLCLKS;
    // Where the window is made (the control's bounds unless changed); the control takes them.
    int X = 0, Y = 0, Width = 0, Height = 0;
    // The menu bar a top-level window is made with.
    HMENU Menu = nullptr;
    // The icon of our own window class (a top-level window shows it unless given its own).
    HICON ClassIcon = nullptr;
};

class TWinControl : public TComponent {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    // The window, created on first use (the parent's first).
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    void HandleNeeded() { Handle(); }
    void RecreateWnd();
    // The object of one of our windows, or nullptr.
    static TWinControl* FromHandle(HWND wnd);

    TWinControl* Parent() const { return parent_; }
    void SetParent(TWinControl* parent);
    const std::vector<TWinControl*>& Controls() const { return controls_; }

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    virtual void SetBounds(int left, int top, int width, int height);
    void SetWidth(int w) { SetBounds(left_, top_, w, height_); }
    void SetHeight(int h) { SetBounds(left_, top_, width_, h); }
    RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }
    RECT ClientRect();
    // Screen position of a client point.
    POINT ClientToScreen(POINT p);

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& text);
    TFont& Font() { return font_; }
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool v);
    TColor Color() const { return color_; }
    void SetColor(TColor c);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool Showing();
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& h);
    bool ShowHint() const;
    void SetShowHint(bool v);
    void SetParentShowHint(bool v);
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int c) { helpContext_ = c; }
    bool DoubleBuffered() const { return doubleBuffered_; }
    void SetDoubleBuffered(bool v) { doubleBuffered_ = v; }
    bool Focused();
    void SetFocus();
    bool MouseInClient() const { return mouseInside_; }
    int Tag = 0;

    void Invalidate();
    void Repaint();
    void Update();

    // Runs the message through WndProc directly (framework messages need no window).
    LRESULT Perform(UINT msg, WPARAM w = 0, LPARAM l = 0);

    TNotifyEvent OnClick;

protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    // The window that a new window of this control is a child (or owned window) of.
    virtual HWND CreationParent();
    // Right after the window was made, before the children's windows.
    virtual void CreatedWnd() {}
    virtual void DestroyWnd();
    virtual void WndProc(TMessage& msg);
    // What the window class itself does with the message.
    void DefaultHandler(TMessage& msg);
    // Painting of our own window classes (the canvas is bound to the paint DC).
    virtual void Paint(TCanvas& canvas) {}
    virtual void Click();
    virtual void FontChanged();
    TCanvas& PaintCanvas() { return paintCanvas_; }
    void NotifyChildren(UINT msg);

private:
    static LRESULT CALLBACK StdWndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);
    bool Reflect(TMessage& msg);
    void UpdateHintTool();

    HWND handle_ = nullptr;
    WNDPROC oldProc_ = nullptr;
    TWinControl* parent_ = nullptr;
    std::vector<TWinControl*> controls_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::string caption_;
    TFont font_;
    TColor color_ = clBtnFace;
    bool parentFont_ = true, parentColor_ = false;
    bool enabled_ = true, visible_ = true;
    std::string hint_;
    bool showHint_ = false, parentShowHint_ = true;
    int helpContext_ = 0;
    bool doubleBuffered_ = false;
    bool mouseInside_ = false;
    bool inFontChange_ = false;
    int id_;
    TCanvas paintCanvas_;
    TBrush colorBrush_;
};

// A framework-made hidden window whose messages go to a function (timers, menus, the
// application's hint notifications). A handler that does not set Handled gets the default
// window procedure.
// Registers the window class of this module once: later calls find it registered. The
// class gets the arrow cursor unless wc names one. Raises Exception when registration fails.
void EnsureWindowClass(WNDCLASSEXA wc);

class TMessageWindow {
public:
    using Handler = std::function<bool(TMessage& msg)>;
    // messageOnly: a message-only window (it gets posted and sent messages and timers, but
    // no broadcasts and cannot own a menu or come to the foreground), cheaper to make than
    // a hidden top-level window, which the display driver backs with one of its own.
    explicit TMessageWindow(Handler handler, bool messageOnly = false);
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;
    HWND Handle() const { return wnd_; }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM w, LPARAM l);
    Handler handler_;
    HWND wnd_ = nullptr;
};

// Where exceptions caught at a window procedure's edge go (the application's handler).
void HandleWndProcException(const std::exception& e);
// The hint colour the application stands for (clDefault / 0x1FFFFFFF resolve to it).
TColor ApplicationHintColor();

// The text before the first "|" / after it.
std::string GetShortHint(const std::string& hint);
std::string GetLongHint(const std::string& hint);

}  // namespace framework
