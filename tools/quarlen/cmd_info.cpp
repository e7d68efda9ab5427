#include <cstdlib>
#include <iostream>

#include <qrlcore/QuarlenInformation.h>
#include <quarlen/CpuFeatures.h>
#include <quarlen/Version.h>

#include "Commands.h"

namespace quarlen_cli {

namespace {

// Which system configuration file the library uses, and why; or why there is none.
void printConfiguration(std::ostream& osA) {
  using kxutl::QuarlenInformation;
  const std::string pathL = QuarlenInformation::configFilePath();
  osA << "configuration file: ";
  if (!pathL.empty()) {
    osA << pathL << " (" << QuarlenInformation::configFileOrigin() << ")\n";
    const std::string errorL = QuarlenInformation::configFileError();
    if (!errorL.empty()) osA << "                    unreadable: " << errorL << "\n";
    return;
  }
  const char* commonDirL = std::getenv("TOLM_COMMON_DIR");
  if (commonDirL != nullptr && *commonDirL != '\0') {
    osA << "none (no quarlen.ini in TOLM_COMMON_DIR " << commonDirL << ")\n";
  } else {
    osA << "none (neither QUARLEN_CONFIG_FILE nor TOLM_COMMON_DIR is set)\n";
  }
}

}  // namespace

int runInfo(const std::vector<std::string>& args) {
  using qridy::CpuFeatures;
  std::cout << "quarlen " << QUARLEN_VERSION_TEXT << "\n";
  printConfiguration(std::cout);
  std::cout << "debug level:        " << kxutl::QuarlenInformation::debugLevelS << "\n";
  std::cout << "processor features: " << CpuFeatures::describe() << "\n";
  std::cout << "kernel level:       " << CpuFeatures::levelName(CpuFeatures::level()) << "\n";
  return 0;
}

}  // namespace quarlen_cli
