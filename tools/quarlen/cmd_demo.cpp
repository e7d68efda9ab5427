// The main job: the multipass matcher at work on a population it generates itself.
//
// From the example configuration (data/config) the demo makes one matcher per modality (face:
// an hgmByte pass keeping 1000 candidates, then hgmFloat; iris: both eyes with daugman2010),
// enrols the population through addIdRecord (the galleries are kept in memory and in gallery
// files), identifies noisy probes on every probe slot at once, prints the rank-1 hit rate and
// identifications per second of each modality and one probe's result list, then drops the
// matchers, starts them again from the gallery files (init with recovery) and shows that the
// same probe gets the same answer.
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <qrlcore/Exception.h>
#include <quarlen/CpuFeatures.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateMatcherMultipass.h>
#include <quarlen/Types.h>

#include "Commands.h"
#include "DemoPopulation.h"
#include "ExampleConfig.h"
#include "Progress.h"

namespace quarlen_cli {
namespace {

using Clock = std::chrono::steady_clock;
using qrbase::TemplateMatcherMultipass;

struct DemoOptions {
  std::size_t identities = 50000;
  std::size_t probes = 400;  // per modality
  // A minutiae comparison costs about a thousand face comparisons: a smaller population.
  std::size_t fingerIdentities = 500;
  std::size_t fingerProbes = 100;
  float faceNoise = 1.0f;
  double irisFlips = 0.2;
  int irisTurn = 3;
  std::string configDir;  // "" : the example configuration
  bool keepFiles = false;
};

// One modality of the tour with the size of its population.
struct Population {
  std::unique_ptr<DemoModality> modality;
  std::size_t identities;
  std::size_t probes;
};

double secondsSince(Clock::time_point startA) {
  return std::chrono::duration<double>(Clock::now() - startA).count();
}

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
    } else if (a == "--finger-identities") {
      optionsA.fingerIdentities = std::stoul(value());
    } else if (a == "--finger-probes") {
      optionsA.fingerProbes = std::stoul(value());
    } else if (a == "--face-noise") {
      optionsA.faceNoise = std::stof(value());
    } else if (a == "--iris-flips") {
      optionsA.irisFlips = std::stod(value());
    } else if (a == "--config") {
      optionsA.configDir = value();
    } else if (a == "--keep") {
      optionsA.keepFiles = true;
    } else {
      std::cerr << "quarlen demo: unknown argument '" << a << "'\n";
      return false;
    }
  }
  optionsA.identities = std::max<std::size_t>(optionsA.identities, 1);
  optionsA.fingerIdentities = std::max<std::size_t>(optionsA.fingerIdentities, 1);
  optionsA.probes = std::min(optionsA.probes, optionsA.identities);
  optionsA.fingerProbes = std::min(optionsA.fingerProbes, optionsA.fingerIdentities);
  return true;
}

// The identity a probe is a sample of: spread over the whole population.
std::uint64_t mateOf(std::size_t probeA, const Population& populationA) {
  return (probeA * 2654435761ull) % populationA.identities;
}

std::unique_ptr<TemplateMatcherMultipass> startMatcher(const DemoModality& modalityA,
                                                       bool recoverA) {
  auto matcherL = std::make_unique<TemplateMatcherMultipass>();
  matcherL->init(modalityA.storageId().c_str(), nullptr, 0, recoverA);
  matcherL->addMatchingPipeline(modalityA.pipelineId());
  return matcherL;
}

void enrol(TemplateMatcherMultipass& matcherA, const Population& populationA) {
  const DemoModality& modalityA = *populationA.modality;
  const auto startL = Clock::now();
  Progress progressL("enrol " + modalityA.label(), populationA.identities);
  for (std::size_t i = 0; i < populationA.identities; ++i) {
    matcherA.addIdRecord(modalityA.enrolment(i).get(), nullptr, false);
    progressL.update(i + 1);
  }
  progressL.finish();
  const double secondsL = secondsSince(startL);
  std::cout << "  " << modalityA.label() << ": " << matcherA.numberOfIdRecords()
            << " records enrolled in " << std::fixed << std::setprecision(2) << secondsL << " s ("
            << std::setprecision(0) << populationA.identities / secondsL << " records/s)\n";
}

// Every probe slot identifies its share of the probes at once, one caller thread per slot.
void identifyAll(TemplateMatcherMultipass& matcherA, const Population& populationA) {
  const DemoModality& modalityA = *populationA.modality;
  const unsigned slotsL = matcherA.getMaxNumberOfParallelProbes();
  std::vector<std::unique_ptr<qridy::IdRecordImp>> probesL;
  for (std::size_t p = 0; p < populationA.probes; ++p) {
    probesL.push_back(modalityA.probe(mateOf(p, populationA), p + 1));
  }
  std::atomic<std::size_t> nextL{0}, doneL{0}, hitsL{0};
  const auto startL = Clock::now();
  std::vector<std::thread> threadsL;
  for (unsigned s = 0; s < slotsL; ++s) {
    threadsL.emplace_back([&, s] {
      for (std::size_t p = nextL++; p < probesL.size(); p = nextL++) {
        qridy::ResultTreeList resultsL;
        matcherA.identifyTransaction(probesL[p].get(), s, resultsL);
        if (resultsL.size() != 0 && resultsL[0].personId() == mateOf(p, populationA)) ++hitsL;
        ++doneL;
      }
    });
  }
  Progress progressL("identify " + modalityA.label(), probesL.size());
  while (doneL < probesL.size()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    progressL.update(doneL);
  }
  for (auto& t : threadsL) t.join();
  progressL.finish();
  const double secondsL = secondsSince(startL);
  std::cout << "  " << modalityA.label() << ": rank-1 " << std::fixed << std::setprecision(2)
            << 100.0 * static_cast<double>(hitsL) / static_cast<double>(probesL.size()) << " % of "
            << probesL.size() << " probes, " << std::setprecision(1)
            << static_cast<double>(probesL.size()) / secondsL << " identifications/s on " << slotsL
            << " probe slots\n";
}

// The best few of one probe's result list.
std::string resultTable(const qridy::ResultTreeList& resultsA, std::size_t rowsA) {
  std::ostringstream osL;
  osL << "    rank  person        transaction   score\n";
  for (std::size_t r = 0; r < std::min(rowsA, resultsA.size()); ++r) {
    osL << "    " << std::setw(4) << r + 1 << "  " << std::left << std::setw(12)
        << resultsA[r].personId() << "  " << std::setw(12) << resultsA[r].transactionId()
        << std::right << "  " << std::fixed << std::setprecision(4) << resultsA[r].getScore()
        << "\n";
  }
  return osL.str();
}

int matcherDemo(const DemoOptions& optionsA) {
  std::string workL = (std::filesystem::temp_directory_path() / "quarlen-demo-XXXXXX").string();
  if (::mkdtemp(workL.data()) == nullptr) throw std::runtime_error("cannot create " + workL);
  ExampleConfig configL(optionsA.configDir, workL);

  std::vector<Population> populationsL;
  populationsL.push_back({faceModality(optionsA.faceNoise), optionsA.identities, optionsA.probes});
  populationsL.push_back(
      {irisModality(optionsA.irisFlips, optionsA.irisTurn), optionsA.identities, optionsA.probes});
  populationsL.push_back({fingerModality(), optionsA.fingerIdentities, optionsA.fingerProbes});

  std::cout << "\n== multipass matcher ==\n"
            << "  configuration " << configL.sourceDir() << " (filled copy in "
            << configL.configDir() << ")\n"
            << "  processor: " << qridy::CpuFeatures::describe() << "\n";
  for (const Population& p : populationsL) {
    std::cout << "  " << p.modality->label() << ": " << p.identities << " identities, "
              << p.modality->describe() << "\n";
  }

  std::cout << "\n== enrolment ==\n";
  std::vector<std::unique_ptr<TemplateMatcherMultipass>> matchersL;
  for (const Population& p : populationsL) {
    matchersL.push_back(startMatcher(*p.modality, false));
    enrol(*matchersL.back(), p);
  }

  std::cout << "\n== identification ==\n";
  for (std::size_t i = 0; i < populationsL.size(); ++i) identifyAll(*matchersL[i], populationsL[i]);

  // One face probe in detail, before and after a restart from the gallery files.
  const DemoModality& faceL = *populationsL[0].modality;
  const std::uint64_t mateL = mateOf(7, populationsL[0]);
  const auto probeL = faceL.probe(mateL, 1000000007);
  qridy::ResultTreeList beforeL;
  matchersL[0]->identifyTransaction(probeL.get(), 0, beforeL);
  std::cout << "\n  a face probe of person " << mateL << ": " << beforeL.size()
            << " candidates, the best\n"
            << resultTable(beforeL, 5);

  std::cout << "\n== restart from the gallery files ==\n";
  matchersL.clear();
  const auto startL = Clock::now();
  for (const Population& p : populationsL) matchersL.push_back(startMatcher(*p.modality, true));
  std::cout << "  " << populationsL.size() << " matchers recovered in " << std::fixed
            << std::setprecision(2) << secondsSince(startL) << " s:";
  for (std::size_t i = 0; i < populationsL.size(); ++i) {
    std::cout << " " << populationsL[i].modality->label() << " "
              << matchersL[i]->numberOfIdRecords();
  }
  std::cout << " records\n";
  qridy::ResultTreeList afterL;
  matchersL[0]->identifyTransaction(probeL.get(), 0, afterL);
  std::cout << "  the same probe after the restart:\n" << resultTable(afterL, 5);
  bool sameL = afterL.size() == beforeL.size();
  for (std::size_t r = 0; sameL && r < afterL.size(); ++r) {
    sameL = afterL[r].personId() == beforeL[r].personId() &&
            afterL[r].getScore() == beforeL[r].getScore();
  }
  std::cout << "  same answer as before the restart: " << (sameL ? "yes" : "NO") << "\n";
  matchersL.clear();
  if (optionsA.keepFiles) {
    std::cout << "  galleries kept in " << configL.galleryDir() << "\n";
  } else {
    std::filesystem::remove_all(workL);
  }
  return sameL ? 0 : 1;
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
  try {
    return matcherDemo(optionsL);
  } catch (const std::exception& e) {
    std::cerr << "quarlen demo: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace quarlen_cli
