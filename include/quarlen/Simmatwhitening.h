#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

class IdentityMetadata;
class StageMatchEngine_Base;

// One candidate of a normalised face pass: its raw score, the score the whitening gives it, its
// gallery data (a stage slot) and its identity. entry is the stage's gallery entry, carried along
// for the caller and never read here.
struct NormalisationResultCplx {
  float score = 0.0f;     // whitened score (raw score until identify ran)
  float rawScore = 0.0f;  // the engine's score
  const unsigned char* data = nullptr;
  const IdentityMetadata* metadata = nullptr;
  const void* entry = nullptr;
};

// Similarity-matrix whitening of face comparisons: for a probe, a set of reference templates is
// chosen, their similarity matrix S and the probe's similarities s to them are scored with the
// stage engines, and the coefficients c = V diag(w) V^T s (S = V diag(lambda) V^T, w_i =
// 1 / lambda_i^2 for 1e-5 < lambda_i < 1e51, else 0) weight the references' feature units into a
// modified probe, which is then compared with gallery templates by the algorithm's
// float-versus-template similarity, mapped by 0.5 x + 0.5.
//
// Algorithms: hgm, hgmPyrBit (bits), hgmFloat (floats; engine 0 must be the HgmFloat engine),
// hgmByte, hgmPyrByte, l3Jim (signed bytes), l1Jim, l2Jim (signed 4-bit values).
//
// Reference-list mode (a reference file was named): the references are the K (double mode 2K)
// best-scoring of the N stored templates. Gallery mode: the candidates handed to identify.
//
// Configuration (section "TEMPLATE_MATCHING_MULTIPASS", read by the constructor):
// smwSumScoresOfEqualPersonIds, smwOnGalUseOnlyBestTemplateOfEachPersonId,
// smwNumberOfReferenceIdsToSkip, smwOnRefDoubleMode, smwRefIdSkipperIgnoreIdenticalMatches,
// smwOnRefVerifyModifyBoth.
//
// Threads: after construction the object is only read; identify and verify may run on several
// threads at once when each call has its own engines. Errors: kxxcp::Exception, code -1.
class QUARLEN_EXPORT Simmatwhitening {
 public:
  // R: the largest reference set; K: references per probe; referenceFileA: identity records in
  // their stream format (empty: gallery mode), of which exactly N are read; from each the first
  // face template's block of algorithmA gives a reference. Throws "Algorithm '<text>' not
  // supported by SMW.", "Cannot open file '<name>'" and "Not enough smw reference templates
  // found in: <name>. <N> reference templates expected, but only <n> templates found.".
  Simmatwhitening(unsigned int R, unsigned int K, const std::string& referenceFileA, unsigned int N,
                  Algorithm algorithmA, std::vector<StageMatchEngine_Base*>& enginesA);
  ~Simmatwhitening();
  Simmatwhitening(const Simmatwhitening&) = delete;
  Simmatwhitening& operator=(const Simmatwhitening&) = delete;

  // Re-scores countA candidates (gallery data of at least probeSizeA bytes each): each score
  // field receives the whitened score. Without references the scores stay as they are.
  void identify(const std::uint8_t* probeA, unsigned int probeSizeA,
                NormalisationResultCplx* candidatesA, unsigned int countA,
                std::vector<StageMatchEngine_Base*>& enginesA);
  // The whitened score of one pair (reference-list mode; in gallery mode the raw similarity of
  // the unmodified probe units is used).
  float verify(const std::uint8_t* probeA, const std::uint8_t* galleryA, unsigned int sizeA,
               std::vector<StageMatchEngine_Base*>& enginesA) const;
  // The modified feature vector of one template (reference-list mode only: "This function is
  // only available in reference list mode."); lengthA receives its float count. Caller owns it
  // (delete[]).
  float* createSmwOnRefTransformedFeatureVec(const std::uint8_t* dataA, unsigned int sizeA,
                                             std::vector<StageMatchEngine_Base*>& enginesA,
                                             unsigned int& lengthA) const;
  void reset() {}

  // The whitening coefficients c of a k x k symmetric similarity matrix (row-major) and the
  // similarity vector s (Eigen's SelfAdjointEigenSolver).
  static std::vector<double> whiteningCoefficients(const std::vector<double>& matrixA,
                                                   const std::vector<double>& similaritiesA,
                                                   std::size_t kA);

  // Float-versus-template similarities (not mapped).
  static float calcSimFloatBit(const float* fA, const std::uint8_t* bitsA, unsigned int nBitsA);
  static float calcSimFloatPyrBit(const float* fA, const std::uint8_t* bitsA, unsigned int nBitsA);
  static float calcSimFloatByte(const float* fA, const std::uint8_t* bytesA, unsigned int nA,
                                float divisorA);
  static float calcSimFloat4Bit(const float* fA, const std::uint8_t* bytesA, unsigned int nValuesA,
                                float divisorA);
  // Divides by the L2 norm; "l2Norm is ZERO " for a norm of 1e-5 or less.
  static void normalizeVector(float* vA, unsigned int nA);

  bool referenceListMode() const { return referenceListModeM; }
  unsigned int referenceCount() const { return static_cast<unsigned int>(referencesM.size()); }
  Algorithm algorithm() const { return algorithmM; }
  // The feature units of a template of sizeA bytes.
  unsigned int unitCount(unsigned int sizeA) const;

 private:
  struct Reference {
    const std::uint8_t* data;
    std::uint64_t personId;
  };
  // The references of a probe in reference-list mode, best first (K, or 2K in double mode).
  std::vector<Reference> chooseReferences(const std::uint8_t* probeA, unsigned int sizeA,
                                          StageMatchEngine_Base& engineA) const;
  // The modified probe (unitCount floats) from the references; empty without references.
  std::vector<float> createSmwTransformedTemplate(const std::uint8_t* probeA, unsigned int sizeA,
                                                  const std::vector<Reference>& referencesA,
                                                  StageMatchEngine_Base& engineA) const;
  // 0.5 sim(t, gallery) + 0.5 with the algorithm's similarity.
  float similarity(const std::vector<float>& tA, const std::uint8_t* galleryA, unsigned int sizeA,
                   StageMatchEngine_Base& engineA) const;
  // Adds coefficientA times the units of a template to tA.
  void addUnits(std::vector<float>& tA, double coefficientA, const std::uint8_t* dataA,
                unsigned int sizeA) const;

  unsigned int dimensionM;
  unsigned int kM;
  unsigned int expectedReferencesM;
  Algorithm algorithmM;
  bool referenceListModeM = false;
  unsigned int slotSizeM = 0;
  unsigned int templateSizeM = 0;
  std::vector<std::uint8_t> storeM;  // reference slots, multiples of 32 bytes
  std::vector<Reference> referencesM;
  bool sumScoresOfEqualPersonIdsM = false;
  bool onGalUseOnlyBestTemplateM = false;
  unsigned int referenceIdsToSkipM = 0;
  bool doubleModeM = false;
  bool skipperIgnoreIdenticalM = false;
  bool verifyModifyBothM = false;
};

}  // namespace qridy
