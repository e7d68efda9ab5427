#pragma once

// Little-endian reading and writing of the face library's template blobs (memory, not streams).
// The reader never reads past the blob: each get reports whether the bytes were there and
// changes its output only when they were.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kxegm {
namespace blob {

class Reader {
 public:
  Reader(const unsigned char* dataA, std::size_t sizeA) : posM(dataA), endM(dataA + sizeA) {
    if (dataA == nullptr) endM = posM;
  }

  std::size_t remaining() const { return static_cast<std::size_t>(endM - posM); }

  bool getU8(std::uint8_t& vA) {
    if (remaining() < 1) return false;
    vA = *posM++;
    return true;
  }
  bool getU16(std::uint16_t& vA) {
    if (remaining() < 2) return false;
    vA = static_cast<std::uint16_t>(posM[0] | (posM[1] << 8));
    posM += 2;
    return true;
  }
  bool getF32(float& vA) {
    if (remaining() < 4) return false;
    std::uint32_t bitsL = 0;
    for (int i = 3; i >= 0; --i) bitsL = (bitsL << 8) | posM[i];
    std::memcpy(&vA, &bitsL, 4);
    posM += 4;
    return true;
  }
  // Points at the next nA bytes and skips them.
  bool getBytes(std::size_t nA, const unsigned char*& bytesA) {
    if (remaining() < nA) return false;
    bytesA = posM;
    posM += nA;
    return true;
  }
  bool getFloats(std::size_t nA, std::vector<float>& valuesA) {
    if (remaining() / 4 < nA) return false;
    valuesA.resize(nA);
    for (auto& v : valuesA) getF32(v);
    return true;
  }

 private:
  const unsigned char* posM;
  const unsigned char* endM;
};

class Writer {
 public:
  explicit Writer(std::vector<unsigned char>& outA) : outM(outA) {}

  void putU8(std::uint8_t vA) { outM.push_back(vA); }
  void putU16(std::uint16_t vA) {
    outM.push_back(static_cast<unsigned char>(vA));
    outM.push_back(static_cast<unsigned char>(vA >> 8));
  }
  void putF32(float vA) {
    std::uint32_t bitsL;
    std::memcpy(&bitsL, &vA, 4);
    for (int i = 0; i < 4; ++i) outM.push_back(static_cast<unsigned char>(bitsL >> (8 * i)));
  }
  void putFloats(const float* valuesA, std::size_t nA) {
    for (std::size_t i = 0; i < nA; ++i) putF32(valuesA[i]);
  }
  void putBytes(const void* dataA, std::size_t nA) {
    const auto* pL = static_cast<const unsigned char*>(dataA);
    for (std::size_t i = 0; i < nA; ++i) outM.push_back(pL[i]);
  }

 private:
  std::vector<unsigned char>& outM;
};

}  // namespace blob
}  // namespace kxegm
