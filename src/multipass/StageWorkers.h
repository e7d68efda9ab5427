#pragma once

// The scoring workers of the stage identifiers and what surrounds them: the partition of a
// gallery over the engines, the two worker loops (with and without person mask), the final
// selection of the best K and the recording into the identity results.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <quarlen/ShardExchange.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateMatcherMultipass_Stage.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

namespace qridy {
class StageMatchEngine_Base;
}

namespace qrbase {
namespace stageworkers {

using Result = LocalFloatResult;

// The settings every worker of a pass shares.
struct PassSettings {
  std::uint32_t scoreIndex = 0;
  int instanceAlgorithmIndex = -1;
  unsigned int probeSlot = 0;
  std::uint32_t resultLengthMax = 0;
  unsigned int maxAlgorithmMatchCount = 0;
  std::uint32_t dataSize = 0;  // the slot size the engines read
};

// The settings of a pass of stageA for the probe slot. Throws (function functionA)
// "MatchConfigData without metadata container or stage." when the pipeline left them out.
PassSettings passSettings(const TemplateMatcherMultipass_Stage_Common& stageA,
                          const MatchConfigData& configA, unsigned int probeSlotA,
                          std::uint32_t dataSizeA, const char* functionA);

// One worker's share of a pass. The worker writes only its own record.
struct WorkerData {
  qridy::StageMatchEngine_Base* engine = nullptr;
  const GalleryEntry* first = nullptr;
  const GalleryEntry* end = nullptr;
  std::size_t count = 0;
  PassSettings settings;
  std::vector<Result> results;  // the kept candidates, in gallery order
  std::vector<float> buffer;    // the running-threshold buffer
  std::size_t compared = 0;
  bool stateChanged = false;
  // With candidatesOnly, scanMask visits these entries of the slice (in gallery order) instead
  // of the whole slice: the probe slot's candidates, when they are known to be the only
  // entries with a state.
  bool candidatesOnly = false;
  std::vector<const GalleryEntry*> candidates;

  // Forgets the results and counters of a previous probe.
  void reset();
};

// The running threshold of one worker: kept scores fill a buffer of capacity scores; when it is
// full the threshold rises to the median of the buffer and its best half stays. Kept candidates
// go to the worker's results.
class RunningThreshold {
 public:
  // The threshold starts at startA; a capacity below 2 never raises it.
  RunningThreshold(WorkerData& workerA, float startA, std::size_t capacityA);
  // The rule of the common workers: from the lowest float, min(2 x resultLengthMax, count).
  explicit RunningThreshold(WorkerData& workerA);
  float threshold() const { return thresholdM; }
  // Keeps a score above the threshold.
  void keep(float scoreA, const GalleryEntry* entryA);

 private:
  WorkerData& workerM;
  std::size_t capacityM = 0;
  std::size_t fillM = 0;
  float thresholdM;
};

// One worker per engine: worker i takes N / T consecutive entries, the last one also the
// remainder.
std::vector<WorkerData> partition(const GalleryEntryData& galleryA,
                                  const std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                                  const PassSettings& settingsA);

// Scans in gallery order ask the memory for the entry about 4 KB of read data ahead of the one
// they score, as much of it as the engine reads (galleryBytesRead): the slots lie too far apart
// for the processor's own prefetchers, which also stop at every page, to keep ahead of a scan.
class Prefetcher {
 public:
  Prefetcher(const qridy::StageMatchEngine_Base& engineA, unsigned int dataSizeA,
             const GalleryEntry* endA)
      : bytesM(engineA.galleryBytesRead(dataSizeA)), endM(endA) {
    constexpr std::size_t kAheadBytes = 4096;
    distanceM = std::clamp<std::size_t>(kAheadBytes / std::max(bytesM, 64u), 4, 32);
  }
  void ahead(const GalleryEntry* entryA) const {
    if (endM - entryA <= static_cast<std::ptrdiff_t>(distanceM)) return;
    const unsigned char* dataL = entryA[distanceM].data;
    for (unsigned int o = 0; o < bytesM; o += 64) __builtin_prefetch(dataL + o);
  }

 private:
  unsigned int bytesM;
  const GalleryEntry* endM;
  std::size_t distanceM;
};

// Scores the worker's slice with its engine (which holds the probe): a candidate is kept when
// its score is above the running threshold, which rises to the median of the last
// min(2 x resultLengthMax, count) kept scores whenever that many have been collected. NaN scores
// are never kept.
void scanNoMask(WorkerData& workerA);
// The same over the candidates of the probe slot only (entries whose identity's state is 0 are
// skipped): a labelled identity raises stateChanged, an identity holding a result gets the score
// at once, and an identity whose score is not kept is deselected.
void scanMask(WorkerData& workerA);
// Hands each worker the entries at positionsA (ascending positions in the gallery the workers
// were partitioned over) that fall into its slice; scanMask then visits those alone. It skips
// the entries without state all the same, so the pass is the one of the whole slice whenever
// every entry with a state is listed.
void restrictToCandidates(std::vector<WorkerData>& workersA, const GalleryEntryData& galleryA,
                          const std::vector<std::uint32_t>& positionsA);
// Whether the identifiers use restrictToCandidates when they can (default on; tests compare
// both ways).
void setCandidateWalk(bool onA);
bool candidateWalk();
// The number of passes restrictToCandidates has prepared in this process.
std::size_t candidateWalkPasses();
// Scores the whole slice and keeps every score that is not NaN (no running threshold); with
// useMaskA only the probe slot's candidates (state not 0). Nothing is recorded.
void scanAll(WorkerData& workerA, bool useMaskA);
// Runs every worker on a core thread pool of workersA.size() threads.
void runWorkers(std::vector<WorkerData>& workersA, bool useMaskA);
void runWorkers(std::vector<WorkerData>& workersA, void (*scanA)(WorkerData&, bool), bool useMaskA);

// Which of the results equal to the threshold score a cut keeps: the first in array order (one
// gallery), or those of the lowest person and transaction ids (a gallery sharded with a shard
// exchange, whose cut must not depend on how the records are spread over the shards).
enum class TieOrder { Array, Key };
// Flags (keepA, one per result) the best kA of the nA results: those above the threshold score
// and, of those equal to it, the first in tiesA's order. NaN scores are never kept. Returns the
// number kept.
std::size_t selectBest(const Result* resultsA, std::size_t nA, std::size_t kA,
                       std::vector<unsigned char>& keepA, TieOrder tiesA = TieOrder::Array);

// Records a selection: without a person mask (or with stateChangedA) every kept candidate's
// score is added to its identity result of the probe slot; with a person mask every identity
// none of whose results was kept is deselected for the probe slot.
void record(const std::vector<Result>& resultsA, const std::vector<unsigned char>& keepA,
            const PassSettings& settingsA, bool useMaskA, bool stateChangedA);

// The counts a pass sizes its cut with: this gallery's own, or with a shard exchange the sums
// over all shards, and then the shard's part of a cut of K.
struct PassCounts {
  std::size_t compared = 0;
  std::size_t identities = 0;
  std::size_t results = 0;
  std::size_t candidates = 0;
  std::optional<ShardPass> shard;
  // How many of the local candidates to keep for a cut of kA over the whole gallery.
  std::size_t share(std::size_t kA) const { return shard ? shard->localShare(kA) : kA; }
  // The order of the ties at that cut.
  TieOrder ties() const { return shard ? TieOrder::Key : TieOrder::Array; }
};

// Fills the counts from the local ones; with exchangeA set, exchanges them and the best boundA
// candidates of candidatesA with the other shards (one collective step per pass).
PassCounts passCounts(ShardExchange* exchangeA, std::size_t comparedA, std::size_t identitiesA,
                      std::size_t resultsA, const std::vector<Result>& candidatesA,
                      std::size_t boundA);

}  // namespace stageworkers
}  // namespace qrbase
