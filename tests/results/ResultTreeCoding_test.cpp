#include <quarlen/ResultTreeCoding.h>

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include <quarlen/ResultParameter.h>
#include <quarlen/ResultTreeList.h>

#include "support/ExceptionMatchers.h"

namespace {

using namespace qridy;

std::string bytes(std::initializer_list<int> valuesA) {
  std::string outL;
  for (int vL : valuesA) outL.push_back(static_cast<char>(vL));
  return outL;
}

// Person 7, transaction 9, SID "ab": one l2f block of 0.5 (normalised) on the right index finger,
// sample (high 1, low 2); miss-analysis text "xyz".
const std::string kGolden = bytes({'R',  'L', 1,    0,                      // magic, version
                                   1,    0,   0,    0,                      // one record
                                   7,    0,   0,    0,    0,   0,   0,  0,  // person id
                                   9,    0,   0,    0,    0,   0,   0,  0,  // transaction id
                                   0,    0,   0,    0x3f,                   // identity score 0.5
                                   2,    0,   0,    0,    'a', 'b',         // SID
                                   1,    0,   0,    0,                      // one biometric record
                                   2,    0,   0x66, 0,     // key: fingerprint, right index
                                   0,    0,   0,    0x3f,  // its score
                                   1,    0,   0,    0,     // one template
                                   1,    0,   0,    0,    0,   0,   0,  0,  // sample id high
                                   2,    0,   0,    0,    0,   0,   0,  0,  // sample id low
                                   0,    0,   0,    0x3f,                   // template score
                                   1,    0,   0,    0,                      // one block
                                   0x97, 0,   0,    0,                      // l2f
                                   0,    0,   0,    0x3f, 1,                // score, normalised
                                   3,    0,   0,    0,    'x', 'y', 'z'});  // miss analysis

class ResultTreeCodingTest : public ::testing::Test {
 protected:
  ResultTreeList goldenList() {
    ResultTreeList listL;
    ResultIdRecord recordL(7, 9);
    recordL.setSID(sidM.data(), 2);
    recordL.addScore(AlgL2f, KXuint128{1, 2}, ModalityFingerprint, InstanceFingerRightIndex, 0.5f,
                     false, true, 1.0f, parameterM);
    listL.push_back(recordL);
    listL.setMissAnalysisResult("xyz");
    return listL;
  }
  ResultTreeList decode(const std::string& bytesA) {
    return ResultTreeCoding::decode(reinterpret_cast<const unsigned char*>(bytesA.data()),
                                    bytesA.size(), storeM);
  }
  static std::string text(const ResultTreeList& listA) {
    std::ostringstream osL;
    osL.precision(9);
    listA.infoCsv(osL, 3);
    return osL.str() + "|" + listA.missAnalysisResult();
  }

  std::string sidM = "ab";
  ResultParameter parameterM;
  std::deque<std::string> storeM;
};

TEST_F(ResultTreeCodingTest, EncodesTheGoldenBytesAndDecodesThemBack) {
  EXPECT_EQ(ResultTreeCoding::encode(goldenList()), kGolden);
  const ResultTreeList decodedL = decode(kGolden);
  EXPECT_EQ(text(decodedL), text(goldenList()));
  ASSERT_EQ(decodedL.size(), 1u);
  EXPECT_EQ(std::string(decodedL[0].getSID(), decodedL[0].getSIDSize()), "ab");
  EXPECT_TRUE(decodedL[0]
                  .bioRecords()
                  .at(0x00660002u)
                  .templates()
                  .at(KXuint128{1, 2})
                  .blocks()
                  .at(AlgL2f)
                  .isNormalaizedScore());
}

// Scores that the adding rules would not give again (a face template fused with a weight of 2,
// identities whose score came from another level) come back exactly as they were.
TEST_F(ResultTreeCodingTest, RestoresEveryScoreWithoutRecomputingIt) {
  ResultTreeList listL;
  for (std::uint64_t p = 0; p < 4; ++p) {
    ResultIdRecord recordL(100 + p, p);
    recordL.addScore(AlgHgmFloat, KXuint128{0, p}, ModalityFace, InstanceFaceFrontal,
                     0.25f * static_cast<float>(p), false, false, 2.0f, parameterM);
    recordL.addScore(AlgHgmByte, KXuint128{0, p}, ModalityFace, InstanceFaceFrontal, 0.125f, false,
                     true, 3.0f, parameterM);
    recordL.addScore(AlgDaugman2010, KXuint128{5, p}, ModalityIris, InstanceIrisLeft, 0.7f, false,
                     false, 1.0f, parameterM);
    listL.push_back(recordL);
  }
  listL.sort();
  const std::string bytesL = ResultTreeCoding::encode(listL);
  const ResultTreeList decodedL = decode(bytesL);
  EXPECT_EQ(text(decodedL), text(listL));
  EXPECT_EQ(ResultTreeCoding::encode(decodedL), bytesL);
  for (std::size_t i = 0; i < listL.size(); ++i) {
    EXPECT_EQ(decodedL[i].getScore(), listL[i].getScore());
    EXPECT_EQ(decodedL[i].getSID(), nullptr);
  }
  EXPECT_TRUE(storeM.empty());
  EXPECT_EQ(decode(ResultTreeCoding::encode(ResultTreeList())).size(), 0u);
}

TEST_F(ResultTreeCodingTest, RefusesDamagedBytesWithTheirReason) {
  const char* kPrefix = "Result list: ";
  EXPECT_KXXCP_MESSAGE(decode("RX" + kGolden.substr(2)), "Result list: wrong magic");
  EXPECT_KXXCP_MESSAGE(decode("RL"), "Result list: wrong magic");
  std::string versionL = kGolden;
  versionL[2] = 2;
  EXPECT_KXXCP_MESSAGE(decode(versionL), "Result list: version '2' is not 1");
  std::string countL = kGolden;
  countL.replace(4, 4, bytes({0xff, 0xff, 0xff, 0xff}));
  EXPECT_KXXCP_MESSAGE(decode(countL),
                       "Result list: record count '4294967295' exceeds the 82 bytes left");
  std::string sidL = kGolden;
  sidL[28] = 81;
  EXPECT_KXXCP_MESSAGE(decode(sidL), "Result list: SID length '81' exceeds the 58 bytes left");
  EXPECT_KXXCP_MESSAGE(decode(kGolden + "!"), "Result list: 1 bytes follow the list");
  EXPECT_KXXCP_MESSAGE(decode(kGolden.substr(0, 10)),
                       "Result list: record count '1' exceeds the 2 bytes left");
  EXPECT_KXXCP_MESSAGE(decode(kGolden.substr(0, kGolden.size() - 6)),
                       "Result list: bytes end before the miss-analysis length");
  EXPECT_KXXCP_MESSAGE(decode(kGolden.substr(0, kGolden.size() - 2)),
                       "Result list: miss-analysis length '3' exceeds the 1 bytes left");
  // Every cut of the bytes is refused with a reason, none is read past its end.
  for (std::size_t n = 0; n < kGolden.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_KXXCP_PREFIX(decode(kGolden.substr(0, n)), kPrefix);
  }
}

// A count is refused exactly when the bytes after it cannot hold that many of the smallest
// element: records of 28 bytes, biometric records of 12, templates of 24, blocks of 9.
TEST_F(ResultTreeCodingTest, BoundsEveryCountByTheSmallestElement) {
  struct Count {
    std::size_t offset;
    const char* name;
    std::uint32_t value;
    std::size_t fitsWith;  // bytes to append so that exactly value elements fit
  };
  const std::vector<Count> countsL = {{4, "record count", 3, 2},
                                      {34, "biometric record count", 5, 8},
                                      {46, "template count", 2, 8},
                                      {70, "block count", 2, 2}};
  for (const Count& cL : countsL) {
    SCOPED_TRACE(cL.name);
    std::string bytesL = kGolden;
    bytesL[cL.offset] = static_cast<char>(cL.value);
    const std::size_t leftL = kGolden.size() - cL.offset - 4 + cL.fitsWith - 1;
    EXPECT_KXXCP_MESSAGE(decode(bytesL + std::string(cL.fitsWith - 1, '\0')),
                         "Result list: " + std::string(cL.name) + " '" + std::to_string(cL.value) +
                             "' exceeds the " + std::to_string(leftL) + " bytes left");
    const std::string fitsL =
        quarlen_test::thrownMessage([&] { decode(bytesL + std::string(cL.fitsWith, '\0')); });
    EXPECT_EQ(fitsL.find("exceeds"), std::string::npos) << fitsL;
  }
}

}  // namespace
