#include "recycled.hpp"

#include <pthread.h>

#include <cstdlib>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// A block kept for later is out of bounds until it is handed out again.
#define FASOGRAM_KEEP(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define FASOGRAM_HAND_OUT(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define FASOGRAM_KEEP(p, n) ((void)(p), (void)(n))
#define FASOGRAM_HAND_OUT(p, n) ((void)(p), (void)(n))
#endif

namespace fasogram::detail {

namespace {

struct Pool {
    std::mutex lock;
    std::vector<std::pair<std::size_t, void*>> kept; // latest last
    std::size_t bytes = 0;
};

// Never destroyed: blocks given back while the process exits (by other
// static objects' destructors) still find it.
Pool& pool() {
    static Pool* const p = [] {
        auto* q = new Pool;
        q->kept.reserve(kRecycledBytes / kRecycledFrom);
        // Held across fork(), so that a child never starts with the lock
        // taken by a thread it does not have.
        ::pthread_atfork([] { pool().lock.lock(); }, [] { pool().lock.unlock(); },
                         [] { pool().lock.unlock(); });
        return q;
    }();
    return *p;
}

} // namespace

void* take_recycled(std::size_t bytes) {
    Pool& p = pool();
    {
        std::lock_guard<std::mutex> hold(p.lock);
        for (auto it = p.kept.rbegin(); it != p.kept.rend(); ++it)
            if (it->first == bytes) {
                void* block = it->second;
                p.kept.erase(std::next(it).base());
                p.bytes -= bytes;
                FASOGRAM_HAND_OUT(block, bytes);
                return block;
            }
    }
    void* block = nullptr;
    if (::posix_memalign(&block, 64, bytes) != 0 || block == nullptr) throw std::bad_alloc();
    return block;
}

void give_recycled(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    if (bytes > kRecycledBytes || p.kept.size() == p.kept.capacity()) {
        // Too large to keep, or no room in the list without allocating.
        if (bytes > kRecycledBytes || p.kept.empty()) {
            std::free(block);
            return;
        }
        p.bytes -= p.kept.front().first;
        FASOGRAM_HAND_OUT(p.kept.front().second, p.kept.front().first);
        std::free(p.kept.front().second);
        p.kept.erase(p.kept.begin());
    }
    FASOGRAM_KEEP(block, bytes);
    p.kept.emplace_back(bytes, block);
    p.bytes += bytes;
    std::size_t drop = 0;
    while (p.bytes > kRecycledBytes) {
        p.bytes -= p.kept[drop].first;
        FASOGRAM_HAND_OUT(p.kept[drop].second, p.kept[drop].first);
        std::free(p.kept[drop].second);
        ++drop;
    }
    p.kept.erase(p.kept.begin(), p.kept.begin() + static_cast<std::ptrdiff_t>(drop));
}

std::size_t recycled_bytes() {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    return p.bytes;
}

} // namespace fasogram::detail
