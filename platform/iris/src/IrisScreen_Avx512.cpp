// The AVX-512 screening kernel: four head entries per 512-bit register, one 128-bit lane per
// row. Only the low halves of a row's four words take part in the counts (the usable bits are
// the probe mask word and the gallery word's upper half, which lie in the low 32 bits), so each
// lane holds them as 32-bit lanes [w0 w1 m0 m1], gathered from two 256-bit loads of two rows
// each by one permutation. A lane then counts [D0 D1 T0 T1] at once:
//   (row ^ [g0 g1 0 0]) & ([m0 m1 m0 m1] & [G0 G1 G0 G1]) = [d0 d1 u0 u1],
// where g is a gallery word's code half and G its mask half, the sums [D0 D T0 T] come from one
// swap and a blend, both tests of the four rows are one compare, and one more shuffle puts the
// counters [T D] of every row in place for its 16-byte store.
// The kernel is bound by the one port that runs bit counts, permutations and compares: seven such
// operations per four rows (two row pairs per operation in the earlier kernel of this library).

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

// The 32-bit lane orders of the shuffles within a 128-bit lane (constants, so that even an
// unoptimised build passes them as immediates).
constexpr auto kMasksTwice = static_cast<_MM_PERM_ENUM>(_MM_SHUFFLE(3, 2, 3, 2));
constexpr auto kSwapPairs = static_cast<_MM_PERM_ENUM>(_MM_SHUFFLE(2, 3, 0, 1));
constexpr auto kSwapHalves = static_cast<_MM_PERM_ENUM>(_MM_SHUFFLE(1, 0, 3, 2));
constexpr auto kCounters = static_cast<_MM_PERM_ENUM>(_MM_SHUFFLE(0, 1, 0, 3));
constexpr auto kCodeHalves = static_cast<_MM_PERM_ENUM>(_MM_SHUFFLE(0, 0, 2, 0));
constexpr auto kMaskHalves = static_cast<_MM_PERM_ENUM>(_MM_SHUFFLE(3, 1, 3, 1));

// The first 32 bytes of an entry: words 0 and 1 and their mask words.
QRLIRIS_AVX512 inline __m256i rowWords(const QrlIrisHeadEntry* entryA) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entryA));
}

// Screens Rows (1 to 4) consecutive entries: writes their counters and returns their test bits,
// bit r for entry r. Entries beyond Rows are neither read nor written.
template <unsigned Rows>
QRLIRIS_AVX512 inline unsigned screenGroup(QrlIrisHeadEntry* headA, __m512i codeA, __m512i maskA) {
  __m512i firstL;
  __m512i secondL = _mm512_setzero_si512();
  if constexpr (Rows >= 2) {
    firstL = _mm512_inserti64x4(_mm512_castsi256_si512(rowWords(headA)), rowWords(headA + 1), 1);
  } else {
    firstL = _mm512_zextsi256_si512(rowWords(headA));
  }
  if constexpr (Rows == 4) {
    secondL =
        _mm512_inserti64x4(_mm512_castsi256_si512(rowWords(headA + 2)), rowWords(headA + 3), 1);
  } else if constexpr (Rows == 3) {
    secondL = _mm512_zextsi256_si512(rowWords(headA + 2));
  }
  // The low half of every word: lane r = [w0 w1 m0 m1] of entry r.
  const __m512i lowHalvesL =
      _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i rowsL = _mm512_permutex2var_epi32(firstL, lowHalvesL, secondL);
  const __m512i usableL = _mm512_and_si512(_mm512_shuffle_epi32(rowsL, kMasksTwice), maskA);
  const __m512i countsL =
      _mm512_popcnt_epi32(_mm512_ternarylogic_epi32(rowsL, codeA, usableL, 0x28));  // [D0 D1 T0 T1]
  const __m512i sumsL = _mm512_mask_blend_epi32(
      0xAAAA, countsL,
      _mm512_add_epi32(countsL, _mm512_shuffle_epi32(countsL, kSwapPairs)));  // [D0 D T0 T]
  // D0 * 128 < T0 * 52 and D * 128 < T * 48 in lanes 0 and 1 (every count is below 65, so the
  // 16-bit products are exact).
  const __m512i limitsL =
      _mm512_mullo_epi16(_mm512_shuffle_epi32(sumsL, kSwapHalves), _mm512_set4_epi32(0, 0, 48, 52));
  const unsigned testsL =
      _mm512_mask_cmplt_epu32_mask(0x3333, _mm512_slli_epi32(sumsL, 7), limitsL);
  // [T 0 D 0]: the entry's 64-bit total and diff.
  const __m512i countersL = _mm512_maskz_shuffle_epi32(0x5555, sumsL, kCounters);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[0].total), _mm512_castsi512_si128(countersL));
  if constexpr (Rows >= 2) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[1].total),
                     _mm512_extracti32x4_epi32(countersL, 1));
  }
  if constexpr (Rows >= 3) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[2].total),
                     _mm512_extracti32x4_epi32(countersL, 2));
  }
  if constexpr (Rows == 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&headA[3].total),
                     _mm512_extracti32x4_epi32(countersL, 3));
  }
  return _pext_u32(testsL & (testsL >> 1), 0x1111);
}

// Four test bits in reverse order: the mask holds row j at bit count - 1 - j.
constexpr unsigned char kReversed[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

}  // namespace

QRLIRIS_AVX512 std::uint32_t screenAvx512(const void* galleryA, QrlIrisHeadEntry* headA,
                                          std::uint32_t rowCountA) {
  const std::uint32_t countL = rowCountA > kMaxRows ? kMaxRows : rowCountA;
  // Gallery words 0 and 1 as 32-bit lanes [g0 G0 g1 G1] in every 128-bit lane.
  const __m512i gL = _mm512_broadcast_i32x4(_mm_loadu_si128(static_cast<const __m128i*>(galleryA)));
  const __m512i codeL = _mm512_maskz_shuffle_epi32(0x3333, gL, kCodeHalves);  // [g0 g1 0 0]
  const __m512i maskL = _mm512_shuffle_epi32(gL, kMaskHalves);                // [G0 G1 G0 G1]
  std::uint32_t resultL = 0;
  std::uint32_t j = 0;
  for (; j + 4 <= countL; j += 4) {
    resultL = (resultL << 4) | kReversed[screenGroup<4>(headA + j, codeL, maskL)];
  }
  switch (countL - j) {
    case 3:
      return (resultL << 3) | (kReversed[screenGroup<3>(headA + j, codeL, maskL)] >> 1);
    case 2:
      return (resultL << 2) | (kReversed[screenGroup<2>(headA + j, codeL, maskL)] >> 2);
    case 1:
      return (resultL << 1) | (kReversed[screenGroup<1>(headA + j, codeL, maskL)] >> 3);
    default:
      return resultL;
  }
}

}  // namespace kernels
}  // namespace irisscreen
}  // namespace kxegm

#endif  // x86
