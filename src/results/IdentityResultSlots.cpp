#include <quarlen/IdentityResultSlots.h>

#include <algorithm>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

namespace qridy {
namespace {

bool isFingerVerifier(Algorithm algorithmA) {
  return algorithmA == AlgL1v || algorithmA == AlgL2v || algorithmA == AlgFva;
}

}  // namespace

IdentityResultSlots::IdentityResultSlots(Modality modalityA) : modalityM(modalityA) {
  const int sizeL = kxutl::QuarlenInformation::getIntFromConfigFile(
      "TEMPLATE_MATCHING_MULTIPASS", Types::modality2Text(modalityA) + "ScoreSize", 0);
  configuredScoreSizeM = sizeL > 0 ? static_cast<std::uint32_t>(sizeL) : 0u;
}

IdentityResultSlots::~IdentityResultSlots() = default;

std::uint64_t IdentityResultSlots::calculateHashKey(Modality modalityA, Instance instanceA,
                                                    Algorithm algorithmA) {
  return (((static_cast<std::uint64_t>(instanceA) << 16) + modalityA) << 32) + algorithmA;
}

void IdentityResultSlots::initAddNewTripple(Modality modalityA, Instance instanceA,
                                            Algorithm algorithmA, std::uint32_t slotA) {
  std::unique_ptr<IdentityResultFuser> fuserL(
      createIdentityResultFuser(modalityA, instanceA, algorithmA, slotA));
  tripleSlotsM[calculateHashKey(modalityA, instanceA, algorithmA)] = slotA;
  if (fusersM.size() < std::size_t{slotA} + 1) fusersM.resize(std::size_t{slotA} + 1);
  fusersM[slotA] = std::move(fuserL);
  defaultRawScoresM.assign(fusersM.size(), -1.0f);
}

std::uint32_t IdentityResultSlots::getIndexOfScore(std::uint64_t tripleKeyA) const {
  std::uint32_t slotL = 0;
  if (!findIndexOfScore(tripleKeyA, slotL)) {
    KXXCP_THROW("qridy::UniqueMetadataContainer::getIndexOfScore",
                "unknown BioMetricTripleHashkey.");
  }
  return slotL;
}

bool IdentityResultSlots::findIndexOfScore(std::uint64_t tripleKeyA, std::uint32_t& slotA) const {
  const auto itL = tripleSlotsM.find(tripleKeyA);
  if (itL == tripleSlotsM.end()) return false;
  slotA = itL->second;
  return true;
}

int IdentityResultSlots::getIndexOfInstanceAlgorithm(Instance instanceA,
                                                     Algorithm algorithmA) const {
  for (std::size_t iL = 0; iL < fusersM.size(); ++iL) {
    const IdentityResultFuser* fL = fusersM[iL].get();
    if (fL != nullptr && fL->instance() == instanceA && fL->algorithm() == algorithmA) {
      return static_cast<int>(iL);
    }
  }
  return -1;
}

IdentityResultFuser* IdentityResultSlots::createIdentityResultFuser(Modality modalityA,
                                                                    Instance instanceA,
                                                                    Algorithm algorithmA,
                                                                    std::uint32_t slotA) const {
  if (modalityA == ModalityFace) {
    return new IdentityResultFuserFaceFuser(modalityA, instanceA, algorithmA, slotA);
  }
  const std::uint32_t endL = slotA + 1;
  if (modalityA != ModalityFingerprint) {
    return new IdentityResultFuserAdder(modalityA, instanceA, algorithmA, FuserRange{0, endL});
  }
  // Finger: the range ends at this slot and reaches back over the directly preceding slots of
  // the same kind of algorithm.
  const auto sameKindL = [&](const IdentityResultFuser* fA) {
    if (fA == nullptr) return false;
    if (isFingerVerifier(algorithmA)) return isFingerVerifier(fA->algorithm());
    return fA->algorithm() == algorithmA;
  };
  std::uint32_t firstL = slotA;
  while (firstL > 0 && firstL - 1 < fusersM.size() && sameKindL(fusersM[firstL - 1].get())) {
    --firstL;
  }
  if (algorithmA == AlgL2m || algorithmA == AlgL2fi) {
    return new IdentityResultFuserFuser(modalityA, instanceA, algorithmA, FuserRange{firstL, endL});
  }
  return new IdentityResultFuserAdder(modalityA, instanceA, algorithmA, FuserRange{firstL, endL});
}

const IdentityResultFuser* IdentityResultSlots::getIdentityResultFuserByAlg(
    Algorithm algorithmA) const {
  for (const auto& fL : fusersM) {
    if (fL && fL->algorithm() == algorithmA) return fL.get();
  }
  return nullptr;
}

bool IdentityResultSlots::faceFusion() const {
  // Face fusers are made for face triples and for nothing else.
  return !fusersM.empty() && fusersM[0] && fusersM[0]->modality() == ModalityFace;
}

std::uint32_t IdentityResultSlots::rawScoreSize() const {
  return std::max(configuredScoreSizeM, slotCount());
}

void IdentityResultSlots::clearSlots() {
  tripleSlotsM.clear();
  fusersM.clear();
  defaultRawScoresM.clear();
}

}  // namespace qridy
