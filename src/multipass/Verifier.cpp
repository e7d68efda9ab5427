#include <quarlen/Verifier.h>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/EyeLocator.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateGenerator.h>
#include <quarlen/TemplateMatcherMultipass.h>

namespace qrbase {

Verifier::Verifier() = default;

Verifier::~Verifier() {
  if (!ownerM) return;
  delete matcherM;
  delete generatorM;
  delete eyeLocatorM;
}

Verifier& Verifier::operator=(const Verifier& otherA) {
  if (this == &otherA) return *this;
  if (ownerM) {
    delete matcherM;
    delete generatorM;
    delete eyeLocatorM;
  }
  eyeLocatorM = otherA.eyeLocatorM;
  generatorM = otherA.generatorM;
  matcherM = otherA.matcherM;
  ownerM = false;
  return *this;
}

void Verifier::init(const char* textA, const char* textB, unsigned int, unsigned int threadsA) {
  if (eyeLocatorM == nullptr) eyeLocatorM = new EyeLocator();
  if (generatorM == nullptr) generatorM = new TemplateGenerator();
  if (matcherM == nullptr) matcherM = new TemplateMatcherMultipass(nullptr);
  eyeLocatorM->init(textA, textB, threadsA, true, TemplateCreationModeFastC);
  generatorM->init(textA, textB, threadsA, TemplateCreationModeFastC, nullptr, 0, 0.0f);
  if (!generatorM->hasEnabled(qridy::ModalityFace, qridy::AlgHgm)) {
    throw kxxcp::Exception("HGM tempate generation is not enabled.", __FILE__, __LINE__,
                           "qrbase::Verifier::init", kxutl::QuarlenInformation::quarlenVersionS,
                           -1);
  }
  matcherM->init(textA, "face_verifier", 0, true);
  matcherM->addMatchingPipeline(kPipelineId);
}

void Verifier::enrolImage(const qrimg::Image& imageA, const qrimg::FacialFeaturePoints* pointsA,
                          qridy::IdRecordImp& recordA) const {
  BioDescriptorList listL;  // releases the descriptors on every path
  if (pointsA != nullptr) {
    eyeLocatorM->predefineEyes(imageA, *pointsA, listL, 0, true, nullptr);
  } else {
    eyeLocatorM->locateEyes(imageA, listL, 0, nullptr, 1);
  }
  const qridy::Algorithm hgmL = qridy::AlgHgm;
  const AlgorithmMap mapL =
      qridy::Types::algorithmVector2Map(&hgmL, 1, TemplateCreationTypeGalleryAndProbe);
  generatorM->createFaceTemplate(*listL.getFaceDescriptor(0), recordA, mapL);
}

qridy::ResultIdRecord Verifier::verify(const qrimg::Image& probeA,
                                       const qrimg::FacialFeaturePoints* probePointsA,
                                       const qrimg::Image& galleryA,
                                       const qrimg::FacialFeaturePoints* galleryPointsA,
                                       qridy::Modality) const {
  if (matcherM == nullptr) {
    KXXCP_THROW("qrbase::Verifier::verify", "Verifier is not initialized.");
  }
  qridy::IdRecordImp probeRecordL;
  qridy::IdRecordImp galleryRecordL;
  enrolImage(probeA, probePointsA, probeRecordL);
  enrolImage(galleryA, galleryPointsA, galleryRecordL);
  return matcherM->verify(&probeRecordL, &galleryRecordL, nullptr);
}

qridy::ResultIdRecord Verifier::verify(const qrimg::Image& probeA,
                                       const qrimg::FacialFeaturePoints* probePointsA,
                                       const qridy::IdRecordImp& galleryA, qridy::Modality) const {
  if (matcherM == nullptr) {
    KXXCP_THROW("qrbase::Verifier::verify", "Verifier is not initialized.");
  }
  qridy::IdRecordImp probeRecordL;
  enrolImage(probeA, probePointsA, probeRecordL);
  return matcherM->verify(&probeRecordL, &galleryA, nullptr);
}

}  // namespace qrbase
