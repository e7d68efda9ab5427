#include <qrlfinger/MinutiaeTemplate.h>

namespace qrfpt {
namespace {

std::uint16_t get16(const std::uint8_t* pA) {
  return static_cast<std::uint16_t>(pA[0] | (pA[1] << 8));
}
void put16(std::uint8_t* pA, std::uint16_t vA) {
  pA[0] = static_cast<std::uint8_t>(vA);
  pA[1] = static_cast<std::uint8_t>(vA >> 8);
}

// Checks the header and the announced length; 0 or a FingerStatus.
int checkHeader(const std::uint8_t* dataA, std::size_t sizeA, std::uint8_t kindA,
                std::size_t& bytesA) {
  bytesA = 0;
  if (dataA == nullptr || sizeA < kHeaderBytes) return FingerTooShort;
  if (dataA[0] != kKindL2F && dataA[0] != kKindL2M) return FingerBadKind;
  if (kindA != 0 && dataA[0] != kindA) return FingerBadKind;
  if (dataA[1] != kTemplateVersion) return FingerBadVersion;
  const std::uint16_t countL = get16(dataA + 2);
  if (countL > kMaxMinutiae) return FingerTooManyMinutiae;
  const std::size_t needL = kHeaderBytes + kMinutiaBytes * countL;
  if (needL > sizeA) return FingerTooShort;
  bytesA = needL;
  return FingerOk;
}

}  // namespace

std::size_t templateBytes(const std::uint8_t* dataA, std::size_t sizeA) {
  std::size_t bytesL = 0;
  checkHeader(dataA, sizeA, 0, bytesL);
  return bytesL;
}

int FingerprintTemplate::decode(const std::uint8_t* dataA, std::size_t sizeA, std::uint8_t kindA) {
  *this = FingerprintTemplate();
  std::size_t bytesL = 0;
  const int statusL = checkHeader(dataA, sizeA, kindA, bytesL);
  if (statusL != FingerOk) return statusL;
  kind = dataA[0];
  impressionType = dataA[4];
  orientation = static_cast<std::int8_t>(dataA[5]);
  quality = dataA[6];
  orientationConfidence = dataA[7];
  width = get16(dataA + 8);
  height = get16(dataA + 10);
  const std::uint16_t countL = get16(dataA + 2);
  minutiae.resize(countL);
  const std::uint8_t* pL = dataA + kHeaderBytes;
  for (Minutia& m : minutiae) {
    m.x = get16(pL);
    m.y = get16(pL + 2);
    m.angle = pL[4];
    m.type = pL[5] & 3;
    m.quality = pL[5] >> 2;
    pL += kMinutiaBytes;
  }
  return FingerOk;
}

int FingerprintTemplate::encode(std::vector<std::uint8_t>& outA) const {
  if (minutiae.size() > kMaxMinutiae) return FingerTooManyMinutiae;
  outA.assign(kHeaderBytes + kMinutiaBytes * minutiae.size(), 0);
  outA[0] = kind;
  outA[1] = kTemplateVersion;
  put16(&outA[2], static_cast<std::uint16_t>(minutiae.size()));
  outA[4] = impressionType;
  outA[5] = static_cast<std::uint8_t>(orientation);
  outA[6] = quality;
  outA[7] = orientationConfidence;
  put16(&outA[8], width);
  put16(&outA[10], height);
  std::uint8_t* pL = outA.data() + kHeaderBytes;
  for (const Minutia& m : minutiae) {
    put16(pL, m.x);
    put16(pL + 2, m.y);
    pL[4] = m.angle;
    pL[5] = static_cast<std::uint8_t>((m.type & 3) | ((m.quality & 63) << 2));
    pL += kMinutiaBytes;
  }
  return FingerOk;
}

void FingerprintTemplate::centre(float& xA, float& yA) const {
  xA = yA = 0.0f;
  for (const Minutia& m : minutiae) {
    xA += m.x;
    yA += m.y;
  }
  if (!minutiae.empty()) {
    xA /= static_cast<float>(minutiae.size());
    yA /= static_cast<float>(minutiae.size());
  }
}

std::uint8_t FingerprintTemplate::meanQuality() const {
  if (minutiae.empty()) return 0;
  unsigned sumL = 0;
  for (const Minutia& m : minutiae) sumL += m.quality;
  // quality 63 everywhere reads as 100
  return static_cast<std::uint8_t>((sumL * 100 + 63 * minutiae.size() / 2) /
                                   (63 * minutiae.size()));
}

}  // namespace qrfpt
