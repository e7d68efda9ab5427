// Hostile probe and gallery bytes into every match engine: the template readers of the face
// library (pyramid, STA, LFA), the iris-code matcher's probe loading, and the vector kernels'
// bounds. Input: one byte choosing the engine, a 16-bit little-endian probe length, the probe
// bytes, then the gallery bytes.
#include <cstdint>
#include <memory>

#include <qrlcore/Exception.h>
#include <quarlen/StageMatchEngine_Base.h>

namespace {

const qridy::Algorithm kCodes[] = {
    qridy::AlgHgm,           qridy::AlgSta,        qridy::AlgVfa,
    qridy::AlgLfa,           qridy::AlgLfaIlmSb,   qridy::AlgHgmFloat,
    qridy::AlgHgmByte,       qridy::AlgHgmPyr,     qridy::AlgHgmPyrByte,
    qridy::AlgHgmPyrFloat,   qridy::AlgHgmPyrBit,  qridy::AlgL3Jim,
    qridy::AlgL1Jim,         qridy::AlgL2Jim,      qridy::AlgHgmPyrBitSmwSb,
    qridy::AlgMvxIris2PiSdk, qridy::AlgDaugman2010};
constexpr std::size_t kCount = sizeof(kCodes) / sizeof(kCodes[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  static std::unique_ptr<qridy::StageMatchEngine_Base> enginesS[kCount];
  if (sizeA < 3) return 0;
  const std::size_t indexL = dataA[0] % kCount;
  std::size_t probeL = static_cast<std::size_t>(dataA[1] | (dataA[2] << 8));
  if (probeL > sizeA - 3) probeL = sizeA - 3;
  const std::uint8_t* probeDataL = dataA + 3;
  const std::uint8_t* galleryL = probeDataL + probeL;
  const std::size_t gallerySizeL = sizeA - 3 - probeL;
  try {
    if (!enginesS[indexL]) {
      enginesS[indexL].reset(qridy::StageMatchEngine_Base::createStageEngine(kCodes[indexL]));
    }
    enginesS[indexL]->verify(probeDataL, static_cast<unsigned>(probeL), galleryL,
                             static_cast<unsigned>(gallerySizeL));
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
