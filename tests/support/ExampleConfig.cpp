#include "support/ExampleConfig.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <qrlcore/QuarlenInformation.h>

namespace quarlen_test {

namespace {

std::string readAll(const std::string& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  if (!inL) throw std::runtime_error("cannot read " + pathA);
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

std::string ExampleConfig::sourceDir() {
  return std::string(QUARLEN_SOURCE_DIR) + "/data/config";
}

ExampleConfig::ExampleConfig(const std::string& extraIniA) {
  for (const char* nameL :
       {"storage.xml", "pipelines.xml", "iris_score.map", "face_commands.xml"}) {
    filesM.write(nameL, filled(nameL));
  }
  // The shipped fingerprint curves the configuration names.
  for (const char* nameL : {"l2f.txt", "l2f360.txt"}) {
    filesM.write(nameL, readAll(sourceDir() + "/../scoremapping/" + nameL));
  }
  install(extraIniA);
}

ExampleConfig::~ExampleConfig() {
  kxutl::QuarlenInformation::setConfigFile("");
}

std::string ExampleConfig::filled(const std::string& nameA) const {
  std::string textL = readAll(sourceDir() + "/" + nameA);
  replaceAll(textL, "@CONFIG_DIR@", filesM.path());
  replaceAll(textL, "@GALLERY_DIR@", galleryM.path());
  return textL;
}

void ExampleConfig::replace(const std::string& nameA, const std::string& textA) const {
  filesM.write(nameA, textA);
}

void ExampleConfig::install(const std::string& extraIniA) const {
  kxutl::QuarlenInformation::setConfigFile(
      filesM.write("quarlen.ini", filled("quarlen.ini") + "\n" + extraIniA));
}

}  // namespace quarlen_test
