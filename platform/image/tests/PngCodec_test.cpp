#include <qrlimage/PngCodec.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/ExceptionMatchers.h"
#include "support/PngBuilder.h"

namespace qrimg {
namespace {

using quarlen_test::Bytes;

class PngCodecTest : public ::testing::Test {
 protected:
  static ByteImage gradient(int widthA, int heightA) {
    ByteImage imageL(widthA, heightA);
    for (int y = 0; y < heightA; ++y) {
      for (int x = 0; x < widthA; ++x) imageL.at(x, y) = static_cast<unsigned char>(x * 7 + y * 13);
    }
    return imageL;
  }
  static std::unique_ptr<Image> decodeBytes(const Bytes& bytesA) {
    return PngCodec::decode(bytesA.data(), bytesA.size());
  }
  // An 8-bit grey file with one IDAT of hand-made scan lines (filter byte 0 per row).
  static Bytes greyPng(std::uint32_t widthA, std::uint32_t heightA, unsigned char valueA = 90) {
    Bytes rawL;
    for (std::uint32_t y = 0; y < heightA; ++y) {
      rawL.push_back(0);
      rawL.insert(rawL.end(), widthA, valueA);
    }
    return quarlen_test::buildPng(widthA, heightA, 8, 0, rawL);
  }
  static void setBe32(Bytes& bytesA, std::size_t atA, std::uint32_t vA) {
    for (int i = 0; i < 4; ++i) bytesA[atA + i] = static_cast<unsigned char>(vA >> (24 - 8 * i));
  }
};

TEST_F(PngCodecTest, GreyAndColourRoundTripExactly) {
  const ByteImage greyL = gradient(37, 11);
  const std::unique_ptr<Image> greyBackL = decodeBytes(PngCodec::encode(greyL));
  ASSERT_NE(dynamic_cast<ByteImage*>(greyBackL.get()), nullptr);
  EXPECT_TRUE(greyBackL->sameAs(greyL));

  ColorImage colourL(5, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      colourL.setPixel(x, y,
                       Rgb{static_cast<unsigned char>(x * 50), static_cast<unsigned char>(y * 60),
                           static_cast<unsigned char>(255 - x - y)});
    }
  }
  const std::unique_ptr<Image> colourBackL = decodeBytes(PngCodec::encode(colourL));
  ASSERT_NE(dynamic_cast<ColorImage*>(colourBackL.get()), nullptr);
  EXPECT_TRUE(colourBackL->sameAs(colourL));
}

TEST_F(PngCodecTest, StreamReadConsumesExactlyOneFile) {
  std::stringstream streamL;
  PngCodec::write(streamL, gradient(8, 8));
  PngCodec::write(streamL, ColorImage(2, 3, Rgb{10, 20, 30}));
  streamL << "tail";
  EXPECT_TRUE(PngCodec::read(streamL)->sameAs(gradient(8, 8)));
  EXPECT_TRUE(PngCodec::read(streamL)->sameAs(ColorImage(2, 3, Rgb{10, 20, 30})));
  std::string restL;
  streamL >> restL;
  EXPECT_EQ(restL, "tail");
}

TEST_F(PngCodecTest, FileRoundTripAndMissingFile) {
  const std::string pathL = std::string(QUARLEN_TEST_BINARY_DIR) + "/png_codec_test.png";
  PngCodec::writeFile(pathL, gradient(16, 9));
  EXPECT_TRUE(PngCodec::readFile(pathL)->sameAs(gradient(16, 9)));
  std::remove(pathL.c_str());
  EXPECT_KXXCP_MESSAGE(PngCodec::readFile(pathL), "Cannot open '" + pathL + "'.");
  EXPECT_KXXCP_MESSAGE(PngCodec::encode(ByteImage(0, 3)), "Cannot write an empty image as PNG.");
}

TEST_F(PngCodecTest, ReadsOtherColourTypesAndDepths) {
  // 16-bit grey: the extremes map to the 8-bit extremes.
  const Bytes grey16L = quarlen_test::buildPng(2, 1, 16, 0, Bytes{0, 0x00, 0x00, 0xff, 0xff});
  const std::unique_ptr<Image> g16L = decodeBytes(grey16L);
  ASSERT_EQ(g16L->channels(), 1);
  EXPECT_EQ(g16L->data()[0], 0);
  EXPECT_EQ(g16L->data()[1], 255);

  // Palette: indices become the palette's colours.
  Bytes paletteL;
  quarlen_test::appendChunk(paletteL, "PLTE", Bytes{255, 0, 0, 0, 0, 255});
  const std::unique_ptr<Image> palL =
      decodeBytes(quarlen_test::buildPng(2, 1, 8, 3, Bytes{0, 1, 0}, paletteL));
  ASSERT_NE(dynamic_cast<ColorImage*>(palL.get()), nullptr);
  EXPECT_EQ(static_cast<ColorImage*>(palL.get())->pixel(0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(static_cast<ColorImage*>(palL.get())->pixel(1, 0), (Rgb{255, 0, 0}));

  // Grey with alpha: transparent pixels are composed onto white.
  const std::unique_ptr<Image> gaL =
      decodeBytes(quarlen_test::buildPng(2, 1, 8, 4, Bytes{0, 40, 255, 40, 0}));
  ASSERT_EQ(gaL->channels(), 1);
  EXPECT_EQ(gaL->data()[0], 40);
  EXPECT_EQ(gaL->data()[1], 255);

  // 1-bit grey is expanded to 0 and 255.
  const std::unique_ptr<Image> bitL =
      decodeBytes(quarlen_test::buildPng(3, 1, 1, 0, Bytes{0, 0xa0}));
  EXPECT_EQ(bitL->data()[0], 255);
  EXPECT_EQ(bitL->data()[1], 0);
  EXPECT_EQ(bitL->data()[2], 255);
}

TEST_F(PngCodecTest, EveryTruncationIsReported) {
  const Bytes fullL = PngCodec::encode(gradient(20, 20));
  for (std::size_t cutL = 0; cutL < fullL.size(); ++cutL) {
    const Bytes partL(fullL.begin(), fullL.begin() + cutL);
    EXPECT_KXXCP_MESSAGE(decodeBytes(partL), "Truncated PNG file.");
  }
  std::istringstream emptyL;
  EXPECT_KXXCP_MESSAGE(PngCodec::read(emptyL), "Truncated PNG file.");
}

TEST_F(PngCodecTest, StructuralDefectsHaveTheirOwnMessages) {
  Bytes badL = greyPng(4, 4);
  badL[1] = 'X';
  EXPECT_KXXCP_MESSAGE(decodeBytes(badL), "Invalid PNG signature.");

  badL = greyPng(4, 4);
  setBe32(badL, quarlen_test::findChunk(badL, "IDAT"), 0x80000000u);
  EXPECT_KXXCP_MESSAGE(decodeBytes(badL), "Invalid PNG chunk length '2147483648'.");

  badL = greyPng(4, 4);
  badL[quarlen_test::findChunk(badL, "IDAT") + 5] = '1';
  EXPECT_KXXCP_MESSAGE(decodeBytes(badL), "Invalid PNG chunk type.");

  // A first chunk that is not IHDR, and an IHDR of the wrong length.
  Bytes noHeaderL = {137, 80, 78, 71, 13, 10, 26, 10};
  quarlen_test::appendChunk(noHeaderL, "IDAT", quarlen_test::zlibStored(Bytes{0, 1}));
  EXPECT_KXXCP_MESSAGE(decodeBytes(noHeaderL), "Missing PNG header chunk.");
  Bytes shortHeaderL = {137, 80, 78, 71, 13, 10, 26, 10};
  quarlen_test::appendChunk(shortHeaderL, "IHDR", Bytes(12, 1));
  EXPECT_KXXCP_MESSAGE(decodeBytes(shortHeaderL), "Missing PNG header chunk.");

  Bytes noDataL = {137, 80, 78, 71, 13, 10, 26, 10};
  const Bytes headerL = greyPng(1, 1);
  noDataL.insert(noDataL.end(), headerL.begin() + 8, headerL.begin() + 8 + 25);
  quarlen_test::appendChunk(noDataL, "IEND", Bytes());
  EXPECT_KXXCP_MESSAGE(decodeBytes(noDataL), "Missing PNG image data.");
}

TEST_F(PngCodecTest, HostileDimensionsAreRefusedBeforeAllocation) {
  Bytes hugeL = greyPng(1, 1);
  setBe32(hugeL, 16, 0xffffffffu);
  quarlen_test::fixChunkCrc(hugeL, 8);
  EXPECT_KXXCP_MESSAGE(decodeBytes(hugeL), "Invalid image size '4294967295x1'.");

  setBe32(hugeL, 16, 30000);
  setBe32(hugeL, 20, 30000);
  quarlen_test::fixChunkCrc(hugeL, 8);
  EXPECT_KXXCP_MESSAGE(decodeBytes(hugeL), "Invalid image size '30000x30000'.");

  // Within the bounds, but a few bytes of compressed data cannot make 60 million pixels.
  setBe32(hugeL, 16, 10000);
  setBe32(hugeL, 20, 6000);
  quarlen_test::fixChunkCrc(hugeL, 8);
  EXPECT_KXXCP_MESSAGE(decodeBytes(hugeL), "PNG image data too short for '10000x6000'.");
}

TEST_F(PngCodecTest, DecoderFailuresBecomeExceptions) {
  // A damaged CRC, damaged compressed data with a correct CRC, too few scan lines, and an
  // invalid bit depth: libpng's reason follows the fixed prefix.
  Bytes crcL = greyPng(4, 4);
  crcL[quarlen_test::findChunk(crcL, "IDAT") + 12] ^= 0x40;
  EXPECT_KXXCP_PREFIX(decodeBytes(crcL), "Invalid PNG file: ");

  Bytes zlibL = greyPng(4, 4);
  const std::size_t idatL = quarlen_test::findChunk(zlibL, "IDAT");
  zlibL[idatL + 8] = 0x00;  // zlib header with an invalid compression method
  quarlen_test::fixChunkCrc(zlibL, idatL);
  EXPECT_KXXCP_PREFIX(decodeBytes(zlibL), "Invalid PNG file: ");

  const Bytes shortL = quarlen_test::buildPng(4, 4, 8, 0, Bytes{0, 1, 2, 3, 4});
  EXPECT_KXXCP_PREFIX(decodeBytes(shortL), "Invalid PNG file: ");

  const Bytes depthL = quarlen_test::buildPng(4, 1, 3, 0, Bytes{0, 1, 2});
  EXPECT_KXXCP_PREFIX(decodeBytes(depthL), "Invalid PNG file: ");

  const Bytes filterL = quarlen_test::buildPng(2, 1, 8, 0, Bytes{9, 1, 2});
  EXPECT_KXXCP_PREFIX(decodeBytes(filterL), "Invalid PNG file: ");
}

}  // namespace
}  // namespace qrimg
