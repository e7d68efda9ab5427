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

#include <stdexcept>

namespace quarlen_cli {

namespace {

void readStream(std::istream& isA, const std::string& fileA,
                const std::function<void(std::unique_ptr<qridy::IdRecordImp>, std::size_t,
                                         std::size_t)>& eachA) {
  std::size_t indexL = 0;
  std::size_t bytesL = 0;
  while (isA.peek() != std::char_traits<char>::eof()) {
    auto recordL = std::make_unique<qridy::IdRecordImp>();
    const std::streamoff startL = isA.tellg();
    try {
      recordL->read(isA);
    } catch (const kxxcp::Exception& e) {
      throw std::runtime_error("'" + fileA + "': record " + std::to_string(indexL) + ": " +
                               e.getMessage());
    }
    const std::streamoff endL = isA.tellg();
    if (startL >= 0 && endL >= startL) bytesL += static_cast<std::size_t>(endL - startL);
    eachA(std::move(recordL), indexL++, bytesL);
  }
}

}  // namespace

void forEachIdRecord(const std::string& fileA,
                     const std::function<void(std::unique_ptr<qridy::IdRecordImp>, std::size_t,
                                              std::size_t)>& eachA) {
  if (fileA == "-") {
    readStream(std::cin, fileA, eachA);
    return;
  }
  std::ifstream isL(fileA, std::ios::binary);
  if (!isL) throw std::runtime_error("'" + fileA + "' cannot be opened");
  readStream(isL, fileA, eachA);
}

std::unique_ptr<qridy::IdRecordImp> readOneIdRecord(const std::string& fileA) {
  std::unique_ptr<qridy::IdRecordImp> recordL;
  forEachIdRecord(fileA, [&](std::unique_ptr<qridy::IdRecordImp> r, std::size_t i, std::size_t) {
    if (i > 0) throw std::runtime_error("'" + fileA + "' holds more than one identity record");
    recordL = std::move(r);
  });
  if (!recordL) throw std::runtime_error("'" + fileA + "' holds no identity record");
  return recordL;
}

}  // namespace quarlen_cli
