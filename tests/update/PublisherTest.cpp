// Publisher derivation: copyright stripping, the publisher table's kinds of rows, the
// clean-up of licence texts and web addresses, and the company/copyright choice on files.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "support/TempDir.h"
#include "update/PlimFct.h"
#include "update/PlimRules.h"

namespace {

using identtest::Fixture;
using identtest::Hive;
using identtest::UninstallEntries;

TEST(Publisher, StripCopyrightNotice) {
    const std::pair<const char*, const char*> cases[] = {
        {"Copyright (C) 2005 Foo Inc.", "Foo Inc."},
        {"(c) 2011 Foo", "Foo"},
        {"\xA9 2001-2019 Foo Ltd", "Foo Ltd"},
        {"Foo Corp. All Rights Reserved", "Foo Corp"},
        {"Foo, All Rights Reserved.", "Foo"},
        {"Foo Inc 2011.", "Foo Inc"},
        {"Foo Software 2010", "Foo Software"},
        {"2003/04 Foo", "04 Foo"},
        {"Foo under the GPL", "Foo"},
        {"Foo Corp. all rights reserved", "Foo Corp"},
        {"Copyright\xC2\xA9 Foo", "Foo"},
        {"by Foo", "Foo"},
        {"Plain Name", "Plain Name"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(StripCopyrightNotice(in), out) << in;

    // Every cut is clamped to the text: short and odd inputs neither crash nor loop.
    for (const char* odd : {"", ",", ",,", "-", "C", "(C)", "by", "2011", "2011.", "/", "//", "12/", " All Rights Reserved",
                            ".All Rights Reserved", "\xA9", "c)", "-,-"})
        EXPECT_NO_THROW(StripCopyrightNotice(odd)) << odd;
    // Many marks in a row are peeled in a loop, not by recursion.
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "(C) ";
    EXPECT_EQ(StripCopyrightNotice(many + "Foo"), "Foo");
}

TEST(Publisher, NormalizeCompanyName) {
    const std::string path = "C:\\nowhere\\tool.exe";
    const std::pair<const char*, const char*> cases[] = {
        {"Foo Software http://www.foo.example", "Foo Software"},
        {"http://foo.example", "http://foo.example"},
        {"Foo Software www.foo.example/x", "Foo Software"},
        {"Foo http://a.example more words", "Foo http://a.example more words"},
        {"Foo L.L.C.", "Foo LLC"},
        {"Foo (", "Foo"},
        {"Foo ,;-", "Foo"},
        {"Company", ""},
        {"NONE", ""},
        {"$Bar", ""},
        {"GPL", ""},
        {"Released by the GNU GPL folks", ""},
        {"Foo (GPL)", "Foo"},
        {"Foo\r\nSecond line", "Foo"},
        {"-", ""},
        {"Author: Foo Bar", "Foo Bar"},
        // Table rows of each kind.
        {"Microsoft Corporation", "Microsoft"},
        {"NVIDIA Corporation", "NVIDIA"},
        {"VSO-Software SARL", "VSO Software"},
        {"G DATA Software", "G Data Software AG"},
        {"ICQ, Inc.", "ICQ Inc."},
        {"Auslogics Software Pty Ltd", "Auslogics"},
        {"Au?slo?gics", "Auslogics"},
        {"Foo Bar <foo@bar.example>", "Foo Bar"},
        {"Open Source", ""},
        {"Free Software Foundation, Inc.", ""},
        {"Foo\xAE", "Foo"},
        {"the VideoLAN Team", "VideoLAN Team"},
        {"The VideoLAN Team", "The VideoLAN Team"},
        {"Creative Commons License \"by-nc-sa 3.0\", this program is freeware under Creative Commons License \"by",
         ""},
        {"Quillmark", "Quillmark"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeCompanyName(in, path, "Tool"), out) << in;

    // Rows that name a publisher only where the resource gave none.
    EXPECT_EQ(NormalizeCompanyName("", path, "Process Hacker 2"), "Process Hacker");
    EXPECT_EQ(NormalizeCompanyName("Someone", path, "Process Hacker 2"), "Someone");
    EXPECT_EQ(NormalizeCompanyName("", "C:\\x\\ffdshow.ax", "ffdshow"), "The FFDShow Team");
    EXPECT_TRUE(plim::MatchesMask("abcVSO SOFTWAREdef", "*vso?software*"));
    EXPECT_FALSE(plim::MatchesMask("VSOSOFTWARE", "*VSO?SOFTWARE*"));
}

TEST(Publisher, EveryCanonicalNameIsAFixedPointOfTheTable) {
    // Every row runs and sees what earlier rows did: a name the table produces must pass the
    // whole table unchanged, or a later row re-maps one maker's name to another's.
    for (const plim::TCompanyRow& row : plim::kPublisherTable) {
        if (!row.Name) continue;
        plim::TCompanyWork w;
        w.R = row.Name;
        w.Path = "C:\\nowhere\\tool.exe";
        w.ProductName = "Tool";
        w.Base = "tool";
        w.Dir = "C:\\nowhere\\";
        plim::ApplyPublisherTable(w);
        EXPECT_EQ(w.R, row.Name) << "row key " << row.Key;
    }
}

TEST(Publisher, RealCompanyTextsNameTheirOwnMaker) {
    // Keys match whole words: a maker whose name merely begins like another's keeps its own.
    const std::string path = "C:\\nowhere\\tool.exe";
    const std::pair<const char*, const char*> cases[] = {
        {"Rovio Entertainment Ltd", "Rovio Entertainment Ltd."},
        {"Rovi Corporation", "Rovi Corporation"},
        {"dtSearch Corp.", "dtSearch Corp."},
        {"DTS, Inc.", "DTS, Inc"},
        {"Canonical Ltd.", "Canonical Ltd."},
        {"Canon Inc.", "Canon Inc."},
        {"Plextor Corp.", "Plextor Corp."},
        {"Plex, Inc.", "Plex, Inc."},
        {"Corellium LLC", "Corellium LLC"},
        {"Corel Corporation", "Corel Corporation"},
        {"Intuitive Software", "Intuitive Software"},
        {"Intuit Inc.", "Intuit, Inc."},
        {"Skymatic UG (haftungsbeschr\xE4nkt)", "Skymatic UG"},
        {"Skymatic GmbH", "Skymatic GmbH"},
        {"AO Kaspersky Lab", "Kaspersky Lab"},
        {"Acer Incorporated", "Acer"},
        {"SEIKO EPSON CORPORATION", "Epson"},
        {"Google LLC", "Google Inc."},
        {"Googleplex Systems", "Googleplex Systems"},
        {"Mozilla Corporation", "Mozilla Foundation"},
        {"Adobe Systems Incorporated", "Adobe Systems, Inc."},
        {"Intel Corporation", "Intel"},
        {"ASUSTeK Computer Inc.", "ASUS"},
        {"Micro-Star International Co., Ltd.", "MSI"},
        {"Dell Inc.", "Dell Inc."},
        {"Sony Corporation", "Sony"},
        {"Sonya Tools", "Sonya Tools"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeCompanyName(in, path, "Tool"), out) << in;
}

TEST(Publisher, InstalledSoftwareAndDescriptorRows) {
    testsupport::TempDir dir;
    const std::string wizard = dir.Path() + "partitionwizard.exe";
    EXPECT_EQ(NormalizeCompanyName("", wizard, "Wizard"), "");
    UninstallEntries entries;
    entries.Add(Hive::Machine32, "PW_is1", {{"DisplayName", "MiniTool Partition Wizard Free 12"}});
    EXPECT_EQ(NormalizeCompanyName("", wizard, "Wizard"), "MiniTool Solution Ltd.");
    EXPECT_EQ(NormalizeCompanyName("", dir.Path() + "ArtMoney\\am812.exe", "ArtMoney SE"), "System SoftLab");
    EXPECT_EQ(NormalizeCompanyName("", dir.Path() + "ArtMoney\\amx.exe", "ArtMoney SE"), "");

    identtest::WriteText(dir.Path() + "META-INF\\AIR\\application.xml",
                         "<application>\r\n<copyright>Air Maker</copyright>\r\n</application>\r\n");
    EXPECT_EQ(NormalizeCompanyName("", dir.Path() + "AirApp.exe", "Air"), "Air Maker");
}

TEST(Publisher, CompanyOrCopyrightOfAFile) {
    // CompanyName ", LLC" is no publisher: the copyright is stripped instead.
    EXPECT_EQ(GetFileCompanyName(Fixture("llc.dll"), ""), "Foo Inc.");
    EXPECT_EQ(GetFileCompanyName(Fixture("full64.dll"), ""), "Fixture Works Inc.");
    EXPECT_EQ(GetFileCompanyName(Fixture("no_version.dll"), ""), "");
    EXPECT_EQ(GetFileCompanyName(Fixture("missing.dll"), ""), "");
    EXPECT_EQ(GetFileCompanyName("QTA", ""), "QuickTime Alternative Team");
}

}  // namespace
