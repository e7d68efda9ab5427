#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <mpi.h>

#include <quarlen/ShardExchange.h>

namespace qrshard {

// The outcome of one rank's part of an identification.
struct RankStatus {
  bool ok = true;
  std::string message;  // why it failed
};

// The shard exchange over an MPI communicator: one rank is one shard, shard index = rank.
//
// Every step is one round in which each rank contributes one message (an allgather), so ranks
// never wait in different collectives: a rank whose identification ended (finish) keeps taking
// part in the rounds of the others with a "done" message, and the others treat its pass as
// empty. finish returns once every rank is done, with every rank's status.
//
// One identification at a time; all calls on the thread that initialised MPI.
class MpiShardExchange : public qrbase::ShardExchange {
 public:
  explicit MpiShardExchange(MPI_Comm commA);

  int rank() const { return rankM; }
  int size() const { return sizeM; }

  // Collective: ends this rank's identification with statusA and returns all ranks' statuses in
  // rank order. Throws kxxcp::Exception when the ranks are out of step.
  std::vector<RankStatus> finish(const RankStatus& statusA);

  // The message bytes of a report / a status (exposed for the tests of the framing).
  static std::string encodePass(const qrbase::ShardPassReport& reportA);
  static std::string encodeDone(const RankStatus& statusA);

 protected:
  std::vector<qrbase::ShardPassReport> exchangeReports(
      const qrbase::ShardPassReport& mineA) override;
  std::size_t shardIndex() const override { return static_cast<std::size_t>(rankM); }

 private:
  // One round: every rank's message, in rank order.
  std::vector<std::string> round(const std::string& mineA);

  MPI_Comm commM;
  int rankM = 0;
  int sizeM = 1;
  std::vector<RankStatus> statusM;  // of the ranks that finished the current step
};

}  // namespace qrshard
