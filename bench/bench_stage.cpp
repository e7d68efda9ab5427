// One pass of identification over a large memory stage, beside the engine's raw scan of the same
// memory and the machine's read bandwidth, all in one run; for iris also the screening call
// alone, its AVX-512 path against the portable reference; the selection of the best K against
// std::nth_element; the per-probe cost of similarity-matrix whitening. BM_PassRatios gives the
// goals themselves: the pass against its references, timed in turn within one benchmark.
//
//   bench_stage --benchmark_filter=... (sizes fixed: 1 000 000 entries, K = 1000)

#include <benchmark/benchmark.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <qrliris/IrisScreen.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/Simmatwhitening.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "engines/iris/StageMatchEngine_Iris_Daugman_2010.h"
#include "multipass/StageWorkers.h"

namespace {

using namespace qridy;
using qrbase::GalleryEntry;
using qrbase::MatchConfigData;
using qrbase::TemplateMatcherMultipass_Stage_Common;
using qrbase::TemplateMatcherMultipass_Stage_MemManager;

constexpr std::size_t kEntries = 1000000;
constexpr unsigned kK = 1000;

std::string tempDir() {
  static const std::string dirS = [] {
    const auto pathL = std::filesystem::temp_directory_path() / "quarlen-bench-stage";
    std::filesystem::create_directories(pathL);
    return pathL.string();
  }();
  return dirS;
}

// Iris score mapping (read in every mode; faces unmapped) and two probe slots.
void installConfig() {
  static bool doneS = false;
  if (doneS) return;
  doneS = true;
  const std::string mapL = tempDir() + "/line.map";
  std::ofstream(mapL) << "-1 1 1\n1 3 1\n";
  const std::string iniL =
      "[TEMPLATE_MATCHING_MULTIPASS]\nfaceScoreMappingMode = noMapping\n"
      "maxNumberOfParallelProbes = 2\n[IRIS]\nscoreMappingFile = " +
      mapL + "\n";
  const std::string fileL = tempDir() + "/quarlen.ini";
  std::ofstream(fileL) << iniL;
  kxutl::QuarlenInformation::setConfigFile(fileL);
}

// A gallery of kEntries random templates of one triple with its registry.
struct Gallery {
  std::unique_ptr<UniqueMetadataContainer> umc;
  std::unique_ptr<TemplateMatcherMultipass_Stage_MemManager> stage;
  std::vector<unsigned char> probe;
  Modality modality;
  Instance instance;
  Algorithm algorithm;

  Gallery(Modality modalityA, Instance instanceA, Algorithm algorithmA, unsigned bytesA)
      : modality(modalityA), instance(instanceA), algorithm(algorithmA) {
    installConfig();
    umc = std::make_unique<UniqueMetadataContainer>(modalityA);
    umc->initAddNewTripple(modalityA, instanceA, algorithmA, 0);
    stage = std::make_unique<TemplateMatcherMultipass_Stage_MemManager>(
        modalityA, instanceA, algorithmA, static_cast<unsigned>(kEntries));
    std::mt19937_64 rngL(9);
    std::vector<unsigned char> dataL(bytesA);
    const auto fill = [&](std::vector<unsigned char>& vA) {
      if (algorithmA == AlgHgmFloat) {
        std::normal_distribution<float> nL;
        for (std::size_t i = 0; i + 4 <= vA.size(); i += 4) {
          const float fL = nL(rngL) / 16.0f;
          std::memcpy(vA.data() + i, &fL, 4);
        }
      } else {
        // Iris words: 32 random code bits under a mask that hides about an eighth of them (as
        // eyelids and reflections do); with half of the bits hidden, many more rotations of an
        // impostor would pass the first words' tests than with real codes.
        for (std::size_t i = 0; i + 8 <= vA.size(); i += 8) {
          const std::uint64_t hiddenL = rngL() & rngL() & rngL() & 0xFFFFFFFFull;
          const std::uint64_t wordL = (rngL() & 0xFFFFFFFFull) | ((~hiddenL & 0xFFFFFFFFull) << 32);
          std::memcpy(vA.data() + i, &wordL, 8);
        }
      }
    };
    probe.resize(bytesA);
    fill(probe);
    std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmA));
    for (std::size_t i = 0; i < kEntries; ++i) {
      fill(dataL);
      blockL->setData(dataL.data(), bytesA, dataL.data(), bytesA, false);
      IdentityMetadata* mL = umc->addIdRecordKey(IdRecordKey(i, i), nullptr, nullptr, 0, false);
      stage->add(blockL.get(), mL, KXuint128{0, i});
    }
  }
};

Gallery& hgmFloatGallery() {
  static Gallery gS(ModalityFace, InstanceFaceFrontal, AlgHgmFloat, 1024);
  return gS;
}
Gallery& irisGallery() {
  static Gallery gS(ModalityIris, InstanceIrisLeft, AlgDaugman2010, 256);
  return gS;
}

std::uint64_t streamingSum(const std::uint64_t* pA, std::size_t wordsA) {
  std::uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  for (std::size_t i = 0; i + 4 <= wordsA; i += 4) {
    s0 += pA[i];
    s1 += pA[i + 1];
    s2 += pA[i + 2];
    s3 += pA[i + 3];
  }
  return s0 + s1 + s2 + s3;
}

// Reads every memory array of the stage on threadsA threads (each a share of every array);
// returns the bytes read.
std::size_t readOnce(const Gallery& gA, unsigned threadsA) {
  std::size_t bytesL = 0;
  std::vector<std::thread> poolL;
  std::vector<std::uint64_t> sumsL(threadsA);
  const auto& arraysL = gA.stage->memoryArrays();
  std::size_t usedL = gA.stage->galleryVec().size();
  for (const auto& a : arraysL) {
    bytesL += std::min<std::size_t>(a.capacity, usedL) * gA.stage->dataSize();
    usedL -= std::min<std::size_t>(a.capacity, usedL);
  }
  for (unsigned t = 0; t < threadsA; ++t) {
    poolL.emplace_back([&, t] {
      std::size_t leftL = gA.stage->galleryVec().size();
      for (const auto& a : arraysL) {
        const std::size_t nL = std::min<std::size_t>(a.capacity, leftL);
        leftL -= nL;
        const std::size_t wordsL = nL * gA.stage->dataSize() / 8;
        const std::size_t shareL = wordsL / threadsA;
        sumsL[t] += streamingSum(reinterpret_cast<const std::uint64_t*>(a.data) + t * shareL,
                                 t + 1 == threadsA ? wordsL - t * shareL : shareL);
      }
    });
  }
  for (auto& p : poolL) p.join();
  benchmark::DoNotOptimize(sumsL.data());
  return bytesL;
}

void BM_ReadBandwidth(benchmark::State& stateA, Gallery& (*galleryA)()) {
  const Gallery& gL = galleryA();
  const auto threadsL = static_cast<unsigned>(stateA.range(0));
  std::size_t bytesL = 0;
  for (auto _ : stateA) bytesL = readOnce(gL, threadsL);
  stateA.SetBytesProcessed(static_cast<std::int64_t>(stateA.iterations() * bytesL));
}

// The engine alone over the same entries, keeping only the best score, with the look-ahead of
// the stage's workers.
struct RawScan {
  const Gallery& g;
  std::vector<std::unique_ptr<StageMatchEngine_Base>> engines;

  // With an engine for each of threadsA threads.
  explicit RawScan(const Gallery& gA, unsigned threadsA = 1) : g(gA) {
    for (unsigned i = 0; i < threadsA; ++i) {
      engines.emplace_back(StageMatchEngine_Base::createStageEngine(gA.algorithm));
      engines.back()->setProbeForIdentification(gA.probe.data(),
                                                static_cast<unsigned>(gA.probe.size()));
    }
  }
  // Scans share partA of partsA with engine partA.
  void scan(unsigned partA, unsigned partsA) const {
    StageMatchEngine_Base& engineL = *engines[partA];
    const auto& entriesL = g.stage->galleryVec();
    const unsigned sizeL = g.stage->dataSize();
    const std::size_t shareL = entriesL.size() / partsA;
    const GalleryEntry* firstL = entriesL.data() + partA * shareL;
    const GalleryEntry* endL =
        partA + 1 == partsA ? entriesL.data() + entriesL.size() : firstL + shareL;
    float bestL = -1e30f;
    const qrbase::stageworkers::Prefetcher prefetcherL(engineL, sizeL, endL);
    for (const GalleryEntry* e = firstL; e != endL; ++e) {
      prefetcherL.ahead(e);
      bestL = std::max(bestL, engineL.matchGallery(e->data, sizeL));
    }
    benchmark::DoNotOptimize(bestL);
  }
  // The whole gallery: on the calling thread with one engine, else a thread per engine.
  void run() const {
    const auto partsL = static_cast<unsigned>(engines.size());
    if (partsL == 1) return scan(0, 1);
    std::vector<std::thread> threadsL;
    for (unsigned i = 0; i < partsL; ++i)
      threadsL.emplace_back([this, i, partsL] { scan(i, partsL); });
    for (auto& t : threadsL) t.join();
  }
};

void BM_RawScan(benchmark::State& stateA, Gallery& (*galleryA)()) {
  const Gallery& gL = galleryA();
  const RawScan scanL(gL);
  for (auto _ : stateA) scanL.run();
  const std::size_t nL = gL.stage->galleryVec().size();
  stateA.counters["comparisons/s"] = benchmark::Counter(
      static_cast<double>(stateA.iterations() * nL), benchmark::Counter::kIsRate);
  stateA.SetBytesProcessed(
      static_cast<std::int64_t>(stateA.iterations() * nL * gL.stage->dataSize()));
}

// The screening call of one processor path alone over the same entries (the first 16 bytes of
// each), for the engine's head table of k = 3: the SIMD paths against the portable reference.
void BM_Screen(benchmark::State& stateA, kxegm::irisscreen::Path pathA) {
  const QrlIrisScreenFn screenL = kxegm::irisscreen::function(pathA);
  if (screenL == nullptr) {
    stateA.SkipWithError("path not supported here");
    return;
  }
  const Gallery& gL = irisGallery();
  qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT engineL;
  engineL.setProbeForIdentification(gL.probe.data(), static_cast<unsigned>(gL.probe.size()));
  std::vector<QrlIrisHeadEntry> headL(engineL.headTable(),
                                      engineL.headTable() + engineL.rowCount());
  const auto& entriesL = gL.stage->galleryVec();
  for (auto _ : stateA) {
    std::uint32_t passedL = 0;
    const GalleryEntry* endL = entriesL.data() + entriesL.size();
    const qrbase::stageworkers::Prefetcher prefetcherL(engineL, gL.stage->dataSize(), endL);
    for (const GalleryEntry* e = entriesL.data(); e != endL; ++e) {
      prefetcherL.ahead(e);
      passedL += screenL(e->data, headL.data(), static_cast<std::uint32_t>(headL.size())) != 0;
    }
    benchmark::DoNotOptimize(passedL);
  }
  stateA.counters["comparisons/s"] = benchmark::Counter(
      static_cast<double>(stateA.iterations() * entriesL.size()), benchmark::Counter::kIsRate);
  stateA.SetLabel(kxegm::irisscreen::pathName(pathA));
}

// One pass of the common identifier with K = 1000 on a number of workers.
struct Pass {
  Gallery& g;
  std::vector<std::unique_ptr<StageMatchEngine_Base>> engines;
  std::vector<StageMatchEngine_Base*> enginePointers;
  TemplateMatcherMultipass_Stage_Common stage;
  qrbase::MultipassConfig::Matchmode mode;
  MatchConfigData config;
  std::unique_ptr<TemplateBlockImp> probe;

  Pass(Gallery& gA, unsigned workersA)
      : g(gA),
        stage(gA.modality, gA.instance, gA.algorithm),
        probe(TemplateBlockImp::createTemplateBlock(gA.algorithm)) {
    for (unsigned i = 0; i < workersA; ++i) {
      engines.emplace_back(StageMatchEngine_Base::createStageEngine(gA.algorithm));
      enginePointers.push_back(engines.back().get());
    }
    mode.modality = gA.modality;
    mode.instance = gA.instance;
    mode.algorithm = gA.algorithm;
    mode.resultLengthMin = mode.resultLengthMax = kK;
    config.uniqueMetadataContainer = gA.umc.get();
    config.matchmode = &mode;
    const auto sizeL = static_cast<unsigned>(gA.probe.size());
    probe->setData(gA.probe.data(), sizeL, gA.probe.data(), sizeL, false);
  }
  void run() {
    std::vector<IdentityMetadata*> metadataL;
    float matchL = 0, normL = 0;
    stage.identifyTemplate(probe.get(), g.stage->getGalleryEntries(), metadataL, 0, enginePointers,
                           config, matchL, normL);
  }
  // Forgets the pass's results (not part of a pass's time).
  void reset() { g.umc->resetResultContainer(0); }
};

void BM_Pass(benchmark::State& stateA, Gallery& (*galleryA)()) {
  Gallery& gL = galleryA();
  Pass passL(gL, static_cast<unsigned>(stateA.range(0)));
  for (auto _ : stateA) {
    passL.run();
    stateA.PauseTiming();
    passL.reset();
    stateA.ResumeTiming();
  }
  const std::size_t nL = gL.stage->galleryVec().size();
  stateA.counters["comparisons/s"] = benchmark::Counter(
      static_cast<double>(stateA.iterations() * nL), benchmark::Counter::kIsRate);
  stateA.SetBytesProcessed(
      static_cast<std::int64_t>(stateA.iterations() * nL * gL.stage->dataSize()));
}

// Runs fA with the calling thread (and the threads it starts) on one processor: the
// processors of a shared virtual machine do not run at the same speed, so that a one-thread
// comparison between two threads would measure the processors as much as the code.
void onOneProcessor(const std::function<void()>& fA) {
  cpu_set_t allL;
  CPU_ZERO(&allL);
  if (sched_getaffinity(0, sizeof(allL), &allL) != 0) return fA();
  cpu_set_t oneL;
  CPU_ZERO(&oneL);
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &allL)) {
      CPU_SET(c, &oneL);
      break;
    }
  }
  sched_setaffinity(0, sizeof(oneL), &oneL);
  fA();
  sched_setaffinity(0, sizeof(allL), &allL);
}

// The goals as ratios, each pair timed in turn over the rounds (medians of the rounds), so that
// the machine's changing load and bandwidth fall on both alike: the pass with one worker against
// the raw scan, both on the same processor; with two workers against the two-thread read loop.
// Also the raw scan on two threads (an engine each), the most two workers can do.
void BM_PassRatios(benchmark::State& stateA, Gallery& (*galleryA)()) {
  Gallery& gL = galleryA();
  const RawScan rawL(gL), raw2L(gL, 2);
  Pass oneL(gL, 1), twoL(gL, 2);
  const auto seconds = [](const std::function<void()>& fA) {
    const auto startL = std::chrono::steady_clock::now();
    fA();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startL).count();
  };
  std::vector<double> rawS, oneS, readS, raw2S, twoS;
  for (auto _ : stateA) {
    onOneProcessor([&] {
      rawS.push_back(seconds([&] { rawL.run(); }));
      oneS.push_back(seconds([&] { oneL.run(); }));
    });
    oneL.reset();
    readS.push_back(seconds([&] { readOnce(gL, 2); }));
    raw2S.push_back(seconds([&] { raw2L.run(); }));
    twoS.push_back(seconds([&] { twoL.run(); }));
    twoL.reset();
  }
  const auto median = [](std::vector<double> vA) {
    std::nth_element(vA.begin(), vA.begin() + vA.size() / 2, vA.end());
    return vA[vA.size() / 2];
  };
  const double nL = static_cast<double>(gL.stage->galleryVec().size());
  const double bytesL = nL * gL.stage->dataSize();
  stateA.counters["raw M/s"] = nL / median(rawS) / 1e6;
  stateA.counters["pass1 M/s"] = nL / median(oneS) / 1e6;
  stateA.counters["pass1/raw"] = median(rawS) / median(oneS);
  stateA.counters["read2 GB/s"] = bytesL / median(readS) / 1e9;
  stateA.counters["raw2 GB/s"] = bytesL / median(raw2S) / 1e9;
  stateA.counters["pass2 GB/s"] = bytesL / median(twoS) / 1e9;
  stateA.counters["pass2/read2"] = median(readS) / median(twoS);
}

// The best K = 1000 of 100 000 scores with many ties: the stage's selection and nth_element.
void BM_Select(benchmark::State& stateA, bool nthElementA) {
  std::mt19937 rngL(4);
  std::uniform_int_distribution<int> dL(0, 20000);
  std::vector<qrbase::NormalisationResult> baseL(100000);
  for (auto& r : baseL) r.score = static_cast<float>(dL(rngL)) * 1e-4f;
  std::vector<qrbase::NormalisationResult> workL;
  for (auto _ : stateA) {
    workL = baseL;
    if (nthElementA) {
      std::nth_element(workL.begin(), workL.begin() + (kK - 1), workL.end(),
                       [](const auto& aA, const auto& bA) { return aA.score > bA.score; });
      benchmark::DoNotOptimize(workL[kK - 1].score);
    } else {
      float tL = 0;
      std::size_t eL = 0, aL = 0;
      TemplateMatcherMultipass_Stage_Common::searchThreshold(workL.data(), workL.size(), kK, tL, eL,
                                                             aL);
      benchmark::DoNotOptimize(tL);
    }
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(stateA.iterations() * baseL.size()));
}

// The whitening of one probe with R = 100 references chosen from 1000 (hgmFloat, 256 floats):
// reference scores, the 100 x 100 similarity matrix, the eigen-decomposition, the modified probe.
void BM_WhiteningPerProbe(benchmark::State& stateA) {
  installConfig();
  constexpr unsigned kR = 100, kN = 1000, kBytes = 1024;
  const std::string fileL = tempDir() + "/refs.bin";
  std::mt19937 rngL(8);
  std::normal_distribution<float> nL;
  {
    std::ofstream osL(fileL, std::ios::binary);
    std::vector<float> vL(kBytes / 4);
    for (unsigned i = 0; i < kN; ++i) {
      for (float& x : vL) x = nL(rngL) / 16.0f;
      IdRecordImp recordL;
      recordL.setPersonId(i + 1);
      TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(AlgHgmFloat);
      const auto* bL = reinterpret_cast<const unsigned char*>(vL.data());
      blockL->setData(bL, kBytes, bL, kBytes, false);
      recordL.addTemplateBlock(blockL, ModalityFace, InstanceFaceFrontal, KXuint128{0, i});
      recordL.write(osL);
    }
  }
  std::vector<StageMatchEngine_Base*> enginesL{
      StageMatchEngine_Base::createStageEngine(AlgHgmFloat)};
  Simmatwhitening smwL(kR, kR, fileL, kN, AlgHgmFloat, enginesL);
  std::vector<float> probeL(kBytes / 4);
  for (float& x : probeL) x = nL(rngL) / 16.0f;
  for (auto _ : stateA) {
    unsigned lengthL = 0;
    std::unique_ptr<float[]> tL(smwL.createSmwOnRefTransformedFeatureVec(
        reinterpret_cast<const unsigned char*>(probeL.data()), kBytes, enginesL, lengthL));
    benchmark::DoNotOptimize(tL.get());
  }
  delete enginesL[0];
}

}  // namespace

BENCHMARK_CAPTURE(BM_ReadBandwidth, hgmFloat, hgmFloatGallery)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RawScan, hgmFloat, hgmFloatGallery)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pass, hgmFloat, hgmFloatGallery)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadBandwidth, daugman2010, irisGallery)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RawScan, daugman2010, irisGallery)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Screen, daugman2010_portable, kxegm::irisscreen::Path::Portable)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Screen, daugman2010_avx512, kxegm::irisscreen::Path::Avx512)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pass, daugman2010, irisGallery)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PassRatios, hgmFloat, hgmFloatGallery)
    ->Iterations(9)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PassRatios, daugman2010, irisGallery)
    ->Iterations(9)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Select, searchThreshold, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Select, nth_element, true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WhiteningPerProbe)->Iterations(5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
