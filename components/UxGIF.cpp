#include "components/UxGIF.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "components/UxAni.h"
#include "components/UxColorReduction.h"
#include "components/UxUtils.h"

using namespace framework;

bool GIFTolerantDecoding = true;

namespace {

const char kReadError[] = "Erreur de lecture du flux";
[[noreturn]] void ReadError() { throw EStreamError(kReadError); }
[[noreturn]] void Corrupt() { throw EInvalidGraphic("GIF encoded data is corrupt"); }

const char* const kVersionText[] = {"\0\0\0", "87a", "89a"};
const uint8_t kLabels[] = {0xF9, 0x01, 0xFF, 0xFE};  // by TGIFExtensionType
const char* const kLoopIds[] = {"NETSCAPE2.0", "ANIMEXTS1.0"};

// A decoded frame may cover at most this many pixels without further thought; beyond it
// the codes must be able to fill the area. A code of w bits names an entry below 2^w,
// whose string is shorter than 2^w values, and 2^w / w grows with w: 4096 values per 12
// bits is the most any code data can give.
constexpr int64_t kFreeArea = int64_t{1} << 20;

int BitsForCount(int count) {
    int bits = 1;
    while ((1 << bits) < count && bits < 8) ++bits;
    return bits;
}

// The DIB bit count that holds a GIF depth.
int DibBits(int bits) {
    if (bits == 1) return 1;
    if (bits >= 2 && bits <= 4) return 4;
    if (bits >= 5 && bits <= 8) return 8;
    throw EInvalidGraphic("Wrong number of colors; must be a power of 2");
}

// Bounded reading of the in-memory file.
struct Reader {
    const std::string& d;
    size_t pos = 0;
    size_t Left() const { return d.size() - pos; }
    uint8_t Byte() {
        if (pos >= d.size()) ReadError();
        return static_cast<uint8_t>(d[pos++]);
    }
    uint16_t Word() {
        const uint8_t lo = Byte();
        return static_cast<uint16_t>(lo | Byte() << 8);
    }
    std::string Bytes(size_t n) {
        if (n > Left()) ReadError();
        std::string s = d.substr(pos, n);
        pos += n;
        return s;
    }
    // The next non-zero byte, 0 at the end of the data.
    uint8_t NextNonZero() {
        while (pos < d.size()) {
            const uint8_t b = static_cast<uint8_t>(d[pos++]);
            if (b) return b;
        }
        return 0;
    }
    // Data sub-blocks up to a zero size or the end of the data.
    std::vector<std::string> SubBlocks() {
        std::vector<std::string> blocks;
        while (pos < d.size()) {
            const size_t n = static_cast<uint8_t>(d[pos++]);
            if (n == 0) break;
            const size_t take = std::min(n, Left());
            blocks.push_back(d.substr(pos, take));
            pos += take;
        }
        return blocks;
    }
};

void PutWord(std::string& out, int v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void PutTable(std::string& out, const TGIFColorTable& t, int bits) {
    for (int i = 0; i < (1 << bits); ++i)
        for (int c = 0; c < 3; ++c) out.push_back(static_cast<char>(i < t.Count ? t.Entries[i][c] : 0));
}

void PutSubBlocks(std::string& out, const std::string& text) {
    for (size_t at = 0; at < text.size(); at += 255) {
        const size_t n = std::min<size_t>(255, text.size() - at);
        out.push_back(static_cast<char>(n));
        out.append(text, at, n);
    }
}

void ReadTable(Reader& r, TGIFColorTable& t, int count) {
    const std::string bytes = r.Bytes(static_cast<size_t>(count) * 3);
    t.Count = count;
    std::memcpy(t.Entries, bytes.data(), bytes.size());
}

// ---- LZW ----

// Codes packed LSB first into sub-blocks of 255 bytes.
class CodeWriter {
public:
    explicit CodeWriter(std::string& out) : out_(out) {}
    void Put(int code, int width) {
        acc_ |= static_cast<uint32_t>(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            Byte(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            bits_ -= 8;
        }
    }
    void Finish() {
        if (bits_ > 0) Byte(static_cast<uint8_t>(acc_));
        acc_ = 0, bits_ = 0;
        Flush();
        out_.push_back('\0');
    }

private:
    void Byte(uint8_t b) {
        block_[n_++] = b;
        if (n_ == 255) Flush();
    }
    void Flush() {
        if (!n_) return;
        out_.push_back(static_cast<char>(n_));
        out_.append(reinterpret_cast<const char*>(block_), n_);
        n_ = 0;
    }
    std::string& out_;
    uint32_t acc_ = 0;
    int bits_ = 0;
    uint8_t block_[255];
    int n_ = 0;
};

constexpr int kHashSize = 17777;

}  // namespace

void LzwEncode(const std::vector<uint8_t>& px, int bpp, std::string& out) {
    const int initBits = bpp == 1 ? 3 : bpp + 1;
    out.push_back(static_cast<char>(initBits - 1));
    const int clear = 1 << (initBits - 1), end = clear + 1;
    int width = initBits, capacity = 1 << width, next = end + 1;
    std::vector<int32_t> slotPrefix(kHashSize, -1);
    std::vector<uint8_t> slotSuffix(kHashSize);
    std::vector<uint16_t> slotCode(kHashSize);
    CodeWriter w(out);
    w.Put(clear, width);
    if (!px.empty()) {
        int prefix = px[0];
        uint64_t hash = static_cast<uint64_t>(px[0]) * 301 + 903;
        uint64_t run = 1;
        for (size_t i = 1; i < px.size(); ++i) {
            const int p = px[i];
            hash = (p + run + 4) * hash % kHashSize;
            size_t s = static_cast<size_t>(hash);
            bool found = false;
            while (slotPrefix[s] >= 0) {
                if (slotPrefix[s] == prefix && slotSuffix[s] == p) {
                    found = true;
                    break;
                }
                s = s + 1 == kHashSize ? 0 : s + 1;
            }
            if (found) {
                prefix = slotCode[s];
                ++run;
                continue;
            }
            w.Put(prefix, width);
            if (next >= 4094) {
                // The table is full: start afresh.
                w.Put(clear, width);
                width = initBits, capacity = 1 << width, next = end + 1;
                std::fill(slotPrefix.begin(), slotPrefix.end(), -1);
            } else {
                slotPrefix[s] = prefix, slotSuffix[s] = static_cast<uint8_t>(p);
                slotCode[s] = static_cast<uint16_t>(next);
                const int added = next++;
                if (added == capacity) ++width, capacity <<= 1;
            }
            prefix = p;
            hash = static_cast<uint64_t>(p) * 301 + 903;
            run = 1;
        }
        w.Put(prefix, width);
    }
    w.Put(end, width);
    w.Finish();
}

TLzwDecoded LzwDecode(const std::string& raw, std::vector<uint8_t>& out, size_t count) {
    TLzwDecoded r;
    // Every string is written whole, so up to one string (at most 4096 values) may land
    // beyond count; copies also run in 8-byte steps.
    out.assign(count + 4096 + 16, 0);
    if (raw.empty() || count == 0) return r;
    int codeSize = static_cast<uint8_t>(raw[0]);
    if (codeSize < 2 || codeSize > 9) {
        r.Corrupt = true;
        codeSize = std::clamp(codeSize, 2, 9);
    }
    // The sub-blocks joined.
    std::string codes;
    codes.reserve(raw.size());
    for (size_t at = 1; at < raw.size();) {
        const size_t n = static_cast<uint8_t>(raw[at++]);
        if (n == 0) break;
        const size_t take = std::min(n, raw.size() - at);
        codes.append(raw, at, take);
        at += take;
    }
    const auto* in = reinterpret_cast<const uint8_t*>(codes.data());
    const size_t inSize = codes.size();

    // Each entry is a string already written: where it starts and how long it is. A new
    // entry is the previous string plus the first value of the next, which the output holds
    // right after the previous string, so it needs no chain walk. Single values point into
    // a table of their own, so every code is one copy.
    const int clear = 1 << codeSize, end = clear + 1;
    uint8_t literals[512 + 8];
    for (int i = 0; i < 512 + 8; ++i) literals[i] = static_cast<uint8_t>(i);
    std::vector<const uint8_t*> where(4096);
    std::vector<uint16_t> length(4096);
    for (int c = 0; c < clear; ++c) where[static_cast<size_t>(c)] = literals + c, length[static_cast<size_t>(c)] = 1;
    uint8_t* const o = out.data();
    int width = codeSize + 1, next = end + 1, old = -1;
    uint32_t mask = (1u << width) - 1;
    size_t oldAt = 0, pos = 0;
    int oldLength = 0;
    uint64_t acc = 0;
    int bits = 0;
    size_t at = 0;
    while (pos < count) {
        if (bits < width) {
            if (inSize - at >= 8) {
                // Eight bytes at once; the bits above the count are the bytes that follow,
                // so loading them again later ORs in the same values.
                uint64_t next8;
                std::memcpy(&next8, in + at, 8);
                acc |= next8 << bits;
                at += static_cast<size_t>((63 - bits) >> 3);
                bits |= 56;
            } else {
                while (bits <= 56 && at < inSize) {
                    acc |= static_cast<uint64_t>(in[at++]) << bits;
                    bits += 8;
                }
                if (bits < width) break;  // the data ran out
            }
        }
        const int code = static_cast<int>(acc & mask);
        acc >>= width;
        bits -= width;
        size_t len;
        if (code < next && code != clear && code != end) {
            len = length[static_cast<size_t>(code)];
            const uint8_t* from = where[static_cast<size_t>(code)];
            uint8_t* to = o + pos;
            // The source ends before pos, so steps past its end only copy values that are
            // overwritten later.
            for (size_t k = 0; k < len; k += 8) std::memcpy(to + k, from + k, 8);
        } else if (code == clear) {
            width = codeSize + 1, next = end + 1, old = -1;
            mask = (1u << width) - 1;
            continue;
        } else if (code == end) {
            r.Ended = true;
            break;
        } else if (old < 0 || code > next) {
            // A table code before any entry exists, or beyond the next free one.
            r.Corrupt = true;
            break;
        } else {
            // The entry being made: the previous string and its own first value.
            std::memcpy(o + pos, o + oldAt, static_cast<size_t>(oldLength));
            o[pos + static_cast<size_t>(oldLength)] = o[oldAt];
            len = static_cast<size_t>(oldLength) + 1;
        }
        if (old >= 0 && next < 4096) {
            where[static_cast<size_t>(next)] = o + oldAt;
            length[static_cast<size_t>(next)] = static_cast<uint16_t>(oldLength + 1);
            if (++next == (1 << width) && width < 12) {
                ++width;
                mask = (1u << width) - 1;
            }
        }
        old = code;
        oldAt = pos;
        oldLength = static_cast<int>(len);
        pos += len;
    }
    r.Pixels = std::min(pos, count);
    // What a string wrote beyond the last one kept is no pixel.
    std::fill(o + r.Pixels, o + out.size(), 0);
    return r;
}

namespace {

// Registers the class with the picture registry and the signatures for the program's life.
struct Registration {
    Registration() {
        CF_UXGIF();
        TPicture::RegisterFileFormat("gif", "CompuServe GIF Image", TUxGIFImage::Class());
        TPicture::RegisterClipboardFormat(CF_UXGIF(), TUxGIFImage::Class());
        AddGraphicSignature("GIF", 0, &TUxGIFImage::Class());
    }
    ~Registration() { TPicture::UnregisterGraphicClass(TUxGIFImage::Class()); }
} registration;

// Locks a global block for a scope.
class GlobalView {
public:
    explicit GlobalView(HGLOBAL g) : g_(g), p_(g ? static_cast<const char*>(GlobalLock(g)) : nullptr) {}
    ~GlobalView() { if (p_) GlobalUnlock(g_); }
    GlobalView(const GlobalView&) = delete;
    GlobalView& operator=(const GlobalView&) = delete;
    const char* get() const { return p_; }
    size_t size() const { return p_ ? GlobalSize(g_) : 0; }

private:
    HGLOBAL g_;
    const char* p_;
};

}  // namespace

UINT CF_UXGIF() {
    static const UINT format = RegisterClipboardFormatA("UxGIF Image");
    return format;
}

int TGIFColorTable::IndexOf(TColor color) const {
    const COLORREF c = ColorToRGB(color);
    for (int i = 0; i < Count; ++i)
        if (Entries[i][0] == GetRValue(c) && Entries[i][1] == GetGValue(c) && Entries[i][2] == GetBValue(c)) return i;
    return -1;
}

void TExtension::Assign(const TExtension& source) {
    Type = source.Type;
    Data = source.Data;
    Fixed = source.Fixed;
}

std::string TExtension::Text() const {
    std::string s;
    for (const auto& d : Data) s += d;
    return s;
}

// ---- TUxGIFFrame ----------------------------------------------------------------------

TUxGIFFrame::TUxGIFFrame(TUxGIFImage* owner) : owner_(owner), item_(std::make_shared<TGIFItem>()) {}
TUxGIFFrame::~TUxGIFFrame() = default;

TExtension* TUxGIFFrame::FindExtension(TGIFExtensionType type) const {
    for (auto it = extensions_.rbegin(); it != extensions_.rend(); ++it)
        if ((*it)->Type == type) return it->get();
    return nullptr;
}

std::vector<std::string>& TUxGIFFrame::Comment() {
    TExtension* e = FindExtension(TGIFExtensionType::etComment);
    if (!e) {
        extensions_.push_back(std::make_unique<TExtension>(TGIFExtensionType::etComment));
        e = extensions_.back().get();
    }
    return e->Data;
}

int TUxGIFFrame::Width() const {
    if (bitmap_ && !bitmap_->Empty()) return bitmap_->Width();
    return HasData() ? item_->Width : 0;
}

int TUxGIFFrame::Height() const {
    if (bitmap_ && !bitmap_->Empty()) return bitmap_->Height();
    return HasData() ? item_->Height : 0;
}

void TUxGIFFrame::Read(const std::string& data, size_t& pos, std::vector<std::unique_ptr<TExtension>> extensions) {
    Reader r{data, pos};
    // A frame being read is new: its own item is still unshared.
    auto item = item_.use_count() == 1 ? item_ : std::make_shared<TGIFItem>();
    item->BitsPerPixel = item_->BitsPerPixel;
    try {
        Origin.x = r.Word();
        Origin.y = r.Word();
        item->Width = r.Word();
        item->Height = r.Word();
        item->Packed = r.Byte();
        Interlaced = (item->Packed & 0x40) != 0;
        const TGIFColorTable& global = owner_->data_->ColorTable;
        bool haveTable = true;
        if (item->Packed & 0x80) {
            item->BitsPerPixel = (item->Packed & 7) + 1;
            ReadTable(r, item->ColorTable, 1 << item->BitsPerPixel);
            LocalColors = true;
        } else if (global.Count > 0) {
            item->ColorTable = global;
        } else {
            haveTable = false;  // legal: a file may have no table at all
        }
        // The code-size byte and every sub-block, through the terminator.
        const size_t start = r.pos;
        if (r.Left() == 0) {
            Corrupted = true;
        } else {
            const uint8_t codeSize = r.Byte();
            bool terminated = false;
            while (r.Left() > 0) {
                const size_t n = r.Byte();
                if (n == 0) {
                    terminated = true;
                    break;
                }
                if (n > r.Left()) {
                    r.pos = data.size();
                    break;
                }
                r.pos += n;
            }
            if (!terminated) {
                Corrupted = true;
                if (!GIFTolerantDecoding) ReadError();
            }
            item->ImageData = data.substr(start, r.pos - start);
            if (!haveTable) {
                // Without any table the depth follows the code size; grey levels show it.
                item->BitsPerPixel = std::clamp<int>(codeSize, 1, 8);
                item->ColorTable.Count = 1 << item->BitsPerPixel;
                for (int i = 0; i < item->ColorTable.Count; ++i)
                    for (int c = 0; c < 3; ++c)
                        item->ColorTable.Entries[i][c] = static_cast<uint8_t>(i * 255 / (item->ColorTable.Count - 1));
            }
        }
        if (item->Width == 0) item->Width = owner_->screenWidth_;
        if (item->Height == 0) item->Height = owner_->screenHeight_;
        extensions_ = std::move(extensions);
        int delay = 0;
        TExtension* gc = nullptr;
        for (const auto& e : extensions_) {
            if (e->Type != TGIFExtensionType::etGraphicControl || e->Fixed.size() < 6) continue;
            gc = e.get();
            delay = std::max(delay, static_cast<uint8_t>(e->Fixed[2]) | static_cast<uint8_t>(e->Fixed[3]) << 8);
        }
        AnimateInterval = static_cast<uint16_t>(std::min(delay * 10, 65535));
        TransparentColor = clNone;
        if (gc) {
            const uint8_t packed = static_cast<uint8_t>(gc->Fixed[1]);
            DisposalMethod = (packed >> 2) & 7;
            const int ti = static_cast<uint8_t>(gc->Fixed[4]);
            TGIFColorTable& t = item->ColorTable;
            if ((packed & 1) && ti < t.Count) {
                // The transparent colour must be unique in the table, or other pixels of
                // that colour would vanish too: step its blue until it is.
                // Only entries of the same red and green can clash: note their blues once.
                bool taken[256] = {};
                for (int j = 0; j < t.Count; ++j)
                    if (j != ti && t.Entries[j][0] == t.Entries[ti][0] && t.Entries[j][1] == t.Entries[ti][1])
                        taken[t.Entries[j][2]] = true;
                // At most 255 other entries leave a free blue, reached within two sweeps.
                int dir = -1;
                for (int guard = 0; guard < 1024 && taken[t.Entries[ti][2]]; ++guard) {
                    uint8_t& b = t.Entries[ti][2];
                    if (b == 0) dir = 1;
                    else if (b == 255) dir = -1;
                    b = static_cast<uint8_t>(b + dir);
                }
                TransparentColor = static_cast<TColor>(RGB(t.Entries[ti][0], t.Entries[ti][1], t.Entries[ti][2]));
            }
        }
    } catch (...) {
        pos = r.pos;
        throw;
    }
    item_ = std::move(item);
    pos = r.pos;
}

TBitmap& TUxGIFFrame::Bitmap() {
    if (bitmap_ && !bitmap_->Empty()) return *bitmap_;
    bitmap_ = std::make_unique<TBitmap>();
    if (HasData()) Decode();
    return *bitmap_;
}

void TUxGIFFrame::Decode() {
    const TGIFItem& item = *item_;
    const int w = item.Width, h = item.Height;
    if (w <= 0 || h <= 0) return;
    const int bitCount = DibBits(item.BitsPerPixel);
    const std::string& raw = item.ImageData;
    const int codeSize = static_cast<uint8_t>(raw[0]);
    if ((codeSize < 2 || codeSize > 9) && !GIFTolerantDecoding) throw EInvalidGraphic("GIF code size not in range 2 to 9");
    // No bitmap larger than the codes can fill: a tiny file must not ask for a huge one.
    size_t codeBytes = 0;
    for (size_t at = 1; at < raw.size();) {
        const size_t n = static_cast<uint8_t>(raw[at++]);
        if (n == 0) break;
        codeBytes += std::min(n, raw.size() - at);
        at += n;
    }
    const int64_t area = int64_t{w} * h;
    if (area > std::max<int64_t>(kFreeArea, static_cast<int64_t>(codeBytes) * 8 * 4096 / 12)) {
        // Nothing to show: the frame stays without a picture.
        if (!GIFTolerantDecoding) Corrupt();
        Corrupted = true;
        owner_->Corrupted = true;
        return;
    }

    owner_->Progress(TProgressStage::psStarting, 0);
    std::vector<uint8_t> values;
    const TLzwDecoded decoded = LzwDecode(raw, values, static_cast<size_t>(area));
    if (decoded.Corrupt || (decoded.Pixels < static_cast<size_t>(area) && !decoded.Ended)) {
        // Damaged, or the data end before the picture: keep what was decoded.
        if (!GIFTolerantDecoding) {
            owner_->Progress(TProgressStage::psEnding, 0, "GIF encoded data is corrupt");
            Corrupt();
        }
        Corrupted = true;
    }

    // The values go into a DIB section (bottom-up rows; interlaced files store the rows in
    // passes at 0, 4, 2, 1 with steps 8, 8, 4, 2).
    const int64_t stride = ((int64_t{w} * bitCount + 31) / 32) * 4;
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colors[256];
    } info{};
    info.h.biSize = sizeof info.h;
    info.h.biWidth = w;
    info.h.biHeight = h;
    info.h.biPlanes = 1;
    info.h.biBitCount = static_cast<WORD>(bitCount);
    info.h.biCompression = BI_RGB;
    info.h.biSizeImage = static_cast<DWORD>(stride * h);
    info.h.biClrUsed = 1u << bitCount;
    for (int i = 0; i < (1 << bitCount); ++i) {
        const uint8_t* e = item.ColorTable.Entries[i];
        info.colors[i] = i < item.ColorTable.Count ? RGBQUAD{e[2], e[1], e[0], 0} : RGBQUAD{128, 128, 128, 0};
    }
    void* bits = nullptr;
    TGdiObject dib(GDICheck(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0)));
    uint8_t* pixels = static_cast<uint8_t*>(bits);
    const uint8_t mask = static_cast<uint8_t>((1u << bitCount) - 1);
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int rowsDecoded = static_cast<int>(std::min<int64_t>(h, (static_cast<int64_t>(decoded.Pixels) + w - 1) / w));
    int pass = 0, y = 0;
    for (int n = 0; n < rowsDecoded; ++n) {
        const uint8_t* from = values.data() + static_cast<size_t>(n) * w;
        uint8_t* row = pixels + static_cast<int64_t>(h - 1 - y) * stride;
        switch (bitCount) {
            case 8: std::memcpy(row, from, static_cast<size_t>(w)); break;
            case 4:
                for (int x = 0; x < w; ++x) row[x >> 1] |= static_cast<uint8_t>(x & 1 ? from[x] & mask : (from[x] & mask) << 4);
                break;
            default:
                for (int x = 0; x < w; ++x) row[x >> 3] |= static_cast<uint8_t>((from[x] & 1) << (7 - (x & 7)));
                break;
        }
        if (Interlaced) {
            y += kStep[pass];
            while (y >= h && pass < 3) y = kStart[++pass];
        } else {
            ++y;
        }
        if (((n + 1) & 63) == 0) owner_->Progress(TProgressStage::psRunning, static_cast<int>(int64_t{n + 1} * 100 / h));
    }
    if (Corrupted) owner_->Corrupted = true;

    bitmap_->SetHandle(static_cast<HBITMAP>(dib.release()));
    owner_->Progress(TProgressStage::psEnding, 100);
}

void TUxGIFFrame::Encode() {
    if (!bitmap_ || bitmap_->Empty()) throw EInvalidGraphic("No GIF Data to write");
    std::string bmp;
    const TPixelFormat f = bitmap_->PixelFormat();
    if (f == TPixelFormat::pf1bit || f == TPixelFormat::pf4bit || f == TPixelFormat::pf8bit) {
        TMemoryStream s;
        bitmap_->SaveToStream(s);
        bmp = s.Bytes();
    } else {
        bmp = BitmapToMemoryStream(*bitmap_, TPixelFormat::pf8bit,
                                   GrayScale ? TColorReduction::rmGrayScale : DefaultColorReduction)
                  ->Bytes();
    }
    if (bmp.size() < 54) throw EInvalidGraphic("GIF image encoding error");
    BITMAPFILEHEADER fh;
    BITMAPINFOHEADER ih;
    std::memcpy(&fh, bmp.data(), 14);
    std::memcpy(&ih, bmp.data() + 14, 40);
    const int bits = ih.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8) throw EInvalidGraphic("GIF image encoding error");
    const int w = ih.biWidth, h = std::abs(ih.biHeight);
    const int64_t stride = ((int64_t{w} * bits + 31) / 32) * 4;
    const size_t palAt = 14 + ih.biSize;
    const int entries = std::min(1 << bits, 256);
    if (fh.bfOffBits + static_cast<size_t>(stride * h) > bmp.size() || palAt + 4u * entries > bmp.size())
        throw EInvalidGraphic("GIF image encoding error");
    owner_->Progress(TProgressStage::psStarting, 0);
    auto item = std::make_shared<TGIFItem>();
    item->Width = w;
    item->Height = h;
    item->BitsPerPixel = bits;
    item->ColorTable.Count = entries;
    const DWORD used = ih.biClrUsed ? std::min<DWORD>(ih.biClrUsed, entries) : static_cast<DWORD>(entries);
    for (int i = 0; i < entries; ++i) {
        RGBQUAD q{0, 0, 0, 0};
        if (static_cast<DWORD>(i) < used) std::memcpy(&q, bmp.data() + palAt + 4 * i, 4);
        item->ColorTable.Entries[i][0] = q.rgbRed;
        item->ColorTable.Entries[i][1] = q.rgbGreen;
        item->ColorTable.Entries[i][2] = q.rgbBlue;
    }
    Interlaced = false;
    std::vector<uint8_t> px(static_cast<size_t>(w) * h);
    const bool bottomUp = ih.biHeight > 0;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint8_t*>(bmp.data()) + fh.bfOffBits + (bottomUp ? h - 1 - y : y) * stride;
        uint8_t* out = px.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x)
            out[x] = bits == 8 ? row[x] : bits == 4 ? ((row[x >> 1] >> (x & 1 ? 0 : 4)) & 15) : ((row[x >> 3] >> (7 - (x & 7))) & 1);
    }
    LzwEncode(px, bits, item->ImageData);
    item_ = item;
    TGIFColorTable& global = owner_->data_->ColorTable;
    if (global.Count == 0) {
        global = item->ColorTable;
        owner_->data_->BitsPerPixel = bits;
        owner_->data_->ColorResBits = bits;
        LocalColors = false;
    } else {
        LocalColors = std::memcmp(&global, &item->ColorTable, sizeof global) != 0;
    }
    owner_->UpdateScreenSize();
    owner_->Progress(TProgressStage::psEnding, 100);
}

void TUxGIFFrame::UpdateExtensions() {
    TExtension* gc = FindExtension(TGIFExtensionType::etGraphicControl);
    if (!gc && (AnimateInterval || TransparentColor != clNone || DisposalMethod)) {
        extensions_.push_back(std::make_unique<TExtension>(TGIFExtensionType::etGraphicControl));
        gc = extensions_.back().get();
        gc->Fixed = std::string("\x04\0\0\0\0\0", 6);
    }
    if (gc) {
        gc->Fixed.resize(6, '\0');
        gc->Fixed[0] = 4;
        const int delay = AnimateInterval / 10;
        gc->Fixed[2] = static_cast<char>(delay & 0xFF);
        gc->Fixed[3] = static_cast<char>(delay >> 8);
        uint8_t packed = static_cast<uint8_t>(gc->Fixed[1]) & ~0x1Du;
        const int ti = TransparentColor == clNone ? -1 : item_->ColorTable.IndexOf(TransparentColor);
        if (ti >= 0) {
            packed |= 1;
            gc->Fixed[4] = static_cast<char>(ti);
        }
        packed |= static_cast<uint8_t>((DisposalMethod & 7) << 2);
        gc->Fixed[1] = static_cast<char>(packed);
        gc->Fixed[5] = 0;
    }
    std::erase_if(extensions_, [](const std::unique_ptr<TExtension>& e) {
        return e->Type == TGIFExtensionType::etComment && e->Text().empty();
    });
}

void TUxGIFFrame::Write(std::string& out) {
    for (const auto& e : extensions_) {
        out.push_back('!');
        out.push_back(static_cast<char>(kLabels[static_cast<int>(e->Type)]));
        out += e->Fixed;
        if (e->Type != TGIFExtensionType::etGraphicControl) {
            for (const auto& d : e->Data)
                if (!d.empty()) PutSubBlocks(out, d);
            out.push_back('\0');
        }
    }
    out.push_back(',');
    PutWord(out, Origin.x);
    PutWord(out, Origin.y);
    PutWord(out, item_->Width);
    PutWord(out, item_->Height);
    const int bits = BitsForCount(item_->ColorTable.Count);
    uint8_t packed = LocalColors ? static_cast<uint8_t>(0x80 | (bits - 1)) : 0;
    if (Interlaced) packed |= 0x40;
    out.push_back(static_cast<char>(packed));
    if (LocalColors) PutTable(out, item_->ColorTable, bits);
    out += item_->ImageData;
}

void TUxGIFFrame::Assign(const TUxGIFFrame& source) {
    if (&source == this) return;
    item_ = source.item_;
    LocalColors = source.owner_ == owner_ ? source.LocalColors : true;
    Origin = source.Origin;
    Interlaced = source.Interlaced;
    bitmap_.reset();
    if (source.bitmap_ && !source.bitmap_->Empty()) {
        bitmap_ = std::make_unique<TBitmap>();
        bitmap_->Assign(*source.bitmap_);
    }
    TransparentColor = source.TransparentColor;
    AnimateInterval = source.AnimateInterval;
    DisposalMethod = source.DisposalMethod;
    GrayScale = source.GrayScale;
    Corrupted = source.Corrupted;
    extensions_.clear();
    if (TExtension* c = source.FindExtension(TGIFExtensionType::etComment)) {
        extensions_.push_back(std::make_unique<TExtension>(c->Type));
        extensions_.back()->Assign(*c);
    }
}

void TUxGIFFrame::Assign(TGraphic& source) {
    if (auto* gif = dynamic_cast<TUxGIFImage*>(&source)) {
        if (gif->Count() == 0) return;
        const int i = gif->index_ >= 0 && gif->index_ < gif->Count() ? gif->index_ : 0;
        Assign(gif->Frames(i));
        return;
    }
    item_ = std::make_shared<TGIFItem>();
    extensions_.clear();
    bitmap_ = std::make_unique<TBitmap>();
    TransparentColor = clNone;
    if (auto* b = dynamic_cast<TBitmap*>(&source)) {
        bitmap_->Assign(*b);  // keeps a monochrome bitmap monochrome
        if (b->Transparent()) TransparentColor = b->TransparentColor();
    } else {
        // Other graphics are drawn on magenta, which then stands for their transparency.
        bitmap_->SetSize(std::max(1, source.Width()), std::max(1, source.Height()));
        RECT all{0, 0, bitmap_->Width(), bitmap_->Height()};
        bitmap_->Canvas().Brush().SetColor(clFuchsia);
        bitmap_->Canvas().FillRect(all);
        bitmap_->Canvas().Draw(0, 0, source);
        if (source.Transparent() || dynamic_cast<TIcon*>(&source)) TransparentColor = clFuchsia;
    }
    item_->Width = bitmap_->Width();
    item_->Height = bitmap_->Height();
    owner_->UpdateScreenSize();
}

void TUxGIFFrame::AssignTo(TBitmap& dest) {
    dest.Assign(Bitmap());
    if (TransparentColor != clNone && !dest.Empty()) {
        // The colour the bitmap can show nearest to the frame's transparent colour, not
        // whatever its corner pixel holds.
        dest.SetTransparentColor(static_cast<TColor>(GetNearestColor(dest.Canvas().Handle(), ColorToRGB(TransparentColor))));
        dest.SetTransparent(true);
    } else {
        dest.SetTransparent(false);
    }
}

void TUxGIFFrame::Draw(TCanvas& canvas, const RECT& rect, bool transparent) {
    TBitmap& b = Bitmap();
    if (b.Empty()) return;
    if (transparent && TransparentColor != clNone) {
        DrawBitmapTransparentStretched(canvas, b, TransparentColor, rect, RECT{0, 0, 0, 0});
    } else {
        canvas.StretchDraw(rect, b);
    }
}

// ---- TUxGIFImage ----------------------------------------------------------------------

const TGraphicClass& TUxGIFImage::Class() {
    static const TGraphicClass c{"TUxGIFImage", [] { return std::unique_ptr<TGraphic>(new TUxGIFImage); }};
    return c;
}

TUxGIFImage::TUxGIFImage() {
    Reset();
    SetTransparent(true);
}

TUxGIFImage::~TUxGIFImage() { frames_.clear(); }

void TUxGIFImage::Reset() {
    data_ = std::make_shared<TGIFData>();
    frames_.clear();
    Corrupted = false;
    index_ = -1;
    BackgroundColor = clNone;
    RepeatCount = 1;
    Looping = false;
    version_ = TGIFVersion::gvNone;
    screenWidth_ = screenHeight_ = 0;
}

void TUxGIFImage::Progress(TProgressStage stage, int percent, const std::string& message) {
    if (OnProgress) OnProgress(this, stage, std::clamp(percent, 0, 100), message);
}

void TUxGIFImage::Parse(const std::string& d) {
    Reset();
    if (d.empty()) return;
    Reader r{d};
    if (d.size() < 6 || d.compare(0, 3, "GIF") != 0) throw EInvalidGraphic("Unknown GIF version");
    const std::string ver = d.substr(3, 3);
    if (ver == "87a") version_ = TGIFVersion::gv87a;
    else if (ver == "89a") version_ = TGIFVersion::gv89a;
    else throw EInvalidGraphic("Unknown GIF version");
    r.pos = 6;
    screenWidth_ = r.Word();
    screenHeight_ = r.Word();
    const uint8_t packed = r.Byte(), background = r.Byte();
    data_->AspectRatio = r.Byte();
    data_->BitsPerPixel = (packed & 7) + 1;
    data_->ColorResBits = ((packed >> 4) & 7) + 1;
    if (packed & 0x80) {
        ReadTable(r, data_->ColorTable, 1 << data_->BitsPerPixel);
        if (background < data_->ColorTable.Count) {
            const uint8_t* e = data_->ColorTable.Entries[background];
            BackgroundColor = static_cast<TColor>(RGB(e[0], e[1], e[2]));
        }
    }
    std::vector<std::unique_ptr<TExtension>> gathered;
    auto addComments = [&] {
        for (const auto& e : gathered) {
            if (e->Type != TGIFExtensionType::etComment) continue;
            if (data_->Comment.Count() > 0) data_->Comment.Add("\r\n\r\n");
            data_->Comment.Add(e->Text());
        }
        gathered.clear();
    };
    uint8_t intro = r.NextNonZero();
    try {
    while (intro != 0 && intro != ';') {
        while (intro == '!') {
            const uint8_t label = r.Byte();
            if (label == 0xF9) {
                auto e = std::make_unique<TExtension>(TGIFExtensionType::etGraphicControl);
                e->Fixed = r.Bytes(6);
                gathered.push_back(std::move(e));
            } else if (label == 0xFE) {
                auto e = std::make_unique<TExtension>(TGIFExtensionType::etComment);
                e->Data = r.SubBlocks();
                gathered.push_back(std::move(e));
            } else if (label == 0x01) {
                r.Bytes(13);
                r.SubBlocks();
                gathered.clear();
            } else if (label == 0xFF) {
                const std::string fixed = r.Bytes(12);
                const auto blocks = r.SubBlocks();
                const std::string id = fixed.substr(1, 11);
                if ((id == kLoopIds[0] || id == kLoopIds[1]) && !blocks.empty() && blocks[0].size() >= 3 &&
                    blocks[0][0] == 1) {
                    Looping = true;
                    const int count = static_cast<uint8_t>(blocks[0][1]) | static_cast<uint8_t>(blocks[0][2]) << 8;
                    RepeatCount = static_cast<uint16_t>(std::min(count, 30000));
                }
            } else {
                char text[64];
                std::snprintf(text, sizeof text, "Unrecognized extension block: %.2x", label);
                throw EInvalidGraphic(text);
            }
            intro = r.Left() == 0 ? ';' : r.NextNonZero();
        }
        if (intro == ',') {
            auto frame = std::make_unique<TUxGIFFrame>(this);
            const int count = data_->ColorTable.Count;
            if (count > 0 && (count & (count - 1)) != 0)
                throw EInvalidGraphic("Wrong number of colors; must be a power of 2");
            frame->item_->BitsPerPixel = data_->BitsPerPixel;
            frame->Read(d, r.pos, std::move(gathered));
            gathered.clear();
            if (frame->Corrupted) Corrupted = true;
            frames_.push_back(std::move(frame));
            intro = r.Left() == 0 ? ';' : r.NextNonZero();
            if (intro != '!' && intro != ',' && intro != ';') break;
        } else if (intro != ';' && intro != 0) {
            if (data_->Comment.Count() == 0 && !gathered.empty()) {
                addComments();
                break;
            }
            ReadError();
        }
    }
    } catch (const EStreamError&) {
        // Cut short after some frames: keep them. A frame cut inside its own data marks
        // itself; one cut before its data never became a frame, so the frames kept are whole
        // and only the picture is damaged.
        if (frames_.empty() || !GIFTolerantDecoding) throw;
        Corrupted = true;
    }
    // Comments after the last image are the image's comment.
    if (data_->Comment.Count() == 0 && !gathered.empty()) addComments();
}

void TUxGIFImage::ReadFrom(const std::string& data, bool decodeFirst) {
    try {
        Parse(data);
    } catch (...) {
        Reset();
        Changed();
        throw;
    }
    if (!frames_.empty()) {
        index_ = 0;
        if (decodeFirst) {
            try {
                frames_[0]->Bitmap();
            } catch (...) {
                frames_.erase(frames_.begin());
                index_ = frames_.empty() ? -1 : 0;
                Changed();
                throw;
            }
        }
    }
    Changed();
}

void TUxGIFImage::LoadFromStream(TStream& stream) {
    const int64_t size = std::max<int64_t>(0, stream.Size() - stream.Position());
    std::string data(static_cast<size_t>(size), '\0');
    stream.ReadBuffer(data.data(), size);
    ReadFrom(data, true);
}

void TUxGIFImage::ReadData(TStream& stream) {
    uint32_t size = 0;
    stream.ReadBuffer(&size, 4);
    // The prefix must not promise more than the stream holds.
    if (size > stream.Size() - stream.Position()) ReadError();
    std::string data(size, '\0');
    stream.ReadBuffer(data.data(), size);
    ReadFrom(data, true);
}

void TUxGIFImage::UpdateScreenSize() {
    int w = 0, h = 0;
    for (const auto& f : frames_) {
        w = std::max<int>(w, f->Origin.x + f->Width());
        h = std::max<int>(h, f->Origin.y + f->Height());
    }
    screenWidth_ = std::min(w, 65535);
    screenHeight_ = std::min(h, 65535);
}

void TUxGIFImage::SaveToStream(TStream& stream) {
    if (frames_.empty()) throw EInvalidGraphic("No GIF Data to write");
    bool extensions = data_->Comment.Count() > 0;
    for (auto& f : frames_) {
        if (!f->HasData()) f->Encode();
        f->UpdateExtensions();
        if (!f->extensions_.empty()) extensions = true;
    }
    if (extensions || frames_.size() > 1 || version_ == TGIFVersion::gv89a) version_ = TGIFVersion::gv89a;
    else version_ = TGIFVersion::gv87a;
    UpdateScreenSize();
    std::string out = "GIF";
    out += kVersionText[static_cast<int>(version_)];
    PutWord(out, screenWidth_);
    PutWord(out, screenHeight_);
    const TGIFColorTable& global = data_->ColorTable;
    if (global.Count > 0) {
        const int bits = BitsForCount(global.Count);
        out.push_back(static_cast<char>(0x80 | ((bits - 1) << 4) | (bits - 1)));
        out.push_back(static_cast<char>(std::max(0, BackgroundColor == clNone ? 0 : global.IndexOf(BackgroundColor))));
        out.push_back(static_cast<char>(data_->AspectRatio));
        PutTable(out, global, bits);
    } else {
        out.push_back('\0');
        out.push_back('\0');
        out.push_back(static_cast<char>(data_->AspectRatio));
    }
    if (Looping && frames_.size() > 1) {
        out += "!\xFF\x0B";
        out += "NETSCAPE2.0";
        out += "\x03\x01";
        PutWord(out, RepeatCount);
        out.push_back('\0');
    }
    for (auto& f : frames_) f->Write(out);
    if (data_->Comment.Count() > 0) {
        out += "!\xFE";
        for (int i = 0; i < data_->Comment.Count(); ++i) PutSubBlocks(out, data_->Comment[i]);
        out.push_back('\0');
    }
    out.push_back(';');
    stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TUxGIFImage::WriteData(TStream& stream) {
    TMemoryStream s;
    SaveToStream(s);
    const uint32_t size = static_cast<uint32_t>(s.Bytes().size());
    stream.WriteBuffer(&size, 4);
    stream.WriteBuffer(s.Memory(), size);
}

void TUxGIFImage::SaveToClipboardFormat(UINT& format, HANDLE& data) {
    if (frames_.empty()) throw EInvalidGraphic("No GIF Data to write");
    format = CF_BITMAP;
    data = CopyImage(frames_[0]->Bitmap().Handle(), IMAGE_BITMAP, 0, 0, 0);
    for (const auto& f : frames_)
        if (!f->HasData()) return;
    TMemoryStream s;
    WriteData(s);
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(s.Bytes().size()));
    if (!g) return;
    if (void* p = GlobalLock(g)) {
        std::memcpy(p, s.Memory(), s.Bytes().size());
        GlobalUnlock(g);
        if (SetClipboardData(CF_UXGIF(), g)) return;
    }
    GlobalFree(g);
}

void TUxGIFImage::LoadFromClipboardFormat(UINT format, HANDLE data) {
    if (HANDLE whole = IsClipboardFormatAvailable(CF_UXGIF()) ? GetClipboardData(CF_UXGIF()) : nullptr) {
        GlobalView view(static_cast<HGLOBAL>(whole));
        if (!view.get() || view.size() < 4) ReadError();
        uint32_t size;
        std::memcpy(&size, view.get(), 4);
        if (size > view.size() - 4) ReadError();  // a prefix larger than the block
        try {
            Parse(std::string(view.get() + 4, size));
        } catch (...) {
            Reset();
            Changed();
            throw;
        }
        if (!frames_.empty()) {
            index_ = 0;
            if (HANDLE b = IsClipboardFormatAvailable(CF_BITMAP) ? GetClipboardData(CF_BITMAP) : nullptr) {
                frames_[0]->bitmap_ = std::make_unique<TBitmap>();
                frames_[0]->bitmap_->SetHandle(static_cast<HBITMAP>(CopyImage(b, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
            }
        }
        Changed();
        return;
    }
    if (format != CF_BITMAP || !data) throw EInvalidGraphic("Unsupported clipboard format");
    TBitmap b;
    b.SetHandle(static_cast<HBITMAP>(CopyImage(data, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    Assign(b);
}

TBitmap& TUxGIFImage::Bitmap() {
    if (frames_.empty()) {
        frames_.push_back(std::make_unique<TUxGIFFrame>(this));
        index_ = 0;
    }
    const int i = index_ >= 0 && index_ < Count() ? index_ : 0;
    return frames_[static_cast<size_t>(i)]->Bitmap();
}

void TUxGIFImage::Draw(TCanvas& canvas, const RECT& rect) {
    if (index_ < 0 || index_ >= Count()) return;
    frames_[static_cast<size_t>(index_)]->Draw(canvas, rect, Transparent());
}

int TUxGIFImage::Width() const {
    if (index_ < 0 || index_ >= Count()) return 0;
    return frames_[static_cast<size_t>(index_)]->Bitmap().Width();
}

int TUxGIFImage::Height() const {
    if (index_ < 0 || index_ >= Count()) return 0;
    return frames_[static_cast<size_t>(index_)]->Bitmap().Height();
}

void TUxGIFImage::SetWidth(int) { throw EInvalidGraphic("Cannot change the Size of a GIF image"); }
void TUxGIFImage::SetHeight(int) { throw EInvalidGraphic("Cannot change the Size of a GIF image"); }

bool TUxGIFImage::Empty() const {
    if (frames_.empty()) return true;
    const int i = std::max(index_, 0);
    if (i >= Count()) return true;
    const TUxGIFFrame& f = *frames_[static_cast<size_t>(i)];
    return !f.HasBitmap() && !f.HasData();
}

bool TUxGIFImage::IsTransparent() const {
    if (!Transparent()) return false;
    return std::any_of(frames_.begin(), frames_.end(), [](const auto& f) { return f->TransparentColor != clNone; });
}

void TUxGIFImage::SetFrameIndex(int i) {
    if (i >= 0 && i < Count() && i != index_) {
        index_ = i;
        Changed();
    }
}

int TUxGIFImage::AddFrame(TGraphic& graphic) {
    auto f = std::make_unique<TUxGIFFrame>(this);
    frames_.push_back(std::move(f));
    try {
        frames_.back()->Assign(graphic);
    } catch (...) {
        frames_.pop_back();
        throw;
    }
    index_ = Count() - 1;
    if (version_ == TGIFVersion::gvNone) version_ = TGIFVersion::gv87a;
    if (Count() >= 2) version_ = TGIFVersion::gv89a;
    UpdateScreenSize();
    Changed();
    return index_;
}

void TUxGIFImage::DeleteFrame(int i) {
    if (i < 0 || i >= Count()) return;
    frames_.erase(frames_.begin() + i);
    if (index_ >= Count()) index_ = Count() - 1;
    Changed();
}

bool TUxGIFImage::Assign(const TGraphic& source) {
    if (&source == this) return true;
    if (auto* gif = dynamic_cast<const TUxGIFImage*>(&source)) {
        data_ = gif->data_;
        version_ = gif->version_;
        BackgroundColor = gif->BackgroundColor;
        RepeatCount = gif->RepeatCount;
        Looping = gif->Looping;
        Corrupted = gif->Corrupted;
        screenWidth_ = gif->screenWidth_;
        screenHeight_ = gif->screenHeight_;
        index_ = gif->index_;
        frames_.clear();
        for (const auto& src : gif->frames_) {
            auto f = std::make_unique<TUxGIFFrame>(this);
            f->Assign(*src);
            f->LocalColors = src->LocalColors;
            frames_.push_back(std::move(f));
        }
        Changed();
        return true;
    }
    if (auto* bmp = dynamic_cast<const TBitmap*>(&source)) {
        Reset();
        AddFrame(const_cast<TBitmap&>(*bmp));
        Changed();
        return true;
    }
    if (auto* ani = dynamic_cast<const TUxAni*>(&source)) {
        auto& a = const_cast<TUxAni&>(*ani);
        Reset();
        BackgroundColor = clWindow;
        for (int i = 0; i < a.FrameCount(); ++i) {
            TUxIconFrame* step = a.Frames(i);
            if (!step || !step->Icon) continue;
            const uint32_t rate = step->Rate;
            auto icon = step->Icon;  // the shared result frame changes with the next call
            auto f = std::make_unique<TUxGIFFrame>(this);
            frames_.push_back(std::move(f));
            frames_.back()->Assign(*icon);
            const uint64_t ms = rate ? uint64_t{rate} * 100 / 6 : 100;
            frames_.back()->AnimateInterval = static_cast<uint16_t>(std::min<uint64_t>(ms, 65535));
        }
        if (!frames_.empty()) {
            index_ = 0;
            version_ = frames_.size() > 1 ? TGIFVersion::gv89a : TGIFVersion::gv87a;
        }
        UpdateScreenSize();
        Changed();
        return true;
    }
    return false;
}

void TUxGIFImage::Assign(const TUxGIFFrame& frame) {
    Reset();
    if (frame.owner_) {
        data_->AspectRatio = frame.owner_->data_->AspectRatio;
        data_->BitsPerPixel = frame.owner_->data_->BitsPerPixel;
        data_->ColorResBits = frame.owner_->data_->ColorResBits;
        data_->ColorTable = frame.owner_->data_->ColorTable;
    }
    frames_.push_back(std::make_unique<TUxGIFFrame>(this));
    frames_.back()->Assign(frame);
    index_ = 0;
    version_ = TGIFVersion::gv87a;
    UpdateScreenSize();
    Changed();
}

bool TUxGIFImage::AssignTo(TGraphic& dest) {
    if (auto* gif = dynamic_cast<TUxGIFImage*>(&dest)) return gif->Assign(*this);
    if (Empty()) return false;
    TUxGIFFrame& f = *frames_[static_cast<size_t>(std::clamp(index_, 0, Count() - 1))];
    if (auto* bmp = dynamic_cast<TBitmap*>(&dest)) {
        f.AssignTo(*bmp);
        return true;
    }
    return dest.Assign(f.Bitmap());
}
