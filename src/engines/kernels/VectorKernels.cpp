// Scalar references of the vector kernels and the choice of the set a process uses.
#include "engines/kernels/VectorKernels.h"

#include <cstring>

namespace qridy {
namespace kernels {
namespace reference {
namespace {

inline std::int32_t signedNibble(unsigned wordA, unsigned shiftA) {
  const int v = static_cast<int>((wordA >> shiftA) & 0xFu);
  return v >= 8 ? v - 16 : v;
}

inline unsigned wordAt(const unsigned char* pA, std::size_t indexA) {
  return static_cast<unsigned>(pA[2 * indexA]) | (static_cast<unsigned>(pA[2 * indexA + 1]) << 8);
}

// The shifts of the four nibbles of a word, in the order values are taken.
constexpr unsigned kNibbleShifts[4] = {12, 8, 4, 0};

}  // namespace

// Sums wrap modulo 2^32 (unsigned arithmetic), as the SIMD lanes do.
std::int32_t byteDot(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const signed char*>(a);
  const auto* gL = static_cast<const signed char*>(b);
  std::uint32_t sumL = 0;
  for (std::size_t i = 0; i < std::size_t{16} * blocks; ++i) {
    sumL += static_cast<std::uint32_t>(static_cast<std::int32_t>(pL[i]) * gL[i]);
  }
  return static_cast<std::int32_t>(sumL);
}

std::int32_t nibbleDot(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  std::uint32_t sumL = 0;
  for (std::size_t w = 0; w < std::size_t{8} * blocks; ++w) {
    const unsigned pwL = wordAt(pL, w);
    const unsigned gwL = wordAt(gL, w);
    for (unsigned shiftL : kNibbleShifts) {
      sumL += static_cast<std::uint32_t>(signedNibble(pwL, shiftL) * signedNibble(gwL, shiftL));
    }
  }
  return static_cast<std::int32_t>(sumL);
}

void nibbleExpand(const void* packed, std::uint32_t blocks, std::int16_t* expanded) {
  const auto* pL = static_cast<const unsigned char*>(packed);
  for (std::size_t b = 0; b < blocks; ++b) {
    for (std::size_t q = 0; q < 4; ++q) {
      for (std::size_t k = 0; k < 8; ++k) {
        expanded[32 * b + 8 * q + k] =
            static_cast<std::int16_t>(signedNibble(wordAt(pL, 8 * b + k), kNibbleShifts[q]));
      }
    }
  }
}

std::int32_t expandedDot(const std::int16_t* expanded, const void* packed, std::uint32_t blocks) {
  const auto* gL = static_cast<const unsigned char*>(packed);
  std::uint32_t sumL = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    for (std::size_t q = 0; q < 4; ++q) {
      for (std::size_t k = 0; k < 8; ++k) {
        const std::int32_t gvL = signedNibble(wordAt(gL, 8 * b + k), kNibbleShifts[q]);
        sumL += static_cast<std::uint32_t>(expanded[32 * b + 8 * q + k] * gvL);
      }
    }
  }
  return static_cast<std::int32_t>(sumL);
}

std::uint32_t xorBitCount(const void* a, const void* b, std::uint32_t blocks) {
  const auto* pL = static_cast<const unsigned char*>(a);
  const auto* gL = static_cast<const unsigned char*>(b);
  std::uint32_t countL = 0;
  for (std::size_t i = 0; i < std::size_t{2} * blocks; ++i) {
    std::uint64_t pwL, gwL;
    std::memcpy(&pwL, pL + 8 * i, 8);
    std::memcpy(&gwL, gL + 8 * i, 8);
    // Bit count of one word by halving sums: pairs, nibbles, bytes, then all bytes at once.
    std::uint64_t xL = pwL ^ gwL;
    xL = xL - ((xL >> 1) & 0x5555555555555555ull);
    xL = (xL & 0x3333333333333333ull) + ((xL >> 2) & 0x3333333333333333ull);
    xL = (xL + (xL >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    countL += static_cast<std::uint32_t>((xL * 0x0101010101010101ull) >> 56);
  }
  return countL;
}

float foldLanes(float* lanes) {
  for (std::size_t widthL = kFloatLanes / 2; widthL >= 1; widthL /= 2) {
    for (std::size_t l = 0; l < widthL; ++l) lanes[l] = lanes[l] + lanes[l + widthL];
  }
  return lanes[0];
}

float floatDot(const float* a, const float* b, std::size_t count) {
  float lanesL[kFloatLanes] = {};
  for (std::size_t i = 0; i < count; ++i) {
    const float productL = a[i] * b[i];
    lanesL[i % kFloatLanes] = lanesL[i % kFloatLanes] + productL;
  }
  return foldLanes(lanesL);
}

float floatBitSum(const float* f, const void* bits, std::uint32_t bytes) {
  const auto* bL = static_cast<const unsigned char*>(bits);
  float lanesL[kFloatLanes] = {};
  for (std::size_t j = 0; j < std::size_t{8} * bytes; ++j) {
    const bool setL = ((bL[j / 8] >> (7 - j % 8)) & 1u) != 0;
    lanesL[j % kFloatLanes] = lanesL[j % kFloatLanes] + (setL ? f[j] : -f[j]);
  }
  return foldLanes(lanesL);
}

}  // namespace reference

namespace {

const KernelSet kScalarSet = {CpuFeatures::Scalar,     "scalar",
                              reference::byteDot,      reference::nibbleDot,
                              reference::nibbleExpand, reference::expandedDot,
                              reference::xorBitCount,  reference::floatDot,
                              reference::floatBitSum};

}  // namespace

const KernelSet& kernelsFor(CpuFeatures::Level levelA) {
  // Each SIMD set answers null when the processor lacks its instructions, so a level above
  // what the processor offers falls back to the best set it can run.
  if (levelA >= CpuFeatures::Avx512Popcnt) {
    if (const KernelSet* setL = avx512PopcntKernels()) return *setL;
  }
  if (levelA >= CpuFeatures::Avx512) {
    if (const KernelSet* setL = avx512Kernels()) return *setL;
  }
  if (levelA >= CpuFeatures::Avx2) {
    if (const KernelSet* setL = avx2Kernels()) return *setL;
  }
  if (levelA >= CpuFeatures::Sse41) {
    if (const KernelSet* setL = sse41Kernels()) return *setL;
  }
  return kScalarSet;
}

const KernelSet& activeKernels() {
  static const KernelSet& setS = kernelsFor(CpuFeatures::level());
  return setS;
}

}  // namespace kernels
}  // namespace qridy
