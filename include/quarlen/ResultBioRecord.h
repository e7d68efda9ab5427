#pragma once

#include <map>
#include <ostream>

#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultTemplate.h>
#include <quarlen/Types.h>

namespace qridy {

// The scores of one biometric record (modality and instance) of an identity: one template
// result per sample id, and the record score, the best template score.
class QUARLEN_EXPORT ResultBioRecord {
 public:
  // Adds a score to the template of sampleIdA (created when absent) and recomputes the record
  // score. Throws as ResultTemplate::addScore.
  void addScore(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                const KXuint128& sampleIdA, float rawScoreA, bool mapScoreA,
                bool galleryNormalizedA, float scoreFactorA, const ResultParameter& parameterA);
  float getScore() const { return scoreM; }

  unsigned int getNumResultTemplateIds() const;
  // The sample id of the indexA-th template in sample-id order. Throws kxxcp::Exception
  // "getResultTemplateIdByIndex() ResultTemplate not exist for this index".
  KXuint128 getResultTemplateIdByIndex(unsigned int indexA) const;
  const std::map<KXuint128, ResultTemplate>& templates() const { return templatesM; }

  // The record's part of the result dumps (modality and instance name the record).
  void info(std::ostream& osA, Modality modalityA, Instance instanceA, int verbosityA) const;
  void infoCsv(std::ostream& osA, Modality modalityA, Instance instanceA, int verbosityA) const;

 private:
  friend class ResultTreeCoding;  // restores decoded scores as they were
  std::map<KXuint128, ResultTemplate> templatesM;
  float scoreM = 0.0f;
};

}  // namespace qridy
