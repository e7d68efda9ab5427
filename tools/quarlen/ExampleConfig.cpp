#include "ExampleConfig.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <qrlcore/QuarlenInformation.h>

namespace quarlen_cli {

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  if (!inL) throw std::runtime_error("cannot read " + pathA.string());
  std::ostringstream osL;
  osL << inL.rdbuf();
  return osL.str();
}

void replaceAll(std::string& textA, const std::string& fromA, const std::string& toA) {
  for (std::size_t posL = textA.find(fromA); posL != std::string::npos;
       posL = textA.find(fromA, posL + toA.size())) {
    textA.replace(posL, fromA.size(), toA);
  }
}

}  // namespace

std::string ExampleConfig::defaultSourceDir() {
  for (const char* candidateL :
       {QUARLEN_SOURCE_DATA_DIR "/config", QUARLEN_INSTALL_DATA_DIR "/config"}) {
    if (fs::exists(fs::path(candidateL) / "quarlen.ini")) return candidateL;
  }
  throw std::runtime_error("no example configuration in " QUARLEN_SOURCE_DATA_DIR
                           "/config or " QUARLEN_INSTALL_DATA_DIR "/config");
}

ExampleConfig::ExampleConfig(const std::string& sourceDirA, const std::string& workDirA)
    : sourceM(sourceDirA.empty() ? defaultSourceDir() : sourceDirA),
      configM(workDirA + "/config"),
      galleryM(workDirA + "/galleries") {
  fs::create_directories(configM);
  fs::create_directories(galleryM);
  for (const auto& entryL : fs::directory_iterator(sourceM)) {
    if (!entryL.is_regular_file()) continue;
    std::string textL = readAll(entryL.path());
    replaceAll(textL, "@CONFIG_DIR@", configM);
    replaceAll(textL, "@GALLERY_DIR@", galleryM);
    const fs::path outL = fs::path(configM) / entryL.path().filename();
    std::ofstream osL(outL, std::ios::binary);
    if (!(osL << textL)) throw std::runtime_error("cannot write " + outL.string());
  }
  // The shipped score-mapping curves the configuration names.
  const fs::path curvesL = fs::path(sourceM).parent_path() / "scoremapping";
  if (fs::is_directory(curvesL)) {
    for (const auto& entryL : fs::directory_iterator(curvesL)) {
      if (entryL.is_regular_file()) {
        fs::copy_file(entryL.path(), fs::path(configM) / entryL.path().filename(),
                      fs::copy_options::overwrite_existing);
      }
    }
  }
  kxutl::QuarlenInformation::setConfigFile(iniFile());
}

ExampleConfig::~ExampleConfig() {
  kxutl::QuarlenInformation::setConfigFile("");
}

}  // namespace quarlen_cli
