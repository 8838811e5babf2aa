#include "app/BatData.h"

#include <setupapi.h>

#include <cstring>
#include <memory>

#include "framework/Handles.h"

namespace {

constexpr DWORD kDigcfPresentInterface = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;  // 0x12
constexpr DWORD kTextBufferSize = 261;

// Converts a UTF-16 reply of `bytes` bytes, up to its first NUL, to the ANSI code page.
std::string WideReplyToAnsi(const unsigned char* reply, DWORD bytes) {
    const size_t maxChars = bytes / sizeof(wchar_t);
    std::wstring text;
    text.reserve(maxChars);
    for (size_t i = 0; i < maxChars; ++i) {
        wchar_t c;
        std::memcpy(&c, reply + i * sizeof(wchar_t), sizeof c);
        if (c == L'\0') break;
        text.push_back(c);
    }
    if (text.empty()) return std::string();
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(needed > 0 ? needed : 0, '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            needed, nullptr, nullptr);
    return out;
}

// Closes the battery device through the driver table on every way out of Query.
class DeviceHandle {
public:
    explicit DeviceHandle(HANDLE h) : h_(h) {}
    ~DeviceHandle() {
        if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) BatDriver().CloseHandle(h_);
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

bool Ioctl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
           DWORD* returned = nullptr) {
    DWORD got = 0;
    const BOOL ok = BatDriver().DeviceIoControl(device, code, in, inSize, out, outSize, &got, nullptr);
    if (returned) *returned = got > outSize ? outSize : got;
    return ok != FALSE;
}

}  // namespace

TBatDriver RealBatDriver() {
    return TBatDriver{::LoadLibraryA, ::GetProcAddress, ::CreateFileA, ::DeviceIoControl,
                      ::CloseHandle};
}

TBatDriver& BatDriver() {
    static TBatDriver driver = RealBatDriver();
    return driver;
}

TBatEnum::TBatEnum() {
    Loaded = false;
    // The library is deliberately never freed: the entry points stay in use for the
    // program's life.
    HMODULE lib = BatDriver().LoadLibraryA("setupapi.dll");
    if (lib) {
        auto& d = BatDriver();
        GetClassDevs = framework::ProcAs<TGetClassDevs>(d.GetProcAddress(lib, "SetupDiGetClassDevsA"));
        EnumDeviceInterfaces = framework::ProcAs<TEnumDeviceInterfaces>(
            d.GetProcAddress(lib, "SetupDiEnumDeviceInterfaces"));
        GetDeviceInterfaceDetail = framework::ProcAs<TGetDeviceInterfaceDetail>(
            d.GetProcAddress(lib, "SetupDiGetDeviceInterfaceDetailA"));
        DestroyDeviceInfoList = framework::ProcAs<TDestroyDeviceInfoList>(
            d.GetProcAddress(lib, "SetupDiDestroyDeviceInfoList"));
        Loaded = GetClassDevs && EnumDeviceInterfaces && GetDeviceInterfaceDetail &&
                 DestroyDeviceInfoList;
        if (Loaded) Enumerate();
    }
}

int32_t TBatEnum::Enumerate() {
    Paths.clear();
    if (!Loaded) return 0;

    const HANDLE set = GetClassDevs(&GUID_DEVCLASS_BATTERY, nullptr, nullptr, kDigcfPresentInterface);
    if (set == INVALID_HANDLE_VALUE) return 0;
    // Freed however the loop ends: a path that cannot be stored throws out of it.
    const std::unique_ptr<void, TDestroyDeviceInfoList> owner(set, DestroyDeviceInfoList);

    using Fixed = SP_DEVICE_INTERFACE_DETAIL_DATA_A;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        if (!EnumDeviceInterfaces(set, nullptr, &GUID_DEVCLASS_BATTERY, i, &iface)) break;

        DWORD required = 0;
        GetDeviceInterfaceDetail(set, &iface, nullptr, 0, &required, nullptr);
        // Five spare zero bytes keep the path terminated whatever the driver wrote.
        std::vector<char> buffer(static_cast<size_t>(required) + 5, '\0');
        const DWORD fixedSize = sizeof(Fixed);
        std::memcpy(buffer.data(), &fixedSize, sizeof fixedSize);
        GetDeviceInterfaceDetail(set, &iface, buffer.data(), required, nullptr, nullptr);

        const size_t pathAt = offsetof(Fixed, DevicePath);
        const char* path = buffer.data() + pathAt;
        Paths.emplace_back(path, strnlen(path, buffer.size() - pathAt));
    }
    return Count();
}

void TBatEnum::Query(int32_t Index, TBatData& Data) {
    DeviceHandle device(BatDriver().CreateFileA(
        Paths.at(Index).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const HANDLE h = device.get();

    uint32_t tag = 0;
    if (!Ioctl(h, IOCTL_BATTERY_QUERY_TAG, nullptr, 0, &tag, sizeof tag)) return;

    TBatQueryInformation info{};
    info.BatteryTag = tag;
    TBatWaitStatus wait{tag, 1, 0, 0, 0};
    TBatStatus status{};
    if (!Ioctl(h, IOCTL_BATTERY_QUERY_STATUS, &wait, sizeof wait, &status, sizeof status)) return;
    Data.PowerState = status.PowerState;
    Data.Capacity = status.Capacity;
    Data.Voltage = status.Voltage == 0xFFFFFFFFu ? 0 : status.Voltage;
    Data.Rate = status.Rate;

    auto queryLevel = [&](uint32_t level, void* out, DWORD size, DWORD* returned = nullptr) {
        info.InformationLevel = level;
        return Ioctl(h, IOCTL_BATTERY_QUERY_INFORMATION, &info, sizeof info, out, size, returned);
    };

    {
        // One buffer for the four texts, never cleared between them: only the bytes each
        // reply returned are read.
        auto text = std::make_unique<unsigned char[]>(kTextBufferSize);
        std::memset(text.get(), 0, kTextBufferSize);
        struct {
            uint32_t level;
            std::string* field;
        } const texts[] = {{BatteryManufactureName, &Data.ManufactureName},
                           {BatteryDeviceName, &Data.DeviceName},
                           {BatterySerialNumber, &Data.SerialNumber},
                           {BatteryUniqueID, &Data.UniqueId}};
        for (const auto& t : texts) {
            DWORD got = 0;
            if (queryLevel(t.level, text.get(), kTextBufferSize, &got))
                *t.field = WideReplyToAnsi(text.get(), got);
        }
    }

    TBatManufactureDateOut date{};
    if (queryLevel(BatteryManufactureDate, &date, sizeof date))
        Data.ManufactureDate = {date.Day, date.Month, date.Year};

    TBatInformation bi{};
    if (queryLevel(BatteryInformation, &bi, sizeof bi)) {
        Data.Chemistry.assign(reinterpret_cast<const char*>(bi.Chemistry),
                              strnlen(reinterpret_cast<const char*>(bi.Chemistry), 4));
        Data.FullChargedCapacity = bi.FullChargedCapacity;
        Data.DesignedCapacity = bi.DesignedCapacity;
        Data.CycleCount = bi.CycleCount;
        Data.Capabilities = bi.Capabilities;
        Data.DefaultAlert1 = bi.DefaultAlert1;
        Data.DefaultAlert2 = bi.DefaultAlert2;
        Data.CriticalBias = bi.CriticalBias;
    }

    uint32_t value = 0;
    if (queryLevel(BatteryEstimatedTime, &value, sizeof value)) Data.EstimatedTime = value;
    value = 0;
    if (queryLevel(BatteryTemperature, &value, sizeof value) && value != 0) Data.Temperature = value;
}
