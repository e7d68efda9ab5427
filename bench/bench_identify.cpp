// End-to-end identification through the multipass matcher on large galleries.
//
//   face: 1 000 000 identities with an hgmByte block (256 bytes) and an hgmFloat block (256
//         floats); a two-pass pipeline: hgmByte keeps 1000, hgmFloat ranks them (100 returned);
//   faceBits: the same with hgm bits (the 256 signs, 32 bytes) in place of hgmByte;
//   iris: 1 000 000 daugman2010 codes, one pass keeping 100.
//
// Reported beside each other in one run: latency per probe (median and 99th percentile) on one
// probe slot; throughput with 1, 2 and 4 probe slots identifying at once; the first pass's
// comparisons per second (from the slot's performance records) against a raw scan of the same
// memory by the engines on as many threads; and the rank-1 of the two-pass pipeline against a
// brute-force hgmFloat search of the whole gallery.
//
// QUARLEN_BENCH_IDENTITIES overrides the gallery size (default 1 000 000).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>
#include <qrlface/GaborJets.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass.h>
#include <quarlen/TemplateMatcherMultipass_Stage.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>

#include "multipass/StageWorkers.h"

namespace {

using namespace qridy;
using qrbase::TemplateMatcherMultipass;
using Clock = std::chrono::steady_clock;

constexpr unsigned kDim = 256;
constexpr unsigned kIrisBytes = 256;
constexpr unsigned kProbes = 40;  // per measurement

std::size_t identities() {
  const char* vL = std::getenv("QUARLEN_BENCH_IDENTITIES");
  return vL != nullptr ? std::max<std::size_t>(1000, std::strtoull(vL, nullptr, 10)) : 1000000;
}

std::string stageXml(const char* algorithmA, const char* modalityA, const char* instanceA,
                     unsigned keepA) {
  const std::string kL = std::to_string(keepA);
  return std::string("  <stage modality=\"") + modalityA + "\" instance=\"" + instanceA +
         "\" algorithm=\"" + algorithmA +
         "\" filterScore=\"true\" globalWeight=\"1.0\" resultLengthMax=\"" + kL +
         "\" resultLengthMin=\"" + kL +
         "\" nThreads=\"2\" resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\" "
         "useNormalization=\"false\" isRequired=\"true\"/>\n";
}

// A configuration of memory-only galleries: nothing is written to disk.
void installConfig() {
  static bool doneS = false;
  if (doneS) return;
  doneS = true;
  const auto dirL = std::filesystem::temp_directory_path() / "quarlen-bench-identify";
  std::filesystem::create_directories(dirL);
  const std::string d = dirL.string();
  const std::size_t nL = identities();
  std::ofstream(d + "/storage.xml")
      << "<storages>\n <storage id=\"face\" reserveNumberOfTemplates=\"" << nL << "\" folder=\""
      << d << "/face\">\n"
      << "  <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\"/>\n"
      << "  <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>\n"
      << " </storage>\n <storage id=\"faceBits\" reserveNumberOfTemplates=\"" << nL
      << "\" folder=\"" << d << "/faceBits\">\n"
      << "  <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgm\"/>\n"
      << "  <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>\n"
      << " </storage>\n <storage id=\"iris\" reserveNumberOfTemplates=\"" << nL << "\" folder=\""
      << d << "/iris\">\n"
      << "  <memory modality=\"iris\" instance=\"irisLeft\" algorithm=\"daugman2010\"/>\n"
      << " </storage>\n</storages>\n";
  std::ofstream(d + "/pipelines.xml")
      << "<pipelines>\n <multipass id=\"face\">\n"
      << stageXml("hgmByte", "face", "faceFrontal", 1000)
      << stageXml("hgmFloat", "face", "faceFrontal", 100) << " </multipass>\n"
      << " <multipass id=\"faceBits\">\n"
      << stageXml("hgm", "face", "faceFrontal", 1000)
      << stageXml("hgmFloat", "face", "faceFrontal", 100) << " </multipass>\n"
      << " <multipass id=\"iris\">\n"
      << stageXml("daugman2010", "iris", "irisLeft", 100) << " </multipass>\n</pipelines>\n";
  std::ofstream(d + "/iris.map") << "0 0 1\n1 20 1\n";
  std::ofstream(d + "/quarlen.ini")
      << "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 4\n"
      << "TemplateStorageXml = " << d << "/storage.xml\nXmlFile = " << d << "/pipelines.xml\n"
      << "faceScoreMappingMode = noMapping\nmaxMemoryChunkSize = 16777216\n"
      << "[IRIS]\nscoreMappingFile = " << d << "/iris.map\n"
      << "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 86\nStringIdentifierData = 8\n";
  kxutl::QuarlenInformation::setConfigFile(d + "/quarlen.ini");
}

std::vector<float> unitVector(std::mt19937_64& rngA) {
  std::normal_distribution<float> nL;
  std::vector<float> vL(kDim);
  double sL = 0;
  for (float& x : vL) {
    x = nL(rngA);
    sL += static_cast<double>(x) * x;
  }
  const float fL = static_cast<float>(1.0 / std::sqrt(sL));
  for (float& x : vL) x *= fL;
  return vL;
}

std::vector<float> faceOf(std::uint64_t idA) {
  std::mt19937_64 rngL(idA * 7919 + 1);
  return unitVector(rngL);
}

// A sample of identity idA: its vector plus noise of relative strength 0.7.
std::vector<float> faceSample(std::uint64_t idA, std::uint64_t seedA) {
  std::vector<float> vL = faceOf(idA);
  std::mt19937_64 rngL(seedA * 104729 + 5);
  const std::vector<float> nL = unitVector(rngL);
  for (unsigned d = 0; d < kDim; ++d) vL[d] += 0.7f * nL[d];
  return vL;
}

void addBlock(IdRecordImp& recordA, Algorithm algorithmA, const void* dataA, unsigned sizeA,
              std::uint64_t sampleA) {
  std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(algorithmA));
  const auto* pL = static_cast<const unsigned char*>(dataA);
  bL->setData(pL, sizeA, pL, sizeA, false);
  recordA.addTemplateBlock(bL.release(), ModalityFace, InstanceFaceFrontal, {0, sampleA});
}

// The hgmFloat block and the first pass's block (hgmByte or hgm bits) of a face vector.
void addFaceBlocks(IdRecordImp& recordA, const std::vector<float>& vA, std::uint64_t sampleA,
                   Algorithm firstA) {
  addBlock(recordA, AlgHgmFloat, vA.data(), kDim * 4, sampleA);
  if (firstA == AlgHgm) {
    const std::vector<unsigned char> bitsL = kxegm::bitJets(vA);
    addBlock(recordA, AlgHgm, bitsL.data(), static_cast<unsigned>(bitsL.size()), sampleA);
    return;
  }
  std::vector<signed char> qL(kDim);
  kxegm::ByteMinimalGraph::quantize(vA.data(), kDim, qL.data());
  addBlock(recordA, AlgHgmByte, qL.data(), kDim, sampleA);
}

std::vector<unsigned char> irisOf(std::uint64_t idA) {
  std::mt19937_64 rngL(idA * 15485863 + 3);
  std::vector<unsigned char> cL(kIrisBytes);
  for (std::size_t w = 0; w < kIrisBytes / 8; ++w) {
    const std::uint64_t hiddenL = rngL() & rngL() & rngL() & 0xFFFFFFFFull;
    const std::uint64_t wordL = (rngL() & 0xFFFFFFFFull) | ((~hiddenL & 0xFFFFFFFFull) << 32);
    std::memcpy(cL.data() + 8 * w, &wordL, 8);
  }
  return cL;
}

// A fifth of the code bits flipped.
std::vector<unsigned char> irisSample(std::uint64_t idA, std::uint64_t seedA) {
  std::vector<unsigned char> cL = irisOf(idA);
  std::mt19937_64 rngL(seedA + 77);
  for (std::size_t w = 0; w < kIrisBytes / 8; ++w) {
    for (int b = 0; b < 32; ++b) {
      if (rngL() % 5 == 0) cL[8 * w + b / 8] ^= static_cast<unsigned char>(1u << (b % 8));
    }
  }
  return cL;
}

std::unique_ptr<IdRecordImp> irisRecord(std::uint64_t idA, const std::vector<unsigned char>& cA) {
  auto rL = std::make_unique<IdRecordImp>();
  rL->setIdRecordKey(IdRecordKey(idA, idA));
  std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(AlgDaugman2010));
  bL->setData(cA.data(), kIrisBytes, cA.data(), kIrisBytes, false);
  rL->addTemplateBlock(bL.release(), ModalityIris, InstanceIrisLeft, {0, idA});
  return rL;
}

struct Gallery {
  std::unique_ptr<TemplateMatcherMultipass> matcher;
  double enrolPerSecond = 0.0;
  std::vector<std::unique_ptr<IdRecordImp>> probes;  // probe i is a sample of mates[i]
  std::vector<std::uint64_t> mates;
};

Gallery makeFaceGallery(const char* storageA, Algorithm firstA) {
  installConfig();
  Gallery gL;
  gL.matcher = std::make_unique<TemplateMatcherMultipass>();
  gL.matcher->init(storageA, nullptr, 0, false);
  gL.matcher->addMatchingPipeline(storageA);
  const std::size_t nL = identities();
  const auto startL = Clock::now();
  for (std::uint64_t i = 0; i < nL; ++i) {
    IdRecordImp recordL;
    recordL.setIdRecordKey(IdRecordKey(i, i));
    addFaceBlocks(recordL, faceOf(i), i, firstA);
    gL.matcher->addIdRecord(&recordL, nullptr, false);
  }
  gL.enrolPerSecond =
      static_cast<double>(nL) / std::chrono::duration<double>(Clock::now() - startL).count();
  for (unsigned p = 0; p < 4 * kProbes; ++p) {
    const std::uint64_t mateL = (p * 2654435761ull) % nL;
    auto probeL = std::make_unique<IdRecordImp>();
    probeL->setIdRecordKey(IdRecordKey(~0ull, p));
    addFaceBlocks(*probeL, faceSample(mateL, p), p, firstA);
    gL.mates.push_back(mateL);
    gL.probes.push_back(std::move(probeL));
  }
  return gL;
}

Gallery& faceGallery() {
  static Gallery gS = makeFaceGallery("face", AlgHgmByte);
  return gS;
}

Gallery& faceBitsGallery() {
  static Gallery gS = makeFaceGallery("faceBits", AlgHgm);
  return gS;
}

Gallery& irisGallery() {
  static Gallery gS = [] {
    installConfig();
    Gallery gL;
    gL.matcher = std::make_unique<TemplateMatcherMultipass>();
    gL.matcher->init("iris", nullptr, 0, false);
    gL.matcher->addMatchingPipeline("iris");
    const std::size_t nL = identities();
    const auto startL = Clock::now();
    for (std::uint64_t i = 0; i < nL; ++i) {
      gL.matcher->addIdRecord(irisRecord(i, irisOf(i)).get(), nullptr, false);
    }
    gL.enrolPerSecond =
        static_cast<double>(nL) / std::chrono::duration<double>(Clock::now() - startL).count();
    for (unsigned p = 0; p < 4 * kProbes; ++p) {
      const std::uint64_t mateL = (p * 2654435761ull + 17) % nL;
      auto probeL = irisRecord(~0ull, irisSample(mateL, p));
      probeL->setIdRecordKey(IdRecordKey(~0ull, p));
      gL.mates.push_back(mateL);
      gL.probes.push_back(std::move(probeL));
    }
    return gL;
  }();
  return gS;
}

double percentile(std::vector<double> vA, double qA) {
  std::sort(vA.begin(), vA.end());
  const std::size_t iL =
      std::min(vA.size() - 1, static_cast<std::size_t>(qA * static_cast<double>(vA.size())));
  return vA[iL];
}

// range(0) probe slots identify kProbes probes each at once (one caller thread per slot).
void BM_Identify(benchmark::State& stateA, Gallery& (*galleryA)()) {
  Gallery& gL = galleryA();
  const unsigned slotsL = static_cast<unsigned>(stateA.range(0));
  std::vector<double> latenciesL;
  std::size_t rank1L = 0, doneL = 0;
  double firstPassSecondsL = 0.0;
  const auto& recordsL = gL.matcher->probeSlots();
  const double firstBeforeL =
      recordsL[0].stagePerformance.empty() ? 0.0 : recordsL[0].stagePerformance[0].sumIdentifyTime;
  for (auto _ : stateA) {
    std::vector<std::vector<double>> perSlotL(slotsL);
    std::vector<std::size_t> hitsL(slotsL, 0);
    std::vector<std::thread> threadsL;
    for (unsigned s = 0; s < slotsL; ++s) {
      threadsL.emplace_back([&, s] {
        for (unsigned p = 0; p < kProbes; ++p) {
          const std::size_t iL = s * kProbes + p;
          ResultTreeList resultsL;
          const auto startL = Clock::now();
          gL.matcher->identifyTransaction(gL.probes[iL].get(), s, resultsL);
          perSlotL[s].push_back(std::chrono::duration<double>(Clock::now() - startL).count());
          if (resultsL.size() != 0 && resultsL[0].personId() == gL.mates[iL]) ++hitsL[s];
        }
      });
    }
    for (auto& t : threadsL) t.join();
    for (unsigned s = 0; s < slotsL; ++s) {
      latenciesL.insert(latenciesL.end(), perSlotL[s].begin(), perSlotL[s].end());
      rank1L += hitsL[s];
      doneL += kProbes;
    }
  }
  if (!recordsL[0].stagePerformance.empty()) {
    firstPassSecondsL = recordsL[0].stagePerformance[0].sumIdentifyTime - firstBeforeL;
  }
  stateA.counters["identifications/s"] =
      benchmark::Counter(static_cast<double>(doneL), benchmark::Counter::kIsRate);
  stateA.counters["median_ms"] = 1e3 * percentile(latenciesL, 0.5);
  stateA.counters["p99_ms"] = 1e3 * percentile(latenciesL, 0.99);
  stateA.counters["rank1"] = static_cast<double>(rank1L) / static_cast<double>(doneL);
  if (slotsL == 1 && firstPassSecondsL > 0.0) {
    // Slot 0's first pass: comparisons per second of its scoring workers.
    stateA.counters["first_pass_cmp/s"] = static_cast<double>(identities()) *
                                          static_cast<double>(stateA.iterations() * kProbes) /
                                          firstPassSecondsL;
  }
  stateA.counters["enrolments/s"] = gL.enrolPerSecond;
}

// The engines alone over the first pass's memory, on two threads (as the pass's two workers), with
// the workers' look-ahead.
void BM_RawScanFirstPass(benchmark::State& stateA, Gallery& (*galleryA)(), Algorithm algorithmA,
                         Modality modalityA, Instance instanceA) {
  Gallery& gL = galleryA();
  const qrbase::TemplateMatcherMultipass_Stage* stageL =
      gL.matcher->getTemplateContainer()->memoryStage({modalityA, instanceA, algorithmA});
  const auto& entriesL = stageL->galleryVec();
  const unsigned sizeL = stageL->dataSize();
  const TemplateBlockImp* probeL = nullptr;
  for (const TemplateKey& kL : gL.probes[0]->getTemplateKeys(modalityA, instanceA)) {
    probeL = gL.probes[0]->getTemplateBlock(kL, algorithmA, true);
  }
  std::unique_ptr<StageMatchEngine_Base> engines[2];
  std::vector<unsigned char> dataL(probeL->probeDataPtr(),
                                   probeL->probeDataPtr() + probeL->probeSize());
  for (auto& e : engines) {
    e.reset(StageMatchEngine_Base::createStageEngine(algorithmA));
    e->setProbeForIdentification(dataL.data(), static_cast<unsigned>(dataL.size()));
  }
  for (auto _ : stateA) {
    float bestL[2] = {-1e30f, -1e30f};
    std::vector<std::thread> threadsL;
    for (int t = 0; t < 2; ++t) {
      threadsL.emplace_back([&, t] {
        const std::size_t halfL = entriesL.size() / 2;
        const std::size_t firstL = t == 0 ? 0 : halfL, lastL = t == 0 ? halfL : entriesL.size();
        float b = -1e30f;
        const qrbase::GalleryEntry* endL = entriesL.data() + lastL;
        const qrbase::stageworkers::Prefetcher prefetcherL(*engines[t], sizeL, endL);
        for (const qrbase::GalleryEntry* e = entriesL.data() + firstL; e != endL; ++e) {
          prefetcherL.ahead(e);
          b = std::max(b, engines[t]->matchGallery(e->data, sizeL));
        }
        bestL[t] = b;
      });
    }
    for (auto& t : threadsL) t.join();
    benchmark::DoNotOptimize(bestL);
  }
  stateA.counters["comparisons/s"] = benchmark::Counter(
      static_cast<double>(stateA.iterations() * entriesL.size()), benchmark::Counter::kIsRate);
  stateA.SetBytesProcessed(
      static_cast<std::int64_t>(stateA.iterations() * entriesL.size() * sizeL));
}

// Rank 1 of the two-pass face pipeline against a brute-force hgmFloat search of every identity.
void BM_Rank1AgainstBruteForce(benchmark::State& stateA, Gallery& (*galleryA)()) {
  Gallery& gL = galleryA();
  const qrbase::TemplateMatcherMultipass_Stage* stageL =
      gL.matcher->getTemplateContainer()->memoryStage(
          {ModalityFace, InstanceFaceFrontal, AlgHgmFloat});
  const auto& entriesL = stageL->galleryVec();
  std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(AlgHgmFloat));
  std::size_t agreeL = 0, bruteHitsL = 0, pipelineHitsL = 0, doneL = 0;
  for (auto _ : stateA) {
    for (unsigned p = 0; p < kProbes; ++p) {
      const IdRecordImp& probeL = *gL.probes[p];
      const TemplateBlockImp* bL = probeL.getTemplateBlock(
          probeL.getTemplateKeys(ModalityFace, InstanceFaceFrontal).at(0), AlgHgmFloat, true);
      eL->setProbeForIdentification(bL->probeDataPtr(), bL->probeSize());
      float bestL = -1e30f;
      std::uint64_t bestIdL = 0;
      for (const auto& e : entriesL) {
        const float sL = eL->matchGallery(e.data, stageL->dataSize());
        if (sL > bestL) {
          bestL = sL;
          bestIdL = e.idRecordKey().personId;
        }
      }
      ResultTreeList resultsL;
      gL.matcher->identifyTransaction(&probeL, 0, resultsL);
      const std::uint64_t gotL = resultsL.size() != 0 ? resultsL[0].personId() : ~0ull;
      agreeL += gotL == bestIdL;
      bruteHitsL += bestIdL == gL.mates[p];
      pipelineHitsL += gotL == gL.mates[p];
      ++doneL;
    }
  }
  stateA.counters["rank1_agreement"] = static_cast<double>(agreeL) / static_cast<double>(doneL);
  stateA.counters["rank1_brute_force"] =
      static_cast<double>(bruteHitsL) / static_cast<double>(doneL);
  stateA.counters["rank1_pipeline"] =
      static_cast<double>(pipelineHitsL) / static_cast<double>(doneL);
}

// One gallery's benchmarks, in this order: the raw scan of its first pass, identification on 1, 2
// and 4 probe slots and, for faces, rank 1 against brute force.
bool registerGallery(const std::string& nameA, const std::string& firstPassA,
                     Gallery& (*galleryA)(), Algorithm algorithmA, Modality modalityA,
                     Instance instanceA, bool rank1A) {
  benchmark::RegisterBenchmark(("BM_RawScanFirstPass/" + nameA + "_" + firstPassA).c_str(),
                               BM_RawScanFirstPass, galleryA, algorithmA, modalityA, instanceA)
      ->Iterations(modalityA == ModalityIris ? 3 : 5)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("BM_Identify/" + nameA).c_str(), BM_Identify, galleryA)
      ->Arg(1)
      ->Arg(2)
      ->Arg(4)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  if (rank1A) {
    benchmark::RegisterBenchmark(("BM_Rank1AgainstBruteForce/" + nameA).c_str(),
                                 BM_Rank1AgainstBruteForce, galleryA)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}

const bool registeredS = registerGallery("face", "hgmByte", faceGallery, AlgHgmByte, ModalityFace,
                                         InstanceFaceFrontal, true) &&
                         registerGallery("faceBits", "hgm", faceBitsGallery, AlgHgm, ModalityFace,
                                         InstanceFaceFrontal, true) &&
                         registerGallery("iris", "daugman2010", irisGallery, AlgDaugman2010,
                                         ModalityIris, InstanceIrisLeft, false);

}  // namespace

BENCHMARK_MAIN();
