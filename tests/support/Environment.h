#pragma once

// Test helpers for code that reads the environment and the file system.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace quarlen_test {

// Sets (or, with nullopt, unsets) an environment variable for the lifetime of the object and
// restores the previous state afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::string nameA, std::optional<std::string> valueA) : nameM(std::move(nameA)) {
    if (const char* oldL = ::getenv(nameM.c_str())) previousM = oldL;
    if (valueA) {
      ::setenv(nameM.c_str(), valueA->c_str(), 1);
    } else {
      ::unsetenv(nameM.c_str());
    }
  }
  ~ScopedEnv() {
    if (previousM) {
      ::setenv(nameM.c_str(), previousM->c_str(), 1);
    } else {
      ::unsetenv(nameM.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string nameM;
  std::optional<std::string> previousM;
};

// A fresh folder below the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string templateL = (std::filesystem::temp_directory_path() / "quarlen-test-XXXXXX");
    if (::mkdtemp(templateL.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    pathM = templateL;
  }
  ~TempDir() {
    std::error_code ignoredL;
    std::filesystem::remove_all(pathM, ignoredL);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return pathM; }
  // Writes textA to the file nameA inside the folder; returns its path.
  std::string write(const std::string& nameA, const std::string& textA) const {
    const std::string fileL = pathM + "/" + nameA;
    std::ofstream(fileL, std::ios::binary) << textA;
    return fileL;
  }

 private:
  std::string pathM;
};

}  // namespace quarlen_test
