#include "generation/DescriptorStream.h"

#include <qrlcore/Exception.h>
#include <qrlimage/PngCodec.h>
#include <quarlen/EyeDescriptor.h>

#include "common/Coding.h"

namespace qrbase {
namespace descriptorstream {

namespace {
[[noreturn]] void throwShort(const char* functionA) {
  KXXCP_THROW(functionA, "BioDescriptor::read:  Invalid stream.");
}

// Reads one embedded item with its own reader, naming the item when that reader fails.
template <typename T>
std::unique_ptr<T> readEmbedded(std::istream& isA, const char* itemA, const char* functionA) {
  auto itemL = std::make_unique<T>();
  try {
    itemL->read(isA);
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW(functionA, "BioDescriptor::read:  Invalid " << itemA << ": " << e.getMessage());
  }
  return itemL;
}
}  // namespace

std::uint8_t readU8(std::istream& isA, const char* functionA) {
  std::uint8_t vL = 0;
  if (!qridy::coding::getFixed8(isA, vL)) throwShort(functionA);
  return vL;
}

std::uint16_t readU16(std::istream& isA, const char* functionA) {
  std::uint16_t vL = 0;
  if (!qridy::coding::getFixed16(isA, vL)) throwShort(functionA);
  return vL;
}

std::uint32_t readU32(std::istream& isA, const char* functionA) {
  std::uint32_t vL = 0;
  if (!qridy::coding::getFixed32(isA, vL)) throwShort(functionA);
  return vL;
}

std::uint64_t readU64(std::istream& isA, const char* functionA) {
  std::uint64_t vL = 0;
  if (!qridy::coding::getFixed64(isA, vL)) throwShort(functionA);
  return vL;
}

float readFloat(std::istream& isA, const char* functionA) {
  float vL = 0.0f;
  if (!qridy::coding::getFloat32(isA, vL)) throwShort(functionA);
  return vL;
}

std::uint32_t readFlags(std::istream& isA, std::uint32_t allowedA, const char* kindA,
                        const char* functionA) {
  const std::uint32_t flagsL = readU32(isA, functionA);
  if ((flagsL & ~allowedA) != 0) {
    KXXCP_THROW(functionA,
                "BioDescriptor::read:  Invalid " << kindA << " flags '" << flagsL << "'");
  }
  return flagsL;
}

void writeImage(std::ostream& osA, const qrimg::Image& imageA, const char* itemA,
                const char* functionA) {
  try {
    qrimg::PngCodec::write(osA, imageA);
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW(functionA, "BioDescriptor::write:  Invalid " << itemA << ": " << e.getMessage());
  }
}

std::unique_ptr<qrimg::Image> readImage(std::istream& isA, const char* itemA,
                                        const char* functionA) {
  try {
    return qrimg::PngCodec::read(isA);
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW(functionA, "BioDescriptor::read:  Invalid " << itemA << ": " << e.getMessage());
  }
}

std::unique_ptr<kxegm::FaceGraph> readGraph(std::istream& isA, const char* itemA,
                                            const char* functionA) {
  return readEmbedded<kxegm::FaceGraph>(isA, itemA, functionA);
}

std::unique_ptr<kxegm::FaceQualityCheckResult> readQualityResult(std::istream& isA,
                                                                 const char* functionA) {
  return readEmbedded<kxegm::FaceQualityCheckResult>(isA, "face quality check result", functionA);
}

void writePoints(std::ostream& osA, const qrimg::FacialFeaturePoints& pointsA) {
  for (int indexL : EyeDescriptor::kStreamedPoints) {
    const qrimg::Point2f pL = pointsA.point(indexL);
    qridy::coding::putFloat32(osA, pL.x);
    qridy::coding::putFloat32(osA, pL.y);
  }
}

std::unique_ptr<qrimg::FacialFeaturePoints> readPoints(std::istream& isA, const char* functionA) {
  auto pointsL = std::make_unique<qrimg::FacialFeaturePoints>();
  for (int indexL : EyeDescriptor::kStreamedPoints) {
    const float xL = readFloat(isA, functionA);
    const float yL = readFloat(isA, functionA);
    pointsL->set(indexL, qrimg::Point2f{xL, yL});
  }
  return pointsL;
}

void checkWritten(const std::ostream& osA, const char* functionA) {
  if (!osA) KXXCP_THROW(functionA, "BioDescriptor::write:  Invalid stream.");
}

}  // namespace descriptorstream
}  // namespace qrbase
