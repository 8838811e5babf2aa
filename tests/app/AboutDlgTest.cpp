// The about box and its text table: captions from the table, the banner, the three links
// through the shell seam, the modal run from the main window's menu, and a screenshot of the
// box for people to look at (app-output\about.bmp).
#include <gtest/gtest.h>

#include "TextFit.h"
#include "app/About.h"
#include "app/MainDlg.h"
#include "components/KitSysUtils.h"
#include "components/UxGIF.h"
#include "foundation/UnicodeUtils.h"
#include "framework/SysUtils.h"
#include "support/Pump.h"
#include "update/MakerServer.h"

using namespace framework;

namespace {

TEST(TextStorage, LooksUpByTheOriginalText) {
    TComponent form(nullptr);
    TTextStorage ts(&form);
    form.BeginLoading();
    ts.Items().Add("About");
    ts.Items().Add("Application Name :");
    ts.Items().Add("Version :");
    form.EndLoading();
    EXPECT_EQ(ts.Originals().Count(), 3);
    EXPECT_EQ(ts.GetText("Version :"), "Version :");
    EXPECT_EQ(ts.GetText("version :"), "Version :") << "the search ignores case";
    EXPECT_EQ(ts.GetText("Not in the table"), "Not in the table");
    TStringList translated;
    translated.Add("A propos");
    translated.Add("unused");
    translated.Add("Version traduite :");
    ts.SetItems(translated);
    EXPECT_EQ(ts.GetText("Version :"), "Version traduite :");
    EXPECT_EQ(ts.GetText("About"), "A propos");
    EXPECT_EQ(ts.GetText("Application Name :"), "Application Name :") << "an unused entry gives its key";
    // A shorter translated list: the keys past its end fall back to themselves.
    TStringList shorter;
    shorter.Add("A propos");
    ts.SetItems(shorter);
    EXPECT_EQ(ts.GetText("Version :"), "Version :");
    EXPECT_EQ(ts.GetText("About"), "A propos");
}

TEST(TextStorage, MarkUnusedMarksEntriesWithoutAnObject) {
    TComponent form(nullptr);
    TTextStorage ts(&form);
    int tag = 0;
    form.BeginLoading();
    ts.Items().Add("kept", &tag);
    ts.Items().Add("dropped");
    ts.Items().Add("dropped too");
    form.EndLoading();
    EXPECT_EQ(ts.MarkUnused(), 2u);
    EXPECT_EQ(ts.Items()[0], "kept");
    EXPECT_EQ(ts.Items()[1], "unused");
    EXPECT_EQ(ts.Originals()[2], "unused");
    EXPECT_EQ(ts.GetText("kept"), "kept");
}

class AboutDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application().SetTitle(kTitle);
        calls.clear();
        KitShellApi() = TKitShellApi{FakeShellExecuteA, RealKitShellApi().ShellExecuteExA};
    }
    void TearDown() override { KitShellApi() = RealKitShellApi(); }

    struct Call {
        HWND wnd;
        bool verbNull;
        std::string file;
        INT show;
    };
    static inline std::vector<Call> calls;
    static HINSTANCE WINAPI FakeShellExecuteA(HWND wnd, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, INT show) {
        calls.push_back({wnd, verb == nullptr, file ? file : "", show});
        return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    }
};

std::string ExeVersion() { return WideToAnsi(GetFixedFileVersion(AnsiToWide(GetModuleFileNameText()))); }

TEST_F(AboutDlgTest, CaptionsComeFromTheTextTable) {
    TAboutDlg dlg(nullptr);
    dlg.FillLabels();
    EXPECT_EQ(dlg.Caption(), "About VoltAtlas");
    EXPECT_EQ(dlg.appname_lbl->Caption(), "Application Name : VoltAtlas");
    ASSERT_EQ(ExeVersion(), "1.0.0.1") << "the test program carries the program's version resource";
    EXPECT_EQ(dlg.version_lbl->Caption(), "Version : 1.0.0.1");
    // A translation of the table changes the captions.
    TStringList t;
    t.Add("Info");
    t.Add("Name:");
    dlg.TS_about->SetItems(t);
    dlg.FillLabels();
    EXPECT_EQ(dlg.Caption(), "Info VoltAtlas");
    EXPECT_EQ(dlg.appname_lbl->Caption(), "Name: VoltAtlas");
    EXPECT_EQ(dlg.version_lbl->Caption(), "Version : 1.0.0.1");
}

TEST_F(AboutDlgTest, ComponentsLayoutAndBanner) {
    TAboutDlg dlg(nullptr);
    dlg.FillLabels();
    EXPECT_EQ(dlg.Application_grp->Caption(), "Application");
    EXPECT_EQ(dlg.maker_grp->Caption(), "Quillmark");
    EXPECT_EQ(dlg.all_grp->Caption(), "");
    EXPECT_EQ(dlg.email_btn->Caption(), "Email");
    EXPECT_EQ(dlg.web_btn->Caption(), "Web Site");
    EXPECT_EQ(dlg.forum_btn->Caption(), "Forums");
    EXPECT_EQ(dlg.ok_btn->Caption(), "Ok");
    EXPECT_EQ(dlg.ok_btn->ModalResult(), mrOk);
    dlg.HandleNeeded();
    EXPECT_EQ(dlg.ClientWidth(), 389);
    EXPECT_EQ(dlg.ClientHeight(), 285);
    const LONG_PTR style = GetWindowLongPtrA(dlg.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
    auto* gif = dynamic_cast<TUxGIFImage*>(dlg.Image1->Picture().Graphic());
    ASSERT_TRUE(gif) << "the banner is a GIF picture";
    EXPECT_EQ(gif->Version(), TGIFVersion::gv89a);
    EXPECT_EQ(dlg.Image1->Picture().Width(), 388);
    EXPECT_EQ(dlg.Image1->Picture().Height(), 96);
    EXPECT_EQ(dlg.Image1->Width(), 388) << "the picture sizes its control";
    std::vector<testsupport::CaptionFit> fits;
    for (TWinControl* c : std::initializer_list<TWinControl*>{dlg.Application_grp.get(), dlg.maker_grp.get(),
                                                              dlg.appname_lbl.get(), dlg.version_lbl.get(),
                                                              dlg.email_btn.get(), dlg.web_btn.get(),
                                                              dlg.forum_btn.get(), dlg.ok_btn.get()})
        fits.push_back(testsupport::FitOf(*c));
    EXPECT_TRUE(testsupport::Overflows(fits).empty()) << ::testing::PrintToString(testsupport::Overflows(fits));
}

TEST_F(AboutDlgTest, TheButtonsOpenTheMakersAddressesThroughTheShell) {
    TAboutDlg dlg(nullptr);
    dlg.HandleNeeded();
    dlg.email_btn->Click();
    dlg.web_btn->Click();
    dlg.forum_btn->Click();
    ASSERT_EQ(calls.size(), 3u);
    const std::string expected[] = {kMakerEmail, MakerServerUrl("/"), MakerServerUrl("/forum")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].wnd, dlg.Handle()) << i;
        EXPECT_TRUE(calls[i].verbNull) << "no verb: the default action";
        EXPECT_EQ(calls[i].file, expected[i]);
        EXPECT_EQ(calls[i].show, SW_SHOWNORMAL);
    }
    EXPECT_EQ(calls[0].file.rfind("mailto:", 0), 0u);
    EXPECT_EQ(calls[2].file.substr(calls[2].file.size() - 6), "/forum");
}

// While the box is shown modally: a picture of it is saved, then OK is clicked.
TAboutDlg* shown = nullptr;
bool pictured = false;
void CALLBACK WhileShown(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!shown) return;
    HWND wnd = shown->Handle();
    RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    GetWindowRect(wnd, &r);
    TBitmap shot(r.right - r.left, r.bottom - r.top, TPixelFormat::pf24bit);
    HDC screen = GetDC(nullptr);
    BitBlt(shot.Canvas().Handle(), 0, 0, shot.Width(), shot.Height(), screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string folder = IncludeTrailingPathDelimiter(cwd) + "app-output\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    shot.SaveToFile(folder + "about.bmp");
    pictured = true;
    shown->ok_btn->Click();
}

TEST_F(AboutDlgTest, TheMenuCommandShowsTheBoxUntilOk) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
    {
        TMainDlg main(nullptr, {});
        TAboutDlg about(nullptr);
        main.AboutDlg = &about;
        shown = &about;
        pictured = false;
        SetTimer(nullptr, 0, 500, WhileShown);
        ASSERT_TRUE(main.About1->OnClick);
        main.About1->OnClick(main.About1.get());
        shown = nullptr;
        EXPECT_TRUE(pictured);
        EXPECT_EQ(about.ModalResult(), mrOk);
        EXPECT_EQ(about.Caption(), "About VoltAtlas");
        EXPECT_FALSE(IsWindowVisible(about.Handle()));
        // Execute reports OK the same way.
        shown = &about;
        SetTimer(nullptr, 0, 100, WhileShown);
        EXPECT_TRUE(about.Execute());
        shown = nullptr;
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Quillmark");
}

}  // namespace
