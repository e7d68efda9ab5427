// quarlen identify DIR PROBE: the best candidates of a gallery folder for a probe record.
#include <chrono>
#include <iostream>

#include <quarlen/IdRecordImp.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeList.h>

#include "Commands.h"
#include "GalleryFolder.h"
#include "Output.h"
#include "RecordFile.h"

namespace quarlen_cli {

int runIdentify(const std::vector<std::string>& args) {
  const std::string commandL = "quarlen identify";
  CLI::App appL = makeApp("identify");
  std::string folderL, probeFileL, queryTextL;
  std::size_t topL = 10;
  unsigned int slotL = 0;
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  appL.add_option("PROBE", probeFileL)->required();
  appL.add_option("--top", topL)->check(CLI::PositiveNumber);
  appL.add_option("--query", queryTextL);
  appL.add_option("--slot", slotL);
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, args)) return kExitUsage;
  return guarded(commandL, [&] {
    const auto probeL = readOneIdRecord(probeFileL);
    GalleryFolder galleryL(folderL);
    qrbase::TemplateMatcherMultipass& mL = galleryL.matcher();
    if (slotL >= mL.getMaxNumberOfParallelProbes()) {
      throw std::runtime_error("probe slot " + std::to_string(slotL) + " does not exist (0 to " +
                               std::to_string(mL.getMaxNumberOfParallelProbes() - 1) + ")");
    }
    nlohmann::json queryJsonL = nullptr;
    qridy::ProbeDescriptor descriptorL;
    const auto startL = std::chrono::steady_clock::now();
    if (!queryTextL.empty()) {
      const std::vector<unsigned int> wordsL = galleryL.queryText().compile(queryTextL);
      queryJsonL = galleryL.queryText().toText(wordsL.data(), wordsL.size());
      descriptorL.setQuery(wordsL.data(), wordsL.size());
    }
    qridy::ResultTreeList resultsL;
    mL.identifyTransaction(probeL.get(), slotL, resultsL, &descriptorL);
    const double secondsL =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startL).count();
    if (jsonL) {
      printJson({{"probe", keyJson(probeL->idRecordKey())},
                 {"slot", slotL},
                 {"query", queryJsonL},
                 {"gallery_records", mL.numberOfIdRecords()},
                 {"seconds", secondsL},
                 {"candidates", candidatesJson(resultsL, topL)}});
    } else {
      std::cout << candidatesTable(resultsL, topL);
    }
    return 0;
  });
}

}  // namespace quarlen_cli
