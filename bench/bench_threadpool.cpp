// Dispatch cost of the worker-thread pool: one DoThreadedWork round (every worker sums its slice
// of a shared array) against the plain alternative of starting and joining threads per call.
#include <benchmark/benchmark.h>
#include <qrlcore/COrvixThreadPool.h>

#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

namespace {

struct Work {
  std::vector<std::uint32_t> itemsM;
  std::vector<std::uint64_t> sumsM;
};

void sumSlice(Work& workA, unsigned indexA, unsigned countA) {
  const std::size_t perL = workA.itemsM.size() / countA;
  const auto beginL = workA.itemsM.begin() + static_cast<std::ptrdiff_t>(indexA * perL);
  const auto endL =
      indexA + 1 == countA ? workA.itemsM.end() : beginL + static_cast<std::ptrdiff_t>(perL);
  workA.sumsM[indexA] = std::accumulate(beginL, endL, std::uint64_t{0});
}

Work makeWork(unsigned threadsA, std::size_t itemsA) {
  Work workL;
  workL.itemsM.resize(itemsA);
  std::iota(workL.itemsM.begin(), workL.itemsM.end(), 0u);
  workL.sumsM.resize(threadsA);
  return workL;
}

void BM_PoolRound(benchmark::State& state) {
  const auto threadsL = static_cast<unsigned>(state.range(0));
  const auto itemsL = static_cast<std::size_t>(state.range(1));
  Work workL = makeWork(threadsL, itemsL);
  kxutl::COrvixThreadPool poolL(threadsL, &workL);
  for (auto _ : state) {
    poolL.DoThreadedWork([](kxutl::ThreadData& d) {
      sumSlice(*static_cast<Work*>(d.userPtrM), d.threadIndexM, d.numberOfThreadsM);
    });
    benchmark::DoNotOptimize(workL.sumsM.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * itemsL));
  state.counters["rounds/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Reference: a thread per worker and call, as a pool-less caller would do it.
void BM_ThreadsPerCall(benchmark::State& state) {
  const auto threadsL = static_cast<unsigned>(state.range(0));
  const auto itemsL = static_cast<std::size_t>(state.range(1));
  Work workL = makeWork(threadsL, itemsL);
  std::vector<std::thread> runningL;
  for (auto _ : state) {
    runningL.clear();
    for (unsigned i = 0; i < threadsL; ++i) {
      runningL.emplace_back([&workL, i, threadsL] { sumSlice(workL, i, threadsL); });
    }
    for (auto& t : runningL) t.join();
    benchmark::DoNotOptimize(workL.sumsM.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * itemsL));
  state.counters["rounds/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void arguments(benchmark::internal::Benchmark* b) {
  for (int threads : {1, 2, 4}) {
    for (int items : {1024, 262144}) b->Args({threads, items});
  }
  b->UseRealTime();
}

BENCHMARK(BM_PoolRound)->Apply(arguments);
BENCHMARK(BM_ThreadsPerCall)->Apply(arguments);

}  // namespace

BENCHMARK_MAIN();
