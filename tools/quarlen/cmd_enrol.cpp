// quarlen enrol DIR RECORDS...: add identity records to a gallery folder.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>

#include <quarlen/IdRecordImp.h>
#include <quarlen/QueryLanguage.h>

#include "Commands.h"
#include "GalleryFolder.h"
#include "Output.h"
#include "Progress.h"
#include "RecordFile.h"

namespace quarlen_cli {

int runEnrol(const std::vector<std::string>& args) {
  const std::string commandL = "quarlen enrol";
  CLI::App appL = makeApp("enrol");
  std::string folderL, setL;
  std::vector<std::string> filesL;
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  appL.add_option("RECORDS", filesL)->required();
  appL.add_option("--set", setL);
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, args)) return kExitUsage;
  return guarded(commandL, [&] {
    GalleryFolder galleryL(folderL);
    qrbase::TemplateMatcherMultipass& mL = galleryL.matcher();
    // The attribute words every record of this run gets; word 0 defaults to the transaction id.
    std::vector<unsigned int> wordsL(qridy::QueryLanguage::attributeSize() + 1, 0);
    const std::vector<unsigned int> assignedL = galleryL.queryText().assign(setL, wordsL);
    const bool ownFirstL = std::find(assignedL.begin(), assignedL.end(), 0u) != assignedL.end();

    std::size_t totalBytesL = 0;
    for (const auto& f : filesL) {
      std::error_code ecL;
      const auto sizeL = f == "-" ? 0 : std::filesystem::file_size(f, ecL);
      if (!ecL) totalBytesL += static_cast<std::size_t>(sizeL);
    }
    std::optional<Progress> progressL;
    if (::isatty(STDERR_FILENO) && !jsonL) progressL.emplace("enrol", totalBytesL);

    const auto startL = std::chrono::steady_clock::now();
    std::size_t enrolledL = 0, doneBytesL = 0;
    for (const auto& f : filesL) {
      std::size_t fileBytesL = 0;
      forEachIdRecord(f, [&](std::unique_ptr<qridy::IdRecordImp> recordL, std::size_t indexL,
                             std::size_t bytesL) {
        qridy::QueryLanguage queryL;
        queryL.setAttributes(ownFirstL ? wordsL[0] : recordL->transactionId(), wordsL.data() + 1);
        try {
          mL.addIdRecord(recordL.get(), &queryL, false);
        } catch (const std::exception& e) {
          throw std::runtime_error("'" + f + "': record " + std::to_string(indexL) + " (" +
                                   std::to_string(recordL->personId()) + ":" +
                                   std::to_string(recordL->transactionId()) +
                                   ") was not enrolled: " + e.what());
        }
        ++enrolledL;
        fileBytesL = bytesL;
        if (progressL) progressL->update(doneBytesL + bytesL);
      });
      doneBytesL += fileBytesL;
    }
    if (progressL) progressL->finish();
    const double secondsL =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startL).count();
    if (jsonL) {
      printJson({{"enrolled", enrolledL},
                 {"persons", mL.numberOfPersons()},
                 {"records", mL.numberOfIdRecords()},
                 {"seconds", secondsL}});
    } else {
      std::cout << "enrolled " << enrolledL << " records in " << std::fixed << std::setprecision(2)
                << secondsL << " s; the gallery holds " << mL.numberOfPersons() << " persons, "
                << mL.numberOfIdRecords() << " records\n";
    }
    return 0;
  });
}

}  // namespace quarlen_cli
