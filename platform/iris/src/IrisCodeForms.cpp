#include <qrliris/IrisCodeForms.h>

#include <cstring>
#include <vector>

#include <qrliris/IrisCode.h>

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

// Word and bit (in the low half) of ring bit i of ring r in each form.
inline int recordWord(int rA, int iA) {
  return 4 * rA + iA / 32;
}
inline int recordBit(int iA) {
  return iA % 32;
}
inline int matcherWord(int iA) {
  return iA % 32;
}
inline int matcherBit(int rA, int iA) {
  return 4 * rA + iA / 32;
}

// Moves every (code, mask) bit pair from one placement to another.
template <typename From, typename To>
void permute(const unsigned char* inA, unsigned char* outA, From fromA, To toA) {
  std::uint64_t inL[kWords];
  std::uint64_t outL[kWords] = {};
  for (int w = 0; w < kWords; ++w) inL[w] = wordAt(inA, w);
  for (int r = 0; r < kRings; ++r) {
    for (int i = 0; i < kRingBits; ++i) {
      int fwL, fbL, twL, tbL;
      fromA(r, i, fwL, fbL);
      toA(r, i, twL, tbL);
      const std::uint64_t codeL = (inL[fwL] >> fbL) & 1u;
      const std::uint64_t maskL = (inL[fwL] >> (fbL + 32)) & 1u;
      outL[twL] |= (codeL << tbL) | (maskL << (tbL + 32));
    }
  }
  for (int w = 0; w < kWords; ++w) putWord(outA, w, outL[w]);
}

void recordPlace(int rA, int iA, int& wA, int& bA) {
  wA = recordWord(rA, iA);
  bA = recordBit(iA);
}
void matcherPlace(int rA, int iA, int& wA, int& bA) {
  wA = matcherWord(iA);
  bA = matcherBit(rA, iA);
}

}  // namespace

void recordToMatcher(const unsigned char* recordA, unsigned char* matcherA) {
  permute(recordA, matcherA, recordPlace, matcherPlace);
}

void matcherToRecord(const unsigned char* matcherA, unsigned char* recordA) {
  permute(matcherA, recordA, matcherPlace, recordPlace);
}

void rotateRecord(const unsigned char* recordA, int stepsA, unsigned char* outA) {
  const std::vector<unsigned char> turnedL =
      IrisCode::fromBytes(recordA, kCodeBytes).rotated(stepsA).toBytes();
  std::memcpy(outA, turnedL.data(), kCodeBytes);
}

}  // namespace irisforms
}  // namespace kxegm
