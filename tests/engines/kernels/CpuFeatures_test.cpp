#include <quarlen/CpuFeatures.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "engines/kernels/VectorKernels.h"

namespace qridy {
namespace {

using L = CpuFeatures::Level;

TEST(CpuFeaturesTest, EveryLevelWithItsName) {
  const std::pair<L, const char*> namesL[] = {{CpuFeatures::Scalar, "scalar"},
                                              {CpuFeatures::Sse41, "sse41"},
                                              {CpuFeatures::Avx2, "avx2"},
                                              {CpuFeatures::Avx512, "avx512"},
                                              {CpuFeatures::Avx512Popcnt, "avx512popcnt"}};
  for (const auto& [levelL, nameL] : namesL) {
    EXPECT_STREQ(CpuFeatures::levelName(levelL), nameL);
    // Each name selects its level on the most capable processor, and caps a lesser one.
    EXPECT_EQ(CpuFeatures::capLevel(nameL, CpuFeatures::Avx512Popcnt), levelL) << nameL;
    EXPECT_EQ(CpuFeatures::capLevel(nameL, CpuFeatures::Scalar), CpuFeatures::Scalar) << nameL;
  }
  EXPECT_EQ(CpuFeatures::capLevel("avx512popcnt", CpuFeatures::Avx512), CpuFeatures::Avx512);
  EXPECT_EQ(CpuFeatures::capLevel("avx512", CpuFeatures::Avx2), CpuFeatures::Avx2);
  EXPECT_EQ(CpuFeatures::capLevel(nullptr, CpuFeatures::Avx512), CpuFeatures::Avx512);
  EXPECT_EQ(CpuFeatures::capLevel("AVX2", CpuFeatures::Avx512), CpuFeatures::Avx512);
  EXPECT_EQ(CpuFeatures::capLevel("", CpuFeatures::Sse41), CpuFeatures::Sse41);
}

// The AVX-512 bit count is a feature of its own: reported, and a level of its own.
TEST(CpuFeaturesTest, Avx512PopcountIsDetectedAndReported) {
  const std::string describedL = " " + CpuFeatures::describe() + " ";
  EXPECT_EQ(describedL.find(" avx512vpopcntdq ") != std::string::npos,
            CpuFeatures::hasAvx512Popcnt());
  if (CpuFeatures::hasAvx512Popcnt()) {
    EXPECT_TRUE(CpuFeatures::hasAvx512());
  }
  if (std::getenv("QUARLEN_CPU_LEVEL") == nullptr) {
    EXPECT_EQ(CpuFeatures::level() == CpuFeatures::Avx512Popcnt,
              CpuFeatures::hasAvx512Popcnt() && CpuFeatures::hasAvx2() && CpuFeatures::hasSse41());
  }
}

// "avx512" counts bits as the AVX2 set does; "avx512popcnt" with its own count.
TEST(CpuFeaturesTest, TheTwoAvx512SetsDifferInTheBitCountOnly) {
  if (!CpuFeatures::hasAvx512Popcnt()) GTEST_SKIP() << "no AVX-512 VPOPCNTDQ here";
  const kernels::KernelSet& plainL = kernels::kernelsFor(CpuFeatures::Avx512);
  const kernels::KernelSet& popcntL = kernels::kernelsFor(CpuFeatures::Avx512Popcnt);
  EXPECT_STREQ(plainL.name, "avx512");
  EXPECT_EQ(plainL.level, CpuFeatures::Avx512);
  EXPECT_STREQ(popcntL.name, "avx512popcnt");
  EXPECT_EQ(popcntL.level, CpuFeatures::Avx512Popcnt);
  EXPECT_EQ(plainL.xorBitCount, kernels::kernelsFor(CpuFeatures::Avx2).xorBitCount);
  EXPECT_NE(popcntL.xorBitCount, plainL.xorBitCount);
  EXPECT_EQ(popcntL.byteDot, plainL.byteDot);
  EXPECT_EQ(popcntL.floatBitSum, plainL.floatBitSum);
}

}  // namespace
}  // namespace qridy
