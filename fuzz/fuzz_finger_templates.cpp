// Hostile minutiae templates into the finger library and the L2F matcher: the template reader
// (a template that reads must write back to the same bytes and read back the same), the
// minutiae matcher under the settings chosen by the first byte (rotation tolerance, angle
// estimation, confidence threshold, displacement limit), the L2F matcher's flavours, and the
// finger engine's trimming and conversion. Input: one settings byte, a 16-bit little-endian
// probe length, the probe bytes, then the gallery bytes. A broken invariant traps.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <qrlcore/IniFile.h>
#include <qrlfinger/L2FMatcher.h>
#include <qrlfinger/MinutiaeMatcher.h>
#include <qrlfinger/MinutiaeTemplate.h>
#include <qrlfinger/MvxFinger.h>

namespace {

void check(bool conditionA) {
  if (!conditionA) __builtin_trap();
}

// A template that reads writes back to its own leading bytes and reads back the same.
void checkRoundTrip(const std::uint8_t* dataA, std::size_t sizeA) {
  qrfpt::FingerprintTemplate tL;
  if (tL.decode(dataA, sizeA) != qrfpt::FingerOk) {
    check(tL.minutiae.empty());
    return;
  }
  std::vector<std::uint8_t> bytesL;
  check(tL.encode(bytesL) == qrfpt::FingerOk);
  check(bytesL.size() == qrfpt::templateBytes(dataA, sizeA));
  qrfpt::FingerprintTemplate againL;
  check(againL.decode(bytesL.data(), bytesL.size()) == qrfpt::FingerOk);
  check(againL.minutiae == tL.minutiae && againL.orientation == tL.orientation);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  static qrfpt::MinutiaeMatcher matcherS;
  static L2F_7::CL2FMatcher l2fS;
  static const kxutl::IniFile iniS;
  static qrfpt::MvxFinger fingerS(iniS);
  if (sizeA < 3) return 0;
  const std::uint8_t settingsL = dataA[0];
  std::size_t probeSizeL = static_cast<std::size_t>(dataA[1] | (dataA[2] << 8));
  probeSizeL = std::min(probeSizeL, sizeA - 3);
  const std::uint8_t* probeL = dataA + 3;
  const std::uint8_t* galleryL = probeL + probeSizeL;
  const std::size_t gallerySizeL = sizeA - 3 - probeSizeL;
  checkRoundTrip(probeL, probeSizeL);
  checkRoundTrip(galleryL, gallerySizeL);

  qrfpt::FingerprintTemplate probeT, galleryT;
  if (probeT.decode(probeL, probeSizeL) == qrfpt::FingerOk &&
      galleryT.decode(galleryL, gallerySizeL) == qrfpt::FingerOk) {
    static const int kTolerances[] = {0, 10, 40, 90, 179, 180, 255, -5};
    qrfpt::MatchSettings matchL;
    matchL.rotationToleranceDegrees = kTolerances[settingsL & 7];
    matchL.useAngleEstimation = (settingsL & 8) != 0;
    matchL.confidenceThreshold = (settingsL & 16) != 0 ? 0 : 50;
    matchL.maxDisplacement = (settingsL & 32) != 0 ? 60 : 0;
    matcherS.setProbe(probeT);
    const qrfpt::MatchResult resultL = matcherS.match(galleryT, matchL);
    check(resultL.paired >= 0 &&
          resultL.paired <=
              static_cast<int>(std::min(probeT.minutiae.size(), galleryT.minutiae.size())));
    check(resultL.similarity() >= 0.0f && resultL.similarity() <= 1.0f);
    // The same comparison again (the probe's turned copies are reused) gives the same result.
    check(matcherS.match(galleryT, matchL).paired == resultL.paired);
  }

  float rawL = -1.0f;
  const int flavourL = (settingsL & 64) != 0 ? 6 : 2;
  if (l2fS.MatchTemplates(probeL, probeSizeL, galleryL, gallerySizeL, flavourL, &rawL,
                          (settingsL & 128) != 0 ? -1 : 0, 2550, nullptr, nullptr) == 0) {
    check(rawL >= 0.0f && rawL <= 1000.0f);
  }

  fingerS.initL2f();
  qrfpt::L2FTrimResult trimmedL;
  if (fingerS.trimL2FTemplate(probeL, probeSizeL, trimmedL, settingsL, settingsL % 3,
                              (settingsL & 1) != 0) == qrfpt::FingerOk) {
    checkRoundTrip(trimmedL.featurePtr(), trimmedL.featureSize());
  }
  if (fingerS.deriveL2FFromL2M(galleryL, gallerySizeL, trimmedL, settingsL) == qrfpt::FingerOk) {
    checkRoundTrip(trimmedL.featurePtr(), trimmedL.featureSize());
  }
  qrfpt::FingerprintTemplate convertedL;
  fingerS.convertL2FTemplateToBE5(probeL, probeSizeL, convertedL, true, settingsL % 3);
  (void)fingerS.verify(probeL, probeSizeL, galleryL, gallerySizeL);
  return 0;
}
