// SSE4.1 (with POPCNT) versions of the vector kernels: 16 bytes per step.
#include <cstring>

#include "engines/kernels/KernelTarget.h"
#include "engines/kernels/VectorKernels.h"

#if QRL_KERNELS_X86
#include <immintrin.h>

QRL_NO_FP_CONTRACT

namespace qridy {
namespace kernels {
namespace {

QRL_TARGET_SSE41 inline __m128i load16(const void* pA) {
  return _mm_loadu_si128(static_cast<const __m128i*>(pA));
}

QRL_TARGET_SSE41 inline std::int32_t sum32(__m128i vA) {
  vA = _mm_add_epi32(vA, _mm_shuffle_epi32(vA, _MM_SHUFFLE(1, 0, 3, 2)));
  vA = _mm_add_epi32(vA, _mm_shuffle_epi32(vA, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(vA);
}

// Nibble q (0: bits 15..12 ... 3: bits 3..0) of each 16-bit word, sign-extended.
QRL_TARGET_SSE41 inline __m128i nibbles(__m128i wordsA, int qA) {
  switch (qA) {
    case 0:
      return _mm_srai_epi16(wordsA, 12);
    case 1:
      return _mm_srai_epi16(_mm_slli_epi16(wordsA, 4), 12);
    case 2:
      return _mm_srai_epi16(_mm_slli_epi16(wordsA, 8), 12);
    default:
      return _mm_srai_epi16(_mm_slli_epi16(wordsA, 12), 12);
  }
}

// One 16-byte block of signed bytes: four 32-bit partial sums.
QRL_TARGET_SSE41 inline __m128i byteBlock(__m128i pA, __m128i gA) {
  const __m128i loL = _mm_madd_epi16(_mm_cvtepi8_epi16(pA), _mm_cvtepi8_epi16(gA));
  const __m128i hiL = _mm_madd_epi16(_mm_cvtepi8_epi16(_mm_srli_si128(pA, 8)),
                                     _mm_cvtepi8_epi16(_mm_srli_si128(gA, 8)));
  return _mm_add_epi32(loL, hiL);
}

// One 16-byte block of packed nibbles.
QRL_TARGET_SSE41 inline __m128i nibbleBlock(__m128i pA, __m128i gA) {
  __m128i sL = _mm_madd_epi16(nibbles(pA, 0), nibbles(gA, 0));
  sL = _mm_add_epi32(sL, _mm_madd_epi16(nibbles(pA, 1), nibbles(gA, 1)));
  sL = _mm_add_epi32(sL, _mm_madd_epi16(nibbles(pA, 2), nibbles(gA, 2)));
  return _mm_add_epi32(sL, _mm_madd_epi16(nibbles(pA, 3), nibbles(gA, 3)));
}

// Sums Block over the blocks of both inputs into 32-bit lanes (wrapping).
template <__m128i (*Block)(__m128i, __m128i)>
QRL_TARGET_SSE41 std::int32_t sumBlocks(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  __m128i acc0L = _mm_setzero_si128();
  __m128i acc1L = _mm_setzero_si128();
  std::uint32_t i = 0;
  for (; i + 2 <= blocks; i += 2, pL += 32, gL += 32) {
    acc0L = _mm_add_epi32(acc0L, Block(load16(pL), load16(gL)));
    acc1L = _mm_add_epi32(acc1L, Block(load16(pL + 16), load16(gL + 16)));
  }
  if (i < blocks) acc0L = _mm_add_epi32(acc0L, Block(load16(pL), load16(gL)));
  return sum32(_mm_add_epi32(acc0L, acc1L));
}

QRL_TARGET_SSE41 void nibbleExpandSse41(const void* packed, std::uint32_t blocks,
                                        std::int16_t* expanded) {
  const auto* pL = static_cast<const unsigned char*>(packed);
  auto* outL = reinterpret_cast<unsigned char*>(expanded);
  for (std::uint32_t i = 0; i < blocks; ++i, pL += 16, outL += 64) {
    const __m128i vL = load16(pL);
    for (int q = 0; q < 4; ++q)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(outL + 16 * q), nibbles(vL, q));
  }
}

QRL_TARGET_SSE41 std::int32_t expandedDotSse41(const std::int16_t* expanded, const void* packed,
                                               std::uint32_t blocks) {
  const auto* eL = reinterpret_cast<const unsigned char*>(expanded);
  const auto* gL = static_cast<const unsigned char*>(packed);
  __m128i acc0L = _mm_setzero_si128();
  __m128i acc1L = _mm_setzero_si128();
  for (std::uint32_t i = 0; i < blocks; ++i, eL += 64, gL += 16) {
    const __m128i gvL = load16(gL);
    acc0L = _mm_add_epi32(acc0L, _mm_madd_epi16(load16(eL), nibbles(gvL, 0)));
    acc1L = _mm_add_epi32(acc1L, _mm_madd_epi16(load16(eL + 16), nibbles(gvL, 1)));
    acc0L = _mm_add_epi32(acc0L, _mm_madd_epi16(load16(eL + 32), nibbles(gvL, 2)));
    acc1L = _mm_add_epi32(acc1L, _mm_madd_epi16(load16(eL + 48), nibbles(gvL, 3)));
  }
  return sum32(_mm_add_epi32(acc0L, acc1L));
}

QRL_TARGET_SSE41 std::uint32_t xorBitCountSse41(const void* a, const void* b,
                                                std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  std::uint64_t count0L = 0;
  std::uint64_t count1L = 0;
  for (std::uint32_t i = 0; i < blocks; ++i, pL += 16, gL += 16) {
    std::uint64_t p0, p1, g0, g1;
    std::memcpy(&p0, pL, 8);
    std::memcpy(&p1, pL + 8, 8);
    std::memcpy(&g0, gL, 8);
    std::memcpy(&g1, gL + 8, 8);
    count0L += static_cast<std::uint64_t>(_mm_popcnt_u64(p0 ^ g0));
    count1L += static_cast<std::uint64_t>(_mm_popcnt_u64(p1 ^ g1));
  }
  return static_cast<std::uint32_t>(count0L + count1L);
}

// Folds eight 4-lane accumulators (lanes 4q..4q+3 in acc[q]) in the fixed order.
QRL_TARGET_SSE41 inline float fold(__m128* accA) {
  for (int q = 0; q < 4; ++q) accA[q] = _mm_add_ps(accA[q], accA[q + 4]);  // l += l + 16
  for (int q = 0; q < 2; ++q) accA[q] = _mm_add_ps(accA[q], accA[q + 2]);  // l += l + 8
  __m128 vL = _mm_add_ps(accA[0], accA[1]);                                // l += l + 4
  vL = _mm_add_ps(vL, _mm_movehl_ps(vL, vL));                              // l += l + 2
  vL = _mm_add_ss(vL, _mm_shuffle_ps(vL, vL, _MM_SHUFFLE(1, 1, 1, 1)));    // l += l + 1
  return _mm_cvtss_f32(vL);
}

// Adds a scalar tail (elements from a multiple of 32 on) lane by lane, as the reference does.
QRL_TARGET_SSE41 inline void addTail(__m128* accA, const float* valuesA, std::size_t countA) {
  alignas(16) float lanesL[kFloatLanes];
  for (int q = 0; q < 8; ++q) _mm_store_ps(lanesL + 4 * q, accA[q]);
  for (std::size_t i = 0; i < countA; ++i) lanesL[i] = lanesL[i] + valuesA[i];
  for (int q = 0; q < 8; ++q) accA[q] = _mm_load_ps(lanesL + 4 * q);
}

QRL_TARGET_SSE41 float floatDotSse41(const float* a, const float* b, std::size_t count) {
  __m128 accL[8];
  for (auto& v : accL) v = _mm_setzero_ps();
  std::size_t i = 0;
  for (; i + kFloatLanes <= count; i += kFloatLanes) {
    for (int q = 0; q < 8; ++q) {
      accL[q] =
          _mm_add_ps(accL[q], _mm_mul_ps(_mm_loadu_ps(a + i + 4 * q), _mm_loadu_ps(b + i + 4 * q)));
    }
  }
  if (i < count) {
    float productsL[kFloatLanes];
    for (std::size_t j = i; j < count; ++j) productsL[j - i] = a[j] * b[j];
    addTail(accL, productsL, count - i);
  }
  return fold(accL);
}

QRL_TARGET_SSE41 float floatBitSumSse41(const float* f, const void* bits, std::uint32_t bytes) {
  const auto* bL = static_cast<const unsigned char*>(bits);
  const __m128i highBitsL = _mm_setr_epi32(128, 64, 32, 16);
  const __m128i lowBitsL = _mm_setr_epi32(8, 4, 2, 1);
  const __m128i signL = _mm_set1_epi32(static_cast<int>(0x80000000u));
  __m128 accL[8];
  for (auto& v : accL) v = _mm_setzero_ps();
  for (std::uint32_t k = 0; k < bytes; ++k, f += 8) {
    // Byte k covers floats 8k..8k+7: lanes 8(k mod 4) .. 8(k mod 4) + 7.
    const __m128i byteL = _mm_set1_epi32(bL[k]);
    const __m128i set0L = _mm_cmpeq_epi32(_mm_and_si128(byteL, highBitsL), highBitsL);
    const __m128i set1L = _mm_cmpeq_epi32(_mm_and_si128(byteL, lowBitsL), lowBitsL);
    const __m128 v0L =
        _mm_xor_ps(_mm_loadu_ps(f), _mm_castsi128_ps(_mm_andnot_si128(set0L, signL)));
    const __m128 v1L =
        _mm_xor_ps(_mm_loadu_ps(f + 4), _mm_castsi128_ps(_mm_andnot_si128(set1L, signL)));
    const unsigned laneL = 2 * (k % 4);
    accL[laneL] = _mm_add_ps(accL[laneL], v0L);
    accL[laneL + 1] = _mm_add_ps(accL[laneL + 1], v1L);
  }
  return fold(accL);
}

const KernelSet kSse41Set = {CpuFeatures::Sse41,     "sse41",           sumBlocks<byteBlock>,
                             sumBlocks<nibbleBlock>, nibbleExpandSse41, expandedDotSse41,
                             xorBitCountSse41,       floatDotSse41,     floatBitSumSse41};

}  // namespace

const KernelSet* sse41Kernels() {
  return CpuFeatures::hasSse41() && CpuFeatures::hasPopcnt() ? &kSse41Set : nullptr;
}

}  // namespace kernels
}  // namespace qridy

#else

namespace qridy {
namespace kernels {
const KernelSet* sse41Kernels() {
  return nullptr;
}
}  // namespace kernels
}  // namespace qridy

#endif
