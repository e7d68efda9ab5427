#pragma once

#include <memory>
#include <string>
#include <vector>

#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

namespace qridy {
class Simmatwhitening;
}

namespace qrbase {

// The identifier of the HGM-family and Jim face stages. Without the stage's useNormalization it
// is the common identifier. With it, the best max(K, smwInnerSize) candidates of the pass are
// re-scored by similarity-matrix whitening (qridy::Simmatwhitening) and the best K of the
// whitened scores are recorded (K = min(resultLengthMax, max(resultLengthMin, global share))).
//
// The whitening settings come from the section "Additional" of the stage's additionalParameters:
// smwReferenceListFilename (empty: the candidates are the reference population),
// smwNumberOfReferenceTemplates (at least 10), smwModelSize (at least 3: references per probe)
// and smwInnerSize (at least smwModelSize). Each probe slot keeps its own whitening object,
// rebuilt only when a setting changed; probe slots are bounded by "maxNumberOfParallelProbes"
// (section "TEMPLATE_MATCHING_MULTIPASS") read at construction.
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_HGM_norm
    : public TemplateMatcherMultipass_Stage_Common {
 public:
  TemplateMatcherMultipass_Stage_HGM_norm(qridy::Modality modalityA, qridy::Instance instanceA,
                                          qridy::Algorithm algorithmA);
  ~TemplateMatcherMultipass_Stage_HGM_norm() override;

  // As the common identifier; the whitening time goes to normalisationSecondsA. Failures are
  // wrapped as there ("Unsupported personMask setting." for a person-mask value other than -1, 0,
  // 1 when normalising).
  void identifyTemplate(const qridy::TemplateBlockImp* probeA, const GalleryEntryData& galleryA,
                        std::vector<qridy::IdentityMetadata*>& metadataA, unsigned int probeSlotA,
                        std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                        MatchConfigData& configA, float& matchingSecondsA,
                        float& normalisationSecondsA) override;
  // With normalisation the whitened score of the pair (probe slot 0's whitening object).
  float verify(const qridy::TemplateBlockImp* probeA, const qridy::TemplateBlockImp* galleryA,
               std::vector<qridy::StageMatchEngine_Base*>& enginesA,
               MatchConfigData& configA) override;

  // The whitening object of the probe slot for the stage's settings, (re)built when they
  // changed. Throws "Additional parameter '<key>' not found." for each missing key,
  // "Additional parameter 'smwNumberOfReferenceTemplates' is too small (must be greater than
  // 10).", "Additional parameter 'smwModelSize' is too small (must be greater than 2).",
  // "Additional parameter 'smwInnerSize' is too small (must be greater than or equal to
  // 'smwModelSize'." and "probe index <p> out of range (<n> probes).".
  qridy::Simmatwhitening* setSmwParameters(const MatchConfigData& configA, unsigned int probeSlotA,
                                           std::vector<qridy::StageMatchEngine_Base*>& enginesA);

 private:
  struct SmwSettings {
    std::string referenceFile;
    unsigned int referenceCount = 0;
    unsigned int modelSize = 0;
    unsigned int innerSize = 0;
    bool operator==(const SmwSettings& oA) const {
      return referenceFile == oA.referenceFile && referenceCount == oA.referenceCount &&
             modelSize == oA.modelSize && innerSize == oA.innerSize;
    }
  };
  struct Slot {
    SmwSettings settings;
    std::unique_ptr<qridy::Simmatwhitening> whitening;
  };
  SmwSettings readSettings(const MatchConfigData& configA) const;

  std::vector<Slot> slotsM;
};

}  // namespace qrbase
