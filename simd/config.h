#pragma once

// Which vector instructions the primitives of this folder use. Every
// primitive has a portable twin in plain C++; defining MEK_PORTABLE (the
// CMake option MEK_SIMD=OFF) builds the portable twins alone, so that they are
// compiled and tested on any machine, not only where no vector unit exists.
// SSE2 is the x86-64 baseline; the SSSE3 and AVX2 kernels are chosen at run
// time (see utf8_shuffle.h).

#if defined(__SSE2__) && !defined(MEK_PORTABLE)
#define MEK_SIMD_SSE2 1
#else
#define MEK_SIMD_SSE2 0
#endif

#if MEK_SIMD_SSE2 && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define MEK_SIMD_SHUFFLES 1
#else
#define MEK_SIMD_SHUFFLES 0
#endif
