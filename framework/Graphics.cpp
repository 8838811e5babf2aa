#include "framework/Graphics.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "framework/Jpeg.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"

namespace framework {

COLORREF ColorToRGB(TColor color) {
    if (color == clNone || color == clDefault) return 0;
    if (color < 0) return GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color) & 0xFFFFFF;
}

// ---- TFont ---------------------------------------------------------------------------

TFont::TFont() = default;
TFont::~TFont() = default;

void TFont::Assign(const TFont& o) {
    if (&o == this) return;
    name_ = o.name_, height_ = o.height_, style_ = o.style_, color_ = o.color_;
    charset_ = o.charset_, pitch_ = o.pitch_;
    Changed();
}

bool TFont::SameAs(const TFont& o) const {
    return SameText(name_, o.name_) && height_ == o.height_ && style_ == o.style_ && color_ == o.color_ &&
           charset_ == o.charset_ && pitch_ == o.pitch_;
}

namespace {
int ScreenDpi() {
    const UniqueWindowDC dc;
    const int dpi = dc ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}
}  // namespace

int TFont::Size() const { return -MulDiv(height_, 72, ScreenDpi()); }
void TFont::SetSize(int points) { SetHeight(-MulDiv(points, ScreenDpi(), 72)); }
void TFont::SetName(const std::string& v) { if (v != name_) { name_ = v; Changed(); } }
void TFont::SetHeight(int v) { if (v != height_) { height_ = v; Changed(); } }
void TFont::SetStyle(unsigned v) { if (v != style_) { style_ = v; Changed(); } }
void TFont::SetColor(TColor v) { if (v != color_) { color_ = v; Changed(); } }
void TFont::SetCharset(BYTE v) { if (v != charset_) { charset_ = v; Changed(); } }
void TFont::SetPitch(TFontPitch v) { if (v != pitch_) { pitch_ = v; Changed(); } }

void TFont::Changed() {
    handle_.reset();
    if (OnChange) OnChange(this);
}

HFONT TFont::Handle() const {
    if (!handle_) {
        const DWORD pitch = pitch_ == TFontPitch::fpFixed      ? FIXED_PITCH
                            : pitch_ == TFontPitch::fpVariable ? VARIABLE_PITCH
                                                               : DEFAULT_PITCH;
        handle_.reset(CreateFontA(height_, 0, 0, 0, (style_ & fsBold) ? FW_BOLD : FW_NORMAL, (style_ & fsItalic) != 0,
                                  (style_ & fsUnderline) != 0, (style_ & fsStrikeOut) != 0, charset_, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitch, name_.c_str()));
        if (!handle_) handle_.reset(GetStockObject(DEFAULT_GUI_FONT));
    }
    return static_cast<HFONT>(handle_.get());
}

// ---- TPen, TBrush ---------------------------------------------------------------------

TPen::~TPen() { Reset(); }
void TPen::Reset() {
    handle_.reset();
}
void TPen::SetColor(TColor v) { if (v != color_) { color_ = v; Reset(); } }
void TPen::SetWidth(int v) { if (v != width_) { width_ = v; Reset(); } }
void TPen::SetStyle(TPenStyle v) { if (v != style_) { style_ = v; Reset(); } }
HPEN TPen::Handle() const {
    if (!handle_) {
        const int style = style_ == TPenStyle::psDash  ? PS_DASH
                          : style_ == TPenStyle::psDot ? PS_DOT
                          : style_ == TPenStyle::psClear ? PS_NULL
                                                         : PS_SOLID;
        handle_.reset(GDICheck(CreatePen(style, width_, ColorToRGB(color_))));
    }
    return static_cast<HPEN>(handle_.get());
}

TBrush::~TBrush() { Reset(); }
void TBrush::Reset() {
    handle_.reset();
}
// Drawing code sets the colour it means to fill with after text drawing left the brush clear.
void TBrush::SetColor(TColor v) {
    if (v == color_ && style_ != TBrushStyle::bsClear) return;
    color_ = v;
    style_ = TBrushStyle::bsSolid;
    Reset();
}
void TBrush::SetStyle(TBrushStyle v) { if (v != style_) { style_ = v; Reset(); } }
HBRUSH TBrush::Handle() const {
    if (!handle_) {
        if (style_ == TBrushStyle::bsClear) {
            LOGBRUSH lb{BS_NULL, 0, 0};
            handle_.reset(GDICheck(CreateBrushIndirect(&lb)));
        } else {
            handle_.reset(GDICheck(CreateSolidBrush(ColorToRGB(color_))));
        }
    }
    return static_cast<HBRUSH>(handle_.get());
}

// ---- TCanvas --------------------------------------------------------------------------

TCanvas::~TCanvas() { Deselect(); }

HDC TCanvas::Handle() {
    if (!dc_) CreateHandle();
    if (!dc_) throw EInvalidGraphic("Canvas does not allow drawing");
    return dc_;
}

void TCanvas::Deselect() {
    if (!dc_) return;
    if (oldPen_) SelectObject(dc_, oldPen_);
    if (oldBrush_) SelectObject(dc_, oldBrush_);
    if (oldFont_) SelectObject(dc_, oldFont_);
    oldPen_ = oldBrush_ = oldFont_ = nullptr;
}

void TCanvas::SetHandle(HDC dc) {
    if (dc == dc_) return;
    Deselect();
    dc_ = dc;
}

void TCanvas::SetOwnedHandle(HDC dc) { SetHandle(dc); }

void TCanvas::RequireAll() {
    HDC dc = Handle();
    // Deselect first: a pen, brush or font re-created since the last call may only be
    // deleted once it is no longer selected.
    Deselect();
    HGDIOBJ p = SelectObject(dc, pen_.Handle());
    HGDIOBJ b = SelectObject(dc, brush_.Handle());
    HGDIOBJ f = SelectObject(dc, font_.Handle());
    oldPen_ = p, oldBrush_ = b, oldFont_ = f;
    SetTextColor(dc, ColorToRGB(font_.Color()));
    if (brush_.Style() == TBrushStyle::bsClear) {
        SetBkMode(dc, TRANSPARENT);
    } else {
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, ColorToRGB(brush_.Color()));
    }
}

void TCanvas::FillRect(const RECT& r) {
    RequireAll();
    ::FillRect(dc_, &r, brush_.Handle());
}

void TCanvas::FrameRect(const RECT& r) {
    RequireAll();
    ::FrameRect(dc_, &r, brush_.Handle());
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    RequireAll();
    ::Rectangle(dc_, x1, y1, x2, y2);
}

void TCanvas::MoveTo(int x, int y) {
    RequireAll();
    MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
    RequireAll();
    ::LineTo(dc_, x, y);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    RequireAll();
    ::TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
}

SIZE TCanvas::TextExtent(const std::string& text) {
    RequireAll();
    SIZE s{0, 0};
    GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &s);
    return s;
}

void TCanvas::DrawFocusRect(const RECT& r) {
    RequireAll();
    ::DrawFocusRect(dc_, &r);
}

COLORREF TCanvas::Pixel(int x, int y) { return GetPixel(Handle(), x, y); }
void TCanvas::SetPixel(int x, int y, TColor color) { ::SetPixel(Handle(), x, y, ColorToRGB(color)); }

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
    if (graphic.Empty()) return;
    RECT r{x, y, x + graphic.Width(), y + graphic.Height()};
    graphic.Draw(*this, r);
}

void TCanvas::StretchDraw(const RECT& r, TGraphic& graphic) {
    if (!graphic.Empty()) graphic.Draw(*this, r);
}

void TCanvas::CopyRect(const RECT& dest, TCanvas& source, const RECT& src) {
    RequireAll();
    StretchBlt(dc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, source.Handle(), src.left,
               src.top, src.right - src.left, src.bottom - src.top, copyMode_);
}

// ---- TGraphic -------------------------------------------------------------------------

void TGraphic::Changed() {
    if (OnChange) OnChange(this);
}

void TGraphic::SetTransparent(bool v) {
    if (v != transparent_) {
        transparent_ = v;
        Changed();
    }
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream s(fileName, TFileMode::fmOpenRead);
    LoadFromStream(s);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    TFileStream s(fileName, TFileMode::fmCreate);
    SaveToStream(s);
}

// ---- TBitmap --------------------------------------------------------------------------

class TBitmap::BitmapCanvas : public TCanvas {
public:
    explicit BitmapCanvas(TBitmap& owner) : owner_(owner) {}
    ~BitmapCanvas() override { Free(); }
    void Free() {
        if (!mem_) return;
        Deselect();
        bitmapSelected_.reset();
        dc_ = nullptr;
        mem_.reset();
    }

protected:
    void CreateHandle() override {
        if (mem_ || !owner_.bitmap_) return;
        TMemoryDC mem = CreateMemoryDC();
        GDICheck(mem.get());
        mem_ = std::move(mem);
        bitmapSelected_.emplace(mem_.get(), owner_.bitmap_);
        SetOwnedHandle(mem_.get());
    }

private:
    TBitmap& owner_;
    TMemoryDC mem_;
    std::optional<TSelectObject> bitmapSelected_;  // the bitmap, until the DC goes
};

const TGraphicClass& TBitmap::Class() {
    static const TGraphicClass c{"TBitmap", [] { return std::unique_ptr<TGraphic>(new TBitmap); }};
    return c;
}

TBitmap::TBitmap() = default;
TBitmap::TBitmap(int width, int height, TPixelFormat format) { Create(width, height, format); }
TBitmap::~TBitmap() {
    canvas_.reset();
    if (bitmap_) DeleteObject(bitmap_);
}

namespace {
int BitsOf(TPixelFormat f) {
    switch (f) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf32bit: return 32;
        default: return 24;
    }
}
TPixelFormat FormatOf(int bits) {
    switch (bits) {
        case 1: return TPixelFormat::pf1bit;
        case 4: return TPixelFormat::pf4bit;
        case 8: return TPixelFormat::pf8bit;
        case 24: return TPixelFormat::pf24bit;
        case 32: return TPixelFormat::pf32bit;
        default: return TPixelFormat::pfDevice;
    }
}

// A DIB header with a grey (or black and white) colour table for palettised depths.
struct DibInfo {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
};
void FillInfo(DibInfo& bi, int w, int h, int bits) {
    std::memset(&bi, 0, sizeof bi);
    bi.h.biSize = sizeof(BITMAPINFOHEADER);
    bi.h.biWidth = w;
    bi.h.biHeight = h;
    bi.h.biPlanes = 1;
    bi.h.biBitCount = static_cast<WORD>(bits);
    bi.h.biCompression = BI_RGB;
    if (bits <= 8) {
        const int n = 1 << bits;
        bi.h.biClrUsed = static_cast<DWORD>(n);
        for (int i = 0; i < n; ++i) {
            const BYTE v = static_cast<BYTE>(i * 255 / (n - 1));
            bi.colors[i] = RGBQUAD{v, v, v, 0};
        }
    }
}
}  // namespace

void TBitmap::Reset(HBITMAP bitmap, int w, int h, TPixelFormat f, void* bits) {
    if (canvas_) canvas_->Free();
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = bitmap, width_ = w, height_ = h, format_ = f, bits_ = bits;
}

void TBitmap::Create(int w, int h, TPixelFormat f) {
    if (w <= 0 || h <= 0) {
        Reset(nullptr, 0, 0, f, nullptr);
        return;
    }
    HBITMAP bmp = nullptr;
    void* bits = nullptr;
    if (f == TPixelFormat::pfDevice) {
        const UniqueWindowDC screen;
        bmp = CreateCompatibleBitmap(screen.get(), w, h);
    } else {
        DibInfo bi;
        FillInfo(bi, w, h, BitsOf(f));
        bmp = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
    }
    GDICheck(bmp);
    Reset(bmp, w, h, f, bits);
    // A new bitmap starts white, as a blank page would.
    RECT r{0, 0, w, h};
    Canvas().Brush().SetColor(clWhite);
    Canvas().FillRect(r);
}

void TBitmap::SetSize(int w, int h) {
    if (w == width_ && h == height_) return;
    if (!bitmap_ || w <= 0 || h <= 0) {
        Create(w, h, format_);
    } else {
        // Keep what fits of the old picture.
        TBitmap old;
        old.Reset(ReleaseHandle(), width_, height_, format_, bits_);
        Create(w, h, format_);
        BitBlt(Canvas().Handle(), 0, 0, std::min(w, old.width_), std::min(h, old.height_), old.Canvas().Handle(),
               0, 0, SRCCOPY);
    }
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat f) {
    if (f == format_) return;
    if (!bitmap_) {
        format_ = f;
        return;
    }
    TBitmap old;
    const int w = width_, h = height_;
    old.Reset(ReleaseHandle(), w, h, format_, bits_);
    Create(w, h, f);
    BitBlt(Canvas().Handle(), 0, 0, w, h, old.Canvas().Handle(), 0, 0, SRCCOPY);
    Changed();
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<BitmapCanvas>(*this);
    return *canvas_;
}

void TBitmap::SetHandle(HBITMAP bitmap) {
    if (!bitmap) {
        Reset(nullptr, 0, 0, format_, nullptr);
        Changed();
        return;
    }
    DIBSECTION ds{};
    const int got = GetObjectA(bitmap, sizeof ds, &ds);
    if (got == sizeof(DIBSECTION)) {
        Reset(bitmap, ds.dsBm.bmWidth, std::abs(ds.dsBm.bmHeight), FormatOf(ds.dsBm.bmBitsPixel), ds.dsBm.bmBits);
    } else {
        BITMAP bm{};
        GetObjectA(bitmap, sizeof bm, &bm);
        Reset(bitmap, bm.bmWidth, bm.bmHeight, bm.bmBitsPixel == 1 ? TPixelFormat::pf1bit : TPixelFormat::pfDevice,
              nullptr);
    }
    Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
    if (canvas_) canvas_->Free();
    HBITMAP b = bitmap_;
    bitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
    return b;
}

TColor TBitmap::TransparentColor() {
    if (transparentColor_ != clDefault) return transparentColor_;
    if (!bitmap_) return clNone;
    return static_cast<TColor>(Canvas().Pixel(0, height_ - 1) & 0xFFFFFF);
}

void* TBitmap::ScanLine(int y) {
    if (!bits_ || y < 0 || y >= height_) return nullptr;
    const int stride = ((width_ * BitsOf(format_) + 31) / 32) * 4;
    return static_cast<char*>(bits_) + static_cast<ptrdiff_t>(height_ - 1 - y) * stride;
}

void TBitmap::Draw(TCanvas& canvas, const RECT& r) {
    if (!bitmap_) return;
    HDC dst = canvas.Handle();
    HDC src = Canvas().Handle();
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (Transparent()) {
        TransparentBlt(dst, r.left, r.top, w, h, src, 0, 0, width_, height_, ColorToRGB(TransparentColor()));
    } else {
        StretchBlt(dst, r.left, r.top, w, h, src, 0, 0, width_, height_, canvas.CopyMode());
    }
}

void TBitmap::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    BITMAPFILEHEADER fh;
    stream.ReadBuffer(&fh, sizeof fh);
    if (fh.bfType != 0x4D42) throw EInvalidGraphic("Bitmap image is not valid");
    BITMAPINFOHEADER ih;
    stream.ReadBuffer(&ih, sizeof ih);
    if (ih.biSize < sizeof ih || ih.biWidth <= 0 || ih.biHeight == 0 || ih.biPlanes != 1 ||
        ih.biCompression != BI_RGB || ih.biWidth > 32768 || std::abs(ih.biHeight) > 32768)
        throw EInvalidGraphic("Bitmap image is not valid");
    const int bits = ih.biBitCount;
    if (FormatOf(bits) == TPixelFormat::pfDevice) throw EInvalidGraphic("Bitmap image is not valid");
    stream.Seek(ih.biSize - sizeof ih, TSeekOrigin::soCurrent);
    DibInfo bi;
    FillInfo(bi, ih.biWidth, ih.biHeight, bits);
    bi.h.biClrUsed = ih.biClrUsed;
    if (bits <= 8) {
        DWORD n = ih.biClrUsed ? ih.biClrUsed : (1u << bits);
        if (n > (1u << bits)) throw EInvalidGraphic("Bitmap image is not valid");
        stream.ReadBuffer(bi.colors, n * sizeof(RGBQUAD));
        bi.h.biClrUsed = n;
    }
    if (fh.bfOffBits) stream.SetPosition(start + fh.bfOffBits);
    const int h = std::abs(ih.biHeight);
    const int64_t stride = ((static_cast<int64_t>(ih.biWidth) * bits + 31) / 32) * 4;
    std::string data(static_cast<size_t>(stride * h), '\0');
    stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    void* dib = nullptr;
    HBITMAP bmp = GDICheck(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &dib, nullptr, 0));
    if (ih.biHeight > 0) {
        std::memcpy(dib, data.data(), data.size());
    } else {  // top-down file rows into a bottom-up section
        for (int y = 0; y < h; ++y)
            std::memcpy(static_cast<char*>(dib) + (h - 1 - y) * stride, data.data() + y * stride, static_cast<size_t>(stride));
    }
    bi.h.biHeight = h;
    Reset(bmp, ih.biWidth, h, FormatOf(bits), dib);
    Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
    if (!bitmap_) return;
    const int bits = format_ == TPixelFormat::pfDevice ? 24 : BitsOf(format_);
    DibInfo bi;
    FillInfo(bi, width_, height_, bits);
    const int colors = bits <= 8 ? (1 << bits) : 0;
    const int64_t stride = ((static_cast<int64_t>(width_) * bits + 31) / 32) * 4;
    std::string data(static_cast<size_t>(stride * height_), '\0');
    if (canvas_) canvas_->Free();  // GetDIBits wants the bitmap deselected
    GetDIBits(UniqueWindowDC().get(), bitmap_, 0, static_cast<UINT>(height_), data.data(),
              reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    bi.h.biClrUsed = static_cast<DWORD>(colors);
    bi.h.biSizeImage = static_cast<DWORD>(data.size());
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = static_cast<DWORD>(sizeof fh + sizeof(BITMAPINFOHEADER) + colors * sizeof(RGBQUAD));
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(data.size());
    stream.WriteBuffer(&fh, sizeof fh);
    stream.WriteBuffer(&bi.h, sizeof bi.h);
    stream.WriteBuffer(bi.colors, colors * sizeof(RGBQUAD));
    stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

bool TBitmap::Assign(const TGraphic& source) {
    auto* src = dynamic_cast<const TBitmap*>(&source);
    if (!src) return false;
    if (src == this) return true;
    auto& s = const_cast<TBitmap&>(*src);
    DIBSECTION ds{};
    if (s.bitmap_ && s.bits_ && GetObjectA(s.bitmap_, sizeof ds, &ds) == sizeof ds) {
        // A blit would map a palettised source through the new section's own table: copy
        // the source's table and bits instead.
        struct {
            BITMAPINFOHEADER h;
            RGBQUAD colors[256];
        } bi{};
        bi.h = ds.dsBmih;
        bi.h.biSize = sizeof bi.h;
        const int bits = ds.dsBmih.biBitCount;
        if (bits <= 8) {
            const UINT n = GetDIBColorTable(s.Canvas().Handle(), 0, 1u << bits, bi.colors);
            bi.h.biClrUsed = n;
        } else if (ds.dsBmih.biCompression == BI_BITFIELDS) {
            std::memcpy(bi.colors, ds.dsBitfields, sizeof ds.dsBitfields);
        }
        void* dib = nullptr;
        HBITMAP copy =
            GDICheck(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &dib, nullptr, 0));
        GdiFlush();  // drawing queued on the source reaches its bits first
        const size_t stride = ((static_cast<size_t>(ds.dsBm.bmWidth) * bits + 31) / 32) * 4;
        std::memcpy(dib, ds.dsBm.bmBits, stride * static_cast<size_t>(std::abs(ds.dsBm.bmHeight)));
        Reset(copy, s.width_, s.height_, s.format_, dib);
    } else {
        Create(s.width_, s.height_, s.format_);
        if (bitmap_) BitBlt(Canvas().Handle(), 0, 0, width_, height_, s.Canvas().Handle(), 0, 0, SRCCOPY);
    }
    transparentColor_ = s.transparentColor_;
    SetTransparent(s.Transparent());
    Changed();
    return true;
}

bool TBitmap::LoadFromResourceName(HINSTANCE instance, const std::string& name) {
    HRSRC res = FindResourceA(instance, name.c_str(), MAKEINTRESOURCEA(2));
    if (!res) return false;
    HGLOBAL g = LoadResource(instance, res);
    const DWORD size = SizeofResource(instance, res);
    const void* p = g ? LockResource(g) : nullptr;
    if (!p || size < sizeof(BITMAPINFOHEADER)) return false;
    // The resource is a bitmap file without its 14-byte file header.
    TMemoryStream s;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = static_cast<DWORD>(sizeof fh + size);
    s.WriteBuffer(&fh, sizeof fh);
    s.WriteBuffer(p, size);
    s.SetPosition(0);
    LoadFromStream(s);
    return true;
}

// ---- TIcon ----------------------------------------------------------------------------

const TGraphicClass& TIcon::Class() {
    static const TGraphicClass c{"TIcon", [] { return std::unique_ptr<TGraphic>(new TIcon); }};
    return c;
}

TIcon::~TIcon() = default;

void TIcon::SetHandle(HICON icon) {
    if (icon == icon_.get()) return;
    icon_.reset(icon);
    data_.clear();
    Changed();
}

HICON TIcon::ReleaseHandle() {
    HICON h = icon_.release();
    data_.clear();
    return h;
}

namespace {
SIZE IconSize(HICON icon) {
    SIZE s{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
    ICONINFO ii{};
    if (!icon || !GetIconInfo(icon, &ii)) return s;
    const TGdiObject color(ii.hbmColor), mask(ii.hbmMask);  // GetIconInfo hands over copies
    BITMAP bm{};
    if (ii.hbmColor && GetObjectA(ii.hbmColor, sizeof bm, &bm)) {
        s = {bm.bmWidth, bm.bmHeight};
    } else if (ii.hbmMask && GetObjectA(ii.hbmMask, sizeof bm, &bm)) {
        s = {bm.bmWidth, bm.bmHeight / 2};
    }
    return s;
}

#pragma pack(push, 1)
struct IconDirEntry {
    BYTE Width, Height, ColorCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInRes, ImageOffset;
};
#pragma pack(pop)
static_assert(sizeof(IconDirEntry) == 16);
}  // namespace

int TIcon::Width() const { return IconSize(icon_.get()).cx; }
int TIcon::Height() const { return IconSize(icon_.get()).cy; }

void TIcon::Draw(TCanvas& canvas, const RECT& r) {
    if (icon_) DrawIconEx(canvas.Handle(), r.left, r.top, icon_.get(), r.right - r.left, r.bottom - r.top, 0, nullptr, DI_NORMAL);
}

void TIcon::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    std::string bytes(static_cast<size_t>(std::max<int64_t>(0, size)), '\0');
    stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    auto word = [&](size_t at) { return static_cast<WORD>(static_cast<BYTE>(bytes[at]) | static_cast<BYTE>(bytes[at + 1]) << 8); };
    if (bytes.size() < 6 || word(0) != 0 || word(2) != 1 || word(4) == 0) throw EInvalidGraphic("Icon image is not valid");
    const int count = word(4);
    if (bytes.size() < 6 + 16u * count) throw EInvalidGraphic("Icon image is not valid");
    const int want = GetSystemMetrics(SM_CXICON);
    int best = -1, bestBits = -1;
    for (int i = 0; i < count; ++i) {
        IconDirEntry e;
        std::memcpy(&e, bytes.data() + 6 + 16 * i, sizeof e);
        if (e.ImageOffset >= bytes.size() || e.BytesInRes > bytes.size() - e.ImageOffset) continue;
        const int w = e.Width ? e.Width : 256;
        const int bits = e.BitCount ? e.BitCount : 8;
        const int score = (w == want ? 1000 : 0) + bits;
        if (best < 0 || score > bestBits) best = i, bestBits = score;
    }
    if (best < 0) throw EInvalidGraphic("Icon image is not valid");
    IconDirEntry e;
    std::memcpy(&e, bytes.data() + 6 + 16 * best, sizeof e);
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<PBYTE>(bytes.data() + e.ImageOffset), e.BytesInRes, TRUE,
                                          0x00030000, e.Width ? e.Width : 256, e.Height ? e.Height : 256, LR_DEFAULTCOLOR);
    if (!icon) throw EInvalidGraphic("Icon image is not valid");
    icon_.reset(icon);
    data_ = std::move(bytes);
    entry_ = best;
    Changed();
}

void TIcon::SaveToStream(TStream& stream) {
    if (!data_.empty()) {
        stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
        return;
    }
    if (!icon_) return;
    ICONINFO ii{};
    if (!GetIconInfo(icon_.get(), &ii)) throw EInvalidGraphic("Icon image is not valid");
    TGdiObject colorObj(ii.hbmColor), maskObj(ii.hbmMask);
    HBITMAP color = ii.hbmColor, mask = ii.hbmMask;
    BITMAP bm{};
    GetObjectA(mask, sizeof bm, &bm);
    const int w = bm.bmWidth;
    const int h = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    const UniqueWindowDC screenDC;
    HDC screen = screenDC.get();
    const int colorBits = ii.hbmColor ? 32 : 1;
    const int colorStride = ((w * colorBits + 31) / 32) * 4, maskStride = ((w + 31) / 32) * 4;
    std::string xorBits, andBits;
    DibInfo bi;
    if (ii.hbmColor) {
        xorBits.resize(static_cast<size_t>(colorStride) * h);
        FillInfo(bi, w, h, 32);
        GetDIBits(screen, color, 0, static_cast<UINT>(h), xorBits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
        andBits.resize(static_cast<size_t>(maskStride) * h);
        FillInfo(bi, w, h, 1);
        GetDIBits(screen, mask, 0, static_cast<UINT>(h), andBits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    } else {
        // A monochrome icon's mask holds the AND half above the XOR half; bottom-up rows
        // give the XOR rows first, as the icon file stores them.
        std::string both(static_cast<size_t>(maskStride) * h * 2, '\0');
        FillInfo(bi, w, h * 2, 1);
        GetDIBits(screen, mask, 0, static_cast<UINT>(h * 2), both.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
        xorBits = both.substr(0, both.size() / 2);
        andBits = both.substr(both.size() / 2);
    }
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = w;
    ih.biHeight = h * 2;
    ih.biPlanes = 1;
    ih.biBitCount = static_cast<WORD>(colorBits);
    const int paletteBytes = colorBits == 1 ? 8 : 0;
    const DWORD imageSize = static_cast<DWORD>(sizeof ih + paletteBytes + xorBits.size() + andBits.size());
    const WORD dir[3] = {0, 1, 1};
    IconDirEntry e{static_cast<BYTE>(w >= 256 ? 0 : w), static_cast<BYTE>(h >= 256 ? 0 : h),
                   static_cast<BYTE>(colorBits == 1 ? 2 : 0), 0, 1, static_cast<WORD>(colorBits), imageSize, 22};
    stream.WriteBuffer(dir, sizeof dir);
    stream.WriteBuffer(&e, sizeof e);
    stream.WriteBuffer(&ih, sizeof ih);
    if (paletteBytes) {
        const RGBQUAD bw[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        stream.WriteBuffer(bw, sizeof bw);
    }
    stream.WriteBuffer(xorBits.data(), static_cast<int64_t>(xorBits.size()));
    stream.WriteBuffer(andBits.data(), static_cast<int64_t>(andBits.size()));
}

bool TIcon::Assign(const TGraphic& source) {
    auto* src = dynamic_cast<const TIcon*>(&source);
    if (!src) return false;
    if (src == this) return true;
    icon_.reset(src->icon_ ? CopyIcon(src->icon_.get()) : nullptr);
    data_ = src->data_;
    entry_ = src->entry_;
    Changed();
    return true;
}

// ---- TMetafile ------------------------------------------------------------------------

const TGraphicClass& TMetafile::Class() {
    static const TGraphicClass c{"TMetafile", [] { return std::unique_ptr<TGraphic>(new TMetafile); }};
    return c;
}

TMetafile::~TMetafile() {
    if (emf_) DeleteEnhMetaFile(emf_);
}

void TMetafile::Draw(TCanvas& canvas, const RECT& r) {
    if (emf_) PlayEnhMetaFile(canvas.Handle(), emf_, &r);
}

void TMetafile::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    std::string b(static_cast<size_t>(std::max<int64_t>(0, size)), '\0');
    stream.ReadBuffer(b.data(), static_cast<int64_t>(b.size()));
    HENHMETAFILE emf = nullptr;
    if (b.size() >= 44 && b.compare(40, 4, " EMF") == 0) {
        emf = SetEnhMetaFileBits(static_cast<UINT>(b.size()), reinterpret_cast<const BYTE*>(b.data()));
    } else {
        size_t at = (b.size() >= 22 && b.compare(0, 4, "\xD7\xCD\xC6\x9A") == 0) ? 22 : 0;
        if (b.size() > at) emf = SetWinMetaFileBits(static_cast<UINT>(b.size() - at), reinterpret_cast<const BYTE*>(b.data() + at), nullptr, nullptr);
    }
    if (!emf) throw EInvalidGraphic("Metafile is not valid");
    ENHMETAHEADER h{};
    GetEnhMetaFileHeader(emf, sizeof h, &h);
    if (emf_) DeleteEnhMetaFile(emf_);
    emf_ = emf;
    width_ = h.rclBounds.right - h.rclBounds.left + 1;
    height_ = h.rclBounds.bottom - h.rclBounds.top + 1;
    Changed();
}

void TMetafile::SaveToStream(TStream& stream) {
    if (!emf_) return;
    const UINT n = GetEnhMetaFileBits(emf_, 0, nullptr);
    std::string b(n, '\0');
    GetEnhMetaFileBits(emf_, n, reinterpret_cast<BYTE*>(b.data()));
    stream.WriteBuffer(b.data(), n);
}

// ---- TPicture -------------------------------------------------------------------------

namespace {
struct ClipFormat {
    UINT Format;
    const TGraphicClass* GraphicClass;
};
struct PictureRegistry {
    std::vector<TPicture::FileFormat> files;
    std::vector<ClipFormat> clips;
    PictureRegistry() {
        files.push_back({"bmp", "Bitmaps", &TBitmap::Class()});
        files.push_back({"ico", "Icons", &TIcon::Class()});
        files.push_back({"emf", "Enhanced Metafiles", &TMetafile::Class()});
        files.push_back({"wmf", "Metafiles", &TMetafile::Class()});
        files.push_back({"jpeg", "JPEG Image File", &TJPEGImage::Class()});
        files.push_back({"jpg", "JPEG Image File", &TJPEGImage::Class()});
        clips.push_back({CF_BITMAP, &TBitmap::Class()});
        clips.push_back({CF_ENHMETAFILE, &TMetafile::Class()});
    }
};
PictureRegistry& Registry() {
    static PictureRegistry r;
    return r;
}
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

void TPicture::RegisterFileFormat(const std::string& ext, const std::string& description, const TGraphicClass& cls) {
    std::string e = Lower(ext);
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    Registry().files.insert(Registry().files.begin(), {e, description, &cls});
}

void TPicture::RegisterClipboardFormat(UINT format, const TGraphicClass& cls) {
    Registry().clips.insert(Registry().clips.begin(), {format, &cls});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass& cls) {
    auto& r = Registry();
    std::erase_if(r.files, [&](const FileFormat& f) { return f.GraphicClass == &cls; });
    std::erase_if(r.clips, [&](const ClipFormat& f) { return f.GraphicClass == &cls; });
}

const TGraphicClass* TPicture::FindExtension(const std::string& ext) {
    std::string e = Lower(ext);
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    for (const auto& f : Registry().files)
        if (f.Extension == e) return f.GraphicClass;
    return nullptr;
}

const TGraphicClass* TPicture::FindClipboardFormat(UINT format) {
    for (const auto& f : Registry().clips)
        if (f.Format == format) return f.GraphicClass;
    return nullptr;
}

std::vector<TPicture::FileFormat> TPicture::FileFormats() { return Registry().files; }

void TPicture::Changed() {
    if (OnChange) OnChange(this);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    graphic_ = std::move(graphic);
    if (graphic_) graphic_->OnChange = [this](TGraphic*) { Changed(); };
    Changed();
}

TBitmap& TPicture::Bitmap() {
    if (!dynamic_cast<TBitmap*>(graphic_.get())) SetGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap&>(*graphic_);
}

TIcon& TPicture::Icon() {
    if (!dynamic_cast<TIcon*>(graphic_.get())) SetGraphic(std::make_unique<TIcon>());
    return static_cast<TIcon&>(*graphic_);
}

void TPicture::LoadFromFile(const std::string& fileName) {
    const std::string ext = ExtractFileExt(fileName);
    const TGraphicClass* cls = FindExtension(ext);
    if (!cls || !cls->Create) throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
    auto g = cls->Create();
    g->LoadFromFile(fileName);
    SetGraphic(std::move(g));
}

}  // namespace framework
