// Answers the message boxes a test's code shows: while it lives, every message box of this
// thread is recorded (its text, caption, visible buttons and icon) and answered soon after
// it appears by pressing the button `answer` names (OK unless set), as a user would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

class MessageBoxCloser {
public:
    struct Box {
        std::string caption, text;
        std::vector<int> buttons;  // ids of the visible buttons, in id order
        HICON icon = nullptr;      // what its icon control shows; null: no icon
    };

    MessageBoxCloser();
    ~MessageBoxCloser();
    MessageBoxCloser(const MessageBoxCloser&) = delete;
    MessageBoxCloser& operator=(const MessageBoxCloser&) = delete;

    std::vector<std::string> texts;
    std::vector<Box> boxes;
    // The button pressed in the next boxes (IDOK, IDYES, IDNO, IDCANCEL...).
    int answer = IDOK;
};

}  // namespace testsupport
