#include "engines/iris/StageMatchEngine_Iris_Daugman_2010.h"

#include <cmath>
#include <cstring>

#include <qrlcore/Notification.h>
#include <quarlen/CpuFeatures.h>

namespace qridy {
namespace {

// The early-rejection test: D / T below limitA / 128.
inline bool below(std::uint64_t diffA, std::uint64_t totalA, std::uint64_t limitA) {
  return diffA * 128 < totalA * limitA;
}

}  // namespace

StageMatchEngine_Iris_Daugman_2010::StageMatchEngine_Iris_Daugman_2010()
    : StageMatchEngine_Iris_Daugman_2010(
          engines::IrisMatcherLibrary::get().countWord2010,
          "qridy::StageMatchEngine_Iris_Daugman_2010::setProbeForIdentification") {
  kxntc::debug << "Use internal iris matching engine -> Daugman_2010";
  kxntc::notify(kxntc::debug);
}

StageMatchEngine_Iris_Daugman_2010::StageMatchEngine_Iris_Daugman_2010(
    QrlIrisCountWordFn countA, const char* setProbeFunctionA)
    : StageMatchEngine_Iris_Base(countA, 4, setProbeFunctionA) {}

void StageMatchEngine_Iris_Daugman_2010::setHalfRange(std::uint32_t valueA) {
  StageMatchEngine_Iris_Base::setHalfRange(valueA);
  firstRowM = kQrlIrisCenterRow - static_cast<int>(halfRangeM);
  lastRowM = kQrlIrisCenterRow + static_cast<int>(halfRangeM);
}

float StageMatchEngine_Iris_Daugman_2010::matchGallery(const unsigned char* galleryDataA,
                                                       unsigned int gallerySizeA) {
  if (handleM == nullptr || firstRowM > lastRowM || gallerySizeA < kGalleryBytes) return 0.0f;
  Best bestL;
  for (int r = firstRowM; r <= lastRowM; ++r) {
    const std::uint64_t* rowL = tableRow(r);
    std::uint64_t totalL = 0, diffL = 0;
    countWords(galleryDataA, rowL, 0, 0, totalL, diffL);
    if (!below(diffL, totalL, 52)) continue;
    countWords(galleryDataA, rowL, 1, 1, totalL, diffL);
    if (!below(diffL, totalL, 48)) continue;
    searchRest(galleryDataA, r, totalL, diffL, bestL);
  }
  return refineAndScore(galleryDataA, bestL);
}

void StageMatchEngine_Iris_Daugman_2010::searchRest(const unsigned char* galleryA, int rowA,
                                                    std::uint64_t totalA, std::uint64_t diffA,
                                                    Best& bestA) const {
  const std::uint64_t* rowL = tableRow(rowA);
  countWords(galleryA, rowL, 2, 5, totalA, diffA);
  if (!below(diffA, totalA, 48)) return;
  countWords(galleryA, rowL, 6, 11, totalA, diffA);
  if (below(diffA, totalA, 48) && engines::betterCounts(diffA, totalA, bestA.diff, bestA.total)) {
    bestA = {totalA, diffA, rowA};
  }
}

float StageMatchEngine_Iris_Daugman_2010::refineAndScore(const unsigned char* galleryA,
                                                         const Best& bestA) const {
  if (bestA.total == 0) return 0.0f;
  // Each band may take its own neighbour row.
  std::uint64_t bandTotalL[2] = {0, 0}, bandDiffL[2] = {0, 0};
  const int bandsL[2][2] = {{12, 21}, {22, 31}};
  for (int b = 0; b < 2; ++b) {
    countWords(galleryA, tableRow(bestA.row), bandsL[b][0], bandsL[b][1], bandTotalL[b],
               bandDiffL[b]);
    for (int neighbourL : {bestA.row - 1, bestA.row + 1}) {
      if (neighbourL < 0 || neighbourL >= kQrlIrisRows) continue;
      std::uint64_t totalL = 0, diffL = 0;
      countWords(galleryA, tableRow(neighbourL), bandsL[b][0], bandsL[b][1], totalL, diffL);
      if (engines::betterCounts(diffL, totalL, bandDiffL[b], bandTotalL[b])) {
        bandTotalL[b] = totalL;
        bandDiffL[b] = diffL;
      }
    }
  }
  return normalisedScore(static_cast<float>(bestA.total + bandTotalL[0] + bandTotalL[1]),
                         static_cast<float>(bestA.diff + bandDiffL[0] + bandDiffL[1]), halfRangeM);
}

float StageMatchEngine_Iris_Daugman_2010::normalisedScore(float bitsA, float differingA,
                                                          std::uint32_t halfRangeA) {
  float zL = std::sqrt(bitsA / 0.81674993f) * (0.45f - differingA / bitsA) + 1.3f;
  if (zL < 0.0f) zL = 0.0f;
  const float mL = static_cast<float>(2 * halfRangeA);
  return 1.0f - (0.5f - (0.0015f * mL + 0.04f) * (zL - 1.0f) + 0.008f * mL);
}

StageMatchEngine_Iris_Daugman_2010_POPCNT::StageMatchEngine_Iris_Daugman_2010_POPCNT()
    : StageMatchEngine_Iris_Daugman_2010(
          engines::IrisMatcherLibrary::get().countWord,
          "qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT::setProbeForIdentification"),
      screenM(engines::IrisMatcherLibrary::get().screenRotations) {
  kxntc::debug << "Use internal iris matching engine -> StageMatchEngine_Iris_Daugman_2010_POPCNT";
  kxntc::notify(kxntc::debug);
  if (!CpuFeatures::hasPopcnt()) {
    // Stays usable: the library's count calls work without the instruction.
    kxntc::error
        << "StageMatchEngine_Iris_Daugman_2010_POPCNT::StageMatchEngine_Iris_Daugman_2010_POPCNT\n"
        << "Try to use but machine didn't support popcnt\n";
    kxntc::notify(kxntc::error);
  }
}

StageMatchEngine_Iris_Daugman_2010_POPCNT::~StageMatchEngine_Iris_Daugman_2010_POPCNT() = default;

void StageMatchEngine_Iris_Daugman_2010_POPCNT::setProbeForIdentification(
    const unsigned char* dataA, unsigned int sizeA) {
  StageMatchEngine_Iris_Base::setProbeForIdentification(dataA, sizeA);
  if (headM == nullptr) {
    headBufferM = allocateOrThrow(
        kHeadTableBytes,
        "qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT::setProbeForIdentification",
        "Could not allocate aligned memory for probe ");
    headM = headBufferM.as<QrlIrisHeadEntry>();
  }
  fillHeadTable();
}

void StageMatchEngine_Iris_Daugman_2010_POPCNT::setHalfRange(std::uint32_t valueA) {
  StageMatchEngine_Iris_Daugman_2010::setHalfRange(valueA);
  if (handleM != nullptr && headM != nullptr) fillHeadTable();
}

void StageMatchEngine_Iris_Daugman_2010_POPCNT::fillHeadTable() {
  rowCountM = 2 * halfRangeM + 1;
  firstRowPtrM = tableRow(firstRowM);
  std::memset(static_cast<void*>(headM), 0, kHeadTableBytes);
  for (std::uint32_t j = 0; j < rowCountM; ++j) {
    const std::uint64_t* rowL = tableRow(firstRowM + static_cast<int>(j));
    const std::uint64_t* maskL = rowL + kQrlIrisMaskOffset / 8;
    headM[j] = {rowL[0], rowL[1], maskL[0], maskL[1], 0, 0};
  }
}

float StageMatchEngine_Iris_Daugman_2010_POPCNT::matchGallery(const unsigned char* galleryDataA,
                                                              unsigned int gallerySizeA) {
  if (handleM == nullptr || gallerySizeA < kGalleryBytes) return 0.0f;
  const std::uint32_t maskL = screenM(galleryDataA, headM, rowCountM);
  // Most gallery entries are impostors whose every row fails the screening.
  if (__builtin_expect(maskL == 0, 1) || firstRowM > lastRowM) return 0.0f;
  return searchScreened(galleryDataA, maskL);
}

__attribute__((noinline)) float StageMatchEngine_Iris_Daugman_2010_POPCNT::searchScreened(
    const unsigned char* galleryDataA, std::uint32_t maskA) const {
  Best bestL;
  // Row j holds bit count - 1 - j: the highest set bit is the first surviving row, and the rows
  // are visited in order (a later row replaces the best only when it is strictly better).
  while (maskA != 0) {
    const int bitL = 31 - __builtin_clz(maskA);
    maskA ^= 1u << bitL;
    const std::uint32_t j = rowCountM - 1 - static_cast<std::uint32_t>(bitL);
    searchRest(galleryDataA, firstRowM + static_cast<int>(j), headM[j].total, headM[j].diff, bestL);
  }
  return refineAndScore(galleryDataA, bestL);
}

}  // namespace qridy
