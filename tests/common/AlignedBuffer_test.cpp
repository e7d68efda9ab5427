#include "common/AlignedBuffer.h"

#include <cstdint>
#include <utility>

#include <gtest/gtest.h>

namespace qridy {
namespace {

TEST(AlignedBufferTest, PaddedSizeRoundsUpToSixteen) {
  const std::pair<std::uint64_t, std::uint64_t> casesL[] = {
      {0, 0},
      {1, 16},
      {15, 16},
      {16, 16},
      {17, 32},
      {31, 32},
      {32, 32},
      {0xFFFFFFFFu, 0x100000000u},
      {UINT64_MAX - 15, UINT64_MAX - 15},  // already a multiple of 16
      {UINT64_MAX - 14, 0},                // does not fit 64 bits
      {UINT64_MAX, 0}};
  for (const auto& [sizeL, paddedL] : casesL) {
    EXPECT_EQ(AlignedBuffer::paddedSize(sizeL), paddedL) << sizeL;
  }
}

TEST(AlignedBufferTest, AllocationIsAlignedPaddedAndZero) {
  for (std::uint64_t sizeL : {1u, 15u, 16u, 17u, 100u, 4096u}) {
    AlignedBuffer bufferL = AlignedBuffer::allocate(sizeL);
    ASSERT_FALSE(bufferL.empty()) << sizeL;
    EXPECT_EQ(bufferL.size(), AlignedBuffer::paddedSize(sizeL));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bufferL.data()) % 64, 0u) << sizeL;
    for (std::size_t i = 0; i < bufferL.size(); ++i) ASSERT_EQ(bufferL.data()[i], 0) << i;
  }
}

TEST(AlignedBufferTest, EmptyForNothingAndBeyondTheLimit) {
  EXPECT_TRUE(AlignedBuffer::allocate(0).empty());
  EXPECT_EQ(AlignedBuffer::allocate(0).size(), 0u);
  // The default limit is what a 32-bit size field holds: the largest multiple of 16 below it is
  // accepted (not allocated here), one byte more pads beyond it.
  EXPECT_TRUE(AlignedBuffer::allocate(0xFFFFFFF1u).empty());
  EXPECT_FALSE(AlignedBuffer::allocate(32, 32).empty());
  EXPECT_TRUE(AlignedBuffer::allocate(33, 47).empty());
  EXPECT_FALSE(AlignedBuffer::allocate(33, 48).empty());
  EXPECT_TRUE(AlignedBuffer::allocate(UINT64_MAX, UINT64_MAX).empty());
}

TEST(AlignedBufferTest, MovesOwnership) {
  AlignedBuffer aL = AlignedBuffer::allocate(20);
  unsigned char* const pL = aL.data();
  aL.data()[3] = 7;
  AlignedBuffer bL(std::move(aL));
  EXPECT_TRUE(aL.empty());
  EXPECT_EQ(aL.size(), 0u);
  EXPECT_EQ(bL.data(), pL);
  EXPECT_EQ(bL.size(), 32u);
  AlignedBuffer cL = AlignedBuffer::allocate(1);
  cL = std::move(bL);  // releases c's own memory (the sanitizers would report a leak)
  EXPECT_EQ(cL.data(), pL);
  EXPECT_EQ(cL.as<unsigned char>()[3], 7);
  EXPECT_TRUE(bL.empty());
  cL.reset();
  EXPECT_TRUE(cL.empty());
  EXPECT_EQ(cL.size(), 0u);
}

}  // namespace
}  // namespace qridy
