// The AVX-512 screening kernel: two head entries per 512-bit register, one in each 256-bit half,
// counted as in the AVX2 kernel (see IrisScreen_Avx2.cpp) with the VPOPCNTDQ bit count. The
// lane permutations used act on each half alone.

#include "IrisScreenKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

// GCC 12 reports its own undefined-register placeholders inside the AVX-512 intrinsics as
// uninitialised when they are inlined into target-attributed functions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kxegm {
namespace irisscreen {
namespace kernels {
namespace {

#define QRLIRIS_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vpopcntdq,popcnt")))

// Both rows of a register: their counters stored, their two test bits (bits 0, 1 for the row in
// the low half, 4, 5 for the row in the high half).
struct PairState {
  __m128i low;   // [T D] of the low row
  __m128i high;  // [T D] of the high row
  __mmask8 pass;
};

QRLIRIS_AVX512 inline PairState countPair(__m512i rowsA, __m512i codeA, __m512i galleryMaskA,
                                          __m512i limitsA) {
  const __m512i usableL = _mm512_and_si512(_mm512_permutex_epi64(rowsA, 0xEE), galleryMaskA);
  // (rows ^ code) & usable
  const __m512i countedL = _mm512_ternarylogic_epi64(rowsA, codeA, usableL, 0x28);
  const __m512i bitsL = _mm512_popcnt_epi64(countedL);  // [D0 D1 T0 T1] per half
  const __m512i sumsL = _mm512_add_epi64(bitsL, _mm512_bslli_epi128(bitsL, 8));
  const __m512i storeL = _mm512_permutex_epi64(sumsL, 0x07);
  const __m512i leftL = _mm512_slli_epi64(sumsL, 7);
  const __m512i rightL = _mm512_mul_epu32(_mm512_permutex_epi64(sumsL, 0xEE), limitsA);
  return {_mm512_castsi512_si128(storeL), _mm512_extracti32x4_epi32(storeL, 2),
          _mm512_cmplt_epu64_mask(leftL, rightL)};
}

}  // namespace

QRLIRIS_AVX512 std::uint32_t screenAvx512(const void* galleryA, QrlIrisHeadEntry* headA,
                                          std::uint32_t rowCountA) {
  const std::uint32_t countL = rowCountA > kMaxRows ? kMaxRows : rowCountA;
  const __m512i gL = _mm512_broadcast_i32x4(_mm_loadu_si128(static_cast<const __m128i*>(galleryA)));
  const __m512i codeL = _mm512_maskz_mov_epi64(0x33, gL);  // [g0 g1 0 0] per half
  const __m512i galleryMaskL = _mm512_srli_epi64(gL, 32);
  const __m512i limitsL = _mm512_setr_epi64(52, 48, 0, 0, 52, 48, 0, 0);
  std::uint32_t maskL = 0;
  std::uint32_t j = 0;
  for (; j + 2 <= countL; j += 2) {
    const __m256i lowL = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(headA + j));
    const __m256i highL = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(headA + j + 1));
    const PairState sL = countPair(_mm512_inserti64x4(_mm512_castsi256_si512(lowL), highL, 1),
                                   codeL, galleryMaskL, limitsL);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[j].total), sL.low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[j + 1].total), sL.high);
    const unsigned passL = sL.pass;
    maskL = (maskL << 2) | (static_cast<std::uint32_t>((passL & 0x03) == 0x03) << 1) |
            static_cast<std::uint32_t>((passL & 0x30) == 0x30);
  }
  if (j < countL) {
    // The last of an odd number of rows, alone in the low half.
    const __m256i lowL = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(headA + j));
    const PairState sL = countPair(_mm512_zextsi256_si512(lowL), codeL, galleryMaskL, limitsL);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[j].total), sL.low);
    maskL = (maskL << 1) | static_cast<std::uint32_t>((sL.pass & 0x03) == 0x03);
  }
  return maskL;
}

}  // namespace kernels
}  // namespace irisscreen
}  // namespace kxegm

#endif  // x86
