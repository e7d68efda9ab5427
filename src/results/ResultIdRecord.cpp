#include <quarlen/ResultIdRecord.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <qrlcore/Exception.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/ResultParameter.h>

namespace qridy {
namespace {

constexpr std::size_t kMaxFusedIrisRecords = 10;

// Finger algorithms in order of preference: the identity score of a finger candidate comes
// from the best-ranked algorithm present. Unranked algorithms (0) never count.
int fingerRank(Algorithm algorithmA) {
  switch (algorithmA) {
    case AlgFva:
      return 1;
    case AlgL2f:
      return 2;
    case AlgL2f360:
      return 3;
    case AlgL2fi:
      return 4;
    case AlgL2m:
      return 5;
    default:
      return 0;
  }
}

Modality modalityOfKey(std::uint32_t keyA) {
  Modality modalityL = ModalityUnknown;
  Instance instanceL = InstanceUnknown;
  BioRecordImp::decryptHashKey(keyA, modalityL, instanceL);
  return modalityL;
}

// The fusion of several identity-level scores; false when there is no fusion or it fails.
bool fuse(const qrscore::ScoreFusion* fusionA, const std::vector<float>& scoresA, float& outA) {
  return qrscore::fuseScores(fusionA, scoresA.data(), static_cast<int>(scoresA.size()), &outA) ==
         qrscore::ScoreCurveOk;
}

}  // namespace

void ResultIdRecord::addScore(Algorithm algorithmA, const KXuint128& sampleIdA, Modality modalityA,
                              Instance instanceA, float rawScoreA, bool mapScoreA,
                              bool galleryNormalizedA, float scoreFactorA,
                              const ResultParameter& parameterA) {
  const std::uint32_t keyL = BioRecordImp::calculateHashKey(modalityA, instanceA);
  bioRecordsM[keyL].addScore(modalityA, instanceA, algorithmA, sampleIdA, rawScoreA, mapScoreA,
                             galleryNormalizedA, scoreFactorA, parameterA);
  updateScore(parameterA);
}

void ResultIdRecord::updateScore(const ResultParameter& parameterA) {
  float scoreL = 0.0f;
  const bool hasFingerL = std::any_of(
      bioRecordsM.begin(), bioRecordsM.end(),
      [](const auto& entry) { return modalityOfKey(entry.first) == ModalityFingerprint; });
  if (!hasFingerL) {
    std::vector<float> irisL;
    for (const auto& [key, record] : bioRecordsM) {
      const Modality modalityL = modalityOfKey(key);
      if (modalityL == ModalityFace && record.getScore() > scoreL) scoreL = record.getScore();
      if (modalityL == ModalityIris && irisL.size() < kMaxFusedIrisRecords) {
        irisL.push_back(record.getScore());
      }
    }
    float fusedL = 0.0f;
    if (irisL.size() == 1) {
      scoreL = irisL.front();
    } else if (irisL.size() >= 2 && fuse(parameterA.irisFusion(), irisL, fusedL)) {
      scoreL = fusedL;
    }
  } else {
    int bestRankL = 0;
    for (const auto& [key, record] : bioRecordsM) {
      if (modalityOfKey(key) != ModalityFingerprint) continue;
      for (const auto& [sampleId, result] : record.templates()) {
        for (const auto& [algorithm, block] : result.blocks()) {
          bestRankL = std::max(bestRankL, fingerRank(algorithm));
        }
      }
    }
    std::vector<float> collectedL;
    if (bestRankL != 0) {
      for (const auto& [key, record] : bioRecordsM) {
        if (modalityOfKey(key) != ModalityFingerprint) continue;
        for (const auto& [sampleId, result] : record.templates()) {
          for (const auto& [algorithm, block] : result.blocks()) {
            if (fingerRank(algorithm) == bestRankL) collectedL.push_back(block.getScore());
          }
        }
      }
    }
    float fusedL = 0.0f;
    if (collectedL.size() == 1) {
      scoreL = collectedL.front();
    } else if (collectedL.size() >= 2 && fuse(parameterA.fingerFusion(), collectedL, fusedL)) {
      scoreL = fusedL;
    }
  }
  scoreM = scoreL;
}

ResultBioRecord& ResultIdRecord::getBioRecord(std::uint32_t keyA, bool createA) {
  const auto it = bioRecordsM.find(keyA);
  if (it != bioRecordsM.end()) return it->second;
  if (!createA) {
    KXXCP_THROW("qridy::ResultIdRecord::getBioRecord", "getBioRecord() bioRecord not exist");
  }
  return bioRecordsM[keyA];
}

unsigned int ResultIdRecord::getNumResultInstancesPerModality(Modality modalityA) const {
  unsigned int countL = 0;
  for (const auto& entry : bioRecordsM) {
    if (modalityOfKey(entry.first) == modalityA) ++countL;
  }
  return countL;
}

Instance ResultIdRecord::getResultInstancePerModalityByIndex(Modality modalityA,
                                                             unsigned int indexA) const {
  unsigned int seenL = 0;
  for (const auto& entry : bioRecordsM) {
    Modality modalityL = ModalityUnknown;
    Instance instanceL = InstanceUnknown;
    BioRecordImp::decryptHashKey(entry.first, modalityL, instanceL);
    if (modalityL != modalityA) continue;
    if (seenL++ == indexA) return instanceL;
  }
  KXXCP_THROW("qridy::ResultIdRecord::getResultInstancePerModalityByIndex",
              "getResultBioRecordByIndex() bioRecord not exist for this index and modality");
}

float ResultIdRecord::getBestSampleScore(Modality modalityA, Instance instanceA,
                                         KXuint128& sampleIdA) const {
  if (modalityA == ModalityAny || instanceA == InstanceAny) {
    KXXCP_THROW("qridy::ResultIdRecord::getBestSampleScore",
                "modality and instance has to be specified.");
  }
  float bestL = -9001.0f;
  KXuint128 bestIdL;
  const auto it = bioRecordsM.find(BioRecordImp::calculateHashKey(modalityA, instanceA));
  if (it != bioRecordsM.end()) {
    for (const auto& [sampleId, result] : it->second.templates()) {
      if (result.getScore() > bestL) {
        bestL = result.getScore();
        bestIdL = sampleId;
      }
    }
  }
  // The start value marks "nothing found"; a template scoring -9001 (after truncation toward
  // zero, so anything in (-9002, -9000]) looks the same. Truncated as a float: scores beyond
  // the range of an integer type are valid here.
  if (std::trunc(bestL) == -9001.0f) {
    KXXCP_THROW("qridy::ResultIdRecord::getBestSampleScore",
                "No score found for this modality/instace.");
  }
  sampleIdA = bestIdL;
  return bestL;
}

float ResultIdRecord::getScore(Modality modalityA, Instance instanceA, const KXuint128& sampleIdA,
                               Algorithm algorithmA) const {
  const auto recordL = bioRecordsM.find(BioRecordImp::calculateHashKey(modalityA, instanceA));
  if (recordL != bioRecordsM.end()) {
    const auto templateL = recordL->second.templates().find(sampleIdA);
    if (templateL != recordL->second.templates().end()) {
      const auto blockL = templateL->second.blocks().find(algorithmA);
      if (blockL != templateL->second.blocks().end()) return blockL->second.getScore();
    }
  }
  KXXCP_THROW("qridy::ResultIdRecord::getScore",
              "No score found for this modality/instance/sample/algorithm.");
}

void ResultIdRecord::info(std::ostream& osA, int verbosityA) const {
  osA << "<idRecord"
      << " personId = \"" << personIdM << "\""
      << " transId = \"" << transactionIdM << "\""
      << " score = \"" << scoreM << "\""
      << " >" << std::endl;
  for (const auto& [key, record] : bioRecordsM) {
    Modality modalityL = ModalityUnknown;
    Instance instanceL = InstanceUnknown;
    BioRecordImp::decryptHashKey(key, modalityL, instanceL);
    record.info(osA, modalityL, instanceL, verbosityA);
  }
  osA << "</idRecord>" << std::endl;
}

void ResultIdRecord::infoCsv(std::ostream& osA, int verbosityA) const {
  osA << "pid," << personIdM << ",transId," << transactionIdM << ",IdRecScore," << scoreM;
  for (const auto& [key, record] : bioRecordsM) {
    Modality modalityL = ModalityUnknown;
    Instance instanceL = InstanceUnknown;
    BioRecordImp::decryptHashKey(key, modalityL, instanceL);
    record.infoCsv(osA, modalityL, instanceL, verbosityA);
  }
}

}  // namespace qridy
