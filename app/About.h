// The about box: the banner, the program's name and version with captions from its text
// table, and buttons that open the maker's mail address, web site and forum. Created by the
// program body after the main window, shown by the main window's About command. GUI thread.
#pragma once

#include <memory>
#include <string>

#include "app/TextStorage.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

// The maker's addresses the buttons open: the mail address, and two pages of the maker's
// web server.
inline constexpr const char* kMakerEmail = "mailto:contact@quillmark.com";
inline constexpr const char* kMakerWebSitePath = "/";
inline constexpr const char* kMakerForumPath = "/forum";

class TAboutDlg : public framework::TForm {
public:
    explicit TAboutDlg(framework::TComponent* owner);
    ~TAboutDlg() override;

    // Fills the captions and shows the box modally; true when it was closed with OK.
    bool Execute();
    // The caption and the two labels, from the text table, the title and the file version.
    void FillLabels();

    void email_btnClick(framework::TComponent* Sender);
    void web_btnClick(framework::TComponent* Sender);
    void forum_btnClick(framework::TComponent* Sender);

    std::unique_ptr<framework::TImage> Image1;
    std::unique_ptr<framework::TGroupBox> all_grp;
    std::unique_ptr<framework::TGroupBox> Application_grp;
    std::unique_ptr<framework::TLabel> appname_lbl;
    std::unique_ptr<framework::TLabel> version_lbl;
    std::unique_ptr<framework::TGroupBox> maker_grp;
    std::unique_ptr<framework::TButton> email_btn;
    std::unique_ptr<framework::TButton> web_btn;
    std::unique_ptr<framework::TButton> forum_btn;
    std::unique_ptr<framework::TButton> ok_btn;
    std::unique_ptr<TTextStorage> TS_about;

private:
    void LoadBanner();
};
