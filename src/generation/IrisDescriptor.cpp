#include <quarlen/IrisDescriptor.h>

#include "common/Coding.h"
#include "generation/DescriptorStream.h"

namespace qrbase {

IrisDescriptor::~IrisDescriptor() = default;

void IrisDescriptor::setProbeData(const unsigned char* dataA, std::uint32_t sizeA) {
  if (dataA == nullptr) sizeA = 0;
  probeDataM.assign(dataA, dataA + sizeA);
}

void IrisDescriptor::setGalleryData(const unsigned char* dataA, std::uint32_t sizeA) {
  if (dataA == nullptr) sizeA = 0;
  galleryDataM.assign(dataA, dataA + sizeA);
}

void IrisDescriptor::write(std::ostream& osA, bool withInputImageA) const {
  writeHeader(osA);
  qridy::coding::putFixed32(osA, 0);  // no item of an iris descriptor is streamed
  descriptorstream::checkWritten(osA, "qrbase::IrisDescriptor::write");
}

void IrisDescriptor::read(std::istream& isA, const qrimg::Image* imageA) {
  *this = IrisDescriptor();
  readHeader(isA);
  descriptorstream::readFlags(isA, 0, "iris", "qrbase::IrisDescriptor::read");
  setValid(true);
}

}  // namespace qrbase
