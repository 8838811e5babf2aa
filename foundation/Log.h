// TKLog: the program's log. A capped list of level-tagged, time-stamped lines kept newest
// first in memory and written to a text file (at exit, when the user opens it, or after
// every line when verbose). GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/StringList.h"

class TKLog {
public:
    // LoadExisting: start from the lines of FileName when that file exists.
    TKLog(const std::string& FileName, bool Verbose, int32_t MaxLines, bool LoadExisting);
    // Saves, then frees the lines.
    ~TKLog();
    TKLog(const TKLog&) = delete;
    TKLog& operator=(const TKLog&) = delete;

    // Level 0 "Verbose" (dropped unless Verbose), 1 "Info", 2 "Error" (above 2 counts as 2).
    // A line break inside Msg would start a line of its own in the file, one that could pass
    // for an entry of the program: each CR and LF is written as the two characters \r or \n,
    // so every message stays one line.
    void Add(const std::string& Msg, int32_t Level);
    // Writes the lines to FileName when its folder exists; every failure is silent.
    void Save();

    int32_t ErrorCount = 0;
    std::unique_ptr<framework::TStringList> Lines;
    std::string FileName;
    int32_t MaxLines;
    bool Verbose;
};

// The log's time stamp of a local time: "[yy-mm-dd hh:mm:ss]".
std::string FormatLogTimeStamp(const struct _SYSTEMTIME& t);
