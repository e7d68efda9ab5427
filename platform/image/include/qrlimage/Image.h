#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qrlimage/ImageExport.h>

namespace qrimg {

// An 8-bit image with interleaved channels: rows top-down, pixels left to right, no padding
// between rows (row y starts at data() + y * rowBytes()). Concrete kinds fix the channel count:
// ByteImage (grey, 1 channel) and ColorImage (RGB, 3 channels). Images are value objects: copies
// are deep, clone() copies through the base.
class QRLIMAGE_EXPORT Image {
 public:
  // Bounds of every image this library creates or decodes: a side longer than kMaxSide or more
  // than kMaxPixels pixels is refused before anything is allocated.
  static constexpr int kMaxSide = 1 << 15;
  static constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;

  virtual ~Image();

  // A deep copy of the same kind; the caller owns it.
  virtual Image* clone() const = 0;

  int width() const { return widthM; }
  int height() const { return heightM; }
  int channels() const { return channelsM; }
  bool empty() const { return widthM == 0 || heightM == 0; }
  std::size_t rowBytes() const { return static_cast<std::size_t>(widthM) * channelsM; }
  std::size_t byteSize() const { return pixelsM.size(); }
  const unsigned char* data() const { return pixelsM.data(); }
  unsigned char* data() { return pixelsM.data(); }
  const unsigned char* row(int yA) const { return pixelsM.data() + yA * rowBytes(); }
  unsigned char* row(int yA) { return pixelsM.data() + yA * rowBytes(); }

  // Same channel count, same size and the same bytes.
  bool sameAs(const Image& otherA) const;

  // Throws kxxcp::Exception "Invalid image size '<w>x<h>'." unless 0 <= w, h <= kMaxSide and
  // w * h <= kMaxPixels. Every constructor and decoder checks through it.
  static void checkSize(std::int64_t widthA, std::int64_t heightA, const char* functionA);

 protected:
  Image(int channelsA, int widthA, int heightA, unsigned char fillA);
  Image(const Image&) = default;
  Image& operator=(const Image&) = default;
  Image(Image&&) noexcept = default;
  Image& operator=(Image&&) noexcept = default;

 private:
  int widthM = 0;
  int heightM = 0;
  int channelsM = 1;
  std::vector<unsigned char> pixelsM;
};

// A grey image, one byte per pixel.
class QRLIMAGE_EXPORT ByteImage : public Image {
 public:
  ByteImage() : Image(1, 0, 0, 0) {}
  ByteImage(int widthA, int heightA, unsigned char fillA = 0) : Image(1, widthA, heightA, fillA) {}

  ByteImage* clone() const override;

  // Unchecked access; 0 <= x < width, 0 <= y < height.
  unsigned char at(int xA, int yA) const { return row(yA)[xA]; }
  unsigned char& at(int xA, int yA) { return row(yA)[xA]; }

  // Bilinear interpolation at a sub-pixel position; positions outside the image take the value
  // of the nearest border pixel. An empty image samples as 0.
  float sample(float xA, float yA) const;
};

struct Rgb {
  unsigned char r = 0;
  unsigned char g = 0;
  unsigned char b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A colour image, three bytes (red, green, blue) per pixel.
class QRLIMAGE_EXPORT ColorImage : public Image {
 public:
  ColorImage() : Image(3, 0, 0, 0) {}
  ColorImage(int widthA, int heightA, Rgb fillA = Rgb());

  ColorImage* clone() const override;

  Rgb pixel(int xA, int yA) const;
  void setPixel(int xA, int yA, Rgb valueA);
};

// The grey form of any image: a copy of a ByteImage, the rounded luma
// (0.299 R + 0.587 G + 0.114 B) of a ColorImage.
QRLIMAGE_EXPORT ByteImage toGrey(const Image& imageA);

}  // namespace qrimg
