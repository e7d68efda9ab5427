// Hostile bytes into the biometric record reader (and every reader nested in it).
#include <quarlen/BioRecordImp.h>

#include "RecordRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  using namespace qridy;
  auto recordL = fuzzing::roundTrip<BioRecordImp>(dataA, sizeA, [] { return new BioRecordImp(); });
  if (recordL) fuzzing::exercise(*recordL);
  return 0;
}
