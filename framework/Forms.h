// Forms and the application object.
//
// TApplication owns a hidden-looking top-level window of its own ("TApplication" class,
// zero size) that carries the program's title and its taskbar button; every form is owned
// by it, so minimising the application window hides the forms with it and restoring brings
// them back. It runs the message loop (menu shortcuts and dialog keys first), shows the
// main form, raises OnActivate when the program becomes the active one, lets components
// hook its window's messages, and handles exceptions that reach a window procedure.
//
// TForm is a top-level window built in code: its constructor creates the components with
// their names and places them; BorderStyle/BorderIcons/Position say how it looks and where
// it appears; ShowModal runs a local loop until ModalResult is set.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Controls.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"

namespace framework {

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
enum class TPosition { poDesigned, poScreenCenter, poMainFormCenter, poOwnerFormCenter };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    TFormBorderStyle BorderStyle = TFormBorderStyle::bsSizeable;
    unsigned BorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition Position = TPosition::poDesigned;
    // Sizes the window so its client area (below the menu bar) has this size.
    void SetClientSize(int width, int height);
    int ClientWidth();
    int ClientHeight();

    TMainMenu* Menu() const { return menu_; }
    void SetMenu(TMainMenu* menu);

    void Show();
    void Hide();
    // OnClose decides (hide by default); closing the main form ends the application.
    void Close();
    // Disables the other forms, shows this one and waits until ModalResult is set.
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int v) { modalResult_ = v; }
    bool Modal() const { return modal_; }

    std::function<void(TForm* Sender, TCloseAction& Action)> OnClose;
    TNotifyEvent OnShow;

    // Enter, Esc and Tab in this form; menu shortcuts.
    bool IsDialogKey(MSG& msg);

protected:
    void CreateParams(TCreateParams& p) override;
    HWND CreationParent() override;
    void CreatedWnd() override;
    void WndProc(TMessage& m) override;
    void Notification(TComponent* c, TOperation op) override;
    TButton* FindButton(bool wantDefault);

private:
    void PlaceOnFirstShow();
    // Where Position puts a window of this size when it first shows; false for poDesigned.
    bool FirstPlace(int width, int height, POINT& at);
    void ApplyClientSize();

    TMainMenu* menu_ = nullptr;
    int modalResult_ = 0;
    bool modal_ = false;
    bool placed_ = false;
    int clientWidth_ = -1, clientHeight_ = -1;
};

class TApplication {
public:
    TApplication();
    ~TApplication();

    // Creates the application window (once); done by the first use otherwise.
    void Initialize();
    HWND Handle();

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    // The program icon (icon 1 or "MAINICON" of the executable, else the system's one).
    HICON Icon();

    TForm* MainForm() const { return mainForm_; }
    void SetMainForm(TForm* form) { mainForm_ = form; }
    bool ShowMainForm = true;

    // Shows the main form (when ShowMainForm) and runs the loop until Terminate.
    void Run();
    void Terminate() { terminated_ = true; PostQuitMessage(0); }
    bool Terminated() const { return terminated_; }
    void ResetTerminated() { terminated_ = false; }
    // Dispatches what is waiting; HandleMessage waits for one message first.
    void ProcessMessages();
    void HandleMessage();
    bool ProcessMessage(MSG& msg);

    // Minimise hides every form with the application window; restore brings them back.
    void Minimize();
    void Restore();
    void BringToFront();
    // Takes topmost forms off the topmost band (before the program goes out of sight).
    void NormalizeTopMosts();
    void RestoreTopMosts();

    TColor HintColor = clInfoBk;
    // Shows a help context; false when the program has no help for it.
    bool HelpContext(int context);
    std::function<bool(int context)> OnHelp;

    // Messages to the application window go through the hooks first (in order); a hook that
    // returns true has handled the message.
    using THook = std::function<bool(TMessage& msg)>;
    int HookMainWindow(THook hook);
    void UnhookMainWindow(int id);

    // The handler for exceptions that reach a window procedure: OnException, or a message box.
    void HandleException(const std::exception& e);
    std::function<void(const std::exception& e)> OnException;

    // Called on activation (TApplicationEvents subscribe here).
    void AddActivateHandler(void* key, std::function<void()> handler);
    void RemoveActivateHandler(void* key);

    std::vector<TForm*>& Forms() { return forms_; }

private:
    static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);
    LRESULT Dispatch(UINT msg, WPARAM w, LPARAM l);

    HWND wnd_ = nullptr;
    std::string title_;
    HICON icon_ = nullptr;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    std::vector<std::pair<int, THook>> hooks_;
    int nextHook_ = 1;
    std::vector<std::pair<void*, std::function<void()>>> activate_;
    std::vector<TForm*> forms_;
    std::vector<HWND> topMosts_;
    std::vector<HWND> hiddenForms_;
};

// The one application object.
TApplication& Application();

// Application events as a form component: OnActivate runs each time the program becomes
// the active one (a handler may clear OnActivate to run once).
class TApplicationEvents : public TComponent {
public:
    explicit TApplicationEvents(TComponent* owner);
    ~TApplicationEvents() override;
    TNotifyEvent OnActivate;
};

}  // namespace framework
