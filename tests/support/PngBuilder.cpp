#include "support/PngBuilder.h"

#include <cstring>

namespace quarlen_test {

std::uint32_t crc32(const unsigned char* dataA, std::size_t sizeA) {
  std::uint32_t crcL = 0xffffffffu;
  for (std::size_t i = 0; i < sizeA; ++i) {
    crcL ^= dataA[i];
    for (int k = 0; k < 8; ++k) crcL = (crcL >> 1) ^ (0xedb88320u & (0u - (crcL & 1u)));
  }
  return ~crcL;
}

namespace {
void putBe32(Bytes& outA, std::uint32_t vA) {
  for (int s = 24; s >= 0; s -= 8) outA.push_back(static_cast<unsigned char>(vA >> s));
}
}  // namespace

void appendChunk(Bytes& pngA, const char* typeA, const Bytes& dataA) {
  putBe32(pngA, static_cast<std::uint32_t>(dataA.size()));
  const std::size_t typeAtL = pngA.size();
  pngA.insert(pngA.end(), typeA, typeA + 4);
  pngA.insert(pngA.end(), dataA.begin(), dataA.end());
  putBe32(pngA, crc32(&pngA[typeAtL], 4 + dataA.size()));
}

Bytes zlibStored(const Bytes& rawA) {
  Bytes outL = {0x78, 0x01};
  std::size_t posL = 0;
  do {
    const std::size_t nL = std::min<std::size_t>(65535, rawA.size() - posL);
    const bool lastL = posL + nL == rawA.size();
    outL.push_back(lastL ? 1 : 0);
    outL.push_back(static_cast<unsigned char>(nL));
    outL.push_back(static_cast<unsigned char>(nL >> 8));
    outL.push_back(static_cast<unsigned char>(~nL));
    outL.push_back(static_cast<unsigned char>(~nL >> 8));
    outL.insert(outL.end(), rawA.begin() + posL, rawA.begin() + posL + nL);
    posL += nL;
  } while (posL < rawA.size());
  std::uint32_t aL = 1, bL = 0;
  for (unsigned char c : rawA) {
    aL = (aL + c) % 65521;
    bL = (bL + aL) % 65521;
  }
  putBe32(outL, (bL << 16) | aL);
  return outL;
}

Bytes buildPng(std::uint32_t widthA, std::uint32_t heightA, unsigned bitDepthA,
               unsigned colourTypeA, const Bytes& scanLinesA, const Bytes& extraChunksA) {
  Bytes pngL = {137, 80, 78, 71, 13, 10, 26, 10};
  Bytes ihdrL;
  putBe32(ihdrL, widthA);
  putBe32(ihdrL, heightA);
  ihdrL.push_back(static_cast<unsigned char>(bitDepthA));
  ihdrL.push_back(static_cast<unsigned char>(colourTypeA));
  ihdrL.insert(ihdrL.end(), {0, 0, 0});
  appendChunk(pngL, "IHDR", ihdrL);
  pngL.insert(pngL.end(), extraChunksA.begin(), extraChunksA.end());
  appendChunk(pngL, "IDAT", zlibStored(scanLinesA));
  appendChunk(pngL, "IEND", Bytes());
  return pngL;
}

void fixChunkCrc(Bytes& pngA, std::size_t chunkA) {
  const std::uint32_t lengthL = (std::uint32_t{pngA[chunkA]} << 24) |
                                (std::uint32_t{pngA[chunkA + 1]} << 16) |
                                (std::uint32_t{pngA[chunkA + 2]} << 8) | pngA[chunkA + 3];
  const std::uint32_t crcL = crc32(&pngA[chunkA + 4], 4 + lengthL);
  for (int i = 0; i < 4; ++i) {
    pngA[chunkA + 8 + lengthL + i] = static_cast<unsigned char>(crcL >> (24 - 8 * i));
  }
}

std::size_t findChunk(const Bytes& pngA, const char* typeA) {
  std::size_t posL = 8;
  while (posL + 8 <= pngA.size()) {
    const std::uint32_t lengthL = (std::uint32_t{pngA[posL]} << 24) |
                                  (std::uint32_t{pngA[posL + 1]} << 16) |
                                  (std::uint32_t{pngA[posL + 2]} << 8) | pngA[posL + 3];
    if (std::memcmp(&pngA[posL + 4], typeA, 4) == 0) return posL;
    posL += 12 + lengthL;
  }
  return std::string::npos;
}

}  // namespace quarlen_test
