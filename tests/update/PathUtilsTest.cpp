// Executable and path utilities: PE recognition on built and damaged files, the WOW64 path
// rewrite (through the OS seam: Wine is never a WOW64 host), the display-text polish and the
// AIR descriptor readers.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "components/KitSysUtils.h"
#include "foundation/FoundationTestUtil.h"
#include "update/PlimFct.h"

namespace {

using identtest::Fixture;

TEST(PathUtils, IsPEImageOnBuiltAndDamagedFiles) {
    struct Case {
        const char* file;
        bool pe;
        bool is64;
    };
    const Case cases[] = {
        {"full32.dll", true, false},
        {"full64.dll", true, true},
        {"no_version.dll", true, false},
        {"no_version64.dll", true, true},
        {"bad_mz_only.dll", false, false},
        {"bad_truncated_dos.dll", false, false},
        {"bad_truncated_nt.dll", false, false},
        {"bad_negative_lfanew.dll", false, false},
        {"bad_huge_lfanew.dll", false, false},
        {"bad_lfanew_at_end.dll", false, false},
        {"bad_text.dll", false, false},
        {"bad_empty.dll", false, false},
        {"missing.dll", false, false},
    };
    for (const Case& c : cases) {
        bool is64 = !c.is64;
        EXPECT_EQ(IsPEImage(Fixture(c.file), is64), c.pe) << c.file;
        EXPECT_EQ(is64, c.is64) << c.file;
    }
    bool is64 = true;
    EXPECT_FALSE(IsPEImage("", is64));
    EXPECT_FALSE(is64);
    // The running test program is a 64-bit image.
    EXPECT_TRUE(IsPEImage(framework::GetModuleFileNameText(), is64));
    EXPECT_TRUE(is64);
}

TEST(PathUtils, RedirectSystem32PathUnderWow64) {
    const std::string sys = SpecialFolderDirectory(CSIDL_SYSTEM);
    ASSERT_FALSE(sys.empty());
    const std::string path = sys + "\\drivers\\SYSTEM32\\x.dll";
    // Not under WOW64 (a 64-bit process): unchanged.
    EXPECT_EQ(RedirectSystem32Path(path), path);

    footest::FakeOs os;
    os.isWow64Answer = true;
    // Only the first "\system32\", in any case, is rewritten.
    const std::string expected = sys.substr(0, sys.size() - 9) + "\\sysnative\\drivers\\SYSTEM32\\x.dll";
    EXPECT_EQ(RedirectSystem32Path(path), expected);
    // The system folder spelt in another case is not the system folder for this test.
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(RedirectSystem32Path(upper), upper);
    EXPECT_EQ(RedirectSystem32Path("C:\\Other\\system32\\x.dll"), "C:\\Other\\system32\\x.dll");
    EXPECT_EQ(RedirectSystem32Path("KLITE"), "KLITE");
    EXPECT_EQ(RedirectSystem32Path(""), "");
}

TEST(PathUtils, CleanDisplayText) {
    const std::pair<const char*, const char*> cases[] = {
        {"? Foo -", "Foo"},
        {"@", ""},
        {"??Foo", "Foo"},
        {"Foo http://x.example https://y.example", "Foo"},
        {"?Foo - http://x.example -", "Foo"},
        {"Foo", "Foo"},
        {"", ""},
        {"http://only.example", "http://only.example"},
        {"Foo https://a http://b HTTPS://c", "Foo"},
        {" Foo  http://a\t ", "Foo"},
        {"Foo http://a bar", "Foo http://a bar"},
        {"Foo http://a ", "Foo"},
        {"http://a http://b", "http://a"},
        {"Foo ftp://a", "Foo ftp://a"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CleanDisplayText(in), out) << in;
    // Thousands of trailing addresses (an application descriptor's name can hold anything):
    // one pass, no recursion per word.
    std::string many = "Tool";
    for (int i = 0; i < 8000; ++i) many += i % 2 ? " http://a" : " https://b";
    EXPECT_EQ(CleanDisplayText(many), "Tool");
    // A long run of marks is a loop, not a deep recursion.
    EXPECT_EQ(CleanDisplayText(std::string(20000, '?') + "Bar"), "Bar");
}

TEST(PathUtils, XmlTagValues) {
    framework::TStringList lines;
    lines.SetText(
        "<application>\n"
        "  <name>First</name>\n"
        "  <!-- <name>Commented</name> -->\n"
        "  <filename>file-name</filename>\n"
        "  <versionNumber>2.5.1</versionNumber>\n"
        "  <Copyright>Capital</Copyright>\n"
        "</application>\n");
    std::string value;
    FindXmlTagValue("name", lines, value);
    EXPECT_EQ(value, "Commented");  // the last matching line wins, comments included
    FindXmlTagValue("versionNumber", lines, value);
    EXPECT_EQ(value, "2.5.1");
    FindXmlTagValue("missing", lines, value);
    EXPECT_EQ(value, "");
    // The test ignores case, the cut does not: the whole line comes back.
    FindXmlTagValue("copyright", lines, value);
    EXPECT_EQ(value, "<Copyright>Capital</Copyright>");

    ExtractXmlTagValue("<name>App name goes here</name>", "name", value);
    EXPECT_EQ(value, "");
    ExtractXmlTagValue("<name>Cut", "name", value);
    EXPECT_EQ(value, "Cut");
}

}  // namespace
