#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>

namespace qrbase {

// One scored candidate of a pass as the shards compare them: by score (highest first), equal
// scores by person id, then transaction id (lowest first), the order in which a pass keeps
// candidates.
struct QUARLEN_EXPORT ShardCandidate {
  float score = 0.0f;
  std::uint64_t personId = 0;
  std::uint64_t transactionId = 0;
  // True when this candidate comes before otherA in that order.
  bool before(const ShardCandidate& otherA) const;
  bool operator==(const ShardCandidate& otherA) const {
    return score == otherA.score && personId == otherA.personId &&
           transactionId == otherA.transactionId;
  }
};

// What one shard of a gallery tells the other shards about one pass of an identification, so that
// every shard cuts the pass to the candidates a single matcher over the whole gallery would keep.
struct QUARLEN_EXPORT ShardPassReport {
  std::uint64_t compared = 0;    // gallery entries the pass compared on this shard
  std::uint64_t identities = 0;  // identity records of this shard's gallery
  std::uint64_t results = 0;     // identities holding a result for the probe slot (finger passes)
  std::uint64_t candidates = 0;  // scored candidates of the pass (best holds the top of them)
  bool failed = false;           // the pass failed on this shard: its candidates are missing
  std::vector<ShardCandidate> best;  // the best candidates in candidate order, no NaN score

  // Fills best with the first boundA of candidatesA in candidate order (NaN scores are never
  // kept, so they are left out), and candidates with the size of candidatesA.
  void setBest(std::vector<ShardCandidate> candidatesA, std::size_t boundA);
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

  // How many of this shard's candidates belong to the first kA of all shards together in
  // candidate order. A shard that keeps this many of its candidates in that order keeps its part
  // of the gallery's first kA, so the shards together keep what one matcher keeps.
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
