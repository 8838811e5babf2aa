// A battery class driver of our own behind the enumerator's driver table: Wine has none.
// It answers the setup API and the battery I/O controls from a list of fake batteries,
// checks what the enumerator sends (record sizes, flags, access, tags, input sizes), and
// counts every handle it hands out and gets back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/BatData.h"

namespace testsupport {

struct FakeBattery {
    std::string path;
    bool openFails = false;
    uint32_t tag = 0x1234;
    bool tagFails = false;
    bool statusFails = false;
    bool tagThrows = false;  // the tag query raises, as a failed allocation would
    TBatStatus status{};
    // Reply bytes of each information level; a level without an entry is refused.
    std::map<uint32_t, std::vector<uint8_t>> levels;

    // Helpers to fill the replies.
    void SetText(uint32_t level, const std::wstring& text, bool terminate = true);
    void SetValue(uint32_t level, uint32_t value);
    void SetInformation(const TBatInformation& info);
    void SetDate(uint8_t day, uint8_t month, uint16_t year);
};

// A battery that answers everything, with distinct values in every field.
FakeBattery FullBattery(const std::string& path);

class FakeBatteryDriver {
public:
    // Installs itself as the enumerator's driver; the destructor puts the real one back.
    FakeBatteryDriver();
    ~FakeBatteryDriver();
    FakeBatteryDriver(const FakeBatteryDriver&) = delete;
    FakeBatteryDriver& operator=(const FakeBatteryDriver&) = delete;

    std::vector<FakeBattery> batteries;
    bool setupApiMissing = false;
    bool enumerateThrows = false;  // the device-information set raises
    std::set<std::string> missingEntryPoints;

    // What happened.
    int opens = 0;            // device handles handed out
    int closes = 0;           // device handles closed
    int badCloses = 0;        // closes of a handle that was not open
    int setsCreated = 0;      // device-information sets handed out
    int setsDestroyed = 0;
    int misuse = 0;           // calls with wrong sizes, flags, tags or access
    std::vector<std::string> misuseLog;
    std::vector<uint32_t> levelsAsked;

    int OpenHandles() const { return opens - closes; }

    static FakeBatteryDriver* current;

    // Handles currently open, each to a battery index.
    std::map<HANDLE, size_t> open;
    void Misuse(const std::string& what);
};

}  // namespace testsupport
