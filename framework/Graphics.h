// Colours, fonts, pens, brushes, the canvas over a device context, and the graphic classes
// (TGraphic and its bitmap, icon and metafile), with TPicture and its registry of picture
// file formats. Each wraps the GDI object it stands for; handles are created on demand and
// owned by the object. GUI thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "framework/Handles.h"
#include "framework/Streams.h"

namespace framework {

// A colour: 0x00BBGGRR, or 0x80000000 | COLOR_xxx for a system colour.
using TColor = int32_t;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clBlack = 0x000000, clWhite = 0xFFFFFF, clSilver = 0xC0C0C0, clGray = 0x808080,
                        clRed = 0x0000FF, clLime = 0x00FF00, clBlue = 0xFF0000, clFuchsia = 0xFF00FF,
                        clYellow = 0x00FFFF, clNavy = 0x800000, clMaroon = 0x000080, clGreen = 0x008000,
                        clOlive = 0x008080, clTeal = 0x808000, clAqua = 0xFFFF00, clPurple = 0x800080;
constexpr TColor SysColor(int index) { return static_cast<TColor>(0x80000000u | static_cast<unsigned>(index)); }
inline constexpr TColor clWindowFrame = SysColor(COLOR_WINDOWFRAME), clInactiveCaption = SysColor(COLOR_INACTIVECAPTION),
                        clWindow = SysColor(COLOR_WINDOW), clWindowText = SysColor(COLOR_WINDOWTEXT),
                        clBtnFace = SysColor(COLOR_BTNFACE), clBtnShadow = SysColor(COLOR_BTNSHADOW),
                        clGrayText = SysColor(COLOR_GRAYTEXT), clBtnText = SysColor(COLOR_BTNTEXT),
                        clBtnHighlight = SysColor(COLOR_BTNHIGHLIGHT), clInfoBk = SysColor(COLOR_INFOBK),
                        clInfoText = SysColor(COLOR_INFOTEXT), clHighlight = SysColor(COLOR_HIGHLIGHT);

// The RGB value (system colours resolved; clNone and clDefault give black).
COLORREF ColorToRGB(TColor color);

class EOutOfResources : public Exception {
public:
    EOutOfResources() : Exception("Ressources système insuffisantes") {}
};
// Raises EOutOfResources when a GDI call returned nothing.
template <typename T>
T GDICheck(T value) {
    if (!value) throw EOutOfResources();
    return value;
}

// Font style bits.
enum : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum class TFontPitch { fpDefault, fpVariable, fpFixed };

class TFont {
public:
    TFont();
    ~TFont();
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;

    void Assign(const TFont& other);
    bool SameAs(const TFont& other) const;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& v);
    // Height in pixels (negative: character height); Size in points at the screen's DPI.
    int Height() const { return height_; }
    void SetHeight(int v);
    int Size() const;
    void SetSize(int points);
    unsigned Style() const { return style_; }
    void SetStyle(unsigned v);
    TColor Color() const { return color_; }
    void SetColor(TColor v);
    BYTE Charset() const { return charset_; }
    void SetCharset(BYTE v);
    TFontPitch Pitch() const { return pitch_; }
    void SetPitch(TFontPitch v);

    HFONT Handle() const;
    std::function<void(TFont*)> OnChange;

private:
    void Changed();

    std::string name_ = "MS Sans Serif";
    int height_ = -11;
    unsigned style_ = 0;
    TColor color_ = clWindowText;
    BYTE charset_ = DEFAULT_CHARSET;
    TFontPitch pitch_ = TFontPitch::fpDefault;
    mutable UniqueGdiObject handle_;  // made on first use
};

enum class TPenStyle { psSolid, psDash, psDot, psClear };
class TPen {
public:
    ~TPen();
    TColor Color() const { return color_; }
    void SetColor(TColor v);
    int Width() const { return width_; }
    void SetWidth(int v);
    TPenStyle Style() const { return style_; }
    void SetStyle(TPenStyle v);
    HPEN Handle() const;

private:
    void Reset();
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = TPenStyle::psSolid;
    mutable UniqueGdiObject handle_;  // made on first use
};

enum class TBrushStyle { bsSolid, bsClear };
class TBrush {
public:
    ~TBrush();
    TColor Color() const { return color_; }
    // Also makes a clear brush solid again, even with the colour it already has.
    void SetColor(TColor v);
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle v);
    HBRUSH Handle() const;

private:
    void Reset();
    TColor color_ = clWhite;
    TBrushStyle style_ = TBrushStyle::bsSolid;
    mutable UniqueGdiObject handle_;  // made on first use
};

class TGraphic;

// Drawing on a device context. The DC is either bound from outside (SetHandle: a paint or
// owner-draw request) or owned by the bitmap the canvas belongs to. The pen, brush and font
// are selected into the DC before each drawing call and deselected when the DC is unbound.
class TCanvas {
public:
    TCanvas() = default;
    virtual ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Handle();
    bool HandleAllocated() const { return dc_ != nullptr; }
    // Binds an outside DC (nullptr unbinds, restoring what was selected into it).
    void SetHandle(HDC dc);

    TFont& Font() { return font_; }
    TPen& Pen() { return pen_; }
    TBrush& Brush() { return brush_; }
    DWORD CopyMode() const { return copyMode_; }
    void SetCopyMode(DWORD rop) { copyMode_ = rop; }

    void FillRect(const RECT& r);
    void FrameRect(const RECT& r);
    void Rectangle(int x1, int y1, int x2, int y2);
    void Rectangle(const RECT& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void TextOut(int x, int y, const std::string& text);
    SIZE TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }
    void DrawFocusRect(const RECT& r);
    COLORREF Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);
    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const RECT& r, TGraphic& graphic);
    void CopyRect(const RECT& dest, TCanvas& source, const RECT& src);

    // Prepares the DC for a raw GDI call: pen, brush and font selected.
    void RequireAll();
    void Lock() { ++locks_; }
    void Unlock() { --locks_; }
    int LockCount() const { return locks_; }

protected:
    // An owning canvas (a bitmap's) creates its DC here.
    virtual void CreateHandle() {}
    void SetOwnedHandle(HDC dc);
    void Deselect();

    HDC dc_ = nullptr;

private:
    TFont font_;
    TPen pen_;
    TBrush brush_;
    DWORD copyMode_ = SRCCOPY;
    HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr, oldFont_ = nullptr;
    int locks_ = 0;
};

// A class of graphic: its name and how to make an empty instance.
struct TGraphicClass {
    const char* ClassName;
    std::unique_ptr<TGraphic> (*Create)();
};

// Base of the picture classes.
class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual const TGraphicClass& ClassType() const = 0;

    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int) {}
    virtual void SetHeight(int) {}
    virtual void Draw(TCanvas& canvas, const RECT& rect) = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    // Copies another graphic of the same class; false when it cannot.
    virtual bool Assign(const TGraphic& source) { return false; }
    virtual HPALETTE Palette() const { return nullptr; }

    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);

    std::function<void(TGraphic*)> OnChange;

protected:
    void Changed();

private:
    bool transparent_ = false;
};

class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf24bit, pf32bit };

// A bitmap held as a DIB section (or a monochrome DDB), with its own canvas over a memory DC.
class TBitmap : public TGraphic {
public:
    TBitmap();
    TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
    ~TBitmap() override;
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }

    bool Empty() const override { return bitmap_ == nullptr; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int w) override { SetSize(w, height_); }
    void SetHeight(int h) override { SetSize(width_, h); }
    void SetSize(int width, int height);
    TPixelFormat PixelFormat() const { return format_; }
    void SetPixelFormat(TPixelFormat f);
    bool Monochrome() const { return format_ == TPixelFormat::pf1bit; }

    TCanvas& Canvas();
    HBITMAP Handle() const { return bitmap_; }
    // Takes ownership of an HBITMAP (its size and depth are read from it).
    void SetHandle(HBITMAP bitmap);
    HBITMAP ReleaseHandle();
    HPALETTE Palette() const override { return nullptr; }
    // The colour set by SetTransparentColor, else ("automatic") the bottom-left pixel.
    TColor TransparentColor();
    // A fixed transparent colour; clDefault goes back to the automatic one.
    void SetTransparentColor(TColor color) { transparentColor_ = color; }
    // Address of row y of a DIB section (bottom-up rows); nullptr for a DDB.
    void* ScanLine(int y);

    void Draw(TCanvas& canvas, const RECT& rect) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // A faithful copy: a DIB section's header, colour table (or bit-field masks) and
    // pixels as they are, a device bitmap by a blit; the transparency settings too.
    bool Assign(const TGraphic& source) override;
    // A bitmap resource of the module (RT_BITMAP); false when absent.
    bool LoadFromResourceName(HINSTANCE instance, const std::string& name);

private:
    class BitmapCanvas;
    void Reset(HBITMAP bitmap, int w, int h, TPixelFormat f, void* bits);
    void Create(int w, int h, TPixelFormat f);

    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
    int width_ = 0, height_ = 0;
    TPixelFormat format_ = TPixelFormat::pf24bit;
    TColor transparentColor_ = clDefault;
    std::unique_ptr<BitmapCanvas> canvas_;
};

// An icon: an HICON, and the icon file's bytes when it came from a stream.
class TIcon : public TGraphic {
public:
    TIcon() = default;
    ~TIcon() override;
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }

    bool Empty() const override { return !icon_; }
    int Width() const override;
    int Height() const override;
    HICON Handle() const { return icon_.get(); }
    // The directory entry of the icon file that is shown; -1 when not from a file.
    int ImageIndex() const { return data_.empty() ? -1 : entry_; }
    // Takes ownership of the handle (nullptr empties the icon).
    void SetHandle(HICON icon);
    HICON ReleaseHandle();

    void Draw(TCanvas& canvas, const RECT& rect) override;
    // An icon file (type 1, "00 00 01 00"); the entry nearest the system icon size is used.
    void LoadFromStream(TStream& stream) override;
    // The original file bytes when loaded from a stream, else an icon file of the handle's
    // colour and mask bitmaps.
    void SaveToStream(TStream& stream) override;
    bool Assign(const TGraphic& source) override;

private:
    UniqueIcon icon_;
    std::string data_;
    int entry_ = -1;
};

// An enhanced metafile (a Windows metafile is converted on load).
class TMetafile : public TGraphic {
public:
    TMetafile() = default;
    ~TMetafile() override;
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }

    bool Empty() const override { return emf_ == nullptr; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    HENHMETAFILE Handle() const { return emf_; }
    void Draw(TCanvas& canvas, const RECT& rect) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

private:
    HENHMETAFILE emf_ = nullptr;
    int width_ = 0, height_ = 0;
};

// Holds one graphic of any registered class. The registry maps file extensions to classes
// (the graphic units add theirs at start and remove them at exit).
class TPicture {
public:
    TPicture() = default;

    TGraphic* Graphic() const { return graphic_.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The graphic as a bitmap / icon, replacing it with an empty one of that class when it
    // is something else.
    TBitmap& Bitmap();
    TIcon& Icon();
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }
    // By the file's extension; raises EInvalidGraphic "Unknown picture file extension (.x)".
    void LoadFromFile(const std::string& fileName);

    std::function<void(TPicture*)> OnChange;

    struct FileFormat {
        std::string Extension;  // without the dot, lower case
        std::string Description;
        const TGraphicClass* GraphicClass;
    };
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const TGraphicClass& graphicClass);
    static void RegisterClipboardFormat(UINT format, const TGraphicClass& graphicClass);
    static void UnregisterGraphicClass(const TGraphicClass& graphicClass);
    static const TGraphicClass* FindExtension(const std::string& extension);
    static const TGraphicClass* FindClipboardFormat(UINT format);
    static std::vector<FileFormat> FileFormats();

private:
    void Changed();
    std::unique_ptr<TGraphic> graphic_;
};

// The GDI owners under the names this layer has always used (see framework/Handles.h).
using TMemoryDC = UniqueMemoryDC;  // made by CreateMemoryDC()
using TGdiObject = UniqueGdiObject;
using TSelectObject = SelectScope;

// Binds an outside DC (a paint's, an owner-drawn item's) to a canvas for a scope; the
// canvas lets go of it however the scope ends, before the DC itself goes.
class CanvasHandleScope {
public:
    CanvasHandleScope(TCanvas& canvas, HDC dc) : canvas_(canvas) { canvas_.SetHandle(dc); }
    ~CanvasHandleScope() { canvas_.SetHandle(nullptr); }
    CanvasHandleScope(const CanvasHandleScope&) = delete;
    CanvasHandleScope& operator=(const CanvasHandleScope&) = delete;

private:
    TCanvas& canvas_;
};

}  // namespace framework
