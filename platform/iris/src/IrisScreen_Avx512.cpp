// The AVX-512 screening kernel: two head entries per 512-bit register, the later row in the low
// 256-bit half and the earlier one in the high half, counted as in the AVX2 kernel (see
// IrisScreen_Avx2.cpp) with the VPOPCNTDQ bit count. The kernel is bound by the one port that
// runs bit counts, permutations and compares, so the rows and their mask words come into place
// by (broadcast) loads rather than permutations.
// The test bits of all pairs gather in one word, two bits per row, from which one bit extract
// takes the row mask, already in its order (row j at bit count - 1 - j).

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

#define QRLIRIS_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vpopcntdq,popcnt,bmi2")))

// Rows per block: the test bits of a block (a byte per pair) fill one 64-bit word.
constexpr std::uint32_t kBlockRows = 16;

struct Constants {
  __m512i code;         // [g0 g1 0 0] per half
  __m512i galleryMask;  // [G0 G1 G0 G1] per half, G = gallery word >> 32
  __m512i limits;       // [0 0 52 48] per half
};

// Counts a pair of rows, lateA in the low half and earlyA in the high half, and stores their
// counters. Without a later row (HasLate false) the low lanes are zero and fail both tests.
// Returns the compare bits: bits 2, 3 for the later row and 6, 7 for the earlier one, both set
// when the row passes.
template <bool HasLate>
QRLIRIS_AVX512 inline unsigned countPair(QrlIrisHeadEntry* lateA, QrlIrisHeadEntry* earlyA,
                                         const Constants& cA) {
  // [w0 w1 m0 m1] and [m0 m1 m0 m1] of each row, by loads alone.
  __m512i rowsL = _mm512_setzero_si512();
  __m512i masksL = _mm512_setzero_si512();
  if constexpr (HasLate) {
    rowsL = _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(lateA)));
    masksL =
        _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&lateA->mask0)));
  }
  rowsL = _mm512_mask_broadcast_i64x4(rowsL, 0xF0,
                                      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(earlyA)));
  masksL = _mm512_mask_broadcast_i32x4(
      masksL, 0xFF00, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&earlyA->mask0)));
  const __m512i usableL = _mm512_and_si512(masksL, cA.galleryMask);
  // (rows ^ code) & usable = [diff bits 0, diff bits 1, usable bits 0, usable bits 1]
  const __m512i countedL = _mm512_ternarylogic_epi64(rowsL, cA.code, usableL, 0x28);
  const __m512i bitsL = _mm512_popcnt_epi64(countedL);  // [D0 D1 T0 T1]
  // [D0 D T0 T], then [T D D0 D]: the entry's counters in lanes 0, 1 and the left sides of
  // both tests in lanes 2, 3, against [. . T0 T] * [0 0 52 48].
  const __m512i sumsL = _mm512_add_epi64(bitsL, _mm512_bslli_epi128(bitsL, 8));
  const __m512i outL = _mm512_permutex_epi64(sumsL, 0x47);
  if constexpr (HasLate) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&lateA->total), _mm512_castsi512_si128(outL));
  }
  // A store of exactly the two counters: a wider masked store would keep the next call's loads
  // of the neighbouring entry waiting for it.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&earlyA->total), _mm512_extracti32x4_epi32(outL, 2));
  const __m512i leftL = _mm512_slli_epi64(outL, 7);
  const __m512i rightL = _mm512_mul_epu32(sumsL, cA.limits);
  return _mm512_cmplt_epu64_mask(leftL, rightL);
}

}  // namespace

QRLIRIS_AVX512 std::uint32_t screenAvx512(const void* galleryA, QrlIrisHeadEntry* headA,
                                          std::uint32_t rowCountA) {
  const std::uint32_t countL = rowCountA > kMaxRows ? kMaxRows : rowCountA;
  const __m512i gL = _mm512_broadcast_i32x4(_mm_loadu_si128(static_cast<const __m128i*>(galleryA)));
  const Constants cL{_mm512_maskz_mov_epi64(0x33, gL), _mm512_srli_epi64(gL, 32),
                     _mm512_setr_epi64(0, 0, 52, 48, 0, 0, 52, 48)};
  std::uint32_t maskL = 0;
  for (std::uint32_t firstL = 0; firstL < countL; firstL += kBlockRows) {
    const std::uint32_t rowsL = countL - firstL < kBlockRows ? countL - firstL : kBlockRows;
    // A byte of compare bits per pair, the first pair in the highest byte used.
    std::uint64_t bitsL = 0;
    std::uint32_t j = firstL;
    for (; j + 2 <= firstL + rowsL; j += 2) {
      bitsL = (bitsL << 8) | countPair<true>(headA + j + 1, headA + j, cL);
    }
    if (j < firstL + rowsL) bitsL = (bitsL << 8) | countPair<false>(nullptr, headA + j, cL);
    // Both bits of a test pair set: bit 2 of a byte for the later row, bit 6 for the earlier.
    const std::uint64_t passL = bitsL & (bitsL >> 1);
    const std::uint32_t pairsL = (rowsL + 1) / 2;
    std::uint32_t blockL =
        static_cast<std::uint32_t>(_pext_u64(passL, 0x4444444444444444ull >> (64 - 8 * pairsL)));
    // An odd block ends in a pair without its later row, whose bit is 0.
    blockL >>= (rowsL & 1);
    maskL = (maskL << rowsL) | blockL;
  }
  return maskL;
}

}  // namespace kernels
}  // namespace irisscreen
}  // namespace kxegm

#endif  // x86
