#include <gtest/gtest.h>

#include <vector>

#include <qrlfinger/MinutiaeTemplate.h>

namespace qrfpt {
namespace {

FingerprintTemplate twoMinutiae() {
  FingerprintTemplate tL;
  tL.kind = kKindL2F;
  tL.impressionType = 3;
  tL.orientation = -5;
  tL.quality = 77;
  tL.orientationConfidence = 90;
  tL.width = 400;
  tL.height = 0x1F4;
  tL.minutiae = {{0x0102, 0x0304, 200, MinutiaBifurcation, 63}, {7, 9, 0, MinutiaEnding, 1}};
  return tL;
}

TEST(MinutiaeTemplateTest, StoredFormIsTheDocumentedLayout) {
  std::vector<std::uint8_t> bytesL;
  ASSERT_EQ(twoMinutiae().encode(bytesL), FingerOk);
  const std::vector<std::uint8_t> goldenL = {
      'F',  1,    2,    0,    3,   0xFB,          77, 90, 0x90, 0x01, 0xF4, 0x01,  // header
      0x02, 0x01, 0x04, 0x03, 200, 2 | (63 << 2),                                  // minutia 0
      7,    0,    9,    0,    0,   1 | (1 << 2)};                                  // minutia 1
  EXPECT_EQ(bytesL, goldenL);
  EXPECT_EQ(templateBytes(bytesL.data(), bytesL.size()), 24u);

  FingerprintTemplate backL;
  bytesL.push_back(0xEE);  // padding after a template is ignored
  ASSERT_EQ(backL.decode(bytesL.data(), bytesL.size()), FingerOk);
  std::vector<std::uint8_t> againL;
  backL.encode(againL);
  bytesL.pop_back();
  EXPECT_EQ(againL, bytesL);
  EXPECT_EQ(backL.orientation, -5);
  EXPECT_EQ(backL.minutiae, twoMinutiae().minutiae);
}

TEST(MinutiaeTemplateTest, HostileHeadersAreRefusedWithoutReadingPastTheEnd) {
  std::vector<std::uint8_t> goodL;
  twoMinutiae().encode(goodL);
  FingerprintTemplate tL;
  // Each case reads from a buffer of exactly the given length (asan sees any overrun).
  struct Case {
    std::vector<std::uint8_t> bytes;
    int status;
  };
  auto with = [&](std::size_t offsetA, std::uint8_t valueA) {
    auto bL = goodL;
    bL[offsetA] = valueA;
    return bL;
  };
  std::vector<Case> casesL = {
      {{}, FingerTooShort},
      {std::vector<std::uint8_t>(goodL.begin(), goodL.begin() + 11), FingerTooShort},
      {std::vector<std::uint8_t>(goodL.begin(), goodL.end() - 1), FingerTooShort},
      {with(2, 3), FingerTooShort},  // a count beyond the size
      {with(0, 'X'), FingerBadKind},
      {with(1, 2), FingerBadVersion},
      {with(3, 1), FingerTooManyMinutiae},  // 258 minutiae
  };
  for (const Case& c : casesL) {
    const std::vector<std::uint8_t> exactL = c.bytes;
    EXPECT_EQ(tL.decode(exactL.empty() ? nullptr : exactL.data(), exactL.size()), c.status);
    EXPECT_TRUE(tL.minutiae.empty());
    EXPECT_EQ(templateBytes(exactL.empty() ? nullptr : exactL.data(), exactL.size()), 0u);
  }
  // Exactly 255 minutiae is the largest template.
  FingerprintTemplate bigL;
  bigL.minutiae.resize(255);
  std::vector<std::uint8_t> bigBytesL;
  ASSERT_EQ(bigL.encode(bigBytesL), FingerOk);
  EXPECT_EQ(tL.decode(bigBytesL.data(), bigBytesL.size()), FingerOk);
  bigL.minutiae.resize(256);
  EXPECT_EQ(bigL.encode(bigBytesL), FingerTooManyMinutiae);
  // A kind can be demanded.
  EXPECT_EQ(tL.decode(goodL.data(), goodL.size(), kKindL2M), FingerBadKind);
  EXPECT_EQ(tL.decode(goodL.data(), goodL.size(), kKindL2F), FingerOk);
}

TEST(MinutiaeTemplateTest, MeanQualityScalesToAHundred) {
  FingerprintTemplate tL;
  EXPECT_EQ(tL.meanQuality(), 0);
  tL.minutiae = {{0, 0, 0, 0, 63}, {0, 0, 0, 0, 63}};
  EXPECT_EQ(tL.meanQuality(), 100);
  tL.minutiae = {{0, 0, 0, 0, 63}, {0, 0, 0, 0, 0}};
  EXPECT_EQ(tL.meanQuality(), 50);
}

}  // namespace
}  // namespace qrfpt
