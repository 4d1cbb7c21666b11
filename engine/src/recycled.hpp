// Large per-call arrays from memory earlier calls gave back.  A spectrum of
// a long series takes a dozen arrays of a double or two per point (copies
// of the series, the transforms' positions, the fast sums' layout) and lets
// them go when it returns; the next call on a series of the same length
// would otherwise fault every one of their pages in again, which on long
// series and short grids is a tenth of the call.  Blocks of at least
// kRecycledFrom bytes are kept, 64-byte aligned, up to kRecycledBytes in
// all (the latest given back), and handed out again to a request of
// exactly their size; smaller ones come and go as any other.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

namespace fasogram::detail {

inline constexpr std::size_t kRecycledFrom = std::size_t{64} << 10;
inline constexpr std::size_t kRecycledBytes = std::size_t{64} << 20;

// A block of `bytes` (at least kRecycledFrom), 64-byte aligned; throws
// std::bad_alloc.
void* take_recycled(std::size_t bytes);
// Gives back a block take_recycled handed out for `bytes`.
void give_recycled(void* p, std::size_t bytes) noexcept;
// The bytes kept for the next calls (for the tests).
std::size_t recycled_bytes();

template <class T> struct Recycled {
    using value_type = T;
    Recycled() = default;
    template <class U> Recycled(const Recycled<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kRecycledFrom) return static_cast<T*>(::operator new(bytes));
        return static_cast<T*>(take_recycled(bytes));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kRecycledFrom)
            ::operator delete(p);
        else
            give_recycled(p, bytes);
    }
    friend bool operator==(const Recycled&, const Recycled&) { return true; }
};

template <class T> using RecycledVector = std::vector<T, Recycled<T>>;

} // namespace fasogram::detail
