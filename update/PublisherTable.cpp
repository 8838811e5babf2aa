// The publisher table: raw company texts (and, where the resource names none, product and
// file names) mapped to the publisher's canonical name. Every row runs, in order; a later row
// sees what an earlier one did.
#include <windows.h>

#include <cstring>

#include "foundation/JoryUtils.h"
#include "foundation/UnicodeUtils.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "update/PlimRules.h"

using framework::AnsiLowerCase;
using framework::SameText;
using framework::Trim;

namespace plim {

bool MatchesMask(const std::string& Text, const std::string& Mask) {
    // Iterative matcher with one back-tracking point for the last "*": linear in practice.
    const std::string t = AnsiLowerCase(Text);
    const std::string m = AnsiLowerCase(Mask);
    size_t ti = 0, mi = 0, starMask = std::string::npos, starText = 0;
    while (ti < t.size()) {
        if (mi < m.size() && (m[mi] == '?' || m[mi] == t[ti])) {
            ++ti;
            ++mi;
        } else if (mi < m.size() && m[mi] == '*') {
            starMask = mi++;
            starText = ti;
        } else if (starMask != std::string::npos) {
            mi = starMask + 1;
            ti = ++starText;
        } else {
            return false;
        }
    }
    while (mi < m.size() && m[mi] == '*') ++mi;
    return mi == m.size();
}

namespace {

using T = TCompanyTest;

// The rest after a prefix of letters holds only digits and dots ("am3.exe" style names).
bool RestIsVersion(const std::string& S, size_t From) {
    if (S.size() <= From) return false;
    for (size_t i = From; i < S.size(); ++i)
        if (!((S[i] >= '0' && S[i] <= '9') || S[i] == '.')) return false;
    return true;
}

void MiniToolRow(TCompanyWork& W) {
    if (W.R.empty() && SameText(W.Base, "partitionwizard") && !UninstallLastWordByNamePrefix("MiniTool Partition Wizard").empty())
        W.R = "MiniTool Solution Ltd.";
}
void WesternDigitalRow(TCompanyWork& W) {
    if (W.R.empty() && SameText(W.Base, "dashboard") && StrContainsText("SSD Dashboard", W.Dir) &&
        !GetUninstallVersionInFolder("Dashboard", plim::WideFileName(W.Dir)).empty())
        W.R = "Western Digital";
}
void ArtMoneyRow(TCompanyWork& W) {
    if (W.R.empty() && StrContainsText("ArtMoney", W.ProductName) && StrStartsText(W.Base, "am") && RestIsVersion(W.Base, 2))
        W.R = "System SoftLab";
}
// Texts that name a licence or a community, not a publisher.
void ClearRow(TCompanyWork& W) {
    static const char kCreativeCommons[] =
        "Creative Commons License \"by-nc-sa 3.0\", this program is freeware under Creative Commons License \"by";
    static_assert(sizeof kCreativeCommons - 1 == 100, "the stored text is cut at 100 characters");
    if (StrStartsText(W.R, "Free Software Foundation") || StrStartsText(W.R, "TODO:") ||
        SameText(W.R, "Open Source Community") || SameText(W.R, "Open Source") || SameText(W.R, "companyname") ||
        W.R == kCreativeCommons)
        W.R.clear();
}
void TrailingRegisteredRow(TCompanyWork& W) {
    if (!W.R.empty() && W.R.back() == '\xAE') W.R.pop_back();
}
// "Name <address>" keeps the name.
void AngleAddressRow(TCompanyWork& W) {
    if (!W.R.empty() && W.R.back() == '>' && W.R.find('<') != std::string::npos) W.R = Trim(W.R.substr(0, W.R.find('<')));
}
void GDataRow(TCompanyWork& W) {
    for (size_t at; (at = W.R.find("G DATA")) != std::string::npos;) W.R.replace(at, 6, "G Data");
}
void IcqRow(TCompanyWork& W) {
    if (W.R.size() > 6 && AnsiLowerCase(W.R).find("icq") != std::string::npos && StrEndsText(W.R, ", inc."))
        W.R = Trim(W.R.substr(0, W.R.size() - 6)) + " Inc.";
}
void AuslogicsRow(TCompanyWork& W) {
    std::string plain = W.R;
    for (size_t at; (at = plain.find('?')) != std::string::npos;) plain.erase(at, 1);
    if (SameText(plain, "Auslogics") || StrContainsText("Auslogics", W.R)) W.R = "Auslogics";
}

bool IsWordChar(char C) { return IsCharAlphaNumericA(C) != FALSE; }

// Key found in Text at At (ignoring case) as a whole word: no letter or digit joins it on
// either side (a key that itself begins or ends with a blank or a mark needs no boundary there).
bool WordAt(const std::string& Text, const std::string& Key, size_t At) {
    if (Key.empty() || At + Key.size() > Text.size()) return false;
    if (!SameText(Text.substr(At, Key.size()), Key)) return false;
    if (At > 0 && IsWordChar(Key.front()) && IsWordChar(Text[At - 1])) return false;
    const size_t end = At + Key.size();
    if (end < Text.size() && IsWordChar(Key.back()) && IsWordChar(Text[end])) return false;
    return true;
}

bool StartsWithWord(const std::string& Text, const std::string& Key) { return WordAt(Text, Key, 0); }
bool EndsWithWord(const std::string& Text, const std::string& Key) {
    return Text.size() >= Key.size() && WordAt(Text, Key, Text.size() - Key.size());
}
bool ContainsWord(const std::string& Text, const std::string& Key) {
    if (Key.empty() || Text.size() < Key.size()) return false;
    const std::string lower = AnsiLowerCase(Text), key = AnsiLowerCase(Key);
    for (size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1))
        if (WordAt(Text, Key, at)) return true;
    return false;
}

bool RowHolds(const TCompanyRow& Row, const TCompanyWork& W) {
    switch (Row.Test) {
        case T::ctStarts: return StartsWithWord(W.R, Row.Key);
        case T::ctContains: return ContainsWord(W.R, Row.Key);
        case T::ctEquals: return SameText(W.R, Row.Key);
        case T::ctEnds: return EndsWithWord(W.R, Row.Key);
        case T::ctEqualsCase: return W.R == Row.Key;
        case T::ctLowerStartsCase: {
            const std::string lower = AnsiLowerCase(W.R);
            return lower.compare(0, std::strlen(Row.Key), Row.Key) == 0 && StartsWithWord(lower, Row.Key);
        }
        case T::ctMask: return MatchesMask(W.R, Row.Key);
        case T::ctEmptyProductStarts: return W.R.empty() && StartsWithWord(W.ProductName, Row.Key);
        case T::ctEmptyProductContains: return W.R.empty() && ContainsWord(W.ProductName, Row.Key);
        case T::ctEmptyProductEquals: return W.R.empty() && SameText(W.ProductName, Row.Key);
        case T::ctEmptyBaseEquals: return W.R.empty() && SameText(W.Base, Row.Key);
        case T::ctEmptyFileStarts:
            return W.R.empty() && StrStartsStr(AnsiLowerCase(framework::ExtractFileName(W.Path)), Row.Key);
        case T::ctCustom: return true;
    }
    return false;
}

}  // namespace

void ApplyPublisherTable(TCompanyWork& W) {
    for (const auto& row : kPublisherTable) {
        if (!RowHolds(row, W)) continue;
        if (row.Custom) row.Custom(W);
        else if (row.Name) W.R = row.Name;
    }
}

// Rows keyed on a raw text's beginning map a maker's many spellings ("Foo Inc.", "Foo
// Software GmbH", "Foo (TM)") to one name; rows keyed on product, file or folder name fill a
// publisher only where the resource names none.
const std::vector<TCompanyRow> kPublisherTable = {
    {T::ctCustom, "", nullptr, MiniToolRow},
    {T::ctCustom, "", nullptr, WesternDigitalRow},
    {T::ctStarts, "Western Digital", "Western Digital"},
    {T::ctStarts, "Antibody Software", "Antibody Software"},
    {T::ctEmptyProductStarts, "Process Hacker", "Process Hacker"},
    {T::ctStarts, "Process Hacker", "Process Hacker"},
    {T::ctStarts, "Cyber Power Systems", "Cyber Power Systems, Inc."},
    {T::ctCustom, "", nullptr, ArtMoneyRow},
    {T::ctCustom, "", nullptr, ClearRow},
    {T::ctCustom, "", nullptr, TrailingRegisteredRow},
    {T::ctCustom, "", nullptr, AngleAddressRow},
    {T::ctStarts, "System SoftLab", "System SoftLab"},
    {T::ctStarts, "Akai", "Akai"},
    {T::ctStarts, "Invelos Software", "Invelos Software"},
    {T::ctStarts, "Chemtable Software", "Chemtable Software"},
    {T::ctStarts, "Engelmann Software", "Engelmann Software"},
    {T::ctStarts, "RStudio", "RStudio, PBC"},
    {T::ctStarts, "Signal Messenger", "Signal Messenger, LLC"},
    {T::ctEmptyProductStarts, "Grammarly", "Grammarly Inc."},
    {T::ctStarts, "Grammarly", "Grammarly Inc."},
    {T::ctStarts, "Ramen Software", "Ramen Software"},
    {T::ctStarts, "Blizzard Entertainment", "Blizzard Entertainment"},
    {T::ctStarts, "dotPDN", "dotPDN LLC"},
    {T::ctStarts, "Raspberry Pi", "Raspberry Pi Ltd"},
    {T::ctStarts, "Sober Lemur", "Sober Lemur S.r.l."},
    {T::ctStarts, "balena", "Balena"},
    {T::ctStarts, "Blueberry Software", "Blueberry Software"},
    {T::ctEmptyProductStarts, "Mintty", "Mintty Team"},
    {T::ctStarts, "Mintty Team", "Mintty Team"},
    {T::ctStarts, "Exposure Software", "Exposure Software, LLC"},
    {T::ctStarts, "Superfly", "Superfly Inc."},
    {T::ctStarts, "OWASP", "OWASP"},
    {T::ctStarts, "Mullvad VPN", "Mullvad VPN"},
    {T::ctStarts, "Carifred", "Carifred"},
    {T::ctStarts, "DeepL", "DeepL SE"},
    {T::ctStarts, "MetaQuotes", "MetaQuotes Ltd."},
    {T::ctStarts, "Hauppauge Computer Works", "Hauppauge Computer Works, Inc."},
    {T::ctStarts, "GZ Systems", "GZ Systems"},
    {T::ctStarts, "O&O Software", "O&O Software GmbH"},
    {T::ctStarts, "SysDev Laboratories", "SysDev Laboratories"},
    {T::ctStarts, "SQUARE ENIX", "SQUARE ENIX"},
    {T::ctStarts, "Screencast-O-Matic", "Screencast-O-Matic"},
    {T::ctStarts, "JailbreakVideo", "JailbreakVideo"},
    {T::ctStarts, "Yubico", "Yubico"},
    {T::ctStarts, "LibreWolf Team", "LibreWolf Team"},
    {T::ctStarts, "Pouchin TV Mod Team", "Pouchin TV Mod Team"},
    {T::ctStarts, "Focusrite Audio Engineering", "Focusrite Audio Engineering, Ltd."},
    {T::ctStarts, "Proton Technologies", "Proton Technologies AG"},
    {T::ctStarts, "Thesycon Software Solutions", "Thesycon Software Solutions GmbH & Co. KG"},
    {T::ctStarts, "Ungoogled-Chromium Authors", "Ungoogled-Chromium Authors"},
    {T::ctStarts, "Capture One", "Capture One"},
    {T::ctStarts, "National Instruments", "National Instruments"},
    {T::ctStarts, "Skylum", "Skylum Software"},
    {T::ctStarts, "MyHeritage", "MyHeritage"},
    {T::ctStarts, "Cisco Systems", "Cisco Systems, Inc."},
    {T::ctStarts, "Bartels Media", "Bartels Media GmbH"},
    {T::ctStarts, "ModelMaker Tools", "ModelMaker Tools"},
    {T::ctStarts, "The Windows Club", "The Windows Club"},
    {T::ctStarts, "FastStone", "FastStone Corporation"},
    {T::ctStarts, "Unity Technologies", "Unity Technologies"},
    {T::ctStarts, "CoffeeCup Software", "CoffeeCup Software"},
    {T::ctStarts, "Micron Technology", "Micron Technology, Inc."},
    {T::ctStarts, "Skymatic GmbH", "Skymatic GmbH"},
    {T::ctStarts, "Dassault Systèmes", "Dassault Systèmes"},
    {T::ctStarts, "Sapphire Technology", "Sapphire Technology"},
    {T::ctStarts, "Individual Software", "Individual Software"},
    {T::ctStarts, "g10 Code", "g10 Code GmbH"},
    {T::ctStarts, "ASRock", "ASRock"},
    {T::ctStarts, "Abelssoft", "Abelssoft"},
    {T::ctStarts, "Blacksun Software", "Blacksun Software"},
    {T::ctStarts, "Black Tree Gaming", "Black Tree Gaming"},
    {T::ctStarts, "Evernote", "Evernote Corp."},
    {T::ctStarts, "Greatis Software", "Greatis Software"},
    {T::ctStarts, "Driver Information Technology", "Driver Information Technology Co., Ltd."},
    {T::ctStarts, "BandLab Technologies", "BandLab Technologies"},
    {T::ctStarts, "AnyDesk Software", "AnyDesk Software GmbH"},
    {T::ctStarts, "ZabKat", "ZabKat"},
    {T::ctStarts, "Faithlife", "Faithlife, LLC"},
    {T::ctStarts, "NV Access", "NV Access"},
    {T::ctStarts, "KORG", "KORG Inc."},
    {T::ctStarts, "Zemana", "Zemana Ltd."},
    {T::ctStarts, "DBeaver Community", "DBeaver Community"},
    {T::ctStarts, "Caramba Tech", "Caramba Tech"},
    {T::ctStarts, "Private Internet Access", "Private Internet Access Incorporated"},
    {T::ctStarts, "WSCAD", "WSCAD "},
    {T::ctStarts, "Overwolf", "Overworlf Ltd."},
    {T::ctStarts, "BenVista", "BenVista Ltd."},
    {T::ctStarts, "Datpol", "Datpol"},
    {T::ctStarts, "VidCoder", "VidCoder"},
    {T::ctStarts, "WinUAE Project Team", "WinUAE Project Team"},
    {T::ctStarts, "PassMark Software", "PassMark Software"},
    {T::ctStarts, "SoftMaker Software", "SoftMaker Software GmbH"},
    {T::ctStarts, "Innovative Solutions", "Innovative Solutions"},
    {T::ctStarts, "VIPRE Security", "VIPRE Security"},
    {T::ctStarts, "OpenBoxLab", "OpenBoxLab"},
    {T::ctStarts, "IO Bureau", "IO Bureau SA"},
    {T::ctStarts, "Tenorshare", "Tenorshare"},
    {T::ctStarts, "Paramount Software UK", "Paramount Software UK Ltd"},
    {T::ctStarts, "Infonautics", "Infonautics GmbH"},
    {T::ctStarts, "ESET", "ESET"},
    {T::ctStarts, "G&G Software", "G&G Software"},
    {T::ctStarts, "Daz 3D", "Daz 3D, Inc."},
    {T::ctStarts, "SPAMfighter", "SPAMfighter ApS"},
    {T::ctStarts, "Docker", "Docker Inc."},
    {T::ctStarts, "Kofax", "Kofax Inc."},
    {T::ctStarts, "Ubisoft", "Ubisoft"},
    {T::ctStarts, "FlashPeak", "FlashPeak Inc."},
    {T::ctStarts, "Abrites", "Abrites Ltd."},
    {T::ctStarts, "Icecream", "icecream"},
    {T::ctStarts, "Bandicam", "Bandicam"},
    {T::ctStarts, "IPVanish", "IPVanish"},
    {T::ctStarts, "FastCopy Lab", "FastCopy Lab, LLC."},
    {T::ctStarts, "OpenVPN", "OpenVPN"},
    {T::ctStarts, "Slack Technologies", "Slack Technologies"},
    {T::ctStarts, "Contaware", "Contaware"},
    {T::ctStarts, "ImTOO Software Studio", "ImTOO Software Studio"},
    {T::ctStarts, "NordVPN", "NordVPN"},
    {T::ctStarts, "Duplicati Team", "Duplicati Team"},
    {T::ctStarts, "Elaborate Bytes", "Elaborate Bytes AG"},
    {T::ctStarts, "MediathekView Team", "MediathekView Team"},
    {T::ctStarts, "Artifex Software", "Artifex Software, Inc."},
    {T::ctEmptyBaseEquals, "nsis", "NSIS Team"},
    {T::ctStarts, "NSIS Team", "NSIS Team"},
    {T::ctStarts, "Parallels", "Parallels"},
    {T::ctStarts, "WinMTR Project Team", "WinMTR Project Team"},
    {T::ctStarts, "Movavi", "Movavi"},
    {T::ctStarts, "Duplicate-Finder", "Duplicate-Finder"},
    {T::ctStarts, "iolo technologies", "iolo technologies, LLC"},
    {T::ctStarts, "SysTools", "Systools"},
    {T::ctStarts, "Telegram Messenger", "Telegram Messenger LLP"},
    {T::ctStarts, "ONE UP", "ONE UP LTD."},
    {T::ctStarts, "nMap Team", "nMap Team"},
    {T::ctStarts, "Buhl Data Service", "Buhl Data Service GmbH"},
    {T::ctStarts, "Resplendence Software Projects", "Resplendence Software Projects"},
    {T::ctStarts, "POIbase", "POIbase"},
    {T::ctStarts, "WebGear", "WebGear Ltd."},
    {T::ctStarts, "cURL", "cURL"},
    {T::ctStarts, "Bromium", "Bromium, Inc."},
    {T::ctStarts, "McAfee", "McAfee, Inc."},
    {T::ctStarts, "Spiceworks", "Spiceworks, Inc."},
    {T::ctStarts, "GIGABYTE Technology", "GIGABYTE Technology Co.,Ltd."},
    {T::ctStarts, "Akademische Arbeitsgemeinschaft Verlag", "Akademische Arbeitsgemeinschaft Verlag"},
    {T::ctStarts, "Lansweeper", "Lansweeper"},
    {T::ctStarts, "eMule Project", "eMule Project"},
    {T::ctStarts, "RapidSolution Software", "RapidSolution Software AG"},
    {T::ctStarts, "ImageMagick Studio", "ImageMagick Studio"},
    {T::ctStarts, "Skymatic UG", "Skymatic UG"},
    {T::ctStarts, "ownCloud", "ownCloud"},
    {T::ctStarts, "voidtools", "voidtools"},
    {T::ctStarts, "QNAP Systems", "QNAP Systems, Inc."},
    {T::ctStarts, "Flexera Software", "Flexera Software"},
    {T::ctStarts, "Steinberg", "Steinberg Media Technologies"},
    {T::ctStarts, "icofx software", "icofx software"},
    {T::ctStarts, "TeamViewer", "TeamViewer GmbH"},
    {T::ctStarts, "Geeks3D", "Geeks3D"},
    {T::ctStarts, "MetaGeek", "MetaGeek, LLC"},
    {T::ctStarts, "Seagate", "Seagate"},
    {T::ctStarts, "SplitmediaLabs", "SplitmediaLabs"},
    {T::ctStarts, "Piriform", "Piriform Ltd"},
    {T::ctStarts, "Corsair", "Corsair"},
    {T::ctStarts, "Winamp", "Winamp SA"},
    {T::ctStarts, "XRECODE", "XRECODE"},
    {T::ctStarts, "The Qt Company", "The Qt Company Ltd."},
    {T::ctStarts, "LSoft Technologies", "LSoft Technologies Inc"},
    {T::ctStarts, "RealVNC", "RealVNC Ltd"},
    {T::ctStarts, "Detong Technology", "Detong Technology Ltd."},
    {T::ctStarts, "Wacom", "Wacom Co. Ltd."},
    {T::ctStarts, "EJIE Technology", "EJIE Technology"},
    {T::ctStarts, "Cloanto", "Cloanto Corporation"},
    {T::ctStarts, "DxO Labs", "DxO Labs"},
    {T::ctStarts, "MAGIX", "MAGIX"},
    {T::ctStarts, "Atmel", "Atmel"},
    {T::ctStarts, "Duplex Secure", "Duplex Secure Ltd."},
    {T::ctStarts, "Album Art Team", "Album Art Team"},
    {T::ctStarts, "The LAME Project", "The LAME Project"},
    {T::ctStarts, "Open-Shell", "Open-Shell"},
    {T::ctStarts, "ArcSoft", "ArcSoft, Inc."},
    {T::ctStarts, "BabelStone", "BabelStone"},
    {T::ctStarts, "Olympus", "Olympus"},
    {T::ctStarts, "Digiarty Software", "Digiarty Software, Inc."},
    {T::ctStarts, "MPlayer Team", "MPlayer Team"},
    {T::ctStarts, "Nitro Software", "Nitro Software, Inc."},
    {T::ctStarts, "MiTAC International", "MiTAC International Corporation"},
    {T::ctStarts, "Super Flexible Software", "Super Flexible Software"},
    {T::ctStarts, "Serif (Europe)", "Serif (Europe) Ltd."},
    {T::ctStarts, "Retrospect", "Retrospect, Inc"},
    {T::ctStarts, "Inkscape project", "Inkscape project"},
    {T::ctStarts, "AceBIT", "AceBIT GmbH"},
    {T::ctStarts, "Baidu", "Baidu, Inc."},
    {T::ctStarts, "The UPX Team", "The UPX Team"},
    {T::ctStarts, "Thuring IT-Consulting", "Thuring IT-Consulting"},
    {T::ctStarts, "Activision", "Activision"},
    {T::ctStarts, "Bentley Systems", "Bentley Systems, Inc."},
    {T::ctStarts, "3Dconnexion", "3Dconnexion"},
    {T::ctStarts, "Winaero", "WinAero"},
    {T::ctStarts, "Astonsoft", "Astonsoft"},
    {T::ctStarts, "The Audacity Team", "The Audacity Team"},
    {T::ctStarts, "Playdead", "Playdead"},
    {T::ctStarts, "Dell Inc", "Dell Inc."},
    {T::ctStarts, "ELAN Microelectronics", "ELAN Microelectronics Corp."},
    {T::ctStarts, "Conexant Systems", "Conexant Systems, Inc."},
    {T::ctStarts, "Red Gate Software", "Red Gate Software Ltd"},
    {T::ctStarts, "LG Electronics", "LG Electronics"},
    {T::ctStarts, "f.lux Software", "f.lux Software LLC"},
    {T::ctStarts, "RITLabs", "Ritlabs"},
    {T::ctStarts, "MindGems", "MindGems, Inc."},
    {T::ctStarts, "SRWare", "SRWare"},
    {T::ctStarts, "Xerox", "Xerox"},
    {T::ctStarts, "Micro-Star", "MSI"},
    {T::ctStarts, "CodeTwo", "CodeTwo"},
    {T::ctStarts, "mRemoteNG Dev Team", "mRemoteNG Dev Team"},
    {T::ctStarts, "Geek Uninstaller", "Geek Uninstaller"},
    {T::ctStarts, "Cologne Code Company", "Cologne Code Company"},
    {T::ctStarts, "RedFox", "RedFox"},
    {T::ctStarts, "Pulse Secure", "Pulse Secure, LLC"},
    {T::ctStarts, "Plex", "Plex, Inc."},
    {T::ctStarts, "Eassos Technology", "Eassos Technology Co., Ltd."},
    {T::ctStarts, "Dell Computer", "Dell"},
    {T::ctStarts, "The MathWorks", "The MathWorks, Inc."},
    {T::ctStarts, "Curse", "Curse, Inc."},
    {T::ctStarts, "Dashlane", "Dashlane, Inc."},
    {T::ctStarts, "WonderFox", "WonderFox"},
    {T::ctStarts, "Rovio Entertainment", "Rovio Entertainment Ltd."},
    {T::ctStarts, "CHENGDU YIWO Tech Development", "CHENGDU YIWO Tech Development Co., Ltd"},
    {T::ctStarts, "Bitvise", "Bitvise"},
    {T::ctStarts, "Acronis", "Acronis"},
    {T::ctStarts, "Code Sector", "Code Sector Inc."},
    {T::ctStarts, "ActiveState", "ActiveState"},
    {T::ctStarts, "Maxis", "Maxis"},
    {T::ctStarts, "SINOVO", "SINOVO GmbH & Co. KG"},
    {T::ctStarts, "Huawei", "Huawei"},
    {T::ctStarts, "Tor Project", "Tor Project"},
    {T::ctStarts, "Esumsoft", "Esumsoft"},
    {T::ctStarts, "NAPS2 Team", "NAPS2 Team"},
    {T::ctStarts, "Handbrake Team", "Handbrake Team"},
    {T::ctStarts, "Autodesk", "Autodesk"},
    {T::ctStarts, "Brother Industries", "Brother Industries, Ltd."},
    {T::ctStarts, "Mooii Tech", "Mooii Tech"},
    {T::ctStarts, "Online Media Technologies", "Online Media Technologies Ltd."},
    {T::ctStarts, "Facebook Technologies", "Facebook Technologies, LLC"},
    {T::ctStarts, "CyberGhost", "CyberGhost S.R.L."},
    {T::ctStarts, "Dolby Laboratories", "Dolby Laboratories Inc."},
    {T::ctStarts, "Tencent", "Tencent"},
    {T::ctStarts, "Indigo Rose", "Indigo Rose Corporation"},
    {T::ctStarts, "LucasArts", "LucasArts"},
    {T::ctStarts, "Maxthon International", "Maxthon International ltd."},
    {T::ctStarts, "Applian Technologies", "Applian Technologies, Inc."},
    {T::ctStarts, "Koyote Soft", "Koyote Soft"},
    {T::ctStarts, "Citrix", "Citrix Systems, Inc."},
    {T::ctStarts, "Panda Security", "Panda Security, S.L."},
    {T::ctStarts, "FreeFileSync", "FreeFileSync"},
    {T::ctStarts, "Schneider Electric", "Schneider Electric"},
    {T::ctStarts, "ConfigFox Team", "ConfigFox Team"},
    {T::ctStarts, "Corel", "Corel Corporation"},
    {T::ctStarts, "Pixelab", "Pixelab, Inc."},
    {T::ctStarts, "7-PDF", "7-PDF"},
    {T::ctStarts, "TortoiseGit Team", "TortoiseGit Team"},
    {T::ctStarts, "TortoiseSVN Team", "TortoiseSVN Team"},
    {T::ctStarts, "TomTom", "Tomtom"},
    {T::ctStarts, "Bandisoft", "Bandisoft"},
    {T::ctStarts, "AT&T", "AT&T"},
    {T::ctStarts, "Qualcomm", "Qualcomm"},
    {T::ctStarts, "AnchorFree", "AnchorFree Inc."},
    {T::ctStarts, "BioWare", "BioWare"},
    {T::ctStarts, "WildTangent", "WildTangent, Inc."},
    {T::ctStarts, "IObit", "IOBit"},
    {T::ctStarts, "Yandex", "Yandex"},
    {T::ctStarts, "GnuWin32", "GnuWin32"},
    {T::ctStarts, "NETGEAR", "NETGEAR"},
    {T::ctStarts, "Valve", "Valve Corporation"},
    {T::ctStarts, "SoftPerfect", "SoftPerfect"},
    {T::ctStarts, "NGWIN", "NGWIN"},
    {T::ctStarts, "DigitalVolcano Software", "DigitalVolcano Software Ltd"},
    {T::ctStarts, "WinDirStats Team", "WinDirStats Team"},
    {T::ctContains, "Epson", "Epson"},
    {T::ctStarts, "Sophos", "Sophos Limited"},
    {T::ctStarts, "SurfRight", "SurfRight B.V."},
    {T::ctStarts, "TriSun Software", "TriSun Software Limited"},
    {T::ctStarts, "Viber Media", "Viber Media"},
    {T::ctStarts, "JetBrains", "JetBrains"},
    {T::ctStarts, "Intuit", "Intuit, Inc."},
    {T::ctStarts, "Quicken", "Quicken Inc."},
    {T::ctCustom, "", nullptr, IcqRow},
    {T::ctStarts, "ICQ", "ICQ Inc."},
    {T::ctStarts, "CM&V Hackbart", "CM&V Hackbart"},
    {T::ctStarts, "Anvsoft", "Anvsoft"},
    {T::ctStarts, "Audible", "Audible Inc."},
    {T::ctStarts, "Amazon", "Amazon"},
    {T::ctStarts, "Glarysoft", "Glarysoft Ltd"},
    {T::ctStarts, "Softland", "Softland"},
    {T::ctStarts, "GARMIN", "GARMIN Corp."},
    {T::ctStarts, "Adguard Software", "Adguard Software Ltd"},
    {T::ctStarts, "Ruiware", "Ruiware"},
    {T::ctStarts, "BlueStack Systems", "BlueStack Systems, Inc."},
    {T::ctStarts, "Team XBMC", "Team XBMC"},
    {T::ctStarts, "Check Point Software Technologies", "Check Point Software Technologies LTD"},
    {T::ctStarts, "AVAST Software", "AVAST Software"},
    {T::ctStarts, "Almico Software", "Almico Software"},
    {T::ctStarts, "Disc Soft", "Disc Soft Ltd"},
    {T::ctStarts, "Graphisoft", "Graphisoft"},
    {T::ctStarts, "AOMEI Technology", "AOMEI Technology Co., Ltd."},
    {T::ctStarts, "Daum Kakao", "Daum Kakao"},
    {T::ctStarts, "Bopsoft", "Bopsoft"},
    {T::ctStarts, "Qihoo 360 Technology", "Qihoo 360 Technology Co. Ltd."},
    {T::ctStarts, "Razer", "Razer Inc."},
    {T::ctStarts, "Neuber Software", "Neuber Software"},
    {T::ctStarts, "Futuremark", "Futuremark"},
    {T::ctStarts, "Gretech", "Gretech Corp."},
    {T::ctStarts, "PandoraTV", "PandoraTV"},
    {T::ctStarts, "<A>lthammer <I>nteractive <M>ultimedia", "<A>lthammer <I>nteractive <M>ultimedia"},
    {T::ctStarts, "Sony ", "Sony"},
    {T::ctStarts, "AutoHotkey Foundation", "AutoHotkey Foundation LLC"},
    {T::ctStarts, "Adblock Plus", "Adblock Plus"},
    {T::ctStarts, "PlotSoft", "PlotSoft LLC"},
    {T::ctStarts, "Wide Angle Software", "Wide Angle Software Ltd"},
    {T::ctStarts, "AppWork", "AppWork GmbH"},
    {T::ctStarts, "SUPERAntiSpyware", "SUPERAntiSpyware"},
    {T::ctStarts, "Malwarebytes", "Malwarebytes"},
    {T::ctStarts, "Tonec", "Tonec Inc."},
    {T::ctStarts, "Macecraft Software", "Macecraft Software"},
    {T::ctStarts, "AVG Technologies", "AVG Technologies CZ, s.r.o."},
    {T::ctStarts, "Xanasoft", "Xanasoft"},
    {T::ctStarts, "8PECX Studios", "8PECX Studios"},
    {T::ctCustom, "", nullptr, GDataRow},
    {T::ctStarts, "G Data", "G Data Software AG"},
    {T::ctStarts, "OpenSight Software", "OpenSight Software, LLC"},
    {T::ctStarts, "Franmo", "Franmo Software"},
    {T::ctStarts, "Waterfox Project", "Waterfox Project"},
    {T::ctStarts, "Firetrust", "Firetrust Ltd"},
    {T::ctStarts, "Burnaware", "Burnaware"},
    {T::ctStarts, "TOSHIBA", "TOSHIBA"},
    {T::ctStarts, "The Eraser Project", "The Eraser Project"},
    {T::ctStarts, "DVDVideoSoft", "DVDVideoSoft Ltd."},
    {T::ctStarts, "2BrightSparks", "2BrightSparks"},
    {T::ctStarts, "pdfforge", "PDFForge"},
    {T::ctStarts, "Greenshot", "Greenshot"},
    {T::ctStarts, "Cerious Software", "Cerious Software Inc."},
    {T::ctStarts, "MeGUI Team", "MeGUI Team"},
    {T::ctStarts, "Microsoft", "Microsoft"},
    {T::ctStarts, "CyberLink", "Cyberlink"},
    {T::ctStarts, "Canon", "Canon Inc."},
    {T::ctStarts, "Trimble", "Trimble Inc."},
    {T::ctCustom, "", nullptr, AuslogicsRow},
    {T::ctStarts, "Advanced Micro Devices", "Advanced Micro Devices, Inc."},
    {T::ctLowerStartsCase, "dtsearch", "dtSearch Corp."},
    {T::ctLowerStartsCase, "nvidia", "NVIDIA"},
    {T::ctStarts, "Intel Corporation", "Intel"},
    {T::ctStarts, "Blackmagic Design", "Blackmagic Design"},
    {T::ctStarts, "Broadcom", "Broadcom"},
    {T::ctStarts, "Acer", "Acer"},
    {T::ctStarts, "Symantec", "Symantec"},
    {T::ctStarts, "Dritek System", "Dritek System Inc."},
    {T::ctStarts, "DTS", "DTS, Inc"},
    {T::ctStarts, "Realtek", "Realtek"},
    {T::ctStarts, "Skype Technologies", "Skype Technologies"},
    {T::ctStarts, "Google", "Google Inc."},
    {T::ctStarts, "Stardock", "Stardock Corporation"},
    {T::ctStarts, "Bitsum Technologies", "Bitsum Technologies"},
    {T::ctStarts, "Rovi", "Rovi Corporation"},
    {T::ctStarts, "SingularLabs", "SingularLabs"},
    {T::ctStarts, "Hewlett-Packard", "Hewlett-Packard"},
    {T::ctStarts, "Lenovo", "Lenovo"},
    {T::ctStarts, "Nitro PDF", "Nitro PDF"},
    {T::ctStarts, "Electronic Arts", "Electronic Arts"},
    {T::ctStarts, "Creative Technology", "Creative Technology Ltd"},
    {T::ctStarts, "Logitech", "Logitech, Inc."},
    {T::ctStarts, "The BSPlayer Team", "The BSPlayer Team"},
    {T::ctEmptyFileStarts, "gimp", "The GIMP Team"},
    {T::ctStarts, "The GIMP Team", "The GIMP Team"},
    {T::ctEmptyFileStarts, "ffdshow.ax", "The FFDShow Team"},
    {T::ctStarts, "The FFDShow Team", "The FFDShow Team"},
    {T::ctEmptyFileStarts, "xvidvfw.dll", "Xvid Team"},
    {T::ctStarts, "Xvid Team", "Xvid Team"},
    {T::ctStarts, "The Launchy Team", "The Launchy Team"},
    {T::ctEqualsCase, "the VideoLAN Team", "VideoLAN Team"},
    {T::ctEqualsCase, "VideoLAN", "VideoLAN Team"},
    {T::ctMask, "*VSO?SOFTWARE*", "VSO Software"},
    {T::ctStarts, "Adobe", "Adobe Systems, Inc."},
    {T::ctStarts, "Mozilla", "Mozilla Foundation"},
    {T::ctStarts, "Seamonkey Project", "Seamonkey Project"},
    {T::ctStarts, "Siber Systems", "Siber Systems"},
    {T::ctStarts, "Lavasoft", "Lavasoft"},
    {T::ctStarts, "DivX", "DivX, Inc."},
    {T::ctStarts, "POTI", "POTI, Inc."},
    {T::ctStarts, "WinZip", "Winzip Computing"},
    {T::ctStarts, "ACD Systems", "ACD Systems"},
    {T::ctStarts, "MPC-HC Team", "MPC-HC Team"},
    {T::ctStarts, "ObviousIdea", "ObviousIdea"},
    {T::ctStarts, "Foxit Software", "Foxit Software Inc."},
    {T::ctStarts, "Oracle", "Oracle"},
    {T::ctStarts, "MySQL", "MySQL"},
    {T::ctStarts, "Nullsoft", "Nullsoft, Inc."},
    {T::ctContains, "Kaspersky", "Kaspersky Lab"},
    {T::ctStarts, "Ahead Software", "Ahead Software AG"},
    {T::ctStarts, "BitDefender", "BitDefender"},
    {T::ctStarts, "Apple Inc", "Apple Inc."},
    {T::ctStarts, "Firebird Project", "Firebird Project"},
    {T::ctStarts, "SANDBOXIE L.T.D", "SANDBOXIE L.T.D"},
    {T::ctStarts, "Tracker Software Products", "Tracker Software Products Ltd."},
    {T::ctStarts, "Safer Networking", "Safer Networking Limited"},
    {T::ctStarts, "TuneUp Software", "TuneUp Software"},
    {T::ctStarts, "Ashampoo", "Ashampoo"},
    {T::ctStarts, "Samsung", "Samsung"},
    {T::ctStarts, "DT Soft", "DT Soft Ltd"},
    {T::ctStarts, "COMODO", "COMODO"},
    {T::ctStarts, "JRiver", "JRiver, Inc."},
    {T::ctStarts, "Ipswitch", "Ipswitch, Inc."},
    {T::ctStarts, "Synaptics", "Synaptics, Inc."},
    {T::ctStarts, "BitTorrent", "BitTorrent, Inc."},
    {T::ctStarts, "UpdateStar", "UpdateStar GmbH"},
    {T::ctStarts, "InstallBuilders Company", "InstallBuilders Company"},
    {T::ctStarts, "Wondershare", "Wondershare"},
    {T::ctStarts, "Uniblue", "Uniblue"},
    {T::ctStarts, "Avira", "Avira GmbH"},
    {T::ctStarts, "GFI Software", "GFI Software Ltd."},
    {T::ctStarts, "Avanquest Software", "Avanquest Software"},
    {T::ctStarts, "Solveig Multimedia", "Solveig Multimedia"},
    {T::ctStarts, "Paragon Software Group", "Paragon Software Group"},
    {T::ctStarts, "Kingsoft", "Kingsoft Corporation"},
    {T::ctStarts, "Emsisoft", "Emsisoft"},
    {T::ctStarts, "ABBYY", "ABBYY"},
    {T::ctStarts, "KMP Media", "KMP Media"},
    {T::ctStarts, "PrivacyRoot", "PrivacyRoot"},
    {T::ctStarts, "AgileBits", "AgileBits"},
    {T::ctStarts, "ASUSTeK", "ASUS"},
};

}  // namespace plim
