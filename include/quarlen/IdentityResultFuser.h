#pragma once

#include <cstdint>
#include <memory>

#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultParameter.h>
#include <quarlen/Types.h>

namespace qridy {

// How the raw-score slots of an identity (one per registered biometric triple) are fused into
// one score. One fuser per slot, owned by the slot registry and shared by every identity's
// result: fuse() only reads.
class QUARLEN_EXPORT IdentityResultFuser {
 public:
  IdentityResultFuser(Modality modalityA, Instance instanceA, Algorithm algorithmA)
      : modalityM(modalityA), instanceM(instanceA), algorithmM(algorithmA) {}
  IdentityResultFuser(const IdentityResultFuser&) = default;
  IdentityResultFuser& operator=(const IdentityResultFuser&) = default;
  virtual ~IdentityResultFuser();

  // The fused score of the raw-score array (one entry per slot).
  virtual float fuse(const float* rawScoresA) const = 0;

  Modality modality() const { return modalityM; }
  Instance instance() const { return instanceM; }
  Algorithm algorithm() const { return algorithmM; }

 private:
  Modality modalityM;
  Instance instanceM;
  Algorithm algorithmM;
};

// The slots [first, end) as one range.
struct FuserRange {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
};

// The middle layer of the fusers that work on a range of slots.
class QUARLEN_EXPORT IdentityResultFuserRange : public IdentityResultFuser {
 public:
  IdentityResultFuserRange(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                           FuserRange rangeA)
      : IdentityResultFuser(modalityA, instanceA, algorithmA), rangeM(rangeA) {}
  FuserRange range() const { return rangeM; }

 protected:
  FuserRange rangeM;
};

// The mean of the raw scores of the range that are not negative (a NaN counts); 0.0 when none.
class QUARLEN_EXPORT IdentityResultFuserAdder : public IdentityResultFuserRange {
 public:
  using IdentityResultFuserRange::IdentityResultFuserRange;
  float fuse(const float* rawScoresA) const override;
};

// The largest raw score of the range that is not negative; 0.0 when none.
class QUARLEN_EXPORT IdentityResultFuserMaxer : public IdentityResultFuserRange {
 public:
  using IdentityResultFuserRange::IdentityResultFuserRange;
  float fuse(const float* rawScoresA) const override;
};

// Log-FAR fusion (unit weights) of the first kMaxScores non-negative raw scores of the range,
// in slot order; 0.0 when none, or when the fusion library reports an error. Each call works
// on a fusion handle of its own, so one fuser serves several threads.
class QUARLEN_EXPORT IdentityResultFuserFuser : public IdentityResultFuserRange {
 public:
  static constexpr std::uint32_t kMaxScores = 10;

  // Creates the fuser's fusion handle (createFusion, no file, the range length); throws
  // kxxcp::Exception "Error creating fusion handle ( error : <code>)" when that fails.
  IdentityResultFuserFuser(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                           FuserRange rangeA);
  float fuse(const float* rawScoresA) const override;

 private:
  ScoreFusionHandle fusionM;  // shared by copies; never changed after construction
};

// Face: the raw score of its own slot. Carries the score-mapping parameters (read from the
// configuration at construction) with which an identity's face scores are fused.
class QUARLEN_EXPORT IdentityResultFuserFaceFuser : public IdentityResultFuser {
 public:
  // Throws what ResultParameter::readFromQuarlenIni throws.
  IdentityResultFuserFaceFuser(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                               std::uint32_t slotA);
  float fuse(const float* rawScoresA) const override { return rawScoresA[slotM]; }
  const ResultParameter& resultParameter() const { return parameterM; }
  std::uint32_t slot() const { return slotM; }

 private:
  ResultParameter parameterM;
  std::uint32_t slotM;
};

}  // namespace qridy
