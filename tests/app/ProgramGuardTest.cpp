// The guard around the program body: an escaping exception becomes a message box and a
// non-zero exit code, whatever its type; a body that ends normally keeps its own code.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "MessageBoxCloser.h"
#include "app/ProgramGuard.h"
#include "framework/Exception.h"

namespace {

TEST(ProgramGuard, WhatEscapesTheBodyIsShownAndEndsWithANonZeroCode) {
    ASSERT_TRUE(CanShowWindows()) << "the tests run on a visible display";
    struct Row {
        std::function<int()> body;
        int code;
        std::vector<std::string> shown;
    };
    const Row rows[] = {
        {[]() -> int { throw framework::Exception("Cannot create the application window"); }, kFatalExitCode,
         {"Cannot create the application window"}},
        {[]() -> int { throw std::bad_alloc(); }, kFatalExitCode, {std::bad_alloc().what()}},
        {[]() -> int { throw 42; }, kFatalExitCode, {"An unexpected error stopped the program."}},
        {[] { return 0; }, 0, {}},
        {[] { return 3; }, 3, {}},
    };
    for (const Row& row : rows) {
        testsupport::MessageBoxCloser boxes;
        EXPECT_EQ(RunGuarded(row.body), row.code);
        EXPECT_EQ(boxes.texts, row.shown);
    }
    EXPECT_NE(kFatalExitCode, 0);
}

}  // namespace
