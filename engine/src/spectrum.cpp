// The engine's public entries (argument checks, the series prepared for
// fitting, the run over a grid on many threads) and the eight-digit check.
#include "fasogram/spectrum.hpp"

#include "spectrum_internal.hpp"
#include "thread_pool.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>

namespace fasogram {

double two_pi() {
    return 8.0 * std::atan(1.0);
}

namespace detail {

namespace {

// The points in order of time (and of value, then of error, among equal
// times), so that the order of the input lines cannot change any result.
void sort_points(std::span<const double> t, std::span<const double> x,
                 std::span<const double> sigma, Prepared& p) {
    const bool errors = !sigma.empty();
    const auto before = [&](std::size_t a, std::size_t b) {
        if (t[a] != t[b]) return t[a] < t[b];
        if (x[a] != x[b]) return x[a] < x[b];
        return errors && sigma[a] < sigma[b];
    };
    // Series usually come in order already: then they are taken as they
    // are (points that compare equal are equal in every field).
    bool in_order = true;
    for (std::size_t i = 1; i < t.size() && in_order; ++i) in_order = !before(i, i - 1);
    if (in_order) {
        p.t.assign(t.begin(), t.end());
        p.x.assign(x.begin(), x.end());
        if (errors) p.sigma.assign(sigma.begin(), sigma.end());
        return;
    }
    std::vector<std::size_t> order(t.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), before);
    p.t.resize(t.size());
    p.x.resize(t.size());
    if (errors) p.sigma.resize(t.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        p.t[i] = t[order[i]];
        p.x[i] = x[order[i]];
        if (errors) p.sigma[i] = sigma[order[i]];
    }
}

// The errors scaled by the power of two that puts the smallest in [1/2, 1).
void scale_errors(Prepared& p) {
    if (p.sigma.empty()) return;
    const double smallest = *std::min_element(p.sigma.begin(), p.sigma.end());
    int e = 0;
    std::frexp(smallest, &e);
    for (double& s : p.sigma) s = std::ldexp(s, -e);
}

// The raw window weight of every point.  The Hanning weight
// 1 + cos(2 pi (t - t_mid)/D) is evaluated as 2 sin^2(pi d/D), d the distance
// to the nearer end of the series, so that it keeps its relative accuracy
// near the ends and is exactly 0 at the earliest and the latest time.
// With errors each is then divided by the square of the point's (scaled)
// error.
RecycledVector<double> raw_weights(std::span<const double> t, std::span<const double> sigma,
                                   Window window) {
    RecycledVector<double> h(t.size(), 1.0);
    if (window == Window::hanning) {
        const double first = t.front(), last = t.back(), span = last - first;
        const double pi = two_pi() / 2.0;
        RecycledVector<double> sine(t.size());
        double largest = 0.0;
        for (std::size_t i = 0; i < t.size(); ++i) {
            const double d = std::min(t[i] - first, last - t[i]);
            sine[i] = std::sin(pi * (d / span));
            largest = std::max(largest, sine[i]);
        }
        // The scale of the weights drops out of the fit: when every sine is
        // small (no point far from both ends of a huge span) they are scaled
        // up by a power of two, exactly, so that their squares keep their
        // digits instead of underflowing.
        int e = 0;
        if (largest > 0.0 && largest < 0.5) std::frexp(largest, &e);
        for (std::size_t i = 0; i < t.size(); ++i) {
            const double s = std::ldexp(sine[i], -e);
            h[i] = 2.0 * s * s;
        }
    }
    for (std::size_t i = 0; i < sigma.size(); ++i) {
        const double s2 = sigma[i] * sigma[i];
        h[i] = std::isfinite(s2) ? h[i] / s2 : 0.0;
    }
    return h;
}

} // namespace

namespace {

// The sum of term(i) over i < n in double-double, in four interleaved
// partial sums (independent chains of additions) added up at the end.
template <class Term> dd::DD interleaved_sum(std::size_t n, Term term) {
    dd::DD s0{}, s1{}, s2{}, s3{};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 = s0 + term(i);
        s1 = s1 + term(i + 1);
        s2 = s2 + term(i + 2);
        s3 = s3 + term(i + 3);
    }
    for (; i < n; ++i) s0 = s0 + term(i);
    return (s0 + s1) + (s2 + s3);
}

// S, the weighted mean and variance and the centred values, from the
// weights h (plus h_lo where the series has them).
void set_moments(Prepared& p) {
    const std::size_t n = p.t.size();
    const bool exact = !p.h_lo.empty();
    auto weight = [&p](std::size_t i) { return dd::DD{p.h[i], p.h_lo[i]}; };
    dd::DD sum{}, hx{}, var{};
    if (exact) {
        sum = interleaved_sum(n, weight);
        hx = interleaved_sum(n, [&](std::size_t i) { return weight(i) * p.x[i]; });
    } else {
        sum = interleaved_sum(n, [&](std::size_t i) { return p.h[i]; });
        hx = interleaved_sum(n, [&](std::size_t i) { return dd::two_prod(p.h[i], p.x[i]); });
    }
    p.sum_h = sum;
    p.mean = hx / sum;
    p.centre = dd::to_double(p.mean);
    p.centre_offset = p.mean - dd::DD{p.centre, 0.0};
    p.y.resize(n);
    p.xm.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        p.y[i] = p.x[i] - p.centre;
        p.xm[i] = dd::two_sum(p.x[i], -p.mean.hi) + (-p.mean.lo);
    }
    if (exact)
        var = interleaved_sum(n, [&](std::size_t i) { return p.xm[i] * p.xm[i] * weight(i); });
    else
        var = interleaved_sum(n, [&](std::size_t i) { return p.xm[i] * p.xm[i] * p.h[i]; });
    p.variance = var / sum;
    // Each addition to S and to the sum of h (x - m)^2 (positive terms)
    // rounds within 3/4 of a unit u = 2^-104 of its partial sum (at most
    // the total; n + 3 additions in all), each
    // term's product within one unit of itself, each quotient within a few:
    // (n + 8) u of S and of V.  Those to the sum of h x within 3/4 u of the
    // sum of |h x| (at most S times the largest |x|), those to S within
    // 1/2 u of S: the mean is off by (5/4 n + 8) u of the largest |x| and
    // 8 u of itself at most.
    const double nd = static_cast<double>(n);
    double x_max = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        if (p.h[i] > 0.0) x_max = std::max(x_max, std::fabs(p.x[i]));
    p.moment_rel = (nd + 8.0) * dd::kUnit;
    p.mean_err = (2.0 * nd + 8.0) * dd::kUnit * x_max + 8.0 * dd::kUnit * std::fabs(p.mean.hi);
}

} // namespace

Prepared prepare_series(std::span<const double> t, std::span<const double> x,
                        std::span<const double> sigma, Window window) {
    Prepared p;
    sort_points(t, x, sigma, p);
    scale_errors(p);
    p.h = raw_weights(p.t, p.sigma, window);
    // The values' scale comes from the points that weigh something.  A point
    // of weight 0 (an end of the Hanning window, an error whose square
    // overflows) takes no part in the fit: its value is set to 0, so that a
    // huge one there neither pushes the others' squares into underflow nor
    // overflows its own.
    double largest = 0.0;
    for (std::size_t i = 0; i < p.x.size(); ++i)
        if (p.h[i] > 0.0) largest = std::max(largest, std::fabs(p.x[i]));
    if (largest > 0.0 && std::isfinite(largest)) std::frexp(largest, &p.scale);
    for (std::size_t i = 0; i < p.x.size(); ++i)
        p.x[i] = p.h[i] > 0.0 ? std::ldexp(p.x[i], -p.scale) : 0.0;
    for (const double ti : p.t) p.t_max = std::max(p.t_max, std::fabs(ti));
    set_moments(p);
    p.layout = make_layout(p);
    return p;
}

Prepared with_exact_weights(const Prepared& series, Window window) {
    Prepared p;
    p.t = series.t;
    p.x = series.x;
    p.scale = series.scale;
    p.sigma = series.sigma;
    p.t_max = series.t_max;
    const std::size_t n = p.t.size();
    p.h.assign(n, 1.0);
    p.h_lo.assign(n, 0.0);
    if (window == Window::hanning) {
        // 2 sin^2(pi d/D) from the exact distances, in double-double.
        const double first = p.t.front(), last = p.t.back();
        const dd::DD span = dd::two_sum(last, -first);
        std::vector<dd::DD> sine(n);
        double largest = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const dd::DD a = dd::two_sum(p.t[i], -first), b = dd::two_sum(last, -p.t[i]);
            const bool nearer_first = a.hi < b.hi || (a.hi == b.hi && a.lo <= b.lo);
            const dd::DD r = (nearer_first ? a : b) / span;
            sine[i] = dd::sincos_cycles(r * 0.5).s;
            largest = std::max(largest, sine[i].hi);
        }
        // Scaled up as in raw_weights.
        int e = 0;
        if (largest > 0.0 && largest < 0.5) std::frexp(largest, &e);
        for (std::size_t i = 0; i < n; ++i) {
            const dd::DD s{std::ldexp(sine[i].hi, -e), std::ldexp(sine[i].lo, -e)};
            const dd::DD w = s * s * 2.0;
            p.h[i] = w.hi;
            p.h_lo[i] = w.lo;
        }
    }
    // Divided by the exact square of each error.
    for (std::size_t i = 0; i < p.sigma.size(); ++i) {
        const dd::DD s2 = dd::two_prod(p.sigma[i], p.sigma[i]);
        if (!std::isfinite(s2.hi) || !std::isfinite(s2.lo)) {
            p.h[i] = p.h_lo[i] = 0.0;
            continue;
        }
        const dd::DD w = dd::DD{p.h[i], p.h_lo[i]} / s2;
        p.h[i] = w.hi;
        p.h_lo[i] = w.lo;
    }
    set_moments(p);
    p.any_weight_zero = series.any_weight_zero;
    p.careful_lanes = series.careful_lanes;
    p.interruption_point = series.interruption_point;
    p.counters = series.counters;
    return p;
}

namespace {

std::array<double, 601> powers_of_ten() {
    std::array<double, 601> v{};
    for (int k = 0; k < 601; ++k) v[static_cast<std::size_t>(k)] = std::pow(10.0, k + kPowerLow);
    return v;
}

} // namespace

const std::array<double, 601> kPowersOfTen = powers_of_ten();

bool settled_by_printing(double value, double margin) {
    char lo[40], hi[40];
    std::snprintf(lo, sizeof lo, "%.7e", value - margin);
    std::snprintf(hi, sizeof hi, "%.7e", value + margin);
    return std::strcmp(lo, hi) == 0;
}

unsigned parallel_workers(std::size_t count, unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::size_t>(threads, count));
}

// Runs body(item, worker) for item = 0 .. count-1 on up to `threads`
// threads of the process's pool.  An exception in any of them reaches the
// caller once all have stopped.  The calling thread (worker 0) passes the
// interruption point, where there is one, every 50 ms or so.
void parallel_run(std::size_t count, unsigned threads, const std::function<void()>* point,
                  const std::function<void(std::size_t, unsigned)>& body) {
    if (count == 0) return;
    threads = parallel_workers(count, threads);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr error;
    std::mutex error_lock;
    if (point != nullptr && !*point) point = nullptr;
    auto worker = [&](unsigned id) {
        try {
            auto due = std::chrono::steady_clock::now();
            // The calling thread passes the point before taking each item,
            // so at least once a call even when the pool's threads take
            // every item.
            while (!stop) {
                if (id == 0 && point != nullptr) {
                    const auto now = std::chrono::steady_clock::now();
                    if (now >= due) {
                        (*point)();
                        due = now + std::chrono::milliseconds(50);
                    }
                }
                const std::size_t i = next.fetch_add(1);
                if (i >= count) break;
                body(i, id);
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(error_lock);
            if (!error) error = std::current_exception();
            stop = true;
        }
    };
    run_on_pool(threads - 1, worker);
    if (error) std::rethrow_exception(error);
}

namespace {

// The loop of parallel_run with the series' interruption point.
template <class Body>
void parallel_for(const Prepared& p, std::size_t count, unsigned threads, Body&& body) {
    parallel_run(count, threads, &p.interruption_point, body);
}

unsigned thread_count(unsigned threads) {
    return threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : threads;
}

// The careful frequencies go in segments of this many consecutive ones, each
// one task: the runs, and so every bit of the results, depend on which
// frequencies are careful and not on the threads.
constexpr std::size_t kCarefulSegment = 32;
// What the tables of the steps may take (each 32 bytes a point, as is the
// phase kept by each run under way): a series too long for one table has
// its careful frequencies evaluated one by one.
constexpr double kStepTableBytes = 64e6;

// Evaluates out[k] = the careful fit at freqs[k] for every k of `careful`
// (increasing), on `nt` threads.  The entries go in segments of at most
// kCarefulSegment, a new one also where apart(k, l) for consecutive entries
// k and l; consecutive entries k and k + 1 of one segment where next(k)
// (k + 1 is the grid neighbour of k) form a run, whose phases are carried
// from one frequency to the next by rotations.
template <class Next, class Apart>
void evaluate_careful_runs(const Prepared& p, std::span<const double> freqs,
                           std::span<const std::size_t> careful, Next&& next, Apart&& apart,
                           std::span<Evaluation> out, unsigned nt, Digits digits) {
    const std::size_t count = careful.size();
    std::vector<std::size_t> segment; // the first entry of each
    for (std::size_t i = 0; i < count; ++i)
        if (i == 0 || i - segment.back() == kCarefulSegment || apart(careful[i - 1], careful[i]))
            segment.push_back(i);
    segment.push_back(count);
    std::vector<char> joined(count, 0); // entries i and i + 1 in one run
    for (std::size_t g = 0; g + 1 < segment.size(); ++g)
        for (std::size_t i = segment[g]; i + 1 < segment[g + 1]; ++i)
            joined[i] = careful[i + 1] == careful[i] + 1 && next(careful[i]);
    // The steps the runs take, the most frequent first; only those taken
    // more than once are worth a table.
    std::vector<std::pair<double, std::size_t>> seen;
    for (std::size_t i = 0; i < count; ++i) {
        if (!joined[i]) continue;
        const double d = freqs[careful[i] + 1] - freqs[careful[i]];
        auto it =
            std::find_if(seen.begin(), seen.end(), [d](const auto& s) { return s.first == d; });
        if (it == seen.end())
            seen.emplace_back(d, 1);
        else
            ++it->second;
    }
    std::stable_sort(seen.begin(), seen.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    const double per_table = 32.0 * static_cast<double>(p.t.size()) + 1.0;
    const auto most = static_cast<std::size_t>(std::clamp(kStepTableBytes / per_table, 0.0, 8.0));
    std::vector<double> steps;
    for (const auto& [d, times] : seen)
        if (times > 1 && steps.size() < most) steps.push_back(d);
    if (steps.empty()) {
        parallel_for(p, count, nt, [&](std::size_t i, unsigned) {
            out[careful[i]] = evaluate_careful(p, freqs[careful[i]], digits);
        });
        return;
    }
    const CarefulRuns runs(p, steps, nt);
    parallel_for(p, segment.size() - 1, nt, [&](std::size_t g, unsigned) {
        for (std::size_t i = segment[g]; i < segment[g + 1];) {
            std::size_t j = i;
            while (joined[j]) ++j;
            const std::size_t len = j - i + 1;
            runs.evaluate(freqs.subspan(careful[i], len), out.subspan(careful[i], len), digits);
            i = j + 1;
        }
    });
}

// The frequencies `unsettled` (indices into freqs and out) fitted again by
// the direct sums one by one, each at its own anchor, where the bound is
// that of no rotation at all, and what that leaves with every term of the
// sums added exactly; those settled leave the list.  The first of each
// group (start and length, in increasing order) was fitted at its anchor
// already.
void refit_at_anchors(const Prepared& p, const FastEvaluator& fast, std::span<const double> freqs,
                      const std::vector<std::pair<std::size_t, std::size_t>>& groups,
                      std::vector<Evaluation>& out, std::vector<std::size_t>& unsettled,
                      std::vector<std::shared_ptr<FastEvaluator::Scratch>>& scratch,
                      unsigned threads) {
    std::vector<std::size_t> again;
    for (const std::size_t k : unsettled) {
        const auto g = std::lower_bound(groups.begin(), groups.end(), k,
                                        [](const auto& gr, std::size_t v) { return gr.first < v; });
        if (g == groups.end() || g->first != k) again.push_back(k);
    }
    if (!again.empty()) {
        parallel_for(p, again.size(), threads, [&](std::size_t i, unsigned id) {
            if (!scratch[id]) scratch[id] = fast.scratch();
            const std::size_t k = again[i];
            fast.evaluate(freqs.subspan(k, 1), std::span<Evaluation>(out).subspan(k, 1),
                          *scratch[id]);
        });
        std::erase_if(unsettled, [&](std::size_t k) { return out[k].settled; });
    }
    if (unsettled.empty()) return;
    parallel_for(p, unsettled.size(), threads, [&](std::size_t i, unsigned id) {
        if (!scratch[id]) scratch[id] = fast.scratch();
        const std::size_t k = unsettled[i];
        out[k] = fast.evaluate_alone(freqs[k], *scratch[id]);
    });
    std::erase_if(unsettled, [&](std::size_t k) { return out[k].settled; });
}

// Evaluates the frequencies of `groups` (start and length in `freqs`, each
// a run of grid neighbours of at most kFastGroup) the fast way, the
// unsettled ones again at their own anchors, and what is left the careful
// way, spread over all threads.  `scratch` keeps each thread's scratch (and
// so its tables of steps) from call to call.
void evaluate_all(const Prepared& p, const FastEvaluator& fast, std::span<const double> freqs,
                  const std::vector<std::pair<std::size_t, std::size_t>>& groups,
                  std::vector<Evaluation>& out,
                  std::vector<std::shared_ptr<FastEvaluator::Scratch>>& scratch, unsigned threads) {
    out.assign(freqs.size(), Evaluation{});
    const unsigned nt = thread_count(threads);
    scratch.resize(std::max<std::size_t>(scratch.size(), nt));
    parallel_for(p, groups.size(), nt, [&](std::size_t g, unsigned id) {
        if (!scratch[id]) scratch[id] = fast.scratch();
        const auto [start, len] = groups[g];
        fast.evaluate(freqs.subspan(start, len), std::span<Evaluation>(out).subspan(start, len),
                      *scratch[id]);
    });
    std::vector<std::size_t> careful;
    for (std::size_t k = 0; k < out.size(); ++k)
        if (!out[k].settled) careful.push_back(k);
    refit_at_anchors(p, fast, freqs, groups, out, careful, scratch, nt);
    p.counters->careful += careful.size();
    // Where the next frequency is the grid neighbour: within a group.
    std::vector<char> next(freqs.size(), 0);
    for (const auto& [start, len] : groups)
        for (std::size_t k = start; k + 1 < start + len; ++k) next[k] = 1;
    evaluate_careful_runs(
        p, freqs, careful, [&](std::size_t k) { return next[k] != 0; },
        [](std::size_t, std::size_t) { return false; }, out, nt, Digits::eight);
}

// Every digit a double holds: the sums of the fast paths are never good
// enough, so each frequency is evaluated the careful way (and beyond where
// that does not settle it), chunk by chunk over all threads.
void run_full_digits(const Prepared& p, const FrequencyGrid& grid,
                     const std::function<void(const SpectrumPoint&)>& on_point, unsigned threads) {
    const std::int64_t count = grid.size();
    const unsigned nt = thread_count(threads);
    constexpr std::int64_t kChunk = 4096;
    std::vector<double> freqs;
    std::vector<std::int64_t> index; // of each frequency in the grid
    std::vector<Evaluation> out;
    for (std::int64_t first = 0; first < count; first += kChunk) {
        const std::int64_t last = std::min(count, first + kChunk);
        freqs.clear();
        index.clear();
        for (std::int64_t j = first; j < last; ++j) {
            const double f = grid.frequency(j);
            if (grid.skipped(f)) continue;
            freqs.push_back(f);
            index.push_back(j);
        }
        out.assign(freqs.size(), Evaluation{});
        p.counters->careful += freqs.size();
        std::vector<std::size_t> all(freqs.size());
        std::iota(all.begin(), all.end(), std::size_t{0});
        evaluate_careful_runs(
            p, freqs, all, [&](std::size_t k) { return index[k + 1] == index[k] + 1; },
            [](std::size_t, std::size_t) { return false; }, out, nt, Digits::full);
        for (const Evaluation& e : out) on_point(e.point);
    }
}

// At most this many blocks are transformed at once, each with its own
// workspace, so that memory stays bounded on any machine.
constexpr unsigned kMaxNufftWorkers = 8;
constexpr std::size_t kKeptEvaluations = std::size_t{32} << 20;

// The grid by blocks of transforms: a round of blocks (one per worker) is
// evaluated, its unsettled frequencies again the careful way, spread over
// all threads, and its points handed on in order.
void run_nufft(const Prepared& p, const FrequencyGrid& grid,
               const std::function<void(const SpectrumPoint&)>& on_point, unsigned threads) {
    const std::int64_t count = grid.size();
    const unsigned nt = thread_count(threads);
    const unsigned workers = std::min(nt, kMaxNufftWorkers);
    // The fewest blocks (each of at most the transforms' largest size),
    // whatever the thread count: every block spreads every point again, and the
    // sums, and so every bit of the results, must not depend on the threads.
    const NufftEvaluator nufft(p, grid, NufftEvaluator::choose_block(count, 1), nt);
    const auto block = static_cast<std::int64_t>(nufft.block_size());
    // Every workspace made here, on the calling thread, before any block.
    std::vector<std::shared_ptr<NufftEvaluator::Workspace>> space(workers);
    const auto first_blocks = static_cast<std::size_t>((count + block - 1) / block);
    for (std::size_t id = 0; id < std::min<std::size_t>(workers, first_blocks); ++id)
        space[id] = nufft.workspace();
    // The evaluations of a round, kept on the calling thread from call to
    // call (up to kKeptEvaluations) so that a run faults no new pages in
    // for them, and not filled first: the blocks write every one.
    thread_local std::vector<Evaluation> kept;
    std::vector<Evaluation> out = std::move(kept);
    kept.clear();
    std::vector<std::size_t> careful;
    std::vector<double> freqs;
    std::vector<std::vector<std::uint32_t>> unsettled;
    const FastEvaluator fast(p);
    std::vector<std::shared_ptr<FastEvaluator::Scratch>> scratch(nt);
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    const auto ub = static_cast<std::size_t>(block);
    for (std::int64_t first = 0; first < count; first += workers * block) {
        const std::int64_t last = std::min(count, first + workers * block);
        out.resize(static_cast<std::size_t>(last - first));
        const auto blocks = static_cast<std::size_t>((last - first + block - 1) / block);
        unsettled.resize(blocks);
        parallel_for(p, blocks, workers, [&](std::size_t b, unsigned id) {
            if (!space[id]) space[id] = nufft.workspace();
            const auto start = static_cast<std::size_t>(b) * static_cast<std::size_t>(block);
            const std::size_t len = std::min(out.size() - start, static_cast<std::size_t>(block));
            nufft.evaluate(first + static_cast<std::int64_t>(start),
                           std::span<Evaluation>(out).subspan(start, len), *space[id],
                           &unsettled[b]);
        });
        // The frequencies are wanted where the digits are not settled alone
        // (the others are not read again but to be handed on).
        careful.clear();
        freqs.resize(out.size());
        for (std::size_t b = 0; b < blocks; ++b)
            for (const std::uint32_t l : unsettled[b]) {
                const std::size_t k = b * ub + l;
                freqs[k] = out[k].point.f;
                careful.push_back(k);
            }
        // The bound of the transforms is far wider than that of the direct
        // sums: what they leave unsettled is fitted again by the direct sums
        // (a cosine and a sine per point in double, a group of grid
        // neighbours sharing them; a frequency alone with every term of its
        // sums added exactly), and only what those leave goes the careful
        // way.
        if (!careful.empty()) {
            groups.clear();
            for (std::size_t i = 0; i < careful.size(); ++i) {
                const std::size_t k = careful[i];
                if (i > 0 && k == careful[i - 1] + 1 && k % ub != 0 &&
                    groups.back().second < kFastGroup)
                    ++groups.back().second;
                else
                    groups.emplace_back(k, 1);
            }
            // A frequency alone gains little from the sums in double at its
            // anchor (about one in a hundred of those the transforms leave
            // is settled there): it goes straight to the exact sums.
            parallel_for(p, groups.size(), nt, [&](std::size_t g, unsigned id) {
                const auto [start, len] = groups[g];
                if (len == 1) return;
                if (!scratch[id]) scratch[id] = fast.scratch();
                fast.evaluate(std::span<const double>(freqs).subspan(start, len),
                              std::span<Evaluation>(out).subspan(start, len), *scratch[id]);
            });
            std::erase_if(careful, [&](std::size_t k) { return out[k].settled; });
            refit_at_anchors(p, fast, freqs, groups, out, careful, scratch, nt);
        }
        p.counters->careful += careful.size();
        // Segments within a block: the rounds' blocks depend on the threads.
        evaluate_careful_runs(
            p, freqs, careful, [](std::size_t) { return true; },
            [ub](std::size_t k, std::size_t l) { return k / ub != l / ub; }, out, nt,
            Digits::eight);
        for (const Evaluation& e : out)
            if (!grid.skipped(e.point.f)) on_point(e.point);
    }
    if (out.capacity() * sizeof(Evaluation) <= kKeptEvaluations) kept = std::move(out);
}

} // namespace

} // namespace detail

namespace {

// The products t·f the phase reduction takes: finite with a wide margin, so
// that the doubled and quadrupled frequencies of the sums stay finite too.
constexpr double kMaxPhase = 0x1p1000;

[[noreturn]] void bad(const std::string& message) {
    throw std::invalid_argument(message);
}

void check_threads(unsigned threads) {
    if (threads > max_threads)
        bad("threads: " + std::to_string(threads) + " is more than " + std::to_string(max_threads));
}

void check_frequency(double f, double t_max, const char* what) {
    if (!std::isfinite(f)) bad(std::string(what) + " is not finite");
    if (!(std::fabs(f) * t_max < kMaxPhase) || !std::isfinite(4.0 * f))
        bad(std::string(what) + " times the largest time is beyond the phases the engine " +
            "reduces (|t·f| < 2^1000)");
}

void check_options(const EngineOptions& options) {
    if (options.path != GridPath::automatic && options.path != GridPath::direct &&
        options.path != GridPath::nufft)
        bad("unknown grid path");
}

} // namespace

void check_grid(const FrequencyGrid& grid, double t_max) {
    if (grid.n_points < 1) bad("the grid needs at least one step");
    check_frequency(grid.f_ini, t_max, "the initial frequency");
    check_frequency(grid.f_fin, t_max, "the final frequency");
    if (!(grid.f_fin > grid.f_ini)) bad("the final frequency must be greater than the initial one");
    if (!std::isfinite(grid.step()) || !(grid.step() > 0.0))
        bad("the frequency step is not a finite positive number");
    // Each frequency j*step + f_ini is off by at most a few units of the last
    // place of the largest |frequency| (and of the smallest subnormal): a step
    // of 2^-48 of that, or 2^-1068, keeps every frequency above the one before.
    const double largest = std::max(std::fabs(grid.f_ini), std::fabs(grid.f_fin));
    if (grid.step() < std::max(std::ldexp(largest, -48), 0x1p-1068))
        bad("the frequency step is too small for the frequencies to differ: it must be at "
            "least 2^-48 of the largest |frequency|");
    if (!std::isfinite(grid.line_width) || grid.line_width < 0.0)
        bad("the line width is not a finite number of 0 or more");
}

namespace {

std::string number_text(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

} // namespace

SpectrumEngine::SpectrumEngine(std::span<const double> t, std::span<const double> x, Window window,
                               EngineOptions options)
    : SpectrumEngine(t, x, std::span<const double>(), window, options, true) {}

SpectrumEngine::SpectrumEngine(std::span<const double> t, std::span<const double> x,
                               std::span<const double> sigma, Window window, EngineOptions options)
    : SpectrumEngine(t, x, sigma, window, options, false) {}

SpectrumEngine::SpectrumEngine(std::span<const double> t, std::span<const double> x,
                               std::span<const double> sigma, Window window, EngineOptions options,
                               bool without_errors)
    : impl_(std::make_unique<Impl>()) {
    using Kind = SeriesError::Kind;
    if (window != Window::hanning && window != Window::square) bad("unknown window");
    check_options(options);
    if (t.size() != x.size())
        throw SeriesError(Kind::size_mismatch, "times and values differ in number");
    if (!without_errors && sigma.size() != t.size())
        throw SeriesError(Kind::size_mismatch, "times and errors differ in number");
    if (t.size() < 2) throw SeriesError(Kind::too_few_points, "fewer than two points");
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!std::isfinite(t[i]) || !std::isfinite(x[i]))
            throw SeriesError(Kind::not_finite,
                              "a time or a value is not finite (point " + std::to_string(i) + ")",
                              i);
    for (std::size_t i = 0; i < sigma.size(); ++i)
        if (!std::isfinite(sigma[i]) || !(sigma[i] > 0.0))
            throw SeriesError(Kind::bad_error,
                              "error " + std::to_string(i) + " is not a finite number above 0 (" +
                                  number_text(sigma[i]) + ")",
                              i);
    const auto [lo, hi] = std::minmax_element(t.begin(), t.end());
    const double span = *hi - *lo;
    if (!std::isfinite(span))
        throw SeriesError(Kind::not_finite, "the time span is too wide for a double");
    if (!(span > 0.0)) throw SeriesError(Kind::no_time_span, "every time is the same");
    if (!std::isfinite(2.0 / span))
        throw SeriesError(Kind::no_time_span,
                          "the time span is too short: its line width overflows a double");
    impl_->window = window;
    impl_->options = options;
    impl_->span = span;
    impl_->series = detail::prepare_series(t, x, sigma, window);
    impl_->series.careful_lanes = options.careful_lanes;
    impl_->series.interruption_point = options.interruption_point;
    // The weighted variance is zero exactly when every point that carries
    // weight has the same value.
    const detail::Prepared& p = impl_->series;
    bool varies = false, any = false;
    double seen = 0.0;
    for (std::size_t i = 0; i < p.h.size() && !varies; ++i) {
        if (p.h[i] == 0.0) continue;
        if (any && p.x[i] != seen) varies = true;
        seen = p.x[i];
        any = true;
    }
    if (!varies) throw SeriesError(Kind::zero_variance, "the weighted values do not vary");
}

SpectrumEngine::~SpectrumEngine() = default;
SpectrumEngine::SpectrumEngine(SpectrumEngine&&) noexcept = default;
SpectrumEngine& SpectrumEngine::operator=(SpectrumEngine&&) noexcept = default;

const SpectrumEngine::Impl& SpectrumEngine::impl() const {
    if (!impl_) bad("the spectrum engine was moved from");
    return *impl_;
}

std::size_t SpectrumEngine::size() const {
    return impl().series.t.size();
}
Window SpectrumEngine::window() const {
    return impl().window;
}
double SpectrumEngine::time_span() const {
    return impl().span;
}
double SpectrumEngine::line_width() const {
    return (impl().window == Window::hanning ? 2.0 : 1.0) / impl().span;
}
double SpectrumEngine::mean() const {
    return std::ldexp(dd::to_double(impl().series.mean), impl().series.scale);
}
double SpectrumEngine::variance() const {
    return std::ldexp(dd::to_double(impl().series.variance), 2 * impl().series.scale);
}
double SpectrumEngine::largest_time() const {
    return impl().series.t_max;
}
bool SpectrumEngine::has_errors() const {
    return !impl().series.sigma.empty();
}
double SpectrumEngine::median_spacing() const {
    const auto& t = impl().series.t; // in time order
    detail::RecycledVector<double> gaps;
    gaps.reserve(t.size());
    for (std::size_t i = 1; i < t.size(); ++i)
        if (t[i] > t[i - 1]) gaps.push_back(t[i] - t[i - 1]);
    // At least one gap: the times span an interval.
    const std::size_t mid = gaps.size() / 2;
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(mid), gaps.end());
    const double upper = gaps[mid];
    if (gaps.size() % 2 == 1) return upper;
    const double lower =
        *std::max_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(mid));
    return lower / 2.0 + upper / 2.0;
}

EngineStats SpectrumEngine::stats() const {
    const auto& c = *impl().series.counters;
    return {c.careful.load(), c.nufft_blocks.load(), c.nufft_ffts.load()};
}

EngineOptions SpectrumEngine::options() const {
    return impl().options;
}

void SpectrumEngine::set_options(const EngineOptions& options) {
    impl();
    check_options(options);
    impl_->options = options;
    impl_->series.careful_lanes = options.careful_lanes;
    impl_->series.interruption_point = options.interruption_point;
    if (impl_->exact) {
        impl_->exact->careful_lanes = options.careful_lanes;
        impl_->exact->interruption_point = options.interruption_point;
    }
}

GridPath SpectrumEngine::path_for(const FrequencyGrid& grid, unsigned threads) const {
    const Impl& im = impl();
    check_grid(grid, im.series.t_max);
    check_threads(threads);
    return detail::choose_grid_path(im.series, grid, threads, im.options.path);
}

void SpectrumEngine::run(const FrequencyGrid& grid,
                         const std::function<void(const SpectrumPoint&)>& on_point,
                         unsigned threads, Digits digits) const {
    const Impl& im = impl();
    check_grid(grid, im.series.t_max);
    check_threads(threads);
    if (!on_point) bad("run needs a function to take the points");
    if (digits != Digits::eight && digits != Digits::full) bad("unknown digits setting");
    const std::int64_t count = grid.size();
    if (digits == Digits::full) {
        std::call_once(impl_->exact_once, [this] {
            auto exact = std::make_unique<detail::Prepared>(
                detail::with_exact_weights(impl_->series, impl_->window));
            impl_->exact = std::move(exact);
        });
        detail::run_full_digits(*impl_->exact, grid, on_point, threads);
        return;
    }
    double work = 0.0;
    const GridPath path =
        detail::choose_grid_path(im.series, grid, threads, im.options.path, &work);
    if (threads == 0 && work < detail::kSmallCallWork) threads = 1;
    if (path == GridPath::nufft) {
        detail::run_nufft(im.series, grid, on_point, threads);
        return;
    }
    const detail::FastEvaluator fast(im.series);
    // The grid goes by in chunks so that memory stays bounded.
    constexpr std::int64_t kChunk = 64 * static_cast<std::int64_t>(detail::kFastGroup);
    std::vector<double> freqs;
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    std::vector<detail::Evaluation> out;
    std::vector<std::shared_ptr<detail::FastEvaluator::Scratch>> scratch;
    for (std::int64_t first = 0; first < count; first += kChunk) {
        const std::int64_t last = std::min(count, first + kChunk);
        freqs.clear();
        groups.clear();
        bool open = false; // whether the last group may grow
        for (std::int64_t j = first; j < last; ++j) {
            const double f = grid.frequency(j);
            if (grid.skipped(f)) {
                open = false;
                continue;
            }
            if (!open || groups.back().second == detail::kFastGroup) {
                groups.emplace_back(freqs.size(), 0);
                open = true;
            }
            freqs.push_back(f);
            ++groups.back().second;
        }
        detail::evaluate_all(im.series, fast, freqs, groups, out, scratch, threads);
        for (const detail::Evaluation& e : out) on_point(e.point);
    }
}

std::vector<SpectrumPoint> SpectrumEngine::fit(std::span<const double> freqs,
                                               unsigned threads) const {
    const Impl& im = impl();
    check_threads(threads);
    for (const double f : freqs) check_frequency(f, im.series.t_max, "a frequency");
    const detail::FastEvaluator fast(im.series);
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    for (std::size_t k = 0; k < freqs.size(); ++k) groups.emplace_back(k, 1);
    std::vector<detail::Evaluation> out;
    std::vector<std::shared_ptr<detail::FastEvaluator::Scratch>> scratch;
    detail::evaluate_all(im.series, fast, freqs, groups, out, scratch, threads);
    std::vector<SpectrumPoint> points;
    points.reserve(out.size());
    for (const detail::Evaluation& e : out) points.push_back(e.point);
    return points;
}

std::int64_t resolving_steps(const FrequencyGrid& grid) {
    if (!grid.undersampled()) return grid.n_points;
    const double range = grid.f_fin - grid.f_ini;
    const double wanted = std::ceil(range / (grid.line_width / 2.0));
    if (!(wanted < 0x1p62)) bad("no grid of these limits has its points half a line width apart");
    auto n = std::max(grid.n_points, static_cast<std::int64_t>(wanted));
    // The step as the grid computes it may round up past the half width.
    while (FrequencyGrid{grid.f_ini, grid.f_fin, n, grid.line_width}.undersampled()) ++n;
    return n;
}

namespace {

// The number of steps of `step` that fit in `range` (rounded up or down)
// does), refused beyond what a grid holds.
std::int64_t steps_in(double range, double step, bool up) {
    const double n = up ? std::ceil(range / step) : std::floor(range / step);
    if (!(n < 0x1p62))
        bad("the grid would need more than 2^62 steps: give fewer steps or closer limits");
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(n));
}

} // namespace

AutoGrid auto_grid(const SpectrumEngine& engine, const GridRequest& request) {
    const double t_max = engine.largest_time();
    if (!std::isfinite(request.oversample) || !(request.oversample > 0.0))
        bad("the oversampling factor must be a finite number above 0");
    if (request.n_points && *request.n_points < 1) bad("the grid needs at least one step");
    if (request.f_ini) check_frequency(*request.f_ini, t_max, "the initial frequency");
    if (request.f_fin) check_frequency(*request.f_fin, t_max, "the final frequency");
    AutoGrid out;
    const double line_width = engine.line_width();
    const double step = line_width / request.oversample;
    if (!std::isfinite(step) || !(step > 0.0)) bad("the step line_width/oversample is not finite");
    out.nyquist = 0.5 / engine.median_spacing();
    FrequencyGrid& g = out.grid;
    g.line_width = line_width;
    g.f_ini = request.f_ini.value_or(step);
    std::int64_t k = 0; // the steps of the chosen f_fin
    if (request.f_fin) {
        g.f_fin = *request.f_fin;
    } else {
        if (!(out.nyquist > g.f_ini))
            bad("the initial frequency is not below the highest the sampling supports (" +
                number_text(out.nyquist) + "): give the final frequency");
        k = steps_in(out.nyquist - g.f_ini, step, false);
        if (k > max_auto_steps) {
            k = max_auto_steps;
            out.capped = true;
        }
        g.f_fin = g.f_ini + static_cast<double>(k) * step;
    }
    if (!(g.f_fin > g.f_ini)) bad("the final frequency must be greater than the initial one");
    if (request.n_points)
        g.n_points = *request.n_points;
    else
        g.n_points = k > 0 ? k : steps_in(g.f_fin - g.f_ini, step, true);
    check_grid(g, t_max);
    return out;
}

Spectrum compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                          unsigned threads) {
    Spectrum spectrum;
    engine.run(
        grid, [&](const SpectrumPoint& point) { spectrum.points.push_back(point); }, threads);
    return spectrum;
}

} // namespace fasogram
