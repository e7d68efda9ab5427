// Match engines: one probe against N gallery entries, through the engine interface exactly as a
// stage's worker calls it (one virtual matchGallery per entry, a running threshold that keeps
// the best candidates), single thread. Beside each engine: the same scan with the scalar
// reference kernels, the machine's read bandwidth over the same memory, and FAISS's flat
// indexes (inner product, binary Hamming) on the same bytes, k = 100, one thread.
//
// The cost of building the library with -fnon-call-exceptions (so that processor faults unwind
// through its frames, see FaultTranslator.h) shows in the engine scans. One binary holds one
// build of the library, so the comparison takes two builds: the bench preset, and the same with
// -DQUARLEN_NON_CALL_EXCEPTIONS=OFF; the run's context line "library_exceptions" names the
// build. Compare the scans' of_read_bw (the scan against a plain read of the same memory, which
// this file compiles the same way in both builds) and their ratio to the scalar reference,
// never raw times across runs. Measured on the shared 2-core development machine (load
// average 18, so only processor time counts), 100000 entries, of_read_bw with / without:
//   hgmFloat/256     1.01 / 0.94
//   hgmPyrFloat/256  1.22 / 1.09
//   hgm/2048B        0.98, 1.15, 1.18 / 1.20, 1.09
//   hgmByte/1024B    0.86 / 0.77
//   l2Jim/512B       0.51, 0.57, 0.54 / 0.57, 0.53
//   daugman2010      0.34 / 0.30
// No difference stands out of the noise (about 15 % between runs of one build); the vector
// kernels keep their instruction counts, the library's code grows by 1.5 %, its unwind tables
// by 8 % and its exception tables from 23 to 47 KB.
// FaultTranslator/guard is the price of one guard() around a call; FaultTranslator/fault the
// price of one translated fault (signal, handler, throw, unwinding, catch).
//
// Gallery memory is built once per process and shared: when FAISS is linked the FAISS indexes
// own it (so both scan the very same bytes); 1 M entries of 1024 floats are 4 GB, the largest.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeForms.h>
#include <quarlen/FaultTranslator.h>
#include <quarlen/StageMatchEngine_Base.h>

#include "engines/face/StageMatchEngine_Face_Vector.h"
#include "engines/iris/StageMatchEngine_Iris_Daugman_2010.h"
#include "engines/kernels/VectorKernels.h"
#include "support/ProcessorFaults.h"

#ifdef QUARLEN_BENCH_WITH_FAISS
#include <faiss/IndexBinaryFlat.h>
#include <faiss/IndexFlat.h>
#include <omp.h>
#endif

// Large blocks (the galleries, also inside the FAISS indexes) are backed by transparent huge
// pages, so that neither side of a comparison pays page walks for 4 GB of 4 KiB pages.
// Everything is released with free(), so the replaced delete serves all blocks.
void* operator new(std::size_t sizeA) {
  constexpr std::size_t kHuge = std::size_t{64} << 20;
  constexpr std::size_t kPage = std::size_t{2} << 20;
  void* pL = nullptr;
  if (sizeA >= kHuge) {
    if (posix_memalign(&pL, kPage, sizeA) == 0) madvise(pL, sizeA, MADV_HUGEPAGE);
  } else {
    pL = std::malloc(sizeA == 0 ? 1 : sizeA);
  }
  if (pL == nullptr) throw std::bad_alloc();
  return pL;
}
// GCC sees free() after operator new; in a replacement pair that is what both sides use.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* pA) noexcept {
  std::free(pA);
}
void operator delete(void* pA, std::size_t) noexcept {
  std::free(pA);
}

namespace {

using qridy::Algorithm;
using qridy::StageMatchEngine_Base;

constexpr std::size_t kMaxEntries = 1000000;
constexpr std::size_t kResultLength = 100;

// xorshift64*: fast enough to fill gigabytes.
struct FastRandom {
  std::uint64_t s = 0x9E3779B97F4A7C15ull;
  std::uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
  float unit() { return static_cast<float>(next() >> 40) * (2.0f / 16777216.0f) - 1.0f; }
};

// One block of gallery memory: entries of slotBytes each, contiguous as in stage memory.
struct Gallery {
  const unsigned char* data = nullptr;
  std::size_t slotBytes = 0;
};

// The galleries of the run, each built on first use and kept for the process.
class Galleries {
 public:
  static Galleries& get() {
    static Galleries galleriesS;
    return galleriesS;
  }

  // kMaxEntries vectors of dimA random floats in [-1, 1].
  Gallery floats(int dimA) {
    auto& slotL = dimA == 1024 ? float1024M : float256M;
    if (!slotL) {
      slotL = std::make_unique<FloatStore>(dimA);
      FastRandom rL;
      rL.s += static_cast<std::uint64_t>(dimA);
      float* pL = slotL->data();
      for (std::size_t i = 0; i < kMaxEntries * static_cast<std::size_t>(dimA); ++i)
        pL[i] = rL.unit();
    }
    return {reinterpret_cast<const unsigned char*>(slotL->data()),
            4 * static_cast<std::size_t>(dimA)};
  }
  // kMaxEntries random bit strings of 2 KiB.
  Gallery bits() {
    if (!bitsM) {
      bitsM = std::make_unique<BitStore>();
      FastRandom rL;
      auto* pL = reinterpret_cast<std::uint64_t*>(bitsM->data());
      for (std::size_t i = 0; i < kMaxEntries * kBitBytes / 8; ++i) pL[i] = rL.next();
    }
    return {bitsM->data(), kBitBytes};
  }
  // kMaxEntries iris codes (matcher form, about 80 % of the bits usable): impostors of the probe,
  // with a mate of it (turned, 10 % of its bits flipped) at every 10 000th entry.
  Gallery iris(const std::vector<unsigned char>& probeA) {
    if (irisM.empty()) {
      irisM.resize(kMaxEntries * kIrisBytes);
      std::mt19937_64 rngL(11);
      for (std::size_t e = 0; e < kMaxEntries; ++e) {
        unsigned char* codeL = irisM.data() + e * kIrisBytes;
        if (e % 10000 == 5000) {
          mateOf(probeA, static_cast<int>(e / 10000 % 7) - 3, rngL, codeL);
        } else {
          randomIrisCode(rngL, codeL);
        }
      }
    }
    return {irisM.data(), kIrisBytes};
  }

  static void randomIrisCode(std::mt19937_64& rngA, unsigned char* codeA) {
    for (int w = 0; w < 32; ++w) {
      // Mask bits set with probability 13/16 (the AND of four fair bits, inverted).
      const std::uint64_t mL = ~(rngA() & rngA() & rngA() & rngA()) & 0xFFFFFFFFull;
      const std::uint64_t wordL = (rngA() & 0xFFFFFFFFull) | (mL << 32);
      std::memcpy(codeA + 8 * w, &wordL, 8);
    }
  }
  static void mateOf(const std::vector<unsigned char>& probeA, int stepsA, std::mt19937_64& rngA,
                     unsigned char* outA) {
    unsigned char recordL[256], turnedL[256];
    kxegm::irisforms::matcherToRecord(probeA.data(), recordL);
    kxegm::irisforms::rotateRecord(recordL, stepsA, turnedL);
    kxegm::irisforms::recordToMatcher(turnedL, outA);
    std::bernoulli_distribution flipL(0.1);
    for (int b = 0; b < 1024; ++b) {
      if (flipL(rngA))
        outA[8 * (b / 32) + (b % 32) / 8] ^= static_cast<unsigned char>(1u << (b % 8));
    }
  }

#ifdef QUARLEN_BENCH_WITH_FAISS
  faiss::IndexFlatIP& flatIndex(int dimA) {
    floats(dimA);
    return *(dimA == 1024 ? float1024M : float256M);
  }
  faiss::IndexBinaryFlat& binaryIndex() {
    bits();
    return *bitsM;
  }
#endif

  static constexpr std::size_t kBitBytes = 2048;
  static constexpr std::size_t kIrisBytes = 256;

 private:
#ifdef QUARLEN_BENCH_WITH_FAISS
  // The FAISS indexes hold the gallery bytes; the engines read them in place.
  struct FloatStore : faiss::IndexFlatIP {
    explicit FloatStore(int dimA) : faiss::IndexFlatIP(dimA) {
      codes.resize(kMaxEntries * 4 * static_cast<std::size_t>(dimA));
      ntotal = kMaxEntries;
    }
    float* data() { return reinterpret_cast<float*>(codes.data()); }
  };
  struct BitStore : faiss::IndexBinaryFlat {
    BitStore() : faiss::IndexBinaryFlat(8 * kBitBytes) {
      xb.resize(kMaxEntries * kBitBytes);
      ntotal = kMaxEntries;
    }
    unsigned char* data() { return xb.data(); }
  };
#else
  struct FloatStore {
    explicit FloatStore(int dimA) : valuesM(kMaxEntries * static_cast<std::size_t>(dimA)) {}
    float* data() { return valuesM.data(); }
    std::vector<float> valuesM;
  };
  struct BitStore {
    BitStore() : bytesM(kMaxEntries * kBitBytes) {}
    unsigned char* data() { return bytesM.data(); }
    std::vector<unsigned char> bytesM;
  };
#endif
  std::unique_ptr<FloatStore> float1024M;
  std::unique_ptr<FloatStore> float256M;
  std::unique_ptr<BitStore> bitsM;
  std::vector<unsigned char> irisM;
};

// A stage worker without person mask: every entry is scored; a score above the running
// threshold is kept, and when the buffer of 2K kept scores is full the threshold rises to its
// median. Returns the number kept.
std::size_t scanGallery(StageMatchEngine_Base& engineA, const Gallery& galleryA,
                        std::size_t entriesA, std::vector<std::pair<float, std::uint32_t>>& keptA,
                        std::vector<float>& bufferA) {
  const std::size_t lengthL = std::min(2 * kResultLength, entriesA);
  bufferA.resize(lengthL);
  keptA.clear();
  std::size_t fillL = 0;
  float thresholdL = std::numeric_limits<float>::lowest();
  const auto slotL = static_cast<unsigned int>(galleryA.slotBytes);
  for (std::size_t i = 0; i < entriesA; ++i) {
    const float sL = engineA.matchGallery(galleryA.data + i * galleryA.slotBytes, slotL);
    if (sL > thresholdL) {
      keptA.emplace_back(sL, static_cast<std::uint32_t>(i));
      bufferA[fillL++] = sL;
      if (fillL == lengthL) {
        std::sort(bufferA.begin(), bufferA.end(), std::greater<float>());
        thresholdL = bufferA[lengthL / 2];
        fillL = lengthL / 2;
      }
    }
  }
  return keptA.size();
}

// The plain streaming read: a sum of 64-bit words with four accumulators.
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

double threadSeconds() {
  timespec tL{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &tL);
  return static_cast<double>(tL.tv_sec) + 1e-9 * static_cast<double>(tL.tv_nsec);
}

// The machine's read bandwidth over the first entriesA entries of a gallery: the best of three
// plain 64-bit sums, in bytes per second of this thread's processor time (as the benchmarks
// count). Measured once per memory range.
double readBandwidth(const Gallery& galleryA, std::size_t entriesA) {
  static std::map<std::pair<const unsigned char*, std::size_t>, double> measuredS;
  const std::size_t bytesL = entriesA * galleryA.slotBytes;
  auto& bestL = measuredS[{galleryA.data, bytesL}];
  if (bestL > 0.0) return bestL;
  const auto* pL = reinterpret_cast<const std::uint64_t*>(galleryA.data);
  const std::size_t wordsL = bytesL / 8;
  for (int pass = 0; pass < 3; ++pass) {
    const double startL = threadSeconds();
    benchmark::DoNotOptimize(streamingSum(pL, wordsL));
    bestL = std::max(bestL, static_cast<double>(bytesL) / (threadSeconds() - startL));
  }
  return bestL;
}

enum class Kernels { Dispatched, Scalar };

// The probe of the face benchmarks: random values of the gallery's kind.
std::vector<unsigned char> faceProbe(std::size_t bytesA) {
  std::vector<unsigned char> probeL(bytesA);
  FastRandom rL;
  rL.s = 77;
  for (std::size_t i = 0; i + 4 <= bytesA; i += 4) {
    const float vL = rL.unit();
    std::memcpy(probeL.data() + i, &vL, 4);
  }
  return probeL;
}

void reportScan(benchmark::State& stateA, const Gallery& galleryA, std::size_t entriesA,
                std::size_t keptA, double secondsA) {
  stateA.SetItemsProcessed(static_cast<std::int64_t>(stateA.iterations() * entriesA));
  stateA.SetBytesProcessed(
      static_cast<std::int64_t>(stateA.iterations() * entriesA * galleryA.slotBytes));
  stateA.counters["kept"] = static_cast<double>(keptA);
  {
    // The scan's bytes per processor second against a plain read of the same memory.
    const double bytesPerSecondL =
        static_cast<double>(stateA.iterations() * entriesA * galleryA.slotBytes) / secondsA;
    stateA.counters["of_read_bw"] = bytesPerSecondL / readBandwidth(galleryA, entriesA);
  }
}

// A face engine over a gallery: args are the entry count, the template bytes, and for the
// scalar variant the kernel set.
void faceEngine(benchmark::State& stateA, Algorithm algorithmA, Gallery (*galleryA)(),
                std::size_t templateBytesA, Kernels kernelsA) {
  const auto entriesL = static_cast<std::size_t>(stateA.range(0));
  Gallery galleryL = galleryA();
  galleryL.slotBytes = templateBytesA;  // entries laid out back to back, as stage memory does
  std::unique_ptr<StageMatchEngine_Base> engineL(
      StageMatchEngine_Base::createStageEngine(algorithmA));
  if (kernelsA == Kernels::Scalar) {
    dynamic_cast<qridy::StageMatchEngine_Face_Vector&>(*engineL).useKernels(
        qridy::kernels::kernelsFor(qridy::CpuFeatures::Scalar));
  }
  const auto probeL = faceProbe(templateBytesA);
  engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
  std::vector<std::pair<float, std::uint32_t>> keptL;
  keptL.reserve(entriesL);
  std::vector<float> bufferL;
  std::size_t nL = 0;
  const double startL = threadSeconds();
  for (auto _ : stateA) nL = scanGallery(*engineL, galleryL, entriesL, keptL, bufferL);
  const double secondsL = threadSeconds() - startL;
  engineL->releaseProbe();
  reportScan(stateA, galleryL, entriesL, nL, secondsL);
  stateA.SetLabel(qridy::Types::algorithm2Text(algorithmA) + " " +
                  (kernelsA == Kernels::Scalar ? "scalar" : qridy::kernels::activeKernels().name));
}

Gallery floats1024() {
  return Galleries::get().floats(1024);
}
Gallery floats256() {
  return Galleries::get().floats(256);
}
Gallery bits2048() {
  return Galleries::get().bits();
}

void BM_ReadBandwidth(benchmark::State& stateA, Gallery (*galleryA)()) {
  const auto entriesL = static_cast<std::size_t>(stateA.range(0));
  const Gallery galleryL = galleryA();
  const auto* pL = reinterpret_cast<const std::uint64_t*>(galleryL.data);
  const std::size_t wordsL = entriesL * galleryL.slotBytes / 8;
  for (auto _ : stateA) {
    benchmark::DoNotOptimize(streamingSum(pL, wordsL));
  }
  stateA.SetBytesProcessed(static_cast<std::int64_t>(stateA.iterations() * wordsL * 8));
}

void BM_Daugman2010(benchmark::State& stateA, bool popcntA) {
  const auto entriesL = static_cast<std::size_t>(stateA.range(0));
  std::mt19937_64 rngL(5);
  std::vector<unsigned char> probeL(Galleries::kIrisBytes);
  Galleries::randomIrisCode(rngL, probeL.data());
  const Gallery galleryL = Galleries::get().iris(probeL);
  std::unique_ptr<StageMatchEngine_Base> engineL;
  if (popcntA) {
    engineL = std::make_unique<qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT>();
  } else {
    engineL = std::make_unique<qridy::StageMatchEngine_Iris_Daugman_2010>();
  }
  engineL->init(qridy::AlgDaugman2010);
  engineL->setProbeForIdentification(probeL.data(), static_cast<unsigned>(probeL.size()));
  std::vector<std::pair<float, std::uint32_t>> keptL;
  keptL.reserve(entriesL);
  std::vector<float> bufferL;
  std::size_t nL = 0;
  const double startL = threadSeconds();
  for (auto _ : stateA) nL = scanGallery(*engineL, galleryL, entriesL, keptL, bufferL);
  const double secondsL = threadSeconds() - startL;
  // The mates must be the best: count them among the kept entries above the impostors' best.
  float bestImpostorL = 0.0f, worstMateL = 10.0f;
  for (const auto& k : keptL) {
    if (k.second % 10000 == 5000) {
      worstMateL = std::min(worstMateL, k.first);
    } else {
      bestImpostorL = std::max(bestImpostorL, k.first);
    }
  }
  reportScan(stateA, galleryL, entriesL, nL, secondsL);
  stateA.counters["worst_mate"] = worstMateL;
  stateA.counters["best_impostor"] = bestImpostorL;
  stateA.SetLabel(popcntA ? "daugman2010 POPCNT engine" : "daugman2010 plain engine (reference)");
}

#ifdef QUARLEN_BENCH_WITH_FAISS
using FaissIdx = faiss::Index::idx_t;

void BM_FaissFlatIP(benchmark::State& stateA, int dimA) {
  const auto entriesL = static_cast<FaissIdx>(stateA.range(0));
  faiss::IndexFlatIP& indexL = Galleries::get().flatIndex(dimA);
  indexL.ntotal = entriesL;
  omp_set_num_threads(1);
  const auto probeL = faceProbe(4 * static_cast<std::size_t>(dimA));
  std::vector<float> distancesL(kResultLength);
  std::vector<FaissIdx> labelsL(kResultLength);
  const double startL = threadSeconds();
  for (auto _ : stateA) {
    indexL.search(1, reinterpret_cast<const float*>(probeL.data()), kResultLength,
                  distancesL.data(), labelsL.data());
  }
  const double secondsL = threadSeconds() - startL;
  indexL.ntotal = static_cast<FaissIdx>(kMaxEntries);
  reportScan(stateA, Galleries::get().floats(dimA), static_cast<std::size_t>(entriesL),
             kResultLength, secondsL);
  stateA.SetLabel("FAISS IndexFlatIP d=" + std::to_string(dimA));
}

void BM_FaissBinaryFlat(benchmark::State& stateA) {
  const auto entriesL = static_cast<FaissIdx>(stateA.range(0));
  faiss::IndexBinaryFlat& indexL = Galleries::get().binaryIndex();
  indexL.ntotal = entriesL;
  omp_set_num_threads(1);
  const auto probeL = faceProbe(Galleries::kBitBytes);
  std::vector<std::int32_t> distancesL(kResultLength);
  std::vector<FaissIdx> labelsL(kResultLength);
  const double startL = threadSeconds();
  for (auto _ : stateA) {
    indexL.search(1, probeL.data(), kResultLength, distancesL.data(), labelsL.data());
  }
  const double secondsL = threadSeconds() - startL;
  indexL.ntotal = static_cast<FaissIdx>(kMaxEntries);
  reportScan(stateA, Galleries::get().bits(), static_cast<std::size_t>(entriesL), kResultLength,
             secondsL);
  stateA.SetLabel("FAISS IndexBinaryFlat 2048 bits");
}
#endif

void BM_Guard(benchmark::State& stateA) {
  qridy::FaultTranslator::enable();
  int valueL = 0;
  for (auto _ : stateA) {
    valueL = qridy::FaultTranslator::guard([&valueL] { return valueL + 1; });
    benchmark::DoNotOptimize(valueL);
  }
  qridy::FaultTranslator::disable();
}

void BM_TranslatedFault(benchmark::State& stateA) {
  qridy::FaultTranslator::enable();
  std::size_t caughtL = 0;
  for (auto _ : stateA) {
    try {
      qridy::FaultTranslator::guard([] { return quarlen_test::readAt(0); });
    } catch (const kxxcp::Exception&) {
      ++caughtL;
    }
  }
  qridy::FaultTranslator::disable();
  stateA.counters["caught"] = static_cast<double>(caughtL);
}

void registerAll() {
  const std::vector<std::int64_t> sizesL = {100000, 1000000};
  auto add = [&sizesL](benchmark::internal::Benchmark* bA) {
    for (auto n : sizesL) bA->Arg(n);
    bA->Unit(benchmark::kMillisecond)->MinTime(1.0);
  };
  add(benchmark::RegisterBenchmark("ReadBandwidth/floats1024", BM_ReadBandwidth, floats1024));
  add(benchmark::RegisterBenchmark("ReadBandwidth/floats256", BM_ReadBandwidth, floats256));
  add(benchmark::RegisterBenchmark("ReadBandwidth/bits2048", BM_ReadBandwidth, bits2048));
  struct FaceRow {
    const char* name;
    Algorithm algorithm;
    Gallery (*gallery)();
    std::size_t bytes;
  };
  const FaceRow rowsL[] = {
      {"hgmFloat/256", qridy::AlgHgmFloat, floats256, 1024},
      {"hgmFloat/1024", qridy::AlgHgmFloat, floats1024, 4096},
      {"hgmPyrFloat/256", qridy::AlgHgmPyrFloat, floats256, 1024},
      {"hgm/2048B", qridy::AlgHgm, bits2048, 2048},
      {"hgmByte/1024B", qridy::AlgHgmByte, floats256, 1024},
      {"l2Jim/512B", qridy::AlgL2Jim, floats256, 512},
  };
  for (const FaceRow& r : rowsL) {
    add(benchmark::RegisterBenchmark((std::string("Engine/") + r.name).c_str(), faceEngine,
                                     r.algorithm, r.gallery, r.bytes, Kernels::Dispatched));
    add(benchmark::RegisterBenchmark((std::string("Scalar/") + r.name).c_str(), faceEngine,
                                     r.algorithm, r.gallery, r.bytes, Kernels::Scalar));
  }
  add(benchmark::RegisterBenchmark("Engine/daugman2010", BM_Daugman2010, true));
  add(benchmark::RegisterBenchmark("Scalar/daugman2010", BM_Daugman2010, false));
  benchmark::RegisterBenchmark("FaultTranslator/guard", BM_Guard);
  benchmark::RegisterBenchmark("FaultTranslator/fault", BM_TranslatedFault);
#ifdef QUARLEN_BENCH_WITH_FAISS
  add(benchmark::RegisterBenchmark("Faiss/FlatIP/256", BM_FaissFlatIP, 256));
  add(benchmark::RegisterBenchmark("Faiss/FlatIP/1024", BM_FaissFlatIP, 1024));
  add(benchmark::RegisterBenchmark("Faiss/BinaryFlat/2048B", BM_FaissBinaryFlat));
#endif
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::AddCustomContext("library_exceptions", QUARLEN_NON_CALL_EXCEPTIONS_BUILD
                                                        ? "-fnon-call-exceptions"
                                                        : "calls only");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
