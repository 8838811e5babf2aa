// RAII owners for Win32 handles, so no success path needs a bare CloseHandle and no early
// return leaks one.
#pragma once

#include <windows.h>

#include <utility>

namespace framework {

// Owns a handle; Traits gives its type, its "none" value and how to close it.
template <typename Traits>
class UniqueResource {
public:
    using H = typename Traits::Handle;

    UniqueResource() = default;
    explicit UniqueResource(H h) : h_(h) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& o) noexcept : h_(std::exchange(o.h_, Traits::Invalid())) {}
    UniqueResource& operator=(UniqueResource&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, Traits::Invalid()));
        return *this;
    }

    H get() const { return h_; }
    bool valid() const { return h_ != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }
    H release() { return std::exchange(h_, Traits::Invalid()); }
    void reset(H h = Traits::Invalid()) {
        if (h_ != Traits::Invalid()) Traits::Close(h_);
        h_ = h;
    }

private:
    H h_ = Traits::Invalid();
};

namespace detail {
struct FileTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};
struct KernelTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::CloseHandle(h); }
};
struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};
struct KeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};
struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};
struct MemoryDCTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};
struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DestroyIcon(h); }
};
}  // namespace detail

// A file, pipe or device handle (INVALID_HANDLE_VALUE when none).
using UniqueHandle = UniqueResource<detail::FileTraits>;
// A kernel handle whose "none" is NULL (events, threads, processes).
using UniqueKernelHandle = UniqueResource<detail::KernelTraits>;
using UniqueFindHandle = UniqueResource<detail::FindTraits>;
using UniqueHKey = UniqueResource<detail::KeyTraits>;
using UniqueHModule = UniqueResource<detail::ModuleTraits>;
// Any GDI object: bitmap, brush, pen, font, palette, region.
using UniqueGdiObject = UniqueResource<detail::GdiObjectTraits>;
// A DC made by CreateCompatibleDC (DeleteDC, never ReleaseDC).
using UniqueMemoryDC = UniqueResource<detail::MemoryDCTraits>;
using UniqueIcon = UniqueResource<detail::IconTraits>;

// A memory DC compatible with `compatible` (the screen when null); empty when GDI refuses.
[[nodiscard]] inline UniqueMemoryDC CreateMemoryDC(HDC compatible = nullptr) {
    return UniqueMemoryDC(::CreateCompatibleDC(compatible));
}

// A window's (or the screen's, for a null window) DC, released with the window it came from.
class UniqueWindowDC {
public:
    explicit UniqueWindowDC(HWND wnd = nullptr) : wnd_(wnd), dc_(::GetDC(wnd)) {}
    // The DC of the whole window, frame included (GetWindowDC).
    [[nodiscard]] static UniqueWindowDC WholeWindow(HWND wnd) { return UniqueWindowDC(wnd, ::GetWindowDC(wnd)); }
    ~UniqueWindowDC() {
        if (dc_) ::ReleaseDC(wnd_, dc_);
    }
    UniqueWindowDC(const UniqueWindowDC&) = delete;
    UniqueWindowDC& operator=(const UniqueWindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    UniqueWindowDC(HWND wnd, HDC dc) : wnd_(wnd), dc_(dc) {}
    HWND wnd_;
    HDC dc_;
};

// BeginPaint/EndPaint for one WM_PAINT; EndPaint runs however the handler leaves.
class PaintScope {
public:
    explicit PaintScope(HWND wnd) : wnd_(wnd), dc_(::BeginPaint(wnd, &ps_)) {}
    ~PaintScope() { ::EndPaint(wnd_, &ps_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC get() const { return dc_; }
    const PAINTSTRUCT& paint() const { return ps_; }

private:
    HWND wnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// Selects an object into a DC and puts the previous one back at the end of the scope, so the
// object can be deleted afterwards (GDI refuses to delete an object still selected).
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~SelectScope() {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;
    // What the DC held before; HGDI_ERROR or null when the selection failed.
    HGDIOBJ previous() const { return old_; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Holds anything with Lock()/Unlock() for a scope; an exception still unlocks.
template <typename L>
class ScopedLock {
public:
    explicit ScopedLock(L& l) : l_(l) { l_.Lock(); }
    ~ScopedLock() { l_.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    L& l_;
};

// `auto guard = LockScope(obj);`
template <typename L>
[[nodiscard]] ScopedLock<L> LockScope(L& l) {
    return ScopedLock<L>(l);
}

// Converts an entry point looked up by name to its real function type.
template <typename F>
F ProcAs(FARPROC p) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

}  // namespace framework
