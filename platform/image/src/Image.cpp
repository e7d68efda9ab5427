#include <qrlimage/Image.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <qrlcore/Exception.h>

namespace qrimg {

Image::~Image() = default;

void Image::checkSize(std::int64_t widthA, std::int64_t heightA, const char* functionA) {
  if (widthA < 0 || heightA < 0 || widthA > kMaxSide || heightA > kMaxSide ||
      static_cast<std::uint64_t>(widthA) * static_cast<std::uint64_t>(heightA) > kMaxPixels) {
    KXXCP_THROW(functionA, "Invalid image size '" << widthA << "x" << heightA << "'.");
  }
}

Image::Image(int channelsA, int widthA, int heightA, unsigned char fillA) : channelsM(channelsA) {
  checkSize(widthA, heightA, "qrimg::Image::Image");
  widthM = widthA;
  heightM = heightA;
  pixelsM.assign(static_cast<std::size_t>(widthA) * heightA * channelsA, fillA);
}

bool Image::sameAs(const Image& otherA) const {
  return channelsM == otherA.channelsM && widthM == otherA.widthM && heightM == otherA.heightM &&
         pixelsM == otherA.pixelsM;
}

ByteImage* ByteImage::clone() const {
  return new ByteImage(*this);
}

float ByteImage::sample(float xA, float yA) const {
  if (empty()) return 0.0f;
  const float maxXL = static_cast<float>(width() - 1);
  const float maxYL = static_cast<float>(height() - 1);
  // NaN positions fall to the first pixel instead of reaching an index computation.
  const float xL = std::isnan(xA) ? 0.0f : std::clamp(xA, 0.0f, maxXL);
  const float yL = std::isnan(yA) ? 0.0f : std::clamp(yA, 0.0f, maxYL);
  const int x0L = static_cast<int>(xL);
  const int y0L = static_cast<int>(yL);
  const int x1L = std::min(x0L + 1, width() - 1);
  const int y1L = std::min(y0L + 1, height() - 1);
  const float fxL = xL - static_cast<float>(x0L);
  const float fyL = yL - static_cast<float>(y0L);
  const float topL = at(x0L, y0L) + fxL * (at(x1L, y0L) - at(x0L, y0L));
  const float bottomL = at(x0L, y1L) + fxL * (at(x1L, y1L) - at(x0L, y1L));
  return topL + fyL * (bottomL - topL);
}

ColorImage::ColorImage(int widthA, int heightA, Rgb fillA) : Image(3, widthA, heightA, 0) {
  unsigned char* pL = data();
  for (std::size_t i = 0; i < byteSize(); i += 3) {
    pL[i] = fillA.r;
    pL[i + 1] = fillA.g;
    pL[i + 2] = fillA.b;
  }
}

ColorImage* ColorImage::clone() const {
  return new ColorImage(*this);
}

Rgb ColorImage::pixel(int xA, int yA) const {
  const unsigned char* pL = row(yA) + 3 * xA;
  return Rgb{pL[0], pL[1], pL[2]};
}

void ColorImage::setPixel(int xA, int yA, Rgb valueA) {
  unsigned char* pL = row(yA) + 3 * xA;
  pL[0] = valueA.r;
  pL[1] = valueA.g;
  pL[2] = valueA.b;
}

ByteImage toGrey(const Image& imageA) {
  if (imageA.channels() == 1) {
    ByteImage copyL(imageA.width(), imageA.height());
    if (imageA.byteSize() != 0) std::memcpy(copyL.data(), imageA.data(), imageA.byteSize());
    return copyL;
  }
  ByteImage greyL(imageA.width(), imageA.height());
  const int channelsL = imageA.channels();
  for (int y = 0; y < imageA.height(); ++y) {
    const unsigned char* srcL = imageA.row(y);
    unsigned char* dstL = greyL.row(y);
    for (int x = 0; x < imageA.width(); ++x, srcL += channelsL) {
      // Integer BT.601 luma with rounding: (299 R + 587 G + 114 B + 500) / 1000.
      dstL[x] =
          static_cast<unsigned char>((299 * srcL[0] + 587 * srcL[1] + 114 * srcL[2] + 500) / 1000);
    }
  }
  return greyL;
}

}  // namespace qrimg
