#include <qrlimage/ImageFile.h>

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include <qrlimage/PngCodec.h>

#include "support/ExceptionMatchers.h"
#include "support/FacePhotos.h"

namespace qrimg {
namespace {

// A JPEG start: SOI, an APP0 segment, then a baseline frame header of the given size.
std::vector<unsigned char> jpegHead(int widthA, int heightA) {
  std::vector<unsigned char> bytesL = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x04, 'J',
                                       'F',  0xff, 0xff, 0xc0, 0x00, 0x0b, 0x08};
  bytesL.push_back(static_cast<unsigned char>(heightA >> 8));
  bytesL.push_back(static_cast<unsigned char>(heightA & 0xff));
  bytesL.push_back(static_cast<unsigned char>(widthA >> 8));
  bytesL.push_back(static_cast<unsigned char>(widthA & 0xff));
  for (unsigned char b : {0x01, 0x01, 0x11, 0x00, 0xff, 0xd9}) bytesL.push_back(b);
  return bytesL;
}

std::vector<unsigned char> fileBytes(const std::string& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(inL), {});
}

TEST(ImageFileTest, RefusesHostileBytesWithTheirMessages) {
  const auto decodeL = [](std::vector<unsigned char> bytesA) {
    return ImageFile::decode(bytesA.data(), bytesA.size());
  };
  EXPECT_KXXCP_MESSAGE(decodeL({}), "Unknown image format.");
  EXPECT_KXXCP_MESSAGE(decodeL({'G', 'I', 'F', '8'}), "Unknown image format.");
  EXPECT_KXXCP_MESSAGE(decodeL({0xff, 0xd8, 0xff}), "Truncated JPEG file.");
  EXPECT_KXXCP_MESSAGE(decodeL({0xff, 0xd8, 0xff, 0xe0, 0x00, 0x40, 1, 2}), "Truncated JPEG file.");
  // Image data or the end before any frame header, and a segment length below 2.
  EXPECT_KXXCP_MESSAGE(decodeL({0xff, 0xd8, 0xff, 0xda, 0x00, 0x08, 0, 0}), "Invalid JPEG file.");
  EXPECT_KXXCP_MESSAGE(decodeL({0xff, 0xd8, 0xff, 0xe1, 0x00, 0x01, 0, 0}), "Invalid JPEG file.");
  // Sizes are checked before anything is decoded.
  EXPECT_KXXCP_MESSAGE(decodeL(jpegHead(40000, 10)), "Invalid image size '40000x10'.");
  EXPECT_KXXCP_MESSAGE(decodeL(jpegHead(30000, 30000)), "Invalid image size '30000x30000'.");
  EXPECT_KXXCP_MESSAGE(decodeL(jpegHead(0, 10)), "Invalid image size '0x10'.");
  // A sound frame header without tables or data: the decoder refuses it.
  EXPECT_KXXCP_MESSAGE(decodeL(jpegHead(16, 16)), "Invalid JPEG file.");
  // PNG bytes go to the PNG reader.
  EXPECT_KXXCP_MESSAGE(decodeL({0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}),
                       "Truncated PNG file.");
  EXPECT_KXXCP_MESSAGE(ImageFile::readFile("/nonexistent/photo.jpg"),
                       "Cannot open image file '/nonexistent/photo.jpg'.");
}

TEST(ImageFileTest, ReadsPngFilesItWrote) {
  ColorImage imageL(5, 3, Rgb{10, 20, 30});
  imageL.setPixel(4, 2, Rgb{200, 100, 50});
  const std::string pathL = ::testing::TempDir() + "/image_file_test.png";
  ImageFile::writeFile(pathL, imageL);
  const std::unique_ptr<Image> backL = ImageFile::readFile(pathL);
  EXPECT_TRUE(backL->sameAs(imageL));
}

TEST(ImageFileTest, DecodesPhotographsAsColourImages) {
  const std::string pathL = quarlen_test::facePhotoDir() + "/227943776_1.jpg";
  const std::vector<unsigned char> bytesL = fileBytes(pathL);
  if (bytesL.empty()) GTEST_SKIP() << pathL << " is missing (install opencv-doc)";
  const std::unique_ptr<Image> imageL = ImageFile::decode(bytesL.data(), bytesL.size());
  EXPECT_EQ(imageL->channels(), 3);
  EXPECT_EQ(imageL->width(), 434);
  EXPECT_EQ(imageL->height(), 434);
  // A frame header that claims more than the bounds allow is refused before decoding.
  std::vector<unsigned char> liarL = bytesL;
  for (std::size_t i = 2; i + 8 < liarL.size(); ++i) {
    if (liarL[i] == 0xff && (liarL[i + 1] == 0xc0 || liarL[i + 1] == 0xc2)) {
      liarL[i + 5] = 0xff;  // height high byte
      liarL[i + 7] = 0xff;  // width high byte
      break;
    }
  }
  EXPECT_KXXCP_PREFIX(ImageFile::decode(liarL.data(), liarL.size()), "Invalid image size '");
  // Channels are red, green, blue: the skin of the face in the centre is redder than blue.
  const auto& colourL = dynamic_cast<const ColorImage&>(*imageL);
  long redL = 0, blueL = 0;
  for (int y = 150; y < 250; ++y) {
    for (int x = 170; x < 260; ++x) {
      redL += colourL.pixel(x, y).r;
      blueL += colourL.pixel(x, y).b;
    }
  }
  EXPECT_GT(redL, blueL * 5 / 4);
}

}  // namespace
}  // namespace qrimg
