#include <quarlen/BioRecordImp.h>
#include <quarlen/Result.h>
#include <quarlen/ResultParameter.h>
#include <quarlen/ResultTreeList.h>

#include <sstream>

#include <gtest/gtest.h>
#include <qrlcore/QuarlenInformation.h>

#include "scoring/ScoreCurveLibrary.h"
#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/ScoreConfig.h"

namespace qridy {
namespace {

const KXuint128 kSample1{0, 1};
const KXuint128 kSample2{0, 2};
const KXuint128 kSample3{5, 0};

std::uint32_t bioKey(Modality modalityA, Instance instanceA) {
  return BioRecordImp::calculateHashKey(modalityA, instanceA);
}

class ResultTreeTest : public ::testing::Test {
 protected:
  void TearDown() override { kxutl::QuarlenInformation::setConfigFile(""); }

  // A ResultParameter read from a configuration in mode modeA (noMapping by default).
  ResultParameter& parameter(const std::string& modeA = "noMapping",
                             const std::string& extraA = "") {
    quarlen_test::installScoreConfig(dirM, modeA, extraA);
    parameterM = ResultParameter();
    parameterM.readFromQuarlenIni();
    return parameterM;
  }

  // Adds a score as it is (no mapping).
  void addRaw(ResultIdRecord& recordA, Modality modalityA, Instance instanceA,
              const KXuint128& sampleA, Algorithm algorithmA, float scoreA) {
    recordA.addScore(algorithmA, sampleA, modalityA, instanceA, scoreA, false, false, 1.0f,
                     parameterM);
  }

  static ResultIdRecord scored(std::uint64_t personIdA, std::uint64_t transactionIdA, float scoreA,
                               const ResultParameter& parameterA) {
    ResultIdRecord recordL(personIdA, transactionIdA);
    recordL.addScore(AlgHgm, kSample1, ModalityFace, InstanceFaceFrontal, scoreA, false, false,
                     1.0f, parameterA);
    return recordL;
  }

  static std::vector<std::pair<std::uint64_t, float>> ranking(const ResultTreeList& listA) {
    std::vector<std::pair<std::uint64_t, float>> outL;
    for (std::size_t i = 0; i < listA.size(); ++i) {
      outL.emplace_back(listA[i].personId(), listA[i].getScore());
    }
    return outL;
  }

  quarlen_test::ScopedEnv noFileM{"QUARLEN_CONFIG_FILE", std::nullopt};
  quarlen_test::TempDir dirM;
  quarlen_test::CapturedErrors errorsM;
  ResultParameter parameterM;
};

TEST_F(ResultTreeTest, ResultValue) {
  Result a;
  EXPECT_EQ(a.score(), 0.0f);
  EXPECT_EQ(a.idRecordKey(), IdRecordKey(0, 0));
  a.setPersonId(7);
  a.setTransactionId(8);
  a.setSampleId(kSample3);
  a.setScore(2.5f);
  EXPECT_EQ(a.idRecordKey(), IdRecordKey(7, 8));
  Result b = a;
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a < b);  // not greater counts as less
  b.setScore(3.0f);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  b = a;
  b.setSampleId(kSample1);
  EXPECT_FALSE(a == b);
}

TEST_F(ResultTreeTest, RepeatedBlocksOverwriteAndTemplatesSum) {
  parameter("scaling");
  ResultIdRecord r(1, 1);
  const Instance fingerL = InstanceFingerRightIndex;
  r.addScore(AlgL2f, kSample1, ModalityFingerprint, fingerL, 0.4f, true, false, 1.0f, parameterM);
  r.addScore(AlgL2m, kSample1, ModalityFingerprint, fingerL, 0.7f, true, false, 1.0f, parameterM);
  const ResultTemplate& t =
      r.bioRecords().at(bioKey(ModalityFingerprint, fingerL)).templates().at(kSample1);
  EXPECT_FLOAT_EQ(t.getScore(), 1.1f);  // a sum, not a mean
  r.addScore(AlgL2f, kSample1, ModalityFingerprint, fingerL, 0.1f, true, false, 1.0f, parameterM);
  EXPECT_EQ(t.blocks().size(), 2u);
  EXPECT_FLOAT_EQ(t.getScore(), 0.8f);
  EXPECT_FLOAT_EQ(r.getScore(ModalityFingerprint, fingerL, kSample1, AlgL2f), 0.1f);
  // A dropped raw score changes nothing.
  r.addScore(AlgL2f, kSample1, ModalityFingerprint, fingerL, 1.0000001e7f, true, false, 1.0f,
             parameterM);
  EXPECT_FLOAT_EQ(t.getScore(), 0.8f);
  EXPECT_EQ(errorsM.entriesM.size(), 1u);
}

TEST_F(ResultTreeTest, FaceTemplatesInLogFarModeAreFused) {
  parameter("logFar", "[TEMPLATE_MATCHING_MULTIPASS_FUSION]\nHGM2K = 1\nLFA = 0.5\n");
  ResultIdRecord r(1, 1);
  r.addScore(AlgHgm, kSample1, ModalityFace, InstanceFaceFrontal, 0.5f, true, false, 2.0f,
             parameterM);
  const auto& t =
      r.bioRecords().at(bioKey(ModalityFace, InstanceFaceFrontal)).templates().at(kSample1);
  EXPECT_FLOAT_EQ(t.getScore(), 2.5f);  // one block: its mapped score, no factor
  r.addScore(AlgLfa, kSample1, ModalityFace, InstanceFaceFrontal, 1.0f, true, false, 2.0f,
             parameterM);
  const float expectedL = ResultTemplate::fuseLogFar({2.5f, 3.0f}, {1.0f, 0.5f}) * 2.0f;
  EXPECT_FLOAT_EQ(t.getScore(), expectedL);
  EXPECT_EQ(ResultTemplate::fuseLogFar({2.5f, 3.0f}, {1.0f, 0.5f}),
            qrscore::logFarFusion(std::vector<float>{2.5f, 3.0f}.data(), 2,
                                  std::vector<float>{1.0f, 0.5f}.data(), 2));
  EXPECT_FLOAT_EQ(r.getScore(), expectedL);

  // With the hgm weight negative only the lfa block counts.
  parameter("logFar", "[TEMPLATE_MATCHING_MULTIPASS_FUSION]\nHGM2K = -1\nLFA = 0.5\n");
  ResultIdRecord s(2, 1);
  s.addScore(AlgHgm, kSample1, ModalityFace, InstanceFaceFrontal, 0.5f, true, false, 2.0f,
             parameterM);
  s.addScore(AlgLfa, kSample1, ModalityFace, InstanceFaceFrontal, 1.0f, true, false, 2.0f,
             parameterM);
  EXPECT_FLOAT_EQ(s.getScore(), 3.0f);
}

TEST_F(ResultTreeTest, UnsupportedMappingsLeaveTheTreeAsItWas) {
  parameter("logFar");
  ResultIdRecord r(1, 1);
  r.addScore(AlgHgm, kSample1, ModalityFace, InstanceFaceFrontal, 0.5f, true, false, 1.0f,
             parameterM);
  EXPECT_KXXCP_MESSAGE(r.addScore(AlgHgmPyrBitSmwSb, kSample2, ModalityFace, InstanceFaceFrontal,
                                  0.5f, true, true, 1.0f, parameterM),
                       "logFar mapping not supported for hgmPyrBitSmwSBC + gallery norm.");
  // The template of kSample2 was created on the way down and stays, empty.
  const auto& bio = r.bioRecords().at(bioKey(ModalityFace, InstanceFaceFrontal));
  EXPECT_EQ(bio.getNumResultTemplateIds(), 2u);
  EXPECT_TRUE(bio.templates().at(kSample2).blocks().empty());
  EXPECT_FLOAT_EQ(r.getScore(), 2.5f);
  // An unmapped block whose weight is refused is taken back out again.
  EXPECT_KXXCP_MESSAGE(r.addScore(AlgHgmPyrBitSmwSb, kSample1, ModalityFace, InstanceFaceFrontal,
                                  0.5f, false, true, 1.0f, parameterM),
                       "no weight found for  hgmPyrBitSmwSBC + gallery norm.");
  EXPECT_EQ(bio.templates().at(kSample1).blocks().size(), 1u);
  EXPECT_FLOAT_EQ(bio.templates().at(kSample1).getScore(), 2.5f);
  EXPECT_KXXCP_MESSAGE(r.addScore(AlgFmf, kSample1, ModalityFace, InstanceFaceFrontal, 0.5f, true,
                                  false, 1.0f, parameterM),
                       "logFar mapping not supported for FMF.");
}

TEST_F(ResultTreeTest, FaceAndIrisIdentityScores) {
  parameter();
  ResultIdRecord r(1, 1);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample1, AlgHgm, 2.0f);
  addRaw(r, ModalityFace, InstanceUnknown, kSample1, AlgHgm, 5.0f);
  EXPECT_EQ(r.getScore(), 5.0f);
  addRaw(r, ModalityFace, InstanceUnknown, kSample1, AlgHgm, -3.0f);
  EXPECT_EQ(r.getScore(), 2.0f);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample1, AlgHgm, -1.0f);
  EXPECT_EQ(r.getScore(), 0.0f);  // never below 0

  // Iris records replace the face score: one directly, several fused.
  addRaw(r, ModalityIris, InstanceIrisLeft, kSample1, AlgDaugman2010, 2.0f);
  EXPECT_EQ(r.getScore(), 2.0f);
  addRaw(r, ModalityIris, InstanceIrisRight, kSample1, AlgDaugman2010, 3.0f);
  addRaw(r, ModalityIris, InstanceUnknown, kSample1, AlgDaugman2010, 1.0f);
  EXPECT_EQ(r.getScore(),
            qrscore::logFarFusion(std::vector<float>{1.0f, 2.0f, 3.0f}.data(), 3, nullptr, 0));
  EXPECT_EQ(r.getNumResultInstancesPerModality(ModalityIris), 3u);
  EXPECT_EQ(r.getResultInstancePerModalityByIndex(ModalityIris, 1), InstanceIrisLeft);
  EXPECT_KXXCP_MESSAGE(
      r.getResultInstancePerModalityByIndex(ModalityIris, 3),
      "getResultBioRecordByIndex() bioRecord not exist for this index and modality");
  EXPECT_EQ(r.getNumResultInstancesPerModality(ModalityFingerprint), 0u);
}

TEST_F(ResultTreeTest, AtMostTenIrisRecordsAreFused) {
  parameter();
  ResultIdRecord r(1, 1);
  std::vector<float> firstTenL;
  for (unsigned i = 0; i < 12; ++i) {
    const float scoreL = 1.0f + static_cast<float>(i) * 0.25f;
    addRaw(r, ModalityIris, static_cast<Instance>(300 + i), kSample1, AlgDaugman2010, scoreL);
    if (i < 10) firstTenL.push_back(scoreL);
  }
  EXPECT_EQ(r.getScore(), qrscore::logFarFusion(firstTenL.data(), 10, nullptr, 0));
}

TEST_F(ResultTreeTest, FingerIdentityScoresComeFromTheHighestRankedAlgorithm) {
  parameter();
  ResultIdRecord r(1, 1);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample1, AlgHgm, 9.0f);
  addRaw(r, ModalityFingerprint, InstanceFingerRightIndex, kSample1, AlgL1b, 9.0f);
  EXPECT_EQ(r.getScore(), 0.0f);  // a finger record without ranked algorithm; face ignored
  addRaw(r, ModalityFingerprint, InstanceFingerRightIndex, kSample1, AlgFva, 2.5f);
  EXPECT_EQ(r.getScore(), 2.5f);
  addRaw(r, ModalityFingerprint, InstanceFingerLeftIndex, kSample2, AlgL2f, 3.0f);
  addRaw(r, ModalityFingerprint, InstanceFingerRightIndex, kSample2, AlgL2f, 4.0f);
  EXPECT_EQ(r.getScore(),
            qrscore::logFarFusion(std::vector<float>{4.0f, 3.0f}.data(), 2, nullptr, 0));
  addRaw(r, ModalityFingerprint, InstanceFingerLeftThumb, kSample3, AlgL2m, 1.5f);
  EXPECT_EQ(r.getScore(), 1.5f);  // l2m ranks highest

  // Without a finger fusion several scores leave the identity at 0.
  ResultParameter emptyL;
  ResultIdRecord s(2, 1);
  s.addScore(AlgL2f, kSample1, ModalityFingerprint, InstanceFingerLeftIndex, 3.0f, false, false,
             1.0f, emptyL);
  EXPECT_EQ(s.getScore(), 3.0f);
  s.addScore(AlgL2f, kSample2, ModalityFingerprint, InstanceFingerLeftIndex, 4.0f, false, false,
             1.0f, emptyL);
  EXPECT_EQ(s.getScore(), 0.0f);
}

TEST_F(ResultTreeTest, BestSampleAndLookups) {
  parameter();
  ResultIdRecord r(1, 1);
  KXuint128 bestL;
  EXPECT_KXXCP_MESSAGE(r.getBestSampleScore(ModalityAny, InstanceFaceFrontal, bestL),
                       "modality and instance has to be specified.");
  EXPECT_KXXCP_MESSAGE(r.getBestSampleScore(ModalityFace, InstanceAny, bestL),
                       "modality and instance has to be specified.");
  EXPECT_KXXCP_MESSAGE(r.getBestSampleScore(ModalityFace, InstanceFaceFrontal, bestL),
                       "No score found for this modality/instace.");
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample3, AlgHgm, 4.0f);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample1, AlgHgm, 4.0f);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample2, AlgHgm, 1.0f);
  EXPECT_EQ(r.getBestSampleScore(ModalityFace, InstanceFaceFrontal, bestL), 4.0f);
  EXPECT_EQ(bestL, kSample1);  // the first of equal scores in sample order
  EXPECT_EQ(r.getScore(ModalityFace, InstanceFaceFrontal, kSample2, AlgHgm), 1.0f);
  EXPECT_KXXCP_MESSAGE(r.getScore(ModalityFace, InstanceFaceFrontal, kSample2, AlgLfa),
                       "No score found for this modality/instance/sample/algorithm.");

  // The "nothing found" test truncates the best score: -9001.5 looks like no score at all.
  ResultIdRecord lowL(2, 1);
  addRaw(lowL, ModalityIris, InstanceIrisLeft, kSample1, AlgDaugman2010, -9001.5f);
  EXPECT_KXXCP_MESSAGE(lowL.getBestSampleScore(ModalityIris, InstanceIrisLeft, bestL),
                       "No score found for this modality/instace.");
  addRaw(lowL, ModalityIris, InstanceIrisRight, kSample2, AlgDaugman2010, 3e38f);
  EXPECT_EQ(lowL.getBestSampleScore(ModalityIris, InstanceIrisRight, bestL), 3e38f);
  EXPECT_EQ(bestL, kSample2);

  const auto& bio = r.getBioRecord(bioKey(ModalityFace, InstanceFaceFrontal), false);
  EXPECT_EQ(bio.getResultTemplateIdByIndex(2), kSample3);
  EXPECT_KXXCP_MESSAGE(bio.getResultTemplateIdByIndex(3),
                       "getResultTemplateIdByIndex() ResultTemplate not exist for this index");
  EXPECT_KXXCP_MESSAGE(r.getBioRecord(bioKey(ModalityIris, InstanceIrisLeft), false),
                       "getBioRecord() bioRecord not exist");
  EXPECT_FALSE(r.hasBioRecord(bioKey(ModalityIris, InstanceIrisLeft)));
  EXPECT_EQ(r.getBioRecord(bioKey(ModalityIris, InstanceIrisLeft), true).getScore(), 0.0f);
  EXPECT_TRUE(r.hasBioRecord(bioKey(ModalityIris, InstanceIrisLeft)));

  const char sidL[] = "ABC-123";
  r.setSID(sidL, 7);
  EXPECT_EQ(r.getSID(), sidL);
  EXPECT_EQ(r.getSIDSize(), 7u);
}

TEST_F(ResultTreeTest, SortingAndCuttingWithTies) {
  parameter();
  ResultTreeList list;
  for (auto [person, score] :
       std::vector<std::pair<int, float>>{{1, 2.0f}, {2, 5.0f}, {3, 2.0f}, {4, 7.0f}, {5, 2.0f}}) {
    list.push_back(scored(person, 0, score, parameterM));
  }
  list.sort();
  using R = std::vector<std::pair<std::uint64_t, float>>;
  EXPECT_EQ(ranking(list), (R{{4, 7.0f}, {2, 5.0f}, {1, 2.0f}, {3, 2.0f}, {5, 2.0f}}));
  list.reduceBestNPercent(1.0f);
  list.reduceBestNPercent(0.0f);
  list.reduceBestNPercent(-0.5f);
  EXPECT_EQ(list.size(), 5u);
  list.reduceBestNPercent(0.5f);  // 2.5 -> 2
  EXPECT_EQ(ranking(list), (R{{4, 7.0f}, {2, 5.0f}}));
  list.reduceAbsolute(5);
  EXPECT_EQ(list.size(), 2u);
  list.reduceAbsolute(1);
  EXPECT_EQ(ranking(list), (R{{4, 7.0f}}));
  list.reduceAbsolute(0);
  EXPECT_EQ(list.size(), 0u);
  list.sort();
  list.fuseByPersonId();
}

TEST_F(ResultTreeTest, FuseByPersonKeepsEachPersonsBest) {
  parameter();
  ResultTreeList list;
  list.push_back(scored(7, 1, 3.0f, parameterM));
  list.push_back(scored(7, 2, 4.0f, parameterM));
  list.push_back(scored(9, 1, 1.0f, parameterM));
  list.push_back(scored(3, 1, 3.5f, parameterM));
  list.fuseByPersonId();
  using R = std::vector<std::pair<std::uint64_t, float>>;
  EXPECT_EQ(ranking(list), (R{{7, 4.0f}, {3, 3.5f}, {9, 1.0f}}));
  EXPECT_EQ(list[0].transactionId(), 2u);
}

TEST_F(ResultTreeTest, FindingAppendingAndMerging) {
  parameter();
  ResultTreeList list;
  ResultIdRecord& aL = list.getResultIdRecordIfExistsOrAddNew(3, 4);
  addRaw(aL, ModalityFace, InstanceFaceFrontal, kSample1, AlgHgm, 1.0f);
  EXPECT_EQ(&list.getResultIdRecordIfExistsOrAddNew(3, 4), &list.resultIdRecordVector()[0]);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(list.getResultIdRecord(3, 4).getScore(), 1.0f);
  EXPECT_KXXCP_MESSAGE(list.getResultIdRecord(3, 5), "IdRecord not found (3, 5)");

  ResultTreeList other;
  ResultIdRecord& bL = other.getResultIdRecordIfExistsOrAddNew(3, 4);
  addRaw(bL, ModalityFace, InstanceFaceFrontal, kSample2, AlgLfa, 6.0f);
  addRaw(bL, ModalityIris, InstanceIrisLeft, kSample2, AlgDaugman2010, 9.0f);
  addRaw(other.getResultIdRecordIfExistsOrAddNew(8, 1), ModalityFace, InstanceFaceFrontal, kSample1,
         AlgHgm, 2.0f);

  ResultTreeList appended = list;
  appended.append(other);
  EXPECT_EQ(appended.size(), 3u);  // (3, 4) twice: no merging
  appended.append(appended);
  EXPECT_EQ(appended.size(), 6u);

  ResultTreeList merged = list;
  merged.mergeWithSpecificAlgorithm(other, ModalityFace, InstanceFaceFrontal, AlgUnknown, false,
                                    parameterM);
  ASSERT_EQ(merged.size(), 1u);  // person 8 is missing here and not added
  EXPECT_EQ(merged[0].getScore(ModalityFace, InstanceFaceFrontal, kSample2, AlgLfa), 6.0f);
  EXPECT_FALSE(merged[0].hasBioRecord(bioKey(ModalityIris, InstanceIrisLeft)));
  EXPECT_EQ(merged[0].getScore(), 6.0f);
  merged.mergeWithSpecificAlgorithm(other, ModalityFace, InstanceFaceFrontal, AlgUnknown, true,
                                    parameterM);
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[1].personId(), 8u);
  EXPECT_EQ(merged[1].getScore(), 2.0f);

  list.setMissAnalysisResult("<miss/>");
  EXPECT_EQ(list.missAnalysisResult(), "<miss/>");
  list.clear();
  EXPECT_EQ(list.size(), 0u);
}

TEST_F(ResultTreeTest, Dumps) {
  parameter();
  ResultTreeList list;
  ResultIdRecord& r = list.getResultIdRecordIfExistsOrAddNew(7, 2);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample3, AlgHgm, 1.5f);
  addRaw(r, ModalityFace, InstanceFaceFrontal, kSample3, AlgLfa, 2.0f);
  // The dumps look the image up by instance and sample id, with the modality left at 0: a
  // registration under the face modality is not the one they find.
  ResultTreeList::addTemplateKeyMapFilename(
      TemplateKey(ModalityUnknown, InstanceFaceFrontal, kSample3), "probe.png");
  ResultTreeList::addTemplateKeyMapFilename(
      TemplateKey(ModalityFace, InstanceFaceFrontal, kSample3), "other.png");
  ResultTreeList::addTemplateKeyMapFilename(
      TemplateKey(ModalityFace, InstanceFaceFrontal, kSample1), "face.png");
  std::ostringstream osL;
  list.info(osL, 3);
  EXPECT_EQ(osL.str(),
            "<idRecord personId = \"7\" transId = \"2\" score = \"3.5\" >\n"
            "\t<bioRecord modality = \"face\" instance = \"faceFrontal\" score = \"3.5\" >\n"
            "\t\t<sample sampleId.low = \"0\" sampleId.high = \"5\"\timage = \"probe.png\""
            "\tscore = \"3.5\" >\n"
            "\t\t\t<templateBlock\talgorithm = \"hgm\"\tscore = \"1.5\" />\n"
            "\t\t\t<templateBlock\talgorithm = \"lfa\"\tscore = \"2\" />\n"
            "\t</template>\n"
            "\t</bioRecord>\n"
            "</idRecord>\n");
  osL.str("");
  list.info(osL, 0);
  EXPECT_EQ(osL.str(),
            "<idRecord personId = \"7\" transId = \"2\" score = \"3.5\" >\n</idRecord>\n");
  osL.str("");
  list.push_back(scored(9, 1, 0.25f, parameterM));
  list.infoCsv(osL, 3);
  EXPECT_EQ(osL.str(),
            "pid,7,transId,2,IdRecScore,3.5,bioRec_1_11_score,3.5,samplelId.low,0,"
            "samplelId.high,5,image,probe.png,tplScore,3.5,alg_1_score,1.5,alg_7_score,2\n"
            "pid,9,transId,1,IdRecScore,0.25,bioRec_1_11_score,0.25,samplelId.low,1,"
            "samplelId.high,0,tplScore,0.25,alg_1_score,0.25\n");
  osL.str("");
  list.infoCsv(osL, 1);
  EXPECT_EQ(osL.str(),
            "pid,7,transId,2,IdRecScore,3.5,bioRec_1_11_score,3.5\n"
            "pid,9,transId,1,IdRecScore,0.25,bioRec_1_11_score,0.25\n");
}

}  // namespace
}  // namespace qridy
