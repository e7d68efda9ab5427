#include <quarlen/Simmatwhitening.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include <qrlcore/COrvixThreadPool.h>
#include <qrlcore/Exception.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>

#include "common/ThresholdSearch.h"
#include "engines/face/StageMatchEngine_Face_HgmFloat.h"

namespace qridy {

namespace {

constexpr const char* kSection = "TEMPLATE_MATCHING_MULTIPASS";
constexpr const char* kSource = "Simmatwhitening";
constexpr float kPyrByteScale = 1285.1163330078125f;
constexpr float kL3JimScale = 1403.9429931640625f;
constexpr float kJim4BitScale = 89.0549545288086f;

enum class UnitKind { Bit, Float, Byte, Nibble, None };

UnitKind unitKind(Algorithm algorithmA) {
  switch (algorithmA) {
    case AlgHgm:
    case AlgHgmPyrBit:
      return UnitKind::Bit;
    case AlgHgmFloat:
      return UnitKind::Float;
    case AlgHgmByte:
    case AlgHgmPyrByte:
    case AlgL3Jim:
      return UnitKind::Byte;
    case AlgL1Jim:
    case AlgL2Jim:
      return UnitKind::Nibble;
    default:
      return UnitKind::None;
  }
}

// s^2 of the byte and nibble similarities.
float squaredScale(Algorithm algorithmA) {
  float sL = 1.0f;
  if (algorithmA == AlgHgmByte) sL = kxegm::ByteMinimalGraph::scale();
  if (algorithmA == AlgHgmPyrByte) sL = kPyrByteScale;
  if (algorithmA == AlgL3Jim) sL = kL3JimScale;
  if (algorithmA == AlgL1Jim || algorithmA == AlgL2Jim) sL = kJim4BitScale;
  return sL * sL;
}

bool configBool(const char* keyA) {
  return kxutl::QuarlenInformation::getBoolFromConfigFile(kSection, keyA, false);
}

StageMatchEngine_Face_HgmFloat& hgmFloatEngine(StageMatchEngine_Base& engineA,
                                               const char* functionA) {
  auto* engineL = dynamic_cast<StageMatchEngine_Face_HgmFloat*>(&engineA);
  if (engineL == nullptr) {
    KXXCP_THROW(functionA, "Expected Stage Engine is not 'StageMatchEngine_Face_HgmFloat'");
  }
  return *engineL;
}

// A scored reference for the threshold search.
struct ScoredReference {
  float score;
  std::size_t index;
};

}  // namespace

Simmatwhitening::Simmatwhitening(unsigned int R, unsigned int K, const std::string& referenceFileA,
                                 unsigned int N, Algorithm algorithmA,
                                 std::vector<StageMatchEngine_Base*>& /*enginesA*/)
    : dimensionM(R), kM(K), expectedReferencesM(N), algorithmM(algorithmA) {
  const char* functionL = "qridy::Simmatwhitening::Simmatwhitening";
  if (unitKind(algorithmA) == UnitKind::None) {
    KXXCP_THROW(functionL,
                "Algorithm '" << Types::algorithm2Text(algorithmA) << "' not supported by SMW.");
  }
  sumScoresOfEqualPersonIdsM = configBool("smwSumScoresOfEqualPersonIds");
  onGalUseOnlyBestTemplateM = configBool("smwOnGalUseOnlyBestTemplateOfEachPersonId");
  const int skipL =
      kxutl::QuarlenInformation::getIntFromConfigFile(kSection, "smwNumberOfReferenceIdsToSkip", 0);
  referenceIdsToSkipM = skipL > 0 ? static_cast<unsigned int>(skipL) : 0;
  doubleModeM = configBool("smwOnRefDoubleMode");
  skipperIgnoreIdenticalM = configBool("smwRefIdSkipperIgnoreIdenticalMatches");
  verifyModifyBothM = configBool("smwOnRefVerifyModifyBoth");
  if (referenceFileA.empty()) return;

  std::ifstream fileL(referenceFileA, std::ios::binary);
  if (!fileL) KXXCP_THROW(functionL, "Cannot open file '" << referenceFileA << "'");
  std::vector<std::vector<std::uint8_t>> galleryPartsL;
  std::vector<std::uint64_t> personIdsL;
  try {
    while (galleryPartsL.size() < N && fileL.peek() != std::char_traits<char>::eof()) {
      IdRecordImp recordL;
      recordL.read(fileL);
      const std::vector<TemplateKey> keysL = recordL.getTemplateKeys(ModalityFace, InstanceAny);
      if (keysL.empty()) continue;
      const TemplateBlockImp* blockL = recordL.getTemplateBlock(keysL[0], algorithmA, false);
      if (blockL == nullptr || blockL->gallerySize() == 0) continue;
      galleryPartsL.emplace_back(blockL->galleryDataPtr(),
                                 blockL->galleryDataPtr() + blockL->gallerySize());
      personIdsL.push_back(recordL.personId());
    }
  } catch (const kxxcp::Exception&) {
    // A record that does not read ends the list; the count decides below.
  }
  if (galleryPartsL.size() < N) {
    KXXCP_THROW(functionL, "Not enough smw reference templates found in: "
                               << referenceFileA << ". " << N
                               << " reference templates expected, but only " << galleryPartsL.size()
                               << " templates found.");
  }
  for (const auto& partL : galleryPartsL) {
    templateSizeM = std::max<unsigned int>(templateSizeM, static_cast<unsigned int>(partL.size()));
  }
  slotSizeM = (templateSizeM + 31u) & ~31u;
  storeM.assign(static_cast<std::size_t>(slotSizeM) * galleryPartsL.size(), 0);
  for (std::size_t i = 0; i < galleryPartsL.size(); ++i) {
    std::memcpy(storeM.data() + i * slotSizeM, galleryPartsL[i].data(), galleryPartsL[i].size());
    referencesM.push_back({storeM.data() + i * slotSizeM, personIdsL[i]});
  }
  referenceListModeM = true;
}

Simmatwhitening::~Simmatwhitening() = default;

unsigned int Simmatwhitening::unitCount(unsigned int sizeA) const {
  switch (unitKind(algorithmM)) {
    case UnitKind::Bit:
      return 8 * sizeA;
    case UnitKind::Float:
      return sizeA / 4;
    case UnitKind::Byte:
      return sizeA;
    case UnitKind::Nibble:
      return 2 * sizeA;
    default:
      return 0;
  }
}

// --- similarities ------------------------------------------------------------------------------

float Simmatwhitening::calcSimFloatBit(const float* fA, const std::uint8_t* bitsA,
                                       unsigned int nBitsA) {
  float sumL = 0.0f;
  if (nBitsA >= 8) {
    for (unsigned int j = 0; j < nBitsA; ++j) {
      const bool setL = (bitsA[j / 8] >> (7 - j % 8)) & 1u;
      sumL += setL ? fA[j] : -fA[j];
    }
  }
  return sumL / static_cast<float>(nBitsA);
}

float Simmatwhitening::calcSimFloatPyrBit(const float* fA, const std::uint8_t* bitsA,
                                          unsigned int nBitsA) {
  return calcSimFloatBit(fA, bitsA, nBitsA);
}

float Simmatwhitening::calcSimFloatByte(const float* fA, const std::uint8_t* bytesA,
                                        unsigned int nA, float divisorA) {
  float sumL = 0.0f;
  for (unsigned int j = 0; j < nA; ++j) sumL += fA[j] * static_cast<float>(int8_t(bytesA[j]));
  return sumL / divisorA;
}

float Simmatwhitening::calcSimFloat4Bit(const float* fA, const std::uint8_t* bytesA,
                                        unsigned int nValuesA, float divisorA) {
  float sumL = 0.0f;
  for (unsigned int j = 0; j < nValuesA; ++j) {
    const std::uint8_t byteL = bytesA[j / 2];
    // The nibble in the high half of a signed byte: 16 times its signed value.
    const int sixteenTimesL = static_cast<std::int8_t>(j % 2 == 0 ? byteL & 0xF0 : byteL << 4);
    sumL += fA[j] * static_cast<float>(sixteenTimesL);
  }
  return sumL / 256.0f / divisorA;
}

void Simmatwhitening::normalizeVector(float* vA, unsigned int nA) {
  double sumL = 0.0;
  for (unsigned int j = 0; j < nA; ++j) sumL += static_cast<double>(vA[j]) * vA[j];
  const double normL = std::sqrt(sumL);
  if (!(normL > 1e-5)) {
    KXXCP_THROW("qridy::Simmatwhitening::normalizeVector", "l2Norm is ZERO ");
  }
  for (unsigned int j = 0; j < nA; ++j) vA[j] = static_cast<float>(vA[j] / normL);
}

float Simmatwhitening::similarity(const std::vector<float>& tA, const std::uint8_t* galleryA,
                                  unsigned int sizeA, StageMatchEngine_Base& engineA) const {
  const unsigned int nL = std::min<unsigned int>(unitCount(sizeA), tA.size());
  switch (unitKind(algorithmM)) {
    case UnitKind::Bit:
      return 0.5f * calcSimFloatBit(tA.data(), galleryA, nL) + 0.5f;
    case UnitKind::Float:
      // The engine holds t as its probe and maps the score itself.
      return hgmFloatEngine(engineA, "qridy::Simmatwhitening::smwMatchThreadFcnHgmFloat")
          .identifyFloatProbeWoPMN(galleryA, sizeA);
    case UnitKind::Byte:
      return 0.5f * calcSimFloatByte(tA.data(), galleryA, nL, squaredScale(algorithmM)) + 0.5f;
    case UnitKind::Nibble:
      return 0.5f * calcSimFloat4Bit(tA.data(), galleryA, nL, squaredScale(algorithmM)) + 0.5f;
    default:
      return 0.0f;
  }
}

void Simmatwhitening::addUnits(std::vector<float>& tA, double coefficientA,
                               const std::uint8_t* dataA, unsigned int sizeA) const {
  const unsigned int nL = std::min<unsigned int>(unitCount(sizeA), tA.size());
  const UnitKind kindL = unitKind(algorithmM);
  for (unsigned int j = 0; j < nL; ++j) {
    double xL = 0.0;
    if (kindL == UnitKind::Bit) {
      xL = ((dataA[j / 8] >> (7 - j % 8)) & 1u) ? 1.0 : -1.0;
    } else if (kindL == UnitKind::Float) {
      float fL;
      std::memcpy(&fL, dataA + 4 * j, 4);
      xL = fL;
    } else if (kindL == UnitKind::Byte) {
      xL = static_cast<std::int8_t>(dataA[j]);
    } else {
      const std::uint8_t byteL = dataA[j / 2];
      xL = static_cast<std::int8_t>(j % 2 == 0 ? byteL & 0xF0 : byteL << 4);
    }
    tA[j] = static_cast<float>(tA[j] + coefficientA * xL);
  }
}

// --- the transform -----------------------------------------------------------------------------

std::vector<double> Simmatwhitening::whiteningCoefficients(const std::vector<double>& matrixA,
                                                           const std::vector<double>& similaritiesA,
                                                           std::size_t kA) {
  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> sL(
      matrixA.data(), static_cast<Eigen::Index>(kA), static_cast<Eigen::Index>(kA));
  const Eigen::Map<const Eigen::VectorXd> simL(similaritiesA.data(), static_cast<Eigen::Index>(kA));
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solverL(sL);
  Eigen::MatrixXd vL = solverL.eigenvectors();
  Eigen::VectorXd wL(static_cast<Eigen::Index>(kA));
  for (Eigen::Index i = 0; i < static_cast<Eigen::Index>(kA); ++i) {
    const double lambdaL = solverL.eigenvalues()[i];
    if (lambdaL > 1e-5 && lambdaL < 1e51) {
      wL[i] = 1.0 / (lambdaL * lambdaL);
    } else {
      wL[i] = 0.0;
      vL.col(i).setZero();
    }
  }
  const Eigen::VectorXd cL = vL * (wL.asDiagonal() * (vL.transpose() * simL));
  return std::vector<double>(cL.data(), cL.data() + cL.size());
}

std::vector<float> Simmatwhitening::createSmwTransformedTemplate(
    const std::uint8_t* probeA, unsigned int sizeA, const std::vector<Reference>& referencesA,
    StageMatchEngine_Base& engineA) const {
  const std::size_t kL = std::min<std::size_t>(referencesA.size(), dimensionM);
  if (kL == 0) return {};
  std::vector<double> matrixL(kL * kL);
  std::vector<double> simL(kL);
  engineA.setProbeForIdentification(probeA, sizeA);
  for (std::size_t i = 0; i < kL; ++i) simL[i] = engineA.matchGallery(referencesA[i].data, sizeA);
  for (std::size_t i = 0; i < kL; ++i) {
    engineA.setProbeForIdentification(referencesA[i].data, sizeA);
    for (std::size_t j = 0; j < kL; ++j) {
      matrixL[i * kL + j] = engineA.matchGallery(referencesA[j].data, sizeA);
    }
  }
  engineA.releaseProbe();
  // Engines need not be exactly symmetric: the decomposition reads one triangle, so use the mean.
  for (std::size_t i = 0; i < kL; ++i) {
    for (std::size_t j = i + 1; j < kL; ++j) {
      const double mL = 0.5 * (matrixL[i * kL + j] + matrixL[j * kL + i]);
      matrixL[i * kL + j] = matrixL[j * kL + i] = mL;
    }
  }
  const std::vector<double> cL = whiteningCoefficients(matrixL, simL, kL);
  std::vector<float> tL(unitCount(sizeA), 0.0f);
  for (std::size_t i = 0; i < kL; ++i) addUnits(tL, cL[i], referencesA[i].data, sizeA);
  return tL;
}

std::vector<Simmatwhitening::Reference> Simmatwhitening::chooseReferences(
    const std::uint8_t* probeA, unsigned int sizeA, StageMatchEngine_Base& engineA) const {
  std::vector<ScoredReference> scoredL(referencesM.size());
  engineA.setProbeForIdentification(probeA, sizeA);
  const unsigned int readL = std::min(sizeA, templateSizeM);
  for (std::size_t i = 0; i < referencesM.size(); ++i) {
    scoredL[i] = {engineA.matchGallery(referencesM[i].data, readL), i};
  }
  engineA.releaseProbe();
  // The reference id skipper: the best-scoring person ids are left out (an identical match,
  // with smwRefIdSkipperIgnoreIdenticalMatches, is the probe itself and counts for nothing).
  if (referenceIdsToSkipM > 0) {
    std::map<std::uint64_t, float> bestL;
    for (const ScoredReference& rL : scoredL) {
      if (skipperIgnoreIdenticalM && rL.score >= 1.0f) continue;
      auto itL = bestL.find(referencesM[rL.index].personId);
      if (itL == bestL.end() || itL->second < rL.score) {
        bestL[referencesM[rL.index].personId] = rL.score;
      }
    }
    std::vector<std::pair<float, std::uint64_t>> rankedL;
    for (const auto& [idL, scoreL] : bestL) rankedL.push_back({scoreL, idL});
    std::stable_sort(rankedL.begin(), rankedL.end(),
                     [](const auto& aA, const auto& bA) { return aA.first > bA.first; });
    std::set<std::uint64_t> skippedL;
    for (std::size_t i = 0; i < rankedL.size() && i < referenceIdsToSkipM; ++i) {
      skippedL.insert(rankedL[i].second);
    }
    scoredL.erase(std::remove_if(scoredL.begin(), scoredL.end(),
                                 [&](const ScoredReference& rA) {
                                   return skippedL.count(referencesM[rA.index].personId) != 0;
                                 }),
                  scoredL.end());
  }
  const std::size_t wantedL =
      std::min<std::size_t>(scoredL.size(), static_cast<std::size_t>(doubleModeM ? 2 * kM : kM));
  float tL = 0.0f;
  std::size_t equalL = 0, aboveOrEqualL = 0;
  std::vector<ScoredReference> copyL = scoredL;
  qrcommon::searchThreshold(copyL.data(), copyL.size(), wantedL, tL, equalL, aboveOrEqualL);
  std::size_t quotaL = wantedL - std::min(wantedL, aboveOrEqualL - equalL);
  std::vector<ScoredReference> chosenL;
  for (const ScoredReference& rL : scoredL) {
    if (rL.score > tL || (rL.score == tL && quotaL > 0)) {
      if (rL.score == tL) --quotaL;
      chosenL.push_back(rL);
    }
  }
  std::stable_sort(chosenL.begin(), chosenL.end(),
                   [](const auto& aA, const auto& bA) { return aA.score > bA.score; });
  std::vector<Reference> referencesL;
  for (const ScoredReference& rL : chosenL) referencesL.push_back(referencesM[rL.index]);
  return referencesL;
}

void Simmatwhitening::identify(const std::uint8_t* probeA, unsigned int probeSizeA,
                               NormalisationResultCplx* candidatesA, unsigned int countA,
                               std::vector<StageMatchEngine_Base*>& enginesA) {
  kxutl::PerfCount clockL;
  if (enginesA.empty() || countA == 0) return;
  StageMatchEngine_Base& engine0L = *enginesA[0];
  if (unitKind(algorithmM) == UnitKind::Float) {
    hgmFloatEngine(engine0L, "qridy::Simmatwhitening::identify");
  }
  std::vector<Reference> referencesL;
  if (referenceListModeM) {
    referencesL = chooseReferences(probeA, probeSizeA, engine0L);
  } else {
    // Gallery mode: the candidates are the population, the K best of them when there are more.
    std::vector<unsigned int> orderL(countA);
    for (unsigned int i = 0; i < countA; ++i) orderL[i] = i;
    std::stable_sort(orderL.begin(), orderL.end(), [&](unsigned int aA, unsigned int bA) {
      return candidatesA[aA].rawScore > candidatesA[bA].rawScore;
    });
    std::set<std::uint64_t> seenL;
    for (unsigned int i : orderL) {
      if (referencesL.size() >= kM) break;
      const std::uint64_t personL = candidatesA[i].metadata != nullptr
                                        ? candidatesA[i].metadata->getIdRecordKey().personId
                                        : i;
      if (onGalUseOnlyBestTemplateM && !seenL.insert(personL).second) continue;
      referencesL.push_back({candidatesA[i].data, personL});
    }
  }
  const std::size_t halfL = doubleModeM && referenceListModeM ? referencesL.size() / 2 : 0;
  const std::vector<Reference> firstL(referencesL.begin(),
                                      referencesL.end() - static_cast<std::ptrdiff_t>(halfL));
  const std::vector<float> tL = createSmwTransformedTemplate(probeA, probeSizeA, firstL, engine0L);
  if (tL.empty()) return;
  std::vector<float> t2L;
  if (halfL > 0) {
    const std::vector<Reference> secondL(referencesL.end() - static_cast<std::ptrdiff_t>(halfL),
                                         referencesL.end());
    t2L = createSmwTransformedTemplate(probeA, probeSizeA, secondL, engine0L);
  }
  const bool floatL = unitKind(algorithmM) == UnitKind::Float;
  // One pass over the share per modified probe (the HgmFloat engine holds it as its probe).
  const auto scoreShare = [&](StageMatchEngine_Base& engineA, unsigned int beginA,
                              unsigned int endA) {
    for (const std::vector<float>* probeL : {&tL, static_cast<const std::vector<float>*>(&t2L)}) {
      if (probeL->empty()) continue;
      if (floatL) {
        engineA.setProbeForIdentification(reinterpret_cast<const std::uint8_t*>(probeL->data()),
                                          static_cast<unsigned int>(probeL->size() * 4));
      }
      for (unsigned int i = beginA; i < endA; ++i) {
        const float sL = similarity(*probeL, candidatesA[i].data, probeSizeA, engineA);
        candidatesA[i].score = probeL == &tL ? sL : std::max(candidatesA[i].score, sL);
      }
      if (floatL) engineA.releaseProbe();
    }
  };
  if (referenceListModeM) {
    const unsigned int threadsL = static_cast<unsigned int>(enginesA.size());
    const unsigned int shareL = countA / threadsL;
    kxutl::COrvixThreadPool poolL(threadsL, nullptr);
    poolL.DoThreadedWork([&](kxutl::ThreadData& threadA) {
      const unsigned int iL = threadA.threadIndexM;
      const unsigned int beginL = iL * shareL;
      scoreShare(*enginesA[iL], beginL, iL + 1 == threadsL ? countA : beginL + shareL);
    });
  } else {
    scoreShare(engine0L, 0, countA);
    if (sumScoresOfEqualPersonIdsM) {
      std::map<std::uint64_t, float> sumsL;
      for (unsigned int i = 0; i < countA; ++i) {
        if (candidatesA[i].metadata == nullptr) continue;
        sumsL[candidatesA[i].metadata->getIdRecordKey().personId] +=
            2.0f * (candidatesA[i].score - 0.5f);
      }
      for (unsigned int i = 0; i < countA; ++i) {
        if (candidatesA[i].metadata == nullptr) continue;
        candidatesA[i].score =
            0.5f * sumsL[candidatesA[i].metadata->getIdRecordKey().personId] + 0.5f;
      }
    }
  }
  if (kxutl::QuarlenInformation::debugLevelS.load() >= 5) {
    std::cout << "Simmatwhitening::identify took: " << clockL.elapsedSec() << " s.\n";
  }
}

float* Simmatwhitening::createSmwOnRefTransformedFeatureVec(
    const std::uint8_t* dataA, unsigned int sizeA, std::vector<StageMatchEngine_Base*>& enginesA,
    unsigned int& lengthA) const {
  if (!referenceListModeM) {
    KXXCP_THROW("qridy::Simmatwhitening::createSmwOnRefTransformedFeatureVec",
                "This function is only available in reference list mode.");
  }
  const std::vector<Reference> referencesL = chooseReferences(dataA, sizeA, *enginesA.at(0));
  const std::vector<float> tL =
      createSmwTransformedTemplate(dataA, sizeA, referencesL, *enginesA.at(0));
  lengthA = static_cast<unsigned int>(tL.size());
  float* resultL = new float[tL.size() + 1];
  std::copy(tL.begin(), tL.end(), resultL);
  return resultL;
}

float Simmatwhitening::verify(const std::uint8_t* probeA, const std::uint8_t* galleryA,
                              unsigned int sizeA,
                              std::vector<StageMatchEngine_Base*>& enginesA) const {
  StageMatchEngine_Base& engineL = *enginesA.at(0);
  if (verifyModifyBothM && referenceListModeM) {
    unsigned int nL = 0, mL = 0;
    std::unique_ptr<float[]> pL(createSmwOnRefTransformedFeatureVec(probeA, sizeA, enginesA, nL));
    std::unique_ptr<float[]> gL(createSmwOnRefTransformedFeatureVec(galleryA, sizeA, enginesA, mL));
    normalizeVector(pL.get(), nL);
    normalizeVector(gL.get(), mL);
    float dotL = 0.0f;
    for (unsigned int j = 0; j < std::min(nL, mL); ++j) dotL += pL[j] * gL[j];
    return 0.5f * dotL + 0.5f;
  }
  std::vector<float> tL;
  if (referenceListModeM) {
    tL = createSmwTransformedTemplate(probeA, sizeA, chooseReferences(probeA, sizeA, engineL),
                                      engineL);
  }
  if (tL.empty()) {  // no references: the probe's own units
    tL.assign(unitCount(sizeA), 0.0f);
    addUnits(tL, 1.0, probeA, sizeA);
  }
  if (unitKind(algorithmM) == UnitKind::Float) {
    hgmFloatEngine(engineL, "qridy::Simmatwhitening::verify")
        .setProbeForIdentification(reinterpret_cast<const std::uint8_t*>(tL.data()),
                                   static_cast<unsigned int>(tL.size() * 4));
  }
  const float sL = similarity(tL, galleryA, sizeA, engineL);
  engineL.releaseProbe();
  return sL;
}

}  // namespace qridy
