#include <quarlen/IrisTemplateGenerator.h>

#include <gtest/gtest.h>
#include <qrliris/IrisCode.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateMetaDataIris.h>

#include <sstream>

#include "support/DescriptorFactory.h"
#include "support/ExceptionMatchers.h"
#include "support/RecordBytes.h"
#include "support/SyntheticEye.h"

namespace qrbase {
namespace {

class IrisTemplateGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quarlen_test::fillHeader(descriptorM, qridy::InstanceIrisLeft);
    kxegm::IrisQualityCheckResult qualityL;
    qualityL.usableBitCount = 900;
    qualityL.irisDiameter = 160;
    qualityL.quality = 87.5f;
    descriptorM.setIrisQcheckResult(qualityL);
  }
  const qridy::TemplateBlockImp* irisBlock(const qridy::IdRecordImp& recordA,
                                           qridy::Instance instanceA = qridy::InstanceIrisLeft) {
    const qridy::BioRecordImp* bioL = recordA.getBioRecord(qridy::ModalityIris, instanceA, true);
    return bioL->getTemplateById(descriptorM.sampleId())->getTemplateBlock(qridy::AlgMvxIris2PiSdk);
  }
  static std::string recordBytes(const qridy::IdRecordImp& recordA) {
    std::ostringstream osL(std::ios::binary);
    recordA.write(osL);
    return osL.str();
  }
  IrisDescriptor descriptorM;
  IrisTemplateGenerator generatorM;
  qridy::IdRecordImp recordM;
};

TEST_F(IrisTemplateGeneratorTest, FilesTheDescriptorsCodeWithIrisMetadata) {
  EXPECT_EQ(generatorM.algorithmMap(),
            (AlgorithmMap{{qridy::AlgMvxIris2PiSdk, TemplateCreationTypeGalleryAndProbe}}));
  generatorM.init(4, TemplateCreationModeFastC, nullptr, 0);  // changes nothing
  const std::vector<unsigned char> probeL(512, 0xA5), galleryL(256, 0x5A);
  descriptorM.setProbeData(probeL.data(), 512);
  descriptorM.setGalleryData(galleryL.data(), 256);
  generatorM.createTemplate(descriptorM, recordM);

  const qridy::TemplateBlockImp* blockL = irisBlock(recordM);
  ASSERT_EQ(blockL->probeSize(), 512u);
  ASSERT_EQ(blockL->gallerySize(), 256u);
  EXPECT_FALSE(blockL->isSymmetric());
  EXPECT_EQ(blockL->probeDataPtr()[511], 0xA5);
  EXPECT_EQ(blockL->galleryDataPtr()[0], 0x5A);
  const std::string metaL(reinterpret_cast<const char*>(blockL->metaDataPtr()),
                          blockL->metaDataSize());
  EXPECT_EQ(quarlen_test::hex(metaL), "4D 44 03 00 01 00 84 03 A0 00 00 00 AF 42");
  EXPECT_FLOAT_EQ(blockL->getQuality(), 87.5f);
  // The template itself carries no metadata of its own.
  EXPECT_EQ(recordM.getBioRecord(qridy::ModalityIris, qridy::InstanceIrisLeft, true)
                ->getTemplateById(descriptorM.sampleId())
                ->metaDataSize(),
            0u);
}

TEST_F(IrisTemplateGeneratorTest, InvalidDescriptorLeavesTheRecordUnchanged) {
  recordM.setIdRecordKey(qridy::IdRecordKey(5, 6));
  const std::string beforeL = recordBytes(recordM);
  descriptorM.setValid(false);
  generatorM.createTemplate(descriptorM, recordM);
  IrisTemplateGenerator::createDummyTemplate(descriptorM, recordM);
  EXPECT_EQ(recordBytes(recordM), beforeL);
  EXPECT_EQ(recordM.nBioRecords(), 0u);
}

TEST_F(IrisTemplateGeneratorTest, DummyTemplateHasMetadataButNoData) {
  const std::vector<unsigned char> galleryL(256, 1);
  descriptorM.setGalleryData(galleryL.data(), 256);  // ignored by the dummy
  IrisTemplateGenerator::createDummyTemplate(descriptorM, recordM);
  const qridy::TemplateBlockImp* blockL = irisBlock(recordM);
  EXPECT_EQ(blockL->gallerySize(), 0u);
  EXPECT_EQ(blockL->probeSize(), 0u);
  EXPECT_EQ(blockL->metaDataSize(), 14u);
  EXPECT_FLOAT_EQ(blockL->getQuality(), 87.5f);
}

TEST_F(IrisTemplateGeneratorTest, MakesTheCodeFromTheEyeImageWhenTheDescriptorHasNone) {
  const qrimg::ByteImage eyeL = quarlen_test::makeEye(quarlen_test::EyeSpec());
  descriptorM.setInputImage(&eyeL);
  descriptorM.setIrisQcheckResult(kxegm::IrisQualityCheckResult());
  generatorM.createTemplate(descriptorM, recordM);

  ASSERT_EQ(descriptorM.gallerySize(), 256u);
  ASSERT_EQ(descriptorM.probeSize(), 512u);
  const kxegm::IrisQualityCheckResult& qualityL = descriptorM.irisQcheckResult();
  EXPECT_GT(qualityL.usableBitCount, 800);
  EXPECT_EQ(qualityL.irisDiameter, 160);
  const qridy::TemplateBlockImp* blockL = irisBlock(recordM);
  ASSERT_EQ(blockL->gallerySize(), 256u);
  EXPECT_TRUE(std::equal(descriptorM.galleryData(), descriptorM.galleryData() + 256,
                         blockL->galleryDataPtr()));
  qridy::TemplateMetaDataIris metaL;
  metaL.setData(blockL->metaDataPtr(), blockL->metaDataSize());
  EXPECT_EQ(metaL.irisValue1(), qualityL.usableBitCount);
  EXPECT_EQ(metaL.irisValue2(), 160);
  EXPECT_FLOAT_EQ(metaL.quality(), qualityL.quality);

  // A second capture of the same eye, slightly turned, gives a matching code.
  quarlen_test::EyeSpec againL;
  againL.noise = 8.0f;
  againL.rotationDegrees = 5.625f;
  const qrimg::ByteImage secondL = quarlen_test::makeEye(againL);
  IrisDescriptor otherL;
  otherL.setValid(true);
  otherL.setInstance(qridy::InstanceIrisRight);
  otherL.setSampleId(descriptorM.sampleId());
  otherL.setInputImage(&secondL);
  generatorM.createTemplate(otherL, recordM);
  const qridy::TemplateBlockImp* secondBlockL = irisBlock(recordM, qridy::InstanceIrisRight);
  const auto codeAL = kxegm::IrisCode::fromBytes(blockL->galleryDataPtr(), 256);
  const auto codeBL = kxegm::IrisCode::fromBytes(secondBlockL->galleryDataPtr(), 256);
  EXPECT_LT(codeAL.hammingDistance(codeBL, 3), 0.25);
}

TEST_F(IrisTemplateGeneratorTest, FailuresAreWrappedAndLeaveTheRecordUnchanged) {
  const qrimg::ByteImage blankL(80, 60, 128);
  descriptorM.setInputImage(&blankL);
  EXPECT_KXXCP_MESSAGE(generatorM.createTemplate(descriptorM, recordM),
                       "\nkxxcp caught: No iris found in the eye image.");
  EXPECT_EQ(recordM.nBioRecords(), 0u);

  // Filing the same sample twice clashes on the algorithm.
  descriptorM.setInputImage(nullptr);
  IrisTemplateGenerator::createDummyTemplate(descriptorM, recordM);
  const std::string afterFirstL = recordBytes(recordM);
  const std::string messageL = quarlen_test::thrownMessage(
      [&] { IrisTemplateGenerator::createDummyTemplate(descriptorM, recordM); });
  EXPECT_EQ(
      messageL.rfind("\nkxxcp caught: Failed to add 'TemplateBlock' to IDRecord. \n Details:", 0),
      0u)
      << messageL;
  EXPECT_EQ(recordBytes(recordM), afterFirstL);
}

}  // namespace
}  // namespace qrbase
