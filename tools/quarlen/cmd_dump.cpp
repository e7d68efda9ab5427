// quarlen dump FILE: the listing of a stored identity record.
#include <iostream>

#include <quarlen/IdRecordImp.h>

#include "Commands.h"
#include "RecordFile.h"

namespace quarlen_cli {

int runDump(const std::vector<std::string>& args) {
  std::string fileL;
  if (!singleFileArgument("dump", args, fileL)) return 2;
  qridy::IdRecordImp recordL;
  if (!readIdRecordFile("dump", fileL, recordL)) return 1;
  recordL.info(std::cout);
  return 0;
}

}  // namespace quarlen_cli
