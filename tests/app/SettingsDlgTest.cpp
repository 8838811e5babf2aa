// The settings dialog against the real (Wine) registry: loading the two boxes, what OK
// stores and deletes, and that Close stores nothing.
#include <gtest/gtest.h>

#include "TextFit.h"
#include "app/BatFct.h"
#include "app/SettingsDlg.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"

using namespace framework;

namespace {

class SettingsDlgTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        TRegistry reg;
        if (reg.OpenKey(kSettingsKey, false)) reg.DeleteValue("MinSysTray");
        if (reg.OpenKey(kRunKey, false)) reg.DeleteValue(kRunValueName);
    }
    // nullptr: remove the value.
    static void SetRun(const wchar_t* text, bool expandType = false) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kRunKey, true));
        if (text && expandType)
            reg.WriteRawData(kRunValueName, REG_EXPAND_SZ, text, DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
        else if (text) reg.WriteString(kRunValueName, std::wstring(text));
        else if (reg.ValueExists(kRunValueName)) reg.DeleteValue(kRunValueName);
    }
    static bool RunExists() {
        TRegistry reg(KEY_READ);
        return reg.OpenKey(kRunKey, false) && reg.ValueExists(kRunValueName);
    }
    static std::wstring RunText() {
        TRegistry reg(KEY_READ);
        return reg.OpenKey(kRunKey, false) && reg.ValueExists(kRunValueName) ? reg.ReadStringWide(kRunValueName)
                                                                              : std::wstring();
    }
    static bool TrayValueExists() {
        TRegistry reg(KEY_READ);
        return reg.OpenKey(kSettingsKey, false) && reg.ValueExists("MinSysTray");
    }
};

TEST_F(SettingsDlgTest, ComponentsAndLayout) {
    TSettingsDlg dlg(nullptr);
    EXPECT_EQ(dlg.minsystray_chk->Caption(), "Minimize in system tray");
    EXPECT_EQ(dlg.startup_chk->Caption(), "Start with Windows");
    EXPECT_EQ(dlg.ok_btn->Caption(), "Ok");
    EXPECT_TRUE(dlg.ok_btn->Default());
    EXPECT_EQ(dlg.close_btn->Caption(), "Close");
    EXPECT_TRUE(dlg.close_btn->Cancel());
    EXPECT_EQ(dlg.close_btn->ModalResult(), mrCancel);
    dlg.HandleNeeded();
    EXPECT_EQ(dlg.ClientWidth(), 292);
    EXPECT_EQ(dlg.ClientHeight(), 102);
    EXPECT_EQ(GetWindowLongPtrA(dlg.Handle(), GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
}

TEST_F(SettingsDlgTest, EveryCaptionFitsItsBox) {
    TSettingsDlg dlg(nullptr);
    dlg.HandleNeeded();
    std::vector<testsupport::CaptionFit> fits;
    for (TWinControl* c : std::initializer_list<TWinControl*>{dlg.minsystray_chk.get(), dlg.startup_chk.get(),
                                                              dlg.ok_btn.get(), dlg.close_btn.get()})
        fits.push_back(testsupport::FitOf(*c));
    for (const std::string& overflow : testsupport::Overflows(fits)) ADD_FAILURE() << overflow;
}

TEST_F(SettingsDlgTest, BoxesLoadFromTheSettingAndTheRunValue) {
    const std::wstring own = TSettingsDlg::AutostartCommand();
    const std::wstring quoted = L"\"" + GetModuleFileNameWide() + L"\" /minimized";
    std::wstring upper = own;
    CharUpperBuffW(upper.data(), DWORD(upper.size()));
    struct Row {
        const char* tray;   // nullptr: absent
        std::wstring run;   // "-": absent
        bool trayChecked, startChecked;
    } rows[] = {
        {"1", own, true, true},
        {"0", own, false, true},
        {nullptr, L"-", false, false},
        {"1", L"C:\\Other copy\\VoltAtlas.exe /minimized", true, false},
        {"1", quoted, true, false},
        {"1", GetModuleFileNameWide(), true, false},  // without the argument
        {"true", upper, false, false},                // exact and case-sensitive
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(WideToAnsi(row.run));
        Clean();
        if (row.tray) WriteSetting("MinSysTray", row.tray);
        SetRun(row.run == L"-" ? nullptr : row.run.c_str());
        TSettingsDlg dlg(nullptr);
        dlg.LoadSettings();
        EXPECT_EQ(dlg.minsystray_chk->Checked(), row.trayChecked);
        EXPECT_EQ(dlg.startup_chk->Checked(), row.startChecked);
    }
}

TEST_F(SettingsDlgTest, OkStoresOneOrZeroAndWritesOrDeletesTheRunValue) {
    struct Row {
        const wchar_t* before;  // Run value before; nullptr: absent
        bool tray, start;
        const char* stored;
        bool runAfter;
    } rows[] = {
        {nullptr, true, true, "1", true},
        {nullptr, false, false, "0", false},  // unchecked with no value: nothing to delete
        {L"C:\\Other copy\\VoltAtlas.exe /minimized", false, false, "0", false},  // another copy's value goes
        {L"\"quoted\" /minimized", true, true, "1", true},  // replaced by the exact command
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.before ? WideToAnsi(row.before) : "(none)");
        Clean();
        SetRun(row.before);
        TSettingsDlg dlg(nullptr);
        dlg.LoadSettings();
        dlg.minsystray_chk->SetChecked(row.tray);
        dlg.startup_chk->SetChecked(row.start);
        dlg.ok_btnClick(dlg.ok_btn.get());
        EXPECT_EQ(dlg.ModalResult(), mrOk);
        EXPECT_TRUE(TrayValueExists()) << "stored as text, never absent";
        EXPECT_EQ(ReadSetting("MinSysTray"), row.stored);
        EXPECT_EQ(RunExists(), row.runAfter);
        if (row.runAfter) {
            EXPECT_EQ(RunText(), TSettingsDlg::AutostartCommand());
        }
    }
}

// Run values are often written as REG_EXPAND_SZ by hand or by other tools: with the exact
// command the box shows checked, and OK keeps the user's autostart.
TEST_F(SettingsDlgTest, AnExpandStringRunValueIsReadLikeAPlainOne) {
    const std::wstring own = TSettingsDlg::AutostartCommand();
    const struct {
        std::wstring run;
        bool checked;
    } rows[] = {{own, true}, {L"C:\\Other copy\\VoltAtlas.exe /minimized", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(WideToAnsi(row.run));
        Clean();
        SetRun(row.run.c_str(), true);
        TSettingsDlg dlg(nullptr);
        dlg.LoadSettings();
        EXPECT_EQ(dlg.startup_chk->Checked(), row.checked);
        dlg.ok_btnClick(dlg.ok_btn.get());
        EXPECT_EQ(RunExists(), row.checked) << "OK with the box as loaded";
        if (row.checked) {
            EXPECT_EQ(RunText(), own);
        }
    }
}

// Clicks a button of the modal dialog once it is up.
void ClickLater(UINT ms, bool okButton, bool checkBoth) {
    static bool ok, both;
    ok = okButton, both = checkBoth;
    SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        auto* dlg = dynamic_cast<TSettingsDlg*>(TWinControl::FromHandle(GetActiveWindow()));
        if (!dlg) return;
        if (both) {
            SendMessageA(dlg->minsystray_chk->Handle(), BM_CLICK, 0, 0);
            SendMessageA(dlg->startup_chk->Handle(), BM_CLICK, 0, 0);
        }
        SendMessageA((ok ? dlg->ok_btn : dlg->close_btn)->Handle(), BM_CLICK, 0, 0);
    });
}

TEST_F(SettingsDlgTest, ExecuteWithOkStoresWhatTheUserTickedAndCloseStoresNothing) {
    TSettingsDlg dlg(nullptr);
    ClickLater(100, true, true);
    EXPECT_EQ(dlg.Execute(), mrOk);
    EXPECT_EQ(ReadSetting("MinSysTray"), "1");
    EXPECT_EQ(RunText(), TSettingsDlg::AutostartCommand());

    Clean();
    ClickLater(100, false, true);
    EXPECT_EQ(dlg.Execute(), mrCancel);
    EXPECT_FALSE(TrayValueExists()) << "Close stores nothing";
    EXPECT_FALSE(RunExists());
}

}  // namespace
