#pragma once

// Shared by the SIMD kernel files only. Each SIMD kernel is a function compiled for its
// instruction set through a target attribute, so the rest of the library stays baseline x86-64
// and a kernel runs only after the dispatcher has seen the processor offer its instructions.
//
// The kernel files also switch off floating-point contraction: with FMA available the compiler
// would otherwise fuse a multiply and the following add, and a fused result differs in the last
// bit from the scalar reference that every path must reproduce.

#if defined(__clang__)
#define QRL_NO_FP_CONTRACT _Pragma("STDC FP_CONTRACT OFF")
#elif defined(__GNUC__)
#define QRL_NO_FP_CONTRACT _Pragma("GCC optimize(\"fp-contract=off\")")
#else
#define QRL_NO_FP_CONTRACT
#endif

#if defined(__x86_64__) || defined(__i386__)
#define QRL_KERNELS_X86 1
#define QRL_TARGET_SSE41 __attribute__((target("sse4.1,popcnt")))
#define QRL_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#define QRL_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512bw,popcnt")))
#define QRL_TARGET_AVX512_POPCNT \
  __attribute__((target("avx2,avx512f,avx512bw,avx512vpopcntdq,popcnt")))
#else
#define QRL_KERNELS_X86 0
#endif
