#include <qrliris/IrisCodeCreator.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/ExceptionMatchers.h"
#include "support/SyntheticEye.h"

namespace kxegm {
namespace {

using quarlen_test::EyeSpec;
using quarlen_test::makeEye;

class IrisCodeCreatorTest : public ::testing::Test {
 protected:
  static IrisCode codeOf(const EyeSpec& specA, IrisQualityCheckResult* qualityA = nullptr) {
    const IrisTemplateData dataL = IrisCodeCreator::createTemplate(makeEye(specA));
    if (qualityA != nullptr) *qualityA = dataL.quality;
    return IrisCode::fromBytes(dataL.gallery.data(), dataL.gallery.size());
  }
};

TEST_F(IrisCodeCreatorTest, LayoutConstants) {
  EXPECT_EQ(iriscode::kWordsPerRing, 4);
  EXPECT_EQ(iriscode::kWords, 32);
  EXPECT_EQ(iriscode::kCodeBytes, 256u);
  // Position 17, imaginary part, of ring 2: word 2 * 4 + 35 / 32 = 9, bit 35 % 32 = 3.
  EXPECT_EQ(iriscode::wordOf(2, 17, 1), 9);
  EXPECT_EQ(iriscode::bitOf(17, 1), 3);
}

TEST_F(IrisCodeCreatorTest, CodeBitsAndMasksShareTheirWord) {
  IrisCode codeL;
  codeL.set(2, 17, 1, true, true);
  codeL.set(0, 0, 0, false, true);
  const std::vector<unsigned char> bytesL = codeL.toBytes();
  ASSERT_EQ(bytesL.size(), 256u);
  EXPECT_EQ(bytesL[9 * 8 + 0], 0x08);  // code bit 3 of word 9
  EXPECT_EQ(bytesL[9 * 8 + 4], 0x08);  // its mask bit 35
  EXPECT_EQ(bytesL[0 * 8 + 4], 0x01);  // mask bit of a usable 0 bit
  EXPECT_EQ(IrisCode::fromBytes(bytesL.data(), bytesL.size()), codeL);
  EXPECT_EQ(codeL.usableBitCount(), 2);
  // Rotation moves positions within the ring, wrapping around.
  const IrisCode turnedL = codeL.rotated(-18);
  EXPECT_TRUE(turnedL.bit(2, 63, 1));
  EXPECT_TRUE(turnedL.usable(2, 63, 1));
  EXPECT_EQ(turnedL.rotated(18), codeL);
  EXPECT_KXXCP_MESSAGE(IrisCode::fromBytes(bytesL.data(), 255), "Invalid iris code size '255'.");
}

TEST_F(IrisCodeCreatorTest, SegmentationFindsPupilAndIris) {
  EyeSpec specL;
  specL.centreX = 150.5f;
  specL.centreY = 130.0f;
  specL.pupilRadius = 25.0f;
  specL.irisRadius = 75.0f;
  specL.noise = 6.0f;
  const IrisSegmentation segL = IrisCodeCreator::segment(makeEye(specL));
  ASSERT_TRUE(segL.found);
  EXPECT_NEAR(segL.pupil.x, 150.5f, 1.0f);
  EXPECT_NEAR(segL.pupil.y, 130.0f, 1.0f);
  EXPECT_NEAR(segL.pupil.radius, 25.0f, 1.5f);
  EXPECT_NEAR(segL.iris.radius, 75.0f, 2.0f);

  // A flat image has no pupil; a pupil cut by the border is not trusted.
  EXPECT_FALSE(IrisCodeCreator::segment(qrimg::ByteImage(100, 100, 128)).found);
  specL.centreX = 10.0f;
  EXPECT_FALSE(IrisCodeCreator::segment(makeEye(specL)).found);
  EXPECT_KXXCP_MESSAGE(IrisCodeCreator::createTemplate(qrimg::ByteImage(64, 64, 90)),
                       "No iris found in the eye image.");
  EXPECT_KXXCP_MESSAGE(IrisCodeCreator::createTemplate(qrimg::ByteImage()), "Empty eye image.");
}

TEST_F(IrisCodeCreatorTest, SameEyeMatchesAcrossNoiseAndRotation) {
  EyeSpec specL;
  specL.seed = 11;
  const IrisCode enrolledL = codeOf(specL);
  specL.noise = 12.0f;
  specL.noiseSeed = 99;
  specL.rotationDegrees = 2.0f * 360.0f / iriscode::kAngles;  // two angular positions
  specL.centreX += 3.0f;
  int shiftL = 0;
  const double hdL = enrolledL.hammingDistance(codeOf(specL), 4, &shiftL);
  EXPECT_LT(hdL, 0.2);
  EXPECT_EQ(shiftL, -2);
}

TEST_F(IrisCodeCreatorTest, ProbePartIsTheGalleryCodeTwice) {
  const IrisTemplateData dataL = IrisCodeCreator::createTemplate(makeEye(EyeSpec()));
  ASSERT_EQ(dataL.gallery.size(), iriscode::kCodeBytes);
  ASSERT_EQ(dataL.probe.size(), 2 * iriscode::kCodeBytes);
  EXPECT_TRUE(std::equal(dataL.gallery.begin(), dataL.gallery.end(), dataL.probe.begin()));
  EXPECT_TRUE(std::equal(dataL.gallery.begin(), dataL.gallery.end(),
                         dataL.probe.begin() + iriscode::kCodeBytes));
  // A colour image gives the code of its grey form.
  const qrimg::ByteImage greyL = makeEye(EyeSpec());
  qrimg::ColorImage colourL(greyL.width(), greyL.height());
  for (int y = 0; y < greyL.height(); ++y) {
    for (int x = 0; x < greyL.width(); ++x) {
      colourL.setPixel(x, y, qrimg::Rgb{greyL.at(x, y), greyL.at(x, y), greyL.at(x, y)});
    }
  }
  EXPECT_EQ(IrisCodeCreator::createTemplate(colourL).gallery, dataL.gallery);
}

// Against a bit-by-bit reference: rotation by s moves position a - s to a; the distance is the
// lowest share of differing bits among those usable in both codes, over the shifts.
TEST_F(IrisCodeCreatorTest, RotationAndHammingDistanceFollowTheirBitDefinitions) {
  using namespace iriscode;
  std::mt19937 rngL(11);
  const auto randomCode = [&rngL] {
    IrisCode codeL;
    for (int r = 0; r < kRings; ++r) {
      for (int a = 0; a < kAngles; ++a) {
        for (int c = 0; c < kComponents; ++c) codeL.set(r, a, c, rngL() & 1, rngL() % 8 != 0);
      }
    }
    return codeL;
  };
  for (int trial = 0; trial < 4; ++trial) {
    const IrisCode aL = randomCode();
    // b: a turned by 2 positions with a tenth of its bits flipped, so that shift -2 wins.
    IrisCode bL = aL.rotated(2);
    for (int r = 0; r < kRings; ++r) {
      for (int a = 0; a < kAngles; ++a) {
        for (int c = 0; c < kComponents; ++c) {
          const int fromL = ((a - 2) % kAngles + kAngles) % kAngles;
          ASSERT_EQ(bL.bit(r, a, c), aL.bit(r, fromL, c));
          ASSERT_EQ(bL.usable(r, a, c), aL.usable(r, fromL, c));
          if (rngL() % 10 == 0) bL.set(r, a, c, !bL.bit(r, a, c), bL.usable(r, a, c));
        }
      }
    }
    double bestL = 1.0;
    int bestShiftL = 0;
    for (int s = -4; s <= 4; ++s) {
      int totalL = 0, diffL = 0;
      for (int r = 0; r < kRings; ++r) {
        for (int a = 0; a < kAngles; ++a) {
          const int fromL = ((a - s) % kAngles + kAngles) % kAngles;
          for (int c = 0; c < kComponents; ++c) {
            if (!aL.usable(r, a, c) || !bL.usable(r, fromL, c)) continue;
            ++totalL;
            diffL += aL.bit(r, a, c) != bL.bit(r, fromL, c);
          }
        }
      }
      const double hdL = static_cast<double>(diffL) / totalL;
      if (hdL < bestL) bestL = hdL, bestShiftL = s;
    }
    int usableL = 0;
    for (int r = 0; r < kRings; ++r) {
      for (int a = 0; a < kAngles; ++a) {
        for (int c = 0; c < kComponents; ++c) usableL += aL.usable(r, a, c);
      }
    }
    EXPECT_EQ(aL.usableBitCount(), usableL);
    int shiftL = 99;
    EXPECT_DOUBLE_EQ(aL.hammingDistance(bL, 4, &shiftL), bestL);
    EXPECT_EQ(shiftL, bestShiftL);
    EXPECT_EQ(shiftL, -2);
  }
}

TEST_F(IrisCodeCreatorTest, DifferentEyesDisagreeOnAboutHalfTheBits) {
  EyeSpec aL, bL;
  aL.seed = 1;
  bL.seed = 2;
  const double hdL = codeOf(aL).hammingDistance(codeOf(bL), 4);
  EXPECT_GT(hdL, 0.35);
  EXPECT_LT(hdL, 0.65);
}

TEST_F(IrisCodeCreatorTest, QualityReflectsOcclusionAndSize) {
  IrisQualityCheckResult openL, coveredL, smallL;
  EyeSpec specL;
  codeOf(specL, &openL);
  EXPECT_EQ(openL.irisDiameter, 160);
  EXPECT_GT(openL.usableArea, 0.95f);
  EXPECT_NEAR(openL.pupilIrisRatio, 0.35f, 0.02f);
  EXPECT_GT(openL.quality, 80.0f);
  EXPECT_LE(openL.quality, 100.0f);

  specL.upperEyelid = true;
  codeOf(specL, &coveredL);
  EXPECT_LT(coveredL.usableBitCount, openL.usableBitCount);
  EXPECT_LT(coveredL.usableArea, 0.9f);
  EXPECT_LT(coveredL.quality, openL.quality);

  EyeSpec tinyL;
  tinyL.pupilRadius = 10.0f;
  tinyL.irisRadius = 30.0f;
  codeOf(tinyL, &smallL);
  EXPECT_EQ(smallL.irisDiameter, 60);
  EXPECT_LT(smallL.quality, 0.6f * openL.quality);

  IrisQualityCheckResult ignoredL;
  IrisSegmentation badL;
  badL.pupil = Circle{10, 10, 5};
  badL.iris = Circle{10, 10, 4};
  EXPECT_KXXCP_MESSAGE(IrisCodeCreator::encode(qrimg::ByteImage(20, 20), badL, ignoredL),
                       "Invalid iris segmentation.");
}

}  // namespace
}  // namespace kxegm
