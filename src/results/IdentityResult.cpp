#include <quarlen/IdentityResult.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include <qrlcore/Exception.h>
#include <quarlen/IdentityResultSlots.h>
#include <quarlen/ResultBioRecord.h>

namespace qridy {

IdentityResult::IdentityResult(const IdentityResultSlots* slotsA, IdentityMetadata* metadataA)
    : slotsM(slotsA), metadataM(metadataA) {
  rawCountM = slotsA != nullptr ? slotsA->rawScoreSize() : 0u;
  rawScoresM.reset(new float[rawCountM]);
  std::fill_n(rawScoresM.get(), rawCountM, std::numeric_limits<float>::lowest());
}

IdentityResult::IdentityResult(const IdentityResult& otherA)
    : slotsM(otherA.slotsM),
      metadataM(otherA.metadataM),
      fusedScoreM(otherA.fusedScoreM),
      rawCountM(otherA.rawCountM),
      rawScoresM(new float[otherA.rawCountM]),
      bestSampleM(otherA.bestSampleM),
      currentAlgCountM(otherA.currentAlgCountM),
      countL2fM(otherA.countL2fM),
      countL2f360M(otherA.countL2f360M),
      countL2fiM(otherA.countL2fiM),
      countL2mM(otherA.countL2mM),
      countMvxM(otherA.countMvxM) {
  std::copy_n(otherA.rawScoresM.get(), rawCountM, rawScoresM.get());
}

IdentityResult& IdentityResult::operator=(const IdentityResult& otherA) {
  if (this == &otherA) return *this;
  if (rawCountM != otherA.rawCountM) {
    rawScoresM.reset(new float[otherA.rawCountM]);
    rawCountM = otherA.rawCountM;
  }
  std::copy_n(otherA.rawScoresM.get(), rawCountM, rawScoresM.get());
  slotsM = otherA.slotsM;
  metadataM = otherA.metadataM;
  fusedScoreM = otherA.fusedScoreM;
  bestSampleM = otherA.bestSampleM;
  currentAlgCountM = otherA.currentAlgCountM;
  countL2fM = otherA.countL2fM;
  countL2f360M = otherA.countL2f360M;
  countL2fiM = otherA.countL2fiM;
  countL2mM = otherA.countL2mM;
  countMvxM = otherA.countMvxM;
  return *this;
}

IdentityResult::~IdentityResult() = default;

std::uint64_t IdentityResult::calculateHashKey(Modality modalityA, Instance instanceA,
                                               Algorithm algorithmA) {
  return IdentityResultSlots::calculateHashKey(modalityA, instanceA, algorithmA);
}

float IdentityResult::addRawScore(std::uint32_t slotA, KXuint128 sampleIdA, float scoreA,
                                  bool fuseA, bool galleryNormalizedA, bool forceA) {
  if (slotA >= rawCountM) {
    KXXCP_THROW("qridy::IdentityResult::addRawScore",
                "Score slot '" << slotA << "' is not registered.");
  }
  if (scoreA > rawScoresM[slotA] || forceA) {
    bestSampleM = sampleIdA;
    rawScoresM[slotA] = scoreA;
  }
  if (slotA == 0) {
    fusedScoreM = rawScoresM[0];
    return fusedScoreM;
  }
  if (!fuseA) return rawScoresM[slotA];
  if (!slotsM->faceFusion()) {
    const IdentityResultFuser* fuserL = slotsM->fuser(slotA);
    if (fuserL != nullptr) fusedScoreM = fuserL->fuse(rawScoresM.get());
    return fusedScoreM;
  }
  fusedScoreM = faceFusion(slotA, rawScoresM[slotA], galleryNormalizedA);
  return fusedScoreM;
}

float IdentityResult::calcFusedScore(std::uint32_t slotA, float scoreA,
                                     bool galleryNormalizedA) const {
  if (slotA == 0) return scoreA;
  if (slotsM == nullptr || !slotsM->faceFusion()) {
    KXXCP_THROW("qridy::IdentityResult::calcFusedScore",
                "Not implemented for other modalities than Face");
  }
  if (slotA >= rawCountM) {
    KXXCP_THROW("qridy::IdentityResult::calcFusedScore",
                "Score slot '" << slotA << "' is not registered.");
  }
  return faceFusion(slotA, scoreA, galleryNormalizedA);
}

// The scores of the slots before slotA and scoreA for slotA, as the block scores of one face
// template: mapped, weighted per algorithm and fused (the template's score).
float IdentityResult::faceFusion(std::uint32_t slotA, float scoreA, bool galleryNormalizedA) const {
  const auto* ownL = dynamic_cast<const IdentityResultFuserFaceFuser*>(slotsM->fuser(slotA));
  const auto* firstL = static_cast<const IdentityResultFuserFaceFuser*>(slotsM->fuser(0));
  const ResultParameter& parameterL = (ownL != nullptr ? ownL : firstL)->resultParameter();
  ResultBioRecord recordL;
  const KXuint128 sampleL;
  for (std::uint32_t iL = 0; iL < slotA; ++iL) {
    const IdentityResultFuser* fL = slotsM->fuser(iL);
    if (fL == nullptr) continue;
    recordL.addScore(ModalityFace, InstanceFaceFrontal, fL->algorithm(), sampleL, rawScoresM[iL],
                     true, true, 1.0f, parameterL);
  }
  const IdentityResultFuser* slotFuserL = slotsM->fuser(slotA);
  if (slotFuserL != nullptr) {
    recordL.addScore(ModalityFace, InstanceFaceFrontal, slotFuserL->algorithm(), sampleL, scoreA,
                     true, galleryNormalizedA, 1.0f, parameterL);
  }
  return recordL.getScore();
}

float IdentityResult::getRawScoreByIndex(std::uint32_t slotA) const {
  if (slotA >= rawCountM) {
    KXXCP_THROW("qridy::IdentityResult::getRawScoreByIndex",
                "Score slot '" << slotA << "' is not registered.");
  }
  return rawScoresM[slotA];
}

float IdentityResult::getRawScore(std::uint64_t tripleKeyA) const {
  std::uint32_t slotL = 0;
  if (slotsM == nullptr || !slotsM->findIndexOfScore(tripleKeyA, slotL) || slotL >= rawCountM) {
    KXXCP_THROW("qridy::IdentityResult::getRawScore", "BioTriple not found.");
  }
  return rawScoresM[slotL];
}

float IdentityResult::getAlgorithmFusedScore(Algorithm algorithmA) const {
  const IdentityResultFuser* fuserL =
      slotsM != nullptr ? slotsM->getIdentityResultFuserByAlg(algorithmA) : nullptr;
  return fuserL != nullptr ? fuserL->fuse(rawScoresM.get()) : 0.0f;
}

std::int8_t* IdentityResult::counter(Algorithm algorithmA) {
  switch (algorithmA) {
    case AlgL2f:
      return &countL2fM;
    case AlgL2f360:
      return &countL2f360M;
    case AlgL2fi:
      return &countL2fiM;
    case AlgL2m:
      return &countL2mM;
    case AlgMvxIris2PiSdk:
      return &countMvxM;
    default:
      return nullptr;
  }
}

void IdentityResult::increaseCount(Algorithm algorithmA) {
  std::int8_t* countL = counter(algorithmA);
  if (countL == nullptr) return;
  ++*countL;
  currentAlgCountM = *countL;
}

int IdentityResult::getCount(Algorithm algorithmA) const {
  const std::int8_t* countL = const_cast<IdentityResult*>(this)->counter(algorithmA);
  return countL != nullptr ? *countL : 0;
}

void IdentityResult::reset() {
  currentAlgCountM = countL2fM = countL2f360M = countL2fiM = countL2mM = countMvxM = 0;
  std::fill_n(rawScoresM.get(), rawCountM, -1.0f);
  if (slotsM != nullptr) {
    const std::vector<float>& rowL = slotsM->defaultRawScores();
    std::copy_n(rowL.begin(), std::min<std::size_t>(rowL.size(), rawCountM), rawScoresM.get());
  }
}

}  // namespace qridy
