// One pass of identification over a large memory stage, beside the engine's raw scan of the same
// memory and the machine's read bandwidth, all in one run; for iris also the screening call
// alone, its AVX-512 path against the portable reference; the selection of the best K against
// std::nth_element; the per-probe cost of similarity-matrix whitening.
//
//   bench_stage --benchmark_filter=... (sizes fixed: 1 000 000 entries, K = 1000)

#include <benchmark/benchmark.h>

#include <algorithm>
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

// Reads every memory array of the stage on threadsA threads (each a share of every array).
void BM_ReadBandwidth(benchmark::State& stateA, Gallery& (*galleryA)()) {
  const Gallery& gL = galleryA();
  const auto threadsL = static_cast<unsigned>(stateA.range(0));
  std::size_t bytesL = 0;
  for (auto _ : stateA) {
    bytesL = 0;
    std::vector<std::thread> poolL;
    std::vector<std::uint64_t> sumsL(threadsL);
    const auto& arraysL = gL.stage->memoryArrays();
    std::size_t usedL = gL.stage->galleryVec().size();
    for (const auto& a : arraysL) {
      bytesL += std::min<std::size_t>(a.capacity, usedL) * gL.stage->dataSize();
      usedL -= std::min<std::size_t>(a.capacity, usedL);
    }
    for (unsigned t = 0; t < threadsL; ++t) {
      poolL.emplace_back([&, t] {
        std::size_t leftL = gL.stage->galleryVec().size();
        for (const auto& a : arraysL) {
          const std::size_t nL = std::min<std::size_t>(a.capacity, leftL);
          leftL -= nL;
          const std::size_t wordsL = nL * gL.stage->dataSize() / 8;
          const std::size_t shareL = wordsL / threadsL;
          sumsL[t] += streamingSum(reinterpret_cast<const std::uint64_t*>(a.data) + t * shareL,
                                   t + 1 == threadsL ? wordsL - t * shareL : shareL);
        }
      });
    }
    for (auto& p : poolL) p.join();
    benchmark::DoNotOptimize(sumsL.data());
  }
  stateA.SetBytesProcessed(static_cast<std::int64_t>(stateA.iterations() * bytesL));
}

// The engine alone over the same entries, keeping only the best score, with the look-ahead of
// the stage's workers.
void BM_RawScan(benchmark::State& stateA, Gallery& (*galleryA)()) {
  const Gallery& gL = galleryA();
  std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(gL.algorithm));
  eL->setProbeForIdentification(gL.probe.data(), static_cast<unsigned>(gL.probe.size()));
  const auto& entriesL = gL.stage->galleryVec();
  const unsigned sizeL = gL.stage->dataSize();
  for (auto _ : stateA) {
    float bestL = -1e30f;
    const GalleryEntry* endL = entriesL.data() + entriesL.size();
    const qrbase::stageworkers::Prefetcher prefetcherL(*eL, sizeL, endL);
    for (const GalleryEntry* e = entriesL.data(); e != endL; ++e) {
      prefetcherL.ahead(e);
      bestL = std::max(bestL, eL->matchGallery(e->data, sizeL));
    }
    benchmark::DoNotOptimize(bestL);
  }
  stateA.counters["comparisons/s"] = benchmark::Counter(
      static_cast<double>(stateA.iterations() * entriesL.size()), benchmark::Counter::kIsRate);
  stateA.SetBytesProcessed(
      static_cast<std::int64_t>(stateA.iterations() * entriesL.size() * sizeL));
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

// One pass of the common identifier with K = 1000 on range(0) workers.
void BM_Pass(benchmark::State& stateA, Gallery& (*galleryA)()) {
  Gallery& gL = galleryA();
  const auto workersL = static_cast<unsigned>(stateA.range(0));
  std::vector<StageMatchEngine_Base*> enginesL;
  for (unsigned i = 0; i < workersL; ++i) {
    enginesL.push_back(StageMatchEngine_Base::createStageEngine(gL.algorithm));
  }
  TemplateMatcherMultipass_Stage_Common stageL(gL.modality, gL.instance, gL.algorithm);
  qrbase::MultipassConfig::Matchmode modeL;
  modeL.modality = gL.modality;
  modeL.instance = gL.instance;
  modeL.algorithm = gL.algorithm;
  modeL.resultLengthMin = modeL.resultLengthMax = kK;
  MatchConfigData configL;
  configL.uniqueMetadataContainer = gL.umc.get();
  configL.matchmode = &modeL;
  std::unique_ptr<TemplateBlockImp> probeL(TemplateBlockImp::createTemplateBlock(gL.algorithm));
  probeL->setData(gL.probe.data(), static_cast<unsigned>(gL.probe.size()), gL.probe.data(),
                  static_cast<unsigned>(gL.probe.size()), false);
  std::vector<IdentityMetadata*> metadataL;
  for (auto _ : stateA) {
    float matchL = 0, normL = 0;
    stageL.identifyTemplate(probeL.get(), gL.stage->getGalleryEntries(), metadataL, 0, enginesL,
                            configL, matchL, normL);
    stateA.PauseTiming();
    gL.umc->resetResultContainer(0);
    stateA.ResumeTiming();
  }
  const std::size_t nL = gL.stage->galleryVec().size();
  stateA.counters["comparisons/s"] = benchmark::Counter(
      static_cast<double>(stateA.iterations() * nL), benchmark::Counter::kIsRate);
  stateA.SetBytesProcessed(
      static_cast<std::int64_t>(stateA.iterations() * nL * gL.stage->dataSize()));
  for (auto* e : enginesL) delete e;
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
BENCHMARK_CAPTURE(BM_Select, searchThreshold, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Select, nth_element, true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WhiteningPerProbe)->Iterations(5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
