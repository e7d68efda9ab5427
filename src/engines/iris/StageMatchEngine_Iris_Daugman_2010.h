#pragma once

#include <cstddef>
#include <cstdint>

#include "common/AlignedBuffer.h"
#include "engines/iris/StageMatchEngine_Iris_Base.h"

namespace qridy {

// "daugman2010": iris codes in the matcher form of the iris library (32 words of 32 code and 32
// mask bits, 256 gallery bytes). The probe is loaded into the library's second rotation table;
// the search runs over rows 10 - k .. 10 + k (k = 3 unless parameter 5 sets it, at most 4) with
// an early-rejection cascade (D * 128 < T * 52 after word 0, < T * 48 after words 1, 5 and 11),
// refines words 12..21 and 22..31 of the best row on its neighbours, and normalises the Hamming
// distance by the number of bits compared:
//   z = sqrt(N / 0.81674993) * (0.45 - D / N) + 1.3 (at least 0), m = 2k,
//   score = 1 - (0.5 - (0.0015 m + 0.04) (z - 1) + 0.008 m);
// 0.0 when no row survives, and for gallery data shorter than the 256 bytes the search reads.
// Word counts go through the library's count call 22. Load failures name
// "qridy::StageMatchEngine_Iris_Daugman_2010::setProbeForIdentification".
class StageMatchEngine_Iris_Daugman_2010 : public StageMatchEngine_Iris_Base {
 public:
  static constexpr unsigned int kGalleryBytes = 256;

  StageMatchEngine_Iris_Daugman_2010();
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  int firstRow() const { return firstRowM; }
  int lastRow() const { return lastRowM; }

  // The score of N compared bits of which D differ, for the half-range kA.
  static float normalisedScore(float bitsA, float differingA, std::uint32_t halfRangeA);

 protected:
  // The best row of the search so far.
  struct Best {
    std::uint64_t total = 0;
    std::uint64_t diff = 0;
    int row = -1;
  };

  // For subclasses: no construction notification; countA is the library count call to use.
  StageMatchEngine_Iris_Daugman_2010(QrlIrisCountWordFn countA, const char* setProbeFunctionA);

  const std::uint64_t* tableRow(int rowA) const {
    return reinterpret_cast<const std::uint64_t*>(handleM->rows2010 + rowA * kQrlIrisRowBytes);
  }
  // Words 2..11 of a row that passed words 0 and 1 with the counts given: the row becomes the
  // best when it stays below the rejection limit and beats the best.
  void searchRest(const unsigned char* galleryA, int rowA, std::uint64_t totalA,
                  std::uint64_t diffA, Best& bestA) const;
  // The refinement around the best row and the score.
  float refineAndScore(const unsigned char* galleryA, const Best& bestA) const;
  void setHalfRange(std::uint32_t valueA) override;

  int firstRowM = 7;
  int lastRowM = 13;
};

// The same search, with the first two words of every searched row screened by one library call
// (23) over a contiguous head table, and counts through call 21. Gives the same scores as
// StageMatchEngine_Iris_Daugman_2010. Load failures name
// "qridy::StageMatchEngine_Iris_Daugman_2010_POPCNT::setProbeForIdentification".
class StageMatchEngine_Iris_Daugman_2010_POPCNT : public StageMatchEngine_Iris_Daugman_2010 {
 public:
  static constexpr std::size_t kHeadTableBytes = 1040;

  StageMatchEngine_Iris_Daugman_2010_POPCNT();
  ~StageMatchEngine_Iris_Daugman_2010_POPCNT() override;

  // Loads the probe, then fills the head table for the searched rows (allocated on the first
  // probe, kept until destruction; its allocation failure is thrown like the probe's).
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  std::uint32_t rowCount() const { return rowCountM; }
  const QrlIrisHeadEntry* headTable() const { return headM; }

 protected:
  // Also refills the head table when a probe is loaded, so that it always matches the rows.
  void setHalfRange(std::uint32_t valueA) override;

 private:
  void fillHeadTable();
  // The search of the rows a screening let through (maskA not 0), kept out of matchGallery so
  // that the path of the many entries the screening rejects saves and restores little.
  float searchScreened(const unsigned char* galleryDataA, std::uint32_t maskA) const;

  QrlIrisScreenFn screenM;  // the library's screening call (23), looked up once
  std::uint32_t rowCountM = 7;
  const std::uint64_t* firstRowPtrM = nullptr;
  AlignedBuffer headBufferM;  // the head table's memory
  QrlIrisHeadEntry* headM = nullptr;
};

}  // namespace qridy
