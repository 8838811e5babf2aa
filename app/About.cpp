#include "app/About.h"

#include <windows.h>

#include <cstdint>

#include "components/KitSysUtils.h"
#include "components/UxGIF.h"
#include "foundation/UnicodeUtils.h"
#include "framework/ControlArgs.h"
#include "framework/SysUtils.h"
#include "resources/resource.h"
#include "update/MakerServer.h"

using namespace framework;

TAboutDlg::TAboutDlg(TComponent* owner) : TForm(owner) {
    SetName("AboutDlg");
    BorderStyle = TFormBorderStyle::bsSingle;
    BorderIcons = biSystemMenu | biMinimize;
    Position = owner ? TPosition::poOwnerFormCenter : TPosition::poMainFormCenter;
    SetClientSize(389, 285);

    MakeControl(Image1, this, TImageArgs{.Name = "Image1", .Parent = this, .Bounds = {0, 0, 388, 96}, .AutoSize = true});
    LoadBanner();

    MakeControl(all_grp, this, TGroupBoxArgs{.Name = "all_grp", .Parent = this, .Bounds = {4, 98, 381, 148}});
    MakeControl(Application_grp, this,
                TGroupBoxArgs{.Name = "Application_grp", .Parent = all_grp.get(), .Bounds = {8, 8, 365, 62},
                              .Caption = "Application"});
    MakeControl(appname_lbl, this,
                TLabelArgs{.Name = "appname_lbl", .Parent = Application_grp.get(), .Bounds = {12, 18, 341, 17},
                           .AutoSize = false});
    MakeControl(version_lbl, this,
                TLabelArgs{.Name = "version_lbl", .Parent = Application_grp.get(), .Bounds = {12, 38, 341, 17},
                           .AutoSize = false});
    MakeControl(maker_grp, this,
                TGroupBoxArgs{.Name = "maker_grp", .Parent = all_grp.get(), .Bounds = {8, 76, 365, 62},
                              .Caption = "Quillmark"});
    MakeControl(email_btn, this,
                TButtonArgs{.Name = "email_btn", .Parent = maker_grp.get(), .Bounds = {12, 22, 105, 27},
                            .Caption = "Email", .OnClick = [this](TComponent* s) { email_btnClick(s); }});
    MakeControl(web_btn, this,
                TButtonArgs{.Name = "web_btn", .Parent = maker_grp.get(), .Bounds = {130, 22, 105, 27},
                            .Caption = "Web Site", .OnClick = [this](TComponent* s) { web_btnClick(s); }});
    MakeControl(forum_btn, this,
                TButtonArgs{.Name = "forum_btn", .Parent = maker_grp.get(), .Bounds = {248, 22, 105, 27},
                            .Caption = "Forums", .OnClick = [this](TComponent* s) { forum_btnClick(s); }});
    MakeControl(ok_btn, this,
                TButtonArgs{.Name = "ok_btn", .Parent = this, .Bounds = {157, 253, 75, 25}, .Caption = "Ok",
                            .Default = true, .ModalResult = mrOk});

    TS_about = std::make_unique<TTextStorage>(this);
    TS_about->SetName("TS_about");
    TS_about->Items().Add("About");
    TS_about->Items().Add("Application Name :");
    TS_about->Items().Add("Version :");
    // Built: the parts take their loaded state (the text table its originals).
    BeginLoading();
    EndLoading();
}

TAboutDlg::~TAboutDlg() = default;

// The banner is kept as a GIF and streamed into the picture as a form stores it: a 32-bit
// size, then the file.
void TAboutDlg::LoadBanner() {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(IDR_BANNER_GIF), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL g = res ? LoadResource(module, res) : nullptr;
    const void* p = g ? LockResource(g) : nullptr;
    if (!p) return;
    const uint32_t size = SizeofResource(module, res);
    TMemoryStream data;
    data.WriteBuffer(&size, 4);
    data.WriteBuffer(p, size);
    data.SetPosition(0);
    auto gif = std::make_unique<TUxGIFImage>();
    try {
        gif->ReadData(data);
    } catch (const framework::Exception&) {
        return;  // a damaged banner leaves the picture empty
    }
    Image1->Picture().SetGraphic(std::move(gif));
}

void TAboutDlg::FillLabels() {
    const std::string title = Application().Title();
    SetCaption(TS_about->GetText("About") + " " + title);
    appname_lbl->SetCaption(TS_about->GetText("Application Name :") + " " + title);
    version_lbl->SetCaption(TS_about->GetText("Version :") + " " +
                            WideToAnsi(GetFixedFileVersion(GetModuleFileNameWide())));
}

bool TAboutDlg::Execute() {
    FillLabels();
    return ShowModal() == mrOk;
}

void TAboutDlg::email_btnClick(TComponent*) { ShellOpen(Handle(), "", kMakerEmail, SW_SHOWNORMAL, "", ""); }
void TAboutDlg::web_btnClick(TComponent*) { ShellOpen(Handle(), "", MakerServerUrl(kMakerWebSitePath), SW_SHOWNORMAL, "", ""); }
void TAboutDlg::forum_btnClick(TComponent*) { ShellOpen(Handle(), "", MakerServerUrl(kMakerForumPath), SW_SHOWNORMAL, "", ""); }
