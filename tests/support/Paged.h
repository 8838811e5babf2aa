// A component in pages of its own: Paged<T> is a T whose storage is committed pages that are
// made inaccessible, never released, when the object is deleted, so any use of the object
// after its delete faults at once instead of reading memory that still looks right.
//
// Delete it through any base pointer (the destructors are virtual): the most-derived
// class's operator delete runs, and that is this one.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>
#include <utility>

namespace testsupport {

inline void* PagedAllocate(std::size_t Size) {
    void* p = VirtualAlloc(nullptr, Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!p) throw std::bad_alloc();
    return p;
}

// The pages stay reserved, so no later allocation takes the address.
inline void PagedRelease(void* P, std::size_t Size) {
    if (!P) return;
    DWORD old = 0;
    VirtualProtect(P, Size, PAGE_NOACCESS, &old);
}

template <class T>
class Paged : public T {
public:
    template <class... Args>
    explicit Paged(Args&&... A) : T(std::forward<Args>(A)...) {}

    static void* operator new(std::size_t Size) { return PagedAllocate(Size); }
    static void operator delete(void* P, std::size_t Size) { PagedRelease(P, Size); }
};

}  // namespace testsupport
