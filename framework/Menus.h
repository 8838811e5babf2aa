// Menus: TMenuItem (caption, shortcut, default, enabled, checked, sub-items, OnClick),
// TMainMenu (a form's menu bar) and TPopupMenu (TrackPopupMenu at a screen point). The
// Win32 menus are rebuilt from the items whenever an item changes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"

namespace framework {

// A shortcut: virtual key in the low byte, plus these modifier bits.
using TShortCut = WORD;
enum : WORD { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000 };
inline constexpr TShortCut ShortCut(WORD key, WORD shift) { return static_cast<TShortCut>(key | shift); }
// "Ctrl+Q" and the like.
std::string ShortCutToText(TShortCut shortCut);

class TMenu;

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner);
    ~TMenuItem() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& v);
    TShortCut ShortCut() const { return shortCut_; }
    void SetShortCut(TShortCut v);
    bool Default() const { return default_; }
    void SetDefault(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    bool Checked() const { return checked_; }
    void SetChecked(bool v);
    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool IsLine() const { return caption_ == "-"; }

    // Sub-items (not owned: their holder frees them).
    void Add(TMenuItem* item);
    void Remove(TMenuItem* item);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(index); }
    TMenuItem* Parent() const { return parent_; }
    UINT Command() const { return command_; }

    // Runs OnClick (when enabled).
    virtual void Click();
    TNotifyEvent OnClick;

    // The item with this command id among these items and their sub-items.
    TMenuItem* FindCommand(UINT command);
    // The enabled item (at any depth) whose shortcut this is.
    TMenuItem* FindShortCut(TShortCut shortCut);
    void SetMenu(TMenu* menu);

private:
    friend class TMenu;
    void Changed();
    void AppendTo(HMENU menu);

    std::string caption_;
    TShortCut shortCut_ = 0;
    bool default_ = false, enabled_ = true, checked_ = false, visible_ = true;
    std::vector<TMenuItem*> items_;
    TMenuItem* parent_ = nullptr;
    TMenu* menu_ = nullptr;
    UINT command_;
};

class TMenu : public TComponent {
public:
    explicit TMenu(TComponent* owner);
    ~TMenu() override;
    // The top-level items.
    TMenuItem& Items() { return items_; }
    HMENU Handle();
    // True when an item ran for the command.
    bool DispatchCommand(UINT command);
    bool IsShortCut(TShortCut shortCut);

protected:
    friend class TMenuItem;
    virtual HMENU CreateMenuHandle() = 0;
    virtual void MenuChanged();
    void DestroyHandle();

private:
    TMenuItem items_;
    HMENU handle_ = nullptr;
};

// A form's menu bar (TForm::SetMenu attaches it).
class TMainMenu : public TMenu {
public:
    explicit TMainMenu(TComponent* owner) : TMenu(owner) {}
    ~TMainMenu() override;
    void SetWindow(HWND wnd);

protected:
    HMENU CreateMenuHandle() override { return CreateMenu(); }
    void MenuChanged() override;

private:
    HWND wnd_ = nullptr;
};

enum class TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
public:
    explicit TPopupMenu(TComponent* owner);
    ~TPopupMenu() override;
    // Shows the menu at the screen point and waits until it closes; the chosen item runs.
    virtual void Popup(int x, int y);
    TComponent* PopupComponent = nullptr;
    TPopupAlignment Alignment = TPopupAlignment::paLeft;
    POINT PopupPoint() const { return popupPoint_; }
    TNotifyEvent OnPopup;

protected:
    HMENU CreateMenuHandle() override { return CreatePopupMenu(); }

private:
    std::unique_ptr<TMessageWindow> window_;
    POINT popupPoint_{0, 0};
};

}  // namespace framework
