#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engines/kernels/VectorKernels.h"
#include "support/EngineTesting.h"

namespace qridy {
namespace kernels {
namespace {

// Every kernel set this processor can run, the scalar reference first.
std::vector<const KernelSet*> allSets() {
  std::vector<const KernelSet*> setsL;
  for (int l = CpuFeatures::Scalar; l <= CpuFeatures::Avx512Popcnt; ++l) {
    const KernelSet* setL = &kernelsFor(static_cast<CpuFeatures::Level>(l));
    if (setsL.empty() || setsL.back() != setL) setsL.push_back(setL);
  }
  return setsL;
}

std::uint32_t floatBits(float vA) {
  std::uint32_t bitsL;
  std::memcpy(&bitsL, &vA, 4);
  return bitsL;
}

class VectorKernelsTest : public ::testing::Test {
 protected:
  std::vector<unsigned char> randomBytes(std::size_t nA) {
    return quarlen_test::randomBytes(rngM, nA);
  }
  // Floats of widely varying magnitude and sign, so that a different summation order shows.
  std::vector<float> randomFloats(std::size_t nA) {
    std::uniform_real_distribution<float> mantissaL(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponentL(-12, 12);
    std::vector<float> valuesL(nA);
    for (auto& v : valuesL) v = std::ldexp(mantissaL(rngM), exponentL(rngM));
    return valuesL;
  }

  const std::vector<const KernelSet*> setsM = allSets();
  std::mt19937 rngM{20240611};
};

TEST_F(VectorKernelsTest, EveryPathIsAvailableOnTheMachineThatRunsTheTests) {
  // Not an assertion on the machine: a record of which paths these tests compared.
  std::string namesL;
  for (const KernelSet* s : setsM) namesL += std::string(s->name) + " ";
  RecordProperty("kernel_sets", namesL);
  EXPECT_EQ(setsM.front()->level, CpuFeatures::Scalar);
  EXPECT_EQ(&kernelsFor(CpuFeatures::Scalar), setsM.front());
  EXPECT_EQ(&activeKernels(), &kernelsFor(CpuFeatures::level()));
}

TEST_F(VectorKernelsTest, IntegerKernelsMatchTheReferenceExactlyOnRandomInputs) {
  for (std::uint32_t blocks = 0; blocks <= 41; ++blocks) {
    // One spare partial block of noise after the compared blocks: it must be ignored.
    const std::size_t sizeL = 16 * blocks + 7;
    const auto aL = randomBytes(sizeL);
    const auto bL = randomBytes(sizeL);
    std::vector<std::int16_t> expandedRefL(32 * blocks + 1);
    reference::nibbleExpand(aL.data(), blocks, expandedRefL.data());
    const std::int32_t byteRefL = reference::byteDot(aL.data(), bL.data(), blocks);
    const std::int32_t nibbleRefL = reference::nibbleDot(aL.data(), bL.data(), blocks);
    const std::uint32_t xorRefL = reference::xorBitCount(aL.data(), bL.data(), blocks);
    EXPECT_EQ(reference::expandedDot(expandedRefL.data(), bL.data(), blocks), nibbleRefL);
    for (const KernelSet* s : setsM) {
      SCOPED_TRACE(std::string(s->name) + " blocks " + std::to_string(blocks));
      EXPECT_EQ(s->byteDot(aL.data(), bL.data(), blocks), byteRefL);
      EXPECT_EQ(s->nibbleDot(aL.data(), bL.data(), blocks), nibbleRefL);
      EXPECT_EQ(s->xorBitCount(aL.data(), bL.data(), blocks), xorRefL);
      std::vector<std::int16_t> expandedL(32 * blocks + 1, 0x5a5a);
      s->nibbleExpand(aL.data(), blocks, expandedL.data());
      EXPECT_EQ(std::vector<std::int16_t>(expandedL.begin(), expandedL.end() - 1),
                std::vector<std::int16_t>(expandedRefL.begin(), expandedRefL.end() - 1));
      EXPECT_EQ(expandedL.back(), 0x5a5a) << "wrote past the expansion";
      EXPECT_EQ(s->expandedDot(expandedRefL.data(), bL.data(), blocks), nibbleRefL);
    }
  }
}

TEST_F(VectorKernelsTest, IntegerKernelsOnExtremeValues) {
  struct Case {
    unsigned char a, b;
    std::int32_t bytePerValue;   // product of one byte pair
    std::int32_t nibblePerByte;  // sum of the two nibble products of one byte pair
    std::uint32_t bitsPerByte;
  };
  const Case casesL[] = {
      {0x80, 0x80, 16384, 64, 0},    // all -128 / nibbles -8 and 0
      {0x7f, 0x7f, 16129, 50, 0},    // all 127 / nibbles 7 and -1
      {0x80, 0x7f, -16256, -56, 8},  // -128 * 127 / -8 * 7 + 0 * -1
      {0x77, 0x88, 119 * -120, -112, 8}, {0xff, 0x00, 0, 0, 8},
  };
  for (const Case& c : casesL) {
    for (std::uint32_t blocks : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 64u, 129u}) {
      const std::vector<unsigned char> aL(16 * blocks, c.a);
      const std::vector<unsigned char> bL(16 * blocks, c.b);
      for (const KernelSet* s : setsM) {
        SCOPED_TRACE(std::string(s->name) + " blocks " + std::to_string(blocks));
        EXPECT_EQ(s->byteDot(aL.data(), bL.data(), blocks),
                  c.bytePerValue * static_cast<std::int32_t>(16 * blocks));
        EXPECT_EQ(s->nibbleDot(aL.data(), bL.data(), blocks),
                  c.nibblePerByte * static_cast<std::int32_t>(16 * blocks));
        EXPECT_EQ(s->xorBitCount(aL.data(), bL.data(), blocks), c.bitsPerByte * 16 * blocks);
      }
    }
  }
}

TEST_F(VectorKernelsTest, ByteDotWrapsModulo2To32OnEveryPath) {
  // 131072 products of -128 * -128 sum to 2^31, one past the largest 32-bit value.
  const std::uint32_t blocks = 8192;
  const std::vector<unsigned char> aL(16 * blocks, 0x80);
  for (const KernelSet* s : setsM) {
    SCOPED_TRACE(s->name);
    EXPECT_EQ(s->byteDot(aL.data(), aL.data(), blocks), INT32_MIN);
  }
}

TEST_F(VectorKernelsTest, FloatDotIsBitIdenticalOnEveryPath) {
  std::vector<std::size_t> countsL;
  for (std::size_t n = 0; n <= 70; ++n) countsL.push_back(n);
  for (std::size_t n : {95, 96, 97, 255, 256, 257, 1023, 1024, 1031}) countsL.push_back(n);
  for (std::size_t n : countsL) {
    const auto aL = randomFloats(n);
    const auto bL = randomFloats(n);
    const float refL = reference::floatDot(aL.data(), bL.data(), n);
    for (const KernelSet* s : setsM) {
      SCOPED_TRACE(std::string(s->name) + " count " + std::to_string(n));
      EXPECT_EQ(floatBits(s->floatDot(aL.data(), bL.data(), n)), floatBits(refL));
    }
  }
}

TEST_F(VectorKernelsTest, FloatDotFollowsTheDocumentedOrder) {
  // 1e8 in lane 0 and -1e8 in lane 16 cancel in the first fold step; the ones in lanes 1..15
  // survive. Summed left to right instead, every 1 would be lost against 1e8.
  std::vector<float> aL(32, 1.0f);
  const std::vector<float> bL(32, 1.0f);
  aL[0] = 1e8f;
  aL[16] = -1e8f;
  for (const KernelSet* s : setsM) {
    SCOPED_TRACE(s->name);
    EXPECT_EQ(s->floatDot(aL.data(), bL.data(), 32), 30.0f);
  }
  // An element past 32 goes to lane (i mod 32) before the fold.
  std::vector<float> cL(40, 0.0f);
  cL[3] = 1e8f;
  cL[35] = 1.0f;
  cL[19] = -1e8f;
  const std::vector<float> onesL(40, 1.0f);
  for (const KernelSet* s : setsM) {
    SCOPED_TRACE(s->name);
    EXPECT_EQ(s->floatDot(cL.data(), onesL.data(), 40), 0.0f);
  }
}

TEST_F(VectorKernelsTest, FloatBitSumIsBitIdenticalAndMostSignificantBitFirst) {
  for (std::uint32_t bytes = 0; bytes <= 41; ++bytes) {
    const auto fL = randomFloats(8 * bytes);
    const auto bitsL = randomBytes(bytes);
    const float refL = reference::floatBitSum(fL.data(), bitsL.data(), bytes);
    for (const KernelSet* s : setsM) {
      SCOPED_TRACE(std::string(s->name) + " bytes " + std::to_string(bytes));
      EXPECT_EQ(floatBits(s->floatBitSum(fL.data(), bitsL.data(), bytes)), floatBits(refL));
    }
  }
  // Byte 0x80: only float 0 counts positively; floats 1..7 negatively.
  const float fL[8] = {1, 2, 4, 8, 16, 32, 64, 128};
  const unsigned char oneL = 0x80;
  for (const KernelSet* s : setsM) {
    SCOPED_TRACE(s->name);
    EXPECT_EQ(s->floatBitSum(fL, &oneL, 1), 1.0f - 254.0f);
  }
}

TEST_F(VectorKernelsTest, KernelsReadOnlyTheBlocksTheyAreGiven) {
  // Inputs that end exactly at the last whole block, for every short length: the masked and
  // partial loads must not reach past it (the sanitizer build checks the heap bounds).
  for (std::uint32_t blocks = 1; blocks <= 9; ++blocks) {
    const auto aL = randomBytes(16 * blocks);
    const auto bL = randomBytes(16 * blocks);
    std::vector<unsigned char> aCopyL(aL), bCopyL(bL);
    for (const KernelSet* s : setsM) {
      s->byteDot(aL.data(), bL.data(), blocks);
      s->nibbleDot(aL.data(), bL.data(), blocks);
      s->xorBitCount(aL.data(), bL.data(), blocks);
    }
    EXPECT_EQ(aL, aCopyL);
    EXPECT_EQ(bL, bCopyL);
  }
}

}  // namespace
}  // namespace kernels
}  // namespace qridy
