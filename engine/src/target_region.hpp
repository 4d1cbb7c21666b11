// Code for more than one processor target: what the processor running it
// has, and regions of code compiled for one target, whatever the compiler
// (GCC's target pragmas or clang's attribute pragmas).
//
//     FASOGRAM_TARGET_BEGIN("avx2,fma")
//     namespace avx2 { ... }
//     FASOGRAM_TARGET_END
//
// Only on x86-64 with GCC or clang; other builds take the plain code.
#pragma once

#define FASOGRAM_TARGET_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define FASOGRAM_TARGET_BEGIN(isa)                                                                 \
    FASOGRAM_TARGET_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define FASOGRAM_TARGET_END FASOGRAM_TARGET_PRAGMA(clang attribute pop)
#else
#define FASOGRAM_TARGET_BEGIN(isa)                                                                 \
    FASOGRAM_TARGET_PRAGMA(GCC push_options) FASOGRAM_TARGET_PRAGMA(GCC target(isa))
#define FASOGRAM_TARGET_END FASOGRAM_TARGET_PRAGMA(GCC pop_options)
#endif

namespace fasogram::detail {

// Whether the processor has AVX2 and fused multiply-add, and whether it has
// AVX-512 (F, DQ and VL) as well; asked once.
inline bool cpu_has_avx2_fma() {
#if defined(__GNUC__) && defined(__x86_64__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
#else
    return false;
#endif
}
inline bool cpu_has_avx512() {
#if defined(__GNUC__) && defined(__x86_64__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl") && cpu_has_avx2_fma();
    }();
    return has;
#else
    return false;
#endif
}

} // namespace fasogram::detail
