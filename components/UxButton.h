// The two button classes under the image button. TUxExButton turns the framework's control
// messages into overridable operations and events (mouse enter and leave, focus, colour
// and font changes, the hint colour) and can draw a thin highlight frame. TUxCustomButton
// adds a drop-down menu with its arrow, a hot-track font worn while the mouse is over the
// button, word wrap with "|" as line break and an optional same-size rule among the
// buttons of one form.
#pragma once

#include <functional>

#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"

// Dialog-code flags (bit order) and their set.
enum TDlgCode : unsigned {
    dcWantAllKeys = 1 << 0,
    dcWantArrows = 1 << 1,
    dcWantChars = 1 << 2,
    dcButton = 1 << 3,
    dcHasSetSel = 1 << 4,
    dcWantTab = 1 << 5,
    dcNative = 1 << 6,  // the window's own answer stands
};
using TDlgCodes = unsigned;
TDlgCodes DlgcToDlgCodes(LRESULT dlgc);
LRESULT DlgCodesToDlgc(TDlgCodes codes);

// Key data bits of a shift state.
enum : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
uint32_t ShiftStateToKeyData(unsigned shift);

// The message that asks whether a control implements the Ux extension interface.
inline constexpr UINT CM_UXEXTENSION = 0xB7D0;
// The same-size broadcast: WParam the sending button, LParam its width (low) and height (high).
inline constexpr UINT CM_UXSAMESIZE = 0xB208;

class TUxExButton : public framework::TButton {
public:
    explicit TUxExButton(framework::TComponent* owner);

    bool DotNetHighlighting() const { return dotNet_; }
    void SetDotNetHighlighting(bool v) { dotNet_ = v; Invalidate(); }
    framework::TColor HintColor() const { return hintColor_; }
    void SetHintColor(framework::TColor c) { hintColor_ = c; }
    std::string HintWindowClass;
    bool MouseOver() const { return mouseOver_; }

    framework::TNotifyEvent OnMouseEnter, OnMouseLeave, OnParentColorChange;

protected:
    void WndProc(framework::TMessage& m) override;

    virtual void TextChanged() {}
    virtual bool WantKey(int key, unsigned shift) { return false; }
    virtual bool HitTest(int x, int y) { return true; }
    virtual void BoundsChanged() {}
    virtual void DialogCode(TDlgCodes& codes) {}
    virtual void FocusSet(HWND other) {}
    virtual void FocusKilled(HWND other) {}
    // -1: not painted here (the window's own erase runs); else 0 / 1 as the erase result.
    virtual int PaintBackground(framework::TCanvas& canvas, LPARAM param) { return -1; }
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    virtual void ColorChanged() {}
    virtual void FontChangedNotice() {}
    virtual void EnabledChanged() {}
    virtual void VisibleChanged() {}
    virtual void ParentColorChanged() {}
    virtual void ParentFontChanged() {}

    void DrawHighlightFrame();

private:
    bool mouseOver_ = false;
    bool dotNet_ = false;
    framework::TColor hintColor_ = framework::clDefault;
};

enum TUxTrackFontOption : unsigned {
    hoFollowFont = 1 << 0,
    hoPreserveCharSet = 1 << 1,
    hoPreserveColor = 1 << 2,
    hoPreserveHeight = 1 << 3,
    hoPreserveName = 1 << 4,
    hoPreservePitch = 1 << 5,
    hoPreserveStyle = 1 << 6,
};
using TUxTrackFontOptions = unsigned;

class TUxCustomButton : public TUxExButton {
public:
    explicit TUxCustomButton(framework::TComponent* owner);
    ~TUxCustomButton() override;

    bool DropArrow() const { return dropArrow_; }
    void SetDropArrow(bool v);
    framework::TPopupMenu* DropDownMenu() const { return dropDownMenu_; }
    void SetDropDownMenu(framework::TPopupMenu* menu);
    bool HotTrack() const { return hotTrack_; }
    void SetHotTrack(bool v) { hotTrack_ = v; }
    framework::TFont& HotTrackFont() { return hotTrackFont_; }
    void SetHotTrackFont(const framework::TFont& f) { hotTrackFont_.Assign(f); }
    TUxTrackFontOptions HotTrackFontOptions() const { return hotTrackOptions_; }
    void SetHotTrackFontOptions(TUxTrackFontOptions v);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool v);
    bool ForceSameSize() const { return forceSameSize_; }
    void SetForceSameSize(bool v) { forceSameSize_ = v; }

    void Click() override;
    void SetBounds(int left, int top, int width, int height) override;

    std::function<void(framework::TComponent* Sender, POINT MousePos, bool& Handled)> OnDropDownMenu;

protected:
    void CreateParams(framework::TCreateParams& p) override;
    void WndProc(framework::TMessage& m) override;
    void Notification(framework::TComponent* c, framework::TOperation op) override;

    virtual bool ShowDropDown(int x, int y);
    virtual void PaintDropArrow(framework::TCanvas& canvas, const RECT& r);
    // The caption as painted: under word wrap each "|" becomes a line feed.
    virtual std::string PaintCaption() const;
    void DeriveHotTrackFont();

private:
    bool dropArrow_ = false;
    framework::TPopupMenu* dropDownMenu_ = nullptr;
    bool hotTrack_ = false;
    framework::TFont hotTrackFont_;
    framework::TFont savedFont_;
    bool wordWrap_ = true;
    bool forceSameSize_ = false;
    TUxTrackFontOptions hotTrackOptions_ = hoFollowFont | hoPreserveColor | hoPreserveStyle;
    bool swappingFont_ = false;
};
