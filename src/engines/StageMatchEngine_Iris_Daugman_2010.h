#pragma once

#include <cstdint>

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/IrisMatcherLibrary.h"

namespace qridy {

// "daugman2010": iris codes in the matcher form of the iris library (32 words of 32 code and 32
// mask bits, 256 gallery bytes). The probe is loaded into the library's rotation table; the
// search runs over rows 10 - k .. 10 + k (k = 3 unless parameter 5 sets it, at most 4) with an
// early-rejection cascade, refines the best row's remaining words on its neighbours, and
// normalises the Hamming distance by the number of bits compared:
//   z = sqrt(N / 0.81674993) * (0.45 - D / N) + 1.3 (at least 0), m = 2k,
//   score = 1 - (0.5 - (0.0015 m + 0.04) (z - 1) + 0.008 m);
// 0.0 when no row survives. Word counts go through the library's count call 22.
class StageMatchEngine_Iris_Daugman_2010 : public StageMatchEngine_Base {
 public:
  StageMatchEngine_Iris_Daugman_2010();
  ~StageMatchEngine_Iris_Daugman_2010() override;

  // Loads the probe into the library. Throws "IrisMatchEngine::identifyStart failed to load
  // probe..." (function "qridy::StageMatchEngine_Iris_Daugman_2010::setProbeForIdentification").
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  void releaseProbe() override;
  // Key 4: the search mode (stored, not used in scoring); key 5: k = min(value, 4).
  void setParameter(std::int32_t keyA, std::uint32_t valueA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  std::uint32_t searchMode() const { return searchModeM; }
  std::uint32_t rotationHalfRange() const { return halfRangeM; }
  int firstRow() const { return firstRowM; }
  int lastRow() const { return lastRowM; }

 protected:
  // For subclasses: no construction notification; countA is the library count call to use.
  StageMatchEngine_Iris_Daugman_2010(QrlIrisCountWordFn countA, const char* setProbeFunctionA);

  // Adds the counts of gallery words firstA..lastA against the same words of a table row.
  void countWords(const unsigned char* galleryA, const std::uint64_t* rowA, int firstA, int lastA,
                  std::uint64_t& totalA, std::uint64_t& diffA) const {
    for (int j = firstA; j <= lastA; ++j) countM(galleryA + 8 * j, rowA + j, &totalA, &diffA);
  }
  const std::uint64_t* tableRow(int rowA) const {
    return reinterpret_cast<const std::uint64_t*>(handleM->rows2010 + rowA * kQrlIrisRowBytes);
  }
  // Steps after the search: refinement of words 12..31 around the best row and the score.
  float refineAndScore(const unsigned char* galleryA, std::uint64_t bestTotalA,
                       std::uint64_t bestDiffA, int bestRowA) const;
  virtual void setHalfRange(std::uint32_t valueA);

  QrlIrisProbeHandle* handleM = nullptr;
  std::uint32_t searchModeM = 8;
  std::uint32_t halfRangeM = 3;
  int firstRowM = 7;
  int lastRowM = 13;

 private:
  QrlIrisCountWordFn countM;
  const char* setProbeFunctionM;
};

// The same search, with the first two words of every searched row screened by one library call
// (23) over a contiguous head table, and counts through call 21. Gives the same scores as
// StageMatchEngine_Iris_Daugman_2010.
class StageMatchEngine_Iris_Daugman_2010_POPCNT : public StageMatchEngine_Iris_Daugman_2010 {
 public:
  static constexpr std::size_t kHeadTableBytes = 1040;

  StageMatchEngine_Iris_Daugman_2010_POPCNT();
  ~StageMatchEngine_Iris_Daugman_2010_POPCNT() override;

  // As the base engine (function
  // "qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT::setProbeForIdentification"), then fills
  // the head table for the searched rows.
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  std::uint32_t rowCount() const { return rowCountM; }
  const QrlIrisHeadEntry* headTable() const { return headM; }

 protected:
  // Also rebuilds the head table when a probe is loaded, so that it always matches the rows.
  void setHalfRange(std::uint32_t valueA) override;

 private:
  void fillHeadTable();

  std::uint32_t rowCountM = 7;
  const std::uint64_t* firstRowPtrM = nullptr;
  QrlIrisHeadEntry* headM = nullptr;
};

}  // namespace qridy
