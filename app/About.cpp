#include "app/About.h"

#include <windows.h>

#include <cstdint>

#include "components/KitSysUtils.h"
#include "components/UxGIF.h"
#include "foundation/UnicodeUtils.h"
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

    Image1 = std::make_unique<TImage>(this);
    Image1->SetName("Image1");
    Image1->SetBounds(0, 0, 388, 96);
    Image1->SetAutoSize(true);
    Image1->SetParent(this);
    LoadBanner();

    auto group = [this](std::unique_ptr<TGroupBox>& grp, const char* name, const char* caption, TWinControl* parent,
                        RECT r) {
        grp = std::make_unique<TGroupBox>(this);
        grp->SetName(name);
        grp->SetCaption(caption);
        grp->SetBounds(r.left, r.top, r.right, r.bottom);
        grp->SetParent(parent);
    };
    auto label = [this](std::unique_ptr<TLabel>& lbl, const char* name, TWinControl* parent, RECT r) {
        lbl = std::make_unique<TLabel>(this);
        lbl->SetName(name);
        lbl->SetAutoSize(false);
        lbl->SetBounds(r.left, r.top, r.right, r.bottom);
        lbl->SetParent(parent);
    };
    auto button = [this](std::unique_ptr<TButton>& btn, const char* name, const char* caption, TWinControl* parent,
                         RECT r) {
        btn = std::make_unique<TButton>(this);
        btn->SetName(name);
        btn->SetCaption(caption);
        btn->SetBounds(r.left, r.top, r.right, r.bottom);
        btn->SetParent(parent);
    };

    group(all_grp, "all_grp", "", this, {4, 98, 381, 148});
    group(Application_grp, "Application_grp", "Application", all_grp.get(), {8, 8, 365, 62});
    label(appname_lbl, "appname_lbl", Application_grp.get(), {12, 18, 341, 17});
    label(version_lbl, "version_lbl", Application_grp.get(), {12, 38, 341, 17});
    group(maker_grp, "maker_grp", "Quillmark", all_grp.get(), {8, 76, 365, 62});
    button(email_btn, "email_btn", "Email", maker_grp.get(), {12, 22, 105, 27});
    button(web_btn, "web_btn", "Web Site", maker_grp.get(), {130, 22, 105, 27});
    button(forum_btn, "forum_btn", "Forums", maker_grp.get(), {248, 22, 105, 27});
    email_btn->OnClick = [this](TComponent* s) { email_btnClick(s); };
    web_btn->OnClick = [this](TComponent* s) { web_btnClick(s); };
    forum_btn->OnClick = [this](TComponent* s) { forum_btnClick(s); };
    button(ok_btn, "ok_btn", "Ok", this, {157, 253, 75, 25});
    ok_btn->SetModalResult(mrOk);
    ok_btn->SetDefault(true);

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
                            WideToAnsi(GetFixedFileVersion(AnsiToWide(GetModuleFileNameText()))));
}

bool TAboutDlg::Execute() {
    FillLabels();
    return ShowModal() == mrOk;
}

void TAboutDlg::email_btnClick(TComponent*) { ShellOpen(Handle(), "", kMakerEmail, SW_SHOWNORMAL, "", ""); }
void TAboutDlg::web_btnClick(TComponent*) { ShellOpen(Handle(), "", MakerServerUrl(kMakerWebSitePath), SW_SHOWNORMAL, "", ""); }
void TAboutDlg::forum_btnClick(TComponent*) { ShellOpen(Handle(), "", MakerServerUrl(kMakerForumPath), SW_SHOWNORMAL, "", ""); }
