#include <quarlen/IdentityResultContainer.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdentityResult.h>

namespace qridy {

IdentityResultContainer::IdentityResultContainer(const IdentityResultSlots* slotsA,
                                                 unsigned int probeA, bool lockingA,
                                                 std::size_t /*reserveA*/)
    : slotsM(slotsA), probeM(probeA), lockingM(lockingA) {}

IdentityResultContainer::~IdentityResultContainer() {
  for (auto& [metadata, result] : resultsM) delete result;
}

IdentityResult* IdentityResultContainer::acquire(IdentityMetadata* metadataA) {
  auto* resultL = new IdentityResult(slotsM, metadataA);
  if (!lockingM) return resultL;
  if (!lockM.tryWrlock()) {
    try {
      lockM.wrlock();
    } catch (const kxxcp::Exception&) {
      return resultL;
    }
  }
  try {
    resultsM[metadataA] = resultL;
  } catch (...) {
    lockM.unlock();
    delete resultL;
    throw;
  }
  lockM.unlock();
  return resultL;
}

void IdentityResultContainer::deleteResult(IdentityMetadata* metadataA, IdentityResult* resultA) {
  if (lockingM) {
    bool foundL = false;
    {
      qrsys::RWLock::WriteGuard guardL(lockM);
      const auto itL = resultsM.find(metadataA);
      if (itL != resultsM.end() && itL->second == resultA) {
        resultsM.erase(itL);
        foundL = true;
      }
    }
    if (!foundL) {
      kxntc::error << "IdentityResultContainer::deleteResult try to delete result that not exists";
      kxntc::notify(kxntc::error);
    }
  }
  delete resultA;
}

std::size_t IdentityResultContainer::size() const {
  qrsys::RWLock::ReadGuard guardL(lockM);
  return resultsM.size();
}

std::vector<IdentityMetadata*> IdentityResultContainer::registeredMetadata() const {
  qrsys::RWLock::ReadGuard guardL(lockM);
  std::vector<IdentityMetadata*> metadataL;
  metadataL.reserve(resultsM.size());
  for (const auto& [metadata, result] : resultsM) metadataL.push_back(metadata);
  return metadataL;
}

void IdentityResultContainer::selectBest(const std::vector<float>& scoresA, std::size_t keepA,
                                         std::vector<char>& keptA) {
  const std::size_t countL = scoresA.size();
  keptA.assign(countL, 1);
  if (keepA == 0 || countL <= keepA) return;
  if (kxutl::QuarlenInformation::debugLevelS >= 4) {
    std::cerr << " -- sortAndCleanScores():reduceByFusedScores " << std::endl;
  }
  const auto valueL = [](float sA) {
    return std::isnan(sA) ? std::numeric_limits<float>::lowest() : sA;
  };
  std::vector<float> sortedL(countL);
  std::transform(scoresA.begin(), scoresA.end(), sortedL.begin(), valueL);
  // The threshold: the keepA-th best score.
  std::nth_element(sortedL.begin(), sortedL.begin() + static_cast<std::ptrdiff_t>(keepA - 1),
                   sortedL.end(), std::greater<float>());
  const float thresholdL = sortedL[keepA - 1];
  std::size_t aboveL = 0;
  for (float sL : scoresA) aboveL += valueL(sL) > thresholdL ? 1 : 0;
  std::size_t equalsToKeepL = keepA - aboveL;
  for (std::size_t iL = 0; iL < countL; ++iL) {
    const float sL = valueL(scoresA[iL]);
    if (sL > thresholdL) continue;
    if (sL == thresholdL && equalsToKeepL > 0) {
      --equalsToKeepL;
      continue;
    }
    keptA[iL] = 0;
  }
}

}  // namespace qridy
