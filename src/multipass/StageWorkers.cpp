#include "multipass/StageWorkers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <unordered_set>

#include <qrlcore/COrvixThreadPool.h>
#include <qrlcore/Exception.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "common/ThresholdSearch.h"

namespace qrbase {
namespace stageworkers {

namespace {

// The entries' metadata are the container's; identifications write only their probe's state.
qridy::IdentityMetadata* writable(const GalleryEntry& entryA) {
  return const_cast<qridy::IdentityMetadata*>(entryA.metadata);
}

}  // namespace

PassSettings passSettings(const TemplateMatcherMultipass_Stage_Common& stageA,
                          const MatchConfigData& configA, unsigned int probeSlotA,
                          std::uint32_t dataSizeA, const char* functionA) {
  if (configA.uniqueMetadataContainer == nullptr || configA.matchmode == nullptr) {
    KXXCP_THROW(functionA, "MatchConfigData without metadata container or stage.");
  }
  const qridy::UniqueMetadataContainer& umcL = *configA.uniqueMetadataContainer;
  PassSettings settingsL;
  settingsL.scoreIndex = umcL.getIndexOfScore(qridy::IdentityResult::calculateHashKey(
      stageA.modality(), stageA.instance(), stageA.algorithm()));
  settingsL.instanceAlgorithmIndex =
      umcL.getIndexOfInstanceAlgorithm(stageA.instance(), stageA.algorithm());
  settingsL.probeSlot = probeSlotA;
  settingsL.resultLengthMax = configA.matchmode->resultLengthMax;
  settingsL.maxAlgorithmMatchCount = stageA.maxAlgorithmMatchCount();
  settingsL.dataSize = dataSizeA;
  return settingsL;
}

void WorkerData::reset() {
  results.clear();
  compared = 0;
  stateChanged = false;
  candidatesOnly = false;
  candidates.clear();
}

RunningThreshold::RunningThreshold(WorkerData& workerA, float startA, std::size_t capacityA)
    : workerM(workerA), capacityM(capacityA), thresholdM(startA) {
  workerA.buffer.resize(capacityM);
}

RunningThreshold::RunningThreshold(WorkerData& workerA)
    : RunningThreshold(
          workerA, std::numeric_limits<float>::lowest(),
          std::min(2 * static_cast<std::size_t>(workerA.settings.resultLengthMax), workerA.count)) {
}

void RunningThreshold::keep(float scoreA, const GalleryEntry* entryA) {
  workerM.results.push_back({scoreA, entryA});
  if (capacityM < 2) return;
  float* bufferL = workerM.buffer.data();
  bufferL[fillM++] = scoreA;
  if (fillM == capacityM) {
    // The best half stays at the front; the next score there becomes the threshold.
    const std::size_t halfL = capacityM / 2;
    std::nth_element(bufferL, bufferL + halfL, bufferL + capacityM, std::greater<float>());
    thresholdM = bufferL[halfL];
    fillM = halfL;
    // Results below the threshold can no longer be among the best resultLengthMax of this
    // worker; drop them now and then so that an ascending gallery does not keep everything.
    if (workerM.results.size() > 16 * capacityM) {
      const float tL = thresholdM;
      auto& resultsL = workerM.results;
      resultsL.erase(std::remove_if(resultsL.begin(), resultsL.end(),
                                    [tL](const Result& rA) { return rA.score < tL; }),
                     resultsL.end());
    }
  }
}

std::vector<WorkerData> partition(const GalleryEntryData& galleryA,
                                  const std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                                  const PassSettings& settingsA) {
  std::vector<WorkerData> workersL(enginesA.size());
  const std::size_t nL = galleryA.galleryVec != nullptr ? galleryA.galleryVec->size() : 0;
  const GalleryEntry* baseL = nL != 0 ? galleryA.galleryVec->data() : nullptr;
  const std::size_t tL = enginesA.size();
  for (std::size_t i = 0; i < tL; ++i) {
    WorkerData& workerL = workersL[i];
    workerL.engine = enginesA[i];
    workerL.settings = settingsA;
    const std::size_t shareL = nL / tL;
    const std::size_t beginL = i * shareL;
    workerL.count = i + 1 == tL ? nL - beginL : shareL;
    workerL.first = baseL != nullptr ? baseL + beginL : nullptr;
    workerL.end = workerL.first != nullptr ? workerL.first + workerL.count : nullptr;
  }
  return workersL;
}

void scanNoMask(WorkerData& workerA) {
  RunningThreshold thresholdL(workerA);
  qridy::StageMatchEngine_Base& engineL = *workerA.engine;
  const unsigned int sizeL = workerA.settings.dataSize;
  const Prefetcher prefetcherL(engineL, sizeL, workerA.end);
  std::size_t comparedL = 0;
  for (const GalleryEntry* eL = workerA.first; eL != workerA.end; ++eL) {
    prefetcherL.ahead(eL);
    ++comparedL;
    const float sL = engineL.matchGallery(eL->data, sizeL);
    if (sL > thresholdL.threshold()) thresholdL.keep(sL, eL);
  }
  workerA.compared += comparedL;
}

namespace {

std::atomic<bool> candidateWalkS{true};
std::atomic<std::size_t> candidateWalkPassesS{0};

// The masked scan over the entries a source yields, in order.
template <class NextA>
void scanMaskOver(WorkerData& workerA, NextA nextA) {
  RunningThreshold thresholdL(workerA);
  qridy::StageMatchEngine_Base& engineL = *workerA.engine;
  const PassSettings& settingsL = workerA.settings;
  while (const GalleryEntry* eL = nextA()) {
    qridy::IdentityMetadata* metadataL = writable(*eL);
    const int stateL = metadataL != nullptr ? metadataL->getResultState(settingsL.probeSlot) : 0;
    if (stateL == 0) continue;
    ++workerA.compared;
    const float sL = engineL.matchGallery(eL->data, settingsL.dataSize);
    if (stateL == 1) workerA.stateChanged = true;
    if (stateL == 3 && !std::isnan(sL)) {
      metadataL->identityResult(settingsL.probeSlot)
          ->addRawScore(settingsL.scoreIndex, eL->sampleId, sL, true, false, false);
    }
    if (sL > thresholdL.threshold()) {
      thresholdL.keep(sL, eL);
    } else {
      metadataL->setSelected(settingsL.probeSlot, false);
    }
  }
}

}  // namespace

void setCandidateWalk(bool onA) {
  candidateWalkS = onA;
}
bool candidateWalk() {
  return candidateWalkS;
}
std::size_t candidateWalkPasses() {
  return candidateWalkPassesS;
}

void restrictToCandidates(std::vector<WorkerData>& workersA, const GalleryEntryData& galleryA,
                          const std::vector<std::uint32_t>& positionsA) {
  const GalleryEntry* baseL =
      galleryA.galleryVec != nullptr ? galleryA.galleryVec->data() : nullptr;
  ++candidateWalkPassesS;
  std::size_t nextL = 0;
  for (WorkerData& workerL : workersA) {
    workerL.candidatesOnly = true;
    workerL.candidates.clear();
    if (workerL.first == nullptr || baseL == nullptr) continue;
    const std::size_t endL = static_cast<std::size_t>(workerL.end - baseL);
    for (; nextL < positionsA.size() && positionsA[nextL] < endL; ++nextL) {
      workerL.candidates.push_back(baseL + positionsA[nextL]);
    }
  }
}

void scanMask(WorkerData& workerA) {
  if (workerA.candidatesOnly) {
    std::size_t iL = 0;
    const std::vector<const GalleryEntry*>& listL = workerA.candidates;
    scanMaskOver(workerA, [&]() -> const GalleryEntry* {
      return iL < listL.size() ? listL[iL++] : nullptr;
    });
    return;
  }
  const GalleryEntry* eL = workerA.first;
  scanMaskOver(workerA,
               [&]() -> const GalleryEntry* { return eL != workerA.end ? eL++ : nullptr; });
}

void scanAll(WorkerData& workerA, bool useMaskA) {
  qridy::StageMatchEngine_Base& engineL = *workerA.engine;
  const PassSettings& settingsL = workerA.settings;
  workerA.results.reserve(workerA.count);
  const Prefetcher prefetcherL(engineL, settingsL.dataSize, workerA.end);
  for (const GalleryEntry* eL = workerA.first; eL != workerA.end; ++eL) {
    if (!useMaskA) prefetcherL.ahead(eL);
    if (useMaskA &&
        (eL->metadata == nullptr || eL->metadata->getResultState(settingsL.probeSlot) == 0)) {
      continue;
    }
    ++workerA.compared;
    const float sL = engineL.matchGallery(eL->data, settingsL.dataSize);
    if (!std::isnan(sL)) workerA.results.push_back(Result{sL, eL});
  }
}

void runWorkers(std::vector<WorkerData>& workersA, void (*scanA)(WorkerData&, bool),
                bool useMaskA) {
  kxutl::COrvixThreadPool poolL(static_cast<unsigned int>(workersA.size()), workersA.data());
  poolL.DoThreadedWork([&workersA, scanA, useMaskA](kxutl::ThreadData& threadA) {
    scanA(workersA[threadA.threadIndexM], useMaskA);
  });
}

void runWorkers(std::vector<WorkerData>& workersA, bool useMaskA) {
  runWorkers(
      workersA,
      [](WorkerData& workerA, bool maskA) { maskA ? scanMask(workerA) : scanNoMask(workerA); },
      useMaskA);
}

std::size_t selectBest(const Result* resultsA, std::size_t nA, std::size_t kA,
                       std::vector<unsigned char>& keepA, TieOrder tiesA) {
  keepA.assign(nA, 0);
  std::vector<Result> scratchL;
  scratchL.reserve(nA);
  for (std::size_t i = 0; i < nA; ++i) {
    if (!std::isnan(resultsA[i].score)) scratchL.push_back(resultsA[i]);
  }
  if (kA == 0 || scratchL.empty()) return 0;
  if (scratchL.size() <= kA) {
    for (std::size_t i = 0; i < nA; ++i) keepA[i] = std::isnan(resultsA[i].score) ? 0 : 1;
    return scratchL.size();
  }
  float thresholdL = 0.0f;
  std::size_t equalL = 0, aboveOrEqualL = 0;
  qrcommon::searchThreshold(scratchL.data(), scratchL.size(), kA, thresholdL, equalL,
                            aboveOrEqualL);
  const std::size_t equalQuotaL = kA - (aboveOrEqualL - equalL);
  std::size_t keptL = 0;
  std::vector<std::size_t> equalsL;
  for (std::size_t i = 0; i < nA; ++i) {
    const float sL = resultsA[i].score;
    if (sL > thresholdL) {
      keepA[i] = 1;
      ++keptL;
    } else if (sL == thresholdL) {
      equalsL.push_back(i);
    }
  }
  // By key, the candidates at the threshold that stay are the same whichever way the gallery
  // is spread over shards.
  const auto keyL = [resultsA](std::size_t iA) {
    const GalleryEntry* entryL = resultsA[iA].entry;
    return entryL != nullptr ? entryL->idRecordKey() : qridy::IdRecordKey();
  };
  if (tiesA == TieOrder::Key) {
    std::stable_sort(equalsL.begin(), equalsL.end(), [&keyL](std::size_t aA, std::size_t bA) {
      const qridy::IdRecordKey kaL = keyL(aA), kbL = keyL(bA);
      return kaL.personId != kbL.personId ? kaL.personId < kbL.personId
                                          : kaL.transactionId < kbL.transactionId;
    });
  }
  for (std::size_t j = 0; j < equalsL.size() && j < equalQuotaL; ++j) {
    keepA[equalsL[j]] = 1;
    ++keptL;
  }
  return keptL;
}

void record(const std::vector<Result>& resultsA, const std::vector<unsigned char>& keepA,
            const PassSettings& settingsA, bool useMaskA, bool stateChangedA) {
  if (!useMaskA || stateChangedA) {
    for (std::size_t i = 0; i < resultsA.size(); ++i) {
      if (!keepA[i]) continue;
      const GalleryEntry& entryL = *resultsA[i].entry;
      qridy::IdentityMetadata* metadataL = writable(entryL);
      if (metadataL == nullptr) continue;
      metadataL->identityResult(settingsA.probeSlot)
          ->addRawScore(settingsA.scoreIndex, entryL.sampleId, resultsA[i].score, true, false,
                        false);
    }
  }
  if (useMaskA) {
    std::unordered_set<const qridy::IdentityMetadata*> keptL;
    for (std::size_t i = 0; i < resultsA.size(); ++i) {
      if (keepA[i]) keptL.insert(resultsA[i].entry->metadata);
    }
    for (std::size_t i = 0; i < resultsA.size(); ++i) {
      const GalleryEntry& entryL = *resultsA[i].entry;
      if (keepA[i] || entryL.metadata == nullptr || keptL.count(entryL.metadata) != 0) continue;
      writable(entryL)->setSelected(settingsA.probeSlot, false);
    }
  }
}

PassCounts passCounts(ShardExchange* exchangeA, std::size_t comparedA, std::size_t identitiesA,
                      std::size_t resultsA, const std::vector<Result>& candidatesA,
                      std::size_t boundA) {
  PassCounts countsL;
  countsL.compared = comparedA;
  countsL.identities = identitiesA;
  countsL.results = resultsA;
  countsL.candidates = candidatesA.size();
  if (exchangeA == nullptr) return countsL;
  ShardPassReport reportL;
  reportL.compared = comparedA;
  reportL.identities = identitiesA;
  reportL.results = resultsA;
  std::vector<ShardCandidate> listL(candidatesA.size());
  for (std::size_t i = 0; i < candidatesA.size(); ++i) {
    const qridy::IdRecordKey& keyL = candidatesA[i].entry->idRecordKey();
    listL[i] = {candidatesA[i].score, keyL.personId, keyL.transactionId};
  }
  reportL.setBest(std::move(listL), boundA);
  countsL.shard.emplace(exchangeA->exchangePass(reportL));
  countsL.compared = countsL.shard->compared();
  countsL.identities = countsL.shard->identities();
  countsL.results = countsL.shard->results();
  countsL.candidates = countsL.shard->candidates();
  return countsL;
}

}  // namespace stageworkers
}  // namespace qrbase
