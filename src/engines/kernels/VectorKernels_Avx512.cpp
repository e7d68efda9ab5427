// AVX-512 (F and BW) versions of the vector kernels: 64 bytes per step, trailing blocks through
// masked loads (which never touch the bytes they leave out). Two sets: "avx512popcnt" counts bits
// with VPOPCNTDQ, "avx512" with the AVX2 count (for processors without VPOPCNTDQ, and to compare
// both on one machine). CpuFeatures decides which the processor can run.
#include "engines/kernels/KernelTarget.h"
#include "engines/kernels/VectorKernels.h"

#if QRL_KERNELS_X86
#include <immintrin.h>

QRL_NO_FP_CONTRACT

// GCC 12 reports its own _mm256_undefined_si256 placeholder inside the AVX-512 extract and
// reduce intrinsics as uninitialised when they are inlined into target-attributed functions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace qridy {
namespace kernels {
namespace {

// Mask of the first 16 * blocksA bytes (blocksA < 4).
inline __mmask64 byteMask(std::uint32_t blocksA) {
  return (std::uint64_t{1} << (16 * blocksA)) - 1;
}

// Wrapping sums of the lanes (GCC's _mm512_reduce_add_* add as signed integers, whose overflow
// the sanitizer build rightly reports).
QRL_TARGET_AVX512 inline std::int32_t sum32(__m512i vA) {
  const __m256i sL = _mm256_add_epi32(_mm512_castsi512_si256(vA), _mm512_extracti64x4_epi64(vA, 1));
  __m128i xL = _mm_add_epi32(_mm256_castsi256_si128(sL), _mm256_extracti128_si256(sL, 1));
  xL = _mm_add_epi32(xL, _mm_shuffle_epi32(xL, _MM_SHUFFLE(1, 0, 3, 2)));
  xL = _mm_add_epi32(xL, _mm_shuffle_epi32(xL, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(xL);
}
QRL_TARGET_AVX512 inline std::uint64_t sum64(__m512i vA) {
  const __m256i sL = _mm256_add_epi64(_mm512_castsi512_si256(vA), _mm512_extracti64x4_epi64(vA, 1));
  const __m128i xL = _mm_add_epi64(_mm256_castsi256_si128(sL), _mm256_extracti128_si256(sL, 1));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(xL)) +
         static_cast<std::uint64_t>(_mm_extract_epi64(xL, 1));
}

QRL_TARGET_AVX512 inline __m512i load64(const void* pA) {
  return _mm512_loadu_si512(pA);
}
QRL_TARGET_AVX512 inline __m512i loadPart(const void* pA, std::uint32_t blocksA) {
  return _mm512_maskz_loadu_epi8(byteMask(blocksA), pA);
}

// Four 16-byte blocks of signed bytes: sixteen 32-bit partial sums.
QRL_TARGET_AVX512 inline __m512i byteQuad(__m512i pA, __m512i gA) {
  const __m512i loL = _mm512_madd_epi16(_mm512_cvtepi8_epi16(_mm512_castsi512_si256(pA)),
                                        _mm512_cvtepi8_epi16(_mm512_castsi512_si256(gA)));
  const __m512i hiL = _mm512_madd_epi16(_mm512_cvtepi8_epi16(_mm512_extracti64x4_epi64(pA, 1)),
                                        _mm512_cvtepi8_epi16(_mm512_extracti64x4_epi64(gA, 1)));
  return _mm512_add_epi32(loL, hiL);
}

QRL_TARGET_AVX512 inline __m512i nibbleQuad(__m512i pA, __m512i gA) {
  __m512i sL = _mm512_madd_epi16(_mm512_srai_epi16(pA, 12), _mm512_srai_epi16(gA, 12));
  sL = _mm512_add_epi32(sL, _mm512_madd_epi16(_mm512_srai_epi16(_mm512_slli_epi16(pA, 4), 12),
                                              _mm512_srai_epi16(_mm512_slli_epi16(gA, 4), 12)));
  sL = _mm512_add_epi32(sL, _mm512_madd_epi16(_mm512_srai_epi16(_mm512_slli_epi16(pA, 8), 12),
                                              _mm512_srai_epi16(_mm512_slli_epi16(gA, 8), 12)));
  return _mm512_add_epi32(sL, _mm512_madd_epi16(_mm512_srai_epi16(_mm512_slli_epi16(pA, 12), 12),
                                                _mm512_srai_epi16(_mm512_slli_epi16(gA, 12), 12)));
}

// Sums Quad over groups of four blocks of both inputs into 32-bit lanes (wrapping), the last
// one to three blocks through masked loads.
template <__m512i (*Quad)(__m512i, __m512i)>
QRL_TARGET_AVX512 std::int32_t sumQuads(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  __m512i acc0L = _mm512_setzero_si512();
  __m512i acc1L = _mm512_setzero_si512();
  std::uint32_t i = 0;
  for (; i + 8 <= blocks; i += 8, pL += 128, gL += 128) {
    acc0L = _mm512_add_epi32(acc0L, Quad(load64(pL), load64(gL)));
    acc1L = _mm512_add_epi32(acc1L, Quad(load64(pL + 64), load64(gL + 64)));
  }
  if (i + 4 <= blocks) {
    acc0L = _mm512_add_epi32(acc0L, Quad(load64(pL), load64(gL)));
    i += 4, pL += 64, gL += 64;
  }
  if (i < blocks) {
    acc1L = _mm512_add_epi32(acc1L, Quad(loadPart(pL, blocks - i), loadPart(gL, blocks - i)));
  }
  return sum32(_mm512_add_epi32(acc0L, acc1L));
}

// The four nibble vectors of one block, one per 128-bit lane: [q0 | q1 | q2 | q3], which is
// exactly the layout of one expanded block.
QRL_TARGET_AVX512 inline __m512i expandBlock(const void* pA) {
  const __m512i shiftsL =
      _mm512_setr_epi64(0, 0, 0x0004000400040004LL, 0x0004000400040004LL, 0x0008000800080008LL,
                        0x0008000800080008LL, 0x000c000c000c000cLL, 0x000c000c000c000cLL);
  const __m512i vL = _mm512_broadcast_i32x4(_mm_loadu_si128(static_cast<const __m128i*>(pA)));
  return _mm512_srai_epi16(_mm512_sllv_epi16(vL, shiftsL), 12);
}

QRL_TARGET_AVX512 void nibbleExpandAvx512(const void* packed, std::uint32_t blocks,
                                          std::int16_t* expanded) {
  const auto* pL = static_cast<const unsigned char*>(packed);
  auto* outL = reinterpret_cast<unsigned char*>(expanded);
  for (std::uint32_t i = 0; i < blocks; ++i, pL += 16, outL += 64) {
    _mm512_storeu_si512(outL, expandBlock(pL));
  }
}

QRL_TARGET_AVX512 std::int32_t expandedDotAvx512(const std::int16_t* expanded, const void* packed,
                                                 std::uint32_t blocks) {
  const auto* eL = reinterpret_cast<const unsigned char*>(expanded);
  const auto* gL = static_cast<const unsigned char*>(packed);
  __m512i acc0L = _mm512_setzero_si512();
  __m512i acc1L = _mm512_setzero_si512();
  std::uint32_t i = 0;
  for (; i + 2 <= blocks; i += 2, eL += 128, gL += 32) {
    acc0L = _mm512_add_epi32(acc0L, _mm512_madd_epi16(load64(eL), expandBlock(gL)));
    acc1L = _mm512_add_epi32(acc1L, _mm512_madd_epi16(load64(eL + 64), expandBlock(gL + 16)));
  }
  if (i < blocks) acc0L = _mm512_add_epi32(acc0L, _mm512_madd_epi16(load64(eL), expandBlock(gL)));
  return sum32(_mm512_add_epi32(acc0L, acc1L));
}

QRL_TARGET_AVX512_POPCNT std::uint32_t xorBitCountAvx512(const void* a, const void* b,
                                                         std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  __m512i acc0L = _mm512_setzero_si512();
  __m512i acc1L = _mm512_setzero_si512();
  std::uint32_t i = 0;
  for (; i + 8 <= blocks; i += 8, pL += 128, gL += 128) {
    acc0L = _mm512_add_epi64(acc0L, _mm512_popcnt_epi64(_mm512_xor_si512(load64(pL), load64(gL))));
    acc1L = _mm512_add_epi64(
        acc1L, _mm512_popcnt_epi64(_mm512_xor_si512(load64(pL + 64), load64(gL + 64))));
  }
  if (i + 4 <= blocks) {
    acc0L = _mm512_add_epi64(acc0L, _mm512_popcnt_epi64(_mm512_xor_si512(load64(pL), load64(gL))));
    i += 4, pL += 64, gL += 64;
  }
  if (i < blocks) {
    const __m512i xL = _mm512_xor_si512(loadPart(pL, blocks - i), loadPart(gL, blocks - i));
    acc1L = _mm512_add_epi64(acc1L, _mm512_popcnt_epi64(xL));
  }
  return static_cast<std::uint32_t>(sum64(_mm512_add_epi64(acc0L, acc1L)));
}

// Folds two 16-lane accumulators (lanes 0..15 and 16..31) in the fixed order.
QRL_TARGET_AVX512 inline float fold(__m512 acc0A, __m512 acc1A) {
  const __m512 sL = _mm512_add_ps(acc0A, acc1A);  // l += l + 16
  const __m256 hiL = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(sL), 1));
  const __m256 tL = _mm256_add_ps(_mm512_castps512_ps256(sL), hiL);                  // l + 8
  __m128 vL = _mm_add_ps(_mm256_castps256_ps128(tL), _mm256_extractf128_ps(tL, 1));  // l + 4
  vL = _mm_add_ps(vL, _mm_movehl_ps(vL, vL));                                        // l + 2
  vL = _mm_add_ss(vL, _mm_shuffle_ps(vL, vL, _MM_SHUFFLE(1, 1, 1, 1)));              // l + 1
  return _mm_cvtss_f32(vL);
}

QRL_TARGET_AVX512 float floatDotAvx512(const float* a, const float* b, std::size_t count) {
  __m512 acc0L = _mm512_setzero_ps();
  __m512 acc1L = _mm512_setzero_ps();
  std::size_t i = 0;
  for (; i + kFloatLanes <= count; i += kFloatLanes) {
    acc0L = _mm512_add_ps(acc0L, _mm512_mul_ps(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i)));
    acc1L = _mm512_add_ps(acc1L,
                          _mm512_mul_ps(_mm512_loadu_ps(a + i + 16), _mm512_loadu_ps(b + i + 16)));
  }
  if (i < count) {
    // The tail updates only the lanes it reaches; the others keep their sums.
    const std::size_t restL = count - i;
    const __mmask16 m0L = restL >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << restL) - 1);
    const __mmask16 m1L = restL > 16 ? __mmask16((1u << (restL - 16)) - 1) : __mmask16(0);
    acc0L = _mm512_mask_add_ps(
        acc0L, m0L, acc0L,
        _mm512_mul_ps(_mm512_maskz_loadu_ps(m0L, a + i), _mm512_maskz_loadu_ps(m0L, b + i)));
    acc1L = _mm512_mask_add_ps(acc1L, m1L, acc1L,
                               _mm512_mul_ps(_mm512_maskz_loadu_ps(m1L, a + i + 16),
                                             _mm512_maskz_loadu_ps(m1L, b + i + 16)));
  }
  return fold(acc0L, acc1L);
}

// Reverses the bits inside each byte, so that bit l of the result is float l of the chunk.
inline std::uint32_t msbFirst(std::uint32_t xA) {
  xA = ((xA >> 1) & 0x55555555u) | ((xA & 0x55555555u) << 1);
  xA = ((xA >> 2) & 0x33333333u) | ((xA & 0x33333333u) << 2);
  return ((xA >> 4) & 0x0F0F0F0Fu) | ((xA & 0x0F0F0F0Fu) << 4);
}

QRL_TARGET_AVX512 float floatBitSumAvx512(const float* f, const void* bits, std::uint32_t bytes) {
  const auto* bL = static_cast<const unsigned char*>(bits);
  const __m512i signL = _mm512_set1_epi32(static_cast<int>(0x80000000u));
  __m512 acc0L = _mm512_setzero_ps();
  __m512 acc1L = _mm512_setzero_ps();
  for (std::uint32_t k = 0; k < bytes; k += 4, f += 32) {
    // Four bytes cover 32 floats, one per lane; a shorter tail updates only its lanes.
    const std::uint32_t nL = bytes - k < 4 ? bytes - k : 4;
    std::uint32_t wordL = 0;
    for (std::uint32_t t = 0; t < nL; ++t)
      wordL |= static_cast<std::uint32_t>(bL[k + t]) << (8 * t);
    const std::uint32_t setL = msbFirst(wordL);
    const std::uint32_t liveL = nL == 4 ? 0xFFFFFFFFu : (1u << (8 * nL)) - 1;
    const __mmask16 live0L = static_cast<__mmask16>(liveL);
    const __mmask16 live1L = static_cast<__mmask16>(liveL >> 16);
    const __m512 f0L = _mm512_maskz_loadu_ps(live0L, f);
    const __m512 f1L = _mm512_maskz_loadu_ps(live1L, f + 16);
    const __m512 v0L = _mm512_mask_blend_ps(
        static_cast<__mmask16>(setL),
        _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(f0L), signL)), f0L);
    const __m512 v1L = _mm512_mask_blend_ps(
        static_cast<__mmask16>(setL >> 16),
        _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(f1L), signL)), f1L);
    acc0L = _mm512_mask_add_ps(acc0L, live0L, acc0L, v0L);
    acc1L = _mm512_mask_add_ps(acc1L, live1L, acc1L, v1L);
  }
  return fold(acc0L, acc1L);
}

KernelSet makeAvx512Set() {
  return {CpuFeatures::Avx512,        "avx512",           sumQuads<byteQuad>,
          sumQuads<nibbleQuad>,       nibbleExpandAvx512, expandedDotAvx512,
          avx2Kernels()->xorBitCount, floatDotAvx512,     floatBitSumAvx512};
}

}  // namespace

const KernelSet* avx512Kernels() {
  if (!CpuFeatures::hasAvx512() || avx2Kernels() == nullptr) return nullptr;
  static const KernelSet setS = makeAvx512Set();
  return &setS;
}

const KernelSet* avx512PopcntKernels() {
  if (!CpuFeatures::hasAvx512Popcnt() || avx512Kernels() == nullptr) return nullptr;
  static const KernelSet setS = [] {
    KernelSet setL = *avx512Kernels();
    setL.level = CpuFeatures::Avx512Popcnt;
    setL.name = "avx512popcnt";
    setL.xorBitCount = xorBitCountAvx512;
    return setL;
  }();
  return &setS;
}

}  // namespace kernels
}  // namespace qridy

#else

namespace qridy {
namespace kernels {
const KernelSet* avx512Kernels() {
  return nullptr;
}
const KernelSet* avx512PopcntKernels() {
  return nullptr;
}
}  // namespace kernels
}  // namespace qridy

#endif
