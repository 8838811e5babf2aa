#include "foundation/Version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PlimVersion, ParsingPackingAndValidity) {
    const struct {
        const char* text;
        const char* asText;
        bool valid;
        const char* high;
        const char* low;
    } cases[] = {
        {"", "0.0.0.0", false, "0", "0"},
        {"0.0.0.1", "0.0.0.1", true, "0", "1"},
        {"5", "5.0.0.0", true, "327680", "0"},
        {"1.2", "1.2.0.0", true, "65538", "0"},
        {"1.14.5.27", "1.14.5.27", true, "65550", "327707"},
        {"1.2.3.4.5", "1.2.3.0", true, "65538", "196608"},  // the fourth part is "4.5"
        {"1.2.3.4\n", "1.2.3.0", true, "65538", "196608"},  // no trimming
        {"1.2.3.4 ", "1.2.3.0", true, "65538", "196608"},
        {" 1.2.3.4", "0.2.3.4", true, "2", "196612"},
        {"70000.1.2.3", "0.1.2.3", true, "1", "131075"},
        {"65535.65535.65535.65535", "65535.65535.65535.65535", true, "4294967295", "4294967295"},
        {"99999999999.1.0.0", "0.1.0.0", true, "1", "0"},
        {"a.b.c.d", "0.0.0.0", false, "0", "0"},
        {"1..3", "1.0.3.0", true, "65536", "196608"},
        {"-1.0.0.0", "-1.0.0.0", false, "4294901760", "0"},  // negative parts stay, packed as 32 bits
        {"-1.0.0.2", "-1.0.0.2", true, "4294901760", "2"},
    };
    for (const auto& c : cases) {
        const TPlimVersion v(c.text);
        EXPECT_EQ(v.AsText(), c.asText) << '"' << c.text << '"';
        EXPECT_EQ(v.IsValid(), c.valid) << '"' << c.text << '"';
        EXPECT_EQ(v.HighPartText(), c.high) << '"' << c.text << '"';
        EXPECT_EQ(v.LowPartText(), c.low) << '"' << c.text << '"';
        // The halves unpack to the same parts whenever the parts fit in 16 bits.
        if (v.Major >= 0 && v.Minor >= 0 && v.Release >= 0 && v.Build >= 0) {
            EXPECT_EQ(TPlimVersion::CreatePacked(v.HighPart(), v.LowPart()).AsText(), c.asText);
        }
    }

    const TPlimVersion packed = TPlimVersion::CreatePacked(4294967295u, 0);
    EXPECT_EQ(packed.AsText(), "65535.65535.0.0");
    EXPECT_EQ(packed.HighPartText(), "4294967295");
    EXPECT_EQ(TPlimVersion().AsText(), "0.0.0.0");

    TPlimVersion reparsed("9.9.9.9");
    reparsed.SetText("3");
    EXPECT_EQ(reparsed.AsText(), "3.0.0.0");
}

TEST(PlimVersion, Comparisons) {
    const struct {
        const char* a;
        const char* b;
        bool newer;
    } cases[] = {
        {"1.2.3.4", "1.2.3.4", false}, {"1.2.3.4", "1.2.3.3", true}, {"1.2.3.3", "1.2.3.4", false},
        {"2.0.0.0", "1.9.9.9", true},  {"1.10", "1.9", true},        {"1.9", "1.10", false},
        {"0.0.0.0", "-1.0.0.0", true}, {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TPlimVersion(c.a).IsNewerThan(TPlimVersion(c.b)), c.newer) << c.a << " vs " << c.b;

    const struct {
        const char* v;
        uint32_t high, low;
        bool newer;
    } parts[] = {
        {"1.2.3.4", 65538, 196612, false},  // equal
        {"1.2.3.4", 65538, 196611, true},   // equal high halves: the low halves decide
        {"1.2.3.4", 65538, 196613, false},
        {"1.3.0.0", 65538, 0xFFFFFFFFu, true},  // greater high half, whatever the low halves
        {"1.1.65535.65535", 65538, 0, false},
        {"65535.65535.0.0", 0x7FFFFFFFu, 0, true},  // unsigned: no sign trouble above 2^31
    };
    for (const auto& p : parts)
        EXPECT_EQ(TPlimVersion(p.v).IsNewerThanParts(p.high, p.low), p.newer) << p.v << " vs " << p.high << "/" << p.low;
}

}  // namespace
