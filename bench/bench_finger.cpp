// Finger engines, single thread unless noted, through the engine interface as a stage calls it:
//   L2f/mates, L2f/impostors     l2f comparisons per second (the engine with its score mapping)
//                                beside the vendor matcher's raw comparison (Matcher/...);
//   Engine/l1v, l2v, fva, fva_old and Scalar/...: scans over 1 000 000 decorated blocks made by
//                                the finger decorator, with the dispatched and the scalar kernels,
//                                beside the raw kernel over the same bytes (Kernel/...);
//   Identification/l2f           rank-1 hit rate, false-match and false-non-match rates at the
//                                mapped threshold 4 (-log10 FAR) on a 10 000-finger gallery, two
//                                threads, one engine each.
// Synthetic impressions: rotation up to 20 degrees, shifts up to 30 pixels, 30 % of the minutiae
// missing and 20 % spurious ones.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/L2FMatcher.h>
#include <qrlfinger/SyntheticFinger.h>
#include <quarlen/IdRecordFingerDecorator.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlock_Common.h>

#include "engines/finger/StageMatchEngine_FP_FVA.h"
#include "engines/finger/StageMatchEngine_FP_FVA_old.h"
#include "engines/finger/StageMatchEngine_FP_L1V.h"
#include "engines/finger/StageMatchEngine_FP_L2V.h"
#include "engines/kernels/VectorKernels.h"

namespace {

using qridy::Algorithm;
using qridy::StageMatchEngine_Base;

constexpr std::size_t kBlocks = 1000000;
constexpr std::uint32_t kGalleryFingers = 10000;
constexpr std::uint32_t kProbes = 200;

qrfpt::ImpressionSettings impressionSettings() {
  qrfpt::ImpressionSettings settingsL;
  settingsL.maxRotationDegrees = 20.0;
  settingsL.maxShift = 30.0;
  settingsL.missingFraction = 0.3;
  settingsL.spuriousFraction = 0.2;
  return settingsL;
}

// The configuration of the run: the shipped mapping files and decorator layouts of ten fingers.
void configure(bool improvedFvaA) {
  const std::string sourceL = QUARLEN_SOURCE_DIR;
  const std::string pathL = "/tmp/bench_finger_" + std::to_string(::getpid()) + ".ini";
  std::ofstream(pathL)
      << "[TEMPLATE_MATCHING_MULTIPASS]\n"
      << "L2F_logFarScoreMappingFile = " << sourceL << "/data/scoremapping/l2f.txt\n"
      << "L2F360_logFarScoreMappingFile = " << sourceL << "/data/scoremapping/l2f360.txt\n"
      << "fvaImprovedMatching = " << (improvedFvaA ? "true" : "false") << "\n"
      << "l1vTol2vWeight = 0.5\n"
      << "[MATCHING_DECORATOR_DEFINITION]\n"
      << "l2v = fingerRightThumb,fingerRightIndex,fingerRightMiddle,fingerLeftThumb,"
         "fingerLeftIndex,fingerLeftMiddle\n"
      << "l1v = fingerRightThumb,fingerRightIndex,fingerRightMiddle,fingerRightRing,"
         "fingerLeftThumb,fingerLeftIndex,fingerLeftMiddle,fingerLeftRing\n"
      << "l1b = fingerRightThumb,fingerRightIndex,fingerRightMiddle,fingerRightRing,"
         "fingerLeftThumb,fingerLeftIndex,fingerLeftMiddle,fingerLeftRing\n"
      << "[MATCHING_DECORATOR_SIZE]\nl2v = 16\nl1v = 16\nl1b = 8\n";
  kxutl::QuarlenInformation::setConfigFile(pathL);
  (void)kxutl::QuarlenInformation::has("TEMPLATE_MATCHING_MULTIPASS", "");  // read now
  std::remove(pathL.c_str());
}

std::unique_ptr<StageMatchEngine_Base> create(Algorithm algorithmA) {
  return std::unique_ptr<StageMatchEngine_Base>(
      StageMatchEngine_Base::createStageEngine(algorithmA));
}

// --- l2f comparisons ---------------------------------------------------------------------------

struct FingerSet {
  std::vector<std::vector<std::uint8_t>> first, second;  // two impressions per finger
};
const FingerSet& fingers(std::uint32_t countA) {
  static FingerSet setS;
  if (setS.first.size() < countA) {
    qrfpt::SyntheticFingerGenerator generatorL(424242);
    const auto settingsL = impressionSettings();
    for (std::uint32_t f = static_cast<std::uint32_t>(setS.first.size()); f < countA; ++f) {
      setS.first.push_back(generatorL.impressionBytes(f, 1, settingsL));
      setS.second.push_back(generatorL.impressionBytes(f, 2, settingsL));
    }
  }
  return setS;
}

// One probe against 1000 others (impostors), or 1000 probes each against its mate.
void BM_L2f(benchmark::State& stateA, bool matesA) {
  configure(false);
  const FingerSet& setL = fingers(1001);
  auto engineL = create(qridy::AlgL2f);
  std::size_t comparisonsL = 0;
  for (auto _ : stateA) {
    if (matesA) {
      for (std::size_t f = 0; f < 1000; ++f) {
        const auto& pL = setL.second[f];
        engineL->setProbeForIdentification(pL.data(), static_cast<unsigned>(pL.size()));
        benchmark::DoNotOptimize(engineL->matchGallery(
            setL.first[f].data(), static_cast<unsigned>(setL.first[f].size())));
        engineL->releaseProbe();
      }
    } else {
      const auto& pL = setL.second[1000];
      engineL->setProbeForIdentification(pL.data(), static_cast<unsigned>(pL.size()));
      for (std::size_t f = 0; f < 1000; ++f) {
        benchmark::DoNotOptimize(engineL->matchGallery(
            setL.first[f].data(), static_cast<unsigned>(setL.first[f].size())));
      }
      engineL->releaseProbe();
    }
    comparisonsL += 1000;
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(comparisonsL));
}

// The vendor matcher alone (no engine, no mapping).
void BM_L2fMatcher(benchmark::State& stateA, bool matesA) {
  const FingerSet& setL = fingers(1001);
  L2F_7::CL2FMatcher matcherL;
  std::size_t comparisonsL = 0;
  for (auto _ : stateA) {
    for (std::size_t f = 0; f < 1000; ++f) {
      const auto& pL = setL.second[matesA ? f : 1000];
      float rawL = 0.0f;
      matcherL.MatchTemplates(pL.data(), pL.size(), setL.first[f].data(), setL.first[f].size(), 2,
                              &rawL, -1, 2550, nullptr, nullptr);
      benchmark::DoNotOptimize(rawL);
    }
    comparisonsL += 1000;
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(comparisonsL));
}

// --- decorated block scans ---------------------------------------------------------------------

// kBlocks decorated blocks of an algorithm in one buffer (stride: the block size), built by the
// decorator from 1000 synthetic records and repeated.
struct BlockGallery {
  std::vector<unsigned char> bytes;
  std::uint32_t size = 0;
  std::vector<unsigned char> probe;
};
const BlockGallery& blockGallery(Algorithm algorithmA) {
  static std::map<Algorithm, BlockGallery> galleriesS;
  BlockGallery& gL = galleriesS[algorithmA];
  if (!gL.bytes.empty()) return gL;
  std::mt19937 rngL(17);
  std::uniform_int_distribution<int> byteL(0, 255);
  std::vector<std::vector<unsigned char>> distinctL;
  for (int r = 0; r < 1001; ++r) {
    qridy::IdRecordImp recordL;
    for (qridy::Instance fingerL :
         {qridy::InstanceFingerRightThumb, qridy::InstanceFingerRightIndex,
          qridy::InstanceFingerRightMiddle, qridy::InstanceFingerRightRing,
          qridy::InstanceFingerLeftThumb, qridy::InstanceFingerLeftIndex,
          qridy::InstanceFingerLeftMiddle, qridy::InstanceFingerLeftRing}) {
      for (auto [a, size] :
           {std::pair{qridy::AlgL2v, 16u}, {qridy::AlgL1v, 16u}, {qridy::AlgL1b, 8u}}) {
        std::vector<unsigned char> partL(size);
        for (auto& b : partL) b = static_cast<unsigned char>(byteL(rngL));
        auto* blockL = new qridy::TemplateBlock_Common(a);
        blockL->setData(nullptr, 0, partL.data(), size, false);
        recordL.addTemplateBlock(blockL, qridy::ModalityFingerprint, fingerL, {0, 1});
      }
    }
    std::unique_ptr<qridy::TemplateBlockImp> decoratedL(
        qridy::IdRecordFingerDecorator::createDecoratedTemplateBlock(&recordL, algorithmA));
    distinctL.emplace_back(decoratedL->galleryDataPtr(),
                           decoratedL->galleryDataPtr() + decoratedL->gallerySize());
  }
  gL.probe = distinctL.back();
  gL.size = static_cast<std::uint32_t>(gL.probe.size());
  gL.bytes.resize(kBlocks * gL.size);
  for (std::size_t i = 0; i < kBlocks; ++i) {
    std::memcpy(&gL.bytes[i * gL.size], distinctL[i % 1000].data(), gL.size);
  }
  return gL;
}

void useKernels(StageMatchEngine_Base& engineA, const qridy::kernels::KernelSet& setA) {
  if (auto* e = dynamic_cast<qridy::StageMatchEngine_FP_L1V*>(&engineA)) e->useKernels(setA);
  if (auto* e = dynamic_cast<qridy::StageMatchEngine_FP_L2V*>(&engineA)) e->useKernels(setA);
  if (auto* e = dynamic_cast<qridy::StageMatchEngine_FP_FVA*>(&engineA)) e->useKernels(setA);
  if (auto* e = dynamic_cast<qridy::StageMatchEngine_FP_FVA_old*>(&engineA)) e->useKernels(setA);
}

void BM_Scan(benchmark::State& stateA, Algorithm algorithmA, bool improvedA, bool scalarA) {
  configure(improvedA);
  qridy::IdRecordFingerDecorator::forgetCachedDefinitions();
  const BlockGallery& gL = blockGallery(algorithmA);
  auto engineL = create(algorithmA);
  if (scalarA) useKernels(*engineL, qridy::kernels::kernelsFor(qridy::CpuFeatures::Scalar));
  engineL->setProbeForIdentification(gL.probe.data(), gL.size);
  for (auto _ : stateA) {
    float bestL = -1e30f;
    for (std::size_t i = 0; i < kBlocks; ++i) {
      bestL = std::max(bestL, engineL->matchGallery(&gL.bytes[i * gL.size], gL.size));
    }
    benchmark::DoNotOptimize(bestL);
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(stateA.iterations() * kBlocks));
  stateA.SetBytesProcessed(static_cast<std::int64_t>(stateA.iterations() * kBlocks * gL.size));
}

// The kernel the engine spends its time in, called directly over the same bytes: byte dot
// products from the feature offset for l1v/l2v, nibble dot products of both sections for fva.
void BM_Kernel(benchmark::State& stateA, Algorithm algorithmA) {
  configure(false);
  qridy::IdRecordFingerDecorator::forgetCachedDefinitions();
  const BlockGallery& gL = blockGallery(algorithmA);
  const auto& kL = qridy::kernels::activeKernels();
  const std::uint32_t offsetL =
      algorithmA == qridy::AlgL2v
          ? 16
          : (2 + qridy::IdRecordFingerDecorator::blobSize(qridy::AlgL1b) + 15) & ~15u;
  std::vector<unsigned char> probeL(gL.probe);
  probeL.resize((probeL.size() + 15) & ~std::size_t{15}, 0);
  const std::uint32_t blocksL = (gL.size - offsetL) / 16;
  for (auto _ : stateA) {
    std::int32_t bestL = INT32_MIN;
    for (std::size_t i = 0; i < kBlocks; ++i) {
      const unsigned char* galleryL = &gL.bytes[i * gL.size] + offsetL;
      const std::int32_t dL = algorithmA == qridy::AlgFva
                                  ? kL.nibbleDot(probeL.data() + offsetL, galleryL, blocksL)
                                  : kL.byteDot(probeL.data() + offsetL, galleryL, blocksL);
      bestL = std::max(bestL, dL);
    }
    benchmark::DoNotOptimize(bestL);
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(stateA.iterations() * kBlocks));
}

// --- identification on a synthetic gallery -----------------------------------------------------

void BM_Identification(benchmark::State& stateA) {
  configure(false);
  const FingerSet& setL = fingers(kGalleryFingers);
  constexpr float kThreshold = 4.0f;  // -log10 FAR
  std::size_t hitsL = 0, falseMatchesL = 0, impostorsL = 0, missesL = 0;
  for (auto _ : stateA) {
    hitsL = falseMatchesL = impostorsL = missesL = 0;
    constexpr int kThreads = 2;
    std::vector<std::thread> threadsL;
    std::vector<std::size_t> countsL(4 * kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
      threadsL.emplace_back([&, t] {
        auto engineL = create(qridy::AlgL2f);
        for (std::uint32_t p = t; p < kProbes; p += kThreads) {
          const auto& probeL = setL.second[p];
          engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
          float bestL = -1.0f;
          std::uint32_t bestIndexL = 0;
          for (std::uint32_t g = 0; g < kGalleryFingers; ++g) {
            const float sL = engineL->matchGallery(setL.first[g].data(),
                                                   static_cast<unsigned>(setL.first[g].size()));
            if (sL > bestL) bestL = sL, bestIndexL = g;
            if (g != p) {
              ++countsL[4 * t + 2];
              if (sL >= kThreshold) ++countsL[4 * t + 1];
            } else if (sL < kThreshold) {
              ++countsL[4 * t + 3];
            }
          }
          if (bestIndexL == p) ++countsL[4 * t];
          engineL->releaseProbe();
        }
      });
    }
    for (auto& th : threadsL) th.join();
    for (int t = 0; t < kThreads; ++t) {
      hitsL += countsL[4 * t], falseMatchesL += countsL[4 * t + 1];
      impostorsL += countsL[4 * t + 2], missesL += countsL[4 * t + 3];
    }
  }
  stateA.counters["rank1"] = static_cast<double>(hitsL) / kProbes;
  stateA.counters["FMR@4"] = static_cast<double>(falseMatchesL) / static_cast<double>(impostorsL);
  stateA.counters["FNMR@4"] = static_cast<double>(missesL) / kProbes;
  stateA.counters["impostors"] = static_cast<double>(impostorsL);
  stateA.SetItemsProcessed(static_cast<std::int64_t>(stateA.iterations()) * kProbes *
                           kGalleryFingers);
}

void registerAll() {
  benchmark::RegisterBenchmark("L2f/mates", BM_L2f, true)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("L2f/impostors", BM_L2f, false)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Matcher/mates", BM_L2fMatcher, true)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Matcher/impostors", BM_L2fMatcher, false)
      ->Unit(benchmark::kMillisecond);
  struct Row {
    const char* name;
    Algorithm algorithm;
    bool improved;
  };
  for (const Row& r : {Row{"l1v", qridy::AlgL1v, false}, Row{"l2v", qridy::AlgL2v, false},
                       Row{"fva", qridy::AlgFva, true}, Row{"fva_old", qridy::AlgFva, false}}) {
    benchmark::RegisterBenchmark((std::string("Engine/") + r.name).c_str(), BM_Scan, r.algorithm,
                                 r.improved, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Scalar/") + r.name).c_str(), BM_Scan, r.algorithm,
                                 r.improved, true)
        ->Unit(benchmark::kMillisecond);
  }
  for (const Row& r : {Row{"l1v", qridy::AlgL1v, false}, Row{"l2v", qridy::AlgL2v, false},
                       Row{"fva", qridy::AlgFva, false}}) {
    benchmark::RegisterBenchmark((std::string("Kernel/") + r.name).c_str(), BM_Kernel, r.algorithm)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Identification/l2f", BM_Identification)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
