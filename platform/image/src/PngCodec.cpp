// PNG files through libpng's simplified interface (png_image). That interface runs every libpng
// call behind its own setjmp guard and reports failures through its return value and the image's
// message buffer: libpng never longjmps through our frames, never prints and never aborts.
//
// Reading is done in two steps. First the chunk structure is walked here, so that a PNG file
// embedded in a longer stream is consumed exactly, lengths are checked before bytes are
// buffered, and the header is checked before any pixel memory is claimed. Then the collected
// bytes are decoded from memory.
#include <qrlimage/PngCodec.h>

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <streambuf>

#include <qrlcore/Exception.h>

namespace qrimg {

namespace {

constexpr unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::uint32_t kMaxChunkLength = 0x7fffffffu;
// Deflate expands at most about 1032:1; any image needing more decompressed bytes than this
// multiple of its compressed data cannot be complete.
constexpr std::uint64_t kMaxInflateRatio = 1100;
constexpr std::uint64_t kReadChunk = std::uint64_t{1} << 20;

std::uint32_t be32(const unsigned char* pA) {
  return (std::uint32_t{pA[0]} << 24) | (std::uint32_t{pA[1]} << 16) | (std::uint32_t{pA[2]} << 8) |
         pA[3];
}

// Appends exactly nA bytes from the stream to outA, growing the buffer only as bytes arrive.
bool appendBounded(std::istream& isA, std::uint64_t nA, std::vector<unsigned char>& outA) {
  while (nA > 0) {
    const std::size_t wantL = static_cast<std::size_t>(std::min(nA, kReadChunk));
    const std::size_t oldL = outA.size();
    outA.resize(oldL + wantL);
    isA.read(reinterpret_cast<char*>(outA.data() + oldL), static_cast<std::streamsize>(wantL));
    const std::size_t gotL = static_cast<std::size_t>(isA.gcount());
    if (gotL < wantL) {
      outA.resize(oldL + gotL);
      return false;
    }
    nA -= wantL;
  }
  return true;
}

bool isChunkTypeByte(unsigned char cA) {
  return (cA >= 'A' && cA <= 'Z') || (cA >= 'a' && cA <= 'z');
}

int pngSamplesPerPixel(unsigned colourTypeA) {
  switch (colourTypeA) {
    case 2:
      return 3;  // RGB
    case 4:
      return 2;  // grey + alpha
    case 6:
      return 4;  // RGBA
    default:
      return 1;  // grey, palette (invalid types are left to the decoder)
  }
}

// Releases libpng's state on every exit path (png_image_free ignores an already freed image).
struct PngImageGuard {
  png_image& image;
  ~PngImageGuard() { png_image_free(&image); }
};

class MemoryBuf : public std::streambuf {
 public:
  MemoryBuf(const unsigned char* dataA, std::size_t sizeA) {
    char* pL = const_cast<char*>(reinterpret_cast<const char*>(dataA));
    setg(pL, pL, pL + sizeA);
  }
};

std::unique_ptr<Image> decodeCollected(const std::vector<unsigned char>& fileA,
                                       const char* functionA) {
  png_image imageL;
  std::memset(&imageL, 0, sizeof imageL);
  imageL.version = PNG_IMAGE_VERSION;
  PngImageGuard guardL{imageL};
  if (!png_image_begin_read_from_memory(&imageL, fileA.data(), fileA.size())) {
    KXXCP_THROW(functionA, "Invalid PNG file: " << imageL.message);
  }
  Image::checkSize(imageL.width, imageL.height, functionA);
  const bool colourL = (imageL.format & PNG_FORMAT_FLAG_COLOR) != 0;
  imageL.format = colourL ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  std::unique_ptr<Image> outL;
  if (colourL) {
    outL = std::make_unique<ColorImage>(static_cast<int>(imageL.width),
                                        static_cast<int>(imageL.height));
  } else {
    outL = std::make_unique<ByteImage>(static_cast<int>(imageL.width),
                                       static_cast<int>(imageL.height));
  }
  const png_color whiteL{255, 255, 255};
  if (!png_image_finish_read(&imageL, &whiteL, outL->data(),
                             static_cast<png_int_32>(outL->rowBytes()), nullptr)) {
    KXXCP_THROW(functionA, "Invalid PNG file: " << imageL.message);
  }
  return outL;
}

std::unique_ptr<Image> readPng(std::istream& isA, const char* functionA) {
  std::vector<unsigned char> fileL;
  if (!appendBounded(isA, 8, fileL)) KXXCP_THROW(functionA, "Truncated PNG file.");
  if (std::memcmp(fileL.data(), kSignature, 8) != 0) {
    KXXCP_THROW(functionA, "Invalid PNG signature.");
  }
  bool firstL = true;
  std::uint64_t widthL = 0;
  std::uint64_t heightL = 0;
  std::uint64_t bitsPerPixelL = 0;
  std::uint64_t imageDataL = 0;
  for (;;) {
    const std::size_t startL = fileL.size();
    if (!appendBounded(isA, 8, fileL)) KXXCP_THROW(functionA, "Truncated PNG file.");
    const std::uint32_t lengthL = be32(&fileL[startL]);
    if (lengthL > kMaxChunkLength) {
      KXXCP_THROW(functionA, "Invalid PNG chunk length '" << lengthL << "'.");
    }
    char typeL[5] = {0, 0, 0, 0, 0};
    std::memcpy(typeL, &fileL[startL + 4], 4);
    if (!std::all_of(typeL, typeL + 4, [](char c) { return isChunkTypeByte(c); })) {
      KXXCP_THROW(functionA, "Invalid PNG chunk type.");
    }
    // Chunk data and its CRC; the CRC itself is checked by the decoder.
    if (!appendBounded(isA, std::uint64_t{lengthL} + 4, fileL)) {
      KXXCP_THROW(functionA, "Truncated PNG file.");
    }
    const unsigned char* dataL = &fileL[startL + 8];
    if (firstL) {
      if (std::strcmp(typeL, "IHDR") != 0 || lengthL != 13) {
        KXXCP_THROW(functionA, "Missing PNG header chunk.");
      }
      widthL = be32(dataL);
      heightL = be32(dataL + 4);
      Image::checkSize(static_cast<std::int64_t>(widthL), static_cast<std::int64_t>(heightL),
                       functionA);
      bitsPerPixelL = std::uint64_t{dataL[8]} * pngSamplesPerPixel(dataL[9]);
      firstL = false;
    } else if (std::strcmp(typeL, "IDAT") == 0) {
      imageDataL += lengthL;
    } else if (std::strcmp(typeL, "IEND") == 0) {
      break;
    }
  }
  if (imageDataL == 0) KXXCP_THROW(functionA, "Missing PNG image data.");
  // At least one bit per sample of every pixel must come out of the compressed data.
  const std::uint64_t rawBytesL = (widthL * heightL * bitsPerPixelL + 7) / 8;
  if (rawBytesL > imageDataL * kMaxInflateRatio + 1024) {
    KXXCP_THROW(functionA, "PNG image data too short for '" << widthL << "x" << heightL << "'.");
  }
  return decodeCollected(fileL, functionA);
}

}  // namespace

std::vector<unsigned char> PngCodec::encode(const Image& imageA) {
  const char* fnL = "qrimg::PngCodec::encode";
  if (imageA.empty()) KXXCP_THROW(fnL, "Cannot write an empty image as PNG.");
  if (imageA.channels() != 1 && imageA.channels() != 3) {
    KXXCP_THROW(fnL, "Unsupported image channel count '" << imageA.channels() << "'.");
  }
  png_image pngL;
  std::memset(&pngL, 0, sizeof pngL);
  pngL.version = PNG_IMAGE_VERSION;
  pngL.width = static_cast<png_uint_32>(imageA.width());
  pngL.height = static_cast<png_uint_32>(imageA.height());
  pngL.format = imageA.channels() == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  PngImageGuard guardL{pngL};
  // The worst-case size lets one compression pass write straight into the buffer.
  png_alloc_size_t sizeL = PNG_IMAGE_PNG_SIZE_MAX(pngL);
  std::vector<unsigned char> outL(sizeL);
  if (!png_image_write_to_memory(&pngL, outL.data(), &sizeL, 0, imageA.data(),
                                 static_cast<png_int_32>(imageA.rowBytes()), nullptr)) {
    KXXCP_THROW(fnL, "PNG encoding failed: " << pngL.message);
  }
  outL.resize(sizeL);
  return outL;
}

void PngCodec::write(std::ostream& osA, const Image& imageA) {
  const std::vector<unsigned char> bytesL = encode(imageA);
  osA.write(reinterpret_cast<const char*>(bytesL.data()),
            static_cast<std::streamsize>(bytesL.size()));
  if (!osA) KXXCP_THROW("qrimg::PngCodec::write", "Writing the PNG file failed.");
}

void PngCodec::writeFile(const std::string& pathA, const Image& imageA) {
  const std::vector<unsigned char> bytesL = encode(imageA);
  std::ofstream fileL(pathA, std::ios::binary | std::ios::trunc);
  if (!fileL) KXXCP_THROW("qrimg::PngCodec::writeFile", "Cannot open '" << pathA << "'.");
  fileL.write(reinterpret_cast<const char*>(bytesL.data()),
              static_cast<std::streamsize>(bytesL.size()));
  fileL.close();
  if (!fileL) KXXCP_THROW("qrimg::PngCodec::writeFile", "Writing '" << pathA << "' failed.");
}

std::unique_ptr<Image> PngCodec::read(std::istream& isA) {
  return readPng(isA, "qrimg::PngCodec::read");
}

std::unique_ptr<Image> PngCodec::decode(const unsigned char* dataA, std::size_t sizeA) {
  MemoryBuf bufL(dataA, dataA != nullptr ? sizeA : 0);
  std::istream isL(&bufL);
  return readPng(isL, "qrimg::PngCodec::decode");
}

std::unique_ptr<Image> PngCodec::readFile(const std::string& pathA) {
  std::ifstream fileL(pathA, std::ios::binary);
  if (!fileL) KXXCP_THROW("qrimg::PngCodec::readFile", "Cannot open '" << pathA << "'.");
  return readPng(fileL, "qrimg::PngCodec::readFile");
}

}  // namespace qrimg
