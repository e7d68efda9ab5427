#include <qrlface/FaceQualityCheckResult.h>

#include <set>

#include <qrlcore/Exception.h>

#include "FaceRecordCoding.h"

namespace kxegm {

namespace {
constexpr std::size_t kCheckBytes = 9;
}  // namespace

void FaceQualityCheckResult::addCheck(std::uint32_t typeA, bool passedA, float valueA) {
  if (findCheck(typeA) != nullptr) {
    KXXCP_THROW("kxegm::FaceQualityCheckResult::addCheck",
                "Duplicate face quality check '" << typeA << "'.");
  }
  checksM.push_back(Check{typeA, passedA, valueA});
}

const FaceQualityCheckResult::Check* FaceQualityCheckResult::findCheck(std::uint32_t typeA) const {
  for (const Check& c : checksM) {
    if (c.type == typeA) return &c;
  }
  return nullptr;
}

bool FaceQualityCheckResult::allPassed() const {
  for (const Check& c : checksM) {
    if (!c.passed) return false;
  }
  return true;
}

void FaceQualityCheckResult::write(std::ostream& osA) const {
  osA.write("FQ", 2);
  coding::putU16(osA, kVersion);
  coding::putU32(osA, imageWidthM);
  coding::putU32(osA, imageHeightM);
  for (float v : {qualityM, eyeDistanceM, poseYawM, poseRollM}) coding::putF32(osA, v);
  coding::putU32(osA, static_cast<std::uint32_t>(checksM.size()));
  for (const Check& c : checksM) {
    coding::putU32(osA, c.type);
    coding::putU8(osA, c.passed ? 1 : 0);
    coding::putF32(osA, c.value);
  }
}

void FaceQualityCheckResult::read(std::istream& isA) {
  const char* fnL = "kxegm::FaceQualityCheckResult::read";
  unsigned char magicL[2];
  if (!coding::getRaw(isA, magicL, 2)) KXXCP_THROW(fnL, "Truncated face quality result.");
  if (magicL[0] != 'F' || magicL[1] != 'Q') {
    KXXCP_THROW(fnL,
                "Invalid face quality result magic number: '" << magicL[0] << magicL[1] << "'.");
  }
  std::uint16_t versionL = 0;
  if (!coding::getU16(isA, versionL)) KXXCP_THROW(fnL, "Truncated face quality result.");
  if (versionL != kVersion) {
    KXXCP_THROW(fnL, "Invalid face quality result version: '" << versionL << "'.");
  }
  FaceQualityCheckResult resultL;
  float valuesL[4];
  std::uint32_t countL = 0;
  bool okL = coding::getU32(isA, resultL.imageWidthM) && coding::getU32(isA, resultL.imageHeightM);
  for (float& v : valuesL) okL = okL && coding::getF32(isA, v);
  okL = okL && coding::getU32(isA, countL);
  std::vector<unsigned char> bytesL;
  if (!okL || !coding::getRecords(isA, countL, kCheckBytes, bytesL)) {
    KXXCP_THROW(fnL, "Truncated face quality result.");
  }
  resultL.qualityM = valuesL[0];
  resultL.eyeDistanceM = valuesL[1];
  resultL.poseYawM = valuesL[2];
  resultL.poseRollM = valuesL[3];
  std::set<std::uint32_t> seenL;
  for (std::uint32_t i = 0; i < countL; ++i) {
    const unsigned char* pL = bytesL.data() + i * kCheckBytes;
    if (pL[4] > 1) {
      KXXCP_THROW(fnL, "Invalid face quality result passed flag '" << unsigned{pL[4]} << "'.");
    }
    const std::uint32_t typeL = coding::decodeU32(pL);
    if (!seenL.insert(typeL).second) {
      KXXCP_THROW(fnL, "Duplicate face quality check '" << typeL << "'.");
    }
    resultL.checksM.push_back(Check{typeL, pL[4] == 1, coding::decodeF32(pL + 5)});
  }
  *this = std::move(resultL);
}

bool FaceQualityCheckResult::operator==(const FaceQualityCheckResult& o) const {
  return imageWidthM == o.imageWidthM && imageHeightM == o.imageHeightM && qualityM == o.qualityM &&
         eyeDistanceM == o.eyeDistanceM && poseYawM == o.poseYawM && poseRollM == o.poseRollM &&
         checksM == o.checksM;
}

}  // namespace kxegm
