// Answers the message boxes a test's code shows: while it lives, every message box of this
// thread is recorded (its text) and closed with OK soon after it appears.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class MessageBoxCloser {
public:
    MessageBoxCloser();
    ~MessageBoxCloser();
    MessageBoxCloser(const MessageBoxCloser&) = delete;
    MessageBoxCloser& operator=(const MessageBoxCloser&) = delete;

    std::vector<std::string> texts;
};

}  // namespace testsupport
