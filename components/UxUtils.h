// Drawing, icon and window utilities of the Ux components: the hidden utility window that
// hands its messages to an object method, the shell32 version, ShowWindow without the
// minimise animation, reference swaps that keep removal notices and image-change links
// right, transparent stretched blits, drawing an icon at its real size, small text and
// blit wrappers, and the registry of graphic-file signatures. GUI thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"
#include "framework/Exception.h"
#include "framework/Graphics.h"
#include "framework/ImageList.h"

class EUxException : public framework::Exception {
public:
    using framework::Exception::Exception;
};

// One known file signature: these bytes at this offset mean this graphic class.
class TGraphicSignature {
public:
    TGraphicSignature(std::string signature, int offset, const framework::TGraphicClass* graphicClass)
        : Signature(std::move(signature)), Offset(offset), GraphicClass(graphicClass) {}
    std::string Signature;
    int Offset;
    const framework::TGraphicClass* GraphicClass;
};

// The registry, created with its default rows on first use.
const std::vector<std::unique_ptr<TGraphicSignature>>& GraphicSignatures();
// Raises EUxException "Bad Graphic Signature" for an empty signature, a negative offset or
// no class.
void AddGraphicSignature(const std::string& signature, int offset, const framework::TGraphicClass* graphicClass);
void AddGraphicSignature(const std::vector<uint8_t>& signature, int offset, const framework::TGraphicClass* graphicClass);

// An object method that receives window messages: code plus object, as the utility window
// keeps them in its two window longs.
struct TWndMethod {
    void (*Code)(void* object, framework::TMessage& msg) = nullptr;
    void* Object = nullptr;
};
template <typename T, void (T::*Method)(framework::TMessage&)>
TWndMethod MakeWndMethod(T* object) {
    return TWndMethod{[](void* o, framework::TMessage& m) { (static_cast<T*>(o)->*Method)(m); }, object};
}

inline constexpr char UtilWindowExClassName[] = "TUtilWindowEx";
// A hidden tool window (WS_EX_TOOLWINDOW, WS_POPUP, size 0) of the class (default
// "TUtilWindowEx"). With a method, every message goes to it and it sets the result itself;
// without one the window is a plain default-procedure window. Free with DestroyWindow.
HWND AllocateUtilityWindow(const std::string& className, TWndMethod method);

// The high 32 bits of shell32.dll's file version (5.0 = 0x00050000), 0 when unreadable;
// cached after the first non-zero answer.
uint32_t Shell32Version();

// ShowWindow with the minimise and restore animation switched off around it.
BOOL ShowWindowNoAnimation(HWND wnd, int cmdShow);

// Moves Field to NewComponent: the owner stops watching the old one and watches the new one.
// False (nothing done) when NewComponent is already there or there is no owner.
bool SwapComponentReference(framework::TComponent* owner, framework::TComponent* newComponent,
                            framework::TComponent*& field);
template <typename T>
bool SwapComponentReference(framework::TComponent* owner, T* newComponent, T*& field) {
    framework::TComponent* f = field;
    if (!SwapComponentReference(owner, newComponent, f)) return false;
    field = newComponent;
    return true;
}
// The same for an image list, moving the change link along.
bool SwapImageListReference(framework::TComponent* owner, framework::TCustomImageList* newList,
                            framework::TCustomImageList*& field, framework::TChangeLink* changeLink);

// Stretches the source rectangle onto the destination, leaving the pixels of the
// transparent colour undrawn.
void TransparentStretchBlt(HDC dst, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw, int sh,
                           COLORREF transparentColor, HPALETTE palette);

// Draws Bitmap stretched to (x, y, w, h) leaving its transparent colour out. A width or
// height below 1 takes the bitmap's (destination) or the whole bitmap (source). Colour
// clNone: a plain stretch; clDefault (0x20000000): the bottom-left pixel's colour; a
// monochrome bitmap always uses white.
void DrawBitmapTransparentStretched(framework::TCanvas& canvas, framework::TBitmap& bitmap,
                                    framework::TColor transparentColor, int dx, int dy, int dw, int dh, int sx,
                                    int sy, int sw, int sh);
void DrawBitmapTransparentStretched(framework::TCanvas& canvas, framework::TBitmap& bitmap,
                                    framework::TColor transparentColor, const RECT& dest, const RECT& source);

// Draws the icon at its own size: rebuilt from its directory for the entry that suits the
// screen's colour depth. GDI failures raise framework::EOutOfResources.
void DrawIconAtRealSize(framework::TCanvas& canvas, framework::TIcon& icon, int x, int y);
// The icon of the directory entry DrawIconAtRealSize would choose from icon-file bytes
// (nullptr when no entry holds a usable DIB image). ScreenBits is planes x bits per pixel.
HICON IconFromDirectory(const std::string& iconFile, int screenBits);

// Thin wrappers in the framework's argument order.
int UxDrawText(framework::TCanvas& canvas, const std::string& text, RECT& rect, UINT flags);
BOOL UxBitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop);
HDC CreateScreenCompatibleDC();
LONG_PTR UxGetWindowLong(HWND wnd, int index);
LONG_PTR UxSetWindowLong(HWND wnd, int index, LONG_PTR value);
// Raises the operating-system error (framework::EOSError) when Result is false.
void Win32Check(BOOL result);

// The class of JPEG pictures (framework::TJPEGImage, read and written through libjpeg).
const framework::TGraphicClass& JPEGImageClass();
