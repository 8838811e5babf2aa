// The settings dialog: "Minimize in system tray" (the MinSysTray setting) and "Start with
// Windows" (the program's value under the current user's Run key). OK stores both; Close
// or Esc stores nothing. GUI thread.
#pragma once

#include <memory>
#include <string>

#include "framework/Forms.h"
#include "framework/StdCtrls.h"

inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValueName = "VoltAtlas";

class TSettingsDlg : public framework::TForm {
public:
    explicit TSettingsDlg(framework::TComponent* owner);
    ~TSettingsDlg() override;

    // Loads the check boxes, then shows the dialog modally; returns the modal result.
    int Execute();
    // Loads the check boxes from the settings and the Run key (Execute's first step).
    void LoadSettings();
    void ok_btnClick(framework::TComponent* Sender);
    // The program has closed, and the portable close may have taken the settings away: OK
    // stores nothing from now on (an open dialog's loop ends with the application).
    void ProgramClosed();

    // What the Run value holds for this executable: its path and " /minimized".
    static std::wstring AutostartCommand();

    std::unique_ptr<framework::TCheckBox> minsystray_chk;
    std::unique_ptr<framework::TCheckBox> startup_chk;
    std::unique_ptr<framework::TButton> ok_btn;
    std::unique_ptr<framework::TButton> close_btn;

private:
    bool programClosed_ = false;
};
