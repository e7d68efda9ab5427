#include <qrlface/FaceDataStore.h>

#include <gtest/gtest.h>

#include "support/ExceptionMatchers.h"

namespace kxegm {
namespace {

TEST(FaceDataStoreTest, EachKindIsLookedUpUnderItsOwnName) {
  FaceDataStore s;
  s.setImage("i", qrimg::ByteImage(3, 2, 9));
  s.setGraph("g", FaceGraph(FaceGraph::KindLandmark));
  s.setRegion("r", qrimg::Roi(1, 2, 3, 4));
  qrimg::FacialFeaturePoints pointsL;
  pointsL.set(qrimg::FacialFeaturePoints::NoseTip, {5.0f, 6.0f});
  s.setFeaturePoints("p", pointsL);
  s.setNumber("n", 2.5);
  s.setFeatureArray("a", {1.0f, 2.0f});
  TemplateGraph tL;
  tL.type = TemplateGraph::TypeBit;
  tL.bytes = {7, 8};
  s.setTemplateGraph("t", tL);
  EXPECT_EQ(s.size(), 7u);
  EXPECT_EQ(s.image("i").width(), 3);
  EXPECT_EQ(s.graph("g").kind(), FaceGraph::KindLandmark);
  EXPECT_EQ(s.region("r"), qrimg::Roi(1, 2, 3, 4));
  EXPECT_EQ(s.featurePoints("p"), pointsL);
  EXPECT_EQ(s.number("n"), 2.5);
  EXPECT_EQ(s.featureArray("a"), (std::vector<float>{1.0f, 2.0f}));
  EXPECT_EQ(s.templateGraph("t").data(), (std::vector<unsigned char>{7, 8}));

  // Every lookup of a name holding another kind names the kind it wanted.
  EXPECT_KXXCP_MESSAGE(s.image("g"), "Face data store has no image 'g'.");
  EXPECT_KXXCP_MESSAGE(s.graph("i"), "Face data store has no graph 'i'.");
  EXPECT_KXXCP_MESSAGE(s.region("i"), "Face data store has no region 'i'.");
  EXPECT_KXXCP_MESSAGE(s.featurePoints("i"), "Face data store has no feature points 'i'.");
  EXPECT_KXXCP_MESSAGE(s.number("i"), "Face data store has no number 'i'.");
  EXPECT_KXXCP_MESSAGE(s.featureArray("i"), "Face data store has no feature array 'i'.");
  EXPECT_KXXCP_MESSAGE(s.templateGraph("i"), "Face data store has no template graph 'i'.");
  EXPECT_KXXCP_MESSAGE(s.takeImage("x"), "Face data store has no image 'x'.");
}

TEST(FaceDataStoreTest, RegisteringReplacesWhateverTheNameHeld) {
  FaceDataStore s;
  s.setImage("x", qrimg::ByteImage(2, 2));
  s.setNumber("x", 1.0);
  EXPECT_EQ(s.size(), 1u);
  EXPECT_THROW(s.image("x"), kxxcp::Exception);
  s.setImage("x", qrimg::ByteImage(4, 1));
  const std::unique_ptr<qrimg::Image> takenL = s.takeImage("x");
  EXPECT_EQ(takenL->width(), 4);
  EXPECT_FALSE(s.contains("x"));
  s.remove("unknown");
  EXPECT_EQ(s.size(), 0u);
}

TEST(FaceDataStoreTest, TemplateGraphBytesAreLittleEndianFloatsOrBytes) {
  TemplateGraph tL;
  tL.type = TemplateGraph::TypeFloat;
  tL.values = {1.0f, -2.0f};
  EXPECT_EQ(tL.data(), (std::vector<unsigned char>{0, 0, 0x80, 0x3f, 0, 0, 0, 0xc0}));
  tL.type = TemplateGraph::TypeRaw;
  EXPECT_EQ(tL.data().size(), 8u);
  tL.type = TemplateGraph::TypeByte;
  tL.bytes = {1};
  EXPECT_EQ(tL.data(), (std::vector<unsigned char>{1}));
}

TEST(FaceDataStoreTest, ParametersKeepTheirLatestValue) {
  FaceDataStore s;
  EXPECT_FALSE(s.hasParameter("AFIG_shapeScaleFactor"));
  EXPECT_EQ(s.parameter("AFIG_shapeScaleFactor"), "");
  s.setParameter("AFIG_shapeScaleFactor", "1");
  s.setParameter("AFIG_shapeScaleFactor", "2");
  EXPECT_EQ(s.parameter("AFIG_shapeScaleFactor"), "2");
  s.clear();
  EXPECT_TRUE(s.hasParameter("AFIG_shapeScaleFactor"));
}

}  // namespace
}  // namespace kxegm
