#include <quarlen/TemplateMatcherMultipass_Stage_HGM_norm.h>

#include <algorithm>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/IniFile.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/Simmatwhitening.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/StageWorkers.h"

namespace qrbase {

namespace {

constexpr const char* kIdentifyFunction =
    "qrbase::TemplateMatcherMultipass_Stage_HGM_norm::identifyTemplate";
constexpr const char* kSmwFunction =
    "qrbase::TemplateMatcherMultipass_Stage_HGM_norm::setSmwParameters";

std::string trimmed(const std::string& textA) {
  const std::size_t firstL = textA.find_first_not_of(" \t\r\n");
  if (firstL == std::string::npos) return "";
  const std::size_t lastL = textA.find_last_not_of(" \t\r\n");
  return textA.substr(firstL, lastL - firstL + 1);
}

}  // namespace

TemplateMatcherMultipass_Stage_HGM_norm::TemplateMatcherMultipass_Stage_HGM_norm(
    qridy::Modality modalityA, qridy::Instance instanceA, qridy::Algorithm algorithmA)
    : TemplateMatcherMultipass_Stage_Common(modalityA, instanceA, algorithmA) {
  const int probesL = kxutl::QuarlenInformation::getIntFromConfigFile(
      "TEMPLATE_MATCHING_MULTIPASS", "maxNumberOfParallelProbes", 1);
  slotsM.resize(probesL > 0 ? static_cast<std::size_t>(probesL) : 1);
}

TemplateMatcherMultipass_Stage_HGM_norm::~TemplateMatcherMultipass_Stage_HGM_norm() = default;

TemplateMatcherMultipass_Stage_HGM_norm::SmwSettings
TemplateMatcherMultipass_Stage_HGM_norm::readSettings(const MatchConfigData& configA) const {
  kxutl::IniFile iniL;
  if (configA.matchmode != nullptr) {
    std::istringstream textL(configA.matchmode->additionalParameters);
    iniL.read(textL);
  }
  SmwSettings sL;
  if (!iniL.getStdString("Additional", "smwReferenceListFilename", sL.referenceFile)) {
    KXXCP_THROW(kSmwFunction, "Additional parameter 'smwReferenceListFilename' not found.");
  }
  sL.referenceFile = trimmed(sL.referenceFile);
  if (!iniL.getZNuint32("Additional", "smwNumberOfReferenceTemplates", sL.referenceCount)) {
    KXXCP_THROW(kSmwFunction, "Additional parameter 'smwNumberOfReferenceTemplates' not found.");
  }
  if (!iniL.getZNuint32("Additional", "smwModelSize", sL.modelSize)) {
    KXXCP_THROW(kSmwFunction, "Additional parameter 'smwModelSize' not found.");
  }
  if (!iniL.getZNuint32("Additional", "smwInnerSize", sL.innerSize)) {
    KXXCP_THROW(kSmwFunction, "Additional parameter 'smwInnerSize' not found.");
  }
  if (sL.referenceCount < 10) {
    KXXCP_THROW(kSmwFunction,
                "Additional parameter 'smwNumberOfReferenceTemplates' is too small (must be "
                "greater than 10).");
  }
  if (sL.modelSize < 3) {
    KXXCP_THROW(kSmwFunction,
                "Additional parameter 'smwModelSize' is too small (must be greater than 2).");
  }
  if (sL.innerSize < sL.modelSize) {
    KXXCP_THROW(kSmwFunction,
                "Additional parameter 'smwInnerSize' is too small (must be greater than or equal "
                "to 'smwModelSize'.");
  }
  return sL;
}

qridy::Simmatwhitening* TemplateMatcherMultipass_Stage_HGM_norm::setSmwParameters(
    const MatchConfigData& configA, unsigned int probeSlotA,
    std::vector<qridy::StageMatchEngine_Base*>& enginesA) {
  if (probeSlotA >= slotsM.size()) {
    KXXCP_THROW(kSmwFunction,
                "probe index " << probeSlotA << " out of range (" << slotsM.size() << " probes).");
  }
  const SmwSettings settingsL = readSettings(configA);
  Slot& slotL = slotsM[probeSlotA];
  if (!slotL.whitening || !(slotL.settings == settingsL)) {
    slotL.whitening.reset();
    slotL.whitening = std::make_unique<qridy::Simmatwhitening>(
        settingsL.modelSize, settingsL.modelSize, settingsL.referenceFile, settingsL.referenceCount,
        algorithmM, enginesA);
    slotL.settings = settingsL;
  }
  return slotL.whitening.get();
}

void TemplateMatcherMultipass_Stage_HGM_norm::identifyTemplate(
    const qridy::TemplateBlockImp* probeA, const GalleryEntryData& galleryA,
    std::vector<qridy::IdentityMetadata*>& metadataA, unsigned int probeSlotA,
    std::vector<qridy::StageMatchEngine_Base*>& enginesA, MatchConfigData& configA,
    float& matchingSecondsA, float& normalisationSecondsA) {
  if (configA.matchmode == nullptr || !configA.matchmode->useNormalization) {
    TemplateMatcherMultipass_Stage_Common::identifyTemplate(probeA, galleryA, metadataA, probeSlotA,
                                                            enginesA, configA, matchingSecondsA,
                                                            normalisationSecondsA);
    return;
  }
  matchingSecondsA = 0.0f;
  normalisationSecondsA = 0.0f;
  try {
    if (!checkProbe(probeA, enginesA, kIdentifyFunction)) return;
    if (configA.uniqueMetadataContainer == nullptr) {
      KXXCP_THROW(kIdentifyFunction, "MatchConfigData without metadata container or stage.");
    }
    qridy::Simmatwhitening* smwL = setSmwParameters(configA, probeSlotA, enginesA);
    const SmwSettings& smwSettingsL = slotsM[probeSlotA].settings;
    const unsigned char* probeDataL = probeA->probeDataPtr();
    const unsigned int probeSizeL = probeA->probeSize();
    if (!checkProbeData(probeDataL, probeSizeL, kIdentifyFunction)) return;
    qridy::UniqueMetadataContainer& umcL = *configA.uniqueMetadataContainer;
    const MultipassConfig::Matchmode& modeL = *configA.matchmode;
    stageworkers::PassSettings settingsL = stageworkers::passSettings(
        *this, configA, probeSlotA, galleryA.dataSize, kIdentifyFunction);
    // The global share alone sets K; the workers keep enough for the whitening's inner set.
    const std::size_t globalL =
        static_cast<std::size_t>(modeL.resultLengthGlobalPercent / 100.0f *
                                     static_cast<float>(umcL.numberOfUniqueIdRecords()) +
                                 0.5f);
    const std::size_t kL = std::min<std::size_t>(
        modeL.resultLengthMax, std::max<std::size_t>(modeL.resultLengthMin, globalL));
    settingsL.resultLengthMax =
        static_cast<std::uint32_t>(std::max<std::size_t>(kL, smwSettingsL.innerSize));

    const qridy::PersonMaskSelectivity maskL = umcL.usePersonMask(probeSlotA);
    if (maskL != qridy::PersonMaskNone && maskL != qridy::PersonMaskOff &&
        maskL != qridy::PersonMaskOn) {
      KXXCP_THROW(kIdentifyFunction, "Unsupported personMask setting.");
    }
    const bool useMaskL = maskL == qridy::PersonMaskOn;
    if (galleryA.galleryVec == nullptr || galleryA.galleryVec->empty()) return;

    kxutl::PerfCount clockL;
    std::vector<stageworkers::WorkerData> workersL =
        stageworkers::partition(galleryA, enginesA, settingsL);
    for (auto* engineL : enginesA) engineL->setProbeForIdentification(probeDataL, probeSizeL);
    stageworkers::runWorkers(workersL, useMaskL);
    for (auto* engineL : enginesA) engineL->releaseProbe();
    matchingSecondsA = static_cast<float>(clockL.elapsedSec());
    clockL.restart();

    std::vector<NormalisationResult> resultsL;
    bool stateChangedL = false;
    for (auto& workerL : workersL) {
      stateChangedL = stateChangedL || workerL.stateChanged;
      resultsL.insert(resultsL.end(), workerL.results.begin(), workerL.results.end());
    }
    // The inner set goes through the whitening; the rest cannot be kept.
    std::vector<unsigned char> innerL;
    stageworkers::selectBest(resultsL.data(), resultsL.size(), smwSettingsL.innerSize, innerL);
    std::vector<qridy::NormalisationResultCplx> cplxL;
    std::vector<std::size_t> positionL;
    for (std::size_t i = 0; i < resultsL.size(); ++i) {
      if (!innerL[i]) continue;
      const GalleryEntry* entryL = resultsL[i].entry;
      cplxL.push_back(
          {resultsL[i].score, resultsL[i].score, entryL->data, entryL->metadata, entryL});
      positionL.push_back(i);
    }
    smwL->identify(probeDataL, probeSizeL, cplxL.data(), static_cast<unsigned int>(cplxL.size()),
                   enginesA);
    std::vector<NormalisationResult> whitenedL(cplxL.size());
    for (std::size_t j = 0; j < cplxL.size(); ++j)
      whitenedL[j] = {cplxL[j].score, resultsL[positionL[j]].entry};
    std::vector<unsigned char> keptWhitenedL;
    stageworkers::selectBest(whitenedL.data(), whitenedL.size(), kL, keptWhitenedL);
    std::vector<unsigned char> keepL(resultsL.size(), 0);
    for (std::size_t j = 0; j < cplxL.size(); ++j) {
      resultsL[positionL[j]].score = cplxL[j].score;
      keepL[positionL[j]] = keptWhitenedL[j];
    }
    stageworkers::record(resultsL, keepL, settingsL, useMaskL, stateChangedL);
    normalisationSecondsA = static_cast<float>(clockL.elapsedSec());
    if (!configA.doMissAnalysis && kxutl::QuarlenInformation::debugLevelS.load() >= 3) {
      kxntc::log << "missAn:off ";
      kxntc::notify(kxntc::log);
    }
  } catch (const kxxcp::Exception& eA) {
    KXXCP_THROW(kIdentifyFunction, "Catched kxxcp::Exception: ( " << eA.getMessage() << " )");
  } catch (...) {
    KXXCP_THROW(kIdentifyFunction,
                "Catched unknown exception ( " << qridy::Types::algorithm2Text(algorithmM) << " )");
  }
}

float TemplateMatcherMultipass_Stage_HGM_norm::verify(
    const qridy::TemplateBlockImp* probeA, const qridy::TemplateBlockImp* galleryA,
    std::vector<qridy::StageMatchEngine_Base*>& enginesA, MatchConfigData& configA) {
  if (configA.matchmode == nullptr || !configA.matchmode->useNormalization) {
    return TemplateMatcherMultipass_Stage_Common::verify(probeA, galleryA, enginesA, configA);
  }
  const char* functionL = "qrbase::TemplateMatcherMultipass_Stage_HGM_norm::verify";
  if (probeA == nullptr || probeA->algorithm() != algorithmM) {
    KXXCP_THROW(functionL, "probePtrA has not the configured algorithm");
  }
  if (galleryA == nullptr || galleryA->algorithm() != algorithmM) {
    KXXCP_THROW(functionL, "galleryPtrA has not the configured algorithm");
  }
  if (galleryA->gallerySize() == 0) {
    KXXCP_THROW(functionL, "Gallery sata size of given gallery template is NULL");
  }
  if (probeA->probeSize() == 0) {
    KXXCP_THROW(functionL, "Probe data size of given probe template is NULL");
  }
  qridy::Simmatwhitening* smwL = setSmwParameters(configA, 0, enginesA);
  // Both sides are read over the shorter length, padded to the engines' 16-byte reads.
  const unsigned int sizeL = std::min(probeA->probeSize(), galleryA->gallerySize());
  std::vector<unsigned char> probeL((sizeL + 15u) & ~15u, 0), galleryL((sizeL + 15u) & ~15u, 0);
  std::copy(probeA->probeDataPtr(), probeA->probeDataPtr() + sizeL, probeL.begin());
  std::copy(galleryA->galleryDataPtr(), galleryA->galleryDataPtr() + sizeL, galleryL.begin());
  return smwL->verify(probeL.data(), galleryL.data(), sizeL, enginesA);
}

}  // namespace qrbase
