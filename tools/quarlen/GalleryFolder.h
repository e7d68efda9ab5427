#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include <quarlen/QueryText.h>
#include <quarlen/TemplateMatcherMultipass.h>

namespace quarlen_cli {

// A gallery folder of the gallery commands: a filled copy of a configuration ("config/"), the
// gallery files and registry ("galleries/<storage>/") and "gallery.json", which names the
// storage and pipeline the folder serves:
//   {"format": 1, "modality": "face", "storage": "face", "pipeline": "face",
//    "configuration": "<folder the configuration was copied from>"}
// Opening a folder installs its configuration file and starts a matcher from its gallery
// (init with recovery); the configuration file is uninstalled when the object goes.
class GalleryFolder {
 public:
  // The modalities a folder can be made for, with the storage and pipeline of the example
  // configuration that serve them: face (face, face), iris (iris, iris), finger (finger,
  // fourFinger).
  static bool knownModality(const std::string& modalityA);

  // Makes folderA (which must not exist or be empty) from the configuration folder sourceA
  // ("": the example configuration) for modalityA, with an empty gallery. Throws
  // std::runtime_error or kxxcp::Exception when it cannot.
  static void create(const std::string& folderA, const std::string& sourceA,
                     const std::string& modalityA);

  // Opens folderA. Throws std::runtime_error "'<folder>' is not a gallery folder (no
  // gallery.json)" and the like, or what the matcher throws.
  explicit GalleryFolder(const std::string& folderA);
  ~GalleryFolder();
  GalleryFolder(const GalleryFolder&) = delete;
  GalleryFolder& operator=(const GalleryFolder&) = delete;

  qrbase::TemplateMatcherMultipass& matcher() { return *matcherM; }
  // The attribute names of the folder's configuration.
  const qridy::QueryText& queryText() const { return *queryTextM; }
  const nlohmann::json& description() const { return descriptionM; }
  const std::string& folder() const { return folderM; }

 private:
  std::string folderM;
  nlohmann::json descriptionM;
  std::unique_ptr<qrbase::TemplateMatcherMultipass> matcherM;
  std::unique_ptr<qridy::QueryText> queryTextM;
};

}  // namespace quarlen_cli
