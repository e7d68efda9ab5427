// Hostile query texts: the input is a query text for records of four attributes, three of them
// named. compile must refuse it with kxxcp::Exception or give words that validate; the text
// form of accepted words must compile to the same words, and an assignment text must set only
// words of the record.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/QueryText.h>

#include "RegistrySetup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  fuzzing::registryDir();
  static const qridy::QueryText textS({"region", "flags", "age"});
  const std::string inputL(reinterpret_cast<const char*>(dataA), sizeA);
  try {
    const std::vector<unsigned int> wordsL = textS.compile(inputL);
    qridy::QueryLanguage::validateQuery(wordsL.data(), wordsL.size());
    if (textS.compile(textS.toText(wordsL.data(), wordsL.size())) != wordsL) std::abort();
  } catch (const kxxcp::Exception&) {
  }
  try {
    std::vector<unsigned int> recordL(qridy::QueryLanguage::attributeSize() + 1, 0);
    textS.assign(inputL, recordL);
    if (recordL.size() != qridy::QueryLanguage::attributeSize() + 1) std::abort();
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
