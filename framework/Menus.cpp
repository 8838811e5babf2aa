#include "framework/Menus.h"

#include <algorithm>

namespace framework {

namespace {
UINT g_nextCommand = 100;

std::string KeyName(WORD key) {
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::string(1, static_cast<char>(key));
    if (key >= VK_F1 && key <= VK_F12) return "F" + std::to_string(key - VK_F1 + 1);
    char name[64] = {};
    const UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    if (scan && GetKeyNameTextA(static_cast<LONG>(scan << 16), name, sizeof name) > 0) return name;
    return "";
}
}  // namespace

std::string ShortCutToText(TShortCut sc) {
    const std::string key = KeyName(sc & 0xFF);
    if (key.empty()) return "";
    std::string text;
    if (sc & scShift) text += "Shift+";
    if (sc & scCtrl) text += "Ctrl+";
    if (sc & scAlt) text += "Alt+";
    return text + key;
}

// ---- TMenuItem ------------------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner), command_(g_nextCommand++) {}

TMenuItem::~TMenuItem() {
    MarkDestroying();
    for (TMenuItem* i : items_) i->parent_ = nullptr;
    if (parent_) parent_->Remove(this);
}

void TMenuItem::Changed() {
    TMenu* menu = nullptr;
    for (TMenuItem* i = this; i && !menu; i = i->parent_) menu = i->menu_;
    if (menu) menu->MenuChanged();
}

void TMenuItem::SetCaption(const std::string& v) { caption_ = v; Changed(); }
void TMenuItem::SetShortCut(TShortCut v) { shortCut_ = v; Changed(); }
void TMenuItem::SetDefault(bool v) { default_ = v; Changed(); }
void TMenuItem::SetEnabled(bool v) { enabled_ = v; Changed(); }
void TMenuItem::SetChecked(bool v) { checked_ = v; Changed(); }
void TMenuItem::SetVisible(bool v) { visible_ = v; Changed(); }
void TMenuItem::SetMenu(TMenu* menu) { menu_ = menu; }

void TMenuItem::Add(TMenuItem* item) {
    if (!item) return;
    if (item->parent_) item->parent_->Remove(item);
    item->parent_ = this;
    items_.push_back(item);
    Changed();
}

void TMenuItem::Remove(TMenuItem* item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    items_.erase(it);
    item->parent_ = nullptr;
    Changed();
}

void TMenuItem::Click() {
    if (enabled_ && OnClick) OnClick(this);
}

TMenuItem* TMenuItem::FindCommand(UINT command) {
    if (command_ == command) return this;
    for (TMenuItem* i : items_)
        if (TMenuItem* f = i->FindCommand(command)) return f;
    return nullptr;
}

TMenuItem* TMenuItem::FindShortCut(TShortCut sc) {
    if (sc == 0) return nullptr;
    for (TMenuItem* i : items_) {
        if (!i->visible_ || !i->enabled_) continue;
        if (i->shortCut_ == sc && i->items_.empty()) return i;
        if (TMenuItem* f = i->FindShortCut(sc)) return f;
    }
    return nullptr;
}

void TMenuItem::AppendTo(HMENU menu) {
    for (TMenuItem* i : items_) {
        if (!i->visible_) continue;
        if (i->IsLine()) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::string text = i->caption_;
        const std::string sc = ShortCutToText(i->shortCut_);
        if (!sc.empty()) text += "\t" + sc;
        UINT flags = MF_STRING | (i->enabled_ ? MF_ENABLED : MF_GRAYED) | (i->checked_ ? MF_CHECKED : 0);
        if (!i->items_.empty()) {
            HMENU sub = CreatePopupMenu();
            i->AppendTo(sub);
            AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text.c_str());
        } else {
            AppendMenuA(menu, flags, i->command_, text.c_str());
        }
        if (i->default_) SetMenuDefaultItem(menu, i->command_, FALSE);
    }
}

// ---- TMenu ----------------------------------------------------------------------------

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(nullptr) { items_.SetMenu(this); }

TMenu::~TMenu() { DestroyHandle(); }

void TMenu::DestroyHandle() {
    if (handle_) DestroyMenu(handle_);
    handle_ = nullptr;
}

HMENU TMenu::Handle() {
    if (!handle_) {
        handle_ = CreateMenuHandle();
        items_.AppendTo(handle_);
    }
    return handle_;
}

void TMenu::MenuChanged() { DestroyHandle(); }

bool TMenu::DispatchCommand(UINT command) {
    TMenuItem* item = items_.FindCommand(command);
    if (!item || item == &items_) return false;
    item->Click();
    return true;
}

bool TMenu::IsShortCut(TShortCut sc) {
    TMenuItem* item = items_.FindShortCut(sc);
    if (!item) return false;
    item->Click();
    return true;
}

// ---- TMainMenu ------------------------------------------------------------------------

TMainMenu::~TMainMenu() {
    // The window must not keep a menu that is destroyed with us.
    if (wnd_ && IsWindow(wnd_)) ::SetMenu(wnd_, nullptr);
    wnd_ = nullptr;
}

void TMainMenu::SetWindow(HWND wnd) {
    wnd_ = wnd;
    // A window made with this menu has it already.
    if (wnd_ && ::GetMenu(wnd_) != Handle()) {
        ::SetMenu(wnd_, Handle());
        DrawMenuBar(wnd_);
    }
}

void TMainMenu::MenuChanged() {
    if (!wnd_ || !IsWindow(wnd_)) {
        wnd_ = nullptr;
        TMenu::MenuChanged();
        return;
    }
    // Detach before the old menu is destroyed, then put the new one in place.
    ::SetMenu(wnd_, nullptr);
    TMenu::MenuChanged();
    ::SetMenu(wnd_, Handle());
    DrawMenuBar(wnd_);
}

// ---- TPopupMenu -----------------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner) {}
TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Popup(int x, int y) {
    popupPoint_ = POINT{x, y};
    if (OnPopup) OnPopup(this);
    if (!window_) window_ = std::make_unique<TMessageWindow>(nullptr);
    const UINT align = Alignment == TPopupAlignment::paRight   ? TPM_RIGHTALIGN
                       : Alignment == TPopupAlignment::paCenter ? TPM_CENTERALIGN
                                                                : TPM_LEFTALIGN;
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(Handle(), align | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0, window_->Handle(), nullptr));
    if (command) DispatchCommand(command);
}

}  // namespace framework
