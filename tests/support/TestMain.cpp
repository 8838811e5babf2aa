// Entry point of every test executable: the tests compare ANSI texts, so they insist on
// the Western code page the test runner pins.
#include <windows.h>

#include <gtest/gtest.h>

namespace {
class CodePageEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(GetACP(), 1252u) << "tests expect the ANSI code page 1252"; }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new CodePageEnvironment);
    return RUN_ALL_TESTS();
}
