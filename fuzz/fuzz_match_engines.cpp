// Hostile probe and gallery bytes into every match engine: the template readers of the face
// library (pyramid, STA, LFA), the iris-code matcher's probe loading, the finger library's and
// the L2F matcher's template readers, and the vector kernels' bounds (the finger engines read
// decorated layouts of a configuration set up here). Input: one byte choosing the engine, a
// 16-bit little-endian probe length, the probe bytes, then the gallery bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/StageMatchEngine_Base.h>

namespace {

const qridy::Algorithm kCodes[] = {
    qridy::AlgHgm,           qridy::AlgSta,         qridy::AlgVfa,
    qridy::AlgLfa,           qridy::AlgLfaIlmSb,    qridy::AlgHgmFloat,
    qridy::AlgHgmByte,       qridy::AlgHgmPyr,      qridy::AlgHgmPyrByte,
    qridy::AlgHgmPyrFloat,   qridy::AlgHgmPyrBit,   qridy::AlgL3Jim,
    qridy::AlgL1Jim,         qridy::AlgL2Jim,       qridy::AlgHgmPyrBitSmwSb,
    qridy::AlgMvxIris2PiSdk, qridy::AlgDaugman2010, qridy::AlgL2f,
    qridy::AlgL2m,           qridy::AlgL1v,         qridy::AlgL2v,
    qridy::AlgL2f360,        qridy::AlgFva,         qridy::AlgL2fi};
constexpr std::size_t kCount = sizeof(kCodes) / sizeof(kCodes[0]);

// The finger engines' mapping files and decorated layouts (l1b 2 x 32 bytes, l1v 2 x 16).
void configure() {
  const std::string sourceL = QUARLEN_SOURCE_DIR;
  const std::string pathL = "/tmp/fuzz_match_engines_" + std::to_string(::getpid()) + ".ini";
  std::ofstream(pathL) << "[TEMPLATE_MATCHING_MULTIPASS]\n"
                       << "L2F_logFarScoreMappingFile = " << sourceL
                       << "/data/scoremapping/l2f.txt\n"
                       << "L2F360_logFarScoreMappingFile = " << sourceL
                       << "/data/scoremapping/l2f360.txt\n"
                       << "fvaImprovedMatching = true\n"
                       << "[MATCHING_DECORATOR_DEFINITION]\n"
                       << "l1b = fingerRightIndex,fingerRightMiddle\n"
                       << "l1v = fingerRightIndex,fingerRightMiddle\n"
                       << "[MATCHING_DECORATOR_SIZE]\nl1b = 32\nl1v = 16\n";
  kxutl::QuarlenInformation::setConfigFile(pathL);
  (void)kxutl::QuarlenInformation::has("TEMPLATE_MATCHING_MULTIPASS", "");  // read now
  std::remove(pathL.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  static std::unique_ptr<qridy::StageMatchEngine_Base> enginesS[kCount];
  static const bool configuredS = (configure(), true);
  (void)configuredS;
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
