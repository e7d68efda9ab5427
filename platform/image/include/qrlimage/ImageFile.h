#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <qrlimage/Image.h>
#include <qrlimage/ImageExport.h>

namespace qrimg {

// Reading photographs: PNG (through PngCodec) and JPEG files. Grey files become ByteImage, all
// others ColorImage.
//
// Every failure is a kxxcp::Exception (function "qrimg::ImageFile::<op>"); nothing is printed.
// Besides PngCodec's messages for PNG data:
//   "Cannot open image file '<path>'."           the file cannot be opened
//   "Image file too large '<path>'."             a file of more than kMaxFileBytes
//   "Unknown image format."                      neither a PNG nor a JPEG signature
//   "Truncated JPEG file."                       the markers end before a frame header
//   "Invalid image size '<w>x<h>'."              frame dimensions outside Image's bounds
//   "Invalid JPEG file."                         anything the JPEG decoder rejects
// The size of a JPEG image is read from its frame header and checked before anything is
// decoded, so a hostile header cannot make the decoder allocate.
class QRLIMAGE_EXPORT ImageFile {
 public:
  static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

  // The caller owns the result.
  static std::unique_ptr<Image> decode(const unsigned char* dataA, std::size_t sizeA);
  static std::unique_ptr<Image> readFile(const std::string& pathA);
  // Writes the image as PNG (the extension of pathA is not looked at).
  static void writeFile(const std::string& pathA, const Image& imageA);
};

}  // namespace qrimg
