#include "RecordFile.h"

#include <fstream>
#include <iostream>
#include <vector>

#include <qrlcore/Exception.h>

namespace quarlen_cli {

bool readIdRecordFile(const char* commandA, const std::string& fileA, qridy::IdRecordImp& recordA) {
  const std::string prefixL =
      std::string("quarlen ") + commandA + ": '" + fileA + "' is not a readable identity record: ";
  std::ifstream isL(fileA, std::ios::binary);
  if (!isL) {
    std::cerr << prefixL << "the file cannot be opened\n";
    return false;
  }
  try {
    recordA.read(isL);
  } catch (const kxxcp::Exception& e) {
    std::cerr << prefixL << e.getMessage() << "\n";
    return false;
  }
  isL.clear();
  const std::streamoff usedL = isL.tellg();
  isL.seekg(0, std::ios::end);
  const std::streamoff totalL = isL.tellg();
  if (usedL >= 0 && totalL > usedL) {
    std::cerr << "quarlen " << commandA << ": note: " << (totalL - usedL)
              << " bytes after the record in '" << fileA << "' were not read\n";
  }
  return true;
}

bool singleFileArgument(const char* commandA, const std::vector<std::string>& argsA,
                        std::string& fileA) {
  if (argsA.size() != 1) {
    std::cerr << "usage: quarlen " << commandA << " FILE\n";
    return false;
  }
  fileA = argsA[0];
  return true;
}

}  // namespace quarlen_cli
