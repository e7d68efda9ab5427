#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <qrlface/FaceExport.h>

namespace MX {

// A parsed STA template: per facial landmark a confidence and a unit-length local descriptor.
// Probe and gallery templates have the same content; they differ in their stored form.
class QRLFACE_EXPORT STATemplate {
 public:
  // lengthA: descriptor length; unitA: pointCount * lengthA values, unit vectors per point.
  STATemplate(std::size_t lengthA, std::vector<float> confidencesA, std::vector<float> unitA)
      : lengthM(lengthA), confidencesM(std::move(confidencesA)), unitM(std::move(unitA)) {}
  virtual ~STATemplate() = default;

  std::size_t pointCount() const { return confidencesM.size(); }
  std::size_t descriptorLength() const { return lengthM; }
  float confidence(std::size_t pointA) const { return confidencesM[pointA]; }
  const float* descriptor(std::size_t pointA) const { return unitM.data() + pointA * lengthM; }

 private:
  std::size_t lengthM;
  std::vector<float> confidencesM;
  std::vector<float> unitM;
};

class QRLFACE_EXPORT STAProbeTemplate : public STATemplate {
 public:
  using STATemplate::STATemplate;
};
class QRLFACE_EXPORT STAGalleryTemplate : public STATemplate {
 public:
  using STATemplate::STATemplate;
};

}  // namespace MX

namespace kxegm {

// One landmark of a template to encode: its confidence (>= 0) and its descriptor.
struct STAPoint {
  float confidence = 1.0f;
  std::vector<float> descriptor;
};

// The STA face engine: landmark-wise comparison of local descriptors.
//
// Template format, version 1 (little-endian):
//   0 2 magic "ST"; 2 2 version 1; 4 1 kind: 0 gallery, 1 probe; 5 1 point count P (1..64);
//   6 2 descriptor length D (1..256); then per point a confidence (4-byte float, finite,
//   >= 0) and D values: signed bytes (gallery kind, ByteMinimalGraph scale) or 4-byte floats
//   (probe kind).
// Gallery templates fit the 4096-byte slots of stage memory (8 + P * (4 + D) <= 4096); bytes
// after the template are ignored. Either kind can be read as probe or as gallery.
//
// Similarity: Σ w_i cos_i / Σ w_i over the landmarks, with w_i the smaller of the two
// confidences and cos_i the cosine of the two descriptors, returned as 0.5 * s + 0.5; 0.0 when
// no landmark has weight.
class QRLFACE_EXPORT STAEngine {
 public:
  static constexpr std::size_t kMaxGalleryBytes = 4096;

  // Caller owns the results. Throw kxxcp::Exception (functions
  // "kxegm::STAEngine::readProbeFromBlob" / "...::readGalleryFromBlob") on an invalid blob:
  // "Invalid STA template magic number.", "Invalid STA template version: '<v>'.",
  // "Invalid STA template kind: '<k>'.", "Invalid STA template size.", "STA template truncated.".
  MX::STAProbeTemplate* readProbeFromBlob(const unsigned char* dataA, std::size_t sizeA) const;
  MX::STAGalleryTemplate* readGalleryFromBlob(const unsigned char* dataA, std::size_t sizeA) const;

  // Throws kxxcp::Exception "STA templates of different structure." when point counts or
  // descriptor lengths differ.
  float verify(const MX::STAGalleryTemplate& galleryA, const MX::STAProbeTemplate& probeA) const;

  // The encoded template of the given kind (false: probe, true: gallery). Throws
  // kxxcp::Exception when the points are not representable, or a gallery template would exceed
  // kMaxGalleryBytes.
  static std::vector<unsigned char> encode(const std::vector<STAPoint>& pointsA, bool galleryA);
};

}  // namespace kxegm
