// How long a settings.ini of 20,000 entries (half strings, half numbers) takes to import,
// against a baseline in the same process: the same values written to the key directly; and
// for reference the entries read one by one. Then the export of the imported key, into the
// file it came from (as the portable close does) and into a new file, against the import:
// the goal is at most twice its time.
#include <windows.h>

#include <cstdio>
#include <string>

#include "foundation/JoryUtils.h"
#include "framework/IniFile.h"
#include "framework/Registry.h"
#include "bench/BenchPump.h"

namespace {

constexpr int kEntries = 20000;
constexpr const char* kProduct = "VoltAtlasBench";
const std::string kKey = std::string("SOFTWARE\\Quillmark\\") + kProduct;

}  // namespace

int main() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string ini = std::string(temp) + "va-settingsbench.ini";
    std::string strings = "[Settings]\r\n", numbers = "[Settings_DWORD]\r\n";
    for (int i = 0; i < kEntries / 2; ++i) {
        strings += "Text" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
        numbers += "Number" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
    }
    HANDLE f = CreateFileA(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const std::string text = strings + numbers;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    double start = 0, stop = 0;

    DeleteProductSettingsKey(kProduct);
    start = bench::Now();
    {
        framework::TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
        reg.OpenKey(kKey, true);
        for (int i = 0; i < kEntries / 2; ++i) {
            reg.WriteString("Text" + std::to_string(i), "value " + std::to_string(i));
            reg.WriteInteger("Number" + std::to_string(i), i * 7);
        }
    }
    stop = bench::Now();
    const double baseMs = 1000.0 * (stop - start);

    DeleteProductSettingsKey(kProduct);
    start = bench::Now();
    ImportIniSettings(kProduct, ini);
    stop = bench::Now();
    const double importMs = 1000.0 * (stop - start);

    // Reference: the entries read one by one through the profile service, as the import once
    // did (each reading searches the file's cache from the top).
    start = bench::Now();
    {
        const framework::TIniFile file(ini);
        framework::TStringList entries;
        size_t total = 0;
        for (const char* section : {"Settings", "Settings_DWORD"}) {
            file.ReadSection(section, entries);
            for (int i = 0; i < entries.Count(); ++i) total += file.ReadString(section, entries[i], "").size();
        }
        std::printf("reference read %zu characters\n", total);
    }
    stop = bench::Now();
    const double perEntryMs = 1000.0 * (stop - start);

    framework::TStringList names;
    {
        framework::TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
        if (reg.OpenKey(kKey, false)) reg.GetValueNames(names);
    }

    start = bench::Now();
    const bool exportedInPlace = ExportIniSettings(kProduct, ini);
    stop = bench::Now();
    const double exportInPlaceMs = 1000.0 * (stop - start);
    const std::string fresh = std::string(temp) + "va-settingsbench-new.ini";
    DeleteFileA(fresh.c_str());
    start = bench::Now();
    const bool exportedNew = ExportIniSettings(kProduct, fresh);
    stop = bench::Now();
    const double exportNewMs = 1000.0 * (stop - start);
    // Both files read back as the key holds it.
    DeleteProductSettingsKey(kProduct);
    ImportIniSettings(kProduct, fresh);
    framework::TStringList again;
    {
        framework::TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
        if (reg.OpenKey(kKey, false)) reg.GetValueNames(again);
    }
    DeleteFileA(fresh.c_str());
    DeleteProductSettingsKey(kProduct);
    DeleteCompanyKeyIfEmpty();
    DeleteFileA(ini.c_str());
    std::printf("values imported: %d of %d\n", names.Count(), kEntries);
    std::printf("import of %d entries: %.1f ms; baseline (the values written directly): %.1f ms; ratio %.2f\n",
                kEntries, importMs, baseMs, importMs / baseMs);
    std::printf("reference (entries read one by one, no registry): %.1f ms; ratio %.2f\n", perEntryMs,
                perEntryMs / baseMs);
    std::printf("export of %d entries into the file they came from: %.1f ms (%s); ratio to the import %.2f\n",
                names.Count(), exportInPlaceMs, exportedInPlace ? "complete" : "FAILED", exportInPlaceMs / importMs);
    std::printf("export of %d entries into a new file: %.1f ms (%s, %d values read back); ratio to the import %.2f\n",
                names.Count(), exportNewMs, exportedNew ? "complete" : "FAILED", again.Count(), exportNewMs / importMs);
    return 0;
}
