#pragma once

#include <map>
#include <ostream>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultTemplateBlock.h>
#include <quarlen/Types.h>

namespace qridy {

class ResultParameter;

// The scores of one sample of an identity: one block per algorithm and the template score
// computed from them.
class QUARLEN_EXPORT ResultTemplate {
 public:
  // Maps rawScoreA (ResultParameter::mapScore), stores it as the block of algorithmA (replacing
  // an earlier one) and recomputes the template score: the sum of the block scores, except for
  // face templates in LogFar mode, where the blocks whose fusion weight is not negative are
  // fused (fuseLogFar times scoreFactorA). A dropped score changes nothing. Throws
  // kxxcp::Exception for the mappings and weights that are not supported; the template is then
  // unchanged.
  void addScore(Modality modalityA, Instance instanceA, Algorithm algorithmA, float rawScoreA,
                bool mapScoreA, bool galleryNormalizedA, float scoreFactorA,
                const ResultParameter& parameterA);
  float getScore() const { return scoreM; }
  const std::map<Algorithm, ResultTemplateBlock>& blocks() const { return blocksM; }

  // The log-FAR fusion of -log10 FAR scores with weights (missing weights are 1).
  static float fuseLogFar(const std::vector<float>& scoresA, const std::vector<float>& weightsA);

  // The block lines of the result dumps (verbosity 3 and more), in algorithm order.
  void info(std::ostream& osA, int verbosityA) const;
  void infoCsv(std::ostream& osA, int verbosityA) const;

 private:
  friend class ResultTreeCoding;  // restores decoded scores as they were
  float templateScore(Modality modalityA, float mappedA, float scoreFactorA,
                      const ResultParameter& parameterA) const;

  std::map<Algorithm, ResultTemplateBlock> blocksM;
  float scoreM = 0.0f;
};

}  // namespace qridy
