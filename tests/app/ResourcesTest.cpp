// The program's resources, read back from the running test executable, which links them
// just as VoltAtlas.exe does: every icon at its size with alpha and mask, the banner, the
// manifest and the version resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "VoltAtlasVersion.h"
#include "framework/Forms.h"
#include "resources/resource.h"

namespace {

HINSTANCE Self() { return GetModuleHandleA(nullptr); }

struct GdiObject {
    HGDIOBJ h;
    ~GdiObject() {
        if (h) DeleteObject(h);
    }
};

struct IconDeleter {
    HICON h;
    ~IconDeleter() {
        if (h) DestroyIcon(h);
    }
};

// A bitmap's pixels as 32-bit BGRA, top row first.
std::vector<uint32_t> Pixels(HBITMAP bitmap, int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int lines = GetDIBits(dc, bitmap, 0, height, pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(lines, height);
    return pixels;
}

// What an icon is made of: its colour pixels with alpha and its AND mask.
struct IconImage {
    int width = 0, height = 0, bits = 0;
    std::vector<uint32_t> colour, mask;

    unsigned Alpha(int x, int y) const { return colour[y * width + x] >> 24; }
    bool Transparent(int x, int y) const { return (mask[y * width + x] & 0xFFFFFF) != 0; }
};

IconImage Inspect(int id, int size) {
    IconImage img;
    IconDeleter icon{static_cast<HICON>(
        LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR))};
    if (!icon.h) {
        ADD_FAILURE() << "icon " << id << " at " << size << " px does not load";
        return img;
    }
    ICONINFO info{};
    if (!GetIconInfo(icon.h, &info)) {
        ADD_FAILURE() << "no icon info for " << id;
        return img;
    }
    GdiObject colour{info.hbmColor}, mask{info.hbmMask};
    EXPECT_TRUE(info.fIcon);
    EXPECT_NE(info.hbmMask, nullptr) << "icon " << id << " has no mask";
    if (!info.hbmColor || !info.hbmMask) return img;
    BITMAP bm{};
    GetObjectA(info.hbmColor, sizeof bm, &bm);
    img.width = bm.bmWidth;
    img.height = bm.bmHeight;
    img.bits = bm.bmBitsPixel;
    img.colour = Pixels(info.hbmColor, img.width, img.height);
    img.mask = Pixels(info.hbmMask, img.width, img.height);
    return img;
}

// A picture drawn on a transparent ground with smooth edges: clear corner, solid inside,
// partly covered pixels on the edges, and a mask that agrees with the alpha.
void ExpectAlphaIcon(const IconImage& img, int id, int size) {
    SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(size) + " px");
    ASSERT_EQ(img.width, size);
    ASSERT_EQ(img.height, size);
    EXPECT_EQ(img.bits, 32);
    int solid = 0, edge = 0, disagree = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            unsigned a = img.Alpha(x, y);
            solid += a == 255;
            edge += a > 0 && a < 255;
            if ((a == 0 && !img.Transparent(x, y)) || (a == 255 && img.Transparent(x, y)))
                ++disagree;
        }
    EXPECT_EQ(img.Alpha(0, 0), 0u);
    EXPECT_TRUE(img.Transparent(0, 0));
    EXPECT_GT(solid, size * size / 8);
    EXPECT_GT(edge, size / 2) << "no anti-aliased edge";
    EXPECT_EQ(disagree, 0) << "mask and alpha disagree";
}

TEST(Resources, ImageListIconsLoadAtTheirSizeWithAlphaAndMask) {
    struct List { int first, count, size; };
    std::set<std::vector<uint32_t>> seen;
    for (const List& list : {List{IDI_LIST96_FIRST, IDI_LIST96_COUNT, 32},
                             List{IDI_STATUS_FIRST, IDI_STATUS_COUNT, 48}})
        for (int i = 0; i < list.count; ++i) {
            IconImage img = Inspect(list.first + i, list.size);
            ExpectAlphaIcon(img, list.first + i, list.size);
            EXPECT_TRUE(seen.insert(img.colour).second)
                << "icon " << list.first + i << " repeats another icon";
        }
    for (int id : {IDI_LIST96_FIRST + IDI_LIST96_COUNT, IDI_STATUS_FIRST + IDI_STATUS_COUNT})
        EXPECT_EQ(LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, 0, 0, 0), nullptr)
            << "an image list has more icons than its count: " << id;
}

// The icons whose meaning is told by colour stand at the index the displays use.
TEST(Resources, ColourCodedIconsStandInImageListOrder) {
    enum Hue { Green, Amber, Red, Grey };
    struct Case { int id, size, x, y; Hue hue; };
    const Case cases[] = {
        {IDI_LIST96_FIRST + 11, 32, 5, 16, Red},    // discharging
        {IDI_LIST96_FIRST + 12, 32, 5, 16, Green},  // charging
        {IDI_LIST96_FIRST + 13, 32, 5, 16, Grey},   // no rate
        {IDI_STATUS_FIRST + 0, 48, 24, 38, Green},  // charge above 75 %
        {IDI_STATUS_FIRST + 1, 48, 24, 38, Amber},  // 16 % to 75 %
        {IDI_STATUS_FIRST + 2, 48, 24, 38, Red},    // below 16 %
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("icon " + std::to_string(c.id));
        IconImage img = Inspect(c.id, c.size);
        ASSERT_EQ(img.width, c.size);
        uint32_t px = img.colour[c.y * img.width + c.x];
        int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
        EXPECT_EQ(img.Alpha(c.x, c.y), 255u);
        switch (c.hue) {
        case Green: EXPECT_TRUE(g > r + 40 && g > b + 40) << r << "," << g << "," << b; break;
        case Amber: EXPECT_TRUE(r > 200 && g > 120 && b < 80) << r << "," << g << "," << b; break;
        case Red: EXPECT_TRUE(r > 200 && g < 110 && b < 110) << r << "," << g << "," << b; break;
        case Grey: EXPECT_TRUE(std::abs(r - g) < 40 && std::abs(g - b) < 40 && r > 100)
                       << r << "," << g << "," << b; break;
        }
    }
}

TEST(Resources, ProgramIconCarriesEverySize) {
    for (int size : {16, 24, 32, 48, 256})
        ExpectAlphaIcon(Inspect(IDI_MAINICON, size), IDI_MAINICON, size);
    IconDeleter standard{LoadIconA(Self(), MAKEINTRESOURCEA(IDI_MAINICON))};
    EXPECT_NE(standard.h, nullptr);
}

TEST(Resources, BannerAndManifestAreThere) {
    GdiObject banner{LoadImageA(Self(), MAKEINTRESOURCEA(IDB_BANNER), IMAGE_BITMAP, 0, 0,
                                LR_CREATEDIBSECTION)};
    ASSERT_NE(banner.h, nullptr);
    BITMAP bm{};
    ASSERT_NE(GetObjectA(banner.h, sizeof bm, &bm), 0);
    EXPECT_EQ(bm.bmWidth, IDB_BANNER_WIDTH);
    EXPECT_EQ(bm.bmHeight, IDB_BANNER_HEIGHT);
    EXPECT_NE(FindResourceA(Self(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);
}

TEST(Resources, VersionResourceNamesMakerProductAndFourPartVersion) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    ASSERT_GE(len, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(VA_VERSION_MAJOR) << 16 | VA_VERSION_MINOR);
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(VA_VERSION_RELEASE) << 16 | VA_VERSION_BUILD);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                  fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                  fixed->dwFileVersionLS & 0xFFFF);
    EXPECT_STREQ(numbers, VA_VERSION_TEXT);

    struct Translation { WORD language, codepage; }* tr = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&tr), &len));
    ASSERT_GE(len, sizeof *tr);
    EXPECT_EQ(tr->language, 0x0409);
    EXPECT_EQ(tr->codepage, 1252);
    auto text = [&](const char* key) {
        char block[96];
        std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\%s", tr->language,
                      tr->codepage, key);
        char* value = nullptr;
        UINT n = 0;
        if (!VerQueryValueA(data.data(), block, reinterpret_cast<void**>(&value), &n) || !n)
            return std::string("<missing>");
        return std::string(value);
    };
    EXPECT_EQ(text("CompanyName"), "Quillmark");
    EXPECT_EQ(text("ProductName"), "VoltAtlas");
    EXPECT_EQ(text("InternalName"), "VoltAtlas");
    EXPECT_EQ(text("FileVersion"), numbers);
    EXPECT_EQ(text("ProductVersion"), numbers);
    EXPECT_EQ(text("LegalCopyright"), "Copyright \xA9 Quillmark");
    EXPECT_EQ(text("FileDescription").rfind("VoltAtlas", 0), 0u);
}

}  // namespace

TEST(ProgramIcon, TheApplicationWindowCarriesTheProgramsOwnIcon) {
    HICON own = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(framework::Application().Icon(), own) << "not the system's application icon";
}
