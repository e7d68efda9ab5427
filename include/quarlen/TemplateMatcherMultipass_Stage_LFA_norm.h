#pragma once

#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

namespace qrbase {

// The identifier of the LFA face stages (lfa, lfaLowRes, lfaIlmSb).
//
// Without the stage's useNormalization it is the common identifier. With it, every candidate of
// the pass is scored (no running threshold: the normaliser needs the whole distribution of the
// probe's scores), the scores are normalised against that cohort with the face library's LFA
// score normaliser (kxegm::LfaScoreNormalizer: measure type and factors lfa 0, 0.1475, 0.01;
// lfaLowRes 3, 0.1475, 0.01; lfaIlmSb 9, 0.175, 0.75; three rounds), and the best K normalised
// scores are recorded as by the common identifier (with a person mask the others are
// deselected). normalisationSecondsA receives the time of the normalisation.
//
// Errors: those of the common identifier, and "unsupported algorithm <number>" for a stage of
// another algorithm (wrapped as the common identifier wraps its errors).
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_LFA_norm
    : public TemplateMatcherMultipass_Stage_Common {
 public:
  using TemplateMatcherMultipass_Stage_Common::TemplateMatcherMultipass_Stage_Common;

  void identifyTemplate(const qridy::TemplateBlockImp* probeA, const GalleryEntryData& galleryA,
                        std::vector<qridy::IdentityMetadata*>& metadataA, unsigned int probeSlotA,
                        std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                        MatchConfigData& configA, float& matchingSecondsA,
                        float& normalisationSecondsA) override;
};

}  // namespace qrbase
