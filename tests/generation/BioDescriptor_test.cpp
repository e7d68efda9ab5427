#include <quarlen/BioDescriptor.h>
#include <quarlen/EyeDescriptor.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/FingerprintDescriptor.h>
#include <quarlen/IrisDescriptor.h>

#include <gtest/gtest.h>
#include <qrlcore/QuarlenInformation.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "support/DescriptorFactory.h"
#include "support/ExceptionMatchers.h"
#include "support/RecordBytes.h"

namespace qrbase {
namespace {

using quarlen_test::descriptorBytes;
using quarlen_test::hex;
using quarlen_test::setFixed32At;

class BioDescriptorTest : public ::testing::Test {
 protected:
  static std::unique_ptr<BioDescriptor> createFrom(const std::string& bytesA,
                                                   const qrimg::Image* imageA = nullptr) {
    std::istringstream isL(bytesA, std::ios::binary);
    return std::unique_ptr<BioDescriptor>(BioDescriptor::create(isL, imageA));
  }
  template <typename D>
  static void readInto(D& descriptorA, const std::string& bytesA,
                       const qrimg::Image* imageA = nullptr) {
    std::istringstream isL(bytesA, std::ios::binary);
    descriptorA.read(isL, imageA);
  }
  // Byte offset of the face flags in the stream of fullFaceDescriptor (header, eye flags, three
  // points, region, confidence).
  static constexpr std::size_t kFaceFlagsAt = 57 + 4 + 24 + 16 + 4;
  // Where the texture image's PNG starts in that stream.
  static constexpr std::size_t kTextureAt = kFaceFlagsAt + 4;
};

TEST_F(BioDescriptorTest, FreshIrisDescriptorIsSixtyOneBytesAndReadsBackValid) {
  const std::string bytesL = descriptorBytes(IrisDescriptor());
  EXPECT_EQ(hex(bytesL),
            "42 44 03 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 00 00 00");
  const std::unique_ptr<BioDescriptor> backL = createFrom(bytesL);
  ASSERT_NE(dynamic_cast<IrisDescriptor*>(backL.get()), nullptr);
  EXPECT_TRUE(backL->isValid());
  EXPECT_EQ(backL->modality(), qridy::ModalityIris);
  EXPECT_EQ(backL->facialFeaturePoints(), nullptr);
  EXPECT_EQ(backL->faceRecQcheckResult(), nullptr);
}

TEST_F(BioDescriptorTest, GoldenHeaderFields) {
  IrisDescriptor irisL;
  quarlen_test::fillHeader(irisL, qridy::InstanceIrisRight);
  const unsigned char codeL[3] = {1, 2, 3};
  irisL.setProbeData(codeL, 3);  // not streamed
  const std::string bytesL = descriptorBytes(irisL);
  EXPECT_EQ(hex(bytesL),
            "42 44 03 00 00 00 01 00 C9 00 00 00 18 17 16 15 14 13 12 11 08 07 06 05 04 03 02 01 "
            "4D 00 00 00 00 00 00 00 4E 00 00 00 00 00 00 00 03 00 00 00 00 00 40 3F 01 02 00 00 "
            "00 00 00 00 00");
  IrisDescriptor backL;
  backL.setProbeData(codeL, 3);
  readInto(backL, bytesL);
  EXPECT_EQ(backL.probeSize(), 0u);
  EXPECT_EQ(backL.probeData(), nullptr);
  EXPECT_EQ(backL.instance(), qridy::InstanceIrisRight);
  EXPECT_EQ(backL.sampleId(), (KXuint128{0x1112131415161718ull, 0x0102030405060708ull}));
  EXPECT_EQ(backL.idRecordKey(), qridy::IdRecordKey(77, 78));
  EXPECT_EQ(backL.qualityClass(), 3u);
  EXPECT_FLOAT_EQ(backL.qualityValue(), 0.75f);
  EXPECT_EQ(backL.ageClass(), AgeClassAdult);
}

TEST_F(BioDescriptorTest, EyeDescriptorWithoutItemsWritesFlagsThenConfidence) {
  EyeDescriptor eyeL;
  const std::string bytesL = descriptorBytes(eyeL);
  ASSERT_EQ(bytesL.size(), 65u);
  EXPECT_EQ(hex(bytesL.substr(57)), "00 00 00 00 00 00 80 BF");
  EyeDescriptor backL;
  backL.setRoi(new qrimg::Roi(1, 2, 3, 4));
  readInto(backL, bytesL);
  EXPECT_EQ(backL.roi(), nullptr);
  EXPECT_EQ(backL.facialFeaturePoints(), nullptr);
  EXPECT_FLOAT_EQ(backL.detectionConfidence(), -1.0f);
  EXPECT_TRUE(backL.isValid());  // eye descriptors are valid after reading, whatever was stored
  EXPECT_EQ(backL.type(), BioDescriptorTypeEye);
  EXPECT_EQ(backL.modality(), qridy::ModalityFace);
}

TEST_F(BioDescriptorTest, EyeDescriptorPointsAndRegionLayout) {
  EyeDescriptor eyeL;
  auto pointsL = new qrimg::FacialFeaturePoints();
  pointsL->set(qrimg::FacialFeaturePoints::RightEye, qrimg::Point2f{1.0f, 2.0f});
  pointsL->set(qrimg::FacialFeaturePoints::LeftEye, qrimg::Point2f{3.0f, 4.0f});
  pointsL->set(qrimg::FacialFeaturePoints::NoseTip, qrimg::Point2f{9.0f, 9.0f});  // not streamed
  eyeL.setFacialFeaturePoints(pointsL);
  eyeL.setRoi(new qrimg::Roi(-5, 6, 7, 8));
  eyeL.setDetectionConfidence(0.5f);
  eyeL.setValid(true);  // what reading makes of it, so the bytes can be compared
  const std::string bytesL = descriptorBytes(eyeL);
  EXPECT_EQ(hex(bytesL.substr(57)),
            "03 00 00 00 "
            "00 00 80 3F 00 00 00 40 00 00 40 40 00 00 80 40 00 00 00 00 00 00 00 00 "
            "06 00 00 00 FB FF FF FF 07 00 00 00 08 00 00 00 "
            "00 00 00 3F");
  const std::unique_ptr<BioDescriptor> backL = createFrom(bytesL);
  const auto* eyeBackL = dynamic_cast<EyeDescriptor*>(backL.get());
  ASSERT_NE(eyeBackL, nullptr);
  ASSERT_NE(eyeBackL->roi(), nullptr);
  EXPECT_EQ(*eyeBackL->roi(), qrimg::Roi(-5, 6, 7, 8));
  const qrimg::FacialFeaturePoints* backPointsL = backL->facialFeaturePoints();
  ASSERT_NE(backPointsL, nullptr);
  EXPECT_EQ(backPointsL->count(), 3);  // eyes and mouth centre (absent when written: 0, 0)
  EXPECT_EQ(backPointsL->point(qrimg::FacialFeaturePoints::LeftEye), (qrimg::Point2f{3, 4}));
  EXPECT_FALSE(backPointsL->isSet(qrimg::FacialFeaturePoints::NoseTip));
  EXPECT_EQ(descriptorBytes(*backL), bytesL);
}

TEST_F(BioDescriptorTest, FullFaceDescriptorRoundTripIsIdentity) {
  const auto faceL = quarlen_test::fullFaceDescriptor();
  const std::string bytesL = descriptorBytes(*faceL);
  EXPECT_EQ(quarlen_test::fixed32At(bytesL, kFaceFlagsAt), 0x1FDu);
  const std::unique_ptr<BioDescriptor> backL = createFrom(bytesL);
  const auto* faceBackL = dynamic_cast<FaceDescriptor*>(backL.get());
  ASSERT_NE(faceBackL, nullptr);
  EXPECT_EQ(descriptorBytes(*faceBackL), bytesL);
  EXPECT_TRUE(faceBackL->textureImage()->sameAs(*faceL->textureImage()));
  EXPECT_TRUE(faceBackL->featureExtractionImage()->sameAs(*faceL->featureExtractionImage()));
  EXPECT_EQ(*faceBackL->derotationGraph(), *faceL->derotationGraph());
  EXPECT_EQ(*faceBackL->landmarkGraph(), *faceL->landmarkGraph());
  EXPECT_EQ(*faceBackL->faceRecQcheckResult(), *faceL->faceRecQcheckResult());
  EXPECT_EQ(*faceBackL->derotatedFeaturePoints(), *faceL->derotatedFeaturePoints());
  EXPECT_FLOAT_EQ(faceBackL->faceClassifierResidual(), 0.125f);
  // Memory-only items do not travel.
  EXPECT_EQ(faceBackL->shapeImage(), nullptr);
  EXPECT_TRUE(faceBackL->landmarks().empty());
}

TEST_F(BioDescriptorTest, FaceDescriptorWithEachItemAlone) {
  const auto fullL = quarlen_test::fullFaceDescriptor();
  struct Item {
    std::uint32_t flag;
    std::function<void(FaceDescriptor&)> keepOnly;
  };
  const std::vector<Item> itemsL = {
      {1u << 0, [&](FaceDescriptor& f) { f.setTextureImage(fullL->textureImage()->clone()); }},
      {1u << 2, [&](FaceDescriptor& f) { f.setDerotatedImage(fullL->derotatedImage()->clone()); }},
      {1u << 3,
       [&](FaceDescriptor& f) {
         f.setDerotationGraph(new kxegm::FaceGraph(*fullL->derotationGraph()));
       }},
      {1u << 4,
       [&](FaceDescriptor& f) {
         f.setFaceRecQcheckResult(new kxegm::FaceQualityCheckResult(*fullL->faceRecQcheckResult()));
       }},
      {1u << 5,
       [&](FaceDescriptor& f) {
         f.setDerotatedFeaturePoints(
             new qrimg::FacialFeaturePoints(*fullL->derotatedFeaturePoints()));
       }},
      {1u << 6,
       [&](FaceDescriptor& f) {
         f.setLandmarkGraph(new kxegm::FaceGraph(*fullL->landmarkGraph()));
       }},
      {1u << 7,
       [&](FaceDescriptor& f) {
         f.setFeatureExtractionGraph(new kxegm::FaceGraph(*fullL->featureExtractionGraph()));
       }},
      {1u << 8,
       [&](FaceDescriptor& f) {
         f.setFeatureExtractionImage(fullL->featureExtractionImage()->clone());
       }},
  };
  for (const Item& itemL : itemsL) {
    FaceDescriptor faceL;
    faceL.setValid(true);
    itemL.keepOnly(faceL);
    const std::string bytesL = descriptorBytes(faceL);
    EXPECT_EQ(quarlen_test::fixed32At(bytesL, 57 + 8), itemL.flag);
    FaceDescriptor backL;
    readInto(backL, bytesL);
    EXPECT_EQ(descriptorBytes(backL), bytesL) << itemL.flag;
    EXPECT_EQ(backL.textureImage() != nullptr, itemL.flag == 1u) << itemL.flag;
    EXPECT_EQ(backL.faceRecQcheckResult() != nullptr, itemL.flag == 1u << 4) << itemL.flag;
  }
  // Nothing at all: flags 0 and the residual.
  const std::string emptyL = descriptorBytes(FaceDescriptor());
  EXPECT_EQ(hex(emptyL.substr(57)), "00 00 00 00 00 00 80 BF 00 00 00 00 00 00 00 00");
}

TEST_F(BioDescriptorTest, ImageArgumentStandsInForAMissingTextureImage) {
  const auto argumentL = quarlen_test::patternImage(6, 5, false, 9);
  const std::string withoutL = descriptorBytes(FaceDescriptor());
  const std::unique_ptr<BioDescriptor> backL = createFrom(withoutL, argumentL.get());
  const auto* faceL = static_cast<FaceDescriptor*>(backL.get());
  ASSERT_NE(faceL->textureImage(), nullptr);
  EXPECT_NE(faceL->textureImage(), argumentL.get());  // a copy
  EXPECT_TRUE(faceL->textureImage()->sameAs(*argumentL));

  // A stored texture image wins over the argument.
  const auto fullL = quarlen_test::fullFaceDescriptor();
  FaceDescriptor storedL;
  readInto(storedL, descriptorBytes(*fullL), argumentL.get());
  EXPECT_TRUE(storedL.textureImage()->sameAs(*fullL->textureImage()));
  // Eye and iris descriptors have no input image to stand in for.
  EyeDescriptor eyeL;
  readInto(eyeL, descriptorBytes(EyeDescriptor()), argumentL.get());
  EXPECT_EQ(eyeL.facialFeaturePoints(), nullptr);
}

TEST_F(BioDescriptorTest, FingerprintInputImageAndStoredValidity) {
  const auto fingerL = quarlen_test::fullFingerprintDescriptor();
  const std::string withL = descriptorBytes(*fingerL, true);
  const std::string withoutL = descriptorBytes(*fingerL, false);
  EXPECT_EQ(quarlen_test::fixed32At(withL, 57), 3u);
  EXPECT_EQ(quarlen_test::fixed32At(withoutL, 57), 2u);
  EXPECT_EQ(hex(withL.substr(withL.size() - 16)),
            "F4 01 00 00 FE 01 00 00 01 00 00 00 2A 00 00 00");

  FingerprintDescriptor backL;
  readInto(backL, withL);
  EXPECT_TRUE(backL.inputImage()->sameAs(*fingerL->inputImage()));
  EXPECT_TRUE(backL.workingImage()->sameAs(*fingerL->workingImage()));
  EXPECT_EQ(backL.yResolution(), 510u);
  EXPECT_TRUE(backL.queryCertificate(42));
  EXPECT_DOUBLE_EQ(backL.resolutionPerMetre(), 500 / 0.0254);
  EXPECT_EQ(descriptorBytes(backL), withL);

  const auto argumentL = quarlen_test::patternImage(3, 3, true, 1);
  readInto(backL, withoutL, argumentL.get());
  EXPECT_TRUE(backL.inputImage()->sameAs(*argumentL));
  readInto(backL, withoutL);
  EXPECT_EQ(backL.inputImage(), nullptr);

  // The stored flag is kept: an invalid fingerprint descriptor reads back invalid.
  fingerL->setValid(false);
  readInto(backL, descriptorBytes(*fingerL));
  EXPECT_FALSE(backL.isValid());
  fingerL->setValid(true);
  readInto(backL, descriptorBytes(*fingerL));
  EXPECT_TRUE(backL.isValid());
  // While a face descriptor stored as invalid reads back valid.
  FaceDescriptor invalidFaceL;
  FaceDescriptor faceBackL;
  readInto(faceBackL, descriptorBytes(invalidFaceL));
  EXPECT_TRUE(faceBackL.isValid());
}

TEST_F(BioDescriptorTest, CreateRefusesBadStarts) {
  std::istringstream badMagicL(std::string("BX") + descriptorBytes(IrisDescriptor()).substr(2));
  EXPECT_KXXCP_MESSAGE(BioDescriptor::create(badMagicL, nullptr),
                       "BioDescriptor::create:  Invalid Magic Number");
  EXPECT_EQ(badMagicL.tellg(), 2);  // nothing read beyond the magic
  EXPECT_KXXCP_MESSAGE(createFrom(""), "BioDescriptor::create:  Invalid Magic Number");
  EXPECT_KXXCP_MESSAGE(createFrom("BD\x01\x00"), "BioDescriptor::create:  Invalid stream.");
  std::string kindL = descriptorBytes(IrisDescriptor());
  setFixed32At(kindL, 2, 4);
  EXPECT_KXXCP_MESSAGE(createFrom(kindL), "BioDescriptor::create: Invalid BioDesciptor type.");
  setFixed32At(kindL, 2, 0xffffffffu);
  EXPECT_KXXCP_MESSAGE(createFrom(kindL), "BioDescriptor::create: Invalid BioDesciptor type.");
  // The kind decides the class; the class's reader does not check it again.
  std::string eyeAsIrisL = descriptorBytes(IrisDescriptor());
  setFixed32At(eyeAsIrisL, 2, 0);
  EXPECT_KXXCP_MESSAGE(createFrom(eyeAsIrisL), "BioDescriptor::read:  Invalid stream.");
}

TEST_F(BioDescriptorTest, ReadErrorsOfTheHeaderAndTheFlags) {
  IrisDescriptor irisL;
  std::string bytesL = descriptorBytes(IrisDescriptor());
  bytesL[0] = 'X';
  EXPECT_KXXCP_MESSAGE(readInto(irisL, bytesL), "BioDescriptor::read:  Invalid Magic Number");
  bytesL = descriptorBytes(IrisDescriptor());
  quarlen_test::setFixed16At(bytesL, 6, 2);
  EXPECT_KXXCP_MESSAGE(readInto(irisL, bytesL), "BioDescriptor::read:  Invalid version");
  EXPECT_KXXCP_MESSAGE(createFrom(bytesL), "BioDescriptor::read:  Invalid version");
  bytesL = descriptorBytes(IrisDescriptor());
  bytesL[52] = 2;
  EXPECT_KXXCP_MESSAGE(readInto(irisL, bytesL), "BioDescriptor::read:  Invalid valid flag '2'");
  bytesL = descriptorBytes(IrisDescriptor());
  setFixed32At(bytesL, 57, 1);
  EXPECT_KXXCP_MESSAGE(readInto(irisL, bytesL), "BioDescriptor::read:  Invalid iris flags '1'");
  EXPECT_FALSE(irisL.isValid());

  EyeDescriptor eyeL;
  bytesL = descriptorBytes(EyeDescriptor());
  setFixed32At(bytesL, 57, 4);
  EXPECT_KXXCP_MESSAGE(readInto(eyeL, bytesL), "BioDescriptor::read:  Invalid eye flags '4'");
  FaceDescriptor faceL;
  bytesL = descriptorBytes(FaceDescriptor());
  setFixed32At(bytesL, 65, 2);  // bit 1 is never written
  EXPECT_KXXCP_MESSAGE(readInto(faceL, bytesL), "BioDescriptor::read:  Invalid face flags '2'");
  FingerprintDescriptor fingerL;
  bytesL = descriptorBytes(FingerprintDescriptor());
  setFixed32At(bytesL, 57, 0x80000000u);
  EXPECT_KXXCP_MESSAGE(readInto(fingerL, bytesL),
                       "BioDescriptor::read:  Invalid fingerprint flags '2147483648'");
}

TEST_F(BioDescriptorTest, EmbeddedItemErrorsNameTheItem) {
  const std::string goodL = descriptorBytes(*quarlen_test::fullFaceDescriptor());
  FaceDescriptor faceL;
  std::string bytesL = goodL;
  bytesL[kTextureAt + 1] = 'Q';
  EXPECT_KXXCP_MESSAGE(readInto(faceL, bytesL),
                       "BioDescriptor::read:  Invalid texture image: Invalid PNG signature.");

  const auto fullL = quarlen_test::fullFaceDescriptor();
  FaceDescriptor onlyGraphL;
  onlyGraphL.setDerotationGraph(new kxegm::FaceGraph(*fullL->derotationGraph()));
  bytesL = descriptorBytes(onlyGraphL);
  const std::size_t graphAtL = 57 + 8 + 4;
  setFixed32At(bytesL, graphAtL + 6, 0xffffffffu);  // node count
  EXPECT_KXXCP_MESSAGE(readInto(faceL, bytesL),
                       "BioDescriptor::read:  Invalid derotation graph: Truncated face graph.");
  bytesL = descriptorBytes(onlyGraphL);
  bytesL[graphAtL] = 'X';
  EXPECT_KXXCP_MESSAGE(
      readInto(faceL, bytesL),
      "BioDescriptor::read:  Invalid derotation graph: Invalid face graph magic number: 'XG'.");

  FaceDescriptor onlyResultL;
  onlyResultL.setFaceRecQcheckResult(new kxegm::FaceQualityCheckResult());
  bytesL = descriptorBytes(onlyResultL);
  quarlen_test::setFixed16At(bytesL, graphAtL + 2, 9);
  EXPECT_KXXCP_MESSAGE(readInto(faceL, bytesL),
                       "BioDescriptor::read:  Invalid face quality check result: Invalid face "
                       "quality result version: '9'.");
  EXPECT_FALSE(faceL.isValid());
}

TEST_F(BioDescriptorTest, EveryTruncationFailsAndLeavesTheDescriptorInvalid) {
  const std::string goodL = descriptorBytes(*quarlen_test::fullFaceDescriptor());
  for (std::size_t cutL = 0; cutL < goodL.size(); ++cutL) {
    FaceDescriptor faceL;
    faceL.setValid(true);
    const std::string messageL =
        quarlen_test::thrownMessage([&] { readInto(faceL, goodL.substr(0, cutL)); });
    ASSERT_EQ(messageL.rfind("BioDescriptor::read:  Invalid ", 0), 0u) << cutL << ": " << messageL;
    EXPECT_FALSE(faceL.isValid()) << cutL;
  }
}

TEST_F(BioDescriptorTest, CopiesAreDeep) {
  const auto originalL = quarlen_test::fullFaceDescriptor();
  FaceDescriptor copyL(*originalL);
  EXPECT_NE(copyL.textureImage(), originalL->textureImage());
  EXPECT_EQ(descriptorBytes(copyL), descriptorBytes(*originalL));
  EXPECT_TRUE(copyL.shapeImage()->sameAs(*originalL->shapeImage()));
  copyL.featurePoints()->set(qrimg::FacialFeaturePoints::RightEye, qrimg::Point2f{0, 0});
  EXPECT_NE(descriptorBytes(copyL), descriptorBytes(*originalL));
  FaceDescriptor assignedL;
  assignedL = *originalL;
  EXPECT_EQ(descriptorBytes(assignedL), descriptorBytes(*originalL));
  assignedL = FaceDescriptor();
  EXPECT_EQ(assignedL.textureImage(), nullptr);
  EXPECT_EQ(assignedL.roi(), nullptr);

  const auto fingerL = quarlen_test::fullFingerprintDescriptor();
  FingerprintDescriptor fingerCopyL(*fingerL);
  EXPECT_NE(fingerCopyL.inputImage(), fingerL->inputImage());
  EXPECT_EQ(descriptorBytes(fingerCopyL), descriptorBytes(*fingerL));
}

TEST_F(BioDescriptorTest, QualityValueTraceAtLevelNine) {
  const int savedL = kxutl::QuarlenInformation::debugLevelS;
  IrisDescriptor irisL;
  kxutl::QuarlenInformation::debugLevelS = 8;
  ::testing::internal::CaptureStdout();
  irisL.setQualityValue(1.5f);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  kxutl::QuarlenInformation::debugLevelS = 9;
  ::testing::internal::CaptureStdout();
  irisL.setQualityValue(2.5f);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BioDescriptor::setQualityValue with 2.5\n");
  kxutl::QuarlenInformation::debugLevelS = savedL;
  EXPECT_FLOAT_EQ(irisL.qualityValue(), 2.5f);
}

TEST_F(BioDescriptorTest, ImageQualityCheckRecords) {
  QualityResultStruct resultL;
  resultL.addQualityResult(qualityCheckTypePoseRoll, true, 2.0f);
  resultL.addQualityResult(qualityCheckTypeImageDimensions, false, 1.0f);
  resultL.addRawQualityData(qualityCheckTypeImageDimensions, "width", 320.0f);
  FaceDescriptor faceL;
  faceL.setImageQualityChecks(resultL);
  EXPECT_EQ(faceL.appliedChecksBits(), "0100000001");
  EXPECT_EQ(faceL.passedChecksBits(), "0000000001");
  EXPECT_EQ(faceL.qualityCheckLog(),
            "qualityCheckTypePoseRoll, true, 2, \n"
            "qualityCheckTypeImageDimensions, false, 1, width : 320, \n");
}

// QUARLEN_WRITE_SEEDS=1 writes the seed corpus of the descriptor fuzz target: one stream of
// every kind, with and without each optional item.
TEST_F(BioDescriptorTest, WritesFuzzSeedsOnRequest) {
  const char* requestL = std::getenv("QUARLEN_WRITE_SEEDS");
  if (requestL == nullptr || std::string(requestL) != "1") GTEST_SKIP() << "seeds not requested";
  const std::string dataDirL = QUARLEN_TEST_DATA_DIR;  // <source>/tests/data
  const std::string dirL =
      dataDirL.substr(0, dataDirL.rfind("/tests/data")) + "/fuzz/seeds/fuzz_descriptor/";
  auto writeSeed = [&](const std::string& nameA, const std::string& bytesA) {
    std::ofstream fileL(dirL + nameA, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(fileL.good()) << dirL + nameA;
    fileL.write(bytesA.data(), static_cast<std::streamsize>(bytesA.size()));
  };
  const auto faceL = quarlen_test::fullFaceDescriptor();
  writeSeed("face_full.bin", descriptorBytes(*faceL));
  writeSeed("face_empty.bin", descriptorBytes(FaceDescriptor()));
  FaceDescriptor graphsL;
  graphsL.setLandmarkGraph(new kxegm::FaceGraph(*faceL->landmarkGraph()));
  graphsL.setFaceRecQcheckResult(new kxegm::FaceQualityCheckResult(*faceL->faceRecQcheckResult()));
  graphsL.setFeatureExtractionGraph(new kxegm::FaceGraph(*faceL->featureExtractionGraph()));
  writeSeed("face_graphs.bin", descriptorBytes(graphsL));
  EyeDescriptor eyeL;
  eyeL.setFacialFeaturePoints(new qrimg::FacialFeaturePoints(*faceL->facialFeaturePoints()));
  eyeL.setRoi(new qrimg::Roi(*faceL->roi()));
  writeSeed("eye.bin", descriptorBytes(eyeL));
  writeSeed("fingerprint.bin", descriptorBytes(*quarlen_test::fullFingerprintDescriptor()));
  writeSeed("fingerprint_no_input.bin",
            descriptorBytes(*quarlen_test::fullFingerprintDescriptor(), false));
  IrisDescriptor irisL;
  quarlen_test::fillHeader(irisL, qridy::InstanceIrisLeft);
  writeSeed("iris.bin", descriptorBytes(irisL));
}

}  // namespace
}  // namespace qrbase
