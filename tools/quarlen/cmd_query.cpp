// quarlen query DIR EXPR: the word form of a query text and the records it selects.
#include <iostream>

#include <quarlen/UniqueMetadataContainer.h>

#include "Commands.h"
#include "GalleryFolder.h"
#include "Output.h"

namespace quarlen_cli {

int runQuery(const std::vector<std::string>& args) {
  const std::string commandL = "quarlen query";
  CLI::App appL = makeApp("query");
  std::string folderL, textL;
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  appL.add_option("EXPR", textL)->required();
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, args)) return kExitUsage;
  return guarded(commandL, [&] {
    GalleryFolder galleryL(folderL);
    const std::vector<unsigned int> wordsL = galleryL.queryText().compile(textL);
    std::vector<qridy::IdRecordKey> keysL;
    galleryL.matcher().getUniqueMetadataContainer()->getIdsByQueryLanguage(0, wordsL.data(), keysL);
    const std::string canonicalL = galleryL.queryText().toText(wordsL.data(), wordsL.size());
    if (jsonL) {
      nlohmann::json matchesL = nlohmann::json::array();
      for (const auto& k : keysL) matchesL.push_back(keyJson(k));
      printJson({{"query", canonicalL}, {"words", wordsL}, {"matches", matchesL}});
    } else {
      std::cout << "query: " << canonicalL << "\nwords:";
      for (unsigned int w : wordsL) std::cout << " " << w;
      std::cout << "\n" << keysL.size() << " records match\n";
      for (const auto& k : keysL) std::cout << k.personId << ":" << k.transactionId << "\n";
    }
    return 0;
  });
}

}  // namespace quarlen_cli
