// Drawing, icon and window utilities: signatures, the utility window, reference swaps,
// transparent blits and icons at their real size.
#include <gtest/gtest.h>

#include <cstring>

#include "components/UxUtils.h"
#include "support/Pump.h"

using namespace framework;

namespace {

TEST(GraphicSignature, DefaultRowsAndBadSignaturesAreRefused) {
    const auto& rows = GraphicSignatures();
    ASSERT_GE(rows.size(), 6u);
    EXPECT_EQ(rows[0]->Signature, "BM");
    EXPECT_EQ(rows[0]->GraphicClass, &TBitmap::Class());
    EXPECT_EQ(rows[1]->Signature, std::string("\0\0\1\0", 4));
    EXPECT_EQ(rows[4]->Signature, "JFIF");
    EXPECT_EQ(rows[4]->Offset, 6);
    const size_t before = rows.size();
    EXPECT_THROW(AddGraphicSignature("GIF", -1, &TBitmap::Class()), EUxException);
    EXPECT_THROW(AddGraphicSignature("", 0, &TBitmap::Class()), EUxException);
    EXPECT_THROW(AddGraphicSignature("GIF", 0, nullptr), EUxException);
    EXPECT_EQ(GraphicSignatures().size(), before);
    AddGraphicSignature(std::vector<uint8_t>{'G', 'I', 'F'}, 0, &TBitmap::Class());
    EXPECT_EQ(GraphicSignatures().back()->Signature, "GIF");
}

struct Sink {
    std::vector<UINT> messages;
    void Handle(TMessage& m) {
        messages.push_back(m.Msg);
        if (m.Msg == WM_USER + 5) m.Result = 1234;
        else m.Result = DefWindowProcA(nullptr, m.Msg, m.WParam, m.LParam);
    }
};

TEST(UtilityWindow, MethodGetsTheMessagesAndSetsTheResult) {
    Sink sink;
    HWND a = AllocateUtilityWindow("", MakeWndMethod<Sink, &Sink::Handle>(&sink));
    HWND b = AllocateUtilityWindow("", TWndMethod{});
    ASSERT_TRUE(a && b);
    char cls[64];
    GetClassNameA(a, cls, sizeof cls);
    EXPECT_STREQ(cls, "TUtilWindowEx");
    EXPECT_EQ(GetClassLongPtrA(a, GCW_ATOM), GetClassLongPtrA(b, GCW_ATOM)) << "one class for both";
    EXPECT_EQ(GetWindowLongPtrA(a, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(a, GWL_STYLE)) & WS_POPUP, DWORD(WS_POPUP));
    EXPECT_FALSE(IsWindowVisible(a));
    EXPECT_EQ(SendMessageA(a, WM_USER + 5, 0, 0), 1234);
    EXPECT_EQ(sink.messages.back(), UINT(WM_USER + 5));
    EXPECT_EQ(SendMessageA(b, WM_USER + 5, 0, 0), 0) << "without a method: the default procedure";
    EXPECT_EQ(GetWindowLongPtrA(b, GWLP_WNDPROC), GetClassLongPtrA(b, GCLP_WNDPROC));
    DestroyWindow(a);
    DestroyWindow(b);
}

TEST(Swap, ComponentReferenceMovesTheWatchAndRefusesTheSameValue) {
    TComponent owner(nullptr);
    auto first = std::make_unique<TImageList>(nullptr);
    TCustomImageList* field = nullptr;
    TChangeLink link;
    int changes = 0;
    link.OnChange = [&](TChangeLink*) { ++changes; };
    EXPECT_TRUE(SwapImageListReference(&owner, first.get(), field, &link));
    EXPECT_FALSE(SwapImageListReference(&owner, first.get(), field, &link));
    EXPECT_FALSE(SwapImageListReference(nullptr, nullptr, field, &link)) << "no owner";
    TBitmap b(16, 16);
    first->Add(b, nullptr);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(SwapImageListReference(&owner, nullptr, field, &link));
    first->Add(b, nullptr);
    EXPECT_EQ(changes, 1) << "the link left the old list";
    EXPECT_EQ(field, nullptr);
}

TEST(TransparentBlit, AutomaticColourLeavesEveryMagentaPixelUndrawnAlsoStretched) {
    TBitmap src(4, 4);
    RECT all{0, 0, 4, 4};
    src.Canvas().Brush().SetColor(clFuchsia);
    src.Canvas().FillRect(all);
    src.Canvas().SetPixel(1, 1, clBlue);
    src.Canvas().SetPixel(2, 1, clRed);
    TBitmap dst(8, 8);
    RECT d{0, 0, 8, 8};
    dst.Canvas().Brush().SetColor(clLime);
    dst.Canvas().FillRect(d);
    DrawBitmapTransparentStretched(dst.Canvas(), src, clDefault, 0, 0, 8, 8, 0, 0, 0, 0);
    int lime = 0, blue = 0, red = 0, magenta = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const COLORREF c = dst.Canvas().Pixel(x, y);
            lime += c == RGB(0, 255, 0);
            blue += c == RGB(0, 0, 255);
            red += c == RGB(255, 0, 0);
            magenta += c == RGB(255, 0, 255);
        }
    EXPECT_EQ(magenta, 0);
    EXPECT_EQ(blue, 4) << "one source pixel doubled in both directions";
    EXPECT_EQ(red, 4);
    EXPECT_EQ(lime, 64 - 8);
    // clNone: a plain stretch, magenta included.
    DrawBitmapTransparentStretched(dst.Canvas(), src, clNone, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dst.Canvas().Pixel(0, 0), RGB(255, 0, 255));
    EXPECT_EQ(dst.Canvas().Pixel(5, 5), RGB(0, 255, 0)) << "destination size taken from the bitmap";
}

TEST(TransparentBlit, TheSourceIsUnlockedAndKeepsItsChangeHandlerAlsoWhenTheBlitFails) {
    TBitmap src(4, 4);
    int changes = 0;
    src.OnChange = [&](TGraphic*) { ++changes; };
    TBitmap dst(8, 8);
    struct Case {
        const char* name;
        TColor transparent;
        int width;  // of the destination; no GDI makes a work bitmap this size
        bool fails;
    };
    const Case cases[] = {
        {"plain stretch", clNone, 8, false},
        {"transparent", clDefault, 8, false},
        {"transparent, refused", clFuchsia, 1 << 30, true},
    };
    for (const Case& c : cases) {
        bool threw = false;
        try {
            DrawBitmapTransparentStretched(dst.Canvas(), src, c.transparent, 0, 0, c.width, c.width, 0, 0, 0, 0);
        } catch (const std::exception&) {
            threw = true;
        }
        EXPECT_EQ(threw, c.fails) << c.name;
        EXPECT_EQ(src.Canvas().LockCount(), 0) << c.name;
        ASSERT_TRUE(src.OnChange) << c.name;
        EXPECT_EQ(changes, 0) << c.name << ": drawing a bitmap is no change to it";
    }
    src.SetSize(5, 5);
    EXPECT_GT(changes, 0) << "the handler put back is the one that was set";
}

// An icon file with the given images, each (width, colour-count byte, bits per pixel); a
// "png" entry carries PNG bytes, an offset past the end is kept as given.
struct Entry {
    int size;
    uint8_t colorCount;
    int bits;
    bool png = false;
    bool badOffset = false;
};
std::string IconFile(const std::vector<Entry>& entries) {
    std::string head(6 + 16 * entries.size(), '\0'), body;
    head[2] = 1;
    head[4] = static_cast<char>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        std::string img;
        if (e.png) {
            img = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(64, '\0');
        } else {
            BITMAPINFOHEADER h{};
            h.biSize = sizeof h;
            h.biWidth = e.size;
            h.biHeight = e.size * 2;
            h.biPlanes = 1;
            h.biBitCount = static_cast<WORD>(e.bits);
            img.assign(reinterpret_cast<const char*>(&h), sizeof h);
            if (e.bits <= 8) img += std::string(4 << e.bits, '\xff');  // palette
            const int stride = ((e.size * e.bits + 31) / 32) * 4, mstride = ((e.size + 31) / 32) * 4;
            img += std::string(static_cast<size_t>(stride) * e.size, '\x40');
            img += std::string(static_cast<size_t>(mstride) * e.size, '\0');
        }
        uint8_t* d = reinterpret_cast<uint8_t*>(&head[6 + 16 * i]);
        d[0] = static_cast<uint8_t>(e.size), d[1] = static_cast<uint8_t>(e.size), d[2] = e.colorCount;
        d[4] = 1, d[6] = static_cast<uint8_t>(e.bits);
        const uint32_t size = static_cast<uint32_t>(img.size());
        const uint32_t offset = e.badOffset ? 0x7FFFFFF0u : static_cast<uint32_t>(head.size() + body.size());
        std::memcpy(d + 8, &size, 4);
        std::memcpy(d + 12, &offset, 4);
        body += img;
    }
    return head + body;
}

int IconWidth(HICON icon) {
    ICONINFO ii{};
    GetIconInfo(icon, &ii);
    BITMAP bm{};
    GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    return bm.bmWidth;
}

TEST(IconAtRealSize, DirectoryEntryChoiceByScreenDepth) {
    struct Row {
        std::vector<Entry> entries;
        int screenBits;
        int expectWidth;  // 0: no icon
    } rows[] = {
        // A 32-bit screen wants true colour (count 0) and not the entry that claims 1 colour.
        {{{16, 1, 1}, {32, 0, 32}}, 32, 32},
        {{{16, 1, 1}, {32, 0, 32}}, 24, 32},
        {{{16, 16, 4}, {24, 2, 1}}, 4, 16},        // 16 colours on a 4-bit screen
        // 256 wanted, none has it: the first with at most 256 is the candidate, and every later
        // entry with more colours than that first one replaces it (the last such wins).
        {{{16, 2, 1}, {20, 16, 4}, {24, 8, 4}}, 8, 24},
        {{{16, 16, 4}, {20, 2, 1}}, 8, 16},
        {{{48, 0, 32, true}, {32, 0, 32}}, 32, 32},      // a PNG image is skipped
        {{{48, 0, 32, false, true}, {24, 0, 32}}, 32, 24},  // an offset outside the data is skipped
        {{{48, 0, 32, true}}, 32, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "screen " << row.screenBits << " expect " << row.expectWidth);
        HICON icon = IconFromDirectory(IconFile(row.entries), row.screenBits);
        if (!row.expectWidth) {
            EXPECT_EQ(icon, nullptr);
            continue;
        }
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(IconWidth(icon), row.expectWidth);
        DestroyIcon(icon);
    }
    std::string truncated = IconFile({{32, 0, 32}});
    truncated.resize(truncated.size() - 10);
    EXPECT_EQ(IconFromDirectory(truncated, 32), nullptr) << "an image cut short is not read past its end";
}

TEST(IconAtRealSize, DrawsAFortyEightPixelIconUnscaled) {
    TIcon icon;
    TMemoryStream s;
    const std::string file = IconFile({{48, 0, 32}});
    s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    s.SetPosition(0);
    icon.LoadFromStream(s);
    TBitmap out(64, 64);
    RECT all{0, 0, 64, 64};
    out.Canvas().Brush().SetColor(clWhite);
    out.Canvas().FillRect(all);
    DrawIconAtRealSize(out.Canvas(), icon, 2, 2);
    EXPECT_NE(out.Canvas().Pixel(2 + 47, 2 + 47), RGB(255, 255, 255)) << "drawn to its full 48 pixels";
    EXPECT_EQ(out.Canvas().Pixel(2 + 48, 2 + 48), RGB(255, 255, 255));
}

TEST(ShowWindowNoAnimation, ShowsAndRestoresTheAnimationSetting) {
    ANIMATIONINFO before{sizeof before, 0};
    SystemParametersInfoA(SPI_GETANIMATION, sizeof before, &before, 0);
    HWND w = AllocateUtilityWindow("", TWndMethod{});
    ShowWindowNoAnimation(w, SW_SHOWNA);
    EXPECT_TRUE(IsWindowVisible(w));
    ANIMATIONINFO after{sizeof after, 0};
    SystemParametersInfoA(SPI_GETANIMATION, sizeof after, &after, 0);
    EXPECT_EQ(after.iMinAnimate, before.iMinAnimate);
    DestroyWindow(w);
    EXPECT_GE(Shell32Version(), 0x00050000u) << "Wine's shell32 is new enough for balloons";
}

}  // namespace
