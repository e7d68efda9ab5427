// Hostile bytes into the descriptor stream reader (BioDescriptor::create), with its embedded PNG
// images, face graphs, face quality results and feature points. Every input either reads or ends
// in kxxcp::Exception; any other exception, crash, leak or large allocation is a finding.
// A descriptor that was read must write, read back and write again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include <qrlcore/Exception.h>
#include <qrlimage/Image.h>
#include <quarlen/BioDescriptor.h>

namespace {

std::string writeDescriptor(const qrbase::BioDescriptor& descriptorA) {
  std::ostringstream osL(std::ios::binary);
  descriptorA.write(osL, true);
  return osL.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  // The first byte chooses whether an image stands in for a missing input image.
  static const qrimg::ByteImage standInL(3, 2, 7);
  const qrimg::Image* imageL = (sizeA > 0 && (dataA[0] & 1) != 0) ? &standInL : nullptr;
  std::istringstream isL(std::string(reinterpret_cast<const char*>(dataA), sizeA),
                         std::ios::binary);
  std::unique_ptr<qrbase::BioDescriptor> descriptorL;
  try {
    descriptorL.reset(qrbase::BioDescriptor::create(isL, imageL));
  } catch (const kxxcp::Exception&) {
    return 0;
  }
  // What was read must survive a round trip unchanged.
  std::string firstL;
  try {
    firstL = writeDescriptor(*descriptorL);
  } catch (const kxxcp::Exception&) {
    return 0;  // for example an embedded image that is empty and cannot be written as PNG
  }
  std::istringstream againL(firstL, std::ios::binary);
  std::unique_ptr<qrbase::BioDescriptor> rereadL(qrbase::BioDescriptor::create(againL, nullptr));
  if (writeDescriptor(*rereadL) != firstL) __builtin_trap();
  return 0;
}
