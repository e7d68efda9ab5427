#pragma once

#include <string>

namespace quarlen_test {

// A fresh directory for the configuration files of one test, removed with the object.
class ConfigDir {
 public:
  ConfigDir();
  ~ConfigDir();
  ConfigDir(const ConfigDir&) = delete;
  ConfigDir& operator=(const ConfigDir&) = delete;

  const std::string& path() const { return pathM; }
  // Writes contentA to the file nameA inside the directory; returns its full path.
  std::string write(const std::string& nameA, const std::string& contentA) const;
  // The full path of nameA inside the directory (the file need not exist).
  std::string file(const std::string& nameA) const { return pathM + "/" + nameA; }

 private:
  std::string pathM;
};

}  // namespace quarlen_test
