// The message box helper against the real MessageBoxA: each box is found on screen, read
// (caption, buttons, icon) and answered by pressing one of its buttons.
#include "app/MsgDlg.h"

#include <windows.h>
#include <gtest/gtest.h>

#include "MessageBoxCloser.h"

namespace {

using testsupport::MessageBoxCloser;

HICON SystemIcon(LPCSTR id) { return id ? LoadIconA(nullptr, id) : nullptr; }

TEST(MsgDlg, QuestionAnsweredYesAndNo) {
    for (int answer : {IDYES, IDNO}) {
        MessageBoxCloser boxes;
        boxes.answer = answer;
        EXPECT_EQ(MsgQuestion(nullptr, "Download now ?"), answer);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        const auto& box = boxes.boxes[0];
        EXPECT_EQ(box.caption, "Question");
        EXPECT_EQ(box.text, "Download now ?");
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(box.icon, SystemIcon(reinterpret_cast<LPCSTR>(IDI_QUESTION)));
    }
}

TEST(MsgDlg, CaptionAndIconByKind) {
    const struct {
        int32_t kind;
        const char* caption;
        LPCSTR icon;
    } cases[] = {
        {0, "Message", nullptr},
        {1, "Warning", reinterpret_cast<LPCSTR>(IDI_WARNING)},
        {2, "Error", reinterpret_cast<LPCSTR>(IDI_ERROR)},
        {3, "Question", reinterpret_cast<LPCSTR>(IDI_QUESTION)},
        {4, "Information", reinterpret_cast<LPCSTR>(IDI_INFORMATION)},
        {5, "", nullptr},
        {-1, "", nullptr},
    };
    for (const auto& c : cases) {
        MessageBoxCloser boxes;
        EXPECT_EQ(MsgBox(nullptr, "Text", 0, c.kind), IDOK) << c.kind;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.kind;
        EXPECT_EQ(boxes.boxes[0].caption, c.caption) << c.kind;
        EXPECT_EQ(boxes.boxes[0].icon, SystemIcon(c.icon)) << c.kind;
        EXPECT_EQ(boxes.boxes[0].buttons, std::vector<int>{IDOK}) << c.kind;
    }
}

TEST(MsgDlg, ButtonSetsAndTheResultOfThePressedButton) {
    const struct {
        int32_t buttons;
        std::vector<int> shown;
        int press;
    } cases[] = {
        {0, {IDOK}, IDOK},
        {1, {IDYES, IDNO}, IDNO},
        {2, {IDCANCEL, IDYES, IDNO}, IDCANCEL},
        {2, {IDCANCEL, IDYES, IDNO}, IDYES},
        {3, {IDOK, IDCANCEL}, IDCANCEL},
        {7, {IDOK}, IDOK},
        {-3, {IDOK}, IDOK},
    };
    for (const auto& c : cases) {
        MessageBoxCloser boxes;
        boxes.answer = c.press;
        EXPECT_EQ(MsgBox(nullptr, "Text", c.buttons, 4), c.press) << c.buttons;
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].buttons, c.shown) << c.buttons;
    }
}

}  // namespace
