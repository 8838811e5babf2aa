// The publisher table: raw company texts (and, where the resource names none, product and
// file names) mapped to the publisher's canonical name. Every row runs, in order; a later row
// sees what an earlier one did.
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
        !GetUninstallVersionInFolder("Dashboard", W.Dir).empty())
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

}  // namespace

const std::vector<TCompanyRow> kPublisherTable = {
    // Installed-software rows, where the resource names no publisher.
    {T::ctCustom, "", nullptr, MiniToolRow},
    {T::ctCustom, "", nullptr, WesternDigitalRow},
    {T::ctEmptyProductStarts, "Process Hacker", "Process Hacker"},
    {T::ctStarts, "Cyber Power Systems", "Cyber Power Systems, Inc."},
    {T::ctCustom, "", nullptr, ArtMoneyRow},
    {T::ctCustom, "", nullptr, ClearRow},
    {T::ctCustom, "", nullptr, TrailingRegisteredRow},
    {T::ctCustom, "", nullptr, AngleAddressRow},
    {T::ctStarts, "Chemtable", "Chemtable Software"},
    {T::ctStarts, "RStudio", "RStudio, PBC"},
    {T::ctStarts, "Signal Messenger", "Signal Messenger, LLC"},
    {T::ctEmptyProductStarts, "Grammarly", "Grammarly Inc."},
    {T::ctStarts, "Blizzard Entertainment", "Blizzard Entertainment"},
    {T::ctStarts, "dotPDN", "dotPDN LLC"},
    {T::ctStarts, "Raspberry Pi", "Raspberry Pi Ltd"},
    {T::ctEmptyProductStarts, "Mintty", "Mintty Team"},
    {T::ctEmptyProductStarts, "OWASP", "OWASP"},
    {T::ctStarts, "Mullvad", "Mullvad VPN"},
    {T::ctStarts, "DeepL", "DeepL SE"},
    {T::ctStarts, "MetaQuotes", "MetaQuotes Ltd."},
    {T::ctStarts, "O&O Software", "O&O Software GmbH"},
    {T::ctStarts, "Screencast-O-Matic", "Screencast-O-Matic"},
    {T::ctStarts, "Yubico", "Yubico"},
    {T::ctStarts, "Proton Technologies", "Proton Technologies AG"},
    {T::ctStarts, "Cisco", "Cisco Systems, Inc."},
    {T::ctStarts, "FastStone", "FastStone Corporation"},
    {T::ctStarts, "Unity Technologies", "Unity Technologies"},
    {T::ctStarts, "Abelssoft", "Abelssoft"},
    {T::ctStarts, "AnyDesk", "AnyDesk Software GmbH"},
    {T::ctStarts, "PassMark", "PassMark Software"},
    {T::ctStarts, "SoftMaker", "SoftMaker Software GmbH"},
    {T::ctStarts, "ESET", "ESET"},
    {T::ctStarts, "Docker", "Docker Inc."},
    {T::ctStarts, "Ubisoft", "Ubisoft"},
    {T::ctStarts, "OpenVPN", "OpenVPN"},
    {T::ctStarts, "Slack Technologies", "Slack Technologies"},
    {T::ctStarts, "NordVPN", "NordVPN"},
    {T::ctStarts, "Artifex", "Artifex Software, Inc."},
    {T::ctEmptyBaseEquals, "nsis", "NSIS Team"},
    {T::ctStarts, "Telegram", "Telegram Messenger LLP"},
    {T::ctStarts, "Buhl Data", "Buhl Data Service GmbH"},
    {T::ctStarts, "ImageMagick", "ImageMagick Studio"},
    {T::ctStarts, "voidtools", "voidtools"},
    {T::ctStarts, "TeamViewer", "TeamViewer GmbH"},
    {T::ctStarts, "Piriform", "Piriform Ltd"},
    {T::ctStarts, "The Qt Company", "The Qt Company Ltd."},
    {T::ctStarts, "RealVNC", "RealVNC Ltd"},
    {T::ctStarts, "Inkscape", "Inkscape project"},
    {T::ctStarts, "Audacity", "The Audacity Team"},
    {T::ctStarts, "Dell Inc", "Dell Inc."},
    {T::ctStarts, "Bitvise", "Bitvise"},
    {T::ctStarts, "Acronis", "Acronis"},
    {T::ctStarts, "Tor Project", "Tor Project"},
    {T::ctStarts, "Autodesk", "Autodesk"},
    {T::ctStarts, "Tencent", "Tencent"},
    {T::ctStarts, "Citrix", "Citrix Systems, Inc."},
    {T::ctStarts, "Corel", "Corel Corporation"},
    {T::ctStarts, "Valve", "Valve Corporation"},
    {T::ctStarts, "SoftPerfect", "SoftPerfect"},
    {T::ctStarts, "Sophos", "Sophos Limited"},
    {T::ctStarts, "JetBrains", "JetBrains"},
    {T::ctCustom, "", nullptr, IcqRow},
    {T::ctStarts, "Glarysoft", "Glarysoft Ltd"},
    {T::ctStarts, "AVAST Software", "AVAST Software"},
    {T::ctStarts, "Razer", "Razer Inc."},
    {T::ctStarts, "Malwarebytes", "Malwarebytes"},
    {T::ctStarts, "Tonec", "Tonec Inc."},
    {T::ctCustom, "", nullptr, GDataRow},
    {T::ctStarts, "G Data", "G Data Software AG"},
    {T::ctStarts, "Greenshot", "Greenshot"},
    {T::ctStarts, "Microsoft", "Microsoft"},
    {T::ctStarts, "CyberLink", "Cyberlink"},
    {T::ctStarts, "Canon", "Canon Inc."},
    {T::ctCustom, "", nullptr, AuslogicsRow},
    {T::ctStarts, "Advanced Micro Devices", "Advanced Micro Devices, Inc."},
    {T::ctLowerStartsCase, "dtsearch", "dtSearch Corp."},
    {T::ctLowerStartsCase, "nvidia", "NVIDIA"},
    {T::ctStarts, "Intel Corporation", "Intel"},
    {T::ctStarts, "Realtek", "Realtek"},
    {T::ctStarts, "Skype Technologies", "Skype Technologies"},
    {T::ctStarts, "Google", "Google Inc."},
    {T::ctStarts, "Hewlett-Packard", "Hewlett-Packard"},
    {T::ctStarts, "Lenovo", "Lenovo"},
    {T::ctStarts, "Logitech", "Logitech, Inc."},
    {T::ctEmptyFileStarts, "gimp", "The GIMP Team"},
    {T::ctEmptyFileStarts, "ffdshow.ax", "The FFDShow Team"},
    {T::ctEmptyFileStarts, "xvidvfw.dll", "Xvid Team"},
    {T::ctEqualsCase, "the VideoLAN Team", "VideoLAN Team"},
    {T::ctEqualsCase, "VideoLAN", "VideoLAN Team"},
    {T::ctMask, "*VSO?SOFTWARE*", "VSO Software"},
    {T::ctStarts, "Adobe", "Adobe Systems, Inc."},
    {T::ctStarts, "Mozilla", "Mozilla Foundation"},
    {T::ctStarts, "Oracle", "Oracle"},
    {T::ctStarts, "Nullsoft", "Nullsoft, Inc."},
    {T::ctStarts, "Kaspersky", "Kaspersky Lab"},
    {T::ctStarts, "Apple Inc", "Apple Inc."},
    {T::ctStarts, "Ashampoo", "Ashampoo"},
    {T::ctStarts, "Samsung", "Samsung"},
    {T::ctStarts, "Wondershare", "Wondershare"},
    {T::ctStarts, "Avira", "Avira GmbH"},
    {T::ctStarts, "Paragon Software", "Paragon Software Group"},
    {T::ctStarts, "ABBYY", "ABBYY"},
    {T::ctStarts, "ASUSTeK", "ASUS"},
};

}  // namespace plim
