#pragma once

#include <string>

#include <quarlen/MultipassConfig.h>
#include <quarlen/QuarlenExport.h>

namespace qrbase {

class TemplateMatcherMultipass_Pipeline;
class TemplateMatcherMultipass_Stage_Common;

// The one place that maps configured stages to the classes that run them.
class QUARLEN_EXPORT PipelineFactory {
 public:
  // The stage identifier for a stage, by modality and algorithm; the caller owns the result.
  //   face hgm, dicar, fHgm, hgmFloat, hgmByte, hgmPyr, hgmPyrByte, hgmPyrFloat, hgmPyrBit,
  //        l3Jim, l1Jim, l2Jim, hgmPyrBitSmwSb   -> TemplateMatcherMultipass_Stage_HGM_norm
  //   face sta, vfa, vfa2, vfa3                  -> TemplateMatcherMultipass_Stage_Common
  //   face lfa, lfaLowRes, lfaIlmSb              -> TemplateMatcherMultipass_Stage_LFA_norm
  //   iris, any algorithm                        -> TemplateMatcherMultipass_Stage_Common
  // Throws kxxcp::Exception (function "qrbase::PipelineFactory::createIdentifier"):
  //   "Algorithm 'bioengineSdk' not supported for stage matcher creation." (fingerprint
  //   bioengineSdk);
  //   "Algorithm '<text>' needs the fingerprint stage identifier, which is not part of this
  //   build." (the other fingerprint algorithms: l1b, l2f, l2m, l1v, l2v, l2f360, fva, l2fi);
  //   "Cannot create stage for this configutation" for anything else.
  static TemplateMatcherMultipass_Stage_Common* createIdentifier(
      const MultipassConfig::Matchmode& matchmodeA);

  // The pipeline class for a configuration (the caller owns it and hands it the configuration
  // with setConfig): the fingerprint pipeline when a stage is a fingerprint stage, else the
  // common pipeline (also without stages). Stages of more than one modality throw
  // "PipelineFactory - Multi-modal search not supported" (with the version text).
  static TemplateMatcherMultipass_Pipeline* createPipeline(const MultipassConfig& configA,
                                                           const std::string& pipelineIdA);
};

}  // namespace qrbase
