#pragma once

// Minutiae templates of the finger library.
//
// Byte layout (integers little-endian), the same for both kinds:
//   0      kind: 'F' (0x46) an l2f template, 'M' (0x4D) an l2m template
//   1      format version, kTemplateVersion
//   2..3   minutia count n (at most kMaxMinutiae)
//   4      impression type (0..8, the numbering of the record model)
//   5      finger orientation, signed, in angle units (256 to the full turn); the direction in
//          which the finger points relative to the image's upward axis
//   6      template quality 0..100
//   7      orientation confidence 0..100
//   8..9   image width in pixels (500 dpi)
//   10..11 image height in pixels
//   12..   n minutiae of kMinutiaBytes each: x (16 bit), y (16 bit), direction (8 bit, angle
//          units, counter-clockwise from the x axis with y pointing down), and one byte holding
//          the type in bits 0..1 (1 ridge ending, 2 bifurcation) and the quality 0..63 in bits 2..7
// A template is exactly 12 + 6 n bytes; trailing bytes are allowed (padded copies) and ignored.
// l2m and l2f templates differ only in the kind byte: an l2f template is derived from an l2m
// template by trimming it to the minutiae an L2F matcher wants.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qrlfinger/FingerExport.h>

namespace qrfpt {

constexpr std::uint8_t kKindL2F = 'F';
constexpr std::uint8_t kKindL2M = 'M';
constexpr std::uint8_t kTemplateVersion = 1;
constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kMinutiaBytes = 6;
constexpr std::uint16_t kMaxMinutiae = 255;
// Angle units to the full turn.
constexpr int kAngleUnits = 256;

enum MinutiaType : std::uint8_t { MinutiaOther = 0, MinutiaEnding = 1, MinutiaBifurcation = 2 };

struct Minutia {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint8_t angle = 0;    // angle units
  std::uint8_t type = 0;     // MinutiaType
  std::uint8_t quality = 0;  // 0..63
  bool operator==(const Minutia& o) const {
    return x == o.x && y == o.y && angle == o.angle && type == o.type && quality == o.quality;
  }
};

// Status codes of the template readers and the library operations.
enum FingerStatus : int {
  FingerOk = 0,
  FingerTooShort = 1,    // fewer bytes than the header, or than the minutiae it announces
  FingerBadKind = 2,     // kind byte is neither 'F' nor 'M' (or not the kind asked for)
  FingerBadVersion = 3,  // version byte is not kTemplateVersion
  FingerTooManyMinutiae = 4,
  FingerNotInitialised =
      5,  // an L2F operation before initL2f, or identifyNext before identifyStart
  FingerBadArgument = 6,
};

// A decoded template; also the converted form the FingerL2Fi matcher compares.
class QRLFINGER_EXPORT FingerprintTemplate {
 public:
  std::uint8_t kind = kKindL2M;
  std::uint8_t impressionType = 0;
  std::int8_t orientation = 0;
  std::uint8_t quality = 0;
  std::uint8_t orientationConfidence = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  bool isProbe = false;  // set by conversion only; not stored
  std::vector<Minutia> minutiae;

  // Reads sizeA bytes at dataA. kindA 0 accepts both kinds. Returns a FingerStatus; on failure
  // the template is left empty. Never reads beyond sizeA bytes.
  int decode(const std::uint8_t* dataA, std::size_t sizeA, std::uint8_t kindA = 0);
  // The stored form (12 + 6 n bytes). Fails with FingerTooManyMinutiae beyond kMaxMinutiae.
  int encode(std::vector<std::uint8_t>& outA) const;
  // The mean position of the minutiae ((0, 0) for none).
  void centre(float& xA, float& yA) const;
  // Mean minutia quality scaled to 0..100 (0 for no minutiae).
  std::uint8_t meanQuality() const;
};

// The byte count the template at dataA announces (12 + 6 n), or 0 when the header cannot be
// read within sizeA bytes, has a wrong kind or version, or announces more than sizeA bytes.
QRLFINGER_EXPORT std::size_t templateBytes(const std::uint8_t* dataA, std::size_t sizeA);

}  // namespace qrfpt
