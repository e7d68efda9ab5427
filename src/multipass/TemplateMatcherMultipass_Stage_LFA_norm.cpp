#include <quarlen/TemplateMatcherMultipass_Stage_LFA_norm.h>

#include <vector>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlface/LfaScoreNormalizer.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/StageWorkers.h"

namespace qrbase {

namespace {

constexpr const char* kFunction =
    "qrbase::TemplateMatcherMultipass_Stage_LFA_norm::identifyTemplate";

kxegm::LfaScoreNormalizer normalizerFor(qridy::Algorithm algorithmA) {
  switch (algorithmA) {
    case qridy::AlgLfa:
      return kxegm::LfaScoreNormalizer(0, 0.1475f, 0.01f, 3);
    case qridy::AlgLfaLowRes:
      return kxegm::LfaScoreNormalizer(3, 0.1475f, 0.01f, 3);
    case qridy::AlgLfaIlmSb:
      return kxegm::LfaScoreNormalizer(9, 0.175f, 0.75f, 3);
    default:
      KXXCP_THROW(kFunction, "unsupported algorithm " << static_cast<int>(algorithmA));
  }
}

}  // namespace

void TemplateMatcherMultipass_Stage_LFA_norm::identifyTemplate(
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
    const kxegm::LfaScoreNormalizer normalizerL = normalizerFor(algorithmM);
    if (!checkProbe(probeA, enginesA, kFunction)) return;
    unsigned int probeSizeL = 0;
    const unsigned char* rawL = enginesA[0]->extractRawData(probeA, probeSizeL, true);
    if (!checkProbeData(rawL, probeSizeL, kFunction)) return;
    const std::vector<unsigned char> probeDataL(rawL, rawL + probeSizeL);
    const stageworkers::PassSettings settingsL =
        stageworkers::passSettings(*this, configA, probeSlotA, galleryA.dataSize, kFunction);
    qridy::UniqueMetadataContainer& umcL = *configA.uniqueMetadataContainer;
    const qridy::PersonMaskSelectivity maskL = umcL.usePersonMask(probeSlotA);
    if (maskL != qridy::PersonMaskNone && maskL != qridy::PersonMaskOff &&
        maskL != qridy::PersonMaskOn) {
      KXXCP_THROW(kFunction, "Unsupported person mask enum value.");
    }
    const bool useMaskL = maskL == qridy::PersonMaskOn;
    if (galleryA.galleryVec == nullptr || galleryA.galleryVec->empty()) return;

    kxutl::PerfCount clockL;
    std::vector<stageworkers::WorkerData> workersL =
        stageworkers::partition(galleryA, enginesA, settingsL);
    for (qridy::StageMatchEngine_Base* engineL : enginesA) {
      engineL->setProbeForIdentification(probeDataL.data(), probeSizeL);
    }
    stageworkers::runWorkers(workersL, &stageworkers::scanAll, useMaskL);
    for (qridy::StageMatchEngine_Base* engineL : enginesA) engineL->releaseProbe();
    matchingSecondsA = static_cast<float>(clockL.elapsedSec());

    clockL.restart();
    std::size_t comparedL = 0;
    std::vector<NormalisationResult> resultsL;
    for (const auto& workerL : workersL) {
      comparedL += workerL.compared;
      resultsL.insert(resultsL.end(), workerL.results.begin(), workerL.results.end());
    }
    std::vector<float> scoresL(resultsL.size());
    for (std::size_t i = 0; i < resultsL.size(); ++i) scoresL[i] = resultsL[i].score;
    normalizerL.normalize(scoresL);
    for (std::size_t i = 0; i < resultsL.size(); ++i) resultsL[i].score = scoresL[i];
    normalisationSecondsA = static_cast<float>(clockL.elapsedSec());

    const std::size_t kL = candidateCount(*configA.matchmode, comparedL,
                                          umcL.numberOfUniqueIdRecords(), configA.processing);
    std::vector<unsigned char> keepL;
    stageworkers::selectBest(resultsL.data(), resultsL.size(), kL, keepL);
    // Every kept candidate gets its normalised score, whether it held a result or not.
    stageworkers::record(resultsL, keepL, settingsL, useMaskL, true);
  } catch (const kxxcp::Exception& eA) {
    KXXCP_THROW(kFunction, "Catched kxxcp::Exception: ( " << eA.getMessage() << " )");
  } catch (...) {
    KXXCP_THROW(kFunction,
                "Catched unknown exception ( " << qridy::Types::algorithm2Text(algorithmM) << " )");
  }
}

}  // namespace qrbase
