#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <qrliris/IrisCodeLayout.h>
#include <qrliris/IrisExport.h>

namespace kxegm {

// One iris code with its mask in the layout of IrisCodeLayout.h.
class QRLIRIS_EXPORT IrisCode {
 public:
  IrisCode() { wordsM.fill(0); }

  bool bit(int ringA, int angleA, int componentA) const;
  bool usable(int ringA, int angleA, int componentA) const;
  void set(int ringA, int angleA, int componentA, bool bitA, bool usableA);
  // Number of usable code bits.
  int usableBitCount() const;

  // The code turned by stepsA angular positions: position a of the result holds position
  // a - stepsA of this code (modulo kAngles).
  IrisCode rotated(int stepsA) const;

  // Fraction of differing bits among the bits usable in both codes, minimised over the
  // rotations -maxShiftA..maxShiftA of the other code; 1.0 when no bit is usable in both.
  // bestShiftA (optional) receives the best rotation.
  double hammingDistance(const IrisCode& otherA, int maxShiftA, int* bestShiftA = nullptr) const;

  // The kCodeBytes bytes of the code (64-bit words, little-endian), and back. fromBytes throws
  // "Invalid iris code size '<n>'." unless exactly kCodeBytes bytes are given.
  std::vector<unsigned char> toBytes() const;
  static IrisCode fromBytes(const unsigned char* dataA, std::size_t sizeA);

  bool operator==(const IrisCode& o) const { return wordsM == o.wordsM; }
  bool operator!=(const IrisCode& o) const { return !(*this == o); }

 private:
  std::array<std::uint64_t, iriscode::kWords> wordsM;
};

}  // namespace kxegm
