// quarlen remove DIR --person P | --key P:T | --query EXPR: take records out of a gallery.
#include <iostream>

#include "Commands.h"
#include "GalleryFolder.h"
#include "Output.h"

namespace quarlen_cli {

int runRemove(const std::vector<std::string>& args) {
  const std::string commandL = "quarlen remove";
  CLI::App appL = makeApp("remove");
  std::string folderL, keyTextL, queryTextL;
  unsigned long long personL = 0;
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  auto* personOptL = appL.add_option("--person", personL);
  auto* keyOptL = appL.add_option("--key", keyTextL);
  auto* queryOptL = appL.add_option("--query", queryTextL);
  appL.add_flag("--json", jsonL);
  personOptL->excludes(keyOptL)->excludes(queryOptL);
  keyOptL->excludes(queryOptL);
  if (!parseArguments(appL, args)) return kExitUsage;
  qridy::IdRecordKey keyL;
  if (personOptL->count() + keyOptL->count() + queryOptL->count() == 0) {
    fail(commandL, "one of --person, --key or --query is required");
    return kExitUsage;
  }
  if (keyOptL->count() != 0 && !parseKey(keyTextL, keyL)) {
    fail(commandL, "--key wants PERSON:TRANSACTION, not '" + keyTextL + "'");
    return kExitUsage;
  }
  return guarded(commandL, [&] {
    GalleryFolder galleryL(folderL);
    qrbase::TemplateMatcherMultipass& mL = galleryL.matcher();
    const std::size_t beforeL = mL.numberOfIdRecords();
    if (personOptL->count() != 0) {
      if (!mL.exists(personL)) {
        throw std::runtime_error("person " + std::to_string(personL) + " is not in the gallery");
      }
      if (!mL.destroyIdRecords(personL)) throw std::runtime_error("the removal failed");
    } else if (keyOptL->count() != 0) {
      if (!mL.exists(keyL))
        throw std::runtime_error("record " + keyTextL + " is not in the gallery");
      if (!mL.destroyIdRecord(keyL)) throw std::runtime_error("the removal failed");
    } else {
      const std::vector<unsigned int> wordsL = galleryL.queryText().compile(queryTextL);
      mL.destroyIdRecordsByQueryLanguage(wordsL.data(), wordsL.size());
    }
    const std::size_t removedL = beforeL - mL.numberOfIdRecords();
    if (jsonL) {
      printJson({{"removed", removedL},
                 {"persons", mL.numberOfPersons()},
                 {"records", mL.numberOfIdRecords()}});
    } else {
      std::cout << "removed " << removedL << " records; the gallery holds " << mL.numberOfPersons()
                << " persons, " << mL.numberOfIdRecords() << " records\n";
    }
    return 0;
  });
}

}  // namespace quarlen_cli
