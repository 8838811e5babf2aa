#include "app/SettingsDlg.h"

#include "app/BatFct.h"
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

    minsystray_chk = std::make_unique<TCheckBox>(this);
    minsystray_chk->SetName("minsystray_chk");
    minsystray_chk->SetCaption("Minimize in system tray");
    minsystray_chk->SetBounds(16, 14, 260, 17);
    minsystray_chk->SetParent(this);

    startup_chk = std::make_unique<TCheckBox>(this);
    startup_chk->SetName("startup_chk");
    startup_chk->SetCaption("Start with Windows");
    startup_chk->SetBounds(16, 38, 260, 17);
    startup_chk->SetParent(this);

    ok_btn = std::make_unique<TButton>(this);
    ok_btn->SetName("ok_btn");
    ok_btn->SetCaption("Ok");
    ok_btn->SetDefault(true);
    ok_btn->SetBounds(124, 68, 75, 25);
    ok_btn->SetParent(this);
    ok_btn->OnClick = [this](TComponent* s) { ok_btnClick(s); };

    close_btn = std::make_unique<TButton>(this);
    close_btn->SetName("close_btn");
    close_btn->SetCaption("Close");
    close_btn->SetCancel(true);
    close_btn->SetModalResult(mrCancel);
    close_btn->SetBounds(208, 68, 75, 25);
    close_btn->SetParent(this);
}

TSettingsDlg::~TSettingsDlg() = default;

std::string TSettingsDlg::AutostartCommand() { return GetModuleFileNameText() + " /minimized"; }

void TSettingsDlg::LoadSettings() {
    bool autostart = false;
    {
        TRegistry reg;
        // Both string types: a REG_EXPAND_SZ value with our command is our autostart too, and
        // reading it as unchecked would make OK delete it.
        const TRegDataType type =
            reg.OpenKey(kRunKey, true) ? reg.GetDataType(kRunValueName) : TRegDataType::rdUnknown;
        if (type == TRegDataType::rdString || type == TRegDataType::rdExpandString)
            autostart = reg.ReadString(kRunValueName) == AutostartCommand();  // exact, case-sensitive
    }
    startup_chk->SetChecked(autostart);
    minsystray_chk->SetChecked(ReadSetting("MinSysTray") == "1");
}

int TSettingsDlg::Execute() {
    LoadSettings();
    return ShowModal();
}

void TSettingsDlg::ok_btnClick(TComponent*) {
    WriteBoolSetting("MinSysTray", minsystray_chk->Checked());
    TRegistry reg;
    if (reg.OpenKey(kRunKey, true)) {
        if (startup_chk->Checked()) reg.WriteString(kRunValueName, AutostartCommand());
        else if (reg.ValueExists(kRunValueName)) reg.DeleteValue(kRunValueName);
    }
    SetModalResult(mrOk);
}
