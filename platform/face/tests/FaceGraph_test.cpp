#include <qrlface/FaceGraph.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "support/ExceptionMatchers.h"
#include "support/RecordBytes.h"

namespace kxegm {
namespace {

class FaceGraphTest : public ::testing::Test {
 protected:
  static FaceGraph triangle() {
    FaceGraph graphL(FaceGraph::KindFeatureExtraction);
    graphL.addNode(qrimg::Point2f{1.0f, 2.0f}, 7);
    graphL.addNode(qrimg::Point2f{3.0f, 4.0f}, 8);
    graphL.addNode(qrimg::Point2f{5.0f, 0.5f}, 9);
    graphL.addEdge(0, 1);
    graphL.addEdge(1, 2);
    graphL.addEdge(2, 0);
    FaceGraph::Affine mapL;
    mapL.tx = 10.0f;
    mapL.ty = -2.0f;
    graphL.setToImage(mapL);
    return graphL;
  }
  static std::string bytesOf(const FaceGraph& graphA) {
    std::ostringstream osL;
    graphA.write(osL);
    return osL.str();
  }
  static FaceGraph readBack(const std::string& bytesA) {
    std::istringstream isL(bytesA);
    FaceGraph graphL;
    graphL.read(isL);
    return graphL;
  }
};

TEST_F(FaceGraphTest, GoldenBytesOfAnEmptyGraph) {
  EXPECT_EQ(quarlen_test::hex(bytesOf(FaceGraph(FaceGraph::KindLandmark))),
            "46 47 01 00 02 00 00 00 00 00 00 00 00 00 "
            "00 00 80 3F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 3F 00 00 00 00");
}

TEST_F(FaceGraphTest, RoundTripIsIdentity) {
  const FaceGraph graphL = triangle();
  const std::string bytesL = bytesOf(graphL);
  EXPECT_EQ(bytesL.size(), 14u + 24u + 3 * 12u + 3 * 8u);
  const FaceGraph backL = readBack(bytesL);
  EXPECT_EQ(backL, graphL);
  EXPECT_EQ(bytesOf(backL), bytesL);
  EXPECT_EQ(backL.imagePositions()[2], (qrimg::Point2f{15.0f, -1.5f}));
}

TEST_F(FaceGraphTest, DerotationMapsTheNormalisedEyesOntoTheFoundEyes) {
  // Eyes 40 pixels apart, tilted by 30 degrees, mapped from a frame with eyes 60 apart.
  const qrimg::Point2f rightL{100.0f, 200.0f};
  const qrimg::Point2f leftL{100.0f + 40.0f * std::cos(0.5236f),
                             200.0f + 40.0f * std::sin(0.5236f)};
  const FaceGraph graphL = FaceGraph::derotation(rightL, leftL, 60.0f, qrimg::Point2f{64, 50});
  ASSERT_EQ(graphL.nodeCount(), 2u);
  EXPECT_EQ(graphL.kind(), FaceGraph::KindDerotation);
  const std::vector<qrimg::Point2f> eyesL = graphL.imagePositions();
  EXPECT_NEAR(eyesL[0].x, rightL.x, 1e-3);
  EXPECT_NEAR(eyesL[0].y, rightL.y, 1e-3);
  EXPECT_NEAR(eyesL[1].x, leftL.x, 1e-3);
  EXPECT_NEAR(eyesL[1].y, leftL.y, 1e-3);
  EXPECT_EQ(graphL.nodes()[0].label, 1u);
  EXPECT_EQ(graphL.nodes()[1].label, 5u);
  EXPECT_KXXCP_MESSAGE(FaceGraph::derotation(rightL, rightL, 60.0f, qrimg::Point2f{}),
                       "Invalid eye positions for derotation.");
  EXPECT_KXXCP_MESSAGE(FaceGraph::derotation(rightL, leftL, 0.0f, qrimg::Point2f{}),
                       "Invalid eye positions for derotation.");
}

TEST_F(FaceGraphTest, ReaderErrorsLeaveTheGraphUnchanged) {
  const std::string goodL = bytesOf(triangle());
  FaceGraph targetL = triangle();
  targetL.addNode(qrimg::Point2f{9, 9});
  const FaceGraph beforeL = targetL;
  auto readInto = [&](const std::string& bytesA) {
    std::istringstream isL(bytesA);
    targetL.read(isL);
  };

  std::string badL = goodL;
  badL[1] = 'X';
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face graph magic number: 'FX'.");
  badL = goodL;
  quarlen_test::setFixed16At(badL, 2, 2);
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face graph version: '2'.");
  badL = goodL;
  quarlen_test::setFixed16At(badL, 4, 4);
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face graph kind: '4'.");
  badL = goodL;
  quarlen_test::setFixed32At(badL, 14 + 24 + 12, 0x7fc00000u);  // node 1 x = NaN
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face graph value.");
  badL = goodL;
  quarlen_test::setFixed32At(badL, 14 + 8, 0x7f800000u);  // tx = infinity
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face graph value.");
  badL = goodL;
  quarlen_test::setFixed32At(badL, 14 + 24 + 36 + 8 + 4, 3);  // edge 1 ends at node 3 of 3
  EXPECT_KXXCP_MESSAGE(readInto(badL), "Invalid face graph edge '1-3'.");
  for (std::size_t cutL = 0; cutL < goodL.size(); ++cutL) {
    EXPECT_KXXCP_MESSAGE(readInto(goodL.substr(0, cutL)), "Truncated face graph.");
  }
  EXPECT_EQ(targetL, beforeL);
}

TEST_F(FaceGraphTest, HostileCountsEndInATruncationNotAnAllocation) {
  std::string badL = bytesOf(triangle());
  quarlen_test::setFixed32At(badL, 6, 0xffffffffu);
  EXPECT_KXXCP_MESSAGE(readBack(badL), "Truncated face graph.");
  badL = bytesOf(triangle());
  quarlen_test::setFixed32At(badL, 10, 0xffffffffu);
  EXPECT_KXXCP_MESSAGE(readBack(badL), "Truncated face graph.");
}

TEST_F(FaceGraphTest, EdgesNeedExistingNodes) {
  FaceGraph graphL;
  graphL.addNode(qrimg::Point2f{});
  EXPECT_KXXCP_MESSAGE(graphL.addEdge(0, 1), "Invalid face graph edge '0-1'.");
  graphL.addEdge(0, 0);
  EXPECT_EQ(graphL.edges().size(), 1u);
}

}  // namespace
}  // namespace kxegm
