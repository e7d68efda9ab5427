#include <quarlen/EyeLocator.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include <qrlface/FaceQualityCheckResult.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/FaceDescriptor.h>

#include "support/ExampleConfig.h"
#include "support/ExceptionMatchers.h"
#include "support/FacePhotos.h"

namespace qrbase {
namespace {

using FFP = qrimg::FacialFeaturePoints;

qrimg::ByteImage ramp() {
  qrimg::ByteImage imageL(320, 240);
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) imageL.at(x, y) = static_cast<unsigned char>((x / 2 + y) % 256);
  }
  return imageL;
}

TEST(EyeLocatorTest, DescribesTheFaceAroundTwoEyes) {
  const qrimg::ByteImage imageL = ramp();
  const qrimg::Point2f rightL{100.0f, 120.0f}, leftL{160.0f, 130.0f};
  const std::unique_ptr<FaceDescriptor> faceL(
      EyeLocator::describeFace(imageL, rightL, leftL, qrimg::Roi(60, 70, 140, 150), 7.0f, true));
  EXPECT_TRUE(faceL->isValid());
  EXPECT_EQ(faceL->instance(), qridy::InstanceFaceFrontal);
  EXPECT_EQ(*faceL->roi(), qrimg::Roi(60, 70, 140, 150));
  EXPECT_EQ(faceL->detectionConfidence(), 7.0f);
  EXPECT_EQ(faceL->facialFeaturePoints()->point(FFP::RightEye), rightL);
  EXPECT_EQ(faceL->facialFeaturePoints()->point(FFP::LeftEye), leftL);
  EXPECT_TRUE(faceL->facialFeaturePoints()->isSet(FFP::MouthCentre));
  ASSERT_NE(faceL->textureImage(), nullptr);
  EXPECT_TRUE(faceL->textureImage()->sameAs(imageL));
  // The derotated frame: 128 x 128, the eyes on row 52 at 40 and 88; its map leads back to the
  // input eyes and its pixels are the input's pixels there.
  const auto& derotatedL = dynamic_cast<const qrimg::ByteImage&>(*faceL->derotatedImage());
  EXPECT_EQ(derotatedL.width(), 128);
  EXPECT_EQ(derotatedL.height(), 128);
  const FFP& dpL = *faceL->derotatedFeaturePoints();
  EXPECT_EQ(dpL.point(FFP::RightEye), (qrimg::Point2f{40.0f, 52.0f}));
  EXPECT_EQ(dpL.point(FFP::LeftEye), (qrimg::Point2f{88.0f, 52.0f}));
  const auto& mapL = faceL->derotationGraph()->toImage();
  for (const auto& [derotatedPointL, inputPointL] :
       {std::pair{qrimg::Point2f{40.0f, 52.0f}, rightL},
        std::pair{qrimg::Point2f{88.0f, 52.0f}, leftL}}) {
    const qrimg::Point2f backL = mapL.apply(derotatedPointL);
    EXPECT_NEAR(backL.x, inputPointL.x, 1e-3);
    EXPECT_NEAR(backL.y, inputPointL.y, 1e-3);
    EXPECT_NEAR(derotatedL.at(static_cast<int>(derotatedPointL.x), 52),
                imageL.sample(inputPointL.x, inputPointL.y), 1.0);
  }
  // Every derotated pixel, borders included, is the input sampled through the map.
  int wrongL = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      const qrimg::Point2f pL = mapL.apply({static_cast<float>(x), static_cast<float>(y)});
      wrongL += derotatedL.at(x, y) != std::lround(imageL.sample(pL.x, pL.y));
    }
  }
  EXPECT_EQ(wrongL, 0);
  EXPECT_TRUE(faceL->featureExtractionImage()->sameAs(derotatedL));
  EXPECT_EQ(faceL->featureExtractionGraph()->kind(), kxegm::FaceGraph::KindFeatureExtraction);

  const kxegm::FaceQualityCheckResult& qL = *faceL->faceRecQcheckResult();
  EXPECT_EQ(qL.imageWidth(), 320u);
  EXPECT_EQ(qL.imageHeight(), 240u);
  EXPECT_NEAR(qL.eyeDistance(), std::sqrt(3700.0), 1e-3);
  EXPECT_NEAR(qL.poseRoll(), std::atan2(10.0, 60.0) * 180.0 / M_PI, 1e-3);
  EXPECT_FLOAT_EQ(qL.quality(), 100.0f);
  EXPECT_FLOAT_EQ(faceL->qualityValue(), 100.0f);
  EXPECT_TRUE(qL.allPassed());
  EXPECT_EQ(qL.checks().size(), 2u);
}

TEST(EyeLocatorTest, QualityFollowsEyeDistanceRollAndDetection) {
  const qrimg::ByteImage imageL = ramp();
  struct Case {
    qrimg::Point2f right, left;
    bool detected;
    float quality;
    bool resolutionPassed, rollPassed;
  };
  const float c30 = 20.0f * std::cos(0.5235988f), s30 = 20.0f * std::sin(0.5235988f);
  const float c19 = 27.0f * std::cos(0.3316126f), s19 = 27.0f * std::sin(0.3316126f);
  const Case casesL[] = {
      {{100, 100}, {124, 100}, true, 40.0f, true, true},      // exactly 24 apart
      {{100, 100}, {123, 100}, true, 38.3333f, false, true},  // below 24
      {{100, 100}, {130, 100}, false, 40.0f, true, true},     // 50 % of 60, placed: x 0.8
      {{100, 100}, {100 + c30, 100 + s30}, true, 33.3333f, false, false},  // rolled 30 degrees
      {{100, 100}, {100 + c19, 100 + s19}, true, 45.0f, true, true},       // rolled 19 degrees
  };
  for (const Case& c : casesL) {
    const std::unique_ptr<FaceDescriptor> faceL(
        EyeLocator::describeFace(imageL, c.right, c.left, qrimg::Roi(), -1.0f, c.detected));
    const kxegm::FaceQualityCheckResult& qL = *faceL->faceRecQcheckResult();
    EXPECT_NEAR(qL.quality(), c.quality, 1e-3) << c.left.x;
    EXPECT_EQ(qL.findCheck(4)->passed, c.resolutionPassed) << c.left.x;
    EXPECT_EQ(qL.findCheck(9)->passed, c.rollPassed) << c.left.x;
  }
}

TEST(EyeLocatorTest, RefusesWhatItCannotLocate) {
  EyeLocator locatorL;
  BioDescriptorList listL;
  EXPECT_KXXCP_MESSAGE(locatorL.locateEyes(ramp(), listL, 0, nullptr, 1),
                       "EyeLocator is not initialized.");
  FFP oneEyeL;
  oneEyeL.set(FFP::RightEye, {10.0f, 10.0f});
  EXPECT_KXXCP_MESSAGE(locatorL.predefineEyes(ramp(), oneEyeL, listL, 0, true, nullptr),
                       "Feature points without both eyes.");
  EXPECT_KXXCP_MESSAGE(locatorL.predefineEyes(qrimg::ByteImage(), oneEyeL, listL, 0, true, nullptr),
                       "Empty image.");
  EXPECT_EQ(listL.size(), 0u);
  quarlen_test::ExampleConfig configL("[EYE_LOCATION]\nfaceCascade = /nonexistent/face.xml\n");
  EXPECT_KXXCP_MESSAGE(locatorL.init(nullptr, nullptr, 1, true, TemplateCreationModeFastC),
                       "Cannot load face cascade '/nonexistent/face.xml'.");
  EXPECT_FALSE(locatorL.initialized());
}

TEST(EyeLocatorTest, PredefinedEyesGetTheBoxADetectorWouldGive) {
  EyeLocator locatorL;
  BioDescriptorList listL;
  FFP eyesL;
  eyesL.set(FFP::RightEye, {100.0f, 100.0f});
  eyesL.set(FFP::LeftEye, {140.0f, 100.0f});
  EXPECT_EQ(locatorL.predefineEyes(ramp(), eyesL, listL, 0, true, nullptr), 1u);
  ASSERT_EQ(listL.size(), 1u);
  const FaceDescriptor& faceL = *listL.getFaceDescriptor(0);
  // 40 pixels between the eyes are 40 % of the box: 100 wide, eyes at 38 % of its height.
  EXPECT_EQ(*faceL.roi(), qrimg::Roi(70, 62, 100, 100));
  EXPECT_EQ(faceL.facialFeaturePoints()->point(FFP::LeftEye), (qrimg::Point2f{140.0f, 100.0f}));
  EXPECT_EQ(faceL.detectionConfidence(), -1.0f);
}

TEST(EyeLocatorTest, LocatesTheEyesOfPhotographsAndOfTheirTransforms) {
  quarlen_test::ExampleConfig configL;
  EyeLocator locatorL;
  locatorL.init(nullptr, nullptr, 1, true, TemplateCreationModeFastC);
  ASSERT_TRUE(locatorL.initialized());
  for (const std::string& nameL : quarlen_test::facePhotoNames()) {
    QUARLEN_LOAD_PHOTO(photoL, nameL);
    BioDescriptorList listL;
    ASSERT_EQ(locatorL.locateEyes(*photoL, listL, 0, nullptr, 1), 1u) << nameL;
    const FFP& eyesL = *listL.getFaceDescriptor(0)->facialFeaturePoints();
    // Turned by 6 degrees and shrunk to 80 %: the eyes found are the turned eyes.
    const float degreesL = 6.0f, scaleL = 0.8f;
    const qrimg::ByteImage turnedL =
        quarlen_test::transformPhoto(*photoL, degreesL, scaleL, 1.0f, 1.0f, 0.0f);
    BioDescriptorList turnedListL;
    ASSERT_EQ(locatorL.locateEyes(turnedL, turnedListL, 0, nullptr, 1), 1u) << nameL;
    const FFP& turnedEyesL = *turnedListL.getFaceDescriptor(0)->facialFeaturePoints();
    const double radL = degreesL * M_PI / 180.0;
    const float toleranceL = 0.2f * eyesL.eyeDistance() * scaleL;
    for (int e : {FFP::RightEye, FFP::LeftEye}) {
      const double dxL = eyesL.point(e).x - photoL->width() / 2.0;
      const double dyL = eyesL.point(e).y - photoL->height() / 2.0;
      const double xL =
          photoL->width() / 2.0 + scaleL * (std::cos(radL) * dxL - std::sin(radL) * dyL);
      const double yL =
          photoL->height() / 2.0 + scaleL * (std::sin(radL) * dxL + std::cos(radL) * dyL);
      EXPECT_NEAR(turnedEyesL.point(e).x, xL, toleranceL) << nameL << " eye " << e;
      EXPECT_NEAR(turnedEyesL.point(e).y, yL, toleranceL) << nameL << " eye " << e;
    }
  }
  QUARLEN_LOAD_PHOTO(noFaceL, quarlen_test::noFacePhoto());
  BioDescriptorList listL;
  EXPECT_KXXCP_MESSAGE(locatorL.locateEyes(*noFaceL, listL, 0, nullptr, 1),
                       "No face found in the image.");
  EXPECT_KXXCP_MESSAGE(locatorL.locateEyes(qrimg::ByteImage(), listL, 0, nullptr, 1),
                       "Empty image.");
}

}  // namespace
}  // namespace qrbase
