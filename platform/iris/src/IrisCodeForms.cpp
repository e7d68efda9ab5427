#include <qrliris/IrisCodeForms.h>

namespace kxegm {
namespace irisforms {
namespace {

std::uint64_t wordAt(const unsigned char* pA, int wA) {
  std::uint64_t vL = 0;
  for (int b = 7; b >= 0; --b) vL = (vL << 8) | pA[8 * wA + b];
  return vL;
}

void putWord(unsigned char* pA, int wA, std::uint64_t vA) {
  for (int b = 0; b < 8; ++b) pA[8 * wA + b] = static_cast<unsigned char>(vA >> (8 * b));
}

// Transposes a 32 x 32 bit matrix in place: bit c of row i goes to bit i of row c (blocks of
// 16, 8, 4, 2 and 1 bits swap across the diagonal in turn).
void transpose32(std::uint32_t rowsA[32]) {
  std::uint32_t maskL = 0x0000FFFFu;
  for (int j = 16; j != 0; j >>= 1, maskL ^= maskL << j) {
    for (int k = 0; k < 32; k = (k + j + 1) & ~j) {
      const std::uint32_t tL = ((rowsA[k] >> j) ^ rowsA[k + j]) & maskL;
      rowsA[k + j] ^= tL;
      rowsA[k] ^= tL << j;
    }
  }
}

// Record word 4r + q, bit b holds ring bit 32q + b of ring r; matcher word b, bit 4r + q holds
// the same ring bit. With k = 4r + q, matcher word b bit k is record word k bit b: each form is
// the other's transpose, for the code halves and the mask halves alike.
void transposeForm(const unsigned char* inA, unsigned char* outA) {
  std::uint32_t codeL[kWords];
  std::uint32_t maskL[kWords];
  for (int w = 0; w < kWords; ++w) {
    const std::uint64_t wordL = wordAt(inA, w);
    codeL[w] = static_cast<std::uint32_t>(wordL);
    maskL[w] = static_cast<std::uint32_t>(wordL >> 32);
  }
  transpose32(codeL);
  transpose32(maskL);
  for (int w = 0; w < kWords; ++w) {
    putWord(outA, w, codeL[w] | (static_cast<std::uint64_t>(maskL[w]) << 32));
  }
}

// A ring's 128 bits (four record words' halves, the half at bit offset halfA) turned left by
// bitsA (0..127).
unsigned __int128 turnedRing(const std::uint64_t* wordsA, int halfA, int bitsA) {
  unsigned __int128 ringL = 0;
  for (int q = 3; q >= 0; --q) ringL = (ringL << 32) | ((wordsA[q] >> halfA) & 0xFFFFFFFFu);
  return bitsA == 0 ? ringL : (ringL << bitsA) | (ringL >> (128 - bitsA));
}

}  // namespace

void recordToMatcher(const unsigned char* recordA, unsigned char* matcherA) {
  transposeForm(recordA, matcherA);
}

void matcherToRecord(const unsigned char* matcherA, unsigned char* recordA) {
  transposeForm(matcherA, recordA);
}

void rotateRecord(const unsigned char* recordA, int stepsA, unsigned char* outA) {
  // Position p takes position p - steps: ring bit i takes ring bit i - 2 steps.
  const int bitsL = 2 * (((stepsA % kPositions) + kPositions) % kPositions);
  std::uint64_t wordsL[kWords];
  for (int w = 0; w < kWords; ++w) wordsL[w] = wordAt(recordA, w);
  for (int r = 0; r < kRings; ++r) {
    const unsigned __int128 codeL = turnedRing(wordsL + 4 * r, 0, bitsL);
    const unsigned __int128 maskL = turnedRing(wordsL + 4 * r, 32, bitsL);
    for (int q = 0; q < 4; ++q) {
      const auto codeWordL = static_cast<std::uint32_t>(codeL >> (32 * q));
      const auto maskWordL = static_cast<std::uint32_t>(maskL >> (32 * q));
      putWord(outA, 4 * r + q, codeWordL | (static_cast<std::uint64_t>(maskWordL) << 32));
    }
  }
}

}  // namespace irisforms
}  // namespace kxegm
