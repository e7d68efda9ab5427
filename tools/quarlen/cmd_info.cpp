#include <iostream>

#include <quarlen/Version.h>

#include "Commands.h"

namespace quarlen_cli {

int runInfo(const std::vector<std::string>& args) {
  std::cout << "quarlen " << QUARLEN_VERSION_TEXT << "\n";
  return 0;
}

}  // namespace quarlen_cli
