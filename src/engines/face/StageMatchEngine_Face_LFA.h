#pragma once

#include <memory>
#include <vector>

#include <qrlface/BVector.h>
#include <quarlen/StageMatchEngine_Base.h>

namespace kxegm {
class LFAEngine;
}
namespace MX {
class CProbeImage;
}

namespace qridy {

// "lfa", "lfaLowRes", "lfaIlmSb": templates read and compared by the face library's LFA engine,
// created in init() for the engine's algorithm. The probe is held as a library probe object,
// with its side vectors concatenated, from setProbeForIdentification until the next probe or
// destruction (releaseProbe leaves it).
//
// Score: 0.0 when the gallery bytes do not make a feature set; else the probe's score of the
// gallery (0.0 without a probe), which also fills the block scores b (L of them). For "lfaIlmSb"
// that score is replaced by the block-score normalisation: with p and g the probe's and the
// gallery's side vectors (each side vector A followed by side vector B), m = (p + g) / 2,
// μ_i = m_i, σ_i = m_(L+i), z_i = (b_i - μ_i) / σ_i, score = (1 / L) Σ sign(z_i) z_i^2; -1.0 when
// p or g is empty, or (guarding the indices) when they differ in length, hold fewer than 2L
// values, or there are no block scores.
class StageMatchEngine_Face_LFA : public StageMatchEngine_Base {
 public:
  StageMatchEngine_Face_LFA();
  ~StageMatchEngine_Face_LFA() override;

  void init(Algorithm algorithmA) override;
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
  // The base behaviour, failing with "Bad dynamic cast could not extract template data"
  // (function "qridy::StageMatchEngine_Face_LFA::extractRawData").
  const unsigned char* extractRawData(const TemplateBlockImp* blockA, unsigned int& sizeA,
                                      bool probePartA) override;

  // The normalisation of "lfaIlmSb", as described above.
  static float normaliseBlockScores(const std::vector<float>& blockScoresA,
                                    const MX::BVector<float>& probeSideA,
                                    const std::vector<float>& gallerySideA);

  const std::vector<float>& blockScores() const { return blockScoresM; }

 private:
  std::unique_ptr<kxegm::LFAEngine> lfaM;
  std::unique_ptr<MX::CProbeImage> probeM;
  MX::BVector<float> probeSideM;
  std::vector<float> blockScoresM;
  // Scratch of the gallery reads, reused by every comparison.
  std::vector<float> gallerySideAM;
  std::vector<float> gallerySideBM;
};

}  // namespace qridy
