#pragma once

#include <cstdint>
#include <memory>

#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

class IdentityMetadata;
class IdentityResultSlots;

// The scores one gallery identity collected for one probe: a raw score per registered slot
// (biometric triple, see IdentityResultSlots), the fused score, the sample that gave the best
// raw score, and per-algorithm comparison counters. Owned by the probe's result container (or,
// without locking, by the identity's state word); only the thread that handles the identity
// writes it.
class QUARLEN_EXPORT IdentityResult {
 public:
  // The counted algorithms: l2f, l2f360, l2fi, l2m and mvxIris2PiSdk.
  // Raw scores start at the lowest float; counters at 0. slotsA and metadataA are not owned.
  IdentityResult(const IdentityResultSlots* slotsA, IdentityMetadata* metadataA);
  IdentityResult(const IdentityResult& otherA);
  IdentityResult& operator=(const IdentityResult& otherA);
  ~IdentityResult();

  // Records scoreA in slotA when it beats the slot's score (or forceA is set), remembering
  // sampleIdA as the best sample, and returns the fused score: slot 0 is its own fused score;
  // with fuseA false the slot's raw score is returned; otherwise the slot's fuser fuses all
  // raw scores (face: the scores of the slots up to slotA are mapped and fused like the block
  // scores of one template, with the face fuser's score-mapping parameters). Throws "Score slot
  // '<slot>' is not registered." for a slot beyond the raw scores.
  float addRawScore(std::uint32_t slotA, KXuint128 sampleIdA, float scoreA, bool fuseA,
                    bool galleryNormalizedA, bool forceA);
  // The face fused score the identity would get with scoreA in slotA; nothing changes. Throws
  // "Not implemented for other modalities than Face" for other modalities.
  float calcFusedScore(std::uint32_t slotA, float scoreA, bool galleryNormalizedA) const;

  float getFusedScore() const { return fusedScoreM; }
  float getRawScoreByIndex(std::uint32_t slotA) const;
  // The raw score of a triple key; throws "BioTriple not found." for an unregistered key.
  float getRawScore(std::uint64_t tripleKeyA) const;
  // The fuser registered for the algorithm applied to the raw scores; 0.0 when there is none.
  float getAlgorithmFusedScore(Algorithm algorithmA) const;
  KXuint128 getBestSample() const { return bestSampleM; }
  IdentityMetadata* identityMetadata() const { return metadataM; }
  std::uint32_t rawScoreCount() const { return rawCountM; }

  // For l2f, l2f360, l2fi, l2m and mvxIris2PiSdk: that algorithm's count rises by one and
  // becomes the current algorithm count. Other algorithms change nothing.
  void increaseCount(Algorithm algorithmA);
  int getCount(Algorithm algorithmA) const;
  int getAlgCount() const { return currentAlgCountM; }
  void resetRealAlgCount() { currentAlgCountM = 0; }
  // Every counter 0; raw scores := the registry's default row (-1.0 per slot).
  void reset();

  static std::uint64_t calculateHashKey(Modality modalityA, Instance instanceA,
                                        Algorithm algorithmA);

 private:
  std::int8_t* counter(Algorithm algorithmA);
  float faceFusion(std::uint32_t slotA, float scoreA, bool galleryNormalizedA) const;

  const IdentityResultSlots* slotsM;
  IdentityMetadata* metadataM;
  float fusedScoreM = 0.0f;
  std::uint32_t rawCountM = 0;
  std::unique_ptr<float[]> rawScoresM;
  KXuint128 bestSampleM;
  std::int8_t currentAlgCountM = 0;
  std::int8_t countL2fM = 0;
  std::int8_t countL2f360M = 0;
  std::int8_t countL2fiM = 0;
  std::int8_t countL2mM = 0;
  std::int8_t countMvxM = 0;
};

}  // namespace qridy
