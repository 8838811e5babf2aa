#include "app/MainDlg.h"

#include <windows.h>

#include <cmath>
#include <cstdio>

#include "app/About.h"
#include "app/BatFct.h"
#include "app/MsgDlg.h"
#include "app/SettingsDlg.h"
#include "components/KitSysUtils.h"
#include "foundation/JoryUtils.h"
#include "foundation/UnicodeUtils.h"
#include "framework/ControlArgs.h"
#include "framework/Dialogs.h"
#include "framework/IniFile.h"
#include "framework/SysUtils.h"
#include "resources/resource.h"
#include "update/FileGrabber.h"
#include "update/HttpCusto.h"
#include "update/MakerServer.h"
#include "update/PlimLite.h"

using namespace framework;

namespace {

constexpr int kStatusIconHigh = 0, kStatusIconMid = 1, kStatusIconLow = 2, kStatusIconShop = 3;
constexpr int kIconOnBattery = 6, kIconOnLine = 7;
constexpr int kIconDischarging = 11, kIconCharging = 12, kIconRateZero = 13;

// An address from the link file that may go to the shell: "http://" or "https://" and a
// host after it, with no blank or control character anywhere (the shell would take a file:
// link, a program path or a command line just as readily).
bool IsWebAddress(const std::string& text) {
    size_t rest = 0;
    if (StrStartsText(text, "http://"))
        rest = 7;
    else if (StrStartsText(text, "https://"))
        rest = 8;
    else
        return false;
    if (text.size() <= rest || text[rest] == '/') return false;
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F) return false;
    return true;
}

std::string NotEmptyOrNA(const std::string& text) { return Trim(text).empty() ? "N/A" : text; }

// Two decimals with the user's decimal separator, as "%f" formats for the user's locale.
std::string FormatVolts(uint32_t millivolts) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", millivolts / 1000.0);
    char sep[8] = ".";
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep) <= 1) lstrcpyA(sep, ".");
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '.')
            out += sep;
        else
            out += *p;
    }
    return out + " V";
}

void LoadIcons(TImageList& list, int firstId, int count, int size) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    // All at once when the resources hold them as the list wants them; else one by one, with
    // the system's icon standing in for a missing one.
    if (list.AddIconResources(instance, firstId, count) >= 0) return;
    for (int i = 0; i < count; ++i) {
        HICON h = static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(firstId + i), IMAGE_ICON, size, size, 0));
        TIcon icon;
        if (h)
            icon.SetHandle(h);
        else
            icon.SetHandle(CopyIcon(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION))));
        list.AddIcon(icon);
    }
}

}  // namespace

TMainDlg::TMainDlg(TComponent* owner, std::vector<std::string> Params)
    : TForm(owner),
      params_(std::move(Params)),
      exePathWide_(GetModuleFileNameWide()),
      exePath_(PathForAnsiApi(exePathWide_)) {
    SetName("MainDlg");
    BuildComponents();
    BuildMenus();
    OnClose = [this](TForm* sender, TCloseAction& action) { FormClose(sender, action); };
    FormCreate(this);
}

TMainDlg::~TMainDlg() {
    MarkDestroying();
    FormDestroy(this);
    // The tray icon, timer and activation hook go first: none may call into a half-destroyed form.
    tray.reset();
    Tmr.reset();
    AppEvt.reset();
}

void TMainDlg::BuildComponents() {
    SetCaption(kTitle);
    BorderStyle = TFormBorderStyle::bsSingle;
    BorderIcons = biSystemMenu | biMinimize;
    Position = TPosition::poScreenCenter;
    Font().SetName("MS Sans Serif");
    Font().SetSize(8);
    SetClientSize(437, 409);

    ImageList96 = std::make_unique<TImageList>(this, 32, 32);
    ImageList96->SetName("ImageList96");
    LoadIcons(*ImageList96, IDI_LIST96_FIRST, IDI_LIST96_COUNT, 32);
    ImageListStatus = std::make_unique<TImageList>(this, 48, 48);
    ImageListStatus->SetName("ImageListStatus");
    LoadIcons(*ImageListStatus, IDI_STATUS_FIRST, IDI_STATUS_COUNT, 48);

    MakeControl(top_pnl, this,
                TPanelArgs{.Name = "top_pnl", .Parent = this, .Bounds = {0, 0, 437, 57}, .Color = clWindowFrame,
                           .BevelInner = TBevelCut::bvLowered});
    MakeControl(Image1, this,
                TImageArgs{.Name = "Image1", .Parent = top_pnl.get(), .Bounds = {12, 12, 32, 32},
                           .Icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr),
                                                                 MAKEINTRESOURCEA(IDI_MAINICON), IMAGE_ICON, 32, 32, 0))});
    MakeControl(Label2, this,
                TLabelArgs{.Name = "Label2", .Parent = top_pnl.get(), .Bounds = {54, 7, 200, 24}, .Caption = kTitle,
                           .Font = TFontArgs{.Name = "MS Sans Serif", .Size = 14, .Style = fsBold, .Color = clSilver}});
    MakeControl(subtitle_lbl, this,
                TLabelArgs{.Name = "subtitle_lbl", .Parent = top_pnl.get(), .Bounds = {56, 33, 220, 15},
                           .Caption = "Your laptop battery, at a glance",
                           .Font = TFontArgs{.Name = "MS Sans Serif", .Size = 8, .Color = clWhite}});

    // Value displays: flat, left-aligned image buttons without frame or focus rectangle.
    const auto display = [](const char* name, TWinControl* parent, TImageList* list, int image, TBounds bounds) {
        return TUxImgBtnArgs{.Name = name, .Parent = parent, .Bounds = bounds, .Images = list, .ImageIndex = image,
                             .Flat = true, .Alignment = TAlignment::taLeftJustify, .MustDrawButtonFrame = false,
                             .MustDrawFocusRect = false};
    };
    const auto group = [this](const char* name, const char* caption, TBounds bounds) {
        return TGroupBoxArgs{.Name = name, .Parent = this, .Bounds = bounds, .Caption = caption};
    };

    MakeControl(drivers_btn, this,
                TUxImgBtnArgs{.Name = "drivers_btn", .Parent = top_pnl.get(), .Bounds = {296, 10, 132, 38},
                              .Caption = "Drivers Update", .Images = ImageList96.get(), .ImageIndex = 0,
                              .Flat = true, .Alignment = TAlignment::taLeftJustify, .MustDrawButtonFrame = false,
                              .MustDrawFocusRect = false,
                              .OnClick = [this](TComponent* s) { drivers_btnClick(s); }});

    MakeControl(status_grp, this, group("status_grp", "Status", {8, 63, 421, 133}));
    MakeControl(status_btn, this,
                TUxImgBtnArgs{.Name = "status_btn", .Parent = status_grp.get(), .Bounds = {8, 18, 140, 58},
                              .Images = ImageListStatus.get(), .ImageIndex = kStatusIconLow, .Flat = true,
                              .Alignment = TAlignment::taLeftJustify, .MustDrawButtonFrame = false,
                              .MustDrawFocusRect = false, .ShowHint = true});
    MakeControl(time_btn, this, display("time_btn", status_grp.get(), ImageList96.get(), 14, {8, 84, 140, 40}));
    MakeControl(power_btn, this,
                display("power_btn", status_grp.get(), ImageList96.get(), kIconOnBattery, {154, 14, 259, 38}));
    MakeControl(rate_btn, this,
                display("rate_btn", status_grp.get(), ImageList96.get(), kIconRateZero, {154, 52, 259, 38}));
    MakeControl(volt_btn, this, display("volt_btn", status_grp.get(), ImageList96.get(), 8, {154, 90, 259, 38}));

    MakeControl(manuf_grp, this, group("manuf_grp", "Manufacturer", {8, 200, 421, 92}));
    MakeControl(manuf_btn, this, display("manuf_btn", manuf_grp.get(), ImageList96.get(), 1, {8, 14, 220, 38}));
    MakeControl(manufsn_btn, this,
                display("manufsn_btn", manuf_grp.get(), ImageList96.get(), 4, {232, 14, 181, 38}));
    MakeControl(manufdate_btn, this,
                display("manufdate_btn", manuf_grp.get(), ImageList96.get(), 3, {8, 50, 220, 38}));

    // The bottom row shares its width by what each box must show in the fonts a machine
    // really has: the group captions whole, a cycle count and its unit on one line, a
    // chemistry name on at most two lines.
    MakeControl(chem_grp, this, group("chem_grp", "Chemistry", {8, 296, 118, 58}));
    MakeControl(chemistry_btn, this,
                display("chemistry_btn", chem_grp.get(), ImageList96.get(), 2, {4, 15, 110, 38}));
    MakeControl(temp_grp, this, group("temp_grp", "Temperature", {130, 296, 88, 58}));
    MakeControl(temp_btn, this, display("temp_btn", temp_grp.get(), ImageList96.get(), 5, {4, 15, 80, 38}));
    MakeControl(GroupBox5, this, group("GroupBox5", "Charge Cycles", {222, 296, 111, 58}));
    MakeControl(cycle_btn, this, display("cycle_btn", GroupBox5.get(), ImageList96.get(), 9, {4, 15, 103, 38}));
    MakeControl(GroupBox1, this, group("GroupBox1", "Health / Wear", {337, 296, 92, 58}));
    MakeControl(health_btn, this, display("health_btn", GroupBox1.get(), ImageList96.get(), 10, {4, 15, 84, 38}));

    MakeControl(UxImgBtn1, this,
                TUxImgBtnArgs{.Name = "UxImgBtn1", .Parent = this, .Bounds = {8, 358, 421, 48},
                              .Caption = "       Find New Battery ", .Images = ImageListStatus.get(),
                              .ImageIndex = kStatusIconShop, .Flat = true, .MustDrawFocusRect = false,
                              .OnClick = [this](TComponent* s) { UxImgBtn1Click(s); }});

    Tmr = std::make_unique<TTimer>(this);
    Tmr->SetName("Tmr");
    Tmr->SetInterval(1000);
    Tmr->OnTimer = [this](TComponent* s) { TmrTimer(s); };
    Tmr->SetEnabled(true);

    AppEvt = std::make_unique<TApplicationEvents>(this);
    AppEvt->SetName("AppEvt");
    AppEvt->OnActivate = [this](TComponent* s) { AppEvtActivate(s); };
}

void TMainDlg::BuildMenus() {
    auto item = [this](std::unique_ptr<TMenuItem>& it, const char* name, const char* caption,
                       TMenuItem& parent, TShortCut shortCut = 0) {
        it = std::make_unique<TMenuItem>(this);
        it->SetName(name);
        it->SetCaption(caption);
        if (shortCut) it->SetShortCut(shortCut);
        parent.Add(it.get());
    };
    constexpr WORD kCtrl = 0x4000;  // the shortcut's Ctrl flag

    TrayMenu = std::make_unique<TPopupMenu>(this);
    TrayMenu->SetName("TrayMenu");
    item(Show1, "Show1", "Show", TrayMenu->Items());
    Show1->SetDefault(true);
    Show1->OnClick = [this](TComponent* s) { Show1Click(s); };
    item(Close1, "Close1", "Close", TrayMenu->Items());
    Close1->OnClick = [this](TComponent* s) { Quit1Click(s); };

    tray = std::make_unique<TUxTrayIcon>(this);
    tray->SetName("tray");
    tray->SetIconIndex(0);
    tray->SetHint(kTitle);
    tray->SetPopupMenu(TrayMenu.get());

    MainMenu1 = std::make_unique<TMainMenu>(this);
    MainMenu1->SetName("MainMenu1");
    TMenuItem& top = MainMenu1->Items();
    item(File1, "File1", "&File", top);
    item(Quit1, "Quit1", "&Quit", *File1, ShortCut('Q', kCtrl));
    Quit1->OnClick = [this](TComponent* s) { Quit1Click(s); };
    item(Options1, "Options1", "&Options", top);
    item(Settings1, "Settings1", "Settings...", *Options1, ShortCut('S', kCtrl));
    Settings1->OnClick = [this](TComponent* s) { Settings1Click(s); };
    item(N1, "N1", "&?", top);
    item(OpenLogFile1, "OpenLogFile1", "Open &Log File", *N1, ShortCut('L', kCtrl));
    OpenLogFile1->OnClick = [this](TComponent* s) { OpenLogFile1Click(s); };
    item(N2, "N2", "-", *N1);
    item(CheckforUpdate1, "CheckforUpdate1", "Check for Update", *N1, ShortCut('G', kCtrl));
    CheckforUpdate1->OnClick = [this](TComponent* s) { CheckforUpdate1Click(s); };
    item(N3, "N3", "-", *N1);
    item(BugreportFeaturerequestKnownissues1, "BugreportFeaturerequestKnownissues1",
         "Bug report, Feature request, Known issues", *N1);
    BugreportFeaturerequestKnownissues1->OnClick = [this](TComponent* s) {
        BugreportFeaturerequestKnownissues1Click(s);
    };
    item(ChangeLog1, "ChangeLog1", "Change Log", *N1);
    ChangeLog1->OnClick = [this](TComponent* s) { ChangeLog1Click(s); };
    item(N4, "N4", "-", *N1);
    item(About1, "About1", "&About...", *N1, ShortCut('B', kCtrl));
    About1->OnClick = [this](TComponent* s) { About1Click(s); };
    SetMenu(MainMenu1.get());
}

std::string TMainDlg::ExeFolder() const { return IncludeTrailingPathDelimiter(ExtractFileDir(exePath_)); }

std::wstring TMainDlg::IniFileName() const {
    return exePathWide_.substr(0, exePathWide_.rfind(L'\\') + 1) + L"settings.ini";
}

bool TMainDlg::Portable() const { return !IsSoftwareInstalled(kInstalledName); }

void TMainDlg::FormCreate(TComponent*) {
    if (Portable()) ImportIniSettings(kTitle, IniFileName(), &importErrors_);
}

void TMainDlg::AppEvtActivate(TComponent*) {
    AppEvt->OnActivate = nullptr;  // once per run
    // Closed before it was ever activated: the company value and the data folder would come back.
    if (closed_) return;

    WriteCompanyValue(kTitle, exePathWide_);
    SetCaption(std::string(kTitle) + " v" + WideToAnsi(GetFixedFileVersion(exePathWide_)));
    top_pnl->ParentBackground = true;
    top_pnl->ParentBackground = false;

    std::string dataFolderProblem;
    const std::string dataFolder = GetDataFolder(exePath_, kTitle, &dataFolderProblem);
    Log = std::make_unique<TKLog>(dataFolder + kTitle + ".log", false, 10000, false);

    Log->Add("Starting", 1);
    Log->Add(exePath_, 1);
    Log->Add(Caption(), 1);
    const std::string reactOs = GetReactOSVersionText();
    Log->Add(!reactOs.empty() ? "ReactOS : " + reactOs : "Windows : " + GetOSVersionText(), 1);
    Log->Add("64Bits : " + BoolToYesNo(Is64BitWindows()), 1);
    Log->Add("Administrator : " + BoolToYesNo(UserIsAdmin()), 1);
    Log->Add("Portable : " + BoolToYesNo(Portable()), 1);
    if (!params_.empty()) Log->Add(params_[0], 1);
    // The first attempt to load OpenSSL.
    Log->Add("OpenSSL : " + GetOpenSslVersionText(), 1);
    if (!dataFolderProblem.empty()) Log->Add(dataFolderProblem + "; using " + dataFolder, 2);
    for (int i = 0; i < importErrors_.Count(); ++i) Log->Add(importErrors_[i], 2);
    importErrors_.Clear();

    for (uint32_t& sample : RateHistory) sample = 0;
    AvgRate = 0;

    // A download that cannot start is logged by the downloader; the built-in links serve then.
    Grabber = std::make_unique<TFileGrabber>(Log.get());
    Grabber->Download(MakerServerUrl(kLinkFilePath), dataFolder + kLinkFileName, this, 0, 0, nullptr);

    DetailsPending = true;
    ShowNoBatteryOnce = true;
    PrevRemoved = false;

    Log->Add("Enumerating batteries", 1);
    BatEnum = std::make_unique<TBatEnum>();
    if (BatEnum->Count() > 0) Log->Add(std::to_string(BatEnum->Count()) + " batteries found", 1);

    ApplyTraySetting();

    if (!params_.empty() && params_[0] == "/minimized") {
        // Without the tray icon, hiding the window would leave nothing to bring it back:
        // go to the taskbar instead.
        if (tray->Active())
            tray->MinimizeToTray();
        else
            Application().Minimize();
    }

    Lite = std::make_unique<TPlimLite>(Log.get(), kTitle);
    SilentCheck = true;
    CheckforUpdate1Click(CheckforUpdate1.get());
}

void TMainDlg::ApplyTraySetting() {
    // After the close the settings may be gone with the portable close: nothing reads them.
    if (closed_) return;
    tray->SetActive(ReadSetting("MinSysTray") == "1");
}

void TMainDlg::TmrTimer(TComponent*) {
    // The timer runs from creation, but the enumerator and the log come with the first
    // activation, which may be late (started at logon behind another window).
    if (!BatEnum || !Log) return;
    try {
        BatEnum->Enumerate();
        RefreshBattery();
    } catch (...) {
        if (Log) Log->Add("Unhandled exception", 2);
    }
}

void TMainDlg::FormClose(TComponent*, TCloseAction&) {
    if (closed_) return;
    closed_ = true;
    // The close may run inside the settings dialog's modal loop (the session ends, WM_CLOSE
    // arrives): the dialog ends and stores nothing after it.
    if (SettingsDlg) SettingsDlg->ProgramClosed();
    const std::string virtualStore = CleanVirtualStore(ExeFolder());
    if (!virtualStore.empty() && Log) Log->Add("Cleaning VirtualStore : " + virtualStore, 0);

    if (Portable()) {
        // The settings go back to the file first. Only when every one of them arrived is
        // what the program left on the computer removed; otherwise the key, the company value
        // and the data folder stay, and with the folder the log that says what went wrong.
        if (ExportIniSettings(kTitle, IniFileName(), Log.get())) {
            // Only the per-user data folder goes, never the executable's own folder.
            DeleteDataFolder(exePath_, kTitle);
            RemoveCompanyDataFolderIfEmpty();
            DeleteProductSettingsKey(kTitle);
            DeleteCompanyValue(kTitle);
            DeleteCompanyKeyIfEmpty();
        }
    }
}

void TMainDlg::WndProc(TMessage& m) {
    // Asked first (WM_QUERYENDSESSION), the window lets the session end; a cancelled end
    // (wParam false) changes nothing.
    if (m.Msg == WM_ENDSESSION && m.WParam) {
        EndSession();
        m.Result = 0;
        return;
    }
    TForm::WndProc(m);
}

void TMainDlg::EndSession() {
    if (!closed_) Close();
    // In portable mode the log's folder is gone after a complete clean-up, and the save
    // writes nothing; otherwise it keeps the lines written up to now.
    if (Log) Log->Save();
}

void TMainDlg::FormDestroy(TComponent*) {
    Tmr->SetEnabled(false);
    BatEnum.reset();
    // The downloader and the checker write to the log they borrow: they go before it.
    Grabber.reset();
    Lite.reset();
    Log.reset();
}

void TMainDlg::Quit1Click(TComponent*) { Close(); }

void TMainDlg::About1Click(TComponent*) {
    if (AboutDlg) AboutDlg->Execute();
}

void TMainDlg::Settings1Click(TComponent*) {
    if (closed_) return;
    if (SettingsDlg) SettingsDlg->Execute();
    ApplyTraySetting();
}

void TMainDlg::Show1Click(TComponent*) { tray->RestoreFromTray(); }

void TMainDlg::OpenLogFile1Click(TComponent*) {
    if (!Log) return;
    Log->Save();
    ShellRun(Log->FileName, "", "", SW_SHOWNORMAL);
}

void TMainDlg::CheckforUpdate1Click(TComponent*) {
    if (!Lite || Lite->Busy()) return;
    CheckforUpdate1->SetEnabled(false);
    Log->Add("Self update check...", 1);
    // Every check ends in UpdateCheckDone, one that cannot start included.
    Lite->CheckUpdate(exePathWide_, this, [this](TPlimLite* sender) { UpdateCheckDone(sender); });
}

void TMainDlg::UpdateCheckDone(TPlimLite*) {
    if (Lite->UpdateAvailable()) {
        Log->Add("New version of VoltAtlas is detected", 1);
        if (MsgQuestion(Handle(), kUpdateQuestion) == IDYES)
            ShellRun(MakerServerUrl(kDownloadPath), "", "", SW_SHOWNORMAL);
    } else if (Lite->ReplyValid()) {
        Log->Add(kUpToDate, 1);
        if (!SilentCheck) ShowMessage(kUpToDate);
    }
    CheckforUpdate1->SetEnabled(true);
    SilentCheck = false;
}

void TMainDlg::BugreportFeaturerequestKnownissues1Click(TComponent*) {
    ShellOpen(Handle(), "", MakerServerUrl(kBugListPath), SW_SHOWNORMAL, "", "");
}

void TMainDlg::ChangeLog1Click(TComponent*) {
    ShellOpen(Handle(), "", MakerServerUrl(kChangeLogPath), SW_SHOWNORMAL, "", "");
}

void TMainDlg::drivers_btnClick(TComponent*) { ShellRun(MakerServerUrl(kDriversPath), "", "", SW_SHOWNORMAL); }

void TMainDlg::UxImgBtn1Click(TComponent*) {
    ShellOpen(Handle(), "", GetLink("battery"), SW_SHOWNORMAL, "", "");
}

std::string TMainDlg::LinkFileName() const { return GetDataFolder(exePath_, kTitle) + kLinkFileName; }

std::string TMainDlg::GetLink(const std::string& Key) const {
    const std::string link = TIniFile(LinkFileName()).ReadString("links", Key, "");
    return IsWebAddress(link) ? link : MakerServerUrl(kShopPath);
}

std::string TMainDlg::ChemistryName(const std::string& Code) {
    static const struct {
        const char* code;
        const char* name;
    } kNames[] = {{"PbAc", "Lead Acid"},
                  {"LION", "Lithium Ion"},
                  {"Li-I", "Lithium Ion"},
                  {"NiCd", "Nickel Cadmium"},
                  {"NiMH", "Nickel Metal Hydride"},
                  {"NiZn", "Nickel Zinc"},
                  {"RAM", "Rechargeable Alkaline-Manganese"},
                  {"LiPo", "Lithium Polymer"},
                  {"LIP", "Lithium Polymer"},
                  {"PLI", "Lithium Polymer"}};
    std::string result = Code;
    for (const auto& row : kNames)
        if (SameText(Code, row.code)) result = row.name;
    return NotEmptyOrNA(result);
}

void TMainDlg::AddRateSample(int32_t Rate) {
    if (Rate >= 0) return;
    for (int i = 7; i > 0; --i) RateHistory[i] = RateHistory[i - 1];
    RateHistory[0] = static_cast<uint32_t>(-static_cast<int64_t>(Rate));
    if (RateHistory[7] == 0) return;
    uint32_t sum = 0;
    for (uint32_t sample : RateHistory) sum += sample;
    AvgRate = sum >> 3;
}

void TMainDlg::RefreshBattery() {
    if (BatEnum->Count() < 1) {
        Tmr->SetEnabled(false);
        Log->Add("No battery", 1);
        ShowMessage("No battery");
        status_btn->SetHint("");
        return;
    }

    TBatData d;
    try {
        BatEnum->Query(0, d);
    } catch (...) {
        // Cleared before the box shows: the timer keeps ticking inside the box's modal loop.
        const bool show = ShowNoBatteryOnce;
        ShowNoBatteryOnce = false;
        if (show) ShowMessage("No battery");
        return;
    }

    manuf_btn->SetCaption(NotEmptyOrNA(d.ManufactureName));
    manufsn_btn->SetCaption(NotEmptyOrNA(d.SerialNumber));
    const auto& date = d.ManufactureDate;
    manufdate_btn->SetCaption(date.Day + date.Month + date.Year > 0
                                  ? std::to_string(date.Day) + " / " + std::to_string(date.Month) +
                                        " / " + std::to_string(date.Year)
                                  : "N/A");
    chemistry_btn->SetCaption(ChemistryName(d.Chemistry));
    temp_btn->SetCaption(d.Temperature != 0
                             ? std::to_string(std::lround(d.Temperature / 10.0 - 273.15)) + " " + DegreeSignIn(CP_ACP) + "C"
                             : "N/A");
    cycle_btn->SetCaption(d.CycleCount != 0 ? std::to_string(d.CycleCount) + " cycles" : "N/A");
    volt_btn->SetCaption(d.Voltage != 0 ? FormatVolts(d.Voltage) : "N/A");
    health_btn->SetCaption(d.DesignedCapacity > 0
                               ? std::to_string(d.FullChargedCapacity * 100u / d.DesignedCapacity) + "%"
                               : "N/A");

    uint32_t charge = 0;
    if (d.FullChargedCapacity > 0)
        charge = d.Capacity * 100u / d.FullChargedCapacity;
    else if (d.DesignedCapacity > 0)
        charge = d.Capacity * 100u / d.DesignedCapacity;
    status_btn->SetCaption(std::to_string(charge) + "%");
    status_btn->SetImageIndex(charge > 75 ? kStatusIconHigh : charge > 15 ? kStatusIconMid : kStatusIconLow);
    status_btn->SetHint("Current Capacity : " + std::to_string(d.Capacity) + " mWh\n\r" +
                        "Full Capacity : " + std::to_string(d.FullChargedCapacity) + " mWh\n\r" +
                        "Factory Capacity : " + std::to_string(d.DesignedCapacity) + " mWh");

    std::string power = (d.PowerState & 1) ? "Power on line" : "Power on battery";
    if (d.PowerState & 4) power += " (charging)";
    if (d.PowerState & 2) power += " (discharging)";
    int powerIcon = (d.PowerState & 1) ? kIconOnLine : kIconOnBattery;

    PrevRemoved = Removed;
    Removed = d.PowerState == 0 && d.Rate == 0 && charge == 0;
    if (Removed) {
        power = "Power on line (removed)";
        powerIcon = kIconOnLine;
    }
    power_btn->SetCaption(power);
    power_btn->SetImageIndex(powerIcon);

    rate_btn->SetCaption(std::to_string(std::llabs(static_cast<long long>(d.Rate))) + " mW");
    rate_btn->SetImageIndex(d.Rate == 0 ? kIconRateZero : d.Rate > 0 ? kIconCharging : kIconDischarging);

    if (!Removed) AddRateSample(d.Rate);

    if (AvgRate != 0 && RateHistory[7] != 0) {
        const double hours = static_cast<double>(d.Capacity) / AvgRate;
        const double whole = std::trunc(hours);
        time_btn->SetCaption(std::to_string(static_cast<long long>(whole)) + "h" +
                             std::to_string(static_cast<long long>(std::trunc((hours - whole) * 60))) +
                             "mins");
    } else {
        time_btn->SetCaption("N/A");
    }

    if (!Removed && (DetailsPending || PrevRemoved)) {
        LogDetails(d);
        DetailsPending = false;
    }

    if (power != LastPowerText) {
        LastPowerText = power;
        Log->Add(power, 1);
    }
}

void TMainDlg::LogDetails(const TBatData& d) {
    const std::pair<const char*, std::string> lines[] = {
        {"Manufacturer : ", manuf_btn->Caption()},
        {"Manufacturer S/N : ", manufsn_btn->Caption()},
        {"Manufacturer Date : ", manufdate_btn->Caption()},
        {"Chemistry : ", chemistry_btn->Caption()},
        {"Capacity : ", std::to_string(d.Capacity)},
        {"Capacity Full : ", std::to_string(d.FullChargedCapacity)},
        {"Capacity Design : ", std::to_string(d.DesignedCapacity)},
        {"Capabilities Tag : ", std::to_string(d.Capabilities)},
        {"DefaultAlert (Low) : ", std::to_string(d.DefaultAlert1)},
        {"DefaultAlert (Very Low) : ", std::to_string(d.DefaultAlert2)},
        {"CriticalBias : ", std::to_string(d.CriticalBias)},
        {"Estimated Time : ", std::to_string(d.EstimatedTime)},
        {"AtRate : ", std::to_string(d.Rate)},
        {"Unique Identifier : ", d.UniqueId},
        {"Device Name : ", d.DeviceName},
    };
    for (const auto& [label, value] : lines) Log->Add(label + value, 1);
}
