#include <qrlface/FaceHGM.h>

#include <cmath>

#include <qrlcore/Exception.h>
#include <qrlface/ByteMinimalGraph.h>

#include "BlobCoding.h"
#include "FeatureMath.h"

namespace kxegm {
namespace {

constexpr std::uint16_t kVersion = 1;
constexpr unsigned kMaxLevels = 8;
constexpr unsigned kMaxNodes = 4096;
constexpr unsigned kMaxLength = 1024;

bool validLevel(PyramidDataType typeA, unsigned nodesA, unsigned lengthA, float weightA) {
  if (nodesA < 1 || nodesA > kMaxNodes || lengthA < 1 || lengthA > kMaxLength) return false;
  if (typeA == PyramidDataType::Bit && lengthA % 8 != 0) return false;
  return std::isfinite(weightA) && weightA >= 0.0f;
}

std::size_t valueBytes(PyramidDataType typeA, std::size_t countA) {
  switch (typeA) {
    case PyramidDataType::Float:
      return 4 * countA;
    case PyramidDataType::Byte:
      return countA;
    case PyramidDataType::Bit:
      return countA / 8;
  }
  return 0;
}

}  // namespace

FaceHGM::FaceHGM(const std::string& configDirA, const std::string& normalisationA,
                 const std::string& projectionA, const std::string& meanA, bool useLdaA,
                 const std::string& dataTypeA)
    : configDirM(configDirA),
      projectionM(projectionA),
      meanM(meanA),
      useLdaM(useLdaA),
      anyDataTypeM(dataTypeA.empty()),
      dataTypeM(PyramidDataType::Float) {
  if (normalisationA != "none") {
    KXXCP_THROW("kxegm::FaceHGM::FaceHGM",
                "Unsupported pyramid score normalisation '" << normalisationA << "'.");
  }
  if (dataTypeA == "byte") {
    dataTypeM = PyramidDataType::Byte;
  } else if (dataTypeA == "bit") {
    dataTypeM = PyramidDataType::Bit;
  } else if (dataTypeA != "float" && !dataTypeA.empty()) {
    KXXCP_THROW("kxegm::FaceHGM::FaceHGM", "Unsupported pyramid data type '" << dataTypeA << "'.");
  }
}

FaceHGMTemplate::FaceHGMTemplate(const unsigned char* dataA, std::size_t sizeA,
                                 const FaceHGM& matcherA) {
  const char* fnL = "kxegm::FaceHGMTemplate::FaceHGMTemplate";
  blob::Reader inL(dataA, sizeA);
  const unsigned char* magicL = nullptr;
  if (!inL.getBytes(2, magicL) || magicL[0] != 'H' || magicL[1] != 'P') {
    KXXCP_THROW(fnL, "Invalid pyramid template magic number.");
  }
  std::uint16_t versionL = 0;
  std::uint8_t typeL = 0, levelsL = 0;
  if (!inL.getU16(versionL)) KXXCP_THROW(fnL, "Pyramid template truncated.");
  if (versionL != kVersion)
    KXXCP_THROW(fnL, "Invalid pyramid template version: '" << versionL << "'.");
  if (!inL.getU8(typeL) || !inL.getU8(levelsL)) KXXCP_THROW(fnL, "Pyramid template truncated.");
  if (typeL > 2)
    KXXCP_THROW(fnL, "Invalid pyramid template data type: '" << unsigned{typeL} << "'.");
  typeM = static_cast<PyramidDataType>(typeL);
  if (!matcherA.acceptsAnyDataType() && typeM != matcherA.dataType()) {
    KXXCP_THROW(fnL, "Pyramid template data type does not match the matcher.");
  }
  if (levelsL < 1 || levelsL > kMaxLevels) {
    KXXCP_THROW(fnL, "Invalid pyramid template level count: '" << unsigned{levelsL} << "'.");
  }
  levelsM.resize(levelsL);
  for (std::size_t l = 0; l < levelsM.size(); ++l) {
    Level& levelL = levelsM[l];
    if (!inL.getU16(levelL.nodes) || !inL.getU16(levelL.length) || !inL.getF32(levelL.weight)) {
      KXXCP_THROW(fnL, "Pyramid template truncated.");
    }
    if (!validLevel(typeM, levelL.nodes, levelL.length, levelL.weight)) {
      KXXCP_THROW(fnL, "Invalid pyramid template level " << l << ".");
    }
  }
  for (Level& levelL : levelsM) {
    const std::size_t countL = std::size_t{levelL.nodes} * levelL.length;
    const unsigned char* valuesL = nullptr;
    if (!inL.getBytes(valueBytes(typeM, countL), valuesL)) {
      KXXCP_THROW(fnL, "Pyramid template truncated.");
    }
    if (typeM == PyramidDataType::Bit) {
      levelL.bits.assign(valuesL, valuesL + countL / 8);
      continue;
    }
    levelL.unit.resize(countL);
    blob::Reader valueReaderL(valuesL, valueBytes(typeM, countL));
    for (float& v : levelL.unit) {
      if (typeM == PyramidDataType::Float) {
        valueReaderL.getF32(v);
        if (!std::isfinite(v)) v = 0.0f;
      } else {
        std::uint8_t byteL = 0;
        valueReaderL.getU8(byteL);
        v = static_cast<float>(static_cast<signed char>(byteL));
      }
    }
    for (std::size_t n = 0; n < levelL.nodes; ++n) {
      featuremath::normalise(levelL.unit.data() + n * levelL.length, levelL.length,
                             !matcherA.useLda());
    }
  }
}

float FaceHGM::match(const FaceHGMTemplate& galleryA, const FaceHGMTemplate& probeA) const {
  const auto& gL = galleryA.levelsM;
  const auto& pL = probeA.levelsM;
  bool sameL = galleryA.typeM == probeA.typeM && gL.size() == pL.size();
  for (std::size_t l = 0; sameL && l < gL.size(); ++l) {
    sameL = gL[l].nodes == pL[l].nodes && gL[l].length == pL[l].length;
  }
  if (!sameL) KXXCP_THROW("kxegm::FaceHGM::match", "Pyramid templates of different structure.");

  double weightSumL = 0.0;
  for (const auto& levelL : pL) weightSumL += levelL.weight;
  double scoreL = 0.0;
  for (std::size_t l = 0; l < pL.size(); ++l) {
    const std::size_t nodesL = pL[l].nodes;
    const std::size_t lengthL = pL[l].length;
    double levelScoreL = 0.0;
    for (std::size_t n = 0; n < nodesL; ++n) {
      if (probeA.typeM == PyramidDataType::Bit) {
        unsigned diffL = 0;
        for (std::size_t b = n * lengthL / 8; b < (n + 1) * lengthL / 8; ++b) {
          diffL += static_cast<unsigned>(__builtin_popcount(pL[l].bits[b] ^ gL[l].bits[b]));
        }
        levelScoreL += 1.0 - 2.0 * diffL / static_cast<double>(lengthL);
      } else {
        const float* pvL = pL[l].unit.data() + n * lengthL;
        const float* gvL = gL[l].unit.data() + n * lengthL;
        levelScoreL += featuremath::dot(pvL, gvL, lengthL);
      }
    }
    levelScoreL /= static_cast<double>(nodesL);
    const double weightL = weightSumL > 0.0 ? pL[l].weight / weightSumL : 1.0 / pL.size();
    scoreL += weightL * levelScoreL;
  }
  return static_cast<float>(0.5 * scoreL + 0.5);
}

std::vector<unsigned char> FaceHGM::encodeTemplate(PyramidDataType typeA,
                                                   const std::vector<PyramidLevel>& levelsA) {
  const char* fnL = "kxegm::FaceHGM::encodeTemplate";
  if (levelsA.empty() || levelsA.size() > kMaxLevels) {
    KXXCP_THROW(fnL, "Invalid pyramid template level count: '" << levelsA.size() << "'.");
  }
  std::vector<unsigned char> outL;
  blob::Writer wL(outL);
  wL.putBytes("HP", 2);
  wL.putU16(kVersion);
  wL.putU8(static_cast<std::uint8_t>(typeA));
  wL.putU8(static_cast<std::uint8_t>(levelsA.size()));
  for (std::size_t l = 0; l < levelsA.size(); ++l) {
    const PyramidLevel& levelL = levelsA[l];
    if (!validLevel(typeA, levelL.nodeCount, levelL.featureLength, levelL.weight) ||
        levelL.features.size() != std::size_t{levelL.nodeCount} * levelL.featureLength) {
      KXXCP_THROW(fnL, "Invalid pyramid template level " << l << ".");
    }
    wL.putU16(levelL.nodeCount);
    wL.putU16(levelL.featureLength);
    wL.putF32(levelL.weight);
  }
  for (const PyramidLevel& levelL : levelsA) {
    const auto& fL = levelL.features;
    if (typeA == PyramidDataType::Float) {
      wL.putFloats(fL.data(), fL.size());
    } else if (typeA == PyramidDataType::Byte) {
      for (float v : fL) wL.putU8(static_cast<std::uint8_t>(ByteMinimalGraph::quantize(v)));
    } else {
      for (std::size_t i = 0; i < fL.size(); i += 8) {
        std::uint8_t byteL = 0;
        for (std::size_t b = 0; b < 8; ++b)
          byteL = static_cast<std::uint8_t>((byteL << 1) | (fL[i + b] > 0.0f));
        wL.putU8(byteL);
      }
    }
  }
  return outL;
}

}  // namespace kxegm
