// The messages of the program's log as the tests read them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/Log.h"

namespace testsupport {

// The message of a log line ("Level<TAB>[stamp]<TAB>Message").
inline std::string MessageOf(const std::string& line) {
    return line.substr(line.find('\t', line.find('\t') + 1) + 1);
}

// The log's messages, oldest first.
inline std::vector<std::string> Messages(const TKLog& log) {
    std::vector<std::string> out;
    for (int i = log.Lines->Count() - 1; i >= 0; --i) out.push_back(MessageOf((*log.Lines)[i]));
    return out;
}

inline int CountOf(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<int>(std::count(v.begin(), v.end(), s));
}

}  // namespace testsupport
