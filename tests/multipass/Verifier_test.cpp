#include <quarlen/Verifier.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <qrlimage/FacialFeaturePoints.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/EyeLocator.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateGenerator.h>

#include "support/ExampleConfig.h"
#include "support/ExceptionMatchers.h"
#include "support/FacePhotos.h"

namespace qrbase {
namespace {

using quarlen_test::facePhotoNames;

class VerifierTest : public ::testing::Test {
 protected:
  quarlen_test::ExampleConfig configM;
};

TEST_F(VerifierTest, RefusesToWorkUninitialised) {
  const Verifier verifierL;
  const qrimg::ByteImage imageL(8, 8);
  EXPECT_KXXCP_MESSAGE(verifierL.verify(imageL, nullptr, imageL, nullptr, qridy::ModalityFace),
                       "Verifier is not initialized.");
  EXPECT_KXXCP_MESSAGE(verifierL.verify(imageL, nullptr, qridy::IdRecordImp(), qridy::ModalityFace),
                       "Verifier is not initialized.");
}

TEST_F(VerifierTest, InitNeedsHgmTemplates) {
  configM.install("[TEMPLATE_GENERATION]\ndefaultFaceAlgorithms = hgmFloat,hgmByte\n");
  Verifier verifierL;
  try {
    verifierL.init(nullptr, nullptr, 0, 1);
    FAIL() << "init succeeded";
  } catch (const kxxcp::Exception& eA) {
    EXPECT_EQ(eA.getMessage(), "HGM tempate generation is not enabled.");
    EXPECT_EQ(eA.getFunction(), "qrbase::Verifier::init");
    EXPECT_EQ(eA.getVersion(), kxutl::QuarlenInformation::quarlenVersionS);
    EXPECT_EQ(eA.errorCode(), -1);
  }
  // The matcher was not initialised: verification stops there once the templates are made.
  QUARLEN_LOAD_PHOTO(photoL, facePhotoNames()[0]);
  EXPECT_KXXCP_MESSAGE(verifierL.verify(*photoL, nullptr, *photoL, nullptr, qridy::ModalityFace),
                       "Error face template creation. Algorithms hgm not initialized.");
}

// Each photograph, turned, rescaled and re-lit, scores higher against itself than against every
// other face; the two-image form, the record form and given eyes agree.
TEST_F(VerifierTest, AFaceScoresHighestAgainstItsOwnChangedCopy) {
  Verifier verifierL;
  verifierL.init(nullptr, nullptr, 0, 1);
  std::vector<std::unique_ptr<qrimg::ByteImage>> photosL;
  for (const std::string& nameL : facePhotoNames()) {
    QUARLEN_LOAD_PHOTO(photoL, nameL);
    photosL.push_back(std::move(photoL));
  }
  // The gallery records, made once.
  EyeLocator locatorL;
  locatorL.init(nullptr, nullptr, 1, true, TemplateCreationModeFastC);
  TemplateGenerator generatorL;
  generatorL.init(nullptr, nullptr, 1, TemplateCreationModeFastC, nullptr, 0, 0.0f);
  std::vector<qridy::IdRecordImp> galleryL(photosL.size());
  std::vector<qrimg::FacialFeaturePoints> eyesL(photosL.size());
  for (std::size_t i = 0; i < photosL.size(); ++i) {
    galleryL[i].setIdRecordKey(qridy::IdRecordKey(i + 1, 1));
    BioDescriptorList listL;
    locatorL.locateEyes(*photosL[i], listL, 0, nullptr, 1);
    listL.getFaceDescriptor(0)->setIdRecordKey(galleryL[i].idRecordKey());
    eyesL[i] = *listL.getFaceDescriptor(0)->facialFeaturePoints();
    generatorL.createFaceTemplate(*listL.getFaceDescriptor(0), galleryL[i], {});
  }
  for (std::size_t i = 0; i < photosL.size(); ++i) {
    // Shrunk into a smaller canvas, which also keeps the test quick.
    const qrimg::ByteImage changedL =
        quarlen_test::transformPhoto(*photosL[i], -7.0f, 0.6f, 1.3f, 0.8f, 25.0f,
                                     photosL[i]->width() * 2 / 3, photosL[i]->height() * 2 / 3);
    std::vector<float> scoresL;
    for (const qridy::IdRecordImp& g : galleryL) {
      const qridy::ResultIdRecord resultL =
          verifierL.verify(changedL, nullptr, g, qridy::ModalityFace);
      EXPECT_EQ(resultL.personId(), g.personId());
      scoresL.push_back(resultL.getScore());
    }
    for (std::size_t j = 0; j < photosL.size(); ++j) {
      if (j != i) {
        EXPECT_GT(scoresL[i], scoresL[j]) << facePhotoNames()[i] << " vs " << j;
      }
    }
    if (i == 0) {
      const float pairL =
          verifierL.verify(changedL, nullptr, *photosL[i], nullptr, qridy::ModalityFace).getScore();
      EXPECT_FLOAT_EQ(pairL, scoresL[i]);
      // The located eyes given as feature points: the same templates, the same score.
      const float givenL =
          verifierL.verify(*photosL[i], &eyesL[i], *photosL[i], nullptr, qridy::ModalityFace)
              .getScore();
      EXPECT_FLOAT_EQ(givenL, 1.0f);
      // Eyes given elsewhere make another template.
      qrimg::FacialFeaturePoints shiftedL = eyesL[i];
      shiftedL.set(qrimg::FacialFeaturePoints::RightEye, {10.0f, 10.0f});
      EXPECT_LT(verifierL.verify(*photosL[i], &shiftedL, *photosL[i], nullptr, qridy::ModalityFace)
                    .getScore(),
                givenL);
    }
  }
}

TEST_F(VerifierTest, LocationFailuresPropagate) {
  Verifier verifierL;
  verifierL.init(nullptr, nullptr, 0, 1);
  QUARLEN_LOAD_PHOTO(faceL, facePhotoNames()[0]);
  QUARLEN_LOAD_PHOTO(noFaceL, quarlen_test::noFacePhoto());
  EXPECT_KXXCP_MESSAGE(verifierL.verify(*faceL, nullptr, *noFaceL, nullptr, qridy::ModalityFace),
                       "No face found in the image.");
  qrimg::FacialFeaturePoints oneEyeL;
  oneEyeL.set(qrimg::FacialFeaturePoints::LeftEye, {5.0f, 5.0f});
  EXPECT_KXXCP_MESSAGE(verifierL.verify(*faceL, &oneEyeL, *faceL, nullptr, qridy::ModalityFace),
                       "Feature points without both eyes.");
  // A copy shares the objects of the original.
  Verifier copyL;
  copyL = verifierL;
  EXPECT_KXXCP_MESSAGE(copyL.verify(*faceL, nullptr, *noFaceL, nullptr, qridy::ModalityFace),
                       "No face found in the image.");
}

}  // namespace
}  // namespace qrbase
