#pragma once

// Layout of the iris codes this library creates (algorithm "mvxIris2PiSdk").
//
// The iris annulus is unwrapped into kRings rings (ring 0 next to the pupil, ring kRings - 1
// next to the sclera) of kAngles angular positions each (position a covers the angles
// [a, a + 1) * 360 / kAngles degrees, counted from the image's +x axis towards +y). Every
// position carries two code bits, the signs of the real (component 0) and imaginary
// (component 1) parts of a complex filter response, and one mask bit per code bit (1 = usable).
//
// A code is kWords little-endian 64-bit words (kCodeBytes bytes). Word w holds the code bits
// of ring w / kWordsPerRing, positions 16 * (w % kWordsPerRing) to 16 * (w % kWordsPerRing) + 15:
// the bit for (position a, component c) is bit (2 * a + c) % 32 of the word's low half, its mask
// bit the same bit of the high half. So a matcher that compares one 64-bit word of two codes at
// a time has code and mask together, words 0..23 cover the six inner rings and words 0..31 the
// whole iris. Rotating the eye by one angular position shifts every ring by two code bits.
//
// In an iris template block the gallery part is one code and the probe part the same code twice
// in a row (2 * kCodeBytes bytes).

#include <cstddef>

namespace kxegm {
namespace iriscode {

constexpr int kRings = 8;
constexpr int kAngles = 64;
constexpr int kComponents = 2;
constexpr int kCodeBitsPerWord = 32;
constexpr int kWordsPerRing = kAngles * kComponents / kCodeBitsPerWord;
constexpr int kWords = kRings * kWordsPerRing;
constexpr std::size_t kCodeBytes = static_cast<std::size_t>(kWords) * 8;
constexpr int kCodeBits = kRings * kAngles * kComponents;

// Word index and bit index (within the low half) of one code bit.
constexpr int wordOf(int ringA, int angleA, int componentA) {
  return ringA * kWordsPerRing + (kComponents * angleA + componentA) / kCodeBitsPerWord;
}
constexpr int bitOf(int angleA, int componentA) {
  return (kComponents * angleA + componentA) % kCodeBitsPerWord;
}

}  // namespace iriscode
}  // namespace kxegm
