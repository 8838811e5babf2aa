// VoltAtlas: the program body.
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "app/About.h"
#include "app/MainDlg.h"
#include "app/ProgramGuard.h"
#include "app/SettingsDlg.h"
#include "foundation/UnicodeUtils.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"

namespace {

int RunProgram() {
    auto& app = framework::Application();
    app.Initialize();
    app.SetTitle(kTitle);
    auto mainDlg = std::make_unique<TMainDlg>(nullptr, framework::CommandLineParams(GetCommandLineW()));
    app.SetMainForm(mainDlg.get());
    auto aboutDlg = std::make_unique<TAboutDlg>(nullptr);
    mainDlg->AboutDlg = aboutDlg.get();
    auto settingsDlg = std::make_unique<TSettingsDlg>(nullptr);
    mainDlg->SettingsDlg = settingsDlg.get();
    app.Run();
    settingsDlg.reset();
    aboutDlg.reset();
    mainDlg.reset();
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    InitUnicodeUtils();
    // What escapes the windows' creation or the message loop ends the program with a message
    // and a non-zero exit code, not with terminate.
    const int code = RunGuarded(RunProgram);
    CoUninitialize();
    return code;
}
