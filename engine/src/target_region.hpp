// Regions of code compiled for one processor target, whatever the
// compiler: GCC's target pragmas or clang's attribute pragmas.
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
