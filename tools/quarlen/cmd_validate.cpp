// quarlen validate FILE: the validation text of a stored identity record.
#include <iostream>

#include <quarlen/IdRecordImp.h>

#include "Commands.h"
#include "RecordFile.h"

namespace quarlen_cli {

int runValidate(const std::vector<std::string>& args) {
  std::string fileL;
  if (!singleFileArgument("validate", args, fileL)) return 2;
  qridy::IdRecordImp recordL;
  if (!readIdRecordFile("validate", fileL, recordL)) return 1;
  std::string textL;
  const bool validL = recordL.validate(textL);
  std::cout << textL;
  if (!validL) {
    std::cerr << "quarlen validate: '" << fileL << "' failed validation"
              << (recordL.nBioRecords() == 0 ? " (the record holds no biometric records)" : "")
              << "\n";
    return 1;
  }
  return 0;
}

}  // namespace quarlen_cli
