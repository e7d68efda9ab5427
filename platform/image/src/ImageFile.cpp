#include <qrlimage/ImageFile.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlimage/PngCodec.h>
#include <opencv2/imgcodecs.hpp>

namespace qrimg {
namespace {

constexpr const char* kDecode = "qrimg::ImageFile::decode";

bool isPng(const unsigned char* dA, std::size_t nA) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return nA >= 8 && std::equal(kSignature, kSignature + 8, dA);
}

// Walks the JPEG markers up to the first frame header (SOF0..SOF15 except DHT, JPG and DAC)
// and checks the frame's dimensions.
void checkJpegFrame(const unsigned char* dA, std::size_t nA) {
  std::size_t posL = 2;
  while (true) {
    while (posL < nA && dA[posL] == 0xff) ++posL;  // fill bytes before a marker code
    if (posL + 2 >= nA) KXXCP_THROW(kDecode, "Truncated JPEG file.");
    const unsigned markerL = dA[posL];
    const std::size_t lengthL = (std::size_t{dA[posL + 1]} << 8) | dA[posL + 2];
    const bool frameL =
        markerL >= 0xc0 && markerL <= 0xcf && markerL != 0xc4 && markerL != 0xc8 && markerL != 0xcc;
    if (frameL) {
      if (posL + 7 >= nA) KXXCP_THROW(kDecode, "Truncated JPEG file.");
      const int heightL = (dA[posL + 4] << 8) | dA[posL + 5];
      const int widthL = (dA[posL + 6] << 8) | dA[posL + 7];
      Image::checkSize(widthL, heightL, kDecode);
      if (widthL == 0 || heightL == 0) {
        KXXCP_THROW(kDecode, "Invalid image size '" << widthL << "x" << heightL << "'.");
      }
      return;
    }
    if (markerL == 0xd9 || markerL == 0xda || lengthL < 2) {
      KXXCP_THROW(kDecode, "Invalid JPEG file.");  // image data before any frame header
    }
    posL += 1 + lengthL;
  }
}

}  // namespace

std::unique_ptr<Image> ImageFile::decode(const unsigned char* dataA, std::size_t sizeA) {
  if (isPng(dataA, sizeA)) return PngCodec::decode(dataA, sizeA);
  if (sizeA < 3 || dataA[0] != 0xff || dataA[1] != 0xd8 || dataA[2] != 0xff) {
    KXXCP_THROW(kDecode, "Unknown image format.");
  }
  checkJpegFrame(dataA, sizeA);
  cv::Mat matL;
  try {
    const cv::Mat bytesL(1, static_cast<int>(sizeA), CV_8U, const_cast<unsigned char*>(dataA));
    matL = cv::imdecode(bytesL, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    matL.release();
  }
  if (matL.empty() || matL.depth() != CV_8U) KXXCP_THROW(kDecode, "Invalid JPEG file.");
  if (matL.channels() == 1) {
    auto greyL = std::make_unique<ByteImage>(matL.cols, matL.rows);
    for (int y = 0; y < matL.rows; ++y) {
      std::copy(matL.ptr<unsigned char>(y), matL.ptr<unsigned char>(y) + matL.cols, greyL->row(y));
    }
    return greyL;
  }
  auto colourL = std::make_unique<ColorImage>(matL.cols, matL.rows);
  for (int y = 0; y < matL.rows; ++y) {
    const unsigned char* srcL = matL.ptr<unsigned char>(y);
    unsigned char* dstL = colourL->row(y);
    for (int x = 0; x < matL.cols; ++x, srcL += matL.channels(), dstL += 3) {
      dstL[0] = srcL[2];  // the decoder delivers blue, green, red
      dstL[1] = srcL[1];
      dstL[2] = srcL[0];
    }
  }
  return colourL;
}

std::unique_ptr<Image> ImageFile::readFile(const std::string& pathA) {
  const char* fnL = "qrimg::ImageFile::readFile";
  std::ifstream inL(pathA, std::ios::binary);
  if (!inL) KXXCP_THROW(fnL, "Cannot open image file '" << pathA << "'.");
  inL.seekg(0, std::ios::end);
  const std::streamoff sizeL = inL.tellg();
  if (sizeL < 0) KXXCP_THROW(fnL, "Cannot open image file '" << pathA << "'.");
  if (static_cast<std::uint64_t>(sizeL) > kMaxFileBytes) {
    KXXCP_THROW(fnL, "Image file too large '" << pathA << "'.");
  }
  inL.seekg(0);
  std::vector<unsigned char> bytesL(static_cast<std::size_t>(sizeL));
  inL.read(reinterpret_cast<char*>(bytesL.data()), sizeL);
  if (!inL) KXXCP_THROW(fnL, "Cannot open image file '" << pathA << "'.");
  return decode(bytesL.data(), bytesL.size());
}

void ImageFile::writeFile(const std::string& pathA, const Image& imageA) {
  PngCodec::writeFile(pathA, imageA);
}

}  // namespace qrimg
