#include "components/UxUtils.h"

#include <algorithm>
#include <cstring>

#include "framework/Jpeg.h"
#include "framework/SysUtils.h"

using namespace framework;

// ---- graphic signatures ---------------------------------------------------------------

const TGraphicClass& JPEGImageClass() { return TJPEGImage::Class(); }

namespace {
std::vector<std::unique_ptr<TGraphicSignature>>& Signatures() {
    static std::vector<std::unique_ptr<TGraphicSignature>> rows = [] {
        std::vector<std::unique_ptr<TGraphicSignature>> r;
        r.push_back(std::make_unique<TGraphicSignature>("BM", 0, &TBitmap::Class()));
        r.push_back(std::make_unique<TGraphicSignature>(std::string("\0\0\1\0", 4), 0, &TIcon::Class()));
        r.push_back(std::make_unique<TGraphicSignature>("\xD7\xCD", 0, &TMetafile::Class()));
        r.push_back(std::make_unique<TGraphicSignature>(std::string("\1\0", 2), 0, &TMetafile::Class()));
        r.push_back(std::make_unique<TGraphicSignature>("JFIF", 6, &JPEGImageClass()));
        r.push_back(std::make_unique<TGraphicSignature>("Exif", 6, &JPEGImageClass()));
        return r;
    }();
    return rows;
}
}  // namespace

const std::vector<std::unique_ptr<TGraphicSignature>>& GraphicSignatures() { return Signatures(); }

void AddGraphicSignature(const std::string& signature, int offset, const TGraphicClass* graphicClass) {
    if (signature.empty() || offset < 0 || !graphicClass) throw EUxException("Bad Graphic Signature");
    Signatures().push_back(std::make_unique<TGraphicSignature>(signature, offset, graphicClass));
}

void AddGraphicSignature(const std::vector<uint8_t>& signature, int offset, const TGraphicClass* graphicClass) {
    AddGraphicSignature(std::string(signature.begin(), signature.end()), offset, graphicClass);
}

// ---- utility window -------------------------------------------------------------------

namespace {
LRESULT CALLBACK UtilWindowDispatcher(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    auto code = reinterpret_cast<decltype(TWndMethod::Code)>(GetWindowLongPtrA(wnd, 0));
    if (!code) return DefWindowProcA(wnd, msg, w, l);
    void* object = reinterpret_cast<void*>(GetWindowLongPtrA(wnd, sizeof(LONG_PTR)));
    TMessage m{msg, w, l, 0};
    try {
        code(object, m);
    } catch (const std::exception& e) {
        HandleWndProcException(e);
    }
    return m.Result;
}
}  // namespace

HWND AllocateUtilityWindow(const std::string& className, TWndMethod method) {
    const std::string name = className.empty() ? std::string(UtilWindowExClassName) : className;
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    const bool registered = GetClassInfoA(inst, name.c_str(), &wc) != 0;
    if (!registered || wc.lpfnWndProc != DefWindowProcA) {
        if (registered) UnregisterClassA(name.c_str(), inst);
        wc = WNDCLASSA{};
        wc.style = 0;
        wc.lpfnWndProc = DefWindowProcA;
        wc.cbWndExtra = 2 * sizeof(LONG_PTR);  // the method's code and object
        wc.hInstance = inst;
        wc.lpszClassName = name.c_str();
        if (!RegisterClassA(&wc)) RaiseLastOSError();
    }
    HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, name.c_str(), "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
    if (!wnd) RaiseLastOSError();
    if (method.Code) {
        SetWindowLongPtrA(wnd, 0, reinterpret_cast<LONG_PTR>(method.Code));
        SetWindowLongPtrA(wnd, sizeof(LONG_PTR), reinterpret_cast<LONG_PTR>(method.Object));
        SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&UtilWindowDispatcher));
    }
    return wnd;
}

// ---- shell and windows ----------------------------------------------------------------

uint32_t Shell32Version() {
    static uint32_t cached = 0;
    if (cached) return cached;
    char path[MAX_PATH];
    if (!GetSystemDirectoryA(path, MAX_PATH)) return 0;
    const std::string file = std::string(path) + "\\shell32.dll";
    DWORD dummy = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &dummy);
    if (!size) return 0;
    std::string data(size, '\0');
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data())) return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &len) || !info) return 0;
    cached = info->dwFileVersionMS;
    return cached;
}

BOOL ShowWindowNoAnimation(HWND wnd, int cmdShow) {
    ANIMATIONINFO ai{};
    ai.cbSize = sizeof ai;  // 8 bytes
    if (SystemParametersInfoA(SPI_GETANIMATION, sizeof ai, &ai, 0) && ai.iMinAnimate) {
        ANIMATIONINFO off = ai;
        off.iMinAnimate = 0;
        SystemParametersInfoA(SPI_SETANIMATION, sizeof off, &off, 0);
        const BOOL r = ShowWindow(wnd, cmdShow);
        SystemParametersInfoA(SPI_SETANIMATION, sizeof ai, &ai, 0);
        return r;
    }
    return ShowWindow(wnd, cmdShow);
}

bool SwapComponentReference(TComponent* owner, TComponent* newComponent, TComponent*& field) {
    if (newComponent == field || !owner) return false;
    if (field) owner->RemoveFreeNotification(field);
    field = newComponent;
    if (field) owner->FreeNotification(field);
    return true;
}

bool SwapImageListReference(TComponent* owner, TCustomImageList* newList, TCustomImageList*& field,
                            TChangeLink* changeLink) {
    TCustomImageList* old = field;
    if (!SwapComponentReference(owner, newList, field)) return false;
    if (changeLink) {
        if (old) old->UnRegisterChanges(changeLink);
        if (newList) newList->RegisterChanges(changeLink);
    }
    return true;
}

// ---- transparent blits ----------------------------------------------------------------

void TransparentStretchBlt(HDC dst, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw, int sh,
                           COLORREF transparentColor, HPALETTE palette) {
    TMemoryDC copyDC = CreateMemoryDC(dst), maskDC = CreateMemoryDC(dst), invDC = CreateMemoryDC(dst),
              workDC = CreateMemoryDC(dst);
    GDICheck(copyDC.get() && maskDC.get() && invDC.get() && workDC.get());
    TGdiObject mask(GDICheck(CreateBitmap(sw, sh, 1, 1, nullptr)));
    TGdiObject inverse(GDICheck(CreateBitmap(sw, sh, 1, 1, nullptr)));
    TGdiObject work(GDICheck(CreateCompatibleBitmap(dst, dw, dh)));
    TGdiObject copy(GDICheck(CreateCompatibleBitmap(dst, sw, sh)));
    TSelectObject selMask(maskDC.get(), mask.get()), selInv(invDC.get(), inverse.get());
    TSelectObject selWork(workDC.get(), work.get()), selCopy(copyDC.get(), copy.get());
    HPALETTE oldPal[4] = {};
    HDC palDCs[4] = {dst, copyDC.get(), maskDC.get(), workDC.get()};
    if (palette) {
        for (int i = 0; i < 4; ++i) {
            oldPal[i] = SelectPalette(palDCs[i], palette, TRUE);
            RealizePalette(palDCs[i]);
        }
    }
    SetMapMode(src, GetMapMode(dst));
    SetMapMode(copyDC.get(), GetMapMode(dst));
    BitBlt(copyDC.get(), 0, 0, sw, sh, src, sx, sy, SRCCOPY);
    // Pixels of the transparent colour become 1 in the mask.
    const COLORREF oldBk = SetBkColor(copyDC.get(), 0x02000000 | (transparentColor & 0xFFFFFF));
    BitBlt(maskDC.get(), 0, 0, sw, sh, copyDC.get(), 0, 0, SRCCOPY);
    SetBkColor(copyDC.get(), oldBk);
    BitBlt(invDC.get(), 0, 0, sw, sh, maskDC.get(), 0, 0, NOTSRCCOPY);
    // Monochrome to colour: 1 -> background (white, keeps), 0 -> text (black, clears).
    for (HDC dc : {workDC.get(), copyDC.get()}) {
        SetBkColor(dc, RGB(255, 255, 255));
        SetTextColor(dc, RGB(0, 0, 0));
    }
    BitBlt(workDC.get(), 0, 0, dw, dh, dst, dx, dy, SRCCOPY);
    SetStretchBltMode(workDC.get(), GetStretchBltMode(dst));
    StretchBlt(workDC.get(), 0, 0, dw, dh, maskDC.get(), 0, 0, sw, sh, SRCAND);
    BitBlt(copyDC.get(), 0, 0, sw, sh, invDC.get(), 0, 0, SRCAND);
    StretchBlt(workDC.get(), 0, 0, dw, dh, copyDC.get(), 0, 0, sw, sh, SRCPAINT);
    BitBlt(dst, dx, dy, dw, dh, workDC.get(), 0, 0, SRCCOPY);
    if (palette)
        for (int i = 0; i < 4; ++i) SelectPalette(palDCs[i], oldPal[i], TRUE);
}

void DrawBitmapTransparentStretched(TCanvas& canvas, TBitmap& bitmap, TColor transparentColor, int dx, int dy,
                                    int dw, int dh, int sx, int sy, int sw, int sh) {
    if (bitmap.Empty()) return;
    if (dw < 1) dw = bitmap.Width();
    if (dh < 1) dh = bitmap.Height();
    if (sw < 1 || sh < 1) sx = 0, sy = 0, sw = bitmap.Width(), sh = bitmap.Height();
    HDC dst = canvas.Handle();
    if (!bitmap.Monochrome()) SetStretchBltMode(dst, STRETCH_DELETESCANS);
    TCanvas& bc = bitmap.Canvas();
    auto lock = LockScope(bc);
    // Drawing the bitmap is no change to it: its OnChange is parked for the blit and put back
    // (before the unlock) however the blit ends.
    struct ParkedOnChange {
        TBitmap& bitmap;
        decltype(TBitmap::OnChange) saved;
        ~ParkedOnChange() { bitmap.OnChange = std::move(saved); }
    } parked{bitmap, std::move(bitmap.OnChange)};
    bitmap.OnChange = nullptr;
    HDC src = bc.Handle();
    if (transparentColor == clNone) {
        StretchBlt(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, canvas.CopyMode());
    } else {
        COLORREF c;
        if (bitmap.Monochrome()) c = RGB(255, 255, 255);
        else if (transparentColor == clDefault) c = GetPixel(src, 0, bitmap.Height() - 1);
        else c = ColorToRGB(transparentColor);
        TransparentStretchBlt(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, c, bitmap.Palette());
    }
}

void DrawBitmapTransparentStretched(TCanvas& canvas, TBitmap& bitmap, TColor transparentColor, const RECT& d,
                                    const RECT& s) {
    DrawBitmapTransparentStretched(canvas, bitmap, transparentColor, d.left, d.top, d.right - d.left,
                                   d.bottom - d.top, s.left, s.top, s.right - s.left, s.bottom - s.top);
}

// ---- icons at real size ---------------------------------------------------------------

namespace {
#pragma pack(push, 1)
struct IconDirEntry {
    uint8_t Width, Height, ColorCount, Reserved;
    uint16_t Planes, BitCount;
    uint32_t BytesInRes, ImageOffset;
};
#pragma pack(pop)
static_assert(sizeof(IconDirEntry) == 16);

// The entry's image is a DIB (not a PNG) that lies inside the data.
bool UsableEntry(const std::string& data, const IconDirEntry& e) {
    if (e.ImageOffset > data.size() || e.BytesInRes > data.size() - e.ImageOffset) return false;
    if (e.BytesInRes < sizeof(BITMAPINFOHEADER)) return false;
    BITMAPINFOHEADER h;
    std::memcpy(&h, data.data() + e.ImageOffset, sizeof h);
    return h.biSize >= sizeof(BITMAPINFOHEADER) && h.biSize <= e.BytesInRes && h.biWidth > 0 && h.biHeight > 0 &&
           h.biPlanes == 1 && (h.biCompression == BI_RGB) &&
           (h.biBitCount == 1 || h.biBitCount == 4 || h.biBitCount == 8 || h.biBitCount == 16 ||
            h.biBitCount == 24 || h.biBitCount == 32);
}

HICON BuildIcon(const std::string& data, const IconDirEntry& e) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, data.data() + e.ImageOffset, sizeof h);
    const int w = h.biWidth, ht = h.biHeight / 2;
    if (ht <= 0) return nullptr;
    const uint64_t colors = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount)) : 0;
    const uint64_t colorStride = ((static_cast<uint64_t>(w) * h.biBitCount + 31) / 32) * 4;
    const uint64_t maskStride = ((static_cast<uint64_t>(w) + 31) / 32) * 4;
    const uint64_t need = h.biSize + colors * 4 + colorStride * ht + maskStride * ht;
    if (colors > 256 || need > e.BytesInRes) return nullptr;
    const char* base = data.data() + e.ImageOffset;
    std::string info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), '\0');
    std::memcpy(info.data(), base, sizeof h);
    auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    bih->biSize = sizeof(BITMAPINFOHEADER);
    bih->biHeight = ht;
    bih->biSizeImage = 0;
    std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), base + h.biSize, static_cast<size_t>(colors * 4));
    const char* colorBits = base + h.biSize + colors * 4;
    const char* maskBits = colorBits + colorStride * ht;

    TGdiObject colorObj;
    {
        UniqueWindowDC screen;
        GDICheck(screen.get());
        colorObj.reset(CreateDIBitmap(screen.get(), bih, CBM_INIT, colorBits,
                                      reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS));
    }
    GDICheck(colorObj.get());
    TGdiObject maskObj(GDICheck(CreateBitmap(w, ht, 1, 1, nullptr)));
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD c[2];
    } mi{};
    mi.h = *bih;
    mi.h.biBitCount = 1;
    mi.h.biClrUsed = 2;
    mi.c[1] = RGBQUAD{255, 255, 255, 0};
    {
        TMemoryDC dc = CreateMemoryDC();
        GDICheck(SetDIBits(dc.get(), static_cast<HBITMAP>(maskObj.get()), 0, static_cast<UINT>(ht), maskBits,
                           reinterpret_cast<BITMAPINFO*>(&mi), DIB_RGB_COLORS));
    }
    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmColor = static_cast<HBITMAP>(colorObj.get());
    ii.hbmMask = static_cast<HBITMAP>(maskObj.get());
    return GDICheck(CreateIconIndirect(&ii));
}
}  // namespace

HICON IconFromDirectory(const std::string& data, int screenBits) {
    if (data.size() < 6) return nullptr;
    uint16_t count;
    std::memcpy(&count, data.data() + 4, 2);
    std::vector<IconDirEntry> entries;
    for (int i = 0; i < count && 6 + 16u * (i + 1) <= data.size(); ++i) {
        IconDirEntry e;
        std::memcpy(&e, data.data() + 6 + 16 * i, sizeof e);
        if (UsableEntry(data, e)) entries.push_back(e);  // PNG images and bad offsets are left out
    }
    if (entries.empty()) return nullptr;
    // 2^(screen bits) held in 16 bits: 0 for true-colour screens. Shifted in 64 bits, so a
    // 32-bit screen gives 0 as well and not 1.
    const uint64_t full = screenBits >= 64 ? 0 : (uint64_t{1} << screenBits);
    const uint16_t wanted = static_cast<uint16_t>(full);
    const IconDirEntry* chosen = nullptr;
    for (const auto& e : entries)
        if (e.ColorCount == wanted) {
            chosen = &e;
            break;
        }
    if (!chosen) {
        const IconDirEntry* first = nullptr;
        for (const auto& e : entries) {
            if (!first) {
                if (e.ColorCount <= wanted) first = chosen = &e;
            } else if (e.ColorCount > first->ColorCount) {
                chosen = &e;
            }
        }
    }
    if (!chosen) chosen = &entries.front();
    return BuildIcon(data, *chosen);
}

void DrawIconAtRealSize(TCanvas& canvas, TIcon& icon, int x, int y) {
    TMemoryStream ms;
    icon.SaveToStream(ms);
    uint16_t header[3] = {0, 0, 0};
    if (ms.Bytes().size() >= 6) std::memcpy(header, ms.Memory(), 6);
    UniqueIcon h;
    if (icon.Empty() || header[1] == 0) {
        h.reset(CopyIcon(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION))));
    } else if (header[1] == 1) {
        int bits = 0;
        {
            UniqueWindowDC screen;
            GDICheck(screen.get());
            bits = GetDeviceCaps(screen.get(), PLANES) * GetDeviceCaps(screen.get(), BITSPIXEL);
        }
        h.reset(IconFromDirectory(ms.Bytes(), bits));
        if (!h) h.reset(CopyIcon(icon.Handle()));
    } else {
        h.reset(CopyIcon(icon.Handle()));
    }
    GDICheck(h.get());
    int w = GetSystemMetrics(SM_CXICON), ht = GetSystemMetrics(SM_CYICON);
    ICONINFO ii{};
    if (GetIconInfo(h.get(), &ii)) {
        TGdiObject color(ii.hbmColor), mask(ii.hbmMask);  // GetIconInfo hands over copies
        BITMAP bm{};
        if (ii.hbmColor && GetObjectA(ii.hbmColor, sizeof bm, &bm)) w = bm.bmWidth, ht = bm.bmHeight;
        else if (ii.hbmMask && GetObjectA(ii.hbmMask, sizeof bm, &bm)) w = bm.bmWidth, ht = bm.bmHeight / 2;
    }
    DrawIconEx(canvas.Handle(), x, y, h.get(), w, ht, 0, nullptr, DI_NORMAL);
}

// ---- wrappers -------------------------------------------------------------------------

int UxDrawText(TCanvas& canvas, const std::string& text, RECT& rect, UINT flags) {
    canvas.RequireAll();
    std::string buf = text;
    return DrawTextA(canvas.Handle(), buf.data(), static_cast<int>(buf.size()), &rect, flags & ~UINT(DT_MODIFYSTRING));
}

BOOL UxBitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
    return BitBlt(dst, x, y, w, h, src, sx, sy, rop);
}

HDC CreateScreenCompatibleDC() { return CreateCompatibleDC(nullptr); }
LONG_PTR UxGetWindowLong(HWND wnd, int index) { return GetWindowLongPtrA(wnd, index); }
LONG_PTR UxSetWindowLong(HWND wnd, int index, LONG_PTR value) { return SetWindowLongPtrA(wnd, index, value); }

void Win32Check(BOOL result) {
    if (!result) RaiseLastOSError();
}
