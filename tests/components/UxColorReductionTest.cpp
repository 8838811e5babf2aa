// Bitmap colour reduction: the formats, the six methods on synthetic pictures, the info
// header of DIB sections and device bitmaps, and the errors. The reduced files are also
// written out for check_color_reduction.py, which recomputes every palette and index.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "PictureFiles.h"
#include "components/UxColorReduction.h"
#include "components/UxUtils.h"

using namespace framework;

namespace {

// A 24-bit bitmap whose pixel (x, y) (y from the top) is f(x, y).
template <typename F>
std::unique_ptr<TBitmap> Synthetic(int w, int h, F f) {
    auto b = std::make_unique<TBitmap>(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<uint8_t*>(b->ScanLine(y));
        for (int x = 0; x < w; ++x) {
            const COLORREF c = f(x, y);
            row[3 * x] = GetBValue(c), row[3 * x + 1] = GetGValue(c), row[3 * x + 2] = GetRValue(c);
        }
    }
    return b;
}

// A bitmap file read back byte by byte.
struct Bmp {
    BITMAPFILEHEADER fh;
    BITMAPINFOHEADER ih;
    std::string bytes;
    explicit Bmp(const std::string& data) : bytes(data) {
        EXPECT_GE(data.size(), sizeof fh + sizeof ih);
        std::memcpy(&fh, data.data(), sizeof fh);
        std::memcpy(&ih, data.data() + sizeof fh, sizeof ih);
    }
    RGBQUAD Color(int i) const {
        RGBQUAD q;
        std::memcpy(&q, bytes.data() + sizeof fh + sizeof ih + 4 * i, 4);
        return q;
    }
    // Index of pixel (x, y), y from the top, of an 8-bit file.
    int Index(int x, int y) const {
        const int stride = ((ih.biWidth * 8 + 31) / 32) * 4;
        return static_cast<uint8_t>(bytes[fh.bfOffBits + static_cast<size_t>(ih.biHeight - 1 - y) * stride + x]);
    }
    COLORREF Pixel(int x, int y) const {
        const RGBQUAD q = Color(Index(x, y));
        return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
};

Bmp Reduce(TBitmap& b, TColorReduction m, TPixelFormat f = TPixelFormat::pf8bit) {
    auto s = BitmapToMemoryStream(b, f, m);
    EXPECT_EQ(s->Position(), 0);
    return Bmp(s->Bytes());
}

COLORREF Gradient(int x, int y) { return RGB(x * 7 % 256, y * 11 % 256, (x * y) % 256); }

TEST(ColorReduction, FixedPalettesMapPixelsByTheirFormulas) {
    auto b = Synthetic(5, 3, [](int x, int y) {
        static const COLORREF c[3][5] = {
            {RGB(200, 100, 50), RGB(255, 255, 255), RGB(0, 0, 255), RGB(0, 0, 0), RGB(128, 128, 128)},
            {RGB(10, 20, 30), RGB(250, 3, 90), RGB(43, 42, 170), RGB(1, 2, 3), RGB(64, 128, 192)},
            {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255), RGB(7, 77, 177)}};
        return c[y][x];
    });
    const Bmp s666 = Reduce(*b, TColorReduction::rm666);
    EXPECT_EQ(s666.Index(0, 0), 4 * 36 + 2 * 6 + 1);
    EXPECT_EQ(s666.ih.biClrImportant, 216u);
    EXPECT_EQ(s666.ih.biClrUsed, 0u);
    EXPECT_EQ(s666.ih.biBitCount, 8);
    EXPECT_EQ(s666.Color(216).rgbReserved, 128) << "entries past the cube are grey with 128 reserved";
    const Bmp grey = Reduce(*b, TColorReduction::rmGrayScale);
    EXPECT_EQ(grey.Index(1, 0), 255);
    EXPECT_EQ(grey.Index(2, 0), 28);
    EXPECT_EQ(grey.ih.biClrImportant, 0u);
    const Bmp t784 = Reduce(*b, TColorReduction::rm784);
    EXPECT_EQ(t784.ih.biClrImportant, 224u);
    // (200, 100, 50): nearest of 7 levels 5 (213), of 8 levels 3 (109), of 4 levels 1 (85).
    EXPECT_EQ(t784.Index(0, 0), 5 * 32 + 3 * 4 + 1);
    EXPECT_EQ(t784.Pixel(0, 0), RGB(213, 109, 85));
    const Bmp triple = Reduce(*b, TColorReduction::rmTriple);
    // The file rows are bottom-up: the top row (y = 0) is row 2 of the pixel data.
    EXPECT_EQ(triple.Index(0, 2), 255 >> 2) << "row 0, column 0: red";
    EXPECT_EQ(triple.Index(1, 2), (255 >> 2) | 0x40) << "column 1: green";
    EXPECT_EQ(triple.Index(2, 2), (255 >> 2) | 0x80) << "column 2: blue";
    EXPECT_EQ(triple.Color(64).rgbRed, 0) << "the 65th step wraps to 0";
    EXPECT_EQ(triple.Color(64).rgbGreen, 0);
    EXPECT_EQ(triple.Color(65).rgbGreen, 4);
    // Every file is complete: sizes and offsets add up.
    for (const Bmp* f : {&s666, &grey, &t784, &triple}) {
        EXPECT_EQ(f->fh.bfType, 0x4D42);
        EXPECT_EQ(f->fh.bfOffBits, 14u + 40 + 1024);
        EXPECT_EQ(f->fh.bfSize, f->bytes.size());
        EXPECT_EQ(f->ih.biSizeImage, 8u * 3);
    }
}

TEST(ColorReduction, HistogramKeepsFewColoursExactlyAndOrdersThemByFrequency) {
    const COLORREF colours[] = {RGB(1, 2, 3), RGB(250, 10, 10), RGB(10, 250, 10), RGB(77, 66, 55)};
    auto b = Synthetic(13, 7, [&](int x, int y) { return colours[(x + 2 * y) % 7 < 4 ? 0 : 1 + (x % 3)]; });
    const Bmp r = Reduce(*b, TColorReduction::rmHistogram);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) ASSERT_EQ(r.Pixel(x, y), b->Canvas().Pixel(x, y)) << x << "," << y;
    EXPECT_EQ(r.Pixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(r.Index(0, 0), 0) << "the most frequent colour comes first";
    const RGBQUAD rest = r.Color(10);
    EXPECT_TRUE(rest.rgbRed == 128 && rest.rgbGreen == 128 && rest.rgbBlue == 128);
    EXPECT_EQ(r.ih.biClrImportant, 0u);
}

TEST(ColorReduction, MedianCutReportsTheBoxesItMade) {
    // Three colours in three distinct cells: three boxes, each exact to its cell.
    auto few = Synthetic(9, 4, [](int x, int) { return x < 3 ? RGB(0, 0, 0) : x < 6 ? RGB(255, 255, 255) : RGB(255, 0, 0); });
    const Bmp r = Reduce(*few, TColorReduction::rmMedianCut);
    EXPECT_EQ(r.ih.biClrImportant, 3u);
    EXPECT_EQ(r.Pixel(0, 0), RGB(0, 0, 0)) << "a box whose mean is 16 or less in every channel is black";
    EXPECT_EQ(r.Pixel(4, 1), RGB(255, 255, 255));
    EXPECT_EQ(r.Pixel(8, 3), RGB(255, 15, 15));
    std::set<int> used;
    auto many = Synthetic(64, 64, Gradient);
    const Bmp m = Reduce(*many, TColorReduction::rmMedianCut);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) used.insert(m.Index(x, y));
    EXPECT_EQ(m.ih.biClrImportant, 256u);
    EXPECT_EQ(used.size(), 256u) << "every box holds pixels";
}

TEST(ColorReduction, SameFormatCopiesUnlessGreyIsAsked) {
    auto src = Synthetic(6, 5, Gradient);
    const Bmp eight = Reduce(*src, TColorReduction::rmHistogram);
    TMemoryStream ms;
    ms.WriteBuffer(eight.bytes.data(), static_cast<int64_t>(eight.bytes.size()));
    ms.SetPosition(0);
    TBitmap b8;
    b8.LoadFromStream(ms);
    ASSERT_EQ(b8.PixelFormat(), TPixelFormat::pf8bit);
    TMemoryStream own;
    b8.SaveToStream(own);
    EXPECT_EQ(BitmapToMemoryStream(b8, TPixelFormat::pf8bit, TColorReduction::rmHistogram)->Bytes(), own.Bytes());
    const Bmp grey = Reduce(b8, TColorReduction::rmGrayScale);
    EXPECT_NE(grey.bytes, own.Bytes());
    EXPECT_EQ(grey.Color(200).rgbRed, 200);
    const COLORREF p = b8.Canvas().Pixel(3, 2);
    EXPECT_EQ(grey.Index(3, 2), (GetRValue(p) * 77 + GetGValue(p) * 150 + GetBValue(p) * 29) >> 8);
}

TEST(ColorReduction, OtherFormatsAndColourCounts) {
    auto src = Synthetic(10, 3, [](int x, int) { return x < 5 ? RGB(0, 0, 0) : RGB(255, 255, 255); });
    struct Case {
        int colours;
        int bits;
    } cases[] = {{2, 1}, {16, 4}, {17, 8}, {256, 8}, {257, 24}};
    for (const auto& c : cases) {
        auto s = BitmapToMemoryStreamByColours(*src, c.colours);
        const Bmp b(s->Bytes());
        EXPECT_EQ(b.ih.biBitCount, c.bits) << c.colours;
        EXPECT_EQ(b.fh.bfSize, s->Bytes().size()) << c.colours;
        TBitmap back;
        back.LoadFromStream(*s);
        EXPECT_EQ(back.Canvas().Pixel(1, 1), RGB(0, 0, 0)) << c.colours;
        EXPECT_EQ(back.Canvas().Pixel(8, 2), RGB(255, 255, 255)) << c.colours;
    }
    TBitmap none;
    try {
        BitmapToMemoryStream(none, TPixelFormat::pf8bit, TColorReduction::rmHistogram);
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Image bitmap incorrecte");
    }
    EXPECT_THROW(CreatePackedDIB(nullptr, nullptr, TPixelFormat::pf24bit), EInvalidGraphic);
    try {
        BitmapToMemoryStream(*src, TPixelFormat::pf32bit, TColorReduction::rmHistogram);
        ADD_FAILURE();
    } catch (const EUxException& e) {
        EXPECT_STREQ(e.what(), "BitmapToMemoryStream: pixel format not implemented");
    }
}

TEST(ColorReduction, InfoHeaderOfDibSectionsAndDeviceBitmaps) {
    // A DIB section's header sits after the 64-bit BITMAP record; a device bitmap has none.
    TBitmap dib(21, 9, TPixelFormat::pf24bit);
    BITMAPINFOHEADER h;
    InitializeBitmapInfoHeader(dib.Handle(), h, TPixelFormat::pf4bit);
    EXPECT_EQ(h.biWidth, 21);
    EXPECT_EQ(h.biHeight, 9);
    EXPECT_EQ(h.biBitCount, 4);
    EXPECT_EQ(h.biClrUsed, 16u);
    EXPECT_EQ(h.biSizeImage, 12u * 9);
    HDC screen = GetDC(nullptr);
    TGdiObject ddb(CreateCompatibleBitmap(screen, 30, 4));
    ReleaseDC(nullptr, screen);
    InitializeBitmapInfoHeader(static_cast<HBITMAP>(ddb.get()), h, TPixelFormat::pf8bit);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 30);
    EXPECT_EQ(h.biHeight, 4);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biClrUsed, 256u);
    EXPECT_EQ(h.biSizeImage, 32u * 4);
    HGLOBAL g = CreatePackedDIB(static_cast<HBITMAP>(ddb.get()), nullptr, TPixelFormat::pf24bit);
    ASSERT_TRUE(g);
    EXPECT_EQ(GlobalSize(g), 14u + 40 + 92 * 4) << "rows of 90 bytes padded to 92";
    EXPECT_TRUE(GlobalFlags(g) != GMEM_INVALID_HANDLE);
    GlobalFree(g);
}

// 16 and 32-bit DIB sections with bit-field masks (as screen captures and many loaders
// make them) reduce to every smaller format with their colours.
TEST(ColorReduction, BitFieldSectionsReduceToEveryFormat) {
    const COLORREF colours[] = {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
    struct {
        int bits;
        DWORD masks[3];
    } sources[] = {{16, {0xF800, 0x07E0, 0x001F}}, {16, {0x7C00, 0x03E0, 0x001F}}, {32, {0xFF0000, 0x00FF00, 0x0000FF}}};
    for (const auto& src : sources) {
        struct {
            BITMAPINFOHEADER h;
            DWORD masks[3];
        } bi{};
        bi.h = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 10, 4, 1, static_cast<WORD>(src.bits), BI_BITFIELDS, 0, 0, 0, 0, 0};
        std::memcpy(bi.masks, src.masks, sizeof bi.masks);
        void* pixels = nullptr;
        TBitmap b;
        b.SetHandle(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &pixels, nullptr, 0));
        ASSERT_FALSE(b.Empty()) << src.bits;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 10; ++x) b.Canvas().SetPixel(x, y, static_cast<TColor>(colours[(x + y) % 5]));
        for (TPixelFormat f : {TPixelFormat::pf24bit, TPixelFormat::pf8bit, TPixelFormat::pf4bit}) {
            std::unique_ptr<TMemoryStream> s;
            try {
                s = BitmapToMemoryStream(b, f, TColorReduction::rmHistogram);
            } catch (const framework::Exception& e) {
                ADD_FAILURE() << src.bits << " bits, mask " << std::hex << src.masks[0] << ", to format "
                              << static_cast<int>(f) << ": " << e.Message();
                continue;
            }
            const Bmp out(s->Bytes());
            EXPECT_EQ(out.ih.biCompression, static_cast<DWORD>(BI_RGB));
            TBitmap back;
            back.LoadFromStream(*s);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 10; ++x)
                    EXPECT_EQ(back.Canvas().Pixel(x, y), colours[(x + y) % 5])
                        << src.bits << " bits to format " << static_cast<int>(f) << " at " << x << "," << y;
        }
    }
}

// The source and every reduction go to the output folder; the CTest step that follows
// recomputes them from the formulas in python.
TEST(ColorReduction, WritesFilesForTheIndependentCheck) {
    auto small = Synthetic(37, 23, Gradient);
    // Over 2049 distinct colours, so the histogram drops mask bits.
    auto large = Synthetic(97, 61, [](int x, int y) { return RGB((x * 37 + y * 3) % 256, (y * 53 + x) % 256, (x ^ y) * 5 % 256); });
    const char* names[] = {"histogram", "mediancut", "784", "666", "triple", "grey"};
    for (auto [b, tag] : {std::pair<TBitmap*, const char*>{small.get(), "small"}, std::pair<TBitmap*, const char*>{large.get(), "large"}}) {
        b->SaveToFile(picturefiles::Output(std::string("reduce-") + tag + ".bmp"));
        for (int m = 0; m < 6; ++m) {
            auto s = BitmapToMemoryStream(*b, TPixelFormat::pf8bit, static_cast<TColorReduction>(m));
            ASSERT_TRUE(s->SaveToFile(picturefiles::Output(std::string("reduce-") + tag + "-" + names[m] + ".bmp")));
        }
    }
}

}  // namespace
