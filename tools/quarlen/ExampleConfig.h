#pragma once

#include <string>

namespace quarlen_cli {

// The example configuration (data/config: system configuration, storage and pipelines) made
// usable: the placeholders @CONFIG_DIR@ and @GALLERY_DIR@ of its files are filled with a folder
// of filled copies and a gallery folder, and the filled system configuration is installed.
class ExampleConfig {
 public:
  // sourceDirA: the folder of the example files ("" looks in the source tree and then in the
  // installed data folder). workDirA: where the filled copies ("config/") and the galleries
  // ("galleries/") go. Throws std::runtime_error when a file cannot be read or written.
  ExampleConfig(const std::string& sourceDirA, const std::string& workDirA);
  ~ExampleConfig();
  ExampleConfig(const ExampleConfig&) = delete;
  ExampleConfig& operator=(const ExampleConfig&) = delete;

  const std::string& sourceDir() const { return sourceM; }
  const std::string& configDir() const { return configM; }
  const std::string& galleryDir() const { return galleryM; }
  // The system configuration file that is installed.
  std::string iniFile() const { return configM + "/quarlen.ini"; }

  // The default source folder: the source tree's data/config, else the installed one.
  static std::string defaultSourceDir();

 private:
  std::string sourceM;
  std::string configM;
  std::string galleryM;
};

}  // namespace quarlen_cli
