// The image lists take the program's icons from its resources in one strip: what they then draw
// must be exactly what the same icons added one by one draw, in every drawing style.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/ImageList.h"
#include "resources/resource.h"

namespace {

using namespace framework;

// A 32-bit DIB section of w x h filled with Fill, selected into a memory DC.
struct Canvas32 {
    Canvas32(int w, int h, COLORREF fill) : w(w), h(h) {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc = CreateCompatibleDC(nullptr);
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = SelectObject(dc, bmp);
        HBRUSH brush = CreateSolidBrush(fill);
        RECT r{0, 0, w, h};
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
    ~Canvas32() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    std::vector<uint32_t> Pixels() {
        GdiFlush();
        return std::vector<uint32_t>(bits, bits + size_t(w) * h);
    }
    int w, h;
    HDC dc;
    HBITMAP bmp;
    HGDIOBJ old;
    uint32_t* bits = nullptr;
};

// Image Index of List drawn in one style over a background.
std::vector<uint32_t> Drawn(const TImageList& list, int index, UINT style, COLORREF background, bool enabled = true) {
    Canvas32 c(list.Width(), list.Height(), background);
    if (style == ILD_NORMAL)
        list.Draw(c.dc, 0, 0, index, enabled);
    else
        ImageList_Draw(list.Handle(), index, c.dc, 0, 0, style);
    return c.Pixels();
}

// The same icons added one by one, as the icons themselves load.
void AddOneByOne(TImageList& list, int firstId, int count) {
    for (int i = 0; i < count; ++i) {
        TIcon icon;
        icon.SetHandle(static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(firstId + i),
                                                     IMAGE_ICON, list.Width(), list.Height(), 0)));
        ASSERT_FALSE(icon.Empty()) << firstId + i;
        ASSERT_EQ(list.AddIcon(icon), i);
    }
}

// The list's own mask of image Index, one byte per pixel (non-zero: transparent).
std::vector<uint8_t> MaskOf(const TImageList& list, int index) {
    IMAGEINFO info{};
    if (!ImageList_GetImageInfo(list.Handle(), index, &info) || !info.hbmMask) return {};
    Canvas32 c(list.Width(), list.Height(), RGB(0, 0, 0));
    HDC maskDc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(maskDc, info.hbmMask);
    BitBlt(c.dc, 0, 0, list.Width(), list.Height(), maskDc, info.rcImage.left, info.rcImage.top, SRCCOPY);
    SelectObject(maskDc, old);
    DeleteDC(maskDc);
    std::vector<uint8_t> mask;
    for (uint32_t p : c.Pixels()) mask.push_back((p & 0xFFFFFF) != 0);
    return mask;
}

struct IconRun {
    int firstId, count, size;
};

TEST(IconResourcesList, DrawsEachIconExactlyAsTheIconAddedAlone) {
    // The two lists of the main window, and the program icon, whose group also holds other sizes.
    for (const IconRun run : {IconRun{IDI_LIST96_FIRST, IDI_LIST96_COUNT, 32}, IconRun{IDI_STATUS_FIRST, IDI_STATUS_COUNT, 48},
                              IconRun{IDI_MAINICON, 1, 48}, IconRun{IDI_MAINICON, 1, 16}}) {
        SCOPED_TRACE(run.firstId);
        TImageList single(nullptr, run.size, run.size), strip(nullptr, run.size, run.size);
        AddOneByOne(single, run.firstId, run.count);
        int changes = 0;
        strip.OnChange = [&](TCustomImageList*) { ++changes; };
        ASSERT_EQ(strip.AddIconResources(GetModuleHandleA(nullptr), run.firstId, run.count), 0);
        EXPECT_EQ(changes, 1);
        ASSERT_EQ(strip.Count(), run.count);
        for (int i = 0; i < run.count; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(MaskOf(strip, i), MaskOf(single, i));
            for (COLORREF background : {RGB(255, 255, 255), RGB(0, 0, 0), RGB(90, 160, 30)}) {
                EXPECT_EQ(Drawn(strip, i, ILD_NORMAL, background), Drawn(single, i, ILD_NORMAL, background));
                EXPECT_EQ(Drawn(strip, i, ILD_NORMAL, background, false), Drawn(single, i, ILD_NORMAL, background, false));
                EXPECT_EQ(Drawn(strip, i, ILD_MASK, background), Drawn(single, i, ILD_MASK, background));
                EXPECT_EQ(Drawn(strip, i, ILD_TRANSPARENT, background), Drawn(single, i, ILD_TRANSPARENT, background));
            }
        }
        // Appended after what the list holds, as AddIcon appends.
        EXPECT_EQ(strip.AddIconResources(GetModuleHandleA(nullptr), run.firstId, run.count), run.count);
        EXPECT_EQ(strip.Count(), 2 * run.count);
        EXPECT_EQ(Drawn(strip, run.count, ILD_NORMAL, RGB(0, 0, 0)), Drawn(single, 0, ILD_NORMAL, RGB(0, 0, 0)));
    }
}

TEST(IconResourcesList, AddsNothingWhenAnIconIsMissingOrNotOfTheListsSize) {
    struct Case {
        const char* what;
        int firstId, count, size;
    } cases[] = {
        {"one id past the last icon", IDI_LIST96_FIRST, IDI_LIST96_COUNT + 1, 32},
        {"no icon of that id", 9999, 1, 32},
        {"icons only of another size", IDI_LIST96_FIRST, 2, 48},
        {"a size the program icon lacks", IDI_MAINICON, 1, 20},
        {"no icons asked", IDI_LIST96_FIRST, 0, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TImageList list(nullptr, c.size, c.size);
        int changes = 0;
        list.OnChange = [&](TCustomImageList*) { ++changes; };
        EXPECT_EQ(list.AddIconResources(GetModuleHandleA(nullptr), c.firstId, c.count), -1);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(changes, 0);
    }
}

}  // namespace
