// The main window: shows the first battery's identity, health and live state in image
// buttons, refreshed once a second; decides installed or portable, keeps the log, shows
// the tray icon when asked, fetches the link file and checks for a newer version at its
// first activation, runs the menu, tray and link commands, and cleans up after itself on
// closing. GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/BatData.h"
#include "components/UxImgBtn.h"
#include "components/UxTrayIcon.h"
#include "foundation/Log.h"
#include "framework/Forms.h"
#include "framework/ImageList.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "framework/Timer.h"

class TAboutDlg;
class TSettingsDlg;
class TFileGrabber;
class TPlimLite;

// The program's title: the registry value, data folder, log file and caption use it.
inline constexpr const char* kTitle = "VoltAtlas";
// An Uninstall entry whose display name starts with this marks an installed copy.
inline constexpr const char* kInstalledName = "Quillmark VoltAtlas";

// Paths on the maker's web server of the pages the window opens.
inline constexpr const char* kShopPath = "/voltatlas/index.php";
inline constexpr const char* kDriversPath = "/plim/drivers.php";
inline constexpr const char* kChangeLogPath = "/bugs/changelog_page.php?project_id=18";
inline constexpr const char* kBugListPath = "/bugs/view_all_bug_page.php?project_id=18";
inline constexpr const char* kDownloadPath = "/?voltatlas";
// The downloaded link file, in the data folder.
inline constexpr const char* kLinkFileName = "voltatlas.ini";
// The new-version question and the up-to-date notice.
inline constexpr const char* kUpdateQuestion =
    "A new version of VoltAtlas is available. Do you want to download update now ?";
inline constexpr const char* kUpToDate = "VoltAtlas is already up to date.";

class TMainDlg : public framework::TForm {
public:
    // Params: the command-line parameters after the program name.
    TMainDlg(framework::TComponent* owner, std::vector<std::string> Params);
    ~TMainDlg() override;

    void FormCreate(framework::TComponent* Sender);
    void AppEvtActivate(framework::TComponent* Sender);
    void TmrTimer(framework::TComponent* Sender);
    void FormClose(framework::TComponent* Sender, framework::TCloseAction& Action);
    void FormDestroy(framework::TComponent* Sender);
    void ApplyTraySetting();

    void RefreshBattery();
    void AddRateSample(int32_t Rate);
    static std::string ChemistryName(const std::string& Code);

    void Quit1Click(framework::TComponent* Sender);
    void Settings1Click(framework::TComponent* Sender);
    void About1Click(framework::TComponent* Sender);
    void Show1Click(framework::TComponent* Sender);
    void OpenLogFile1Click(framework::TComponent* Sender);
    // Starts an update check unless one is running; its menu item stays disabled until the
    // check has reported.
    void CheckforUpdate1Click(framework::TComponent* Sender);
    void UpdateCheckDone(TPlimLite* Sender);
    void BugreportFeaturerequestKnownissues1Click(framework::TComponent* Sender);
    void ChangeLog1Click(framework::TComponent* Sender);
    void drivers_btnClick(framework::TComponent* Sender);
    void UxImgBtn1Click(framework::TComponent* Sender);

    // The address for Key in section "links" of the downloaded link file when it is an http
    // or https address; otherwise the built-in shop address. The file comes from the network:
    // nothing else (a program path, a file: link) may reach the shell from it.
    std::string GetLink(const std::string& Key) const;
    // The link file: the data folder's "voltatlas.ini".
    std::string LinkFileName() const;

    // The settings dialog the Settings command shows (created by the program body).
    TSettingsDlg* SettingsDlg = nullptr;
    // The about box the About command shows (created by the program body).
    TAboutDlg* AboutDlg = nullptr;

    std::unique_ptr<TPlimLite> Lite;
    bool SilentCheck = false;
    std::unique_ptr<TFileGrabber> Grabber;
    bool Removed = false;
    bool PrevRemoved = false;
    bool DetailsPending = false;
    bool ShowNoBatteryOnce = false;
    std::string LastPowerText;
    std::unique_ptr<TKLog> Log;
    uint32_t AvgRate = 0;
    uint32_t RateHistory[8] = {};
    std::unique_ptr<TBatEnum> BatEnum;

    // Components, in the order they are built.
    std::unique_ptr<framework::TImageList> ImageList96;
    std::unique_ptr<framework::TImageList> ImageListStatus;
    std::unique_ptr<framework::TPanel> top_pnl;
    std::unique_ptr<framework::TImage> Image1;
    std::unique_ptr<framework::TLabel> Label2;
    std::unique_ptr<framework::TLabel> subtitle_lbl;
    std::unique_ptr<TUxImgBtn> drivers_btn;
    std::unique_ptr<framework::TGroupBox> status_grp;
    std::unique_ptr<TUxImgBtn> status_btn, volt_btn, power_btn, rate_btn, time_btn;
    std::unique_ptr<framework::TGroupBox> manuf_grp;
    std::unique_ptr<TUxImgBtn> manuf_btn, manufdate_btn, manufsn_btn;
    std::unique_ptr<framework::TGroupBox> chem_grp;
    std::unique_ptr<TUxImgBtn> chemistry_btn;
    std::unique_ptr<framework::TGroupBox> temp_grp;
    std::unique_ptr<TUxImgBtn> temp_btn;
    std::unique_ptr<framework::TGroupBox> GroupBox5;
    std::unique_ptr<TUxImgBtn> cycle_btn;
    std::unique_ptr<framework::TGroupBox> GroupBox1;
    std::unique_ptr<TUxImgBtn> health_btn;
    std::unique_ptr<TUxImgBtn> UxImgBtn1;
    std::unique_ptr<framework::TTimer> Tmr;
    std::unique_ptr<framework::TApplicationEvents> AppEvt;
    std::unique_ptr<framework::TPopupMenu> TrayMenu;
    std::unique_ptr<framework::TMenuItem> Show1, Close1;
    std::unique_ptr<TUxTrayIcon> tray;
    std::unique_ptr<framework::TMainMenu> MainMenu1;
    std::unique_ptr<framework::TMenuItem> File1, Quit1, Options1, Settings1, N1, OpenLogFile1,
        N2, CheckforUpdate1, N3, BugreportFeaturerequestKnownissues1, ChangeLog1, N4, About1;

protected:
    // The end of the Windows session closes the program as Quit does.
    void WndProc(framework::TMessage& m) override;

private:
    // The system ends the process once the session's end has been answered: the close and
    // the log's save are done before that.
    void EndSession();
    void BuildComponents();
    void BuildMenus();
    bool Portable() const;
    std::string ExeFolder() const;
    // settings.ini beside the executable, by its wide name.
    std::wstring IniFileName() const;
    void LogDetails(const TBatData& Data);

    std::vector<std::string> params_;
    // The executable: wide for every read of it, ANSI text for the log.
    std::wstring exePathWide_;
    std::string exePath_;
    // What the import of settings.ini left out, for the log once it exists.
    framework::TStringList importErrors_;
    // The close has run (Quit, WM_CLOSE or the session's end): it runs once.
    bool closed_ = false;
};
