// Hostile bytes into the template metadata readers (face, iris, fingerprint) and the factory
// that picks the reader from the record header.
#include <quarlen/TemplateMetaDataFace.h>
#include <quarlen/TemplateMetaDataFinger.h>
#include <quarlen/TemplateMetaDataIris.h>

#include "RecordRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  using namespace qridy;
  fuzzing::roundTrip<TemplateMetaDataBase>(dataA, sizeA, [] { return new TemplateMetaDataFace(); });
  fuzzing::roundTrip<TemplateMetaDataBase>(dataA, sizeA, [] { return new TemplateMetaDataIris(); });
  fuzzing::roundTrip<TemplateMetaDataBase>(dataA, sizeA,
                                           [] { return new TemplateMetaDataFinger(); });
  try {
    std::unique_ptr<TemplateMetaDataBase> metaL(
        TemplateMetaDataBase::createMetaData(dataA, static_cast<unsigned int>(sizeA)));
    unsigned char* bytesL = nullptr;
    unsigned int sizeL = 0;
    metaL->createData(bytesL, sizeL);
    std::unique_ptr<unsigned char[]> ownedL(bytesL);
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
