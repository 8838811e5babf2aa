// The program copied into folders whose names the ANSI code page (1252 here) cannot spell:
// it must name and version itself exactly as from an ASCII folder. The test executable
// carries the program's resources, so a copy of it named VoltAtlas.exe is the program's file;
// each copy runs the main window's first activation (ProgramFolderChild, only when started
// with a report file) and reports what the update check asked, the title, the log's path line,
// the company value and what it imported from the settings.ini beside it. A copy may be told
// to answer for a volume without short names (exFAT, NTFS with 8.3 names off), where no ANSI
// spelling reaches a folder the code page cannot spell.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "FakeBatteryDriver.h"
#include "LogMessages.h"
#include "MakerPeer.h"
#include "MessageBoxCloser.h"
#include "app/MainDlg.h"
#include "app/SettingsDlg.h"
#include "foundation/JoryUtils.h"
#include "framework/Registry.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "support/NoShortNames.h"
#include "support/Pump.h"
#include "support/TempDir.h"

namespace {

using namespace framework;

constexpr const char* kReportVariable = "VA_PROGRAM_FOLDER_REPORT";
constexpr const char* kNoShortNamesVariable = "VA_PROGRAM_FOLDER_NO_SHORT_NAMES";

// Such a volume gives the long name back.
std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring StringValue(const wchar_t* key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    const LONG rc = RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size);
    if (rc != ERROR_SUCCESS) return {};
    return value;
}

std::wstring CompanyValue() { return StringValue(L"SOFTWARE\\Quillmark", L"VoltAtlas"); }

// The child: the main window as the program makes it, activated once.
TEST(ProgramFolderChild, Report) {
    char report[MAX_PATH] = {};
    if (!GetEnvironmentVariableA(kReportVariable, report, sizeof report)) GTEST_SKIP() << "run by ProgramFolder";
    if (GetEnvironmentVariableA(kNoShortNamesVariable, nullptr, 0))
        ShortPathApi().GetShortPathNameW = &testsupport::LongNameBack;
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
    testsupport::FakeBatteryDriver driver;
    testsupport::MessageBoxCloser boxes;  // a wrong verdict asks whether to download
    boxes.answer = IDNO;
    std::map<std::string, std::string> facts;
    {
        auto owned = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
        TMainDlg& dlg = *owned;
        facts["imported"] = Utf8(StringValue(L"SOFTWARE\\Quillmark\\VoltAtlas", L"Probe"));
        dlg.Tmr->SetEnabled(false);
        dlg.AppEvtActivate(&dlg);
        // The check's outcome is the last thing the activation logs.
        auto verdict = [&]() -> std::string {
            for (const std::string& m : testsupport::Messages(*dlg.Log)) {
                if (m == "VoltAtlas is already up to date.") return "current";
                if (m == "New version of VoltAtlas is detected") return "newer";
                if (m.find("Update self check : Server error") != std::string::npos) return "error";
            }
            return {};
        };
        ASSERT_TRUE(testsupport::PumpUntil([&] { return !verdict().empty(); }, 30000));
        const auto log = testsupport::Messages(*dlg.Log);
        ASSERT_GE(log.size(), 3u);
        std::string query;
        for (const std::string& target : testsupport::MakerPeerRequests())
            if (target.find("/plim/check.php?") != std::string::npos) query = target.substr(target.find('?') + 1);
        facts["query"] = query;
        facts["caption"] = dlg.Caption();
        facts["pathline"] = log[1];
        // Whether the ANSI calls reach the file by that path, and which file it is.
        wchar_t longPath[1024] = {};
        if (GetFileAttributesA(log[1].c_str()) != INVALID_FILE_ATTRIBUTES &&
            GetLongPathNameW(AnsiToWide(log[1]).c_str(), longPath, 1024) > 0)
            facts["spelled"] = "reaches " + Utf8(longPath);
        facts["verdict"] = verdict();
        facts["company"] = Utf8(CompanyValue());
        // "Start with Windows" ticked and stored: the command Windows will run.
        TSettingsDlg settings(nullptr);
        settings.LoadSettings();
        settings.startup_chk->SetChecked(true);
        settings.ok_btnClick(settings.ok_btn.get());
        TRegistry run;
        if (run.OpenKey(kRunKey, false)) {
            facts["run"] = Utf8(run.ReadStringWide(kRunValueName));
            run.DeleteValue(kRunValueName);
        }
    }
    DeleteDataFolder(GetModuleFileNameText(), "VoltAtlas");
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
    std::ofstream out(report, std::ios::binary);
    for (const auto& [key, value] : facts) out << key << '\t' << value << '\n';
}

std::map<std::string, std::string> ReadReport(const std::string& file) {
    std::map<std::string, std::string> facts;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) facts[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return facts;
}

// Copies this executable into Folder as VoltAtlas.exe and runs its child test there (with the
// maker peer of the current folder); what it reported, or an empty map. The copy and its
// folder go afterwards (the temporary folder's own clean-up cannot spell their names).
// The copy finds a settings.ini beside it (its portable settings).
std::map<std::string, std::string> RunCopyIn(const std::wstring& folder, const std::string& report,
                                             bool shortNames = true) {
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring exe = folder + L"\\VoltAtlas.exe";
    const std::wstring ini = folder + L"\\settings.ini";
    struct Remove {
        const std::wstring &exe, &ini, &folder;
        ~Remove() {
            DeleteFileW(exe.c_str());
            DeleteFileW(ini.c_str());
            RemoveDirectoryW(folder.c_str());
        }
    } remove{exe, ini, folder};
    EXPECT_TRUE(CopyFileW(GetModuleFileNameWide().c_str(), exe.c_str(), FALSE));
    {
        const std::string text = "[Settings]\r\nProbe=beside the program\r\n";
        HANDLE h = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(h);
    }
    std::wstring command = L"\"" + exe + L"\" --gtest_filter=ProgramFolderChild.Report";
    SetEnvironmentVariableA(kReportVariable, report.c_str());
    SetEnvironmentVariableA(kNoShortNamesVariable, shortNames ? nullptr : "1");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(kReportVariable, nullptr);
    SetEnvironmentVariableA(kNoShortNamesVariable, nullptr);
    EXPECT_TRUE(started) << GetLastError();
    if (!started) return {};
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the child did not end";
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the child test failed";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ReadReport(report);
}

TEST(ProgramFolder, NamesAndVersionsItselfAsFromAnAsciiFolder) {
    testsupport::TempDir dir;
    const std::wstring base = AnsiToWide(ExcludeTrailingPathDelimiter(dir.Path()));
    const auto ascii = RunCopyIn(base + L"\\Programs", dir.File("ascii.txt"));
    ASSERT_EQ(ascii.count("query"), 1u);
    // The baseline itself is the program's true identity.
    EXPECT_EQ(ascii.at("query"), "uid=0&ProductName=VoltAtlas%20%2864%20bits%29&Company=Quillmark&VH=65536&VL=1");
    EXPECT_EQ(ascii.at("caption"), "VoltAtlas v1.0.0.1");
    EXPECT_EQ(ascii.at("verdict"), "current");
    EXPECT_EQ(ascii.at("company"), Utf8(base + L"\\Programs\\VoltAtlas.exe"));
    EXPECT_EQ(ascii.at("pathline"), WideToAnsi(base + L"\\Programs\\VoltAtlas.exe"));
    EXPECT_EQ(ascii.at("imported"), "beside the program");
    EXPECT_EQ(ascii.at("run"), Utf8(base + L"\\Programs\\VoltAtlas.exe /minimized"));

    struct Row {
        std::wstring name;
        bool shortNames;
    };
    const Row rows[] = {
        {L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b", true},              // Cyrillic
        {L"\u03a0\u03c1\u03bf\u03b3\u03c1\u03ac\u03bc\u03bc\u03b1\u03c4\u03b1", true},  // Greek
        {L"\u30d7\u30ed\u30b0\u30e9\u30e0", true},                                      // Japanese
        // A stick formatted exFAT: no short names at all.
        {L"\u041f\u043e\u0440\u0442\u0430\u0442\u0438\u0432", false},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(Utf8(row.name) + (row.shortNames ? "" : " without short names"));
        const std::wstring folder = base + L"\\" + row.name;
        const auto facts = RunCopyIn(folder, dir.File("report" + std::to_string(++n) + ".txt"), row.shortNames);
        ASSERT_EQ(facts.count("query"), 1u);
        EXPECT_EQ(facts.at("query"), ascii.at("query"));
        EXPECT_EQ(facts.at("caption"), ascii.at("caption"));
        EXPECT_EQ(facts.at("verdict"), ascii.at("verdict"));
        // The company value is the file's true path, not its ANSI spelling.
        EXPECT_EQ(facts.at("company"), Utf8(folder + L"\\VoltAtlas.exe"));
        EXPECT_EQ(facts.at("imported"), ascii.at("imported"));
        // Windows starts the program by the path stored, short names or not.
        EXPECT_EQ(facts.count("run") ? facts.at("run") : "", Utf8(folder + L"\\VoltAtlas.exe /minimized"));
        const std::string& pathLine = facts.at("pathline");
        EXPECT_EQ(ExtractFileName(pathLine), "VoltAtlas.exe") << pathLine;
        if (!row.shortNames) {
            // No ANSI text reaches the folder: the log shows the name as the code page can.
            EXPECT_EQ(pathLine, WideToAnsi(folder + L"\\VoltAtlas.exe"));
            continue;
        }
        // The log (an ANSI file) names the file by a path that reaches it: the folder by its
        // short name, the file by its own.
        EXPECT_EQ(pathLine.find('?'), std::string::npos) << pathLine;
        EXPECT_EQ(ExtractFilePath(ExcludeTrailingPathDelimiter(ExtractFilePath(pathLine))), dir.Path())
            << "only the folder the code page cannot spell is shortened";
        EXPECT_EQ(facts.count("spelled") ? facts.at("spelled") : "does not reach the file",
                  "reaches " + Utf8(folder + L"\\VoltAtlas.exe"))
            << pathLine;
    }
}

}  // namespace
