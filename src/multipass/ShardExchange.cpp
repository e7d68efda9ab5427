#include <quarlen/ShardExchange.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <utility>

namespace qrbase {

bool ShardCandidate::before(const ShardCandidate& otherA) const {
  if (score != otherA.score) return score > otherA.score;
  if (personId != otherA.personId) return personId < otherA.personId;
  return transactionId < otherA.transactionId;
}

void ShardPassReport::setBest(std::vector<ShardCandidate> candidatesA, std::size_t boundA) {
  candidates = candidatesA.size();
  candidatesA.erase(std::remove_if(candidatesA.begin(), candidatesA.end(),
                                   [](const ShardCandidate& cA) { return std::isnan(cA.score); }),
                    candidatesA.end());
  const std::size_t keepL = std::min(boundA, candidatesA.size());
  const auto orderL = [](const ShardCandidate& aA, const ShardCandidate& bA) {
    return aA.before(bA);
  };
  // (partial_sort needs a range to sort into.)
  if (keepL != 0) {
    std::partial_sort(candidatesA.begin(), candidatesA.begin() + static_cast<std::ptrdiff_t>(keepL),
                      candidatesA.end(), orderL);
  }
  candidatesA.resize(keepL);
  best = std::move(candidatesA);
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
  std::vector<ShardCandidate> allL;
  for (const ShardPassReport& rL : reportsM)
    allL.insert(allL.end(), rL.best.begin(), rL.best.end());
  const std::vector<ShardCandidate>& mineL = reportsM[selfM].best;
  // Every shard sends at least its first kA, so the union holds the gallery's first kA.
  if (allL.size() <= kA) return mineL.size();
  const auto orderL = [](const ShardCandidate& aA, const ShardCandidate& bA) {
    return aA.before(bA);
  };
  std::nth_element(allL.begin(), allL.begin() + static_cast<std::ptrdiff_t>(kA - 1), allL.end(),
                   orderL);
  const ShardCandidate lastL = allL[kA - 1];
  const auto beforeL = [&lastL](const std::vector<ShardCandidate>& vA) {
    return static_cast<std::size_t>(std::count_if(
        vA.begin(), vA.end(), [&lastL](const ShardCandidate& cA) { return cA.before(lastL); }));
  };
  // Candidates equal to the last one kept are entries of one identity, so of one shard.
  std::size_t missingL = kA;
  for (const ShardPassReport& rL : reportsM) missingL -= beforeL(rL.best);
  const std::size_t equalL =
      static_cast<std::size_t>(std::count(mineL.begin(), mineL.end(), lastL));
  return beforeL(mineL) + std::min(missingL, equalL);
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
