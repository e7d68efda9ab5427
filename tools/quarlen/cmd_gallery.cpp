// quarlen gallery create|status: make a gallery folder, report on one.
#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "GalleryFolder.h"
#include "Output.h"

namespace quarlen_cli {

namespace {

int create(const std::vector<std::string>& argsA) {
  const std::string commandL = "quarlen gallery create";
  CLI::App appL = makeApp("gallery create");
  std::string folderL, configL, modalityL = "face";
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  appL.add_option("--config", configL);
  appL.add_option("--modality", modalityL);
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, argsA)) return kExitUsage;
  if (!GalleryFolder::knownModality(modalityL)) {
    fail(commandL, "unknown modality '" + modalityL + "' (face, iris or finger)");
    return kExitUsage;
  }
  return guarded(commandL, [&] {
    GalleryFolder::create(folderL, configL, modalityL);
    GalleryFolder galleryL(folderL);
    if (jsonL) {
      nlohmann::json docL = galleryL.description();
      docL["folder"] = std::filesystem::absolute(folderL).string();
      printJson(docL);
    } else {
      std::cout << "created " << modalityL << " gallery " << folderL << " (pipeline "
                << galleryL.description()["pipeline"].get<std::string>() << ")\n";
    }
    return 0;
  });
}

int status(const std::vector<std::string>& argsA) {
  const std::string commandL = "quarlen gallery status";
  CLI::App appL = makeApp("gallery status");
  std::string folderL;
  int levelL = 1;
  bool jsonL = false;
  appL.add_option("DIR", folderL)->required();
  appL.add_option("--level", levelL)->check(CLI::Range(1, 5));
  appL.add_flag("--json", jsonL);
  if (!parseArguments(appL, argsA)) return kExitUsage;
  return guarded(commandL, [&] {
    GalleryFolder galleryL(folderL);
    qrbase::TemplateMatcherMultipass& mL = galleryL.matcher();
    std::string reportL;
    const bool okL = mL.galleryStatus(levelL, reportL);
    if (jsonL) {
      printJson({{"ok", okL},
                 {"modality", galleryL.description().value("modality", "")},
                 {"persons", mL.numberOfPersons()},
                 {"records", mL.numberOfIdRecords()},
                 {"level", levelL},
                 {"report", reportL}});
    } else {
      std::cout << galleryL.description().value("modality", "") << " gallery " << folderL << ": "
                << mL.numberOfPersons() << " persons, " << mL.numberOfIdRecords() << " records\n"
                << reportL;
    }
    return okL ? 0 : fail(commandL, "the gallery status reports a fault");
  });
}

}  // namespace

int runGallery(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "create") return create({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "status") return status({args.begin() + 1, args.end()});
  fail("quarlen gallery", args.empty() ? "a subcommand is missing (create or status)"
                                       : "unknown subcommand '" + args[0] + "' (create or status)");
  return kExitUsage;
}

}  // namespace quarlen_cli
