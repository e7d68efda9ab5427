#pragma once

#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Image.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultIdRecord.h>
#include <quarlen/Types.h>

namespace qridy {
class IdRecordImp;
}

namespace qrbase {

class EyeLocator;
class TemplateGenerator;
class TemplateMatcherMultipass;

// One-call 1:1 face verification: finds the eyes in two images (or in one image, compared with a
// stored record), makes "hgm" templates and asks a private multipass matcher for the result.
//
// The verifier owns its eye locator, template generator and matcher once init made them; a copy
// made by assignment shares them with the original (the original must outlive the copy, and
// only the original releases them).
class QUARLEN_EXPORT Verifier {
 public:
  Verifier();
  ~Verifier();
  Verifier(const Verifier&) = delete;
  // Shares the three objects of otherA.
  Verifier& operator=(const Verifier& otherA);

  // Makes the eye locator (init with textA, textB, threadsA, true, mode 2), the template
  // generator (init with textA, textB, threadsA, mode 2, the configured default algorithms, no
  // shape scale) and the matcher (init with storage id textA, folder "face_verifier", recovery;
  // a null textA makes a matcher without gallery), and adds the matcher's pipeline "face_verifier"
  // of the pipeline configuration. A generator without "hgm" fails with "HGM tempate generation
  // is not enabled." before the matcher is initialised; the objects made so far stay with the
  // verifier. The unused argument is kept for callers of the old form.
  void init(const char* textA, const char* textB, unsigned int unusedA, unsigned int threadsA);

  // The verification result of two face images. A null feature-point pointer has the eyes of
  // that image located; given points are used as they are. The modality is not used. Failures of
  // location, template creation and matching propagate unchanged; every descriptor and record
  // made is released on every path. Calling verify before init throws "Verifier is not
  // initialized.".
  qridy::ResultIdRecord verify(const qrimg::Image& probeA,
                               const qrimg::FacialFeaturePoints* probePointsA,
                               const qrimg::Image& galleryA,
                               const qrimg::FacialFeaturePoints* galleryPointsA,
                               qridy::Modality modalityA) const;
  // A face image against a stored record (the gallery).
  qridy::ResultIdRecord verify(const qrimg::Image& probeA,
                               const qrimg::FacialFeaturePoints* probePointsA,
                               const qridy::IdRecordImp& galleryA, qridy::Modality modalityA) const;

  // The pipeline section the verifier's matcher reads.
  static constexpr const char* kPipelineId = "face_verifier";

 private:
  // Locates the face of imageA (or takes pointsA) and files its hgm template into recordA.
  void enrolImage(const qrimg::Image& imageA, const qrimg::FacialFeaturePoints* pointsA,
                  qridy::IdRecordImp& recordA) const;

  EyeLocator* eyeLocatorM = nullptr;
  TemplateGenerator* generatorM = nullptr;
  TemplateMatcherMultipass* matcherM = nullptr;
  bool ownerM = true;
};

}  // namespace qrbase
