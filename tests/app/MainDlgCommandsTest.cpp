// The main window's commands through its real menus, buttons and tray menu, with the shell
// recorded instead of run, and its network tasks (link file, update check, OpenSSL line)
// against the local maker peer.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "FakeBatteryDriver.h"
#include "LogMessages.h"
#include "MakerPeer.h"
#include "MessageBoxCloser.h"
#include "app/BatFct.h"
#include "app/MainDlg.h"
#include "app/SettingsDlg.h"
#include "foundation/JoryUtils.h"
#include "foundation/Log.h"
#include "framework/IniFile.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "net/InetLibeay.h"
#include "support/FileBytes.h"
#include "support/Pump.h"
#include "support/TempDir.h"
#include "update/UpdatePeerUtil.h"
#include "update/MakerServer.h"
#include "update/PlimLite.h"

namespace {

using namespace framework;
using testsupport::CountOf;
using testsupport::MessageOf;
using testsupport::Messages;
using testsupport::MakerPeerBase;
using testsupport::MessageBoxCloser;
using testsupport::PumpFor;
using testsupport::PumpUntil;
using testsupport::ShellRecorder;

constexpr const char* kQuestion = "A new version of VoltAtlas is available. Do you want to download update now ?";
constexpr const char* kCurrentText = "VoltAtlas is already up to date.";

// How many requests the peer received whose target contains Part.
int PeerRequestsWith(const std::string& part) {
    const auto requests = testsupport::MakerPeerRequests();
    return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                          [&](const std::string& r) { return r.find(part) != std::string::npos; }));
}

// The version text of the OpenSSL DLL beside the tests, read from the DLL itself.
std::string OpenSslVersionOfTheDll() {
    const std::string dll = IncludeTrailingPathDelimiter(ExtractFileDir(GetModuleFileNameText())) + "libcrypto-3-x64.dll";
    HMODULE module = LoadLibraryA(dll.c_str());
    if (!module) return "(no " + dll + ")";
    using VersionFn = const char* (*)(int);
    auto version = reinterpret_cast<VersionFn>(reinterpret_cast<void*>(GetProcAddress(module, "OpenSSL_version")));
    std::string text = version ? version(0) : "(no OpenSSL_version)";
    FreeLibrary(module);
    return text;
}

class MainDlgCommands : public ::testing::Test {
protected:
    void SetUp() override {
        Clean();
        SetMakerServerBase(MakerPeerBase("current"));
    }
    void TearDown() override {
        if (dlg) {
            dlg->tray->SetActive(false);
            if (Application().MainForm() == dlg.get()) Application().SetMainForm(nullptr);
        }
        dlg.reset();
        settings.reset();
        Application().ResetTerminated();
        PumpFor(20);  // drops a quit message a close left behind
        Clean();
        SetMakerServerBase(MakerPeerBase("current"));
    }
    static void Clean() {
        RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, kRunValueName);
        DeleteFileA((IncludeTrailingPathDelimiter(ExtractFileDir(GetModuleFileNameText())) + "settings.ini").c_str());
        DeleteDataFolder(GetModuleFileNameText(), kTitle);
        RemoveCompanyDataFolderIfEmpty();
    }

    // The window as the program makes it, first activation done on the scenario's server;
    // waits until the automatic check has reported.
    TMainDlg& Activated(const std::string& scenario) { return ActivatedAt(MakerPeerBase(scenario)); }
    TMainDlg& ActivatedAt(const std::string& base) {
        SetMakerServerBase(base);
        dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
        dlg->Tmr->SetEnabled(false);
        dlg->AppEvtActivate(dlg.get());
        EXPECT_TRUE(PumpUntil([&] { return CheckDone(); }, 15000)) << "the automatic check reports";
        return *dlg;
    }
    bool CheckDone() const { return dlg->Lite && !dlg->Lite->Busy() && dlg->CheckforUpdate1->Enabled(); }

    // Chooses a menu item as the menu bar does.
    void Choose(TMenuItem& item) { SendMessageA(dlg->Handle(), WM_COMMAND, MAKEWPARAM(item.Command(), 0), 0); }
    void Click(TWinControl& button) { SendMessageA(button.Handle(), BM_CLICK, 0, 0); }

    // Right-clicks the tray icon and picks the tray menu's item at Index with the keyboard.
    void ChooseFromTray(int index) {
        static int downs;
        downs = index + 1;
        dlg->TrayMenu->OnPopup = [](TComponent*) {
            SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
                KillTimer(nullptr, id);
                HWND menu = nullptr;
                EnumThreadWindows(
                    GetCurrentThreadId(),
                    [](HWND wnd, LPARAM found) {
                        char cls[16] = {};
                        GetClassNameA(wnd, cls, sizeof cls);
                        if (lstrcmpA(cls, "#32768") != 0 || !IsWindowVisible(wnd)) return TRUE;
                        *reinterpret_cast<HWND*>(found) = wnd;
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&menu));
                // The menu's own loop reads the keys: down to the item, then Enter.
                for (int i = 0; i < downs; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
                PostMessageA(menu, WM_CHAR, '\r', 0);
            });
        };
        // What the shell sends for a right click (the icon's version picks the one it uses).
        for (UINT notice : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU})
            SendMessageA(dlg->tray->WindowHandle(), WM_TRAYNOTIFY, TrayIconId, notice);
    }

    testsupport::FakeBatteryDriver driver;
    ShellRecorder shell;
    std::unique_ptr<TSettingsDlg> settings;
    std::unique_ptr<TMainDlg> dlg;
};

// The saved log at LogFile holds Count Error lines that mention Text (the data folder and the
// log must have stayed for it to be read).
void ExpectErrorLines(const std::string& LogFile, const std::string& Text, int Count) {
    framework::TStringList log;
    ASSERT_TRUE(log.LoadFromFile(LogFile)) << "the data folder and the log stay";
    int errors = 0;
    for (int i = 0; i < log.Count(); ++i)
        errors += log[i].rfind("Error", 0) == 0 && log[i].find(Text) != std::string::npos;
    EXPECT_EQ(errors, Count) << log.Text();
}

TEST_F(MainDlgCommands, PagesAndTheLogOpenThroughTheirHelper) {
    TMainDlg& d = Activated("current");
    const std::string base = MakerPeerBase("current");
    struct Row {
        const char* what;
        std::function<void()> trigger;
        const char* function;
        std::string file;
    };
    const Row rows[] = {
        {"Bug report menu item", [&] { Choose(*d.BugreportFeaturerequestKnownissues1); }, "ShellOpen",
         base + "/bugs/view_all_bug_page.php?project_id=18"},
        {"Change Log menu item", [&] { Choose(*d.ChangeLog1); }, "ShellOpen",
         base + "/bugs/changelog_page.php?project_id=18"},
        {"Drivers Update button", [&] { Click(*d.drivers_btn); }, "ShellRun", base + "/plim/drivers.php"},
        {"Find New Battery button", [&] { Click(*d.UxImgBtn1); }, "ShellOpen", base + "/voltatlas/index.php"},
        {"Open Log File menu item", [&] { Choose(*d.OpenLogFile1); }, "ShellRun", d.Log->FileName},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        shell.calls.clear();
        row.trigger();
        ASSERT_EQ(shell.calls.size(), 1u);
        const auto& call = shell.calls[0];
        EXPECT_EQ(call.function, row.function);
        EXPECT_EQ(call.file, row.file);
        EXPECT_EQ(call.verb, "");
        EXPECT_EQ(call.parameters, "");
        EXPECT_EQ(call.show, SW_SHOWNORMAL);
        if (call.function == std::string("ShellOpen")) {
            EXPECT_EQ(call.wnd, d.Handle());
        }
    }
    // The log was saved before it was handed over.
    TStringList file;
    ASSERT_TRUE(file.LoadFromFile(d.Log->FileName));
    ASSERT_GT(file.Count(), 0);
    EXPECT_EQ(MessageOf(file[file.Count() - 1]), "Starting");
}

TEST_F(MainDlgCommands, ShortcutsRunTheirCommands) {
    MessageBoxCloser boxes;
    TMainDlg& d = Activated("slow");
    Application().SetMainForm(&d);
    d.Show();
    EXPECT_TRUE(d.MainMenu1->IsShortCut(ShortCut('L', scCtrl)));
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].function, "ShellRun");
    EXPECT_EQ(shell.calls[0].file, d.Log->FileName);

    EXPECT_TRUE(d.MainMenu1->IsShortCut(ShortCut('G', scCtrl)));
    EXPECT_TRUE(d.Lite->Busy());
    EXPECT_FALSE(d.MainMenu1->IsShortCut(ShortCut('G', scCtrl))) << "not while the check runs";
    ASSERT_TRUE(PumpUntil([&] { return CheckDone(); }, 15000));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{kCurrentText});

    EXPECT_TRUE(d.MainMenu1->IsShortCut(ShortCut('Q', scCtrl)));
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(MainDlgCommands, QuitFromTheMenuAndCloseFromTheTrayCloseTheWindow) {
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way == 0 ? "File > Quit" : "tray > Close");
        TMainDlg& d = Activated("current");
        Application().SetMainForm(&d);
        d.Show();
        const std::string dataFolder = GetDataFolder(GetModuleFileNameText(), kTitle);
        ASSERT_TRUE(DirectoryExists(dataFolder));
        if (way == 0)
            Choose(*d.Quit1);
        else
            ChooseFromTray(1);
        EXPECT_TRUE(Application().Terminated());
        EXPECT_FALSE(IsWindowVisible(d.Handle()));
        EXPECT_FALSE(DirectoryExists(dataFolder)) << "the portable clean-up of closing ran";
        TearDown();
    }
}

// The end of the Windows session as the system brings it: every top-level window of the
// thread is asked, then told the answer. Returns whether all of them agreed.
bool EndSession(BOOL ending) {
    std::vector<HWND> windows;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND wnd, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    bool agreed = true;
    for (HWND wnd : windows) agreed &= SendMessageA(wnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) != 0;
    for (HWND wnd : windows) SendMessageA(wnd, WM_ENDSESSION, ending, ENDSESSION_LOGOFF);
    return agreed;
}

std::string IniFileName() { return IncludeTrailingPathDelimiter(ExtractFileDir(GetModuleFileNameText())) + "settings.ini"; }

bool SettingsKeyExists() {
    HKEY key = nullptr;
    const bool exists =
        RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark\\VoltAtlas", 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    return exists;
}

bool CompanyValueExists() {
    return RegGetValueA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark", kTitle, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool RunValueExists() {
    return RegGetValueA(HKEY_CURRENT_USER, kRunKey, kRunValueName, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

// Every way the program is closed runs the portable close: settings.ini gets the settings,
// and nothing of the program stays on the computer. At the end of the session the system
// ends the process once the windows have answered, so all of it is done by then: nothing
// is pumped or destroyed before the checks. With the settings dialog open the close runs
// inside the dialog's modal loop and the checks come once the loop and the command have
// returned; an OK pressed after the close stores nothing (no key, no Run value), and the
// command applies no setting (the tray icon stays as it was).
TEST_F(MainDlgCommands, EveryWayOfClosingRunsThePortableClose) {
    enum class Dialog { none, open, okAfterTheClose };
    const auto wmClose = [](TMainDlg& d) { SendMessageA(d.Handle(), WM_CLOSE, 0, 0); };
    const auto sessionEnd = [](TMainDlg&) { EXPECT_TRUE(EndSession(TRUE)); };
    const struct {
        const char* way;
        std::function<void(TMainDlg&)> close;
        Dialog dialog;
    } ways[] = {
        {"WM_CLOSE to the window", wmClose, Dialog::none},
        {"WM_CLOSE to the application window (taskkill)",
         [](TMainDlg&) { SendMessageA(Application().Handle(), WM_CLOSE, 0, 0); }, Dialog::none},
        {"end of the session", sessionEnd, Dialog::none},
        {"WM_CLOSE to the window, settings dialog open", wmClose, Dialog::open},
        {"WM_CLOSE to the window, then OK in the settings dialog", wmClose, Dialog::okAfterTheClose},
        {"end of the session, settings dialog open", sessionEnd, Dialog::open},
        {"end of the session, then OK in the settings dialog", sessionEnd, Dialog::okAfterTheClose},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        ASSERT_TRUE(WriteFileBytes(IniFileName(), "[Settings]\r\nMinSysTray=0\r\n"));
        TMainDlg& d = Activated("current");
        Application().SetMainForm(&d);
        d.Show();
        WriteSetting("MinSysTray", "1");
        d.ApplyTraySetting();
        ASSERT_TRUE(d.tray->Active());
        const std::string dataFolder = GetDataFolder(GetModuleFileNameText(), kTitle);
        ASSERT_TRUE(CompanyValueExists());

        if (w.dialog == Dialog::none) {
            w.close(d);
        } else {
            settings = std::make_unique<TSettingsDlg>(nullptr);
            d.SettingsDlg = settings.get();
            // Runs from a timer inside the dialog's modal loop.
            static std::function<void()> inTheLoop;
            bool closedInTheLoop = false;
            inTheLoop = [&] {
                TSettingsDlg& s = *settings;
                if (!s.Modal()) return;
                if (w.dialog == Dialog::okAfterTheClose) SendMessageA(s.startup_chk->Handle(), BM_CLICK, 0, 0);
                w.close(d);
                closedInTheLoop = true;
                if (w.dialog == Dialog::okAfterTheClose) SendMessageA(s.ok_btn->Handle(), BM_CLICK, 0, 0);
            };
            SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
                KillTimer(nullptr, id);
                inTheLoop();
            });
            Choose(*d.Settings1);
            inTheLoop = nullptr;
            EXPECT_TRUE(closedInTheLoop);
            EXPECT_FALSE(settings->Modal()) << "the dialog ended with the close";
            EXPECT_EQ(settings->ModalResult(), mrCancel) << "nothing stored";
        }
        EXPECT_TRUE(Application().Terminated());
        EXPECT_EQ(TIniFile(IniFileName()).ReadString("Settings", "MinSysTray", "?"), "1") << "written back";
        EXPECT_FALSE(SettingsKeyExists());
        EXPECT_FALSE(CompanyValueExists());
        EXPECT_FALSE(DirectoryExists(dataFolder));
        EXPECT_FALSE(RunValueExists()) << "no autostart stored after the close";
        EXPECT_TRUE(d.tray->Active()) << "no setting applied after the close";
        TearDown();
    }
}

// Once the close has run nothing brings back what it removed: neither a first activation
// that only comes after it, nor the Settings command, whose dialog does not open.
TEST_F(MainDlgCommands, NothingAfterTheCloseBringsTheSettingsBack) {
    static bool dialogShown;
    const struct {
        const char* what;
        bool activatedBefore;
        std::function<void(TMainDlg&)> after;
    } rows[] = {
        {"first activation after the close", false,
         [](TMainDlg&) { SendMessageA(Application().Handle(), WM_ACTIVATEAPP, TRUE, 0); }},
        {"Settings command after the close", true,
         [this](TMainDlg& d) {
             settings = std::make_unique<TSettingsDlg>(nullptr);
             settings->OnShow = [](TComponent*) { dialogShown = true; };
             d.SettingsDlg = settings.get();
             Choose(*d.Settings1);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        dialogShown = false;
        const std::string dataFolder = GetDataFolder(GetModuleFileNameText(), kTitle);
        if (row.activatedBefore) {
            Activated("current");
            ASSERT_TRUE(CompanyValueExists());
        } else {
            dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
            dlg->Tmr->SetEnabled(false);
        }
        TMainDlg& d = *dlg;
        Application().SetMainForm(&d);
        SendMessageA(d.Handle(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(Application().Terminated());
        ASSERT_FALSE(DirectoryExists(dataFolder));

        row.after(d);
        PumpFor(100);
        EXPECT_FALSE(dialogShown);
        EXPECT_FALSE(SettingsKeyExists());
        EXPECT_FALSE(CompanyValueExists());
        EXPECT_FALSE(DirectoryExists(dataFolder));
        EXPECT_FALSE(RunValueExists());
        TearDown();
    }
}

// A session whose end is cancelled goes on as before.
TEST_F(MainDlgCommands, ACancelledEndOfSessionChangesNothing) {
    TMainDlg& d = Activated("current");
    Application().SetMainForm(&d);
    d.Show();
    EXPECT_TRUE(EndSession(FALSE));
    EXPECT_FALSE(Application().Terminated());
    EXPECT_TRUE(IsWindowVisible(d.Handle()));
    EXPECT_TRUE(CompanyValueExists());
    EXPECT_TRUE(DirectoryExists(GetDataFolder(GetModuleFileNameText(), kTitle)));
    EXPECT_FALSE(FileExists(IniFileName()));
}

// A value the export must leave out keeps everything in place, by Quit as at the end of the
// session: the key with every value, the company value, and the data folder with the log,
// which holds the Error line. A long value reaches settings.ini whole all the same.
TEST_F(MainDlgCommands, WhatTheExportLeavesOutKeepsTheKeyTheFolderAndTheLog) {
    const std::string longValue = std::string(39999, 'v') + "w";
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way == 0 ? "File > Quit" : "end of the session");
        TMainDlg& d = Activated("current");
        Application().SetMainForm(&d);
        d.Show();
        WriteSetting("Long", longValue);
        WriteSetting("Odd=Name", "x");
        const std::string logFile = d.Log->FileName;

        if (way == 0)
            Choose(*d.Quit1);
        else
            EXPECT_TRUE(EndSession(TRUE));
        EXPECT_TRUE(Application().Terminated());
        EXPECT_TRUE(SettingsKeyExists());
        EXPECT_TRUE(ReadSetting("Long") == longValue);
        EXPECT_EQ(ReadSetting("Odd=Name"), "x");
        EXPECT_TRUE(CompanyValueExists());
        EXPECT_TRUE(TMemIniFile(IniFileName()).ReadString("Settings", "Long", "") == longValue);
        if (way == 0) {
            Application().SetMainForm(nullptr);
            dlg.reset();  // the log is saved as the window goes
        }
        ExpectErrorLines(logFile, "\"Odd=Name\"", 1);
        TearDown();
    }
}

// A settings.ini saved as UTF-16 LE (a Notepad "Unicode" file) is imported and written back
// as UTF-16 by the close, which then removes the key; one that cannot be read is neither:
// the close leaves it byte for byte and keeps the key, the company value and the data folder
// with the log, which says so in Error lines (at the start and at the close).
TEST_F(MainDlgCommands, ASettingsIniInUnicodeIsUsedAndOneThatCannotBeReadIsKept) {
    const std::string utf16 = testsupport::Utf16LeBytes(L"[Settings]\r\nMinSysTray=1\r\n");
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "UTF-16 LE" : "UTF-16 LE cut in a character");
        const std::string bytes = readable ? utf16 : utf16 + "x";
        ASSERT_TRUE(WriteFileBytes(IniFileName(), bytes));
        TMainDlg& d = Activated("current");
        Application().SetMainForm(&d);
        d.Show();
        EXPECT_EQ(d.tray->Active(), readable);
        EXPECT_EQ(ReadSetting("MinSysTray") == "1", readable);
        const std::string logFile = d.Log->FileName;
        Choose(*d.Quit1);
        EXPECT_TRUE(Application().Terminated());
        std::string text;
        ASSERT_TRUE(ReadFileBytes(IniFileName(), text));
        if (readable) {
            const TMemIniFile ini(IniFileName());
            EXPECT_EQ(ini.Encoding(), TIniEncoding::Utf16LE);
            EXPECT_EQ(ini.ReadString("Settings", "MinSysTray", "?"), "1");
            EXPECT_EQ(text.find("[Settings]"), std::string::npos) << "no ANSI text in the file";
            EXPECT_FALSE(SettingsKeyExists());
            EXPECT_FALSE(CompanyValueExists());
            TearDown();
            continue;
        }
        EXPECT_TRUE(text == bytes);
        EXPECT_TRUE(SettingsKeyExists());
        EXPECT_TRUE(CompanyValueExists());
        Application().SetMainForm(nullptr);
        dlg.reset();  // the log is saved as the window goes
        ExpectErrorLines(logFile, "cannot read", 2);
        TearDown();
    }
}

// An entry of settings.ini that the registry refuses is left out alone at the start; the
// log says so once it exists.
TEST_F(MainDlgCommands, ARefusedEntryOfSettingsIniIsLoggedAndTheRestImported) {
    ASSERT_TRUE(WriteFileBytes(IniFileName(), "[Settings]\r\n" + std::string(20000, 'n') + "=1\r\nMinSysTray=1\r\n"));
    TMainDlg& d = Activated("current");
    EXPECT_EQ(ReadSetting("MinSysTray"), "1");
    EXPECT_TRUE(d.tray->Active());
    int errors = 0;
    for (int i = 0; i < d.Log->Lines->Count(); ++i) {
        const std::string& line = (*d.Log->Lines)[i];
        errors += line.rfind("Error", 0) == 0 && line.find("nnnnnnnn") != std::string::npos;
    }
    EXPECT_EQ(errors, 1);
}

TEST_F(MainDlgCommands, ShowFromTheTrayMenuOrADoubleClickRestoresTheWindow) {
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way == 0 ? "tray > Show" : "double click");
        TMainDlg& d = Activated("current");
        Application().SetMainForm(&d);
        d.Show();
        d.tray->SetActive(true);
        d.tray->MinimizeToTray();
        PumpFor(50);
        ASSERT_FALSE(IsWindowVisible(d.Handle()));
        if (way == 0)
            ChooseFromTray(0);
        else
            SendMessageA(d.tray->WindowHandle(), WM_TRAYNOTIFY, TrayIconId, WM_LBUTTONDBLCLK);
        EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(d.Handle()) != FALSE; }, 2000));
        EXPECT_FALSE(Application().Terminated());
        TearDown();
    }
}

TEST_F(MainDlgCommands, SettingsAppliesTheTraySettingHoweverTheDialogCloses) {
    TMainDlg& d = Activated("current");
    settings = std::make_unique<TSettingsDlg>(nullptr);
    d.SettingsDlg = settings.get();
    ASSERT_FALSE(d.tray->Active());

    // Ticks "Minimize in system tray" when asked, then presses OK or Close.
    static bool tick, ok;
    auto answerLater = [](bool tickTray, bool okButton) {
        tick = tickTray, ok = okButton;
        SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
            KillTimer(nullptr, id);
            auto* s = dynamic_cast<TSettingsDlg*>(TWinControl::FromHandle(GetActiveWindow()));
            if (!s) return;
            if (tick) SendMessageA(s->minsystray_chk->Handle(), BM_CLICK, 0, 0);
            SendMessageA((ok ? s->ok_btn : s->close_btn)->Handle(), BM_CLICK, 0, 0);
        });
    };
    answerLater(true, true);
    Choose(*d.Settings1);
    EXPECT_EQ(ReadSetting("MinSysTray"), "1");
    EXPECT_TRUE(d.tray->Active()) << "applied after OK";

    // Changed behind the window's back, then the dialog is closed without storing.
    WriteSetting("MinSysTray", "0");
    answerLater(false, false);
    Choose(*d.Settings1);
    EXPECT_FALSE(d.tray->Active()) << "applied after Close as well";
}

// A settings.ini that carries the tray setting as a number: it reads as its default (off),
// the activation and the Settings command run, and OK stores it back as text.
TEST_F(MainDlgCommands, ATraySettingOfTheWrongTypeReadsAsOffAndTheDialogStoresText) {
    const std::string ini = IncludeTrailingPathDelimiter(ExtractFileDir(GetModuleFileNameText())) + "settings.ini";
    ASSERT_TRUE(WriteFileBytes(ini, "[Settings_DWORD]\r\nMinSysTray=1\r\n"));
    TMainDlg& d = Activated("current");
    EXPECT_EQ(ReadSetting("MinSysTray"), "");
    EXPECT_FALSE(d.tray->Active());
    settings = std::make_unique<TSettingsDlg>(nullptr);
    d.SettingsDlg = settings.get();

    static int shownChecked;
    shownChecked = -1;
    SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        auto* s = dynamic_cast<TSettingsDlg*>(TWinControl::FromHandle(GetActiveWindow()));
        if (!s) return;
        shownChecked = s->minsystray_chk->Checked() ? 1 : 0;
        SendMessageA(s->minsystray_chk->Handle(), BM_CLICK, 0, 0);
        SendMessageA(s->ok_btn->Handle(), BM_CLICK, 0, 0);
    });
    Choose(*d.Settings1);
    EXPECT_EQ(shownChecked, 0) << "the dialog showed, the box unticked";
    EXPECT_EQ(ReadSetting("MinSysTray"), "1");
    EXPECT_TRUE(d.tray->Active());
    DWORD type = 0;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "MinSysTray", RRF_RT_ANY, &type, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(MainDlgCommands, TheLinkFileDecidesTheShopAddressOnlyWhenItIsAWebAddress) {
    TMainDlg& d = Activated("current");
    const std::string shop = MakerPeerBase("current") + "/voltatlas/index.php";
    const struct {
        const char* what;
        const char* content;  // nullptr: no link file
        std::string opened;
    } rows[] = {
        {"no file", nullptr, shop},
        {"no key", "[links]\r\nother=https://127.0.0.1/x\r\n", shop},
        {"key in another section", "[other]\r\nbattery=https://127.0.0.1/x\r\n", shop},
        {"one character", "[links]\r\nbattery=x\r\n", shop},
        {"two characters", "[links]\r\nbattery=ab\r\n", shop},
        {"file link", "[links]\r\nbattery=file:///C:/Windows/win.ini\r\n", shop},
        {"program path", "[links]\r\nbattery=C:\\Windows\\notepad.exe\r\n", shop},
        {"program with arguments", "[links]\r\nbattery=cmd.exe /c calc\r\n", shop},
        {"mail link", "[links]\r\nbattery=mailto:someone@127.0.0.1\r\n", shop},
        {"scheme only", "[links]\r\nbattery=https://\r\n", shop},
        {"control character", "[links]\r\nbattery=https://127.0.0.1/a\x01" "b\r\n", shop},
        {"tab inside", "[links]\r\nbattery=https://127.0.0.1/a\tb\r\n", shop},
        {"blank inside", "[links]\r\nbattery=https://127.0.0.1/a b\r\n", shop},
        {"good https", "[links]\r\nbattery=https://127.0.0.1/shop?id=7\r\n", "https://127.0.0.1/shop?id=7"},
        {"good http, any case", "[links]\r\nbattery=HTTP://127.0.0.1/shop\r\n", "HTTP://127.0.0.1/shop"},
    };
    const std::string linkFile = GetDataFolder(GetModuleFileNameText(), kTitle) + "voltatlas.ini";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        DeleteFileA(linkFile.c_str());
        if (row.content) {
            ASSERT_TRUE(WriteFileBytes(linkFile, row.content));
        }
        shell.calls.clear();
        Click(*d.UxImgBtn1);
        ASSERT_EQ(shell.calls.size(), 1u);
        EXPECT_EQ(shell.calls[0].function, "ShellOpen");
        EXPECT_EQ(shell.calls[0].file, row.opened);
        EXPECT_EQ(d.GetLink("battery"), row.opened);
    }
}

TEST_F(MainDlgCommands, TheLinkFileComesFromTheServerAtTheFirstActivation) {
    const struct {
        const char* scenario;
        std::string opened;
    } rows[] = {
        {"links", "https://127.0.0.1/shop-from-the-link-file"},
        {"badlink", MakerPeerBase("badlink") + "/voltatlas/index.php"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        const int before = PeerRequestsWith("/" + std::string(row.scenario) + "/voltatlas/voltatlas.ini");
        TMainDlg& d = Activated(row.scenario);
        const std::string linkFile = GetDataFolder(GetModuleFileNameText(), kTitle) + "voltatlas.ini";
        ASSERT_TRUE(PumpUntil([&] { return FileExists(linkFile); }, 10000));
        EXPECT_EQ(PeerRequestsWith("/" + std::string(row.scenario) + "/voltatlas/voltatlas.ini"), before + 1);
        shell.calls.clear();
        Click(*d.UxImgBtn1);
        ASSERT_EQ(shell.calls.size(), 1u);
        EXPECT_EQ(shell.calls[0].file, row.opened);
        TearDown();
    }
}

TEST_F(MainDlgCommands, CheckByHandWhenCurrentSaysSoAndTheAutomaticCheckStaysSilent) {
    MessageBoxCloser boxes;
    TMainDlg& d = Activated("current");
    EXPECT_TRUE(boxes.texts.empty()) << "the automatic check shows nothing";
    EXPECT_EQ(CountOf(Messages(*d.Log), kCurrentText), 1);
    EXPECT_FALSE(d.SilentCheck);

    Choose(*d.CheckforUpdate1);
    EXPECT_FALSE(d.CheckforUpdate1->Enabled()) << "disabled while the check runs";
    EXPECT_TRUE(d.Lite->Busy());
    ASSERT_TRUE(PumpUntil([&] { return CheckDone(); }, 15000));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{kCurrentText});
    const auto log = Messages(*d.Log);
    EXPECT_EQ(CountOf(log, kCurrentText), 2);
    EXPECT_EQ(CountOf(log, "Self update check..."), 2);
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(MainDlgCommands, ANewerVersionAsksAndYesOpensTheDownloadPage) {
    for (int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
        for (bool byHand : {false, true}) {
            SCOPED_TRACE(byHand ? "by hand" : "at the first activation");
            MessageBoxCloser boxes;
            boxes.answer = answer;
            TMainDlg& d = Activated("newer");
            if (byHand) {
                boxes.boxes.clear();
                shell.calls.clear();
                Choose(*d.CheckforUpdate1);
                ASSERT_TRUE(PumpUntil([&] { return CheckDone(); }, 15000));
            }
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].caption, "Question");
            EXPECT_EQ(boxes.boxes[0].text, kQuestion);
            EXPECT_EQ(boxes.boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
            if (answer == IDYES) {
                ASSERT_EQ(shell.calls.size(), 1u);
                EXPECT_EQ(shell.calls[0].function, "ShellRun");
                EXPECT_EQ(shell.calls[0].file, MakerPeerBase("newer") + "/?voltatlas");
                EXPECT_EQ(shell.calls[0].show, SW_SHOWNORMAL);
            } else {
                EXPECT_TRUE(shell.calls.empty()) << "No opens nothing";
            }
            const auto log = Messages(*d.Log);
            EXPECT_EQ(CountOf(log, "New version of VoltAtlas is detected"), byHand ? 2 : 1);
            EXPECT_EQ(CountOf(log, kCurrentText), 0);
            EXPECT_TRUE(d.CheckforUpdate1->Enabled());
            EXPECT_FALSE(d.SilentCheck);
            TearDown();
            shell.calls.clear();
        }
    }
}

TEST_F(MainDlgCommands, AFailedCheckShowsNothingAndEnablesTheItemAgain) {
    const struct {
        const char* what;
        std::string base;
    } rows[] = {
        {"error page", MakerPeerBase("broken")},
        {"nobody listens", "http://127.0.0.1:1"},
        // Requests that cannot even start: no connection is ever tried.
        {"port out of range", "http://127.0.0.1:99999"},
        {"port not a number", "http://127.0.0.1:x1"},
        {"no host", "http://:80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        MessageBoxCloser boxes;
        ActivatedAt(row.base);
        Choose(*dlg->CheckforUpdate1);
        ASSERT_TRUE(PumpUntil([&] { return CheckDone(); }, 15000));
        EXPECT_TRUE(boxes.texts.empty());
        EXPECT_TRUE(shell.calls.empty());
        const auto log = Messages(*dlg->Log);
        EXPECT_EQ(CountOf(log, "Self update check..."), 2);
        EXPECT_EQ(CountOf(log, kCurrentText), 0);
        EXPECT_FALSE(dlg->Lite->ReplyValid());
        EXPECT_FALSE(dlg->Lite->UpdateAvailable());
        TearDown();
    }
}

TEST_F(MainDlgCommands, ASecondChoiceWhileACheckRunsIsIgnored) {
    MessageBoxCloser boxes;
    TMainDlg& d = Activated("slow");
    const int before = PeerRequestsWith("/slow/plim/check.php");
    Choose(*d.CheckforUpdate1);
    ASSERT_TRUE(d.Lite->Busy());
    Choose(*d.CheckforUpdate1);             // the item is disabled
    d.CheckforUpdate1Click(d.CheckforUpdate1.get());  // and the busy checker is left alone
    PumpFor(200);
    EXPECT_TRUE(d.Lite->Busy()) << "the first check still runs";
    ASSERT_TRUE(PumpUntil([&] { return CheckDone(); }, 15000));
    EXPECT_EQ(PeerRequestsWith("/slow/plim/check.php"), before + 1);
    EXPECT_EQ(CountOf(Messages(*d.Log), "Self update check..."), 2) << "one automatic, one by hand";
    EXPECT_EQ(boxes.texts, std::vector<std::string>{kCurrentText});
}

// Closing the program while its check and download still run: nothing reports into the
// destroyed window or its freed log, and the peer's late answer finds no one.
TEST_F(MainDlgCommands, DestroyedWhileTheCheckAndTheDownloadRun) {
    MessageBoxCloser boxes;
    SetMakerServerBase(MakerPeerBase("slow"));
    dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
    dlg->Tmr->SetEnabled(false);
    dlg->AppEvtActivate(dlg.get());
    ASSERT_TRUE(dlg->Lite->Busy());
    dlg.reset();
    PumpFor(2500);  // past the slow answer
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(MainDlgCommands, TheFirstActivationLogsTheOpenSslVersionAndChecksSilently) {
    MessageBoxCloser boxes;
    TMainDlg& d = Activated("current");
    const auto log = Messages(*d.Log);
    const auto openSsl = std::find(log.begin(), log.end(), "OpenSSL : " + OpenSslVersionOfTheDll());
    ASSERT_NE(openSsl, log.end()) << "OpenSSL : " << OpenSslVersionOfTheDll();
    EXPECT_EQ(*(openSsl - 1), "Portable : Yes") << "right after the environment lines";
    EXPECT_EQ(*(openSsl + 1), "Enumerating batteries");
    EXPECT_EQ(CountOf(log, "Self update check..."), 1);
    EXPECT_EQ(CountOf(log, kCurrentText), 1);
    EXPECT_TRUE(boxes.texts.empty());
}

// The same road over HTTPS, against the update tests' stand-in of the server: only a
// certificate the Windows ROOT store vouches for lets the reply through.
TEST_F(MainDlgCommands, TheCheckRunsOverVerifiedHttps) {
    if (updtest::PeerPort("tls").empty()) GTEST_SKIP() << "the update peer is not running";
    updtest::TrustPeerCa trust;
    ASSERT_TRUE(trust.Added());
    for (const char* listener : {"tls", "selfsigned"}) {
        SCOPED_TRACE(listener);
        MessageBoxCloser boxes;
        boxes.answer = IDNO;
        const std::string base = updtest::PeerBase(listener, "newer");
        ASSERT_EQ(base.rfind("https://", 0), 0u);
        ActivatedAt(base);
        const bool trusted = std::string(listener) == "tls";
        EXPECT_EQ(boxes.texts, trusted ? std::vector<std::string>{kQuestion} : std::vector<std::string>{});
        EXPECT_EQ(CountOf(Messages(*dlg->Log), "New version of VoltAtlas is detected"), trusted ? 1 : 0);
        TearDown();
    }
}

// A process of its own (CTest "app_without_openssl"): the loader is pointed at an empty
// folder before anything loads OpenSSL, so the program finds no DLLs.
TEST(MainDlgWithoutOpenSsl, NotAvailableAndTheHttpsServerIsReachedOverHttp) {
    if (!std::getenv("VA_APP_WITHOUT_OPENSSL")) GTEST_SKIP() << "runs as app_without_openssl";
    ASSERT_EQ(LibCryptoHandle, nullptr) << "nothing may have loaded OpenSSL yet";
    testsupport::TempDir empty;
    OpenSslDllFolder = empty.Path();
    testsupport::FakeBatteryDriver driver;
    MessageBoxCloser boxes;
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
    // The peer speaks plain HTTP: only the fall-back reaches it.
    std::string base = MakerPeerBase("links");
    SetMakerServerBase("https" + base.substr(4));
    {
        TMainDlg d(nullptr, {});
        d.Tmr->SetEnabled(false);
        d.AppEvtActivate(&d);
        const std::string linkFile = GetDataFolder(GetModuleFileNameText(), kTitle) + "voltatlas.ini";
        ASSERT_TRUE(PumpUntil([&] { return !d.Lite->Busy() && d.CheckforUpdate1->Enabled() && FileExists(linkFile); },
                              15000));
        const auto log = Messages(*d.Log);
        EXPECT_EQ(CountOf(log, "OpenSSL : Not Available"), 1);
        EXPECT_EQ(CountOf(log, kCurrentText), 1) << "the check went over http";
        EXPECT_EQ(d.GetLink("battery"), "https://127.0.0.1/shop-from-the-link-file");
        EXPECT_TRUE(boxes.texts.empty());
    }
    DeleteDataFolder(GetModuleFileNameText(), kTitle);
    RemoveCompanyDataFolderIfEmpty();
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
    OpenSslDllFolder.clear();
}

}  // namespace
