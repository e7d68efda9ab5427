#include "support/ConfigFiles.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace quarlen_test {

ConfigDir::ConfigDir() {
  std::string templateL = (std::filesystem::temp_directory_path() / "quarlen_test_XXXXXX").string();
  if (mkdtemp(templateL.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  pathM = templateL;
}

ConfigDir::~ConfigDir() {
  std::error_code ignoredL;
  std::filesystem::remove_all(pathM, ignoredL);
}

std::string ConfigDir::write(const std::string& nameA, const std::string& contentA) const {
  const std::string pathL = file(nameA);
  std::ofstream outL(pathL, std::ios::binary);
  outL << contentA;
  if (!outL) throw std::runtime_error("cannot write " + pathL);
  return pathL;
}

}  // namespace quarlen_test
