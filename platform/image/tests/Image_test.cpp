#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Image.h>
#include <qrlimage/Roi.h>

#include <gtest/gtest.h>

#include <memory>

#include "support/ExceptionMatchers.h"

namespace qrimg {
namespace {

TEST(ImageTest, SizeBoundsAreCheckedBeforeAllocation) {
  EXPECT_KXXCP_MESSAGE(ByteImage(-1, 5), "Invalid image size '-1x5'.");
  EXPECT_KXXCP_MESSAGE(ByteImage(Image::kMaxSide + 1, 1), "Invalid image size '32769x1'.");
  // Both sides within bounds, but too many pixels.
  EXPECT_KXXCP_MESSAGE(ColorImage(Image::kMaxSide, Image::kMaxSide),
                       "Invalid image size '32768x32768'.");
  const ByteImage emptyL(0, 7);
  EXPECT_TRUE(emptyL.empty());
  EXPECT_EQ(emptyL.byteSize(), 0u);
}

TEST(ImageTest, CloneIsDeepAndKeepsTheKind) {
  ColorImage colourL(3, 2, Rgb{1, 2, 3});
  colourL.setPixel(2, 1, Rgb{200, 100, 50});
  std::unique_ptr<Image> copyL(colourL.clone());
  ASSERT_NE(dynamic_cast<ColorImage*>(copyL.get()), nullptr);
  EXPECT_TRUE(copyL->sameAs(colourL));
  colourL.setPixel(0, 0, Rgb{9, 9, 9});
  EXPECT_FALSE(copyL->sameAs(colourL));
  EXPECT_EQ(static_cast<ColorImage*>(copyL.get())->pixel(2, 1), (Rgb{200, 100, 50}));

  // Same bytes but a different channel count are different images.
  const ByteImage greyL(9, 2, 1);
  EXPECT_EQ(greyL.byteSize(), ColorImage(3, 2, Rgb{1, 1, 1}).byteSize());
  EXPECT_FALSE(greyL.sameAs(ColorImage(3, 2, Rgb{1, 1, 1})));
}

TEST(ImageTest, GreyConversionUsesRoundedLuma) {
  ColorImage colourL(4, 1);
  colourL.setPixel(0, 0, Rgb{255, 0, 0});
  colourL.setPixel(1, 0, Rgb{0, 255, 0});
  colourL.setPixel(2, 0, Rgb{0, 0, 255});
  colourL.setPixel(3, 0, Rgb{255, 255, 255});
  const ByteImage greyL = toGrey(colourL);
  EXPECT_EQ(greyL.at(0, 0), 76);   // 76.245
  EXPECT_EQ(greyL.at(1, 0), 150);  // 149.685
  EXPECT_EQ(greyL.at(2, 0), 29);   // 29.07
  EXPECT_EQ(greyL.at(3, 0), 255);
  EXPECT_TRUE(toGrey(greyL).sameAs(greyL));
}

TEST(ImageTest, BilinearSampleClampsAtTheBorder) {
  ByteImage imageL(2, 2);
  imageL.at(0, 0) = 0;
  imageL.at(1, 0) = 100;
  imageL.at(0, 1) = 100;
  imageL.at(1, 1) = 200;
  EXPECT_FLOAT_EQ(imageL.sample(0.5f, 0.5f), 100.0f);
  EXPECT_FLOAT_EQ(imageL.sample(0.25f, 0.0f), 25.0f);
  EXPECT_FLOAT_EQ(imageL.sample(-5.0f, -5.0f), 0.0f);
  EXPECT_FLOAT_EQ(imageL.sample(7.0f, 7.0f), 200.0f);
  EXPECT_FLOAT_EQ(ByteImage().sample(0.0f, 0.0f), 0.0f);
}

TEST(ImageTest, RoiIntersection) {
  const Roi aL(10, 20, 30, 40);
  EXPECT_EQ(aL.intersection(Roi(30, 50, 100, 100)), Roi(30, 50, 10, 10));
  EXPECT_EQ(aL.intersection(Roi(40, 20, 5, 5)), Roi());  // touching edges do not overlap
  EXPECT_TRUE(aL.contains(Point{10, 20}));
  EXPECT_FALSE(aL.contains(Point{40, 20}));
  // Extreme values do not overflow.
  const Roi hugeL(2147483000, 0, 2147483000, 10);
  EXPECT_EQ(hugeL.intersection(Roi(2147483600, 5, 10, 10)), Roi(2147483600, 5, 10, 5));
}

TEST(ImageTest, FeaturePointsAndMouthEstimate) {
  FacialFeaturePoints pointsL;
  EXPECT_FALSE(pointsL.estimateMouthCentre());
  EXPECT_EQ(pointsL.count(), 0);
  pointsL.set(FacialFeaturePoints::RightEye, Point2f{40, 50});
  pointsL.set(FacialFeaturePoints::LeftEye, Point2f{60, 50});
  EXPECT_FLOAT_EQ(pointsL.eyeDistance(), 20.0f);
  ASSERT_TRUE(pointsL.estimateMouthCentre());
  EXPECT_FLOAT_EQ(pointsL.point(FacialFeaturePoints::MouthCentre).x, 50.0f);
  EXPECT_FLOAT_EQ(pointsL.point(FacialFeaturePoints::MouthCentre).y, 72.0f);

  // A face rolled by 90 degrees (eyes one above the other) puts the mouth to the side.
  FacialFeaturePoints rolledL;
  rolledL.set(FacialFeaturePoints::RightEye, Point2f{50, 40});
  rolledL.set(FacialFeaturePoints::LeftEye, Point2f{50, 60});
  ASSERT_TRUE(rolledL.estimateMouthCentre());
  EXPECT_FLOAT_EQ(rolledL.point(FacialFeaturePoints::MouthCentre).x, 28.0f);
  EXPECT_FLOAT_EQ(rolledL.point(FacialFeaturePoints::MouthCentre).y, 50.0f);

  // Indices outside the table are ignored, not written.
  pointsL.set(FacialFeaturePoints::kCount, Point2f{1, 1});
  pointsL.set(-1, Point2f{1, 1});
  EXPECT_FALSE(pointsL.isSet(FacialFeaturePoints::kCount));
  EXPECT_EQ(pointsL.count(), 3);
  FacialFeaturePoints copyL = pointsL;
  EXPECT_EQ(copyL, pointsL);
  copyL.clear(FacialFeaturePoints::MouthCentre);
  EXPECT_NE(copyL, pointsL);
}

}  // namespace
}  // namespace qrimg
