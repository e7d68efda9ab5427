#include <quarlen/PipelineFactory.h>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/TemplateMatcherMultipass_Pipeline_Common.h>
#include <quarlen/TemplateMatcherMultipass_Pipeline_Finger.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Finger.h>
#include <quarlen/TemplateMatcherMultipass_Stage_HGM_norm.h>
#include <quarlen/TemplateMatcherMultipass_Stage_LFA_norm.h>

namespace qrbase {

namespace {
constexpr const char* kFunction = "qrbase::PipelineFactory::createIdentifier";
}

TemplateMatcherMultipass_Stage_Common* PipelineFactory::createIdentifier(
    const MultipassConfig::Matchmode& matchmodeA) {
  using namespace qridy;
  const Modality modalityL = matchmodeA.modality;
  const Instance instanceL = matchmodeA.instance;
  const Algorithm algorithmL = matchmodeA.algorithm;
  if (modalityL == ModalityFace) {
    switch (algorithmL) {
      case AlgHgm:
      case AlgDicar:
      case AlgFHgm:
      case AlgHgmFloat:
      case AlgHgmByte:
      case AlgHgmPyr:
      case AlgHgmPyrByte:
      case AlgHgmPyrFloat:
      case AlgHgmPyrBit:
      case AlgL3Jim:
      case AlgL1Jim:
      case AlgL2Jim:
      case AlgHgmPyrBitSmwSb:
        return new TemplateMatcherMultipass_Stage_HGM_norm(modalityL, instanceL, algorithmL);
      case AlgSta:
      case AlgVfa:
      case AlgVfa2:
      case AlgVfa3:
        return new TemplateMatcherMultipass_Stage_Common(modalityL, instanceL, algorithmL);
      case AlgLfa:
      case AlgLfaLowRes:
      case AlgLfaIlmSb:
        return new TemplateMatcherMultipass_Stage_LFA_norm(modalityL, instanceL, algorithmL);
      default:
        break;
    }
  } else if (modalityL == ModalityFingerprint) {
    switch (algorithmL) {
      case AlgBioengineSdk:
        KXXCP_THROW(kFunction,
                    "Algorithm 'bioengineSdk' not supported for stage matcher creation.");
      case AlgL1b:
      case AlgL2f:
      case AlgL2m:
      case AlgL1v:
      case AlgL2v:
      case AlgL2f360:
      case AlgFva:
      case AlgL2fi:
        return new TemplateMatcherMultipass_Stage_Finger(modalityL, instanceL, algorithmL);
      default:
        break;
    }
  } else if (modalityL == ModalityIris) {
    return new TemplateMatcherMultipass_Stage_Common(modalityL, instanceL, algorithmL);
  }
  KXXCP_THROW(kFunction, "Cannot create stage for this configutation");
}

TemplateMatcherMultipass_Pipeline* PipelineFactory::createPipeline(const MultipassConfig& configA,
                                                                   const std::string& pipelineIdA) {
  unsigned int faceL = 0, fingerL = 0, irisL = 0;
  for (const MultipassConfig::Matchmode& stageL : configA.getStages()) {
    faceL += stageL.modality == qridy::ModalityFace;
    fingerL += stageL.modality == qridy::ModalityFingerprint;
    irisL += stageL.modality == qridy::ModalityIris;
  }
  if ((faceL != 0 && (fingerL != 0 || irisL != 0)) || (irisL != 0 && fingerL != 0)) {
    throw kxxcp::Exception("PipelineFactory - Multi-modal search not supported", __FILE__, __LINE__,
                           "qrbase::PipelineFactory::createPipeline",
                           kxutl::QuarlenInformation::quarlenVersionS);
  }
  if (fingerL != 0) {
    return new TemplateMatcherMultipass_Pipeline_Finger(
        pipelineIdA, MultipassConfig(), kxutl::QuarlenInformation::getSettings(true));
  }
  return new TemplateMatcherMultipass_Pipeline_Common(pipelineIdA, MultipassConfig(),
                                                      kxutl::QuarlenInformation::getSettings(true));
}

TemplateMatcherMultipass_Stage_Common* TemplateMatcherMultipass_Stage_Common::createIdentifier(
    const MultipassConfig::Matchmode& matchmodeA) {
  return PipelineFactory::createIdentifier(matchmodeA);
}

}  // namespace qrbase
