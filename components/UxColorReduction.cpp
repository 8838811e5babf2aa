#include "components/UxColorReduction.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "components/UxUtils.h"

using namespace framework;

TColorReduction DefaultColorReduction = TColorReduction::rmHistogram;

namespace {

int BitsOfFormat(TPixelFormat f) {
    switch (f) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf24bit: return 24;
        default: return 0;
    }
}

int64_t RowBytes(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

// Bytes of the info header with its colour table (or bit-field masks).
int InfoSize(int bits, DWORD compression) {
    if (bits <= 8) return 40 + 4 * (1 << bits);
    return compression == BI_BITFIELDS ? 52 : 40;
}

// The levels of the truncation methods, and for each the nearest level of every byte value
// (ties go to the lower level), built once.
constexpr uint8_t kScale4[] = {0, 85, 170, 255};
constexpr uint8_t kScale6[] = {0, 51, 102, 153, 204, 255};
constexpr uint8_t kScale7[] = {0, 43, 85, 128, 170, 213, 255};
constexpr uint8_t kScale8[] = {0, 36, 73, 109, 146, 182, 219, 255};

template <size_t N>
const std::array<uint8_t, 256>& Nearest(const uint8_t (&scale)[N]) {
    static const std::array<uint8_t, 256> table = [&] {
        std::array<uint8_t, 256> t{};
        for (int v = 0; v < 256; ++v) {
            size_t best = 0;
            for (size_t i = 1; i < N; ++i)
                if (std::abs(v - scale[i]) < std::abs(v - scale[best])) best = i;
            t[v] = static_cast<uint8_t>(best);
        }
        return t;
    }();
    return table;
}

const RGBQUAD kFiller{128, 128, 128, 128};

// Walks the 24-bit rows and writes one index per pixel into the 8-bit rows in place (the
// 8-bit row never starts or runs past the 24-bit row it comes from).
template <typename F>
void MapPixels(uint8_t* pixels, int width, int height, F index) {
    const int64_t in = RowBytes(width, 24), out = RowBytes(width, 8);
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = pixels + y * in;
        uint8_t* dst = pixels + y * out;
        for (int x = 0; x < width; ++x) {
            const uint8_t b = src[3 * x], g = src[3 * x + 1], r = src[3 * x + 2];
            dst[x] = index(r, g, b, x, y);
        }
        std::fill(dst + width, dst + out, uint8_t{0});
    }
}

void Truncate666(uint8_t* pixels, int w, int h, RGBQUAD (&t)[256]) {
    std::fill(std::begin(t), std::end(t), kFiller);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) t[r * 36 + g * 6 + b] = RGBQUAD{kScale6[b], kScale6[g], kScale6[r], 0};
    const auto& n6 = Nearest(kScale6);
    MapPixels(pixels, w, h, [&](uint8_t r, uint8_t g, uint8_t b, int, int) {
        return static_cast<uint8_t>(n6[r] * 36 + n6[g] * 6 + n6[b]);
    });
}

void Truncate784(uint8_t* pixels, int w, int h, RGBQUAD (&t)[256]) {
    std::fill(std::begin(t), std::end(t), kFiller);
    for (int r = 0; r < 7; ++r)
        for (int g = 0; g < 8; ++g)
            for (int b = 0; b < 4; ++b) t[r * 32 + g * 4 + b] = RGBQUAD{kScale4[b], kScale8[g], kScale7[r], 0};
    const auto &n7 = Nearest(kScale7), &n8 = Nearest(kScale8), &n4 = Nearest(kScale4);
    MapPixels(pixels, w, h, [&](uint8_t r, uint8_t g, uint8_t b, int, int) {
        return static_cast<uint8_t>(n7[r] * 32 + n8[g] * 4 + n4[b]);
    });
}

void GrayScale(uint8_t* pixels, int w, int h, RGBQUAD (&t)[256]) {
    for (int i = 0; i < 256; ++i) t[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    MapPixels(pixels, w, h, [](uint8_t r, uint8_t g, uint8_t b, int, int) {
        return static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
    });
}

// Three ramps of 65 steps; each pixel shows one of its channels, by its position.
void Triple(uint8_t* pixels, int w, int h, RGBQUAD (&t)[256]) {
    std::memset(t, 0, sizeof t);
    for (int k = 0; k <= 64; ++k) {
        const BYTE v = static_cast<BYTE>(4 * k);  // the 65th step wraps to 0
        t[k].rgbRed = v;
        t[64 + k].rgbGreen = v;
        t[128 + k].rgbBlue = v;
    }
    MapPixels(pixels, w, h, [](uint8_t r, uint8_t g, uint8_t b, int x, int y) {
        switch ((x + y) % 3) {
            case 0: return static_cast<uint8_t>(r >> 2);
            case 1: return static_cast<uint8_t>((g >> 2) | 0x40);
            default: return static_cast<uint8_t>((b >> 2) | 0x80);
        }
    });
}

// ---- histogram ----

constexpr int kHashSlots = 5191;
constexpr int kMaxColors = 2049;

struct HistEntry {
    uint8_t r, g, b;
    uint32_t count;
    int index;  // palette index
};

struct Histogram {
    uint8_t mr = 0xFF, mg = 0xFF, mb = 0xFF;
    std::vector<int> slots = std::vector<int>(kHashSlots, -1);
    std::vector<HistEntry> entries;

    static int Hash(int r, int g, int b) {
        return static_cast<int>((static_cast<int64_t>(r + g) * (b + g) * (r + b)) % kHashSlots);
    }
    // The slot of the colour, or of the empty slot where it belongs.
    int Find(uint8_t r, uint8_t g, uint8_t b) const {
        int s = Hash(r, g, b);
        while (slots[s] >= 0) {
            const HistEntry& e = entries[slots[s]];
            if (e.r == r && e.g == g && e.b == b) return s;
            s = s == kHashSlots - 1 ? 0 : s + 1;
        }
        return s;
    }
    // False when a further distinct colour would exceed the table.
    bool Count(const uint8_t* pixels, int w, int h) {
        std::fill(slots.begin(), slots.end(), -1);
        entries.clear();
        const int64_t stride = RowBytes(w, 24);
        for (int y = 0; y < h; ++y) {
            const uint8_t* p = pixels + y * stride;
            for (int x = 0; x < w; ++x, p += 3) {
                const uint8_t b = p[0] & mb, g = p[1] & mg, r = p[2] & mr;
                const int s = Find(r, g, b);
                if (slots[s] >= 0) {
                    ++entries[slots[s]].count;
                    continue;
                }
                if (static_cast<int>(entries.size()) == kMaxColors) return false;
                slots[s] = static_cast<int>(entries.size());
                entries.push_back({r, g, b, 1, -1});
            }
        }
        return true;
    }
    void DropBit() {
        if (mr < mg) mg = static_cast<uint8_t>(mg << 1);
        else if (mb < mr) mr = static_cast<uint8_t>(mr << 1);
        else mb = static_cast<uint8_t>(mb << 1);
    }
};

void ReduceHistogram(uint8_t* pixels, int w, int h, RGBQUAD (&t)[256], int wanted) {
    Histogram hist;
    while (!hist.Count(pixels, w, h)) hist.DropBit();
    std::fill(std::begin(t), std::end(t), kFiller);
    int chosen = 0;
    while (chosen < wanted) {
        int best = -1;
        for (int i = 0; i < static_cast<int>(hist.entries.size()); ++i)
            if (hist.entries[i].count > 0 && (best < 0 || hist.entries[i].count > hist.entries[best].count)) best = i;
        if (best < 0) break;
        HistEntry& e = hist.entries[best];
        e.count = 0;
        e.index = chosen;
        t[chosen++] = RGBQUAD{e.b, e.g, e.r, 0};
    }
    for (HistEntry& e : hist.entries) {
        if (e.index >= 0) continue;
        int64_t bestDist = -1;
        for (int i = 0; i < chosen; ++i) {
            const int64_t dr = e.r - t[i].rgbRed, dg = e.g - t[i].rgbGreen, db = e.b - t[i].rgbBlue;
            const int64_t d = dr * dr + dg * dg + db * db;
            if (bestDist < 0 || d < bestDist) bestDist = d, e.index = i;
        }
    }
    MapPixels(pixels, w, h, [&](uint8_t r, uint8_t g, uint8_t b, int, int) {
        const int s = hist.Find(r & hist.mr, g & hist.mg, b & hist.mb);
        return static_cast<uint8_t>(std::max(0, hist.entries[hist.slots[s]].index));
    });
}

// ---- median cut ----

struct Box {
    int lower[3] = {0, 0, 0};
    int extent[3] = {255, 255, 255};
    int colors = 0;
    int64_t pixels = 0;
    std::vector<uint16_t> cells;
};

int CellChannel(uint16_t cell, int channel) { return (cell >> (8 - 4 * channel)) & 15; }

int ReduceMedianCut(uint8_t* pixels, int w, int h, RGBQUAD (&t)[256], int wanted) {
    std::vector<uint32_t> counts(4096, 0);
    std::vector<uint16_t> pixelCell(static_cast<size_t>(w) * h);
    const int64_t stride = RowBytes(w, 24);
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = pixels + y * stride;
        for (int x = 0; x < w; ++x, p += 3) {
            const uint16_t cell = static_cast<uint16_t>((p[2] >> 4) * 256 + (p[1] >> 4) * 16 + (p[0] >> 4));
            ++counts[cell];
            pixelCell[static_cast<size_t>(y) * w + x] = cell;
        }
    }
    std::vector<Box> boxes(1);
    for (int c = 0; c < 4096; ++c)
        if (counts[c]) boxes[0].cells.push_back(static_cast<uint16_t>(c));
    boxes[0].colors = static_cast<int>(boxes[0].cells.size());
    boxes[0].pixels = static_cast<int64_t>(w) * h;
    while (static_cast<int>(boxes.size()) < wanted) {
        int bi = -1, ch = 0, most = -1;
        for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
            if (boxes[i].colors <= 1) continue;
            for (int c = 0; c < 3; ++c)
                if (boxes[i].extent[c] > most) most = boxes[i].extent[c], bi = i, ch = c;
        }
        if (bi < 0) break;
        Box& box = boxes[bi];
        std::stable_sort(box.cells.begin(), box.cells.end(),
                         [ch](uint16_t a, uint16_t b) { return CellChannel(a, ch) < CellChannel(b, ch); });
        const size_t n = box.cells.size();
        size_t kept = 1;
        int64_t remainder = box.pixels / 2 - counts[box.cells[0]] - counts[box.cells[1]];
        while (remainder >= 0 && n - kept >= 2) {
            ++kept;
            remainder -= counts[box.cells[kept]];
        }
        Box fresh;
        std::copy(std::begin(box.lower), std::end(box.lower), fresh.lower);
        std::copy(std::begin(box.extent), std::end(box.extent), fresh.extent);
        fresh.cells.assign(box.cells.begin() + static_cast<ptrdiff_t>(kept), box.cells.end());
        box.cells.resize(kept);
        for (Box* b : {&box, &fresh}) {
            b->colors = static_cast<int>(b->cells.size());
            b->pixels = 0;
            for (uint16_t c : b->cells) b->pixels += counts[c];
        }
        const int newLower = 16 * CellChannel(fresh.cells.front(), ch);
        fresh.extent[ch] -= newLower - fresh.lower[ch];
        fresh.lower[ch] = newLower;
        box.extent[ch] = 16 * CellChannel(box.cells.back(), ch) - box.lower[ch];
        boxes.push_back(std::move(fresh));
    }
    std::memset(t, 0, sizeof t);
    std::vector<uint8_t> cellBox(4096, 0);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& b = boxes[i];
        int mean[3] = {0, 0, 0};
        if (b.colors > 0) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (uint16_t cell : b.cells) sum += CellChannel(cell, c) * 16 + 15;
                mean[c] = sum / b.colors;
            }
        }
        if (mean[0] <= 16 && mean[1] <= 16 && mean[2] <= 16) mean[0] = mean[1] = mean[2] = 0;
        t[i] = RGBQUAD{static_cast<BYTE>(mean[2]), static_cast<BYTE>(mean[1]), static_cast<BYTE>(mean[0]), 0};
        for (uint16_t cell : b.cells) cellBox[cell] = static_cast<uint8_t>(i);
    }
    MapPixels(pixels, w, h, [&](uint8_t, uint8_t, uint8_t, int x, int y) {
        return cellBox[pixelCell[static_cast<size_t>(y) * w + x]];
    });
    return static_cast<int>(boxes.size());
}

// Owns a global block and its lock.
class GlobalBlock {
public:
    explicit GlobalBlock(HGLOBAL g) : g_(g) {}
    ~GlobalBlock() { if (g_) GlobalFree(g_); }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL release() { HGLOBAL g = g_; g_ = nullptr; return g; }
    HGLOBAL get() const { return g_; }

private:
    HGLOBAL g_;
};

class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL g) : g_(g), p_(static_cast<uint8_t*>(GlobalLock(g))) {
        if (!p_) throw EOutOfResources();
    }
    ~GlobalLockGuard() { GlobalUnlock(g_); }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    uint8_t* get() const { return p_; }

private:
    HGLOBAL g_;
    uint8_t* p_;
};

}  // namespace

int ColorsOfPixelFormat(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 2;
        case TPixelFormat::pf4bit: return 16;
        case TPixelFormat::pf8bit: return 256;
        default: return 0;
    }
}

void InitializeBitmapInfoHeader(HBITMAP bitmap, BITMAPINFOHEADER& header, TPixelFormat format) {
    DIBSECTION ds{};
    const int got = GetObjectA(bitmap, sizeof ds, &ds);
    // The header follows the BITMAP member, whose size depends on the pointer size.
    if (got < static_cast<int>(offsetof(DIBSECTION, dsBmih) + sizeof(BITMAPINFOHEADER)) ||
        ds.dsBmih.biSize < sizeof(BITMAPINFOHEADER)) {
        ds.dsBmih = BITMAPINFOHEADER{};
        ds.dsBmih.biWidth = ds.dsBm.bmWidth;
        ds.dsBmih.biHeight = ds.dsBm.bmHeight;
    }
    header = ds.dsBmih;
    header.biSize = sizeof(BITMAPINFOHEADER);
    int bits = BitsOfFormat(format);
    if (!bits) bits = ds.dsBm.bmPlanes * ds.dsBm.bmBitsPixel;
    header.biBitCount = static_cast<WORD>(bits);
    header.biPlanes = 1;
    header.biSizeImage = static_cast<DWORD>(RowBytes(header.biWidth, bits) * std::abs(header.biHeight));
    header.biClrUsed = 0;
    header.biClrImportant = 0;
    if (bits <= 8 && header.biClrUsed == 0) header.biClrUsed = 1u << bits;
}

HGLOBAL CreatePackedDIB(HBITMAP bitmap, HPALETTE palette, TPixelFormat format) {
    if (!bitmap) throw EInvalidGraphic("Image bitmap incorrecte");
    BITMAPINFOHEADER ih;
    InitializeBitmapInfoHeader(bitmap, ih, format);
    // The header came from the source, whose compression may be bit fields (16 and 32-bit
    // sections); the rows asked for here are always plain RGB.
    ih.biCompression = BI_RGB;
    const int info = InfoSize(ih.biBitCount, ih.biCompression);
    const SIZE_T total = sizeof(BITMAPFILEHEADER) + info + ih.biSizeImage;
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, total));
    if (!block.get()) throw EOutOfResources();
    {
        GlobalLockGuard lock(block.get());
        uint8_t* p = lock.get();
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfSize = static_cast<DWORD>(total);
        fh.bfOffBits = static_cast<DWORD>(sizeof fh + info);
        std::memcpy(p, &fh, sizeof fh);
        auto* bi = reinterpret_cast<BITMAPINFO*>(p + sizeof fh);
        bi->bmiHeader = ih;
        TMemoryDC dc = CreateMemoryDC();
        UniqueWindowDC screen;
        HDC work = dc.get() ? dc.get() : screen.get();
        HPALETTE old = nullptr;
        if (palette) {
            old = SelectPalette(work, palette, FALSE);
            RealizePalette(work);
        }
        const int lines = GetDIBits(work, bitmap, 0, static_cast<UINT>(std::abs(ih.biHeight)), p + fh.bfOffBits, bi,
                                    DIB_RGB_COLORS);
        if (palette) SelectPalette(work, old, FALSE);
        if (!lines) throw EInvalidGraphic("Image bitmap incorrecte");
        // GetDIBits may rewrite the header; the file keeps the layout computed above.
        bi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi->bmiHeader.biSizeImage = ih.biSizeImage;
        if (ih.biBitCount <= 8) bi->bmiHeader.biClrUsed = 1u << ih.biBitCount;
    }
    return block.release();
}

uint32_t ReducePixelsTo8Bit(uint8_t* pixels, int width, int height, RGBQUAD (&table)[256], TColorReduction method) {
    switch (method) {
        case TColorReduction::rmHistogram: ReduceHistogram(pixels, width, height, table, 256); return 0;
        case TColorReduction::rmMedianCut:
            return static_cast<uint32_t>(ReduceMedianCut(pixels, width, height, table, 256));
        case TColorReduction::rm784: Truncate784(pixels, width, height, table); return 224;
        case TColorReduction::rm666: Truncate666(pixels, width, height, table); return 216;
        case TColorReduction::rmTriple: Triple(pixels, width, height, table); return 0;
        case TColorReduction::rmGrayScale: GrayScale(pixels, width, height, table); return 0;
    }
    return 0;
}

std::unique_ptr<TMemoryStream> BitmapToMemoryStream(TBitmap& bitmap, TPixelFormat format, TColorReduction method) {
    if (!bitmap.Handle()) throw EInvalidGraphic("Image bitmap incorrecte");
    auto stream = std::make_unique<TMemoryStream>();
    if (bitmap.PixelFormat() == format && method != TColorReduction::rmGrayScale) {
        bitmap.SaveToStream(*stream);
        stream->SetPosition(0);
        return stream;
    }
    switch (format) {
        case TPixelFormat::pf1bit:
        case TPixelFormat::pf4bit:
        case TPixelFormat::pf24bit: {
            GlobalBlock block(CreatePackedDIB(bitmap.Handle(), bitmap.Palette(), format));
            GlobalLockGuard lock(block.get());
            stream->WriteBuffer(lock.get(), static_cast<int64_t>(GlobalSize(block.get())));
            break;
        }
        case TPixelFormat::pf8bit: {
            GlobalBlock block(CreatePackedDIB(bitmap.Handle(), bitmap.Palette(), TPixelFormat::pf24bit));
            GlobalLockGuard lock(block.get());
            uint8_t* p = lock.get();
            BITMAPINFOHEADER ih;
            std::memcpy(&ih, p + sizeof(BITMAPFILEHEADER), sizeof ih);
            if (ih.biBitCount != 24) throw EUxException("BitmapToMemoryStream: bit count not implemented");
            const int w = ih.biWidth, h = std::abs(ih.biHeight);
            uint8_t* pixels = p + sizeof(BITMAPFILEHEADER) + InfoSize(24, BI_RGB);
            RGBQUAD table[256];
            const uint32_t important = ReducePixelsTo8Bit(pixels, w, h, table, method);
            BITMAPINFOHEADER oh = ih;
            oh.biBitCount = 8;
            oh.biCompression = BI_RGB;
            oh.biSizeImage = static_cast<DWORD>(RowBytes(w, 8) * h);
            oh.biClrUsed = 0;
            oh.biClrImportant = important;
            const int info = InfoSize(8, BI_RGB);
            BITMAPFILEHEADER fh{};
            fh.bfType = 0x4D42;
            fh.bfOffBits = static_cast<DWORD>(sizeof fh + info);
            fh.bfSize = fh.bfOffBits + oh.biSizeImage;
            stream->WriteBuffer(&fh, sizeof fh);
            stream->WriteBuffer(&oh, sizeof oh);
            stream->WriteBuffer(table, sizeof table);
            stream->WriteBuffer(pixels, oh.biSizeImage);
            break;
        }
        default: throw EUxException("BitmapToMemoryStream: pixel format not implemented");
    }
    stream->SetPosition(0);
    return stream;
}

std::unique_ptr<TMemoryStream> BitmapToMemoryStreamByColours(TBitmap& bitmap, int colours) {
    TPixelFormat f = TPixelFormat::pf8bit;
    if (colours <= 2) f = TPixelFormat::pf1bit;
    else if (colours <= 16) f = TPixelFormat::pf4bit;
    else if (colours > 256) f = TPixelFormat::pf24bit;
    return BitmapToMemoryStream(bitmap, f, DefaultColorReduction);
}
