#include "foundation/Log.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

#include "framework/SysUtils.h"

std::string FormatLogTimeStamp(const SYSTEMTIME& t) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02u-%02u-%02u %02u:%02u:%02u]", t.wYear % 100u,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return stamp;
}

namespace {

void AppendLogMessage(std::string& Line, const std::string& Msg) {
    size_t from = 0;
    for (size_t at = Msg.find_first_of("\r\n"); at != std::string::npos; at = Msg.find_first_of("\r\n", from)) {
        Line.append(Msg, from, at - from).append(Msg[at] == '\r' ? "\\r" : "\\n");
        from = at + 1;
    }
    Line.append(Msg, from, std::string::npos);
}

}  // namespace

TKLog::TKLog(const std::string& FileName, bool Verbose, int32_t MaxLines, bool LoadExisting)
    : Lines(std::make_unique<framework::TStringList>()),
      FileName(FileName),
      MaxLines(MaxLines),
      Verbose(Verbose) {
    if (LoadExisting && framework::FileExists(FileName)) Lines->LoadFromFile(FileName);
}

TKLog::~TKLog() {
    Save();
    Lines.reset();
}

void TKLog::Add(const std::string& Msg, int32_t Level) {
    static const char* const kLevelNames[] = {"Verbose", "Info", "Error"};
    if (!Lines) return;
    // A negative level would index outside the names: treat it as the lowest.
    if (Level < 0) Level = 0;
    if (Level == 0 && !Verbose) return;
    if (Level > 2) Level = 2;
    if (Level == 2) ++ErrorCount;

    // The system clock's second (cheap to read) decides when the local stamp is made again;
    // the zone's offset is whole minutes, so both seconds turn together.
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const int64_t second =
        static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000000u);
    // The time stamp of the second last written: formatted once a second, not once a line.
    thread_local int64_t stampSecond = -1;
    thread_local std::string stamp;
    if (second != stampSecond) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        stamp = FormatLogTimeStamp(now);
        stampSecond = second;
    }
    const char* const level = kLevelNames[Level];
    std::string line;
    line.reserve(std::char_traits<char>::length(level) + stamp.size() + Msg.size() + 2);
    line.append(level).append(1, '\t').append(stamp).append(1, '\t');
    AppendLogMessage(line, Msg);
    Lines->Insert(0, std::move(line));
    if (Lines->Count() > MaxLines && Lines->Count() > 0) Lines->Delete(Lines->Count() - 1);
    if (Verbose) Save();
}

void TKLog::Save() {
    if (!Lines) return;
    try {
        if (framework::DirectoryExists(framework::ExtractFileDir(FileName)))
            Lines->SaveToFile(FileName);
    } catch (...) {
        // A log that cannot be written must never take the program down.
    }
}
