// Hostile bytes into the readers of faces from images: the image reader (PNG and JPEG, whose
// frame size is checked before decoding) and the face command file reader. The first byte picks
// the reader. Every input either reads or ends in kxxcp::Exception; any other exception, crash,
// leak or large allocation is a finding. A command file that loaded must run its start-up
// commands or refuse them with kxxcp::Exception.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <qrlcore/Exception.h>
#include <qrlface/FaceCommandParser.h>
#include <qrlimage/ImageFile.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  if (sizeA == 0) return 0;
  const std::uint8_t* bytesL = dataA + 1;
  const std::size_t countL = sizeA - 1;
  try {
    if (dataA[0] % 2 == 0) {
      const std::unique_ptr<qrimg::Image> imageL = qrimg::ImageFile::decode(bytesL, countL);
      if (imageL->empty()) __builtin_trap();
    } else {
      kxegm::FaceCommandParser parserL;
      parserL.loadText(std::string(reinterpret_cast<const char*>(bytesL), countL), "fuzz");
      for (const char* c : {"startUpIlm", "startUpHgmFeatureExtraction"}) {
        if (parserL.defines(c)) parserL.execute(c);
      }
    }
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
