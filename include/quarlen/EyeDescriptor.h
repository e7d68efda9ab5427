#pragma once

#include <memory>

#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Roi.h>
#include <quarlen/BioDescriptor.h>

namespace qrbase {

// A located pair of eyes: feature points, a region and the detector's confidence.
//
// Stream part after the header: presence flags (32 bits: bit 0 feature points, bit 1 region);
// with bit 0 the feature points 1, 5 and 9 (the two eyes and the mouth centre), each x then y as
// floats; with bit 1 the region as four 32-bit values top, left, width, height; then the
// detection confidence (float). Other flag bits are refused
// ("BioDescriptor::read:  Invalid eye flags '<n>'").
class QUARLEN_EXPORT EyeDescriptor : public BioDescriptor {
 public:
  EyeDescriptor();
  EyeDescriptor(const EyeDescriptor& otherA);
  EyeDescriptor& operator=(const EyeDescriptor& otherA);
  ~EyeDescriptor() override;

  BioDescriptorType type() const override { return BioDescriptorTypeEye; }
  qridy::Modality modality() const override { return qridy::ModalityFace; }
  void write(std::ostream& osA, bool withInputImageA) const override;
  void read(std::istream& isA, const qrimg::Image* imageA) override;
  const qrimg::FacialFeaturePoints* facialFeaturePoints() const override {
    return featurePointsM.get();
  }

  qrimg::FacialFeaturePoints* featurePoints() { return featurePointsM.get(); }
  // Setters take ownership of the object (null to remove) and release the one they replace.
  void setFacialFeaturePoints(qrimg::FacialFeaturePoints* pointsA) {
    featurePointsM.reset(pointsA);
  }
  const qrimg::Roi* roi() const { return roiM.get(); }
  void setRoi(qrimg::Roi* roiA) { roiM.reset(roiA); }
  // -1.0 when unknown.
  float detectionConfidence() const { return detectionConfidenceM; }
  void setDetectionConfidence(float confidenceA) { detectionConfidenceM = confidenceA; }

  // The feature point indices the stream carries, in stream order.
  static constexpr int kStreamedPoints[3] = {qrimg::FacialFeaturePoints::RightEye,
                                             qrimg::FacialFeaturePoints::LeftEye,
                                             qrimg::FacialFeaturePoints::MouthCentre};

 protected:
  void writeEyePart(std::ostream& osA) const;
  void readEyePart(std::istream& isA);
  void resetEye();

 private:
  std::unique_ptr<qrimg::FacialFeaturePoints> featurePointsM;
  std::unique_ptr<qrimg::Roi> roiM;
  float detectionConfidenceM = -1.0f;
};

}  // namespace qrbase
