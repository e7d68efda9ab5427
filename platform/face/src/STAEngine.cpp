#include <qrlface/STAEngine.h>

#include <algorithm>
#include <cmath>

#include <qrlcore/Exception.h>
#include <qrlface/ByteMinimalGraph.h>

#include "BlobCoding.h"
#include "FeatureMath.h"

namespace kxegm {
namespace {

constexpr std::uint16_t kVersion = 1;
constexpr unsigned kMaxPoints = 64;
constexpr unsigned kMaxLength = 256;

struct Parsed {
  std::size_t length = 0;
  std::vector<float> confidences;
  std::vector<float> unit;
};

Parsed parse(const unsigned char* dataA, std::size_t sizeA, const char* fnA) {
  blob::Reader inL(dataA, sizeA);
  const unsigned char* magicL = nullptr;
  if (!inL.getBytes(2, magicL) || magicL[0] != 'S' || magicL[1] != 'T') {
    KXXCP_THROW(fnA, "Invalid STA template magic number.");
  }
  std::uint16_t versionL = 0, lengthL = 0;
  std::uint8_t kindL = 0, pointsL = 0;
  if (!inL.getU16(versionL)) KXXCP_THROW(fnA, "STA template truncated.");
  if (versionL != kVersion) KXXCP_THROW(fnA, "Invalid STA template version: '" << versionL << "'.");
  if (!inL.getU8(kindL) || !inL.getU8(pointsL) || !inL.getU16(lengthL)) {
    KXXCP_THROW(fnA, "STA template truncated.");
  }
  if (kindL > 1) KXXCP_THROW(fnA, "Invalid STA template kind: '" << unsigned{kindL} << "'.");
  if (pointsL < 1 || pointsL > kMaxPoints || lengthL < 1 || lengthL > kMaxLength) {
    KXXCP_THROW(fnA, "Invalid STA template size.");
  }
  const bool floatsL = kindL == 1;
  Parsed outL;
  outL.length = lengthL;
  outL.confidences.resize(pointsL);
  outL.unit.resize(std::size_t{pointsL} * lengthL);
  for (std::size_t p = 0; p < pointsL; ++p) {
    float* vL = outL.unit.data() + p * lengthL;
    if (!inL.getF32(outL.confidences[p])) KXXCP_THROW(fnA, "STA template truncated.");
    if (!std::isfinite(outL.confidences[p]) || outL.confidences[p] < 0.0f)
      outL.confidences[p] = 0.0f;
    for (std::size_t i = 0; i < lengthL; ++i) {
      std::uint8_t byteL = 0;
      const bool okL = floatsL ? inL.getF32(vL[i]) : inL.getU8(byteL);
      if (!okL) KXXCP_THROW(fnA, "STA template truncated.");
      if (!floatsL) vL[i] = static_cast<float>(static_cast<signed char>(byteL));
    }
    featuremath::normalise(vL, lengthL, false);
  }
  return outL;
}

}  // namespace

MX::STAProbeTemplate* STAEngine::readProbeFromBlob(const unsigned char* dataA,
                                                   std::size_t sizeA) const {
  Parsed pL = parse(dataA, sizeA, "kxegm::STAEngine::readProbeFromBlob");
  return new MX::STAProbeTemplate(pL.length, std::move(pL.confidences), std::move(pL.unit));
}

MX::STAGalleryTemplate* STAEngine::readGalleryFromBlob(const unsigned char* dataA,
                                                       std::size_t sizeA) const {
  Parsed pL = parse(dataA, sizeA, "kxegm::STAEngine::readGalleryFromBlob");
  return new MX::STAGalleryTemplate(pL.length, std::move(pL.confidences), std::move(pL.unit));
}

float STAEngine::verify(const MX::STAGalleryTemplate& galleryA,
                        const MX::STAProbeTemplate& probeA) const {
  if (galleryA.pointCount() != probeA.pointCount() ||
      galleryA.descriptorLength() != probeA.descriptorLength()) {
    KXXCP_THROW("kxegm::STAEngine::verify", "STA templates of different structure.");
  }
  double weightL = 0.0, sumL = 0.0;
  for (std::size_t p = 0; p < probeA.pointCount(); ++p) {
    const double wL = std::min(galleryA.confidence(p), probeA.confidence(p));
    weightL += wL;
    sumL += wL * featuremath::dot(galleryA.descriptor(p), probeA.descriptor(p),
                                  probeA.descriptorLength());
  }
  if (!(weightL > 0.0)) return 0.0f;
  return static_cast<float>(0.5 * (sumL / weightL) + 0.5);
}

std::vector<unsigned char> STAEngine::encode(const std::vector<STAPoint>& pointsA, bool galleryA) {
  const char* fnL = "kxegm::STAEngine::encode";
  if (pointsA.empty() || pointsA.size() > kMaxPoints)
    KXXCP_THROW(fnL, "Invalid STA template size.");
  const std::size_t lengthL = pointsA.front().descriptor.size();
  if (lengthL < 1 || lengthL > kMaxLength) KXXCP_THROW(fnL, "Invalid STA template size.");
  std::vector<unsigned char> outL;
  blob::Writer wL(outL);
  wL.putBytes("ST", 2);
  wL.putU16(kVersion);
  wL.putU8(galleryA ? 0 : 1);
  wL.putU8(static_cast<std::uint8_t>(pointsA.size()));
  wL.putU16(static_cast<std::uint16_t>(lengthL));
  for (const STAPoint& pointL : pointsA) {
    if (pointL.descriptor.size() != lengthL) KXXCP_THROW(fnL, "Invalid STA template size.");
    wL.putF32(pointL.confidence);
    for (float v : pointL.descriptor) {
      if (galleryA) {
        wL.putU8(static_cast<std::uint8_t>(ByteMinimalGraph::quantize(v)));
      } else {
        wL.putF32(v);
      }
    }
  }
  if (galleryA && outL.size() > kMaxGalleryBytes) {
    KXXCP_THROW(fnL, "STA gallery template larger than " << kMaxGalleryBytes << " bytes.");
  }
  return outL;
}

}  // namespace kxegm
