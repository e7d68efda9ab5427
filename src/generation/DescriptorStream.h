#pragma once

// Pieces of the descriptor stream format shared by the descriptor kinds: fixed-width fields,
// presence flags, and the embedded items (PNG images, face graphs, face quality results, three
// feature points). Every reader throws kxxcp::Exception with the given function name:
// "BioDescriptor::read:  Invalid stream." when the stream ends early, and
// "BioDescriptor::read:  Invalid <item>: <the item reader's message>" for a bad embedded item.

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>

#include <qrlface/FaceGraph.h>
#include <qrlface/FaceQualityCheckResult.h>
#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Image.h>

namespace qrbase {
namespace descriptorstream {

std::uint8_t readU8(std::istream& isA, const char* functionA);
std::uint16_t readU16(std::istream& isA, const char* functionA);
std::uint32_t readU32(std::istream& isA, const char* functionA);
std::uint64_t readU64(std::istream& isA, const char* functionA);
float readFloat(std::istream& isA, const char* functionA);

// Reads presence flags and refuses bits outside allowedA:
// "BioDescriptor::read:  Invalid <kind> flags '<n>'".
std::uint32_t readFlags(std::istream& isA, std::uint32_t allowedA, const char* kindA,
                        const char* functionA);

void writeImage(std::ostream& osA, const qrimg::Image& imageA, const char* itemA,
                const char* functionA);
std::unique_ptr<qrimg::Image> readImage(std::istream& isA, const char* itemA,
                                        const char* functionA);
std::unique_ptr<kxegm::FaceGraph> readGraph(std::istream& isA, const char* itemA,
                                            const char* functionA);
std::unique_ptr<kxegm::FaceQualityCheckResult> readQualityResult(std::istream& isA,
                                                                 const char* functionA);

// The feature points 1, 5 and 9, each x then y as floats (absent points as 0, 0).
void writePoints(std::ostream& osA, const qrimg::FacialFeaturePoints& pointsA);
// The three points, set; the others absent.
std::unique_ptr<qrimg::FacialFeaturePoints> readPoints(std::istream& isA, const char* functionA);

// Deep copies of owned descriptor items (null stays null).
template <typename T>
std::unique_ptr<T> copyOrNull(const std::unique_ptr<T>& itemA) {
  return itemA ? std::make_unique<T>(*itemA) : nullptr;
}
inline std::unique_ptr<qrimg::Image> cloneOrNull(const qrimg::Image* imageA) {
  return imageA != nullptr ? std::unique_ptr<qrimg::Image>(imageA->clone()) : nullptr;
}

// Throws "BioDescriptor::write:  Invalid stream." when the stream failed.
void checkWritten(const std::ostream& osA, const char* functionA);

}  // namespace descriptorstream
}  // namespace qrbase
