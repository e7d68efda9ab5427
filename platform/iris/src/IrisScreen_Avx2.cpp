// The AVX2 screening kernel: one head entry per 256-bit register. An entry's first 32 bytes are
// [word0 word1 mask0 mask1], so two loads (the second a broadcast of the mask words) bring a
// row's code and mask words into the lanes they are counted in:
//   usable = [mask0 mask1 mask0 mask1] & [G0 G1 G0 G1]        (G = gallery word >> 32)
//   counted = ([word0 word1 mask0 mask1] ^ [g0 g1 0 0]) & usable
//           = [diff bits 0, diff bits 1, usable bits 0, usable bits 1]  (usable lies in mask)
// and one bit count per lane gives [D0 D1 T0 T1].

#include "IrisScreenKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace kxegm {
namespace irisscreen {
namespace kernels {
namespace {

#define QRLIRIS_AVX2 __attribute__((target("avx2,popcnt")))

// Bits set in each 64-bit lane: a nibble table, summed per lane by the byte-difference sum.
QRLIRIS_AVX2 inline __m256i bitCount64(__m256i vA) {
  const __m256i tableL = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                          2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i lowL = _mm256_set1_epi8(0x0F);
  const __m256i loL = _mm256_and_si256(vA, lowL);
  const __m256i hiL = _mm256_and_si256(_mm256_srli_epi16(vA, 4), lowL);
  const __m256i bytesL =
      _mm256_add_epi8(_mm256_shuffle_epi8(tableL, loL), _mm256_shuffle_epi8(tableL, hiL));
  return _mm256_sad_epu8(bytesL, _mm256_setzero_si256());
}

}  // namespace

QRLIRIS_AVX2 std::uint32_t screenAvx2(const void* galleryA, QrlIrisHeadEntry* headA,
                                      std::uint32_t rowCountA) {
  const std::uint32_t countL = rowCountA > kMaxRows ? kMaxRows : rowCountA;
  const __m128i gL = _mm_loadu_si128(static_cast<const __m128i*>(galleryA));
  const __m256i codeL = _mm256_inserti128_si256(_mm256_setzero_si256(), gL, 0);  // [g0 g1 0 0]
  const __m256i galleryMaskL = _mm256_srli_epi64(_mm256_broadcastsi128_si256(gL), 32);
  // The limits of both tests, D0 * 128 < T0 * 52 and D * 128 < T * 48, in the lanes of T0, T.
  const __m256i limitsL = _mm256_setr_epi64x(0, 0, 52, 48);
  std::uint32_t maskL = 0;
  for (std::uint32_t j = 0; j < countL; ++j) {
    const __m256i rowL = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(headA + j));
    // [m0 m1 m0 m1] by a broadcast load rather than a permutation.
    const __m256i masksL = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(&headA[j].mask0)));
    const __m256i usableL = _mm256_and_si256(masksL, galleryMaskL);
    const __m256i countedL = _mm256_and_si256(_mm256_xor_si256(rowL, codeL), usableL);
    const __m256i bitsL = bitCount64(countedL);  // [D0 D1 T0 T1]
    // Running sums within each 128-bit half: [D0 D T0 T]; then [T D D0 D]: the entry's
    // counters in lanes 0, 1 and the left sides of both tests in lanes 2, 3.
    const __m256i sumsL = _mm256_add_epi64(bitsL, _mm256_slli_si256(bitsL, 8));
    const __m256i outL = _mm256_permute4x64_epi64(sumsL, 0x47);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[j].total), _mm256_castsi256_si128(outL));
    const __m256i leftL = _mm256_slli_epi64(outL, 7);
    const __m256i rightL = _mm256_mul_epu32(sumsL, limitsL);
    const int passL = _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(rightL, leftL)));
    maskL = (maskL << 1) | static_cast<std::uint32_t>((passL & 0xC) == 0xC);
  }
  return maskL;
}

}  // namespace kernels
}  // namespace irisscreen
}  // namespace kxegm

#endif  // x86
