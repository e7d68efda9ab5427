#include "GalleryFolder.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

#include "ExampleConfig.h"

namespace quarlen_cli {

namespace fs = std::filesystem;

namespace {

struct ModalityRow {
  const char* modality;
  const char* storage;
  const char* pipeline;
};

constexpr ModalityRow kModalities[] = {
    {"face", "face", "face"},
    {"iris", "iris", "iris"},
    {"finger", "finger", "fourFinger"},
};

const char* const kDescriptionFile = "gallery.json";
// The code of the error "Failed to recover gallery, no cache found.".
constexpr int kNoRegistryCode = 515;

std::unique_ptr<qrbase::TemplateMatcherMultipass> startMatcher(const nlohmann::json& descriptionA,
                                                               bool recoverA) {
  auto matcherL = std::make_unique<qrbase::TemplateMatcherMultipass>();
  const std::string storageL = descriptionA.at("storage").get<std::string>();
  matcherL->init(storageL.c_str(), nullptr, 0, recoverA);
  matcherL->addMatchingPipeline(descriptionA.at("pipeline").get<std::string>());
  return matcherL;
}

}  // namespace

bool GalleryFolder::knownModality(const std::string& modalityA) {
  for (const auto& row : kModalities) {
    if (modalityA == row.modality) return true;
  }
  return false;
}

void GalleryFolder::create(const std::string& folderA, const std::string& sourceA,
                           const std::string& modalityA) {
  const ModalityRow* rowL = nullptr;
  for (const auto& row : kModalities) {
    if (modalityA == row.modality) rowL = &row;
  }
  if (rowL == nullptr) throw std::runtime_error("unknown modality '" + modalityA + "'");
  const fs::path folderL = fs::absolute(folderA);
  if (fs::exists(folderL) && !(fs::is_directory(folderL) && fs::is_empty(folderL))) {
    throw std::runtime_error("'" + folderA + "' exists and is not an empty folder");
  }
  fs::create_directories(folderL);
  nlohmann::json descriptionL = {{"format", 1},
                                 {"modality", rowL->modality},
                                 {"storage", rowL->storage},
                                 {"pipeline", rowL->pipeline}};
  {
    ExampleConfig configL(sourceA, folderL.string());
    descriptionL["configuration"] = fs::absolute(configL.sourceDir()).string();
    // The empty gallery: its files and registry are made by a first start without recovery.
    startMatcher(descriptionL, false);
  }
  std::ofstream osL(folderL / kDescriptionFile);
  if (!(osL << descriptionL.dump(2) << "\n")) {
    throw std::runtime_error("cannot write " + (folderL / kDescriptionFile).string());
  }
}

GalleryFolder::GalleryFolder(const std::string& folderA) : folderM(folderA) {
  const fs::path folderL = fs::absolute(folderA);
  std::ifstream isL(folderL / kDescriptionFile);
  if (!isL) {
    throw std::runtime_error("'" + folderA + "' is not a gallery folder (no " + kDescriptionFile +
                             ")");
  }
  descriptionM = nlohmann::json::parse(isL, nullptr, false);
  if (!descriptionM.is_object() || !descriptionM.contains("storage") ||
      !descriptionM["storage"].is_string() || !descriptionM.contains("pipeline") ||
      !descriptionM["pipeline"].is_string()) {
    throw std::runtime_error("'" + folderA + "' has a damaged " + kDescriptionFile);
  }
  kxutl::QuarlenInformation::setConfigFile((folderL / "config" / "quarlen.ini").string());
  try {
    queryTextM = std::make_unique<qridy::QueryText>(qridy::QueryText::fromConfiguration());
    try {
      matcherM = startMatcher(descriptionM, true);
    } catch (const kxxcp::Exception& e) {
      // A gallery that never held a record has no registry file yet: it starts empty.
      if (e.errorCode() != kNoRegistryCode) throw;
      matcherM = startMatcher(descriptionM, false);
    }
  } catch (...) {
    kxutl::QuarlenInformation::setConfigFile("");
    throw;
  }
}

GalleryFolder::~GalleryFolder() {
  matcherM.reset();
  kxutl::QuarlenInformation::setConfigFile("");
}

}  // namespace quarlen_cli
