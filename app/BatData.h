// Battery enumeration: finds the present battery device interfaces through the setup API
// and reads one battery's identity, design data and live state with the battery class
// driver's I/O controls. GUI thread only; no handle is kept between calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// One battery's answers; a field the driver did not answer stays empty or 0.
struct TBatData {
    struct TManufactureDate {
        uint8_t Day = 0;
        uint8_t Month = 0;
        uint16_t Year = 0;
    };

    std::string ManufactureName;
    std::string SerialNumber;
    std::string UniqueId;
    TManufactureDate ManufactureDate;
    uint32_t Capabilities = 0;
    std::string DeviceName;
    uint32_t PowerState = 0;  // 1 on line, 2 discharging, 4 charging
    uint32_t Voltage = 0;     // mV
    uint32_t Capacity = 0;    // mWh remaining
    uint32_t FullChargedCapacity = 0;
    uint32_t DesignedCapacity = 0;
    uint32_t DefaultAlert1 = 0;
    uint32_t DefaultAlert2 = 0;
    uint32_t CriticalBias = 0;
    uint32_t EstimatedTime = 0;  // seconds
    uint32_t Temperature = 0;    // tenths of a kelvin
    std::string Chemistry;       // up to four characters
    uint32_t CycleCount = 0;
    int32_t Rate = 0;  // mW; negative while discharging
};

// The battery driver as the enumerator reaches it. Filled with the real Win32 functions;
// Wine has no battery class driver, so tests put a driver of their own in its place.
struct TBatDriver {
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* DeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* CloseHandle)(HANDLE);
};

// The table in use; assign to it to replace the driver, RealBatDriver() to restore it.
TBatDriver& BatDriver();
TBatDriver RealBatDriver();

// Battery class interface and its I/O controls.
inline constexpr GUID GUID_DEVCLASS_BATTERY = {
    0x72631E54, 0x78A4, 0x11D0, {0xBC, 0xF7, 0x00, 0xAA, 0x00, 0xB7, 0xB3, 0x2A}};
inline constexpr DWORD IOCTL_BATTERY_QUERY_TAG = 0x294040;
inline constexpr DWORD IOCTL_BATTERY_QUERY_INFORMATION = 0x294044;
inline constexpr DWORD IOCTL_BATTERY_QUERY_STATUS = 0x29404C;

// Information levels of IOCTL_BATTERY_QUERY_INFORMATION.
enum TBatInfoLevel : uint32_t {
    BatteryInformation = 0,
    BatteryGranularityInformation = 1,
    BatteryTemperature = 2,
    BatteryEstimatedTime = 3,
    BatteryDeviceName = 4,
    BatteryManufactureDate = 5,
    BatteryManufactureName = 6,
    BatteryUniqueID = 7,
    BatterySerialNumber = 8,
};

#pragma pack(push, 1)
struct TBatQueryInformation {  // 12 bytes in
    uint32_t BatteryTag;
    uint32_t InformationLevel;
    int32_t AtRate;
};
struct TBatWaitStatus {  // 20 bytes in
    uint32_t BatteryTag;
    uint32_t Timeout;
    uint32_t PowerState;
    uint32_t LowCapacity;
    uint32_t HighCapacity;
};
struct TBatStatus {  // 16 bytes out
    uint32_t PowerState;
    uint32_t Capacity;
    uint32_t Voltage;
    int32_t Rate;
};
struct TBatInformation {  // 36 bytes out, level 0
    uint32_t Capabilities;
    uint8_t Technology;
    uint8_t Reserved[3];
    uint8_t Chemistry[4];
    uint32_t DesignedCapacity;
    uint32_t FullChargedCapacity;
    uint32_t DefaultAlert1;
    uint32_t DefaultAlert2;
    uint32_t CriticalBias;
    uint32_t CycleCount;
};
struct TBatManufactureDateOut {  // 4 bytes out, level 5
    uint8_t Day;
    uint8_t Month;
    uint16_t Year;
};
#pragma pack(pop)
static_assert(sizeof(TBatQueryInformation) == 12 && sizeof(TBatWaitStatus) == 20 &&
              sizeof(TBatStatus) == 16 && sizeof(TBatInformation) == 36 &&
              sizeof(TBatManufactureDateOut) == 4);

class TBatEnum {
public:
    // Loads "setupapi.dll" and enumerates at once when its four entry points are there.
    TBatEnum();

    int32_t Count() const { return static_cast<int32_t>(Paths.size()); }
    // Rebuilds Paths from the present battery interfaces; returns the new count.
    int32_t Enumerate();
    // Opens battery Index (below Count) and fills Data with what the driver answers.
    void Query(int32_t Index, TBatData& Data);

    bool Loaded = false;
    std::vector<std::string> Paths;

    using TGetClassDevs = HANDLE(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
    using TEnumDeviceInterfaces = BOOL(WINAPI*)(HANDLE, void*, const GUID*, DWORD, void*);
    using TGetDeviceInterfaceDetail = BOOL(WINAPI*)(HANDLE, void*, void*, DWORD, PDWORD, void*);
    using TDestroyDeviceInfoList = BOOL(WINAPI*)(HANDLE);
    TGetClassDevs GetClassDevs = nullptr;
    TEnumDeviceInterfaces EnumDeviceInterfaces = nullptr;
    TGetDeviceInterfaceDetail GetDeviceInterfaceDetail = nullptr;
    TDestroyDeviceInfoList DestroyDeviceInfoList = nullptr;
};
