// The multipass matcher on the example configuration (data/config): a synthetic face gallery is
// enrolled through TemplateMatcherMultipass, probes are identified on every probe slot at once
// through the two-pass face pipeline (hgmByte, then hgmFloat), and the gallery is reopened with
// recovery and gives the same answers.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
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

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass.h>

#include "Commands.h"

namespace quarlen_cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kFaceDimension = 128;

struct MatcherOptions {
  std::string configDir;
  std::size_t identities = 2000;
  std::size_t probes = 1000;
  bool keep = false;
};

double secondsSince(Clock::time_point startA) {
  return std::chrono::duration<double>(Clock::now() - startA).count();
}

std::string readAll(const std::string& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  if (!inL) throw std::runtime_error("cannot read " + pathA);
  std::ostringstream osL;
  osL << inL.rdbuf();
  return osL.str();
}

// Copies the files of configDirA into outDirA with @CONFIG_DIR@ and @GALLERY_DIR@ filled.
void fillConfiguration(const std::string& configDirA, const std::string& outDirA,
                       const std::string& galleryDirA) {
  for (const auto& entryL : std::filesystem::directory_iterator(configDirA)) {
    if (!entryL.is_regular_file()) continue;
    std::string textL = readAll(entryL.path().string());
    for (const auto& [fromL, toL] : {std::pair<std::string, std::string>{"@CONFIG_DIR@", outDirA},
                                     {"@GALLERY_DIR@", galleryDirA}}) {
      for (std::size_t posL = textL.find(fromL); posL != std::string::npos;
           posL = textL.find(fromL, posL + toL.size())) {
        textL.replace(posL, fromL.size(), toL);
      }
    }
    std::ofstream(outDirA + "/" + entryL.path().filename().string(), std::ios::binary) << textL;
  }
}

// A face record of identity idA: a random unit vector (hgmFloat) and its byte form (hgmByte);
// noiseA > 0 disturbs the vector first (a probe of the identity).
std::unique_ptr<qridy::IdRecordImp> faceRecord(std::uint64_t personIdA, std::uint64_t idA,
                                               float noiseA, std::uint64_t noiseSeedA) {
  std::mt19937_64 identityL(idA * 0x9E3779B97F4A7C15ull + 1);
  std::mt19937_64 noiseL(noiseSeedA);
  // One distribution per generator: a distribution may keep a value it drew from one of them.
  std::normal_distribution<float> featureL, disturbanceL;
  std::vector<float> vL(kFaceDimension);
  double sumL = 0.0;
  for (float& x : vL) {
    x = featureL(identityL);
    if (noiseA > 0.0f) x += noiseA * disturbanceL(noiseL);
    sumL += static_cast<double>(x) * x;
  }
  for (float& x : vL) x = static_cast<float>(x / std::sqrt(sumL));
  std::vector<signed char> bytesL(kFaceDimension);
  for (unsigned i = 0; i < kFaceDimension; ++i) {
    bytesL[i] = static_cast<signed char>(
        std::clamp(std::lround(vL[i] * kxegm::ByteMinimalGraph::scale()), -127L, 127L));
  }
  auto recordL = std::make_unique<qridy::IdRecordImp>();
  recordL->setIdRecordKey(qridy::IdRecordKey(personIdA, personIdA));
  const KXuint128 sampleL{1, personIdA};
  auto add = [&](qridy::Algorithm algorithmA, const void* dataA, unsigned sizeA) {
    std::unique_ptr<qridy::TemplateBlockImp> blockL(
        qridy::TemplateBlockImp::createTemplateBlock(algorithmA));
    const auto* pL = static_cast<const unsigned char*>(dataA);
    blockL->setData(pL, sizeA, pL, sizeA, false);
    recordL->addTemplateBlock(blockL.release(), qridy::ModalityFace, qridy::InstanceFaceFrontal,
                              sampleL);
  };
  add(qridy::AlgHgmFloat, vL.data(), kFaceDimension * 4);
  add(qridy::AlgHgmByte, bytesL.data(), kFaceDimension);
  return recordL;
}

std::unique_ptr<qrbase::TemplateMatcherMultipass> openMatcher(bool recoverA) {
  auto mL = std::make_unique<qrbase::TemplateMatcherMultipass>();
  mL->init("face", nullptr, 0, recoverA);
  mL->addMatchingPipeline("face");
  return mL;
}

// Identifies probes [0, countA) on every slot at once (probe i on slot i mod slots); returns
// the rank-1 person of each.
std::vector<std::uint64_t> identifyAll(qrbase::TemplateMatcherMultipass& matcherA,
                                       std::size_t countA, std::size_t identitiesA) {
  std::vector<std::uint64_t> rankOneL(countA, 0);
  const unsigned slotsL = matcherA.getMaxNumberOfParallelProbes();
  std::vector<std::thread> threadsL;
  std::atomic<bool> failedL{false};
  for (unsigned s = 0; s < slotsL; ++s) {
    threadsL.emplace_back([&, s] {
      try {
        for (std::size_t i = s; i < countA; i += slotsL) {
          const std::uint64_t personL = 1 + (i * 7919) % identitiesA;
          qridy::ResultTreeList listL;
          matcherA.identifyTransaction(faceRecord(0, personL, 0.35f, 1000 + i).get(), s, listL);
          rankOneL[i] = listL.size() > 0 ? listL[0].personId() : 0;
        }
      } catch (const std::exception& eA) {
        std::cerr << "  slot " << s << ": " << eA.what() << "\n";
        failedL = true;
      }
    });
  }
  for (std::thread& t : threadsL) t.join();
  if (failedL) throw std::runtime_error("identification failed");
  return rankOneL;
}

bool parseMatcherOptions(const std::vector<std::string>& argsA, MatcherOptions& optionsA) {
  for (std::size_t i = 0; i < argsA.size(); ++i) {
    const std::string& a = argsA[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argsA.size()) throw std::invalid_argument(a + " needs a value");
      return argsA[++i];
    };
    if (a == "--config") {
      optionsA.configDir = value();
    } else if (a == "--identities") {
      optionsA.identities = std::max<std::size_t>(1, std::stoul(value()));
    } else if (a == "--probes") {
      optionsA.probes = std::stoul(value());
    } else if (a == "--keep") {
      optionsA.keep = true;
    } else {
      std::cerr << "quarlen matcher: unknown argument '" << a << "'\n";
      return false;
    }
  }
  if (optionsA.configDir.empty()) {
    std::cerr << "quarlen matcher: --config is required\n";
    return false;
  }
  return true;
}

}  // namespace

int runMatcher(const std::vector<std::string>& args) {
  MatcherOptions optionsL;
  try {
    if (!parseMatcherOptions(args, optionsL)) return 2;
  } catch (const std::exception& e) {
    std::cerr << "quarlen matcher: " << e.what() << "\n";
    return 2;
  }
  std::string dirL = (std::filesystem::temp_directory_path() / "quarlen-matcher-XXXXXX").string();
  if (::mkdtemp(dirL.data()) == nullptr) {
    std::cerr << "quarlen matcher: cannot create a folder in " << dirL << "\n";
    return 1;
  }
  int rcL = 0;
  try {
    fillConfiguration(optionsL.configDir, dirL, dirL + "/gallery");
    kxutl::QuarlenInformation::setConfigFile(dirL + "/quarlen.ini");
    std::cout << "\n== multipass matcher ==\n  configuration " << optionsL.configDir
              << " (filled copy in " << dirL << "), storage \"face\", pipeline \"face\"\n";

    auto matcherL = openMatcher(false);
    auto startL = Clock::now();
    for (std::uint64_t p = 1; p <= optionsL.identities; ++p) {
      matcherL->addIdRecord(faceRecord(p, p, 0.0f, 0).get(), nullptr, false);
    }
    const double enrolSecondsL = secondsSince(startL);
    std::cout << "  enrolled " << optionsL.identities << " identities in " << std::setprecision(3)
              << enrolSecondsL << " s (" << optionsL.identities / enrolSecondsL
              << " per second, memory stages and gallery files)\n";

    startL = Clock::now();
    const std::vector<std::uint64_t> firstL =
        identifyAll(*matcherL, optionsL.probes, optionsL.identities);
    const double identifySecondsL = secondsSince(startL);
    std::size_t hitsL = 0;
    for (std::size_t i = 0; i < firstL.size(); ++i) {
      hitsL += firstL[i] == 1 + (i * 7919) % optionsL.identities;
    }
    std::cout << "  " << optionsL.probes << " probes on "
              << matcherL->getMaxNumberOfParallelProbes()
              << " probe slots at once: rank-1 hit rate "
              << (optionsL.probes == 0 ? 0.0 : 100.0 * hitsL / optionsL.probes) << " %, "
              << optionsL.probes / identifySecondsL << " identifications per second\n";

    matcherL.reset();
    startL = Clock::now();
    matcherL = openMatcher(true);
    std::cout << "  reopened with recovery in " << secondsSince(startL)
              << " s: " << matcherL->numberOfIdRecords() << " records\n";
    const std::vector<std::uint64_t> againL =
        identifyAll(*matcherL, optionsL.probes, optionsL.identities);
    std::cout << "  the same rank-1 answers after the restart: "
              << (againL == firstL ? "yes" : "NO") << "\n";
    rcL = againL == firstL ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "quarlen matcher: " << e.what() << "\n";
    rcL = 1;
  }
  kxutl::QuarlenInformation::setConfigFile("");
  if (!optionsL.keep) std::filesystem::remove_all(dirL);
  return rcL;
}

}  // namespace quarlen_cli
