#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <qrlimage/Image.h>
#include <qrlimage/ImageExport.h>

namespace qrimg {

// PNG writing and reading. Grey images are written as 8-bit grey PNG files, colour images as
// 8-bit RGB. Reading accepts every PNG colour type and depth: grey files (with or without
// alpha) become ByteImage, all others ColorImage; an alpha channel is composed onto white and
// 16-bit samples are reduced to 8 bits.
//
// Every failure is a kxxcp::Exception (function "qrimg::PngCodec::<op>"); nothing is printed.
// Messages of the readers:
//   "Truncated PNG file."                       the bytes end before the IEND chunk
//   "Invalid PNG signature."                    the first 8 bytes are not a PNG signature
//   "Invalid PNG chunk length '<n>'."           a chunk length above 2^31 - 1
//   "Invalid PNG chunk type."                   a chunk type that is not four ASCII letters
//   "Missing PNG header chunk."                 the first chunk is not a 13-byte IHDR
//   "Invalid image size '<w>x<h>'."             dimensions outside Image's bounds
//   "Missing PNG image data."                   no IDAT chunk before IEND
//   "PNG image data too short for '<w>x<h>'."   the compressed data cannot hold the image
//   "Invalid PNG file: <libpng's reason>"       anything the decoder rejects
class QRLIMAGE_EXPORT PngCodec {
 public:
  // One complete PNG file of the image. An empty image cannot be written ("Cannot write an
  // empty image as PNG.").
  static std::vector<unsigned char> encode(const Image& imageA);
  static void write(std::ostream& osA, const Image& imageA);
  static void writeFile(const std::string& pathA, const Image& imageA);

  // Reads one complete PNG file from the stream: exactly the bytes up to and including the IEND
  // chunk are consumed, so a PNG file may be embedded in a longer stream. Memory is claimed only
  // as the stream delivers bytes, and the decoded image only once the file's compressed data
  // could produce it. The caller owns the result.
  static std::unique_ptr<Image> read(std::istream& isA);
  // The same over a byte range, which must hold exactly one PNG file (trailing bytes are
  // ignored).
  static std::unique_ptr<Image> decode(const unsigned char* dataA, std::size_t sizeA);
  static std::unique_ptr<Image> readFile(const std::string& pathA);
};

}  // namespace qrimg
