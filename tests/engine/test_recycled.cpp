// Memory of earlier calls handed out again: blocks come back aligned and to
// requests of their own size only, no more than kRecycledBytes is kept, a
// spectrum computed in memory that another series' call left behind has
// the bits of one computed first, and a call after the first on a long
// series faults in few fresh pages.
#include "fasogram/spectrum.hpp"
#include "recycled.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace fasogram {
namespace {

using detail::give_recycled;
using detail::kRecycledBytes;
using detail::kRecycledFrom;
using detail::recycled_bytes;
using detail::RecycledVector;
using detail::take_recycled;

// Holds every kept block while a test counts them: the tests before it in
// the same process may have left some, and blocks given back past the limit
// would push the oldest out.  Filling the pool with blocks of 1 MB pushes
// out every other; those are then taken and held, and given back at the end.
class EmptiedPool {
  public:
    EmptiedPool() {
        for (std::size_t i = 0; i < kRecycledBytes / kMb; ++i) held_.push_back(take_recycled(kMb));
        for (void* b : held_) give_recycled(b, kMb);
        held_.clear();
        while (recycled_bytes() > 0) held_.push_back(take_recycled(kMb));
    }
    ~EmptiedPool() {
        for (void* b : held_) give_recycled(b, kMb);
    }
    EmptiedPool(const EmptiedPool&) = delete;
    EmptiedPool& operator=(const EmptiedPool&) = delete;

  private:
    static constexpr std::size_t kMb = std::size_t{1} << 20;
    std::vector<void*> held_;
};

TEST(Recycled, BlocksComeBackAlignedToRequestsOfTheirOwnSize) {
    const EmptiedPool emptied;
    const std::size_t before = recycled_bytes();
    ASSERT_EQ(before, 0u);
    void* a = take_recycled(kRecycledFrom);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 64, 0u);
    std::memset(a, 0x5a, kRecycledFrom);
    give_recycled(a, kRecycledFrom);
    EXPECT_EQ(recycled_bytes(), before + kRecycledFrom);
    // A request 64 bytes larger is not handed the kept block.
    void* b = take_recycled(kRecycledFrom + 64);
    EXPECT_NE(b, a);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 64, 0u);
    EXPECT_EQ(recycled_bytes(), before + kRecycledFrom);
    void* c = take_recycled(kRecycledFrom);
    EXPECT_EQ(c, a);
    EXPECT_EQ(recycled_bytes(), before);
    give_recycled(b, kRecycledFrom + 64);
    give_recycled(c, kRecycledFrom);
    EXPECT_EQ(recycled_bytes(), before + 2 * kRecycledFrom + 64);

    // Vectors below the threshold come and go as any other; at it they take
    // a kept block and give it back.
    const std::size_t kept = recycled_bytes();
    { RecycledVector<double> v(kRecycledFrom / sizeof(double) - 1, 1.0); }
    EXPECT_EQ(recycled_bytes(), kept);
    {
        RecycledVector<double> v(kRecycledFrom / sizeof(double), 1.0);
        EXPECT_EQ(static_cast<void*>(v.data()), c);
        EXPECT_EQ(recycled_bytes(), kept - kRecycledFrom);
    }
    EXPECT_EQ(recycled_bytes(), kept);
}

TEST(Recycled, NoMoreThanItsShareIsKeptTheOldestLeavingFirst) {
    constexpr std::size_t mb = std::size_t{1} << 20;
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < kRecycledBytes / mb + 3; ++i) blocks.push_back(take_recycled(mb));
    for (void* b : blocks) give_recycled(b, mb);
    EXPECT_EQ(recycled_bytes(), kRecycledBytes);
    // The latest given back are handed out first.
    void* again = take_recycled(mb);
    EXPECT_EQ(again, blocks.back());
    give_recycled(again, mb);
    // A block of the whole share is kept in place of all the others; one
    // larger is not kept at all.
    give_recycled(take_recycled(kRecycledBytes), kRecycledBytes);
    EXPECT_EQ(recycled_bytes(), kRecycledBytes);
    give_recycled(take_recycled(kRecycledBytes + 64), kRecycledBytes + 64);
    EXPECT_EQ(recycled_bytes(), kRecycledBytes);
    void* whole = take_recycled(kRecycledBytes);
    EXPECT_EQ(recycled_bytes(), 0u);
    give_recycled(whole, kRecycledBytes);
}

struct Series {
    std::vector<double> t, x;
};

// n points over 3000 nights, values from `seed`.
Series long_series(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Series s;
    for (std::size_t i = 0; i < n; ++i) {
        const double night = std::floor(3000.0 * static_cast<double>(i) / static_cast<double>(n));
        s.t.push_back(2450000.5 + night + 0.3 * u(rng));
        s.x.push_back(10.0 + std::cos(0.7 * s.t.back()) + u(rng));
    }
    std::sort(s.t.begin(), s.t.end());
    return s;
}

std::vector<SpectrumPoint> spectrum(const Series& s, const FrequencyGrid& grid, GridPath path) {
    SpectrumEngine engine(s.t, s.x, Window::square);
    EngineOptions o = engine.options();
    o.path = path;
    engine.set_options(o);
    std::vector<SpectrumPoint> out;
    engine.run(
        grid, [&](const SpectrumPoint& p) { out.push_back(p); }, 1);
    return out;
}

bool same_bits(const std::vector<SpectrumPoint>& a, const std::vector<SpectrumPoint>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i].rho, &b[i].rho, sizeof(double)) != 0 ||
            std::memcmp(&a[i].c2, &b[i].c2, sizeof(double)) != 0 ||
            std::memcmp(&a[i].c3, &b[i].c3, sizeof(double)) != 0)
            return false;
    return true;
}

TEST(Recycled, ASpectrumInMemoryAnotherSeriesLeftHasTheBitsOfOneComputedFirst) {
    // 20000 points: every per-point array of the series is kept.
    const Series a = long_series(20000, 1), b = long_series(20000, 2);
    ASSERT_GE(a.t.size() * sizeof(double), kRecycledFrom);
    const FrequencyGrid grid{0.001, 5.0, 20000, 0.0};
    for (const GridPath path : {GridPath::direct, GridPath::nufft}) {
        const std::vector<SpectrumPoint> first = spectrum(b, grid, path);
        ASSERT_EQ(first.size(), 20001u);
        EXPECT_FALSE(same_bits(spectrum(a, grid, path), first));
        EXPECT_GT(recycled_bytes(), 0u);
        EXPECT_TRUE(same_bits(spectrum(b, grid, path), first));
    }
}

long minor_faults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

TEST(Recycled, ACallAfterTheFirstOnALongSeriesFaultsInFewPages) {
    // About 17 MB of per-point arrays a call at 100000 points (over 4000
    // pages).
    const Series s = long_series(100000, 3);
    const FrequencyGrid grid{0.001, 5.0, 999, 0.0};
    spectrum(s, grid, GridPath::automatic);
    spectrum(s, grid, GridPath::automatic);
    const long before = minor_faults();
    spectrum(s, grid, GridPath::automatic);
    const long faults = minor_faults() - before;
    RecordProperty("faults", static_cast<int>(faults));
    EXPECT_LT(faults, 1000);
}

} // namespace
} // namespace fasogram
