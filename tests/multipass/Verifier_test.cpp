#include <quarlen/Verifier.h>

#include <gtest/gtest.h>

#include <qrlimage/FacialFeaturePoints.h>
#include <quarlen/IdRecordImp.h>

#include "support/ExampleConfig.h"
#include "support/FacePhotos.h"

namespace {

using quarlen_test::facePhotoNames;

float score(const qrbase::Verifier& verifierA, const qrimg::Image& aA, const qrimg::Image& bA) {
  return verifierA.verify(aA, nullptr, bA, nullptr, qridy::ModalityFace).getScore();
}

TEST(VerifierTest, Explore) {
  quarlen_test::ExampleConfig configL;
  qrbase::Verifier verifierL;
  verifierL.init(nullptr, nullptr, 0, 1);
  std::vector<std::unique_ptr<qrimg::ByteImage>> photosL;
  for (const std::string& nameL : facePhotoNames()) {
    QUARLEN_LOAD_PHOTO(photoL, nameL);
    photosL.push_back(std::move(photoL));
  }
  for (std::size_t i = 0; i < photosL.size(); ++i) {
    const qrimg::ByteImage changedL =
        quarlen_test::transformPhoto(*photosL[i], 8.0f, 0.85f, 1.3f, 0.8f, 20.0f);
    std::printf("%zu self-transformed %.4f |", i, score(verifierL, *photosL[i], changedL));
    for (std::size_t j = 0; j < photosL.size(); ++j) {
      std::printf(" %.4f", score(verifierL, changedL, *photosL[j]));
    }
    std::printf("\n");
  }
}

}  // namespace
