#include "app/BatData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "FakeBatteryDriver.h"

namespace {

using testsupport::FakeBattery;
using testsupport::FakeBatteryDriver;
using testsupport::FullBattery;

// All fields, for whole-record comparisons.
auto Fields(const TBatData& d) {
    return std::make_tuple(d.ManufactureName, d.SerialNumber, d.UniqueId, d.ManufactureDate.Day,
                           d.ManufactureDate.Month, d.ManufactureDate.Year, d.Capabilities,
                           d.DeviceName, d.PowerState, d.Voltage, d.Capacity, d.FullChargedCapacity,
                           d.DesignedCapacity, d.DefaultAlert1, d.DefaultAlert2, d.CriticalBias,
                           d.EstimatedTime, d.Temperature, d.Chemistry, d.CycleCount, d.Rate);
}

class BatEnumTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Whatever a test did, every handle went back and the driver saw no wrong call.
        EXPECT_EQ(driver.OpenHandles(), 0) << "device handles left open";
        EXPECT_EQ(driver.badCloses, 0);
        EXPECT_EQ(driver.setsCreated, driver.setsDestroyed) << "device-information sets left";
        EXPECT_EQ(driver.misuse, 0) << (driver.misuseLog.empty() ? "" : driver.misuseLog[0]);
    }

    TBatData QueryFirst(const FakeBattery& b) {
        driver.batteries = {b};
        TBatEnum e;
        EXPECT_EQ(e.Count(), 1);
        TBatData d;
        e.Query(0, d);
        return d;
    }

    FakeBatteryDriver driver;
};

TEST_F(BatEnumTest, EnumerationFollowsThePresentBatteriesAndIsRebuiltEachTime) {
    TBatEnum e;
    EXPECT_TRUE(e.Loaded);
    EXPECT_EQ(e.Count(), 0) << "no battery interface";
    EXPECT_TRUE(e.Paths.empty());

    driver.batteries = {FullBattery("\\\\?\\acpi#pnp0c0a#1#{72631e54}"),
                        FullBattery("\\\\?\\acpi#pnp0c0a#2#{72631e54}")};
    EXPECT_EQ(e.Enumerate(), 2);
    EXPECT_EQ(e.Enumerate(), 2) << "a second call must not append";
    ASSERT_EQ(e.Count(), 2);
    EXPECT_EQ(e.Paths[0], driver.batteries[0].path);
    EXPECT_EQ(e.Paths[1], driver.batteries[1].path);

    driver.batteries.pop_back();
    EXPECT_EQ(e.Enumerate(), 1);
    driver.batteries.clear();
    EXPECT_EQ(e.Enumerate(), 0);
    EXPECT_TRUE(e.Paths.empty());
}

TEST_F(BatEnumTest, CreationEnumeratesAtOnceAndLongPathsSurvive) {
    const std::string longPath = "\\\\?\\" + std::string(600, 'p');
    driver.batteries = {FullBattery(longPath)};
    TBatEnum e;
    ASSERT_EQ(e.Count(), 1);
    EXPECT_EQ(e.Paths[0], longPath);
}

TEST_F(BatEnumTest, MissingSetupApiOrEntryPointMeansNoBattery) {
    driver.batteries = {FullBattery("b1")};
    driver.setupApiMissing = true;
    {
        TBatEnum e;
        EXPECT_FALSE(e.Loaded);
        EXPECT_EQ(e.Enumerate(), 0);
    }
    driver.setupApiMissing = false;
    for (const char* name : {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces",
                             "SetupDiGetDeviceInterfaceDetailA", "SetupDiDestroyDeviceInfoList"}) {
        driver.missingEntryPoints = {name};
        TBatEnum e;
        EXPECT_FALSE(e.Loaded) << name;
        EXPECT_EQ(e.Count(), 0) << name;
    }
    EXPECT_EQ(driver.setsCreated, 0);
}

TEST_F(BatEnumTest, QueryReadsEveryFieldFromItsSource) {
    const TBatData d = QueryFirst(FullBattery("b1"));
    EXPECT_EQ(d.ManufactureName, "Quillmark Cells");
    EXPECT_EQ(d.DeviceName, "QC-6 Li-ion");
    EXPECT_EQ(d.SerialNumber, "SN 00042");
    EXPECT_EQ(d.UniqueId, "QC600042");
    EXPECT_EQ(d.ManufactureDate.Day, 17);
    EXPECT_EQ(d.ManufactureDate.Month, 6);
    EXPECT_EQ(d.ManufactureDate.Year, 2021);
    EXPECT_EQ(d.Capabilities, 0x80000000u);
    EXPECT_EQ(d.PowerState, 2u);
    EXPECT_EQ(d.Capacity, 41000u);
    EXPECT_EQ(d.Voltage, 11900u);
    EXPECT_EQ(d.Rate, -9500);
    EXPECT_EQ(d.DesignedCapacity, 57000u);
    EXPECT_EQ(d.FullChargedCapacity, 51300u);
    EXPECT_EQ(d.DefaultAlert1, 2850u);
    EXPECT_EQ(d.DefaultAlert2, 570u);
    EXPECT_EQ(d.CriticalBias, 12u);
    EXPECT_EQ(d.CycleCount, 321u);
    EXPECT_EQ(d.Chemistry, "LION");
    EXPECT_EQ(d.EstimatedTime, 15540u);
    EXPECT_EQ(d.Temperature, 3031u);
    // The texts in this order, then the other levels, each asked once.
    ASSERT_EQ(driver.levelsAsked.size(), 8u);
    const std::vector<uint32_t> asked(driver.levelsAsked.begin(), driver.levelsAsked.begin() + 4);
    EXPECT_EQ(asked, (std::vector<uint32_t>{6, 4, 8, 7}));
}

TEST_F(BatEnumTest, QueriesTheBatteryItIsAskedFor) {
    FakeBattery second = FullBattery("b2");
    second.tag = 77;
    second.SetText(BatteryManufactureName, L"Second");
    driver.batteries = {FullBattery("b1"), second};
    TBatEnum e;
    TBatData d;
    e.Query(1, d);
    EXPECT_EQ(d.ManufactureName, "Second");
}

TEST_F(BatEnumTest, UnknownVoltageAndZeroTemperatureReadAsZero) {
    const struct {
        uint32_t voltage, temperature;
        uint32_t wantVoltage, wantTemperature;
    } cases[] = {{0xFFFFFFFF, 0, 0, 0}, {0xFFFFFFFE, 1, 0xFFFFFFFE, 1}, {0, 2981, 0, 2981}};
    for (const auto& c : cases) {
        FakeBattery b = FullBattery("b1");
        b.status.Voltage = c.voltage;
        b.SetValue(BatteryTemperature, c.temperature);
        const TBatData d = QueryFirst(b);
        EXPECT_EQ(d.Voltage, c.wantVoltage) << c.voltage;
        EXPECT_EQ(d.Temperature, c.wantTemperature) << c.temperature;
    }
}

TEST_F(BatEnumTest, ChemistryEndsAtTheFirstNulByte) {
    const struct {
        char bytes[4];
        const char* code;
    } cases[] = {{{'L', 'I', 'O', 'N'}, "LION"}, {{'R', 'A', 'M', 0}, "RAM"},
                 {{'L', 'I', 'P', 0}, "LIP"},    {{0, 0, 0, 0}, ""},
                 {{'P', 0, 'b', 'A'}, "P"}};
    for (const auto& c : cases) {
        FakeBattery b = FullBattery("b1");
        TBatInformation info{};
        std::memcpy(info.Chemistry, c.bytes, 4);
        b.SetInformation(info);
        EXPECT_EQ(QueryFirst(b).Chemistry, c.code);
    }
}

TEST_F(BatEnumTest, AFailedOpenTagOrStatusLeavesTheRecordEmpty) {
    const TBatData empty;
    for (int failing = 0; failing < 3; ++failing) {
        FakeBattery b = FullBattery("b1");
        b.openFails = failing == 0;
        b.tagFails = failing == 1;
        b.statusFails = failing == 2;
        EXPECT_EQ(Fields(QueryFirst(b)), Fields(empty)) << "failing step " << failing;
        EXPECT_TRUE(driver.levelsAsked.empty());
    }
}

TEST_F(BatEnumTest, ARefusedLevelLeavesOnlyItsOwnFields) {
    const TBatData full = QueryFirst(FullBattery("b1"));
    const struct {
        uint32_t level;
        void (*clear)(TBatData&);
    } cases[] = {
        {BatteryManufactureName, [](TBatData& d) { d.ManufactureName.clear(); }},
        {BatteryDeviceName, [](TBatData& d) { d.DeviceName.clear(); }},
        {BatterySerialNumber, [](TBatData& d) { d.SerialNumber.clear(); }},
        {BatteryUniqueID, [](TBatData& d) { d.UniqueId.clear(); }},
        {BatteryManufactureDate, [](TBatData& d) { d.ManufactureDate = {}; }},
        {BatteryEstimatedTime, [](TBatData& d) { d.EstimatedTime = 0; }},
        {BatteryTemperature, [](TBatData& d) { d.Temperature = 0; }},
        {BatteryInformation,
         [](TBatData& d) {
             d.Chemistry.clear();
             d.FullChargedCapacity = d.DesignedCapacity = d.CycleCount = d.Capabilities = 0;
             d.DefaultAlert1 = d.DefaultAlert2 = d.CriticalBias = 0;
         }},
    };
    for (const auto& c : cases) {
        FakeBattery b = FullBattery("b1");
        b.levels.erase(c.level);
        TBatData want = full;
        c.clear(want);
        EXPECT_EQ(Fields(QueryFirst(b)), Fields(want)) << "level " << c.level;
    }
}

TEST_F(BatEnumTest, TextRepliesStopAtTheirNulAndNeverReadPastTheReply) {
    FakeBattery b = FullBattery("b1");
    // A long first reply leaves bytes in the shared buffer that later replies must not show.
    b.SetText(BatteryManufactureName, L"LONG MANUFACTURER NAME");
    b.SetText(BatteryDeviceName, L"ab", false);  // no NUL at all
    b.SetText(BatterySerialNumber, L"x\0yz");    // stops at the embedded NUL
    // Odd length: the half character at the end is not a character.
    b.SetText(BatteryUniqueID, L"abc", false);
    b.levels[BatteryUniqueID].push_back('Z');
    const TBatData d = QueryFirst(b);
    EXPECT_EQ(d.ManufactureName, "LONG MANUFACTURER NAME");
    EXPECT_EQ(d.DeviceName, "ab");
    EXPECT_EQ(d.SerialNumber, "x");
    EXPECT_EQ(d.UniqueId, "abc");
}

TEST_F(BatEnumTest, TextRepliesConvertToTheAnsiCodePageAndAreBoundedByTheBuffer) {
    FakeBattery b = FullBattery("b1");
    b.SetText(BatteryManufactureName, L"M\u00fcller \u00c9nergie");
    b.SetText(BatteryDeviceName, std::wstring(400, L'w'), false);  // longer than the buffer
    b.SetText(BatterySerialNumber, L"");
    const TBatData d = QueryFirst(b);
    EXPECT_EQ(d.ManufactureName, "M\xFCller \xC9nergie");
    EXPECT_EQ(d.DeviceName, std::string(130, 'w')) << "261 bytes hold 130 UTF-16 characters";
    EXPECT_EQ(d.SerialNumber, "");
}

TEST(BatEnumReal, TheRealSetupApiUnderWineListsNoBattery) {
    BatDriver() = RealBatDriver();
    TBatEnum e;
    EXPECT_TRUE(e.Loaded) << "setupapi.dll and its four entry points load";
    EXPECT_EQ(e.Enumerate(), 0);
    EXPECT_TRUE(e.Paths.empty());
}

}  // namespace
