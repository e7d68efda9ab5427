// Hostile bytes into the template reader (and the block readers inside it).
#include <quarlen/TemplateImp.h>

#include "RecordRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  using namespace qridy;
  auto recordL = fuzzing::roundTrip<TemplateImp>(dataA, sizeA, [] { return new TemplateImp(); });
  if (recordL) fuzzing::exercise(*recordL);
  return 0;
}
