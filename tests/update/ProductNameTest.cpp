// Product-name derivation: the word-count decision, the base-name rows and the common
// clean-up steps on version records, and the bitness suffix on real PE32 and PE32+ files.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "support/TempDir.h"
#include "update/PlimFct.h"
#include "update/PlimRules.h"

namespace {

using identtest::CopyFixture;
using identtest::Fixture;

FileVersionInfoRec Rec(const std::string& fd, const std::string& pn, const std::string& in = "",
                       const std::string& of = "", const std::string& fv = "", const std::string& pv = "") {
    FileVersionInfoRec r;
    r.FileDescription = fd;
    r.ProductName = pn;
    r.InternalName = in;
    r.OriginalFilename = of;
    r.FileVersion = fv;
    r.ProductVersion = pv;
    return r;
}

TEST(ProductName, StagesAndCommonSteps) {
    // A path that does not exist: no PE header, so no bitness suffix.
    const std::string path = "C:\\nowhere\\tool.exe";
    struct Case {
        const char* what;
        FileVersionInfoRec rec;
        const char* expected;
    };
    const Case cases[] = {
        {"description begins with the product", Rec("Foo Bar Tool", "Foo"), "Foo"},
        {"description of another name", Rec("Some Tool", "Other"), "Some Tool"},
        {"five-word product, no description", Rec("", "A B C D E"), "A B C D E"},
        {"eight words give way to the internal name", Rec("One Two Three Four Five Six Seven Eight", "", "Short"),
         "Short"},
        {"description with a parenthesis", Rec("Foo (beta) Tool", "Foo Pro"), "Foo Pro"},
        {"four-word description equal to base", Rec("Alpha Beta Gamma Delta", "tool"), "tool"},
        {"trailing version", Rec("", "Foo 2.1"), "Foo"},
        {"trailing v-number", Rec("", "Foo v3"), "Foo"},
        {"a year stays", Rec("", "Foo 2010"), "Foo 2010"},
        {"Dimension keeps its number", Rec("", "Dimension 4"), "Dimension 4"},
        {"bitness group", Rec("", "Foo (64-bit)"), "Foo"},
        {"two groups stay", Rec("", "Foo (x) (64-bit)"), "Foo (x) (64-bit)"},
        {"trade mark sign", Rec("", "Foo\x99"), "Foo"},
        {"(tm) word", Rec("", "Foo Bar(TM)"), "Foo"},
        {"final dot", Rec("", "Foo."), "Foo"},
        {"double question mark", Rec("", "Fo??o"), ""},
        {"dollar", Rec("", "$Foo"), ""},
        {"lone question mark: the base name", Rec("", "?"), "tool"},
        {"web address", Rec("http://foo.example", "Foo"), "Foo"},
        {"template description", Rec("File Description", "Bar"), "Bar"},
        {"setup twice marked once", Rec("Foo setup", "", "setup"), "Foo setup installer"},
        {"installer description", Rec("Foo Installer", "Foo"), "Foo Installer"},
        {"bootstrapper", Rec("", "Foo", "", "bootstrapper.exe"), "Foo installer"},
        {"suffix Application", Rec("", "Foo Application"), "Foo"},
        {"prefix 32-Bit", Rec("", "32-Bit Foo"), "Foo"},
        {"for Windows", Rec("", "Foo for Windows"), "Foo"},
        {"quoted", Rec("", "\"Foo\""), "Foo"},
        {"Ultimate Windows Tweaker", Rec("", "Ultimate Windows Tweaker 4.8", "", "", "4.8.0.0"),
         "Ultimate Windows Tweaker 4"},
        {"WinMerge 2011", Rec("", "WinMerge", "", "", "", "2011.0.1"), "WinMerge 2011"},
        {"no resource: the base name", Rec("", ""), "tool"},
    };
    for (const Case& c : cases) EXPECT_EQ(plim::DeriveProductName(path, c.rec), c.expected) << c.what;
}

TEST(ProductName, BaseNameRowsAndDescriptor) {
    testsupport::TempDir dir;
    // Stage C ends the derivation: no bitness suffix even on a 64-bit image.
    const std::string gs = dir.Path() + "gs\\gs9.5\\bin\\gswin32.exe";
    CopyFixture("no_version64.dll", gs);
    EXPECT_EQ(GetFileProductName(gs), "GPL Ghostscript");
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "x\\nsis.exe", Rec("", "")), "NSIS");
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "Exact Audio Copy\\EAC.exe", Rec("", "")), "Exact Audio Copy");
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "Other\\EAC.exe", Rec("", "")), "EAC");

    // An AIR application names itself in its descriptor.
    identtest::WriteText(dir.Path() + "air\\META-INF\\AIR\\application.xml",
                         "<application>\r\n  <name>App name goes here</name>\r\n  <filename>Air Tool</filename>\r\n"
                         "</application>\r\n");
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "air\\AirTool.exe", Rec("", "")), "Air Tool");
}

TEST(ProductName, BitnessSuffixFollowsThePEHeader) {
    EXPECT_EQ(GetFileProductName(Fixture("full32.dll")), "Fixture Tool");
    EXPECT_EQ(GetFileProductName(Fixture("full64.dll")), "Fixture Tool (64 bits)");
    // " x64" and an existing suffix are replaced, so it stands once.
    EXPECT_EQ(plim::DeriveProductName(Fixture("full64.dll"), Rec("", "Foo x64")), "Foo (64 bits)");
    EXPECT_EQ(plim::DeriveProductName(Fixture("full64.dll"), Rec("", "Foo (64 bits)")), "Foo (64 bits)");
    EXPECT_EQ(plim::DeriveProductName(Fixture("full32.dll"), Rec("", "Foo")), "Foo");
    EXPECT_EQ(GetFileProductName(Fixture("no_version64.dll")), "no_version64 (64 bits)");
    // The running program and a 32-bit image with the same version resource.
    EXPECT_EQ(GetFileProductName(identtest::VoltAtlasExe()), "VoltAtlas (64 bits)");
    EXPECT_EQ(GetFileProductName(Fixture("VoltAtlas32.dll")), "VoltAtlas");
}

}  // namespace
