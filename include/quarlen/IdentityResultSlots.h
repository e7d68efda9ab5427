#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <quarlen/IdentityResultFuser.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

// The raw-score slots of a gallery's identity results: each registered biometric triple
// (modality, instance, algorithm) gets a slot index and the fuser of that slot, and every
// identity result of the gallery has one raw score per slot. The unique metadata container is
// the registry of its gallery (it derives from this class); identity results read it.
//
// Threads: slots are registered while no identification runs; afterwards everything here is
// only read.
class QUARLEN_EXPORT IdentityResultSlots {
 public:
  // Reads the configured raw-score length of the modality (section
  // "TEMPLATE_MATCHING_MULTIPASS", key "<modality text>ScoreSize", e.g. "faceScoreSize").
  explicit IdentityResultSlots(Modality modalityA);
  virtual ~IdentityResultSlots();
  IdentityResultSlots(const IdentityResultSlots&) = delete;
  IdentityResultSlots& operator=(const IdentityResultSlots&) = delete;

  Modality modality() const { return modalityM; }

  // ((instance << 16) + modality) << 32, plus the algorithm.
  static std::uint64_t calculateHashKey(Modality modalityA, Instance instanceA,
                                        Algorithm algorithmA);

  // Registers the triple at slotA: the fuser vector grows to slotA + 1 (new entries empty),
  // the slot's fuser is made by createIdentityResultFuser, and the default raw-score row
  // becomes -1.0 in every slot.
  void initAddNewTripple(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                         std::uint32_t slotA);
  // The slot of a triple key; throws "unknown BioMetricTripleHashkey." for an unregistered key.
  std::uint32_t getIndexOfScore(std::uint64_t tripleKeyA) const;
  // The slot of a triple key, or false.
  bool findIndexOfScore(std::uint64_t tripleKeyA, std::uint32_t& slotA) const;
  // The first slot whose fuser has this instance and algorithm; -1 when none.
  int getIndexOfInstanceAlgorithm(Instance instanceA, Algorithm algorithmA) const;
  // The fuser kind for a triple at slotA (see the implementation for the ranges); the caller
  // owns the result. Reads the fusers of the slots before slotA.
  IdentityResultFuser* createIdentityResultFuser(Modality modalityA, Instance instanceA,
                                                 Algorithm algorithmA, std::uint32_t slotA) const;
  // The fuser of the first slot whose algorithm is algorithmA, or null.
  const IdentityResultFuser* getIdentityResultFuserByAlg(Algorithm algorithmA) const;

  std::uint32_t slotCount() const { return static_cast<std::uint32_t>(fusersM.size()); }
  // The fuser of a slot, or null (a slot below the count that was never registered).
  const IdentityResultFuser* fuser(std::uint32_t slotA) const {
    return slotA < fusersM.size() ? fusersM[slotA].get() : nullptr;
  }
  // Whether the first slot's fuser is a face fuser.
  bool faceFusion() const;
  const std::vector<float>& defaultRawScores() const { return defaultRawScoresM; }
  // The number of raw scores of a result: the configured length, at least the slot count.
  std::uint32_t rawScoreSize() const;
  const std::map<std::uint64_t, std::uint32_t>& tripleSlots() const { return tripleSlotsM; }

  // Forgets every slot.
  void clearSlots();

 private:
  Modality modalityM;
  std::uint32_t configuredScoreSizeM = 0;
  std::map<std::uint64_t, std::uint32_t> tripleSlotsM;
  std::vector<std::unique_ptr<IdentityResultFuser>> fusersM;
  std::vector<float> defaultRawScoresM;
};

}  // namespace qridy
