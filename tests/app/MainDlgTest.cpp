#include "app/MainDlg.h"

#include <windows.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "FakeBatteryDriver.h"
#include "LogMessages.h"
#include "MessageBoxCloser.h"
#include "TextFit.h"
#include "app/BatFct.h"
#include "foundation/JoryUtils.h"
#include "framework/Registry.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "support/Pump.h"
#include "update/CheckIdentity.h"
#include "update/PlimLite.h"

namespace {

using namespace framework;
using testsupport::CountOf;
using testsupport::MessageOf;
using testsupport::Messages;
using testsupport::FakeBattery;
using testsupport::FakeBatteryDriver;
using testsupport::FullBattery;

constexpr const char* kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VoltAtlasMainDlgTest";

std::string ExeFolder() { return IncludeTrailingPathDelimiter(ExtractFileDir(GetModuleFileNameText())); }

// The executable the company key names for the product.
std::string ReadCompanyValueForTest() {
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark", "VoltAtlas", RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return {};
    return value;
}

class MainDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteTree(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
        DeleteFileA((ExeFolder() + "settings.ini").c_str());
    }
    void TearDown() override {
        dlg.reset();
        EXPECT_EQ(driver.OpenHandles(), 0);
        DeleteTree(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
        DeleteTree(HKEY_CURRENT_USER, kUninstallKey);
        DeleteFileA((ExeFolder() + "settings.ini").c_str());
        RemoveDataFolder();
    }

    static void DeleteTree(HKEY root, const char* key) { RegDeleteTreeA(root, key); }
    static void RemoveDataFolder() {
        const std::string folder = GetDataFolder(GetModuleFileNameText(), kTitle);
        DeleteFileA((folder + "VoltAtlas.log").c_str());
        DeleteFileA((folder + "voltatlas.ini").c_str());  // the downloaded link file
        RemoveDirectoryA(folder.c_str());
    }

    // A main window as the program makes it, activated; the timer is left to the test.
    TMainDlg& Activated(std::vector<std::string> params = {}) {
        dlg = std::make_unique<TMainDlg>(nullptr, std::move(params));
        dlg->Tmr->SetEnabled(false);
        dlg->AppEvtActivate(dlg.get());
        // The activation's network tasks end first, so their log lines come before the test's.
        const std::string linkFile = GetDataFolder(GetModuleFileNameText(), kTitle) + "voltatlas.ini";
        EXPECT_TRUE(testsupport::PumpUntil([&] { return !dlg->Lite->Busy() && FileExists(linkFile); }, 15000));
        return *dlg;
    }

    TMainDlg& RefreshedWith(const FakeBattery& battery) {
        driver.batteries = {battery};
        TMainDlg& d = Activated();
        d.RefreshBattery();
        return d;
    }

    static void MarkInstalled() {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        const char name[] = "Quillmark VoltAtlas 1.0.0.1";
        RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
        RegCloseKey(key);
    }

    FakeBatteryDriver driver;
    std::unique_ptr<TMainDlg> dlg;
};

FakeBattery Battery(std::function<void(FakeBattery&)> change) {
    FakeBattery b = FullBattery("\\\\?\\battery#1");
    change(b);
    return b;
}

void SetCapacities(FakeBattery& b, uint32_t full, uint32_t design) {
    TBatInformation info{};
    std::memcpy(info.Chemistry, "LION", 4);
    info.FullChargedCapacity = full;
    info.DesignedCapacity = design;
    info.CycleCount = 321;
    b.SetInformation(info);
}

TEST_F(MainDlgTest, ChargeAndHealthFollowTheCapacities) {
    const struct {
        uint32_t full, design, capacity;
        const char *health, *charge;
        int icon;
    } cases[] = {
        {50000, 55000, 25000, "90%", "50%", 1}, {50000, 55000, 40000, "90%", "80%", 0},
        {50000, 55000, 7500, "90%", "15%", 2},  {50000, 55000, 8000, "90%", "16%", 1},
        {0, 40000, 10000, "0%", "25%", 1},      {60500, 55000, 60500, "110%", "100%", 0},
        {0, 0, 5000, "N/A", "0%", 2},
    };
    for (const auto& c : cases) {
        TMainDlg& d = RefreshedWith(Battery([&](FakeBattery& b) {
            SetCapacities(b, c.full, c.design);
            b.status.Capacity = c.capacity;
        }));
        EXPECT_EQ(d.health_btn->Caption(), c.health) << c.full << "/" << c.design;
        EXPECT_EQ(d.status_btn->Caption(), c.charge) << c.capacity;
        EXPECT_EQ(d.status_btn->ImageIndex(), c.icon) << c.capacity;
    }
}

TEST_F(MainDlgTest, TheChargeHintListsTheThreeCapacities) {
    TMainDlg& d = RefreshedWith(Battery([](FakeBattery& b) {
        SetCapacities(b, 50000, 55000);
        b.status.Capacity = 25000;
    }));
    EXPECT_EQ(d.status_btn->Hint(),
              "Current Capacity : 25000 mWh\n\rFull Capacity : 50000 mWh\n\rFactory Capacity : 55000 mWh");
}

TEST_F(MainDlgTest, PowerAndRateCaptionsAndIcons) {
    const struct {
        uint32_t state;
        int32_t rate;
        const char *power, *rateText;
        int powerIcon, rateIcon;
    } cases[] = {
        {1 | 4, 5000, "Power on line (charging)", "5000 mW", 7, 12},
        {2, -9500, "Power on battery (discharging)", "9500 mW", 6, 11},
        {7, 0, "Power on line (charging) (discharging)", "0 mW", 7, 13},
        {1, 0, "Power on line", "0 mW", 7, 13},
        {0, -100, "Power on battery", "100 mW", 6, 11},
    };
    for (const auto& c : cases) {
        TMainDlg& d = RefreshedWith(Battery([&](FakeBattery& b) {
            b.status.PowerState = c.state;
            b.status.Rate = c.rate;
        }));
        EXPECT_EQ(d.power_btn->Caption(), c.power);
        EXPECT_EQ(d.power_btn->ImageIndex(), c.powerIcon) << c.power;
        EXPECT_EQ(d.rate_btn->Caption(), c.rateText);
        EXPECT_EQ(d.rate_btn->ImageIndex(), c.rateIcon) << c.rate;
        EXPECT_FALSE(d.Removed);
    }
}

TEST_F(MainDlgTest, AnEmptyBayShowsNotAvailableAndCountsAsRemoved) {
    for (int variant = 0; variant < 2; ++variant) {
        TMainDlg& d = RefreshedWith(Battery([&](FakeBattery& b) {
            if (variant == 0) {
                b.tagFails = true;  // the driver answers nothing: an all-zero record
            } else {
                SetCapacities(b, 0, 0);  // no capacities, no power state, no rate
                b.status = {0, 0, 0, 0};
            }
        }));
        if (variant == 0) {
            for (auto* btn : {d.manuf_btn.get(), d.manufsn_btn.get(), d.manufdate_btn.get(),
                              d.chemistry_btn.get(), d.temp_btn.get(), d.cycle_btn.get(), d.volt_btn.get(),
                              d.health_btn.get(), d.time_btn.get()})
                EXPECT_EQ(btn->Caption(), "N/A") << btn->Name();
        }
        EXPECT_EQ(d.status_btn->Caption(), "0%");
        EXPECT_EQ(d.status_btn->ImageIndex(), 2);
        EXPECT_EQ(d.rate_btn->Caption(), "0 mW");
        EXPECT_TRUE(d.Removed);
        EXPECT_EQ(d.power_btn->Caption(), "Power on line (removed)");
        EXPECT_EQ(d.power_btn->ImageIndex(), 7);
        EXPECT_EQ(d.RateHistory[0], 0u);
        EXPECT_EQ(CountOf(Messages(*d.Log), "Manufacturer : N/A"), 0) << "no details while removed";
    }
}

TEST_F(MainDlgTest, IdentityAndMeasurementTexts) {
    struct Case {
        std::function<void(FakeBattery&)> change;
        std::function<std::string(TMainDlg&)> read;
        std::string want;
    };
    auto volt = [](TMainDlg& d) { return d.volt_btn->Caption(); };
    auto temp = [](TMainDlg& d) { return d.temp_btn->Caption(); };
    auto date = [](TMainDlg& d) { return d.manufdate_btn->Caption(); };
    auto manuf = [](TMainDlg& d) { return d.manuf_btn->Caption(); };
    auto serial = [](TMainDlg& d) { return d.manufsn_btn->Caption(); };
    auto chem = [](TMainDlg& d) { return d.chemistry_btn->Caption(); };
    auto cycles = [](TMainDlg& d) { return d.cycle_btn->Caption(); };
    auto chemistry = [](const char* code) {
        return [code](FakeBattery& b) {
            TBatInformation info{};
            std::memcpy(info.Chemistry, code, strnlen(code, 4));
            b.SetInformation(info);
        };
    };
    const Case table[] = {
        {[](FakeBattery& b) { b.status.Voltage = 0; }, volt, "N/A"},
        {[](FakeBattery& b) { b.status.Voltage = 11100; }, volt, "11.10 V"},
        {[](FakeBattery& b) { b.SetValue(BatteryTemperature, 2982); }, temp, "25 \xB0" "C"},
        {[](FakeBattery& b) { b.SetValue(BatteryTemperature, 0); }, temp, "N/A"},
        {[](FakeBattery& b) { b.SetValue(BatteryTemperature, 2731); }, temp, "0 \xB0" "C"},
        {[](FakeBattery& b) { b.SetDate(15, 3, 2021); }, date, "15 / 3 / 2021"},
        {[](FakeBattery& b) { b.SetDate(0, 0, 0); }, date, "N/A"},
        {[](FakeBattery& b) { b.SetText(BatteryManufactureName, L"  "); }, manuf, "N/A"},
        {[](FakeBattery& b) { b.SetText(BatteryManufactureName, L" Cells "); }, manuf, " Cells "},
        {[](FakeBattery& b) { b.levels.erase(BatterySerialNumber); }, serial, "N/A"},
        {chemistry("lion"), chem, "Lithium Ion"},
        {chemistry("LIP"), chem, "Lithium Polymer"},
        {chemistry("XYZ"), chem, "XYZ"},
        {chemistry(""), chem, "N/A"},
        {chemistry(""), cycles, "N/A"},
        {[](FakeBattery&) {}, cycles, "321 cycles"},
    };
    for (const auto& c : table) {
        TMainDlg& d = RefreshedWith(Battery(c.change));
        EXPECT_EQ(c.read(d), c.want);
    }
}

TEST(MainDlgChemistry, NamesByCodeIgnoringCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"PbAc", "Lead Acid"},       {"LION", "Lithium Ion"},          {"li-i", "Lithium Ion"},
        {"NICD", "Nickel Cadmium"},  {"NiMH", "Nickel Metal Hydride"}, {"nizn", "Nickel Zinc"},
        {"RAM", "Rechargeable Alkaline-Manganese"},                    {"lipo", "Lithium Polymer"},
        {"PLI", "Lithium Polymer"},  {"LIP", "Lithium Polymer"},       {"XYZ", "XYZ"},
        {"", "N/A"},                 {"  ", "N/A"},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(TMainDlg::ChemistryName(code), name) << code;
}

TEST_F(MainDlgTest, EightDischargeSamplesGiveTheAverageAndTimeLeft) {
    driver.batteries = {Battery([](FakeBattery& b) {
        b.status = {2, 30000, 11100, -12000};
    })};
    TMainDlg& d = Activated();
    for (int i = 1; i <= 8; ++i) {
        d.RefreshBattery();
        if (i < 8) {
            EXPECT_EQ(d.time_btn->Caption(), "N/A") << i;
            EXPECT_EQ(d.AvgRate, 0u) << i;
        }
    }
    EXPECT_EQ(d.AvgRate, 12000u);
    EXPECT_EQ(d.time_btn->Caption(), "2h30mins");

    // Charging adds no sample and keeps the last discharge estimate.
    driver.batteries[0].status = {5, 30000, 11100, 5000};
    d.RefreshBattery();
    EXPECT_EQ(d.RateHistory[0], 12000u);
    EXPECT_EQ(d.time_btn->Caption(), "2h30mins");
}

TEST_F(MainDlgTest, RateSamplesShiftNewestFirstAndAverageUnsigned) {
    TMainDlg& d = Activated();
    for (int32_t r : {-1000, -2000, -3000, -4000, -5000, -6000, -7000}) d.AddRateSample(r);
    EXPECT_EQ(d.AvgRate, 0u) << "fewer than eight samples";
    d.AddRateSample(0);
    d.AddRateSample(4000);
    EXPECT_EQ(d.RateHistory[0], 7000u) << "only discharge counts";
    d.AddRateSample(-8001);
    EXPECT_EQ(d.RateHistory[0], 8001u);
    EXPECT_EQ(d.RateHistory[7], 1000u);
    EXPECT_EQ(d.AvgRate, (1000u + 2000 + 3000 + 4000 + 5000 + 6000 + 7000 + 8001) >> 3);
    d.AddRateSample(INT32_MIN);
    EXPECT_EQ(d.RateHistory[0], 0x80000000u);
}

TEST_F(MainDlgTest, DetailsAreLoggedOnceAndAgainWhenTheBatteryReturns) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    d.RefreshBattery();
    d.RefreshBattery();
    auto log = Messages(*d.Log);
    EXPECT_EQ(CountOf(log, "Manufacturer : Quillmark Cells"), 1);
    const auto first = std::find(log.begin(), log.end(), "Manufacturer : Quillmark Cells");
    ASSERT_NE(first, log.end());
    const std::vector<std::string> details(first, first + 15);
    EXPECT_EQ(details, (std::vector<std::string>{
                           "Manufacturer : Quillmark Cells", "Manufacturer S/N : SN 00042",
                           "Manufacturer Date : 17 / 6 / 2021", "Chemistry : Lithium Ion",
                           "Capacity : 41000", "Capacity Full : 51300", "Capacity Design : 57000",
                           "Capabilities Tag : 2147483648", "DefaultAlert (Low) : 2850",
                           "DefaultAlert (Very Low) : 570", "CriticalBias : 12",
                           "Estimated Time : 15540", "AtRate : -9500",
                           "Unique Identifier : QC600042", "Device Name : QC-6 Li-ion"}));

    FakeBattery back = driver.batteries[0];
    driver.batteries[0].tagFails = true;  // taken out
    d.RefreshBattery();
    EXPECT_TRUE(d.Removed);
    driver.batteries[0] = back;
    d.RefreshBattery();
    d.RefreshBattery();
    log = Messages(*d.Log);
    EXPECT_EQ(CountOf(log, "Manufacturer : Quillmark Cells"), 2);
}

TEST_F(MainDlgTest, EveryChangeOfThePowerCaptionIsLogged) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    const uint32_t states[] = {2, 2, 5, 5, 1, 2};
    for (uint32_t s : states) {
        driver.batteries[0].status.PowerState = s;
        d.RefreshBattery();
    }
    std::vector<std::string> power;
    for (const auto& m : Messages(*d.Log))
        if (m.rfind("Power on", 0) == 0) power.push_back(m);
    EXPECT_EQ(power, (std::vector<std::string>{"Power on battery (discharging)", "Power on line (charging)",
                                               "Power on line", "Power on battery (discharging)"}));
}

TEST_F(MainDlgTest, NoBatteryStopsTheTimerWithOneMessage) {
    testsupport::MessageBoxCloser boxes;
    TMainDlg& d = Activated();
    d.Tmr->SetEnabled(true);
    d.status_btn->SetHint("old");
    d.TmrTimer(d.Tmr.get());
    EXPECT_FALSE(d.Tmr->Enabled());
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"No battery"});
    EXPECT_EQ(d.status_btn->Hint(), "");
    const auto log = Messages(*d.Log);
    EXPECT_EQ(CountOf(log, "No battery"), 1);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& m) {
                  return m.find("batteries found") != std::string::npos;
              }),
              0);
}

TEST_F(MainDlgTest, AQueryThatRaisesShowsNoBatteryAtMostOnceAndTouchesNothing) {
    testsupport::MessageBoxCloser boxes;
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    d.RefreshBattery();
    const std::string caption = d.manuf_btn->Caption();
    const int lines = d.Log->Lines->Count();
    driver.batteries[0].tagThrows = true;
    driver.batteries[0].SetText(BatteryManufactureName, L"Other");
    d.RefreshBattery();
    d.RefreshBattery();
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"No battery"});
    EXPECT_EQ(d.manuf_btn->Caption(), caption);
    EXPECT_EQ(d.Log->Lines->Count(), lines);
    EXPECT_FALSE(d.ShowNoBatteryOnce);
}

// The refresh timer keeps ticking inside the "No battery" box's modal loop: such a tick must
// not open a second box. The boxes are answered here, after one tick of the window's own
// timer handler has run inside the first box.
namespace nested {
TMainDlg* dlg = nullptr;
bool ticked = false;
std::vector<HWND> answered;
std::vector<std::string> texts;

BOOL CALLBACK CollectBox(HWND wnd, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(wnd) &&
        std::find(answered.begin(), answered.end(), wnd) == answered.end())
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(wnd);
    return TRUE;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> boxes;
    EnumThreadWindows(GetCurrentThreadId(), CollectBox, reinterpret_cast<LPARAM>(&boxes));
    if (boxes.empty()) return;
    if (!ticked) {
        ticked = true;
        dlg->TmrTimer(dlg->Tmr.get());  // as the window's timer would, from the box's loop
        return;
    }
    for (HWND box : boxes) {
        char text[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        texts.push_back(text);
        answered.push_back(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
}
}  // namespace nested

TEST_F(MainDlgTest, ATickInsideTheNoBatteryBoxOpensNoSecondOne) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    driver.batteries[0].tagThrows = true;
    nested::dlg = &d;
    nested::ticked = false;
    nested::answered.clear();
    nested::texts.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, nested::Tick);
    d.RefreshBattery();
    KillTimer(nullptr, timer);
    EXPECT_TRUE(nested::ticked);
    EXPECT_EQ(nested::texts, std::vector<std::string>{"No battery"});
    EXPECT_FALSE(d.ShowNoBatteryOnce);
}

TEST_F(MainDlgTest, AnExceptionDuringATickIsLoggedAndTheTimerRuns) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    d.Tmr->SetEnabled(true);
    driver.enumerateThrows = true;
    d.TmrTimer(d.Tmr.get());
    EXPECT_EQ(MessageOf((*d.Log->Lines)[0]), "Unhandled exception");
    EXPECT_EQ((*d.Log->Lines)[0].substr(0, 5), "Error");
    EXPECT_TRUE(d.Tmr->Enabled());
    d.Tmr->SetEnabled(false);
}

// Started at logon while the user works elsewhere, the window may see its first tick before
// its first activation: that tick finds no enumerator and no log yet and must do nothing.
TEST_F(MainDlgTest, ATickBeforeTheFirstActivationDoesNothing) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
    ASSERT_TRUE(dlg->Tmr->Enabled()) << "the timer runs from the start";
    dlg->TmrTimer(dlg->Tmr.get());
    EXPECT_TRUE(dlg->Tmr->Enabled());
    EXPECT_EQ(dlg->manuf_btn->Caption(), "");
    dlg->Tmr->SetEnabled(false);

    dlg->AppEvtActivate(dlg.get());
    dlg->TmrTimer(dlg->Tmr.get());
    EXPECT_EQ(dlg->manuf_btn->Caption(), "Quillmark Cells") << "the ticks after the activation refresh";
}

// The threads of this process.
std::set<DWORD> ProcessThreads() {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

TEST_F(MainDlgTest, TheProgramFileIsIdentifiedByTheFirstCheckOnTheWindowsThread) {
    // The program's threads are the name look-up pool and the timer clock: making the window
    // starts none, and nothing identifies the program's file before the first check does.
    ClearCheckIdentities();
    const unsigned before = CheckIdentityComputations();
    const std::set<DWORD> threads = ProcessThreads();
    ASSERT_FALSE(threads.empty());
    dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
    dlg->Tmr->SetEnabled(false);
    size_t started = 0;
    for (DWORD id : ProcessThreads()) started += threads.count(id) ? 0 : 1;
    EXPECT_EQ(started, 0u) << "threads started while the window was made";
    EXPECT_FALSE(testsupport::PumpUntil([&] { return CheckIdentityComputations() != before; }, 500))
        << "the program's file was identified before any check";
    dlg.reset();
    Activated();
    EXPECT_EQ(CheckIdentityComputations(), before + 1) << "the first check identifies the file";
    dlg.reset();
    Activated();
    EXPECT_EQ(CheckIdentityComputations(), before + 1) << "a later check finds the identity kept";
}

TEST_F(MainDlgTest, FirstActivationLogsTheEnvironmentInOrder) {
    const struct {
        size_t batteries;
        std::vector<std::string> params;
        const char* found;
    } cases[] = {{0, {}, nullptr}, {1, {"/MINIMIZED"}, "1 batteries found"}, {2, {"-x"}, "2 batteries found"}};
    for (const auto& c : cases) {
        driver.batteries.clear();
        for (size_t i = 0; i < c.batteries; ++i) driver.batteries.push_back(FullBattery("b" + std::to_string(i)));
        TMainDlg& d = Activated(c.params);
        d.Log->Save();
        framework::TStringList file;
        ASSERT_TRUE(file.LoadFromFile(d.Log->FileName));
        std::vector<std::string> log;  // oldest first
        for (int i = file.Count() - 1; i >= 0; --i) log.push_back(MessageOf(file[i]));
        ASSERT_GE(log.size(), 8u);
        EXPECT_EQ(log[0], "Starting") << "the oldest line of the run";
        EXPECT_EQ(log[1], GetModuleFileNameText());
        EXPECT_EQ(log[2], d.Caption());
        EXPECT_EQ(d.Caption(), "VoltAtlas v1.0.0.1");
        EXPECT_EQ(log[3].rfind("Windows : ", 0), 0u) << log[3];
        EXPECT_EQ(log[4], "64Bits : Yes");
        EXPECT_EQ(log[5].rfind("Administrator : ", 0), 0u);
        EXPECT_EQ(log[6], "Portable : Yes");
        size_t next = 7;
        if (!c.params.empty()) {
            EXPECT_EQ(log[next++], c.params[0]);
        }
        EXPECT_EQ(log[next++].rfind("OpenSSL : ", 0), 0u);
        EXPECT_EQ(log[next++], "Enumerating batteries");
        if (c.found) {
            ASSERT_GT(log.size(), next);
            EXPECT_EQ(log[next++], c.found);
        }
        // The automatic update check comes last.
        ASSERT_GT(log.size(), next);
        EXPECT_EQ(log[next], "Self update check...");
        EXPECT_EQ(ReadCompanyValueForTest(), GetModuleFileNameText());
        dlg.reset();
    }
}

TEST_F(MainDlgTest, OnlyTheExactMinimizedParameterHidesTheWindow) {
    for (const char* param : {"/minimized", "/MINIMIZED"}) {
        for (bool trayOn : {true, false}) {
            WriteSetting("MinSysTray", trayOn ? "1" : "0");
            dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{param});
            dlg->Tmr->SetEnabled(false);
            Application().SetMainForm(dlg.get());
            dlg->Show();
            testsupport::PumpFor(50);
            dlg->AppEvtActivate(dlg.get());
            testsupport::PumpFor(50);
            const bool exact = std::string(param) == "/minimized";
            EXPECT_EQ(dlg->tray->Active(), trayOn);
            if (!exact) {
                EXPECT_TRUE(IsWindowVisible(dlg->Handle())) << param;
            } else if (trayOn) {
                EXPECT_FALSE(IsWindowVisible(dlg->Handle())) << "in the notification area";
                EXPECT_FALSE(IsWindowVisible(Application().Handle())) << "no taskbar button";
            } else {
                // No tray icon to come back from: minimised to the taskbar instead.
                EXPECT_TRUE(IsIconic(Application().Handle()) || IsIconic(dlg->Handle()));
                EXPECT_TRUE(IsWindowVisible(Application().Handle()));
                Application().Restore();
            }
            dlg->tray->SetActive(false);
            Application().SetMainForm(nullptr);
            dlg.reset();
            testsupport::PumpFor(20);
        }
    }
}

TEST_F(MainDlgTest, PortableImportsSettingsAndCleansUpOnClose) {
    const std::string ini = ExeFolder() + "settings.ini";
    ASSERT_TRUE(WriteFileBytes(ini, "[Settings]\r\nMinSysTray=1\r\n"));
    TMainDlg& d = Activated();
    EXPECT_EQ(ReadSetting("MinSysTray"), "1") << "imported at creation";
    EXPECT_TRUE(d.tray->Active());
    d.tray->SetActive(false);
    WriteSetting("MinSysTray", "0");
    const std::string dataFolder = GetDataFolder(GetModuleFileNameText(), kTitle);
    ASSERT_TRUE(DirectoryExists(dataFolder));

    TCloseAction action = TCloseAction::caHide;
    d.FormClose(&d, action);
    EXPECT_FALSE(DirectoryExists(dataFolder));
    EXPECT_TRUE(FileExists(GetModuleFileNameText())) << "the executable's folder stays";
    std::string text;
    ASSERT_TRUE(ReadFileBytes(ini, text));
    EXPECT_NE(text.find("MinSysTray=0"), std::string::npos) << text;
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Quillmark\\VoltAtlas")) << "removed after the export";
    dlg.reset();
    EXPECT_FALSE(DirectoryExists(dataFolder)) << "the final log save finds no folder";
}

TEST_F(MainDlgTest, AFailedExportKeepsTheSettingsKey) {
    TMainDlg& d = Activated();
    WriteSetting("MinSysTray", "0");
    const std::string ini = ExeFolder() + "settings.ini";
    ASSERT_TRUE(WriteFileBytes(ini, ""));
    HANDLE lock = CreateFileA(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    TCloseAction action = TCloseAction::caHide;
    d.FormClose(&d, action);
    CloseHandle(lock);
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\Quillmark\\VoltAtlas"));
}

TEST_F(MainDlgTest, InstalledReadsNoIniAndDeletesNothing) {
    MarkInstalled();
    const std::string ini = ExeFolder() + "settings.ini";
    ASSERT_TRUE(WriteFileBytes(ini, "[Settings]\r\nMinSysTray=1\r\n"));
    TMainDlg& d = Activated();
    EXPECT_NE(ReadSetting("MinSysTray"), "1") << "no import when installed";
    EXPECT_EQ(CountOf(Messages(*d.Log), "Portable : No"), 1);
    ASSERT_TRUE(WriteSetting("MinSysTray", "0"));  // a read makes no key: the one the close must keep
    const std::string logFile = d.Log->FileName;
    TCloseAction action = TCloseAction::caHide;
    d.FormClose(&d, action);
    dlg.reset();
    EXPECT_TRUE(FileExists(logFile)) << "the log survives in the data folder";
    std::string text;
    ASSERT_TRUE(ReadFileBytes(ini, text));
    EXPECT_EQ(text, "[Settings]\r\nMinSysTray=1\r\n") << "settings.ini untouched";
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\Quillmark\\VoltAtlas"));
}

}  // namespace

namespace {

// Saves the window's client area as a 24-bit BMP, for a person to look at.
bool SaveWindowPicture(HWND wnd, const std::string& fileName) {
    RECT r;
    GetClientRect(wnd, &r);
    const int w = r.right, h = r.bottom;
    HDC screen = GetDC(wnd);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    const BOOL copied = BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((w * 3 + 3) & ~3), size = stride * h;
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader + size), 0, 0,
                        static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader)};
    std::string data(reinterpret_cast<const char*>(&fh), sizeof fh);
    data.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
    data.append(static_cast<const char*>(bits), size);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(wnd, screen);
    return copied && WriteFileBytes(fileName, data);
}

TEST_F(MainDlgTest, PictureOfTheWindowShowingABattery) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    Application().SetMainForm(&d);
    d.Show();
    d.RefreshBattery();
    testsupport::PumpFor(300);
    EXPECT_EQ(d.ClientWidth(), 437);
    EXPECT_EQ(d.ClientHeight(), 409);
    // Every display lies inside its parent: nothing is cut off at a border.
    for (TWinControl* c : {static_cast<TWinControl*>(d.status_btn.get()), static_cast<TWinControl*>(d.volt_btn.get()),
                           static_cast<TWinControl*>(d.health_btn.get()), static_cast<TWinControl*>(d.UxImgBtn1.get()),
                           static_cast<TWinControl*>(d.drivers_btn.get())}) {
        RECT parent = c->Parent()->ClientRect();
        EXPECT_LE(c->Left() + c->Width(), parent.right) << c->Name();
        EXPECT_LE(c->Top() + c->Height(), parent.bottom) << c->Name();
    }
    EXPECT_TRUE(SaveWindowPicture(d.Handle(), ExeFolder() + "MainWindow.bmp"));
    Application().SetMainForm(nullptr);
}

// Every caption of the window fits its box in the font it is drawn with, the values of a
// battery included: nothing is cut off or broken onto a second line.
TEST_F(MainDlgTest, EveryCaptionFitsItsBox) {
    driver.batteries = {FullBattery("\\\\?\\battery#1")};
    TMainDlg& d = Activated();
    d.RefreshBattery();
    d.HandleNeeded();
    std::vector<testsupport::CaptionFit> fits;
    for (TWinControl* c : std::initializer_list<TWinControl*>{
             d.Label2.get(), d.subtitle_lbl.get(), d.drivers_btn.get(), d.status_grp.get(), d.status_btn.get(),
             d.time_btn.get(), d.power_btn.get(), d.rate_btn.get(), d.volt_btn.get(), d.manuf_grp.get(),
             d.manuf_btn.get(), d.manufsn_btn.get(), d.manufdate_btn.get(), d.chem_grp.get(),
             d.chemistry_btn.get(), d.temp_grp.get(), d.temp_btn.get(), d.GroupBox5.get(), d.cycle_btn.get(),
             d.GroupBox1.get(), d.health_btn.get(), d.UxImgBtn1.get()})
        fits.push_back(testsupport::FitOf(*c));
    // The longest texts each display shows for an ordinary battery.
    const std::pair<TUxImgBtn*, std::vector<std::string>> values[] = {
        {d.status_btn.get(), {"100%"}},
        {d.power_btn.get(), {"Power on battery (discharging)", "Power on line (charging)", "Power on line (removed)"}},
        {d.rate_btn.get(), {"150000 mW"}},
        {d.volt_btn.get(), {"20.00 V"}},
        {d.time_btn.get(), {"99h59mins"}},
        {d.manufdate_btn.get(), {"31 / 12 / 2099"}},
        {d.chemistry_btn.get(), {"Lithium Polymer", "Nickel Cadmium", "Nickel Metal Hydride"}},
        {d.temp_btn.get(), {"60 \xB0" "C", "-10 \xB0" "C"}},
        {d.cycle_btn.get(), {"999 cycles", "9999 cycles"}},
        {d.health_btn.get(), {"100%", "N/A"}},
    };
    for (const auto& [btn, texts] : values)
        for (const std::string& text : texts) fits.push_back(testsupport::FitOf(*btn, &text));
    for (const std::string& overflow : testsupport::Overflows(fits)) ADD_FAILURE() << overflow;
}

}  // namespace
