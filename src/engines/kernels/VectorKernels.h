#pragma once

// Vector kernels of the match engines: the innermost loops of every identification.
//
// Each kernel exists as a plain scalar reference and as SSE4.1, AVX2 and AVX-512 versions (the
// bit count also with AVX-512 VPOPCNTDQ). The
// version used is chosen once per process from qridy::CpuFeatures::level() (which the
// environment variable QUARLEN_CPU_LEVEL can cap), never from the build machine's flags.
//
// Results do not depend on the version:
// - the integer kernels return exactly the scalar result (sums wrap modulo 2^32 on every path);
// - the float kernels use one fixed accumulation order on every path: element i is added to lane
//   i mod 32 (lanes start at +0.0, elements in increasing order, each product rounded to float
//   before the addition, never fused), and the 32 lanes are then folded in halves
//   (lane l += lane l + 16, then l += l + 8, 4, 2, 1). A score is therefore the same bits
//   whichever processor computed it.
//
// Block kernels read both inputs in whole 16-byte blocks with unaligned loads; `blocks` is the
// number of blocks (callers pass size / 16, so a trailing partial block is ignored). Zero blocks
// give 0. No kernel allocates or keeps state.

#include <cstddef>
#include <cstdint>

#include <quarlen/CpuFeatures.h>

namespace qridy {
namespace kernels {

// Lanes of the fixed float accumulation order.
constexpr std::size_t kFloatLanes = 32;

struct KernelSet {
  // The level this set was built for, and its name (CpuFeatures::levelName of the level).
  CpuFeatures::Level level;
  const char* name;

  // Σ a_i * b_i over 16 * blocks signed 8-bit values.
  std::int32_t (*byteDot)(const void* a, const void* b, std::uint32_t blocks);

  // Σ a_i * b_i over signed 4-bit values packed four to a little-endian 16-bit word (bits
  // 15..12, 11..8, 7..4, 3..0 of each word, each sign-extended): 32 * blocks values.
  std::int32_t (*nibbleDot)(const void* a, const void* b, std::uint32_t blocks);

  // Expands packed nibbles for expandedDot: each 16-byte block becomes four blocks of eight
  // signed 16-bit values: bits 15..12 of the block's eight words, then 11..8, 7..4 and 3..0.
  // `expanded` receives 32 * blocks values (64 * blocks bytes).
  void (*nibbleExpand)(const void* packed, std::uint32_t blocks, std::int16_t* expanded);

  // Σ expanded_i * packed_i: nibbleDot with the first operand expanded by nibbleExpand (same
  // value as nibbleDot of the unexpanded operands, when the expanded values are nibbles).
  std::int32_t (*expandedDot)(const std::int16_t* expanded, const void* packed,
                              std::uint32_t blocks);

  // Number of differing bits over 16 * blocks bytes.
  std::uint32_t (*xorBitCount)(const void* a, const void* b, std::uint32_t blocks);

  // Σ a_i * b_i over `count` floats, in the fixed lane order.
  float (*floatDot)(const float* a, const float* b, std::size_t count);

  // Σ ±f_j over the first 8 * bytes entries of f: +f_j where bit j of `bits` is set, -f_j where
  // it is clear; bit j is bit 7 - (j mod 8) of byte j / 8 (most significant bit first). Fixed
  // lane order as floatDot.
  float (*floatBitSum)(const float* f, const void* bits, std::uint32_t bytes);
};

// The kernels for a level: the fastest set not above `levelA` that this processor can run.
const KernelSet& kernelsFor(CpuFeatures::Level levelA);

// The kernels for CpuFeatures::level(), resolved once per process.
const KernelSet& activeKernels();

// The plain scalar references (also reached by kernelsFor(CpuFeatures::Scalar)).
namespace reference {
std::int32_t byteDot(const void* a, const void* b, std::uint32_t blocks);
std::int32_t nibbleDot(const void* a, const void* b, std::uint32_t blocks);
void nibbleExpand(const void* packed, std::uint32_t blocks, std::int16_t* expanded);
std::int32_t expandedDot(const std::int16_t* expanded, const void* packed, std::uint32_t blocks);
std::uint32_t xorBitCount(const void* a, const void* b, std::uint32_t blocks);
float floatDot(const float* a, const float* b, std::size_t count);
float floatBitSum(const float* f, const void* bits, std::uint32_t bytes);

// Folds the kFloatLanes partial sums in the fixed order.
float foldLanes(float* lanes);
}  // namespace reference

// The SIMD sets, or null when the processor (or the build's compiler) cannot run them.
const KernelSet* sse41Kernels();
const KernelSet* avx2Kernels();
const KernelSet* avx512Kernels();
const KernelSet* avx512PopcntKernels();

}  // namespace kernels
}  // namespace qridy
