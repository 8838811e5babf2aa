// TPlimVersion: the four-part version number (major.minor.release.build) the update check
// sends packed as two 32-bit halves and the software-identification code compares.
#pragma once

#include <cstdint>
#include <string>

class TPlimVersion {
public:
    // 0.0.0.0.
    TPlimVersion() = default;
    // Parses Text (SetText).
    explicit TPlimVersion(const std::string& Text);
    // Major = High >> 16, Minor = High & 0xFFFF, Release = Low >> 16, Build = Low & 0xFFFF.
    static TPlimVersion CreatePacked(uint32_t High, uint32_t Low);

    // Missing parts count as 0, as does a part that is not a whole decimal number (no
    // trimming: "4\n" is not a number) or that is above 65535; negative parts stay.
    void SetText(const std::string& Text);

    uint32_t HighPart() const;  // (Major << 16) + Minor
    uint32_t LowPart() const;   // (Release << 16) + Build
    // "%d.%d.%d.%d".
    std::string AsText() const;
    // The packed halves in unsigned decimal.
    std::string HighPartText() const;
    std::string LowPartText() const;
    // The parts sum above 0.
    bool IsValid() const;
    // Strictly greater, part by part, signed.
    bool IsNewerThan(const TPlimVersion& Other) const;
    // (HighPart, LowPart) strictly greater than (High, Low), unsigned.
    bool IsNewerThanParts(uint32_t High, uint32_t Low) const;

    int32_t Major = 0;
    int32_t Minor = 0;
    int32_t Release = 0;
    int32_t Build = 0;
};
