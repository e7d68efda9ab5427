#include <qrlface/FaceQualityCheckResult.h>

#include <gtest/gtest.h>

#include <sstream>

#include "support/ExceptionMatchers.h"
#include "support/RecordBytes.h"

namespace kxegm {
namespace {

class FaceQualityCheckResultTest : public ::testing::Test {
 protected:
  static FaceQualityCheckResult sample() {
    FaceQualityCheckResult resultL;
    resultL.setImageSize(640, 480);
    resultL.setQuality(72.5f);
    resultL.setEyeDistance(61.0f);
    resultL.setPose(-3.5f, 1.25f);
    resultL.addCheck(4, true, 61.0f);
    resultL.addCheck(8, false, 22.0f);
    return resultL;
  }
  static std::string bytesOf(const FaceQualityCheckResult& resultA) {
    std::ostringstream osL;
    resultA.write(osL);
    return osL.str();
  }
};

TEST_F(FaceQualityCheckResultTest, GoldenBytesAndRoundTrip) {
  FaceQualityCheckResult oneL;
  oneL.setImageSize(640, 480);
  oneL.setQuality(0.5f);
  oneL.addCheck(9, true, 2.0f);
  EXPECT_EQ(quarlen_test::hex(bytesOf(oneL)),
            "46 51 01 00 80 02 00 00 E0 01 00 00 00 00 00 3F 00 00 00 00 00 00 00 00 00 00 00 00 "
            "01 00 00 00 09 00 00 00 01 00 00 00 40");

  const std::string bytesL = bytesOf(sample());
  std::istringstream isL(bytesL);
  FaceQualityCheckResult backL;
  backL.read(isL);
  EXPECT_EQ(backL, sample());
  EXPECT_EQ(bytesOf(backL), bytesL);
  EXPECT_FALSE(backL.allPassed());
  ASSERT_NE(backL.findCheck(8), nullptr);
  EXPECT_FLOAT_EQ(backL.findCheck(8)->value, 22.0f);
  EXPECT_EQ(backL.findCheck(5), nullptr);
}

TEST_F(FaceQualityCheckResultTest, ReaderErrorsLeaveTheResultUnchanged) {
  const std::string goodL = bytesOf(sample());
  FaceQualityCheckResult targetL;
  targetL.setQuality(1.0f);
  auto readInto = [&](const std::string& bytesA) {
    std::istringstream isL(bytesA);
    targetL.read(isL);
  };
  std::string badL = goodL;
  badL[0] = 'G';
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face quality result magic number: 'GQ'.");
  badL = goodL;
  quarlen_test::setFixed16At(badL, 2, 0);
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face quality result version: '0'.");
  badL = goodL;
  badL[32 + 4] = 2;  // passed flag of the first check
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face quality result passed flag '2'.");
  badL = goodL;
  quarlen_test::setFixed32At(badL, 32 + 9, 4);  // second check repeats the first one's type
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Duplicate face quality check '4'.");
  badL = goodL;
  quarlen_test::setFixed32At(badL, 28, 0x10000000u);
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Truncated face quality result.");
  for (std::size_t cutL = 0; cutL < goodL.size(); ++cutL) {
    EXPECT_KXXCP_MESSAGE(readInto(goodL.substr(0, cutL)), "Truncated face quality result.");
  }
  EXPECT_FLOAT_EQ(targetL.quality(), 1.0f);
  EXPECT_TRUE(targetL.checks().empty());

  FaceQualityCheckResult dupL;
  dupL.addCheck(3, true, 1.0f);
  EXPECT_KXXCP_MESSAGE(dupL.addCheck(3, false, 2.0f), "Duplicate face quality check '3'.");
  EXPECT_EQ(dupL.checks().size(), 1u);
}

}  // namespace
}  // namespace kxegm
