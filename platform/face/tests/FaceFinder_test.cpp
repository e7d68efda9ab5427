#include <qrlface/FaceFinder.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/ExceptionMatchers.h"
#include "support/FacePhotos.h"

namespace kxegm {
namespace {

const char* const kFaceCascade =
    "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
const char* const kEyeCascade = "/usr/share/opencv4/haarcascades/haarcascade_eye.xml";

class FaceFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::ifstream(kFaceCascade) || !std::ifstream(kEyeCascade)) {
      GTEST_SKIP() << "OpenCV cascades missing (install the Debian package opencv-data)";
    }
  }
};

TEST_F(FaceFinderTest, RefusesMissingCascades) {
  EXPECT_KXXCP_MESSAGE(FaceFinder("/nonexistent.xml", kEyeCascade),
                       "Cannot load face cascade '/nonexistent.xml'.");
  EXPECT_KXXCP_MESSAGE(FaceFinder(kFaceCascade, "/nonexistent.xml"),
                       "Cannot load eye cascade '/nonexistent.xml'.");
}

TEST_F(FaceFinderTest, FindsOneFaceWithItsEyesInEachPortrait) {
  const FaceFinder finderL(kFaceCascade, kEyeCascade);
  for (const std::string& nameL : quarlen_test::facePhotoNames()) {
    QUARLEN_LOAD_PHOTO(photoL, nameL);
    const std::vector<FoundFace> facesL = finderL.find(*photoL, 3);
    ASSERT_EQ(facesL.size(), 1u) << nameL;
    const FoundFace& f = facesL[0];
    EXPECT_GT(f.confidence, 0.0f);
    // The subject's right eye is on the image's left, both in the box's upper half.
    EXPECT_LT(f.rightEye.x, f.leftEye.x) << nameL;
    for (const qrimg::Point2f& e : {f.rightEye, f.leftEye}) {
      EXPECT_TRUE(f.box.contains({static_cast<int>(e.x), static_cast<int>(e.y)})) << nameL;
      EXPECT_LT(e.y, f.box.top() + f.box.height() / 2) << nameL;
    }
  }
}

TEST_F(FaceFinderTest, FindsNothingWithoutAFace) {
  const FaceFinder finderL(kFaceCascade, kEyeCascade);
  QUARLEN_LOAD_PHOTO(photoL, quarlen_test::noFacePhoto());
  EXPECT_TRUE(finderL.find(*photoL, 3).empty());
  EXPECT_TRUE(finderL.find(qrimg::ByteImage(), 3).empty());
  EXPECT_TRUE(finderL.find(qrimg::ByteImage(200, 200, 128), 3).empty());
}

TEST_F(FaceFinderTest, BoxWithoutDetectedEyesGetsTheUsualEyePositions) {
  // A face found, eyes not: only the placement from the box remains.
  const FaceFinder finderL(kFaceCascade, kEyeCascade);
  QUARLEN_LOAD_PHOTO(photoL, quarlen_test::facePhotoNames()[0]);
  const std::vector<FoundFace> facesL = finderL.find(*photoL, 1);
  ASSERT_EQ(facesL.size(), 1u);
  const qrimg::Roi& b = facesL[0].box;
  if (!facesL[0].eyesDetected) {
    EXPECT_FLOAT_EQ(facesL[0].rightEye.x, b.left() + 0.30f * b.width());
    EXPECT_FLOAT_EQ(facesL[0].leftEye.x, b.left() + 0.70f * b.width());
  } else {
    // Detected eyes lie near the usual positions.
    EXPECT_NEAR(facesL[0].rightEye.x, b.left() + 0.30f * b.width(), 0.12f * b.width());
    EXPECT_NEAR(facesL[0].leftEye.x, b.left() + 0.70f * b.width(), 0.12f * b.width());
    EXPECT_NEAR(facesL[0].rightEye.y, b.top() + 0.38f * b.height(), 0.12f * b.height());
  }
}

}  // namespace
}  // namespace kxegm
