// quarlen verify DIR PROBE GALLERY: the 1:1 score of two identity records.
#include <iomanip>
#include <iostream>

#include <quarlen/IdRecordImp.h>

#include "Commands.h"
#include "GalleryFolder.h"
#include "Output.h"
#include "RecordFile.h"

namespace quarlen_cli {

int runVerify(const std::vector<std::string>& args) {
  const std::string commandL = "quarlen verify";
  CLI::App appL = makeApp("verify");
  std::string folderL, probeFileL, galleryFileL;
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  appL.add_option("PROBE", probeFileL)->required();
  appL.add_option("GALLERY", galleryFileL)->required();
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, args)) return kExitUsage;
  return guarded(commandL, [&] {
    const auto probeL = readOneIdRecord(probeFileL);
    const auto referenceL = readOneIdRecord(galleryFileL);
    GalleryFolder galleryL(folderL);
    const qridy::ResultIdRecord resultL = galleryL.matcher().verify(probeL.get(), referenceL.get());
    if (jsonL) {
      nlohmann::json docL = candidateJson(resultL, 0);
      docL["probe"] = keyJson(probeL->idRecordKey());
      printJson(docL);
    } else {
      std::cout << "score " << std::fixed << std::setprecision(4) << resultL.getScore() << " ("
                << resultL.personId() << ":" << resultL.transactionId() << ")\n";
    }
    return 0;
  });
}

}  // namespace quarlen_cli
