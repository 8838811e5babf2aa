// What naming a program costs: GetDisplayedFileInfo + GetFileVersionText for every file of
// the system DLL folder, with a few hundred Uninstall entries present (the version rows and
// probes scan them), against a bare GetFileVersionInfoA / VerQueryValueA read of the same
// file in the same process. Prints per-file medians and their ratio. Then how the text
// clean-ups scale with hostile input: the time for 8x the marks over the time for 1x (8 for a
// linear pass, 64 for a quadratic one).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/Registry.h"
#include "update/PlimFct.h"

namespace {

constexpr int kEntries = 300;
const char* const kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1e6 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The entries a machine with some software installed holds: HKLM (both views) and HKCU.
void Entries(bool create) {
    struct View {
        HKEY root;
        REGSAM view;
    };
    const View views[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                          {HKEY_CURRENT_USER, KEY_WOW64_64KEY}};
    for (int i = 0; i < kEntries; ++i) {
        const View& v = views[i % 3];
        framework::TRegistry reg(v.root, KEY_ALL_ACCESS | v.view);
        const std::string key = std::string(kUninstall) + "va-bench-" + std::to_string(i);
        if (!create) {
            reg.DeleteKey(key);
            continue;
        }
        if (!reg.OpenKey(key, true)) continue;
        reg.WriteString("DisplayName", "Bench Product " + std::to_string(i) + " " + std::to_string(i % 7) + ".1");
        reg.WriteString("DisplayVersion", std::to_string(i % 7) + ".1." + std::to_string(i));
        reg.WriteString("Publisher", "Bench Maker " + std::to_string(i % 11));
        reg.WriteString("InstallLocation", "C:\\Program Files\\Bench " + std::to_string(i) + "\\");
    }
}

// The baseline: what Windows' own version API costs for the same file.
std::string BareRead(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (!size) return std::string();
    std::string data(size, '\0');
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return std::string();
    void* value = nullptr;
    UINT length = 0;
    std::string result;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && value) result += "fixed;";
    if (VerQueryValueA(data.data(), "\\StringFileInfo\\040904b0\\ProductName", &value, &length) && value)
        result += static_cast<const char*>(value);
    return result;
}

// Best of a few runs of F on Text, in microseconds.
template <typename F>
double BestOf(const std::string& Text, F f) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        const double t0 = Now();
        const std::string r = f(Text);
        const double t1 = Now();
        if (r.empty()) std::printf("(empty result)\n");
        best = std::min(best, t1 - t0);
    }
    return best;
}

void Scaling(const char* What, const std::string& Head, const std::string& Mark, const std::string& Tail,
             std::string (*F)(const std::string&)) {
    auto text = [&](int n) {
        std::string s = Head;
        for (int i = 0; i < n; ++i) s += Mark;
        return s + Tail;
    };
    const double small = BestOf(text(1000), F), large = BestOf(text(8000), F);
    std::printf("%s: 1000 marks %.0f us, 8000 marks %.0f us, scaling %.1f\n", What, small, large,
                small > 0 ? large / small : 0.0);
}

std::string StripNotice(const std::string& S) { return StripCopyrightNotice(S); }
std::string Clean(const std::string& S) { return CleanDisplayText(S); }

}  // namespace

int main() {
    Scaling("copyright marks", "", "(C) ", "Foo", StripNotice);
    Scaling("leading years", "", "2011 ", "Foo", StripNotice);
    Scaling("trailing URLs", "Tool", " http://a", "", Clean);

    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    const std::string folder = std::string(sys) + "\\";
    std::vector<std::string> files;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*.dll").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 1;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);

    Entries(true);
    std::vector<double> bare, ident;
    size_t named = 0;
    // Two rounds: the first warms the file cache for both readers alike.
    for (int round = 0; round < 2; ++round) {
        bare.clear();
        ident.clear();
        for (const std::string& file : files) {
            double t0 = Now();
            const std::string b = BareRead(file);
            double t1 = Now();
            bare.push_back(t1 - t0);

            t0 = Now();
            TDisplayedFileInfo info;
            GetDisplayedFileInfo(file, info);
            std::string name = file, version;
            GetFileVersionText(name, info.ProductName, info.CompanyName, version, false);
            t1 = Now();
            ident.push_back(t1 - t0);
            if (round == 1 && !info.ProductName.empty()) ++named;
        }
    }
    Entries(false);

    const double mb = Median(bare), mi = Median(ident);
    std::printf("%zu files of %s, %d Uninstall entries, %zu named\n", files.size(), folder.c_str(), kEntries, named);
    std::printf("bare GetFileVersionInfoA/VerQueryValueA: median %.1f us per file\n", mb);
    std::printf("GetDisplayedFileInfo + GetFileVersionText: median %.1f us per file\n", mi);
    std::printf("ratio: %.1f\n", mb > 0 ? mi / mb : 0.0);
    return 0;
}
