#pragma once

// A result list as texts to compare lists by: one text per record with every score of its tree
// (identity, biometric records, templates, blocks; 9 digits), in an order that does not depend
// on how equal scores were sorted: by score (highest first), then person and transaction.

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <quarlen/ResultTreeList.h>

namespace quarlen_test {

inline std::vector<std::string> resultListTexts(const qridy::ResultTreeList& listA) {
  std::vector<const qridy::ResultIdRecord*> recordsL;
  for (const auto& rL : listA.resultIdRecordVector()) recordsL.push_back(&rL);
  std::sort(recordsL.begin(), recordsL.end(), [](const auto* aA, const auto* bA) {
    return std::make_tuple(-aA->getScore(), aA->personId(), aA->transactionId()) <
           std::make_tuple(-bA->getScore(), bA->personId(), bA->transactionId());
  });
  std::vector<std::string> outL;
  for (const auto* rL : recordsL) {
    std::ostringstream osL;
    osL.precision(9);
    rL->infoCsv(osL, 3);
    outL.push_back(osL.str());
  }
  return outL;
}

}  // namespace quarlen_test
