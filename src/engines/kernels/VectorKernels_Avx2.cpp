// AVX2 versions of the vector kernels: 32 bytes per step.
#include "engines/kernels/KernelTarget.h"
#include "engines/kernels/VectorKernels.h"

#if QRL_KERNELS_X86
#include <immintrin.h>

QRL_NO_FP_CONTRACT

namespace qridy {
namespace kernels {
namespace {

QRL_TARGET_AVX2 inline __m128i load16(const void* pA) {
  return _mm_loadu_si128(static_cast<const __m128i*>(pA));
}
QRL_TARGET_AVX2 inline __m256i load32(const void* pA) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(pA));
}

QRL_TARGET_AVX2 inline std::int32_t sum32(__m256i vA) {
  __m128i xL = _mm_add_epi32(_mm256_castsi256_si128(vA), _mm256_extracti128_si256(vA, 1));
  xL = _mm_add_epi32(xL, _mm_shuffle_epi32(xL, _MM_SHUFFLE(1, 0, 3, 2)));
  xL = _mm_add_epi32(xL, _mm_shuffle_epi32(xL, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(xL);
}

// Sign-extended nibble q (0: bits 15..12 ... 3: bits 3..0) of each 16-bit word.
QRL_TARGET_AVX2 inline __m256i nibbles(__m256i wordsA, int qA) {
  switch (qA) {
    case 0:
      return _mm256_srai_epi16(wordsA, 12);
    case 1:
      return _mm256_srai_epi16(_mm256_slli_epi16(wordsA, 4), 12);
    case 2:
      return _mm256_srai_epi16(_mm256_slli_epi16(wordsA, 8), 12);
    default:
      return _mm256_srai_epi16(_mm256_slli_epi16(wordsA, 12), 12);
  }
}

// Two 16-byte blocks of signed bytes: eight 32-bit partial sums.
QRL_TARGET_AVX2 inline __m256i bytePair(__m256i pA, __m256i gA) {
  const __m256i loL = _mm256_madd_epi16(_mm256_cvtepi8_epi16(_mm256_castsi256_si128(pA)),
                                        _mm256_cvtepi8_epi16(_mm256_castsi256_si128(gA)));
  const __m256i hiL = _mm256_madd_epi16(_mm256_cvtepi8_epi16(_mm256_extracti128_si256(pA, 1)),
                                        _mm256_cvtepi8_epi16(_mm256_extracti128_si256(gA, 1)));
  return _mm256_add_epi32(loL, hiL);
}

// Two 16-byte blocks of packed nibbles.
QRL_TARGET_AVX2 inline __m256i nibblePair(__m256i pA, __m256i gA) {
  __m256i sL = _mm256_madd_epi16(nibbles(pA, 0), nibbles(gA, 0));
  sL = _mm256_add_epi32(sL, _mm256_madd_epi16(nibbles(pA, 1), nibbles(gA, 1)));
  sL = _mm256_add_epi32(sL, _mm256_madd_epi16(nibbles(pA, 2), nibbles(gA, 2)));
  return _mm256_add_epi32(sL, _mm256_madd_epi16(nibbles(pA, 3), nibbles(gA, 3)));
}

// Sums Pair over pairs of blocks of both inputs into 32-bit lanes (wrapping); an odd last
// block goes in the low half with a zero high half, which adds nothing.
template <__m256i (*Pair)(__m256i, __m256i)>
QRL_TARGET_AVX2 std::int32_t sumPairs(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  __m256i acc0L = _mm256_setzero_si256();
  __m256i acc1L = _mm256_setzero_si256();
  std::uint32_t i = 0;
  for (; i + 4 <= blocks; i += 4, pL += 64, gL += 64) {
    acc0L = _mm256_add_epi32(acc0L, Pair(load32(pL), load32(gL)));
    acc1L = _mm256_add_epi32(acc1L, Pair(load32(pL + 32), load32(gL + 32)));
  }
  if (i + 2 <= blocks) {
    acc0L = _mm256_add_epi32(acc0L, Pair(load32(pL), load32(gL)));
    i += 2, pL += 32, gL += 32;
  }
  if (i < blocks) {
    acc1L = _mm256_add_epi32(
        acc1L, Pair(_mm256_zextsi128_si256(load16(pL)), _mm256_zextsi128_si256(load16(gL))));
  }
  return sum32(_mm256_add_epi32(acc0L, acc1L));
}

QRL_TARGET_AVX2 void nibbleExpandAvx2(const void* packed, std::uint32_t blocks,
                                      std::int16_t* expanded) {
  const auto* pL = static_cast<const unsigned char*>(packed);
  auto* outL = reinterpret_cast<unsigned char*>(expanded);
  for (std::uint32_t i = 0; i < blocks; ++i, pL += 16, outL += 64) {
    // [block | block << 4] and [block << 8 | block << 12], each then shifted right by 12.
    const __m128i vL = load16(pL);
    const __m256i v01L = _mm256_set_m128i(_mm_slli_epi16(vL, 4), vL);
    const __m256i v23L = _mm256_set_m128i(_mm_slli_epi16(vL, 12), _mm_slli_epi16(vL, 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(outL), _mm256_srai_epi16(v01L, 12));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(outL + 32), _mm256_srai_epi16(v23L, 12));
  }
}

QRL_TARGET_AVX2 std::int32_t expandedDotAvx2(const std::int16_t* expanded, const void* packed,
                                             std::uint32_t blocks) {
  const auto* eL = reinterpret_cast<const unsigned char*>(expanded);
  const auto* gL = static_cast<const unsigned char*>(packed);
  __m256i acc0L = _mm256_setzero_si256();
  __m256i acc1L = _mm256_setzero_si256();
  for (std::uint32_t i = 0; i < blocks; ++i, eL += 64, gL += 16) {
    const __m128i vL = load16(gL);
    const __m256i g01L = _mm256_srai_epi16(_mm256_set_m128i(_mm_slli_epi16(vL, 4), vL), 12);
    const __m256i g23L =
        _mm256_srai_epi16(_mm256_set_m128i(_mm_slli_epi16(vL, 12), _mm_slli_epi16(vL, 8)), 12);
    acc0L = _mm256_add_epi32(acc0L, _mm256_madd_epi16(load32(eL), g01L));
    acc1L = _mm256_add_epi32(acc1L, _mm256_madd_epi16(load32(eL + 32), g23L));
  }
  return sum32(_mm256_add_epi32(acc0L, acc1L));
}

// Bit counts of the bytes of x by nibble table look-up, summed into four 64-bit lanes.
QRL_TARGET_AVX2 inline __m256i popcount64(__m256i xA) {
  const __m256i tableL = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                          2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i lowL = _mm256_set1_epi8(0x0f);
  const __m256i countsL = _mm256_add_epi8(
      _mm256_shuffle_epi8(tableL, _mm256_and_si256(xA, lowL)),
      _mm256_shuffle_epi8(tableL, _mm256_and_si256(_mm256_srli_epi16(xA, 4), lowL)));
  return _mm256_sad_epu8(countsL, _mm256_setzero_si256());
}

QRL_TARGET_AVX2 std::uint32_t xorBitCountAvx2(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  __m256i acc0L = _mm256_setzero_si256();
  __m256i acc1L = _mm256_setzero_si256();
  std::uint32_t i = 0;
  for (; i + 4 <= blocks; i += 4, pL += 64, gL += 64) {
    acc0L = _mm256_add_epi64(acc0L, popcount64(_mm256_xor_si256(load32(pL), load32(gL))));
    acc1L = _mm256_add_epi64(acc1L, popcount64(_mm256_xor_si256(load32(pL + 32), load32(gL + 32))));
  }
  for (; i < blocks; ++i, pL += 16, gL += 16) {
    acc0L = _mm256_add_epi64(
        acc0L, popcount64(_mm256_zextsi128_si256(_mm_xor_si128(load16(pL), load16(gL)))));
  }
  const __m256i sL = _mm256_add_epi64(acc0L, acc1L);
  const __m128i xL = _mm_add_epi64(_mm256_castsi256_si128(sL), _mm256_extracti128_si256(sL, 1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si64(xL) + _mm_extract_epi64(xL, 1));
}

// Folds four 8-lane accumulators (lanes 8q..8q+7 in acc[q]) in the fixed order.
QRL_TARGET_AVX2 inline float fold(__m256* accA) {
  const __m256 s0L = _mm256_add_ps(accA[0], accA[2]);  // l += l + 16
  const __m256 s1L = _mm256_add_ps(accA[1], accA[3]);
  const __m256 tL = _mm256_add_ps(s0L, s1L);                                         // l += l + 8
  __m128 vL = _mm_add_ps(_mm256_castps256_ps128(tL), _mm256_extractf128_ps(tL, 1));  // l + 4
  vL = _mm_add_ps(vL, _mm_movehl_ps(vL, vL));                                        // l + 2
  vL = _mm_add_ss(vL, _mm_shuffle_ps(vL, vL, _MM_SHUFFLE(1, 1, 1, 1)));              // l + 1
  return _mm_cvtss_f32(vL);
}

QRL_TARGET_AVX2 float floatDotAvx2(const float* a, const float* b, std::size_t count) {
  __m256 accL[4];
  for (auto& v : accL) v = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + kFloatLanes <= count; i += kFloatLanes) {
    for (int q = 0; q < 4; ++q) {
      accL[q] = _mm256_add_ps(
          accL[q], _mm256_mul_ps(_mm256_loadu_ps(a + i + 8 * q), _mm256_loadu_ps(b + i + 8 * q)));
    }
  }
  if (i < count) {
    // The tail goes to the lanes it belongs to, one element at a time, as in the reference.
    alignas(32) float lanesL[kFloatLanes];
    for (int q = 0; q < 4; ++q) _mm256_store_ps(lanesL + 8 * q, accL[q]);
    for (std::size_t j = i; j < count; ++j) {
      const float productL = a[j] * b[j];
      lanesL[j - i] = lanesL[j - i] + productL;
    }
    for (int q = 0; q < 4; ++q) accL[q] = _mm256_load_ps(lanesL + 8 * q);
  }
  return fold(accL);
}

QRL_TARGET_AVX2 float floatBitSumAvx2(const float* f, const void* bits, std::uint32_t bytes) {
  const auto* bL = static_cast<const unsigned char*>(bits);
  const __m256i bitsL = _mm256_setr_epi32(128, 64, 32, 16, 8, 4, 2, 1);
  const __m256i signL = _mm256_set1_epi32(static_cast<int>(0x80000000u));
  __m256 accL[4];
  for (auto& v : accL) v = _mm256_setzero_ps();
  for (std::uint32_t k = 0; k < bytes; ++k, f += 8) {
    // Byte k covers floats 8k..8k+7, which are lanes 8(k mod 4) .. 8(k mod 4) + 7.
    const __m256i setL =
        _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(bL[k]), bitsL), bitsL);
    const __m256 vL =
        _mm256_xor_ps(_mm256_loadu_ps(f), _mm256_castsi256_ps(_mm256_andnot_si256(setL, signL)));
    accL[k % 4] = _mm256_add_ps(accL[k % 4], vL);
  }
  return fold(accL);
}

const KernelSet kAvx2Set = {CpuFeatures::Avx2,    "avx2",           sumPairs<bytePair>,
                            sumPairs<nibblePair>, nibbleExpandAvx2, expandedDotAvx2,
                            xorBitCountAvx2,      floatDotAvx2,     floatBitSumAvx2};

}  // namespace

const KernelSet* avx2Kernels() {
  return CpuFeatures::hasAvx2() && CpuFeatures::hasPopcnt() ? &kAvx2Set : nullptr;
}

}  // namespace kernels
}  // namespace qridy

#else

namespace qridy {
namespace kernels {
const KernelSet* avx2Kernels() {
  return nullptr;
}
}  // namespace kernels
}  // namespace qridy

#endif
