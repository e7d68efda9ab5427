#pragma once

#include <cstdint>
#include <vector>

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "hgm": bit-string face templates (probe and gallery of the same layout).
// Score: (8n - differing bits) / 8n over the n gallery bytes, in [0, 1]; 0.0 for empty data.
// Bits are counted in whole 16-byte blocks (n / 16 of them); bytes of a trailing partial block
// count as equal. The count is the library's dispatched kernel, which gives exactly what
// kxegm::xorSum64 of the face library gives, on every processor.
class StageMatchEngine_Face_HGM : public StageMatchEngine_Face_Vector {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

 protected:
  // Differing bits of a and b over blocksA 16-byte blocks.
  std::uint32_t differingBits(const unsigned char* aA, const unsigned char* bA,
                              std::uint32_t blocksA) const {
    return kernelsM->xorBitCount(aA, bA, blocksA);
  }
};

// "hgmPyrBit": bit strings made of several scales, one after the other. The scales come from
// "hgmPyrBit_nScales" (int), "hgmPyrBit_scaleSizesBit" (bits per scale) and "hgmPyrBit_weights"
// (one weight per scale), read at every construction; without configured scales the whole
// template is one scale of weight 1 (the "hgm" score).
// Score: Σ w_i (bits_i - d_i) / Σ w_i bits_i, d_i the differing bits of scale i (counted over its
// whole 16-byte blocks), in [0, 1]. A template shorter than the scales throws
// "Template smaller than the configured scales : '<n>' bytes."
class StageMatchEngine_Face_HgmPyrBit : public StageMatchEngine_Face_HGM {
 public:
  struct Scale {
    std::uint32_t sizeBits;
    std::uint32_t sizeBytes;
    float weight;
    std::uint32_t lastDifference;
  };

  // Throws "Invalid parameter [TEMPLATE_MATCHING_MULTIPASS]-->hgmPyrBit_scaleSizesBit\n" or
  // "...-->hgmPyrBit_weights\n" when a list does not have hgmPyrBit_nScales entries.
  StageMatchEngine_Face_HgmPyrBit();
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  const std::vector<Scale>& scales() const { return scalesM; }
  // Σ sizeBits * weight.
  float normaliser() const { return normaliserM; }

 private:
  std::vector<Scale> scalesM;
  std::uint32_t scaleBytesM = 0;
  float normaliserM = 0.0f;
};

// "hgmPyrBitSmwSb": a whitened float probe (one float per gallery bit) against bit-string
// gallery templates. Score: 0.5 * (Σ ±f_j) / 8n + 0.5, +f_j for a set gallery bit and -f_j for a
// clear one, bits most significant first, over the n gallery bytes that the probe covers
// (0.5 when none).
class StageMatchEngine_Face_HgmPyrBit_SmwSb : public StageMatchEngine_Face_HGM {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
};

}  // namespace qridy
