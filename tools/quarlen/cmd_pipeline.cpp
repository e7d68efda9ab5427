#include <iostream>

#include <quarlen/MultipassConfig.h>

#include "Commands.h"

namespace quarlen_cli {

int runPipeline(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::cerr << "usage: quarlen pipeline FILE ID\n";
    return 2;
  }
  qrbase::MultipassConfig configL;
  configL.read(args[0], args[1]);  // errors reach main, which prints the message
  configL.info(std::cout);
  if (configL.getNumberOfStages() == 0) {
    std::cerr << "quarlen pipeline: no passes are configured in section '" << args[1] << "'\n";
  }
  return 0;
}

}  // namespace quarlen_cli
