#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <mpi.h>

#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateMatcherMultipass.h>

#include "MpiShardExchange.h"

namespace qridy {
class IdRecordImp;
class ProbeDescriptor;
}  // namespace qridy

namespace qrshard {

// A gallery sharded over the ranks of an MPI communicator: every rank owns a multipass matcher
// over its shard. A person's records all live on the rank ownerOf(personId) (a stable hash of the
// person id), so fusion per identity stays within one rank. An identification sends the probe from
// the root (rank 0) to every rank, runs the pipeline on every shard with every pass counted and
// cut over the whole gallery, and merges the ranks' result lists on the root with the matcher's
// own sort: the merged list is the list one matcher over the whole gallery returns (same
// identities, scores and order; among equal scores the order is not defined, as in one matcher).
//
// Every method is collective over the communicator unless it says otherwise: all ranks call it,
// in the same order, on the thread that initialised MPI. Inputs (records, probes) are read on the
// root only; answers come back on the root. A failure on any rank makes the call fail on every
// rank with a kxxcp::Exception naming the rank ("rank 2: ..."); an identification never answers
// with part of the gallery.
//
// Gallery-normalised passes (useNormalization) score against the whole gallery's statistics and
// are refused by addMatchingPipeline.
class ShardedMatcher {
 public:
  explicit ShardedMatcher(MPI_Comm commA);
  ~ShardedMatcher();
  ShardedMatcher(const ShardedMatcher&) = delete;
  ShardedMatcher& operator=(const ShardedMatcher&) = delete;

  int rank() const { return exchangeM.rank(); }
  int size() const { return exchangeM.size(); }
  // Not collective: the rank that holds the records of personIdA among ranksA ranks.
  static int ownerOf(std::uint64_t personIdA, int ranksA);

  // Initialises every rank's matcher from storageIdA; each rank keeps its gallery files in its
  // own folder, shardFolder(folderA, rank) (created when missing); with recoverA every rank
  // recovers its shard from those files. A null folderA keeps the storage's folders (memory
  // galleries, or one process per storage).
  void init(const char* storageIdA, const char* folderA, bool recoverA);
  // Not collective: "<folder>/shard-<rank>of<ranks>".
  static std::string shardFolder(const std::string& folderA, int rankA, int ranksA);
  void addMatchingPipeline(const std::string& pipelineIdA);

  // Enrols the records (read on the root) on their owning ranks. Returns the number enrolled.
  std::size_t addIdRecords(const std::vector<const qridy::IdRecordImp*>& recordsA);
  // Not collective: enrols recordA on this rank when this rank owns it (for callers that hold the
  // same records on every rank); returns whether it was enrolled here.
  bool addIdRecordIfOwned(const qridy::IdRecordImp& recordA);
  // Removes all records of personIdA (given on the root) from its owning rank; true when any
  // were removed.
  bool destroyIdRecords(std::uint64_t personIdA);

  // Identifies probeA (read on the root, may be null elsewhere) with the optional descriptor
  // (its query, person list and transaction list are sent along). Returns the merged list on
  // the root, an empty list on the other ranks.
  qridy::ResultTreeList identify(const qridy::IdRecordImp* probeA,
                                 const qridy::ProbeDescriptor* descriptorA = nullptr);

  // Identity records over all ranks.
  std::uint64_t numberOfIdRecords();
  // Not collective: this rank's matcher.
  qrbase::TemplateMatcherMultipass& local() { return *matcherM; }

  // For the tests of failure handling: the next identification throws on rankA before its
  // passes (-1: none). Not collective.
  void failNextIdentificationOnRank(int rankA) { failRankM = rankA; }

 private:
  // Throws on every rank when any rank failed; statusesA in rank order.
  void raiseFailures(const std::vector<RankStatus>& statusesA, const char* whatA) const;
  // Collective: the statuses of all ranks for a step that ran locally.
  std::vector<RankStatus> gatherStatus(const RankStatus& mineA);
  std::string broadcast(const std::string& bytesA);

  MPI_Comm commM;
  MpiShardExchange exchangeM;
  std::unique_ptr<qrbase::TemplateMatcherMultipass> matcherM;
  std::deque<std::string> sidStoreM;  // the SIDs of the last merged list
  int failRankM = -1;
};

}  // namespace qrshard
