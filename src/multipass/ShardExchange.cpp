#include <quarlen/ShardExchange.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <utility>

namespace qrbase {

void ShardPassReport::setBest(std::vector<float> scoresA, std::size_t boundA) {
  candidates = scoresA.size();
  scoresA.erase(
      std::remove_if(scoresA.begin(), scoresA.end(), [](float sA) { return std::isnan(sA); }),
      scoresA.end());
  const std::size_t keepL = std::min(boundA, scoresA.size());
  std::partial_sort(scoresA.begin(), scoresA.begin() + static_cast<std::ptrdiff_t>(keepL),
                    scoresA.end(), std::greater<float>());
  scoresA.resize(keepL);
  best = std::move(scoresA);
}

ShardPass::ShardPass(std::vector<ShardPassReport> reportsA, std::size_t selfA)
    : reportsM(std::move(reportsA)), selfM(selfA) {
  for (const ShardPassReport& rL : reportsM) {
    comparedM += rL.compared;
    identitiesM += rL.identities;
    resultsM += rL.results;
    candidatesM += rL.candidates;
  }
}

std::size_t ShardPass::firstFailedShard() const {
  for (std::size_t i = 0; i < reportsM.size(); ++i) {
    if (reportsM[i].failed) return i;
  }
  return reportsM.size();
}

std::size_t ShardPass::localShare(std::size_t kA) const {
  if (selfM >= reportsM.size() || kA == 0) return 0;
  std::vector<float> allL;
  for (const ShardPassReport& rL : reportsM)
    allL.insert(allL.end(), rL.best.begin(), rL.best.end());
  const std::vector<float>& mineL = reportsM[selfM].best;
  // Every shard sends at least its best kA, so the union holds the gallery's best kA.
  if (allL.size() <= kA) return mineL.size();
  std::nth_element(allL.begin(), allL.begin() + static_cast<std::ptrdiff_t>(kA - 1), allL.end(),
                   std::greater<float>());
  const float thresholdL = allL[kA - 1];
  const auto aboveL = [thresholdL](const std::vector<float>& vA) {
    return static_cast<std::size_t>(
        std::count_if(vA.begin(), vA.end(), [thresholdL](float sA) { return sA > thresholdL; }));
  };
  const auto equalL = [thresholdL](const std::vector<float>& vA) {
    return static_cast<std::size_t>(std::count(vA.begin(), vA.end(), thresholdL));
  };
  std::size_t missingL = kA;
  for (const ShardPassReport& rL : reportsM) missingL -= aboveL(rL.best);
  for (std::size_t i = 0; i < selfM; ++i) missingL -= std::min(missingL, equalL(reportsM[i].best));
  return aboveL(mineL) + std::min(missingL, equalL(mineL));
}

ShardExchange::~ShardExchange() = default;

ShardPass ShardExchange::exchangePass(const ShardPassReport& mineA) {
  ++passesM;
  return ShardPass(exchangeReports(mineA), shardIndex());
}

std::vector<std::string> ShardExchange::takeFailures() {
  std::vector<std::string> outL;
  outL.swap(failuresM);
  return outL;
}

ShardPassGuard::ShardPassGuard(ShardExchange* exchangeA, std::uint64_t identitiesA,
                               std::string passA)
    : exchangeM(exchangeA),
      identitiesM(identitiesA),
      passesAtStartM(exchangeA != nullptr ? exchangeA->passes() : 0),
      exceptionsAtStartM(std::uncaught_exceptions()),
      passM(std::move(passA)) {}

ShardPassGuard::~ShardPassGuard() {
  if (exchangeM == nullptr) return;
  const bool failingL = std::uncaught_exceptions() > exceptionsAtStartM;
  try {
    if (exchangeM->passes() == passesAtStartM) {
      ShardPassReport reportL;
      reportL.identities = identitiesM;
      reportL.failed = failingL;
      exchangeM->exchangePass(reportL);
    }
    if (failingL) exchangeM->noteFailure("pass " + passM + " failed");
  } catch (...) {
    // The exchange reports its own breakdown with the identification; a destructor stays quiet.
  }
}

}  // namespace qrbase
