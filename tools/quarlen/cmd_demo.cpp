// The main job: a tour of what the library does, on data it generates itself.
//
// After the vocabulary, the demo builds a synthetic population (a face template, "hgmFloat", and
// an iris code, "daugman2010", per identity), writes it as identity records to a file, reads the
// file back, copies the gallery parts into contiguous memory as a stage does, and identifies a
// sample of probes (noisy copies of their mates: face features with added noise, iris codes
// turned and with flipped bits) against the whole gallery through the match engines, on worker
// threads. It prints the rank-1 hit rate per algorithm and fused, and comparisons per second.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeForms.h>
#include <quarlen/CpuFeatures.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/Types.h>

#include "Commands.h"
#include "common/AlignedBuffer.h"

namespace quarlen_cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFaceFloats = 256;
constexpr std::size_t kIrisBytes = kxegm::irisforms::kCodeBytes;

struct DemoOptions {
  std::size_t identities = 100000;
  std::size_t probes = 1000;
  unsigned threads = 0;     // 0: one per processor
  float faceNoise = 2.6f;   // noise per feature, relative to the feature spread
  double irisFlips = 0.18;  // fraction of the probe's code bits flipped
  int irisTurn = 3;         // probes are turned by up to this many positions either way
  bool keepFiles = false;
};

double secondsSince(Clock::time_point startA) {
  return std::chrono::duration<double>(Clock::now() - startA).count();
}

// A progress bar on standard error, redrawn at most every 100 ms.
class Progress {
 public:
  Progress(std::string labelA, std::size_t totalA) : labelM(std::move(labelA)), totalM(totalA) {
    draw(0);
  }
  void update(std::size_t doneA) {
    const auto nowL = Clock::now();
    if (nowL - lastM < std::chrono::milliseconds(100) && doneA < totalM) return;
    lastM = nowL;
    draw(doneA);
  }
  void finish() {
    draw(totalM);
    std::cerr << "\n";
  }

 private:
  void draw(std::size_t doneA) const {
    constexpr int kWidth = 40;
    const double fractionL =
        totalM == 0 ? 1.0 : static_cast<double>(doneA) / static_cast<double>(totalM);
    const int filledL = static_cast<int>(fractionL * kWidth);
    std::cerr << "\r  " << std::left << std::setw(10) << labelM << " [" << std::string(filledL, '#')
              << std::string(kWidth - filledL, '.') << "] " << std::right << std::setw(3)
              << static_cast<int>(fractionL * 100.0) << "%" << std::flush;
  }

  std::string labelM;
  std::size_t totalM;
  Clock::time_point lastM = Clock::now();
};

std::vector<unsigned char> asBytes(const std::vector<float>& valuesA) {
  std::vector<unsigned char> bytesL(valuesA.size() * 4);
  std::memcpy(bytesL.data(), valuesA.data(), bytesL.size());
  return bytesL;
}

void normalise(std::vector<float>& vA) {
  double sumL = 0.0;
  for (float v : vA) sumL += static_cast<double>(v) * v;
  const float scaleL = sumL > 0.0 ? static_cast<float>(1.0 / std::sqrt(sumL)) : 0.0f;
  for (float& v : vA) v *= scaleL;
}

// An iris code in the matcher form: 32 words of 32 code bits and 32 mask bits, about 80 % of
// the bits usable (eyelids and lashes hide the rest).
std::vector<unsigned char> randomIrisCode(std::mt19937_64& rngA) {
  std::vector<unsigned char> codeL(kIrisBytes);
  for (std::size_t w = 0; w < kIrisBytes / 8; ++w) {
    const std::uint64_t hiddenL = rngA() & rngA() & rngA() & 0xFFFFFFFFull;
    const std::uint64_t wordL = (rngA() & 0xFFFFFFFFull) | ((~hiddenL & 0xFFFFFFFFull) << 32);
    std::memcpy(codeL.data() + 8 * w, &wordL, 8);
  }
  return codeL;
}

// The same eye seen again: turned by stepsA positions, a fraction of its code bits flipped.
std::vector<unsigned char> irisProbeOf(const std::vector<unsigned char>& codeA, int stepsA,
                                       double flipsA, std::mt19937_64& rngA) {
  std::vector<unsigned char> recordL(kIrisBytes), turnedL(kIrisBytes), probeL(kIrisBytes);
  kxegm::irisforms::matcherToRecord(codeA.data(), recordL.data());
  kxegm::irisforms::rotateRecord(recordL.data(), stepsA, turnedL.data());
  kxegm::irisforms::recordToMatcher(turnedL.data(), probeL.data());
  std::bernoulli_distribution flipL(flipsA);
  for (std::size_t bit = 0; bit < 8 * kIrisBytes / 2; ++bit) {
    if (flipL(rngA))
      probeL[8 * (bit / 32) + (bit % 32) / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
  }
  return probeL;
}

struct Probe {
  unsigned long long personId;  // of the mate
  std::vector<unsigned char> face;
  std::vector<unsigned char> iris;
};

// Gallery parts copied back to back in 64-byte aligned memory, as a stage keeps them.
class StageMemory {
 public:
  StageMemory(std::size_t slotBytesA, std::size_t capacityA)
      : slotM(qridy::AlignedBuffer::paddedSize(slotBytesA)),
        dataM(qridy::AlignedBuffer::allocate(std::uint64_t{slotM} * capacityA, UINT64_MAX)) {
    if (dataM.empty()) throw std::bad_alloc();
  }
  void add(const unsigned char* dataA, unsigned int sizeA) {
    std::memcpy(dataM.data() + countM * slotM, dataA, std::min<std::size_t>(sizeA, slotM));
    ++countM;
  }
  const unsigned char* entry(std::size_t iA) const { return dataM.data() + iA * slotM; }
  std::size_t count() const { return countM; }
  unsigned int slotBytes() const { return static_cast<unsigned int>(slotM); }

 private:
  std::size_t slotM;
  qridy::AlignedBuffer dataM;
  std::size_t countM = 0;
};

bool parseOptions(const std::vector<std::string>& argsA, DemoOptions& optionsA) {
  for (std::size_t i = 0; i < argsA.size(); ++i) {
    const std::string& a = argsA[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argsA.size()) throw std::invalid_argument(a + " needs a value");
      return argsA[++i];
    };
    if (a == "--identities") {
      optionsA.identities = std::stoul(value());
    } else if (a == "--probes") {
      optionsA.probes = std::stoul(value());
    } else if (a == "--threads") {
      optionsA.threads = static_cast<unsigned>(std::stoul(value()));
    } else if (a == "--face-noise") {
      optionsA.faceNoise = std::stof(value());
    } else if (a == "--iris-flips") {
      optionsA.irisFlips = std::stod(value());
    } else if (a == "--keep") {
      optionsA.keepFiles = true;
    } else {
      std::cerr << "quarlen demo: unknown argument '" << a << "'\n";
      return false;
    }
  }
  if (optionsA.identities == 0) optionsA.identities = 1;
  optionsA.probes = std::min(optionsA.probes, optionsA.identities);
  if (optionsA.threads == 0) optionsA.threads = std::max(1u, std::thread::hardware_concurrency());
  return true;
}

void vocabularyTour() {
  std::cout << "\n== vocabulary ==\n";
  const qridy::BioMetricTriple triples[] = {
      {qridy::ModalityFace, qridy::InstanceFaceFrontal, qridy::AlgHgmFloat},
      {qridy::ModalityIris, qridy::InstanceIrisLeft, qridy::AlgDaugman2010},
      {qridy::ModalityFingerprint, qridy::InstanceFingerRightIndex, qridy::AlgL2f}};
  for (const auto& t : triples) {
    std::cout << "  " << qridy::Types::bioTriple2Text(t) << "  hash key 0x" << std::hex
              << t.hashKey() << std::dec << "\n";
  }
  std::cout << "  algorithm 4 is written \"" << qridy::Types::algorithm2Text(qridy::AlgFHgm)
            << "\" and that text reads back as "
            << qridy::Types::text2Algorithm(qridy::Types::algorithm2Text(qridy::AlgFHgm).c_str())
            << "\n";
}

// Builds the population, writes one identity record per identity and keeps the probes.
std::vector<Probe> writePopulation(const DemoOptions& optionsA, const std::string& fileA) {
  std::ofstream outL(fileA, std::ios::binary);
  if (!outL) throw std::runtime_error("cannot write " + fileA);
  std::vector<Probe> probesL;
  const std::size_t strideL = optionsA.identities / optionsA.probes;
  std::mt19937_64 rngL(2024);
  std::normal_distribution<float> gaussL(0.0f, 1.0f);
  std::uniform_int_distribution<int> turnL(-optionsA.irisTurn, optionsA.irisTurn);
  Progress progressL("writing", optionsA.identities);
  for (std::size_t i = 0; i < optionsA.identities; ++i) {
    std::vector<float> faceL(kFaceFloats);
    for (float& v : faceL) v = gaussL(rngL);
    normalise(faceL);
    const auto irisL = randomIrisCode(rngL);

    qridy::IdRecordImp recordL;
    recordL.setPersonId(1000000 + i);
    recordL.setTransactionId(1);
    const auto faceBytesL = asBytes(faceL);
    std::unique_ptr<qridy::TemplateBlockImp> faceBlockL(
        qridy::TemplateBlockImp::createTemplateBlock(qridy::AlgHgmFloat));
    faceBlockL->setData(nullptr, 0, faceBytesL.data(), static_cast<unsigned>(faceBytesL.size()),
                        true);
    recordL.addTemplateBlock(faceBlockL.get(), qridy::ModalityFace, qridy::InstanceFaceFrontal,
                             {0, 2 * i + 1});
    faceBlockL.release();
    std::unique_ptr<qridy::TemplateBlockImp> irisBlockL(
        qridy::TemplateBlockImp::createTemplateBlock(qridy::AlgDaugman2010));
    irisBlockL->setData(nullptr, 0, irisL.data(), static_cast<unsigned>(irisL.size()), true);
    recordL.addTemplateBlock(irisBlockL.get(), qridy::ModalityIris, qridy::InstanceIrisLeft,
                             {0, 2 * i + 2});
    irisBlockL.release();
    recordL.write(outL);

    if (i % strideL == 0 && probesL.size() < optionsA.probes) {
      Probe probeL;
      probeL.personId = 1000000 + i;
      std::vector<float> noisyL = faceL;
      const float sigmaL = optionsA.faceNoise / std::sqrt(static_cast<float>(kFaceFloats));
      for (float& v : noisyL) v += sigmaL * gaussL(rngL);
      normalise(noisyL);
      probeL.face = asBytes(noisyL);
      probeL.iris = irisProbeOf(irisL, turnL(rngL), optionsA.irisFlips, rngL);
      probesL.push_back(std::move(probeL));
    }
    progressL.update(i + 1);
  }
  progressL.finish();
  if (!outL.flush()) throw std::runtime_error("cannot write " + fileA);
  return probesL;
}

// Reads the records back and copies each block's gallery part, through the engine that will
// score it, into stage memory; entry i keeps the person id of record i.
void readGallery(const std::string& fileA, std::size_t countA, StageMemory& faceA,
                 StageMemory& irisA, std::vector<unsigned long long>& personIdsA) {
  std::ifstream inL(fileA, std::ios::binary);
  std::unique_ptr<qridy::StageMatchEngine_Base> faceEngineL(
      qridy::StageMatchEngine_Base::createStageEngine(qridy::AlgHgmFloat));
  std::unique_ptr<qridy::StageMatchEngine_Base> irisEngineL(
      qridy::StageMatchEngine_Base::createStageEngine(qridy::AlgDaugman2010));
  Progress progressL("reading", countA);
  for (std::size_t i = 0; i < countA; ++i) {
    qridy::IdRecordImp recordL;
    recordL.read(inL);
    personIdsA.push_back(recordL.personId());
    const auto faceKeysL = recordL.getTemplateKeys(qridy::ModalityFace, qridy::InstanceFaceFrontal);
    const auto irisKeysL = recordL.getTemplateKeys(qridy::ModalityIris, qridy::InstanceIrisLeft);
    unsigned int sizeL = 0;
    const unsigned char* dataL = faceEngineL->extractRawData(
        recordL.getTemplateBlock(faceKeysL.at(0), qridy::AlgHgmFloat, true), sizeL, false);
    faceA.add(dataL, sizeL);
    dataL = irisEngineL->extractRawData(
        recordL.getTemplateBlock(irisKeysL.at(0), qridy::AlgDaugman2010, true), sizeL, false);
    irisA.add(dataL, sizeL);
    progressL.update(i + 1);
  }
  progressL.finish();
}

struct Outcome {
  std::atomic<std::size_t> faceHits{0};
  std::atomic<std::size_t> irisHits{0};
  std::atomic<std::size_t> fusedHits{0};
  std::atomic<std::size_t> done{0};
};

// One worker: its own engines (engines are not shared between threads), probes taken in turn.
void identifyProbes(const std::vector<Probe>& probesA, std::atomic<std::size_t>& nextA,
                    const StageMemory& faceA, const StageMemory& irisA,
                    const std::vector<unsigned long long>& personIdsA, Outcome& outcomeA) {
  std::unique_ptr<qridy::StageMatchEngine_Base> faceEngineL(
      qridy::StageMatchEngine_Base::createStageEngine(qridy::AlgHgmFloat));
  std::unique_ptr<qridy::StageMatchEngine_Base> irisEngineL(
      qridy::StageMatchEngine_Base::createStageEngine(qridy::AlgDaugman2010));
  std::vector<float> faceScoresL(faceA.count());
  for (std::size_t p = nextA++; p < probesA.size(); p = nextA++) {
    const Probe& probeL = probesA[p];
    faceEngineL->setProbeForIdentification(probeL.face.data(),
                                           static_cast<unsigned>(probeL.face.size()));
    irisEngineL->setProbeForIdentification(probeL.iris.data(),
                                           static_cast<unsigned>(probeL.iris.size()));
    std::size_t bestFaceL = 0, bestIrisL = 0, bestFusedL = 0;
    float bestFaceScoreL = -1e30f, bestIrisScoreL = -1e30f, bestFusedScoreL = -1e30f;
    for (std::size_t i = 0; i < faceA.count(); ++i) {
      const float sL = faceEngineL->matchGallery(faceA.entry(i), faceA.slotBytes());
      faceScoresL[i] = sL;
      if (sL > bestFaceScoreL) bestFaceScoreL = sL, bestFaceL = i;
    }
    for (std::size_t i = 0; i < irisA.count(); ++i) {
      const float sL = irisEngineL->matchGallery(irisA.entry(i), irisA.slotBytes());
      if (sL > bestIrisScoreL) bestIrisScoreL = sL, bestIrisL = i;
      // Fused: the plain sum of both similarities (no score mapping in this demo).
      const float fusedL = sL + faceScoresL[i];
      if (fusedL > bestFusedScoreL) bestFusedScoreL = fusedL, bestFusedL = i;
    }
    faceEngineL->releaseProbe();
    irisEngineL->releaseProbe();
    outcomeA.faceHits += personIdsA[bestFaceL] == probeL.personId;
    outcomeA.irisHits += personIdsA[bestIrisL] == probeL.personId;
    outcomeA.fusedHits += personIdsA[bestFusedL] == probeL.personId;
    ++outcomeA.done;
  }
}

std::string percent(std::size_t hitsA, std::size_t ofA) {
  std::ostringstream osL;
  osL << std::fixed << std::setprecision(2) << (ofA == 0 ? 0.0 : 100.0 * hitsA / ofA) << " %";
  return osL.str();
}

int identificationDemo(const DemoOptions& optionsA) {
  std::cout << "\n== identification ==\n"
            << "  " << optionsA.identities << " identities, each with a face template ("
            << qridy::Types::algorithm2Text(qridy::AlgHgmFloat) << ", " << kFaceFloats
            << " floats) and an iris code (" << qridy::Types::algorithm2Text(qridy::AlgDaugman2010)
            << ", " << kIrisBytes << " bytes)\n"
            << "  " << optionsA.probes << " probes: noisy copies of their mates (face noise "
            << optionsA.faceNoise << ", iris turned up to " << optionsA.irisTurn
            << " positions with " << 100.0 * optionsA.irisFlips << " % of its bits flipped)\n"
            << "  processor: " << qridy::CpuFeatures::describe() << " (kernels up to "
            << qridy::CpuFeatures::levelName(qridy::CpuFeatures::level()) << ")\n";

  std::string dirL = (std::filesystem::temp_directory_path() / "quarlen-demo-XXXXXX").string();
  if (::mkdtemp(dirL.data()) == nullptr)
    throw std::runtime_error("cannot create a folder in " + dirL);
  const std::string fileL = dirL + "/gallery.qx";

  auto startL = Clock::now();
  const std::vector<Probe> probesL = writePopulation(optionsA, fileL);
  const auto fileBytesL = std::filesystem::file_size(fileL);
  std::cout << "  wrote " << optionsA.identities << " identity records (" << fileBytesL / 1000000
            << " MB) in " << std::setprecision(3) << secondsSince(startL) << " s"
            << (optionsA.keepFiles ? " to " + fileL : std::string()) << "\n";

  startL = Clock::now();
  StageMemory faceL(kFaceFloats * 4, optionsA.identities);
  StageMemory irisL(kIrisBytes, optionsA.identities);
  std::vector<unsigned long long> personIdsL;
  personIdsL.reserve(optionsA.identities);
  readGallery(fileL, optionsA.identities, faceL, irisL, personIdsL);
  std::cout << "  read them back into stage memory in " << secondsSince(startL) << " s\n";
  if (!optionsA.keepFiles) std::filesystem::remove_all(dirL);

  Outcome outcomeL;
  std::atomic<std::size_t> nextL{0};
  startL = Clock::now();
  std::vector<std::thread> workersL;
  for (unsigned t = 0; t < optionsA.threads; ++t) {
    workersL.emplace_back(identifyProbes, std::cref(probesL), std::ref(nextL), std::cref(faceL),
                          std::cref(irisL), std::cref(personIdsL), std::ref(outcomeL));
  }
  Progress progressL("scoring", probesL.size());
  while (outcomeL.done < probesL.size()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    progressL.update(outcomeL.done);
  }
  for (auto& w : workersL) w.join();
  progressL.finish();
  const double secondsL = secondsSince(startL);

  const std::size_t comparisonsL = 2 * probesL.size() * optionsA.identities;
  std::cout << "  rank-1 hit rate: face " << percent(outcomeL.faceHits, probesL.size()) << ", iris "
            << percent(outcomeL.irisHits, probesL.size()) << ", face and iris fused "
            << percent(outcomeL.fusedHits, probesL.size()) << "\n"
            << "  " << comparisonsL << " comparisons in " << secondsL << " s on "
            << optionsA.threads << " threads: " << std::setprecision(4)
            << comparisonsL / secondsL / 1e6 << " million per second ("
            << comparisonsL / secondsL / 1e6 / optionsA.threads << " per thread)\n";
  return 0;
}

}  // namespace

int runDemo(const std::vector<std::string>& args) {
  DemoOptions optionsL;
  try {
    if (!parseOptions(args, optionsL)) return 2;
  } catch (const std::exception& e) {
    std::cerr << "quarlen demo: " << e.what() << "\n";
    return 2;
  }
  int rc = runInfo({});
  if (rc != 0) return rc;
  vocabularyTour();
  return identificationDemo(optionsL);
}

}  // namespace quarlen_cli
