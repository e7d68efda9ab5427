// Hostile bytes into the identity record reader (and every reader nested in it), then its queries.
#include <quarlen/IdRecordImp.h>

#include "RecordRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  using namespace qridy;
  auto recordL = fuzzing::roundTrip<IdRecordImp>(dataA, sizeA, [] { return new IdRecordImp(); });
  if (!recordL) return 0;
  fuzzing::exercise(*recordL);
  recordL->getTemplateKeys(ModalityAny, InstanceAny);
  recordL->containsOnlyOneSamplePerInstance();
  std::ostringstream infoL;
  try {
    recordL->info(infoL);
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
