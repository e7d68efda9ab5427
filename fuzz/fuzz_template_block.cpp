// Hostile bytes into the template block reader, then its validation, copy and metadata parsing.
#include <quarlen/TemplateBlock_Common.h>

#include "RecordRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  using namespace qridy;
  auto blockL = fuzzing::roundTrip<TemplateBlock_Common>(
      dataA, sizeA, [] { return new TemplateBlock_Common(AlgUnknown); });
  if (!blockL) return 0;
  fuzzing::exercise(*blockL);
  try {
    blockL->getImpressionType();
    blockL->convertToGalleryAndProbe();
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
