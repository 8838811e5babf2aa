// The program's parameters from its command line: the same split as CommandLineToArgvW's,
// with the line that has none seen without it.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "framework/SysUtils.h"

using namespace framework;

namespace {

std::vector<std::string> ArgvParams(const wchar_t* line) {
    std::vector<std::string> out;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(line, &count);
    for (int i = 1; args && i < count; ++i) out.push_back(WideToAnsi(args[i]));
    LocalFree(args);
    return out;
}

TEST(CommandLine, ParamsAreSplitAsCommandLineToArgvWSplitsThem) {
    const wchar_t* lines[] = {
        L"VoltAtlas.exe",
        L"VoltAtlas.exe   ",
        L"VoltAtlas.exe\t",
        L"\"C:\\Program Files\\VoltAtlas\\VoltAtlas.exe\"",
        L"\"C:\\Program Files\\VoltAtlas\\VoltAtlas.exe\"  \t ",
        L"\"C:\\Program Files\\VoltAtlas\\VoltAtlas.exe\" /minimized",
        L"\"C:\\Program Files\\VoltAtlas\\VoltAtlas.exe\"/minimized",
        L"\"C:\\path with \\\"quote\\VoltAtlas.exe\" x",
        L"\"unterminated program name",
        L"\"unterminated program name x",
        L"C:\\VoltAtlas\\VoltAtlas.exe /minimized",
        L"C:\\VoltAtlas\\VoltAtlas.exe\t/MINIMIZED extra",
        L"VoltAtlas.exe \"two words\" a\\\\\"b c\" d\\\"e",
        L"VoltAtlas.exe \"\"",
        L"VoltAtlas.exe \"\"\"\"\" x",
        L"\"\" /minimized",
        L"",
    };
    for (const wchar_t* line : lines)
        EXPECT_EQ(CommandLineParams(line), ArgvParams(line)) << WideToAnsi(line);
    EXPECT_TRUE(CommandLineParams(nullptr).empty());
    EXPECT_EQ(CommandLineParams(L"x.exe /minimized"), std::vector<std::string>{"/minimized"});
}

}  // namespace
