#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>

namespace qrbase {

// What one shard of a gallery tells the other shards about one pass of an identification, so that
// every shard cuts the pass to the candidates a single matcher over the whole gallery would keep.
struct QUARLEN_EXPORT ShardPassReport {
  std::uint64_t compared = 0;    // gallery entries the pass compared on this shard
  std::uint64_t identities = 0;  // identity records of this shard's gallery
  std::uint64_t results = 0;     // identities holding a result for the probe slot (finger passes)
  std::uint64_t candidates = 0;  // scored candidates of the pass (best holds the top of them)
  bool failed = false;           // the pass failed on this shard: its candidates are missing
  std::vector<float> best;       // the best candidate scores, highest first, no NaN

  // Fills best with the largest scores of scoresA, at most boundA of them, highest first (NaN
  // scores are never kept, so they are left out), and candidates with the size of scoresA.
  void setBest(std::vector<float> scoresA, std::size_t boundA);
};

// The reports of all shards for one pass, seen from one of them: the totals over the gallery and
// this shard's part of the gallery's best K.
class QUARLEN_EXPORT ShardPass {
 public:
  // reportsA holds one report per shard in shard order; selfA is this shard's index in it.
  ShardPass(std::vector<ShardPassReport> reportsA, std::size_t selfA);

  std::uint64_t compared() const { return comparedM; }
  std::uint64_t identities() const { return identitiesM; }
  std::uint64_t results() const { return resultsM; }
  std::uint64_t candidates() const { return candidatesM; }
  // The index of the first shard whose pass failed; the number of shards when none did.
  std::size_t firstFailedShard() const;

  // How many of this shard's candidates belong to the best kA of all shards together: every one
  // strictly above the kA-th best score, and of those equal to it as many as are still missing
  // after the shards of lower index took theirs. Keeping this many of the shard's best candidates
  // makes the union over the shards the gallery's best kA (which of several candidates with the
  // same score at the cut survive is a matter of order, as in one matcher).
  std::size_t localShare(std::size_t kA) const;

 private:
  std::vector<ShardPassReport> reportsM;
  std::size_t selfM = 0;
  std::uint64_t comparedM = 0, identitiesM = 0, resultsM = 0, candidatesM = 0;
};

// The link between the shards of a sharded gallery. Set on a matcher (setShardExchange), it makes
// every pass of an identification count and cut its candidates over all shards: each shard's
// pipeline calls exchangePass exactly once per pass it runs, in pass order, on the identifying
// thread (one identification at a time per matcher). A pass that ends early on a shard (no gallery
// for the triple, an error) still takes part, with an empty report.
//
// Implementations carry the reports between the shards (processes, machines); they must not throw
// out of exchangeReports when a pass fails locally (the report then says so).
class QUARLEN_EXPORT ShardExchange {
 public:
  virtual ~ShardExchange();

  // Collective: sends this shard's report of the pass and returns what all shards reported.
  ShardPass exchangePass(const ShardPassReport& mineA);
  // Passes exchanged so far (the pipeline tells a pass that took part from one that did not).
  std::uint64_t passes() const { return passesM; }

  // A local failure of a pass after its exchange (the shard's candidates may be incomplete), kept
  // until takeFailures; the shard layer reports it with the identification.
  void noteFailure(const std::string& messageA) { failuresM.push_back(messageA); }
  std::vector<std::string> takeFailures();

 protected:
  // One report per shard, in shard order, and this shard's index among them.
  virtual std::vector<ShardPassReport> exchangeReports(const ShardPassReport& mineA) = 0;
  virtual std::size_t shardIndex() const = 0;

 private:
  std::uint64_t passesM = 0;
  std::vector<std::string> failuresM;
};

// Held by a pipeline around one pass: when the pass leaves without having exchanged (nothing to
// score on this shard, or an error), the destructor takes part with an empty report, marked failed
// while an exception is leaving; an error after the exchange is noted as a failure. Does nothing
// without an exchange.
class QUARLEN_EXPORT ShardPassGuard {
 public:
  ShardPassGuard(ShardExchange* exchangeA, std::uint64_t identitiesA, std::string passA);
  ~ShardPassGuard();
  ShardPassGuard(const ShardPassGuard&) = delete;
  ShardPassGuard& operator=(const ShardPassGuard&) = delete;

 private:
  ShardExchange* exchangeM;
  std::uint64_t identitiesM;
  std::uint64_t passesAtStartM;
  int exceptionsAtStartM;
  std::string passM;
};

}  // namespace qrbase
