#include "common/Coding.h"

#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace qridy {
namespace coding {
namespace {

std::string bytes(const unsigned char* dataA, std::size_t sizeA) {
  return std::string(reinterpret_cast<const char*>(dataA), sizeA);
}

// Golden little-endian bytes of every width, written through the put cursor and read back
// through the get cursor.
TEST(CodingTest, CursorsWriteAndReadGoldenBytes) {
  unsigned char bufL[19];
  std::memset(bufL, 0xEE, sizeof bufL);
  PutCursor putL(bufL, sizeof bufL);
  ASSERT_TRUE(putL.putFixed8(0x81));
  ASSERT_TRUE(putL.putFixed16(0x0201));
  ASSERT_TRUE(putL.putFixed32(0x06050403u));
  ASSERT_TRUE(putL.putFloat32(-1.5f));  // 0xBFC00000
  ASSERT_TRUE(putL.putFixed64(0x0E0D0C0B0A090807ull));
  EXPECT_EQ(putL.remaining(), 0u);
  EXPECT_EQ(bytes(bufL, sizeof bufL), std::string("\x81\x01\x02\x03\x04\x05\x06\x00\x00\xC0\xBF"
                                                  "\x07\x08\x09\x0A\x0B\x0C\x0D\x0E",
                                                  19));

  Cursor getL(bufL, sizeof bufL);
  unsigned char firstL = 0;
  std::uint16_t v16 = 0;
  std::uint32_t v32 = 0;
  float f = 0.0f;
  std::uint64_t v64 = 0;
  ASSERT_TRUE(getL.getBytes(&firstL, 1));
  ASSERT_TRUE(getL.getFixed16(v16));
  ASSERT_TRUE(getL.getFixed32(v32));
  ASSERT_TRUE(getL.getFloat32(f));
  ASSERT_TRUE(getL.getFixed64(v64));
  EXPECT_EQ(firstL, 0x81);
  EXPECT_EQ(v16, 0x0201);
  EXPECT_EQ(v32, 0x06050403u);
  EXPECT_EQ(f, -1.5f);
  EXPECT_EQ(v64, 0x0E0D0C0B0A090807ull);
  EXPECT_EQ(getL.remaining(), 0u);
}

// A put or get that does not fit changes nothing: neither the bytes nor the value nor the
// position.
TEST(CodingTest, CursorsRefuseWhatDoesNotFit) {
  unsigned char bufL[3] = {0xAA, 0xBB, 0xCC};
  PutCursor putL(bufL, sizeof bufL);
  EXPECT_FALSE(putL.putFixed32(0));
  EXPECT_FALSE(putL.putFloat32(0.0f));
  EXPECT_FALSE(putL.putFixed64(0));
  EXPECT_EQ(bytes(bufL, 3), "\xAA\xBB\xCC");
  EXPECT_TRUE(putL.putFixed16(0x1122));
  EXPECT_FALSE(putL.putFixed16(0x3344));
  EXPECT_TRUE(putL.putFixed8(0x55));
  EXPECT_FALSE(putL.putFixed8(0x66));
  EXPECT_EQ(bytes(bufL, 3), "\x22\x11\x55");

  Cursor getL(bufL, sizeof bufL);
  float f = 7.0f;
  std::uint32_t v32 = 7;
  EXPECT_FALSE(getL.getFloat32(f));
  EXPECT_FALSE(getL.getFixed32(v32));
  EXPECT_EQ(f, 7.0f);
  EXPECT_EQ(v32, 7u);
  EXPECT_EQ(getL.remaining(), 3u);
}

// Floats keep every bit: signed zero, infinities, a NaN payload and a denormal.
TEST(CodingTest, FloatsKeepTheirBits) {
  const std::uint32_t patternsL[] = {0x00000000u, 0x80000000u, 0x7F800000u, 0xFF800000u,
                                     0x7FC12345u, 0x00000001u, 0x3F800000u};
  for (std::uint32_t bitsL : patternsL) {
    float valueL;
    std::memcpy(&valueL, &bitsL, 4);
    unsigned char bufL[4];
    encodeFloat32(bufL, valueL);
    EXPECT_EQ(decodeFixed32(bufL), bitsL);
    const float backL = decodeFloat32(bufL);
    std::uint32_t backBitsL;
    std::memcpy(&backBitsL, &backL, 4);
    EXPECT_EQ(backBitsL, bitsL);

    std::ostringstream osL;
    putFloat32(osL, valueL);
    EXPECT_EQ(osL.str(), bytes(bufL, 4));
    std::istringstream isL(osL.str());
    float readL = 0.0f;
    ASSERT_TRUE(getFloat32(isL, readL));
    std::memcpy(&backBitsL, &readL, 4);
    EXPECT_EQ(backBitsL, bitsL);
  }
  std::istringstream shortL(std::string("\x00\x00\x80", 3));
  float keptL = 2.0f;
  EXPECT_FALSE(getFloat32(shortL, keptL));
  EXPECT_EQ(keptL, 2.0f);
}

}  // namespace
}  // namespace coding
}  // namespace qridy
