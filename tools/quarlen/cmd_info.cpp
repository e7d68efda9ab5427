#include <iostream>

#include <quarlen/CpuFeatures.h>
#include <quarlen/Version.h>

#include "Commands.h"

namespace quarlen_cli {

int runInfo(const std::vector<std::string>& args) {
  using qridy::CpuFeatures;
  std::cout << "quarlen " << QUARLEN_VERSION_TEXT << "\n";
  std::cout << "processor features: " << CpuFeatures::describe() << "\n";
  std::cout << "kernel level:       " << CpuFeatures::levelName(CpuFeatures::level()) << "\n";
  return 0;
}

}  // namespace quarlen_cli
