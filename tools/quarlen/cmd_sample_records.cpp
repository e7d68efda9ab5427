// quarlen sample-records OUT: identity records of a synthetic population to try the gallery
// commands with.
#include <filesystem>
#include <fstream>
#include <iostream>

#include <quarlen/IdRecordImp.h>

#include "Commands.h"
#include "DemoPopulation.h"
#include "Output.h"

namespace quarlen_cli {

namespace {

void writeRecord(const qridy::IdRecordImp& recordA, std::ostream& osA, const std::string& fileA) {
  if (!recordA.write(osA)) throw std::runtime_error("cannot write " + fileA);
}

}  // namespace

int runSampleRecords(const std::vector<std::string>& args) {
  const std::string commandL = "quarlen sample-records";
  CLI::App appL = makeApp("sample-records");
  std::string folderL, modalityL = "face";
  std::size_t identitiesL = 100, probesL = 3;
  bool jsonL = false;
  appL.add_option("OUT", folderL)->required();
  appL.add_option("--modality", modalityL);
  appL.add_option("--identities", identitiesL)->check(CLI::PositiveNumber);
  appL.add_option("--probes", probesL);
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, args)) return kExitUsage;
  std::unique_ptr<DemoModality> populationL;
  if (modalityL == "face") populationL = faceModality(1.0f);
  if (modalityL == "iris") populationL = irisModality(0.2, 3);
  if (modalityL == "finger") populationL = fingerModality();
  if (!populationL) {
    fail(commandL, "unknown modality '" + modalityL + "' (face, iris or finger)");
    return kExitUsage;
  }
  probesL = std::min(probesL, identitiesL);
  return guarded(commandL, [&] {
    namespace fs = std::filesystem;
    fs::create_directories(folderL);
    const std::string streamL = (fs::path(folderL) / "gallery.qir").string();
    std::ofstream osL(streamL, std::ios::binary);
    for (std::size_t i = 0; i < identitiesL; ++i) {
      writeRecord(*populationL->enrolment(i), osL, streamL);
    }
    nlohmann::json filesL = nlohmann::json::array();
    for (std::size_t i = 0; i < probesL; ++i) {
      for (const char* kindL : {"probe", "mate"}) {
        const std::string fileL =
            (fs::path(folderL) / (std::string(kindL) + "-" + std::to_string(i) + ".qir")).string();
        std::ofstream fL(fileL, std::ios::binary);
        const auto recordL =
            kindL[0] == 'p' ? populationL->probe(i, 1000 + i) : populationL->enrolment(i);
        writeRecord(*recordL, fL, fileL);
        filesL.push_back(fileL);
      }
    }
    if (jsonL) {
      printJson({{"gallery", streamL}, {"records", identitiesL}, {"files", filesL}});
    } else {
      std::cout << "wrote " << identitiesL << " " << modalityL << " records to " << streamL
                << " and " << probesL << " probes (probe-<i>.qir of person i, mate-<i>.qir its"
                << " enrolment record)\n";
    }
    return 0;
  });
}

}  // namespace quarlen_cli
