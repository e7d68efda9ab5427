#pragma once

// The two forms of an iris code of this library: the record form, in which templates are stored
// and exchanged, and the matcher form, which the iris-code matcher (IrisCodeMatcher.h) compares.
// kxegm::IrisMatchEngine converts between them.
//
// Both forms are 256 bytes: 32 little-endian 64-bit words, each holding 32 code bits in its low
// half and, at the same bit positions of its high half, their 32 mask bits (1 = usable). The
// code covers 8 rings (ring 0 next to the pupil) of 64 angular positions, two code bits per
// position (component 0 and 1); ring bit i = 2 * position + component, 0..127.
//
// Record form (ring-major): word 4r + i / 32, bit i % 32 holds ring bit i of ring r; this is the
// layout of IrisCodeLayout.h, in which IrisCodeCreator makes codes. Turning the eye by one
// angular position shifts each ring's 128 bits by two.
//
// Matcher form (spread): word i % 32, bit 4r + i / 32 holds ring bit i of ring r. Every word
// thus samples all eight rings at four positions a quarter turn apart, so the first words of a
// code are a fair sample of the whole iris: the matcher's early rejection after one or two
// words then judges the whole eye, not one arc of the innermost ring. Words 0..23 (the part an
// older six-ring matcher reads) cover three quarters of every ring.

#include <cstddef>
#include <cstdint>

#include <qrliris/IrisCodeLayout.h>
#include <qrliris/IrisExport.h>

namespace kxegm {
namespace irisforms {

constexpr int kRings = iriscode::kRings;
constexpr int kPositions = iriscode::kAngles;
constexpr int kRingBits = iriscode::kComponents * kPositions;  // 128
constexpr int kWords = iriscode::kWords;
constexpr std::size_t kCodeBytes = iriscode::kCodeBytes;  // 256
static_assert(kRingBits == 128 && kWords == 32, "the matcher form spreads 8 rings of 128 bits");

// One whole code (kCodeBytes bytes) from one form to the other; in and out must not overlap.
QRLIRIS_EXPORT void recordToMatcher(const unsigned char* recordA, unsigned char* matcherA);
QRLIRIS_EXPORT void matcherToRecord(const unsigned char* matcherA, unsigned char* recordA);

// The record-form code turned by stepsA angular positions (any sign): position p of the result
// holds position p - stepsA (modulo kPositions) of the input, with its mask.
QRLIRIS_EXPORT void rotateRecord(const unsigned char* recordA, int stepsA, unsigned char* outA);

}  // namespace irisforms
}  // namespace kxegm
