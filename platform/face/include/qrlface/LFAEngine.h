#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qrlface/FaceExport.h>

namespace MX {

// The gallery side of an LFA comparison: per face block a unit-length feature vector.
class QRLFACE_EXPORT CFeatureSet {
 public:
  CFeatureSet(std::uint32_t algorithmA, std::size_t blockLengthA, std::vector<float> unitA)
      : algorithmM(algorithmA), lengthM(blockLengthA), unitM(std::move(unitA)) {}
  virtual ~CFeatureSet() = default;

  std::uint32_t algorithm() const { return algorithmM; }
  std::size_t blockCount() const { return lengthM == 0 ? 0 : unitM.size() / lengthM; }
  std::size_t blockLength() const { return lengthM; }
  const float* block(std::size_t iA) const { return unitM.data() + iA * lengthM; }

 private:
  std::uint32_t algorithmM;
  std::size_t lengthM;
  std::vector<float> unitM;
};

// The probe side of an LFA comparison.
class QRLFACE_EXPORT CProbeImage {
 public:
  CProbeImage(std::uint32_t algorithmA, std::size_t blockLengthA, std::vector<float> unitA)
      : featuresM(algorithmA, blockLengthA, std::move(unitA)) {}
  virtual ~CProbeImage() = default;

  virtual std::uint32_t algorithm() const { return featuresM.algorithm(); }
  virtual std::size_t blockCount() const { return featuresM.blockCount(); }
  virtual std::size_t blockLength() const { return featuresM.blockLength(); }
  // Compares the probe with a gallery feature set: blockScoresA receives one score per block,
  // the cosine of the two block vectors in [-1, 1]; the result is 0.5 * mean + 0.5. A feature
  // set of another block structure scores 0.0 with no block scores.
  virtual float score(const CFeatureSet& galleryA, std::vector<float>& blockScoresA) const;

 private:
  CFeatureSet featuresM;
};

}  // namespace MX

namespace kxegm {

// The LFA face engine (local feature analysis on face blocks), for the algorithms 7 ("lfa"),
// 8 ("lfaLowRes") and 9 ("lfaIlmSb").
//
// Template format, version 1 (little-endian):
//   0 2 magic "LF"; 2 2 version 1; 4 2 algorithm (7, 8 or 9); 6 2 block count L (1..256);
//   8 2 block length B (1..1024); 10 2 length of side vector A; 12 2 length of side vector B
//   (each 0..4096); then L * B signed bytes of block features (ByteMinimalGraph scale, block
//   after block), then side vector A and side vector B as 4-byte floats.
// The side vectors carry score statistics of the template's blocks (for "lfaIlmSb": the mean
// and the standard deviation of each block's impostor score); bytes after them are ignored.
class QRLFACE_EXPORT LFAEngine {
 public:
  explicit LFAEngine(std::uint32_t algorithmA) : algorithmM(algorithmA) {}

  std::uint32_t algorithm() const { return algorithmM; }

  // Reads a probe (caller owns it) and appends the template's side vectors to sideAA and
  // sideBA. Throws kxxcp::Exception (function "kxegm::LFAEngine::readProbeFromBlob"):
  // "Invalid LFA template magic number.", "Invalid LFA template version: '<v>'.",
  // "Invalid LFA template size.", "LFA template truncated.",
  // "LFA template of algorithm '<a>' read for algorithm '<b>'.".
  MX::CProbeImage* readProbeFromBlob(const unsigned char* dataA, std::size_t sizeA,
                                     std::uint32_t algorithmA, std::vector<float>& sideAA,
                                     std::vector<float>& sideBA) const;
  // The same for a gallery feature set, or null (no exception) when the blob is not a valid
  // template of that algorithm; the side vectors are then left as they were.
  MX::CFeatureSet* readGalleryFromBlob(const unsigned char* dataA, std::size_t sizeA,
                                       std::uint32_t algorithmA, std::vector<float>& sideAA,
                                       std::vector<float>& sideBA) const;

  // The encoded template: blockCountA blocks of blockLengthA feature values in [-1, 1].
  static std::vector<unsigned char> encode(std::uint32_t algorithmA, std::size_t blockCountA,
                                           std::size_t blockLengthA,
                                           const std::vector<float>& featuresA,
                                           const std::vector<float>& sideAA,
                                           const std::vector<float>& sideBA);

 private:
  std::uint32_t algorithmM;
};

}  // namespace kxegm
