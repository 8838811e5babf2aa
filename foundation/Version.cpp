#include "foundation/Version.h"

#include "foundation/UnicodeUtils.h"
#include "framework/SysUtils.h"

namespace {
int32_t PartValue(const std::string& text) {
    int64_t v = 0;
    if (!framework::TryStrToInt64(text, v) || v < INT32_MIN || v > INT32_MAX) return 0;
    return v > 65535 ? 0 : static_cast<int32_t>(v);
}
}  // namespace

TPlimVersion::TPlimVersion(const std::string& Text) { SetText(Text); }

TPlimVersion TPlimVersion::CreatePacked(uint32_t High, uint32_t Low) {
    TPlimVersion v;
    v.Major = static_cast<int32_t>(High >> 16);
    v.Minor = static_cast<int32_t>(High & 0xFFFF);
    v.Release = static_cast<int32_t>(Low >> 16);
    v.Build = static_cast<int32_t>(Low & 0xFFFF);
    return v;
}

void TPlimVersion::SetText(const std::string& Text) {
    std::string text = Text;
    while (TokenCount(text, ".") < 4) text += ".0";
    const size_t d1 = text.find('.');
    const size_t d2 = text.find('.', d1 + 1);
    const size_t d3 = text.find('.', d2 + 1);
    Major = PartValue(text.substr(0, d1));
    Minor = PartValue(text.substr(d1 + 1, d2 - d1 - 1));
    Release = PartValue(text.substr(d2 + 1, d3 - d2 - 1));
    Build = PartValue(text.substr(d3 + 1));
}

uint32_t TPlimVersion::HighPart() const {
    return (static_cast<uint32_t>(Major) << 16) + static_cast<uint32_t>(Minor);
}

uint32_t TPlimVersion::LowPart() const {
    return (static_cast<uint32_t>(Release) << 16) + static_cast<uint32_t>(Build);
}

std::string TPlimVersion::AsText() const {
    return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
           std::to_string(Build);
}

std::string TPlimVersion::HighPartText() const { return std::to_string(HighPart()); }

std::string TPlimVersion::LowPartText() const { return std::to_string(LowPart()); }

bool TPlimVersion::IsValid() const {
    return static_cast<int64_t>(Major) + Minor + Release + Build > 0;
}

bool TPlimVersion::IsNewerThan(const TPlimVersion& Other) const {
    if (Major != Other.Major) return Major > Other.Major;
    if (Minor != Other.Minor) return Minor > Other.Minor;
    if (Release != Other.Release) return Release > Other.Release;
    return Build > Other.Build;
}

bool TPlimVersion::IsNewerThanParts(uint32_t High, uint32_t Low) const {
    if (HighPart() != High) return HighPart() > High;
    return LowPart() > Low;
}
