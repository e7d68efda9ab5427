#pragma once

// The example configuration of data/config (system configuration, storage and pipelines),
// filled in and installed for a test: @CONFIG_DIR@ becomes the folder of the filled copies,
// @GALLERY_DIR@ a fresh folder for the galleries. The installed configuration can be extended
// by further INI lines and replaced pipeline or storage files.

#include <string>

#include "support/Environment.h"

namespace quarlen_test {

class ExampleConfig {
 public:
  // Installs the filled copy of data/config/quarlen.ini (extraIniA appended: later keys win).
  explicit ExampleConfig(const std::string& extraIniA = "");
  // Restores the configuration lookup through the environment.
  ~ExampleConfig();
  ExampleConfig(const ExampleConfig&) = delete;
  ExampleConfig& operator=(const ExampleConfig&) = delete;

  // The folder of the example files in the source tree.
  static std::string sourceDir();
  // The file nameA of data/config with the placeholders filled.
  std::string filled(const std::string& nameA) const;
  // Replaces the filled copy of nameA (storage.xml, pipelines.xml) by textA.
  void replace(const std::string& nameA, const std::string& textA) const;
  // Installs the configuration again (after replace or to start from a fresh file state).
  void install(const std::string& extraIniA = "") const;

  const std::string& configDir() const { return filesM.path(); }
  const std::string& galleryDir() const { return galleryM.path(); }
  // The gallery folder the storage of idA names.
  std::string galleryOf(const std::string& storageIdA) const {
    return galleryM.path() + "/" + storageIdA;
  }

 private:
  TempDir filesM;
  TempDir galleryM;
};

}  // namespace quarlen_test
