#include "app/SettingsDlg.h"

#include "app/BatFct.h"
#include "framework/ControlArgs.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"

using namespace framework;

TSettingsDlg::TSettingsDlg(TComponent* owner) : TForm(owner) {
    SetName("SettingsDlg");
    SetCaption("Settings");
    BorderStyle = TFormBorderStyle::bsSingle;
    BorderIcons = biSystemMenu;
    Position = TPosition::poMainFormCenter;
    SetClientSize(292, 102);

    MakeControl(minsystray_chk, this,
                TCheckBoxArgs{.Name = "minsystray_chk", .Parent = this, .Bounds = {16, 14, 260, 17},
                              .Caption = "Minimize in system tray"});
    MakeControl(startup_chk, this,
                TCheckBoxArgs{.Name = "startup_chk", .Parent = this, .Bounds = {16, 38, 260, 17},
                              .Caption = "Start with Windows"});
    MakeControl(ok_btn, this,
                TButtonArgs{.Name = "ok_btn", .Parent = this, .Bounds = {124, 68, 75, 25}, .Caption = "Ok",
                            .Default = true, .OnClick = [this](TComponent* s) { ok_btnClick(s); }});
    MakeControl(close_btn, this,
                TButtonArgs{.Name = "close_btn", .Parent = this, .Bounds = {208, 68, 75, 25}, .Caption = "Close",
                            .Cancel = true, .ModalResult = mrCancel});
}

TSettingsDlg::~TSettingsDlg() = default;

// The path as it is: a folder the ANSI code page cannot spell, on a volume without short
// names, would otherwise be stored with "?" in it and never start.
std::wstring TSettingsDlg::AutostartCommand() { return GetModuleFileNameWide() + L" /minimized"; }

void TSettingsDlg::LoadSettings() {
    bool autostart = false;
    {
        TRegistry reg;
        // Both string types: a REG_EXPAND_SZ value with our command is our autostart too, and
        // reading it as unchecked would make OK delete it.
        const TRegDataType type =
            reg.OpenKey(kRunKey, true) ? reg.GetDataType(kRunValueName) : TRegDataType::rdUnknown;
        if (type == TRegDataType::rdString || type == TRegDataType::rdExpandString)
            autostart = reg.ReadStringWide(kRunValueName) == AutostartCommand();  // exact, case-sensitive
    }
    startup_chk->SetChecked(autostart);
    minsystray_chk->SetChecked(ReadSetting("MinSysTray") == "1");
}

int TSettingsDlg::Execute() {
    LoadSettings();
    return ShowModal();
}

void TSettingsDlg::ProgramClosed() { programClosed_ = true; }

void TSettingsDlg::ok_btnClick(TComponent*) {
    // A store now would make the settings key or the Run value again after the close.
    if (programClosed_) {
        SetModalResult(mrCancel);
        return;
    }
    WriteBoolSetting("MinSysTray", minsystray_chk->Checked());
    TRegistry reg;
    if (reg.OpenKey(kRunKey, true)) {
        if (startup_chk->Checked()) reg.WriteString(kRunValueName, AutostartCommand());
        else if (reg.ValueExists(kRunValueName)) reg.DeleteValue(kRunValueName);
    }
    SetModalResult(mrOk);
}
