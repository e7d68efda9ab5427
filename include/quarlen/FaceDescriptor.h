#pragma once

#include <memory>
#include <string>
#include <vector>

#include <qrlface/FaceGraph.h>
#include <qrlface/FaceQualityCheckResult.h>
#include <qrlimage/Image.h>
#include <qrlimage/Point.h>
#include <quarlen/EyeDescriptor.h>
#include <quarlen/QualityResultStruct.h>

namespace qrbase {

// A located face: the eye descriptor's items plus the images, graphs and results that face
// location and preparation produce. Every item is owned and may be absent; each setter takes
// ownership of its argument (null to remove) and releases the object it replaces.
//
// Stream part after the eye part: presence flags (32 bits): bit 0 texture image, bit 2 derotated
// image, bit 3 derotation graph, bit 4 face quality check result, bit 5 derotated feature points,
// bit 6 landmark graph, bit 7 graph for feature extraction, bit 8 image for feature extraction
// (bit 1 stays 0; other bits are refused with "BioDescriptor::read:  Invalid face flags '<n>'").
// The present items follow in bit order: images as complete PNG files, graphs in the face
// library's graph format, the quality check result in its own format, feature points as in the
// eye part. Then the face-classifier residual (float). The rendered, shape, background-
// suppressed and quality images, the landmark list and the image-quality-check records stay in
// memory only.
class QUARLEN_EXPORT FaceDescriptor : public EyeDescriptor {
 public:
  FaceDescriptor();
  FaceDescriptor(const FaceDescriptor& otherA);
  FaceDescriptor& operator=(const FaceDescriptor& otherA);
  ~FaceDescriptor() override;

  BioDescriptorType type() const override { return BioDescriptorTypeFace; }
  void write(std::ostream& osA, bool withInputImageA) const override;
  // A stream without texture image takes a copy of imageA (when given) as texture image.
  void read(std::istream& isA, const qrimg::Image* imageA) override;
  const kxegm::FaceQualityCheckResult* faceRecQcheckResult() const override {
    return qcheckResultM.get();
  }

  const qrimg::Image* renderedImage() const { return renderedImageM.get(); }
  void setRenderedImage(qrimg::Image* imageA) { renderedImageM.reset(imageA); }
  const qrimg::Image* textureImage() const { return textureImageM.get(); }
  void setTextureImage(qrimg::Image* imageA) { textureImageM.reset(imageA); }
  const qrimg::Image* shapeImage() const { return shapeImageM.get(); }
  void setShapeImage(qrimg::Image* imageA) { shapeImageM.reset(imageA); }
  const qrimg::Image* derotatedImage() const { return derotatedImageM.get(); }
  void setDerotatedImage(qrimg::Image* imageA) { derotatedImageM.reset(imageA); }
  const kxegm::FaceGraph* derotationGraph() const { return derotationGraphM.get(); }
  void setDerotationGraph(kxegm::FaceGraph* graphA) { derotationGraphM.reset(graphA); }
  void setFaceRecQcheckResult(kxegm::FaceQualityCheckResult* resultA) {
    qcheckResultM.reset(resultA);
  }
  const qrimg::FacialFeaturePoints* derotatedFeaturePoints() const {
    return derotatedPointsM.get();
  }
  void setDerotatedFeaturePoints(qrimg::FacialFeaturePoints* pointsA) {
    derotatedPointsM.reset(pointsA);
  }
  const kxegm::FaceGraph* landmarkGraph() const { return landmarkGraphM.get(); }
  void setLandmarkGraph(kxegm::FaceGraph* graphA) { landmarkGraphM.reset(graphA); }
  const std::vector<qrimg::Point2f>& landmarks() const { return landmarksM; }
  void setLandmarks(std::vector<qrimg::Point2f> landmarksA) { landmarksM = std::move(landmarksA); }
  const kxegm::FaceGraph* featureExtractionGraph() const { return featureGraphM.get(); }
  void setFeatureExtractionGraph(kxegm::FaceGraph* graphA) { featureGraphM.reset(graphA); }
  const qrimg::Image* featureExtractionImage() const { return featureImageM.get(); }
  void setFeatureExtractionImage(qrimg::Image* imageA) { featureImageM.reset(imageA); }
  const qrimg::Image* backgroundSuppressedImage() const { return backgroundImageM.get(); }
  void setBackgroundSuppressedImage(qrimg::Image* imageA) { backgroundImageM.reset(imageA); }
  const qrimg::Image* qualityImage() const { return qualityImageM.get(); }
  void setQualityImage(qrimg::Image* imageA) { qualityImageM.reset(imageA); }
  float faceClassifierResidual() const { return residualM; }
  void setFaceClassifierResidual(float residualA) { residualM = residualA; }

  // The image-quality-check records: character i of the applied (passed) bit string is '1' when
  // check type i was applied (passed), '0' otherwise; the log is the checks' comma-separated
  // lines with raw data (QualityResultStruct::infoCsv).
  const std::string& appliedChecksBits() const { return appliedChecksBitsM; }
  const std::string& passedChecksBits() const { return passedChecksBitsM; }
  const std::string& qualityCheckLog() const { return qualityCheckLogM; }
  void setImageQualityChecks(const QualityResultStruct& resultA);

 private:
  void copyFaceItems(const FaceDescriptor& otherA);
  void resetFace();

  std::unique_ptr<qrimg::Image> renderedImageM;
  std::unique_ptr<qrimg::Image> textureImageM;
  std::unique_ptr<qrimg::Image> shapeImageM;
  std::unique_ptr<qrimg::Image> derotatedImageM;
  std::unique_ptr<kxegm::FaceGraph> derotationGraphM;
  std::unique_ptr<kxegm::FaceQualityCheckResult> qcheckResultM;
  std::unique_ptr<qrimg::FacialFeaturePoints> derotatedPointsM;
  std::unique_ptr<kxegm::FaceGraph> landmarkGraphM;
  std::vector<qrimg::Point2f> landmarksM;
  std::unique_ptr<kxegm::FaceGraph> featureGraphM;
  std::unique_ptr<qrimg::Image> featureImageM;
  std::unique_ptr<qrimg::Image> backgroundImageM;
  std::unique_ptr<qrimg::Image> qualityImageM;
  float residualM = 0.0f;
  std::string appliedChecksBitsM;
  std::string passedChecksBitsM;
  std::string qualityCheckLogM;
};

}  // namespace qrbase
