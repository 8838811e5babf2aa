// Displayed file information, the running program as the update query names it, and the
// guard that keeps the chains from identifying a file from inside its own identification.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "foundation/FoundationTestUtil.h"
#include "foundation/UnicodeUtils.h"
#include "foundation/Version.h"
#include "update/PlimFct.h"
#include "update/PlimRules.h"

namespace {

using identtest::Fixture;

TDisplayedFileInfo Info(const std::string& file) {
    TDisplayedFileInfo info{"stale", "stale"};
    GetDisplayedFileInfo(file, info);
    return info;
}

TEST(DisplayedInfo, NamesOfFilesAndPackages) {
    struct Case {
        std::string file;
        const char* product;
        const char* company;
    };
    const Case cases[] = {
        {"QTA", "QuickTime Alternative", "QuickTime Alternative Team"},
        {"KLITE64", "K-Lite Codec Pack (64-Bits)", "K-Lite Codec Pack Team"},
        {Fixture("full32.dll"), "Fixture Tool", "Fixture Works Inc."},
        {Fixture("full64.dll"), "Fixture Tool (64 bits)", "Fixture Works Inc."},
        // No version resource: the base name (with the bitness of the image), no publisher.
        {Fixture("no_version.dll"), "no_version", ""},
        {Fixture("no_version64.dll"), "no_version64 (64 bits)", ""},
        // The product chain clears its name, the publisher chain finds one: the base name.
        {Fixture("qq.dll"), "qq", "Real Co"},
        {Fixture("missing.dll"), "missing", ""},
        // The 32-bit image with the program's own version resource.
        {Fixture("VoltAtlas32.dll"), "VoltAtlas", "Quillmark"},
    };
    for (const Case& c : cases) {
        const TDisplayedFileInfo info = Info(c.file);
        EXPECT_EQ(info.ProductName, c.product) << c.file;
        EXPECT_EQ(info.CompanyName, c.company) << c.file;
    }
}

TEST(DisplayedInfo, RunningProgramAsTheUpdateQuerySendsIt) {
    const std::string exe = identtest::VoltAtlasExe();
    ASSERT_FALSE(exe.empty());
    const TDisplayedFileInfo info = Info(exe);
    EXPECT_EQ(info.ProductName, "VoltAtlas (64 bits)");
    EXPECT_EQ(info.CompanyName, "Quillmark");
    std::string file = exe, version;
    GetFileVersionText(file, info.ProductName, info.CompanyName, version, false);
    EXPECT_EQ(version, "1.0.0.1");
    const TPlimVersion v(version);
    EXPECT_EQ("&ProductName=" + UrlEncode(info.ProductName) + "&Company=" + UrlEncode(info.CompanyName) +
                  "&VH=" + v.HighPartText() + "&VL=" + v.LowPartText(),
              "&ProductName=VoltAtlas%20%2864%20bits%29&Company=Quillmark&VH=65536&VL=1");
}

TEST(DisplayedInfo, GuardStopsSelfConsultation) {
    // Inside a file's identification, the same file is not identified again.
    const std::string file = Fixture("full32.dll");
    {
        const plim::TIdentGuard outer(plim::TIdentGuard::gkDisplay, file);
        ASSERT_TRUE(outer.Entered());
        EXPECT_EQ(Info(file).ProductName, "");
        // Its version may still be asked (that is another question about the file)...
        std::string name = file, version;
        GetFileVersionText(name, "", "", version, false);
        EXPECT_EQ(version, "1.2.3.4");
        // ...and another file's names too.
        EXPECT_EQ(Info(Fixture("full64.dll")).ProductName, "Fixture Tool (64 bits)");
    }
    {
        const plim::TIdentGuard outer(plim::TIdentGuard::gkVersion, file);
        std::string name = file, version = "unset";
        GetFileVersionText(name, "P", "C", version, false);
        EXPECT_EQ(version, "");
    }
    // Afterwards the file is free again.
    EXPECT_EQ(Info(file).ProductName, "Fixture Tool");

    // An empty product name makes the version chain derive the names, which ends.
    std::string name = Fixture("qq.dll"), version;
    GetFileVersionText(name, "", "", version, false);
    EXPECT_EQ(version, "1.0.0.0");
    EXPECT_EQ(GetFileCompanyName(Fixture("qq.dll"), ""), "Real Co");
}

TEST(DisplayedInfo, FailedWow64QueryGivesNoNamesNotAnException) {
    footest::FakeOs os;
    os.isWow64Fails = true;
    EXPECT_THROW(RedirectSystem32Path("C:\\x.dll"), framework::EOSError);
    TDisplayedFileInfo info{"stale", "stale"};
    EXPECT_NO_THROW(GetDisplayedFileInfo(Fixture("full32.dll"), info));
    EXPECT_EQ(info.ProductName, "");
    EXPECT_EQ(info.CompanyName, "");
    std::string name = Fixture("full32.dll"), version = "stale";
    EXPECT_NO_THROW(GetFileVersionText(name, "P", "C", version, false));
    EXPECT_EQ(version, "");
}

}  // namespace
