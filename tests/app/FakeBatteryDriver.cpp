#include "FakeBatteryDriver.h"

#include <setupapi.h>

#include <cstring>
#include <new>

namespace testsupport {

FakeBatteryDriver* FakeBatteryDriver::current = nullptr;

namespace {

HMODULE const kSetupApi = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x5E7A0000));
HANDLE const kDevInfoSet = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xD1500000));
constexpr uintptr_t kDeviceHandleBase = 0xBA770000;

FakeBatteryDriver& D() { return *FakeBatteryDriver::current; }

HANDLE WINAPI FakeGetClassDevs(const GUID* guid, PCSTR enumerator, HWND parent, DWORD flags) {
    if (!guid || !IsEqualGUID(*guid, GUID_DEVCLASS_BATTERY)) D().Misuse("class devs: not the battery class");
    if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) D().Misuse("class devs: flags");
    if (enumerator || parent) D().Misuse("class devs: enumerator or window");
    if (D().enumerateThrows) throw std::bad_alloc();
    ++D().setsCreated;
    return kDevInfoSet;
}

BOOL WINAPI FakeEnumDeviceInterfaces(HANDLE set, void* devInfo, const GUID* guid, DWORD index,
                                     void* data) {
    auto* iface = static_cast<SP_DEVICE_INTERFACE_DATA*>(data);
    if (set != kDevInfoSet) D().Misuse("enum: unknown set");
    if (devInfo) D().Misuse("enum: device given");
    if (!guid || !IsEqualGUID(*guid, GUID_DEVCLASS_BATTERY)) D().Misuse("enum: class");
    if (!iface || iface->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        D().Misuse("enum: record size");
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= D().batteries.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    iface->InterfaceClassGuid = GUID_DEVCLASS_BATTERY;
    iface->Flags = SPINT_ACTIVE;
    iface->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI FakeGetDetail(HANDLE set, void* data, void* detail, DWORD size, PDWORD required,
                          void* devInfo) {
    auto* iface = static_cast<SP_DEVICE_INTERFACE_DATA*>(data);
    if (set != kDevInfoSet || !iface || iface->Reserved == 0 || iface->Reserved > D().batteries.size()) {
        D().Misuse("detail: unknown interface");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& path = D().batteries[iface->Reserved - 1].path;
    const DWORD needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
    if (required) *required = needed;
    if (!detail) {
        if (size != 0) D().Misuse("detail: size without buffer");
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* d = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail);
    if (d->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        D().Misuse("detail: record size " + std::to_string(d->cbSize));
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(d->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI FakeDestroyList(HANDLE set) {
    if (set != kDevInfoSet) D().Misuse("destroy: unknown set");
    ++D().setsDestroyed;
    return TRUE;
}

HMODULE WINAPI FakeLoadLibrary(LPCSTR name) {
    if (D().setupApiMissing || lstrcmpiA(name, "setupapi.dll") != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return kSetupApi;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (module != kSetupApi || D().missingEntryPoints.count(name)) return nullptr;
    const std::string n = name;
    auto as = [](auto f) { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f)); };
    if (n == "SetupDiGetClassDevsA") return as(FakeGetClassDevs);
    if (n == "SetupDiEnumDeviceInterfaces") return as(FakeEnumDeviceInterfaces);
    if (n == "SetupDiGetDeviceInterfaceDetailA") return as(FakeGetDetail);
    if (n == "SetupDiDestroyDeviceInfoList") return as(FakeDestroyList);
    return nullptr;
}

HANDLE WINAPI FakeCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE tmpl) {
    if (access != (GENERIC_READ | GENERIC_WRITE)) D().Misuse("open: access");
    if (share != (FILE_SHARE_READ | FILE_SHARE_WRITE)) D().Misuse("open: share");
    if (disposition != OPEN_EXISTING || sa || tmpl) D().Misuse("open: disposition");
    for (size_t i = 0; i < D().batteries.size(); ++i) {
        if (D().batteries[i].path != name) continue;
        if (D().batteries[i].openFails) break;
        static uintptr_t next = 0;
        HANDLE h = reinterpret_cast<HANDLE>(kDeviceHandleBase + 4 * (++next));
        D().open[h] = i;
        ++D().opens;
        return h;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL Reply(const void* data, size_t size, void* out, DWORD outSize, LPDWORD returned) {
    const DWORD n = static_cast<DWORD>(size < outSize ? size : outSize);
    if (n && out) std::memcpy(out, data, n);
    if (returned) *returned = n;
    return TRUE;
}

BOOL WINAPI FakeIoctl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                      LPDWORD returned, LPOVERLAPPED ov) {
    if (returned) *returned = 0;
    auto it = D().open.find(h);
    if (it == D().open.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (ov) D().Misuse("ioctl: overlapped");
    FakeBattery& b = D().batteries[it->second];
    auto fail = [] {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    };
    switch (code) {
        case IOCTL_BATTERY_QUERY_TAG:
            if (inSize != 0 || outSize != sizeof(uint32_t)) D().Misuse("tag: sizes");
            if (b.tagThrows) throw std::bad_alloc();
            if (b.tagFails) return fail();
            return Reply(&b.tag, sizeof b.tag, out, outSize, returned);
        case IOCTL_BATTERY_QUERY_STATUS: {
            if (inSize != sizeof(TBatWaitStatus) || outSize != sizeof(TBatStatus)) {
                D().Misuse("status: sizes");
                return fail();
            }
            const auto* w = static_cast<const TBatWaitStatus*>(in);
            if (w->BatteryTag != b.tag || w->Timeout != 1 || w->PowerState || w->LowCapacity ||
                w->HighCapacity)
                D().Misuse("status: wait input");
            if (b.statusFails) return fail();
            return Reply(&b.status, sizeof b.status, out, outSize, returned);
        }
        case IOCTL_BATTERY_QUERY_INFORMATION: {
            if (inSize != sizeof(TBatQueryInformation)) {
                D().Misuse("information: input size");
                return fail();
            }
            const auto* q = static_cast<const TBatQueryInformation*>(in);
            if (q->BatteryTag != b.tag || q->AtRate != 0) D().Misuse("information: input");
            D().levelsAsked.push_back(q->InformationLevel);
            auto level = b.levels.find(q->InformationLevel);
            if (level == b.levels.end()) return fail();
            if (outSize < level->second.size() && q->InformationLevel != BatteryManufactureName &&
                q->InformationLevel != BatteryDeviceName && q->InformationLevel != BatterySerialNumber &&
                q->InformationLevel != BatteryUniqueID) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            return Reply(level->second.data(), level->second.size(), out, outSize, returned);
        }
        default:
            D().Misuse("ioctl: unknown code");
            return fail();
    }
}

BOOL WINAPI FakeCloseHandle(HANDLE h) {
    if (!D().open.erase(h)) {
        ++D().badCloses;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ++D().closes;
    return TRUE;
}

}  // namespace

void FakeBattery::SetText(uint32_t level, const std::wstring& text, bool terminate) {
    std::vector<uint8_t> bytes((text.size() + (terminate ? 1 : 0)) * sizeof(wchar_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    levels[level] = std::move(bytes);
}

void FakeBattery::SetValue(uint32_t level, uint32_t value) {
    std::vector<uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    levels[level] = std::move(bytes);
}

void FakeBattery::SetInformation(const TBatInformation& info) {
    std::vector<uint8_t> bytes(sizeof info);
    std::memcpy(bytes.data(), &info, sizeof info);
    levels[BatteryInformation] = std::move(bytes);
}

void FakeBattery::SetDate(uint8_t day, uint8_t month, uint16_t year) {
    const TBatManufactureDateOut d{day, month, year};
    std::vector<uint8_t> bytes(sizeof d);
    std::memcpy(bytes.data(), &d, sizeof d);
    levels[BatteryManufactureDate] = std::move(bytes);
}

FakeBattery FullBattery(const std::string& path) {
    FakeBattery b;
    b.path = path;
    b.status = {2, 41000, 11900, -9500};
    b.SetText(BatteryManufactureName, L"Quillmark Cells");
    b.SetText(BatteryDeviceName, L"QC-6 Li-ion");
    b.SetText(BatterySerialNumber, L"SN 00042");
    b.SetText(BatteryUniqueID, L"QC600042");
    b.SetDate(17, 6, 2021);
    TBatInformation info{};
    info.Capabilities = 0x80000000;
    info.Technology = 1;
    std::memcpy(info.Chemistry, "LION", 4);
    info.DesignedCapacity = 57000;
    info.FullChargedCapacity = 51300;
    info.DefaultAlert1 = 2850;
    info.DefaultAlert2 = 570;
    info.CriticalBias = 12;
    info.CycleCount = 321;
    b.SetInformation(info);
    b.SetValue(BatteryEstimatedTime, 15540);
    b.SetValue(BatteryTemperature, 3031);
    return b;
}

FakeBatteryDriver::FakeBatteryDriver() {
    current = this;
    BatDriver() = TBatDriver{FakeLoadLibrary, FakeGetProcAddress, FakeCreateFile, FakeIoctl,
                             FakeCloseHandle};
}

FakeBatteryDriver::~FakeBatteryDriver() {
    BatDriver() = RealBatDriver();
    current = nullptr;
}

void FakeBatteryDriver::Misuse(const std::string& what) {
    ++misuse;
    misuseLog.push_back(what);
}

}  // namespace testsupport
