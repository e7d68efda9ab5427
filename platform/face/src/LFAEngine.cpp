#include <qrlface/LFAEngine.h>

#include <qrlcore/Exception.h>
#include <qrlface/ByteMinimalGraph.h>

#include "BlobCoding.h"
#include "FeatureMath.h"

namespace MX {

float CProbeImage::score(const CFeatureSet& galleryA, std::vector<float>& blockScoresA) const {
  blockScoresA.clear();
  const std::size_t blocksL = blockCount();
  if (galleryA.blockCount() != blocksL || galleryA.blockLength() != blockLength() || blocksL == 0) {
    return 0.0f;
  }
  blockScoresA.resize(blocksL);
  double sumL = 0.0;
  for (std::size_t b = 0; b < blocksL; ++b) {
    blockScoresA[b] = static_cast<float>(
        kxegm::featuremath::dot(featuresM.block(b), galleryA.block(b), blockLength()));
    sumL += blockScoresA[b];
  }
  return static_cast<float>(0.5 * (sumL / static_cast<double>(blocksL)) + 0.5);
}

}  // namespace MX

namespace kxegm {
namespace {

constexpr std::uint16_t kVersion = 1;
constexpr unsigned kMaxBlocks = 256;
constexpr unsigned kMaxLength = 1024;
constexpr unsigned kMaxSide = 4096;

struct Parsed {
  std::size_t length = 0;
  std::vector<float> unit;
  std::vector<float> sideA;
  std::vector<float> sideB;
};

Parsed parse(const unsigned char* dataA, std::size_t sizeA, std::uint32_t algorithmA,
             const char* fnA) {
  blob::Reader inL(dataA, sizeA);
  const unsigned char* magicL = nullptr;
  if (!inL.getBytes(2, magicL) || magicL[0] != 'L' || magicL[1] != 'F') {
    KXXCP_THROW(fnA, "Invalid LFA template magic number.");
  }
  std::uint16_t versionL = 0, algorithmL = 0, blocksL = 0, lengthL = 0, sideAL = 0, sideBL = 0;
  if (!inL.getU16(versionL)) KXXCP_THROW(fnA, "LFA template truncated.");
  if (versionL != kVersion) KXXCP_THROW(fnA, "Invalid LFA template version: '" << versionL << "'.");
  if (!inL.getU16(algorithmL) || !inL.getU16(blocksL) || !inL.getU16(lengthL) ||
      !inL.getU16(sideAL) || !inL.getU16(sideBL)) {
    KXXCP_THROW(fnA, "LFA template truncated.");
  }
  if (algorithmL != algorithmA) {
    KXXCP_THROW(fnA, "LFA template of algorithm '" << algorithmL << "' read for algorithm '"
                                                   << algorithmA << "'.");
  }
  if (blocksL < 1 || blocksL > kMaxBlocks || lengthL < 1 || lengthL > kMaxLength ||
      sideAL > kMaxSide || sideBL > kMaxSide) {
    KXXCP_THROW(fnA, "Invalid LFA template size.");
  }
  Parsed outL;
  outL.length = lengthL;
  const unsigned char* bytesL = nullptr;
  if (!inL.getBytes(std::size_t{blocksL} * lengthL, bytesL) || !inL.getFloats(sideAL, outL.sideA) ||
      !inL.getFloats(sideBL, outL.sideB)) {
    KXXCP_THROW(fnA, "LFA template truncated.");
  }
  outL.unit.resize(std::size_t{blocksL} * lengthL);
  for (std::size_t i = 0; i < outL.unit.size(); ++i) {
    outL.unit[i] = static_cast<float>(static_cast<signed char>(bytesL[i]));
  }
  for (std::size_t b = 0; b < blocksL; ++b) {
    featuremath::normalise(outL.unit.data() + b * lengthL, lengthL, false);
  }
  return outL;
}

}  // namespace

MX::CProbeImage* LFAEngine::readProbeFromBlob(const unsigned char* dataA, std::size_t sizeA,
                                              std::uint32_t algorithmA, std::vector<float>& sideAA,
                                              std::vector<float>& sideBA) const {
  Parsed pL = parse(dataA, sizeA, algorithmA, "kxegm::LFAEngine::readProbeFromBlob");
  sideAA.insert(sideAA.end(), pL.sideA.begin(), pL.sideA.end());
  sideBA.insert(sideBA.end(), pL.sideB.begin(), pL.sideB.end());
  return new MX::CProbeImage(algorithmA, pL.length, std::move(pL.unit));
}

MX::CFeatureSet* LFAEngine::readGalleryFromBlob(const unsigned char* dataA, std::size_t sizeA,
                                                std::uint32_t algorithmA,
                                                std::vector<float>& sideAA,
                                                std::vector<float>& sideBA) const {
  Parsed pL;
  try {
    pL = parse(dataA, sizeA, algorithmA, "kxegm::LFAEngine::readGalleryFromBlob");
  } catch (const kxxcp::Exception&) {
    return nullptr;
  }
  sideAA.insert(sideAA.end(), pL.sideA.begin(), pL.sideA.end());
  sideBA.insert(sideBA.end(), pL.sideB.begin(), pL.sideB.end());
  return new MX::CFeatureSet(algorithmA, pL.length, std::move(pL.unit));
}

std::vector<unsigned char> LFAEngine::encode(std::uint32_t algorithmA, std::size_t blockCountA,
                                             std::size_t blockLengthA,
                                             const std::vector<float>& featuresA,
                                             const std::vector<float>& sideAA,
                                             const std::vector<float>& sideBA) {
  if (blockCountA < 1 || blockCountA > kMaxBlocks || blockLengthA < 1 ||
      blockLengthA > kMaxLength || featuresA.size() != blockCountA * blockLengthA ||
      sideAA.size() > kMaxSide || sideBA.size() > kMaxSide || algorithmA > 0xFFFF) {
    KXXCP_THROW("kxegm::LFAEngine::encode", "Invalid LFA template size.");
  }
  std::vector<unsigned char> outL;
  blob::Writer wL(outL);
  wL.putBytes("LF", 2);
  wL.putU16(kVersion);
  wL.putU16(static_cast<std::uint16_t>(algorithmA));
  wL.putU16(static_cast<std::uint16_t>(blockCountA));
  wL.putU16(static_cast<std::uint16_t>(blockLengthA));
  wL.putU16(static_cast<std::uint16_t>(sideAA.size()));
  wL.putU16(static_cast<std::uint16_t>(sideBA.size()));
  for (float v : featuresA) wL.putU8(static_cast<std::uint8_t>(ByteMinimalGraph::quantize(v)));
  wL.putFloats(sideAA.data(), sideAA.size());
  wL.putFloats(sideBA.data(), sideBA.size());
  return outL;
}

}  // namespace kxegm
