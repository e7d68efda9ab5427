#include <qrliris/IrisCode.h>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeForms.h>

namespace kxegm {

using namespace iriscode;

namespace {
constexpr std::uint64_t kLowHalf = 0xffffffffu;
}  // namespace

bool IrisCode::bit(int ringA, int angleA, int componentA) const {
  return (wordsM[wordOf(ringA, angleA, componentA)] >> bitOf(angleA, componentA)) & 1u;
}

bool IrisCode::usable(int ringA, int angleA, int componentA) const {
  return (wordsM[wordOf(ringA, angleA, componentA)] >> (32 + bitOf(angleA, componentA))) & 1u;
}

void IrisCode::set(int ringA, int angleA, int componentA, bool bitA, bool usableA) {
  std::uint64_t& wordL = wordsM[wordOf(ringA, angleA, componentA)];
  const int shiftL = bitOf(angleA, componentA);
  wordL &= ~((std::uint64_t{1} << shiftL) | (std::uint64_t{1} << (32 + shiftL)));
  wordL |= (std::uint64_t{bitA} << shiftL) | (std::uint64_t{usableA} << (32 + shiftL));
}

int IrisCode::usableBitCount() const {
  int nL = 0;
  for (std::uint64_t w : wordsM) nL += __builtin_popcountll(w >> 32);
  return nL;
}

IrisCode IrisCode::rotated(int stepsA) const {
  // The words are the record form of the code.
  const std::vector<unsigned char> bytesL = toBytes();
  unsigned char turnedL[kCodeBytes];
  irisforms::rotateRecord(bytesL.data(), stepsA, turnedL);
  return fromBytes(turnedL, kCodeBytes);
}

double IrisCode::hammingDistance(const IrisCode& otherA, int maxShiftA, int* bestShiftA) const {
  double bestL = 1.0;
  int bestShiftL = 0;
  for (int s = -maxShiftA; s <= maxShiftA; ++s) {
    const IrisCode turnedL = otherA.rotated(s);
    std::uint64_t totalL = 0;
    std::uint64_t diffL = 0;
    for (int w = 0; w < kWords; ++w) {
      const std::uint64_t validL = (wordsM[w] >> 32) & (turnedL.wordsM[w] >> 32);
      totalL += __builtin_popcountll(validL);
      diffL += __builtin_popcountll((wordsM[w] ^ turnedL.wordsM[w]) & kLowHalf & validL);
    }
    if (totalL == 0) continue;
    const double hdL = static_cast<double>(diffL) / static_cast<double>(totalL);
    if (hdL < bestL) {
      bestL = hdL;
      bestShiftL = s;
    }
  }
  if (bestShiftA != nullptr) *bestShiftA = bestShiftL;
  return bestL;
}

std::vector<unsigned char> IrisCode::toBytes() const {
  std::vector<unsigned char> outL(kCodeBytes);
  for (int w = 0; w < kWords; ++w) {
    for (int b = 0; b < 8; ++b) outL[8 * w + b] = static_cast<unsigned char>(wordsM[w] >> (8 * b));
  }
  return outL;
}

IrisCode IrisCode::fromBytes(const unsigned char* dataA, std::size_t sizeA) {
  if (dataA == nullptr || sizeA != kCodeBytes) {
    KXXCP_THROW("kxegm::IrisCode::fromBytes", "Invalid iris code size '" << sizeA << "'.");
  }
  IrisCode codeL;
  for (int w = 0; w < kWords; ++w) {
    std::uint64_t vL = 0;
    for (int b = 7; b >= 0; --b) vL = (vL << 8) | dataA[8 * w + b];
    codeL.wordsM[w] = vL;
  }
  return codeL;
}

}  // namespace kxegm
