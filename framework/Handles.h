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
}  // namespace detail

// A file, pipe or device handle (INVALID_HANDLE_VALUE when none).
using UniqueHandle = UniqueResource<detail::FileTraits>;
// A kernel handle whose "none" is NULL (events, threads, processes).
using UniqueKernelHandle = UniqueResource<detail::KernelTraits>;
using UniqueFindHandle = UniqueResource<detail::FindTraits>;
using UniqueHKey = UniqueResource<detail::KeyTraits>;
using UniqueHModule = UniqueResource<detail::ModuleTraits>;

// Converts an entry point looked up by name to its real function type.
template <typename F>
F ProcAs(FARPROC p) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

}  // namespace framework
