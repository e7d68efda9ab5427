// Identification on a face gallery sharded over the ranks of an MPI job, run once per rank count
// over the same gallery (scripts/bench-sharded runs 1, 2 and 4 ranks and prints the ratios):
//
//   mpirun -np N bench_sharded [--benchmark_...]
//
// The gallery: QUARLEN_BENCH_IDENTITIES identities (default 1 000 000) of the demo population
// (an hgmByte and an hgmFloat block of one 256-feature vector each), spread by person id; the
// pipeline: hgmByte keeps 1000, hgmFloat ranks them (100 returned). Every rank builds only its own
// shard, in memory. Reported on rank 0: latency per probe (median, 99th percentile) and probes per
// second of one probe at a time, the rank-1 hit rate, the largest shard and the resident memory of
// the largest rank after enrolment, and the enrolment rate of the whole job.
#include <benchmark/benchmark.h>

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ResultTreeList.h>

#include "DemoPopulation.h"
#include "ShardedMatcher.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kProbes = 40;

std::size_t identities() {
  const char* vL = std::getenv("QUARLEN_BENCH_IDENTITIES");
  return vL != nullptr ? std::max<std::size_t>(1000, std::strtoull(vL, nullptr, 10)) : 1000000;
}

int rankOf() {
  int rL = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rL);
  return rL;
}

// Memory-only face storage; every rank writes its own copy of the files.
void installConfig() {
  const auto dirL = std::filesystem::temp_directory_path() /
                    ("quarlen-bench-sharded-" + std::to_string(rankOf()));
  std::filesystem::create_directories(dirL);
  const std::string d = dirL.string();
  const std::string keepL = "resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\"";
  std::ofstream(d + "/storage.xml")
      << "<storages>\n <storage id=\"face\" reserveNumberOfTemplates=\"" << identities()
      << "\" folder=\"" << d << "/face\">\n"
      << "  <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\"/>\n"
      << "  <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>\n"
      << " </storage>\n</storages>\n";
  std::ofstream(d + "/pipelines.xml")
      << "<pipelines>\n <multipass id=\"face\">\n"
      << "  <stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\" "
         "filterScore=\"true\" globalWeight=\"1.0\" resultLengthMax=\"1000\" "
         "resultLengthMin=\"1000\" nThreads=\"2\" "
      << keepL << " useNormalization=\"false\" isRequired=\"true\"/>\n"
      << "  <stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\" "
         "filterScore=\"true\" globalWeight=\"1.0\" resultLengthMax=\"100\" "
         "resultLengthMin=\"100\" nThreads=\"2\" "
      << keepL << " useNormalization=\"false\" isRequired=\"true\"/>\n"
      << " </multipass>\n</pipelines>\n";
  std::ofstream(d + "/iris.map") << "0 0 1\n1 20 1\n";
  std::ofstream(d + "/quarlen.ini")
      << "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 1\n"
      << "TemplateStorageXml = " << d << "/storage.xml\nXmlFile = " << d << "/pipelines.xml\n"
      << "faceScoreMappingMode = noMapping\nmaxMemoryChunkSize = 16777216\n"
      << "[IRIS]\nscoreMappingFile = " << d << "/iris.map\n"
      << "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 86\nStringIdentifierData = 8\n";
  kxutl::QuarlenInformation::setConfigFile(d + "/quarlen.ini");
}

double residentGigabytes() {
  std::ifstream isL("/proc/self/status");
  std::string wordL;
  while (isL >> wordL) {
    if (wordL == "VmRSS:") {
      double kbL = 0;
      isL >> kbL;
      return kbL / (1024.0 * 1024.0);
    }
  }
  return 0.0;
}

double percentile(std::vector<double> vA, double qA) {
  std::sort(vA.begin(), vA.end());
  return vA.empty() ? 0.0 : vA[static_cast<std::size_t>(qA * static_cast<double>(vA.size() - 1))];
}

struct Setup {
  std::unique_ptr<qrshard::ShardedMatcher> matcher;
  std::vector<std::unique_ptr<qridy::IdRecordImp>> probes;  // on rank 0
  std::vector<std::uint64_t> mates;
  double enrolPerSecond = 0.0;
  double largestShard = 0.0;
  double residentGb = 0.0;
};

Setup& setup() {
  static Setup sS = [] {
    installConfig();
    Setup sL;
    const auto faceL = quarlen_cli::faceModality(0.7f);
    sL.matcher = std::make_unique<qrshard::ShardedMatcher>(MPI_COMM_WORLD);
    sL.matcher->init("face", nullptr, false);
    sL.matcher->addMatchingPipeline("face");
    const std::size_t nL = identities();
    MPI_Barrier(MPI_COMM_WORLD);
    const auto startL = Clock::now();
    const int ranksL = sL.matcher->size();
    for (std::uint64_t id = 0; id < nL; ++id) {
      if (qrshard::ShardedMatcher::ownerOf(id, ranksL) != sL.matcher->rank()) continue;
      sL.matcher->addIdRecordIfOwned(*faceL->enrolment(id));
    }
    MPI_Barrier(MPI_COMM_WORLD);
    sL.enrolPerSecond =
        static_cast<double>(nL) / std::chrono::duration<double>(Clock::now() - startL).count();
    double shardL = static_cast<double>(sL.matcher->local().numberOfIdRecords());
    double rssL = residentGigabytes();
    MPI_Allreduce(&shardL, &sL.largestShard, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    MPI_Allreduce(&rssL, &sL.residentGb, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    for (unsigned p = 0; p < kProbes; ++p) {
      const std::uint64_t mateL = (p * 2654435761ull) % nL;
      sL.mates.push_back(mateL);
      if (sL.matcher->rank() == 0) sL.probes.push_back(faceL->probe(mateL, 7000 + p));
    }
    return sL;
  }();
  return sS;
}

// One probe per iteration, every rank in step (a fixed iteration count on every rank).
void BM_ShardedIdentify(benchmark::State& stateA) {
  Setup& sL = setup();
  const bool rootL = sL.matcher->rank() == 0;
  std::vector<double> latenciesL;
  unsigned probeL = 0, hitsL = 0;
  for (auto _ : stateA) {
    const auto startL = Clock::now();
    const qridy::ResultTreeList listL =
        sL.matcher->identify(rootL ? sL.probes[probeL].get() : nullptr);
    latenciesL.push_back(std::chrono::duration<double>(Clock::now() - startL).count());
    if (rootL && listL.size() != 0 && listL[0].personId() == sL.mates[probeL]) ++hitsL;
    probeL = (probeL + 1) % kProbes;
  }
  stateA.counters["ranks"] = sL.matcher->size();
  stateA.counters["median_ms"] = 1e3 * percentile(latenciesL, 0.5);
  stateA.counters["p99_ms"] = 1e3 * percentile(latenciesL, 0.99);
  stateA.counters["probes_per_s"] =
      benchmark::Counter(static_cast<double>(latenciesL.size()), benchmark::Counter::kIsRate);
  stateA.counters["rank1"] = static_cast<double>(hitsL) / static_cast<double>(latenciesL.size());
  stateA.counters["largest_shard"] = sL.largestShard;
  stateA.counters["rss_gb_max_rank"] = sL.residentGb;
  stateA.counters["enrol_per_s"] = sL.enrolPerSecond;
}
BENCHMARK(BM_ShardedIdentify)->Iterations(kProbes)->UseRealTime()->Unit(benchmark::kMillisecond);

// Quiet on the ranks that do not report.
class NullReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  int providedL = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &providedL);
  // Only rank 0 reports: the other ranks drop the output file options as well.
  std::vector<char*> argsL(argv, argv + argc);
  if (rankOf() != 0) {
    argsL.erase(std::remove_if(argsL.begin() + 1, argsL.end(),
                               [](const char* aA) {
                                 return std::string(aA).rfind("--benchmark_out", 0) == 0;
                               }),
                argsL.end());
  }
  int countL = static_cast<int>(argsL.size());
  benchmark::Initialize(&countL, argsL.data());
  if (rankOf() == 0) {
    benchmark::RunSpecifiedBenchmarks();
  } else {
    NullReporter nullL;
    benchmark::RunSpecifiedBenchmarks(&nullL);
  }
  benchmark::Shutdown();
  MPI_Finalize();
  return 0;
}
