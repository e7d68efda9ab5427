#include <memory>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <quarlen/TemplateMetaDataFace.h>
#include <quarlen/TemplateMetaDataFinger.h>
#include <quarlen/TemplateMetaDataIris.h>

#include "support/RecordBytes.h"

namespace qridy {
namespace {

using quarlen_test::bytes;
using quarlen_test::hex;
using quarlen_test::readFromString;
using quarlen_test::thrownMessage;
using quarlen_test::writeToString;

class TemplateMetaDataTest : public ::testing::Test {
 protected:
  static std::string faceRecord() {
    TemplateMetaDataFace faceL;
    faceL.setImageWidth(640);
    faceL.setImageHeight(480);
    faceL.setQuality(0.5f);
    return writeToString(faceL);
  }
};

TEST_F(TemplateMetaDataTest, FaceGoldenBytesAndReadBack) {
  const std::string recordL = faceRecord();
  EXPECT_EQ(hex(recordL), "4D 44 01 00 01 00 80 02 E0 01 00 00 00 3F");
  TemplateMetaDataFace readL;
  EXPECT_EQ(readFromString(readL, recordL), 14u);
  EXPECT_EQ(readL.imageWidth(), 640);
  EXPECT_EQ(readL.imageHeight(), 480);
  EXPECT_EQ(readL.quality(), 0.5f);
  EXPECT_EQ(readL.modality(), ModalityFace);
}

TEST_F(TemplateMetaDataTest, FingerDefaultsGoldenBytes) {
  TemplateMetaDataFinger fingerL;
  EXPECT_EQ(hex(writeToString(fingerL)),
            "4D 44 02 00 02 00 04 00 00 00 00 B5 FA 00 00 00 00 00 00 00 00 00");
  fingerL.setImpressionType(ImpressionSwipe);
  fingerL.setFingerValue1(0x0102);
  fingerL.setFingerValue2(3);
  fingerL.setFingerValue3(4);
  fingerL.setFingerValue4(0x0506);
  fingerL.setFingerValue5(0x0708);
  fingerL.setFingerValue6(0x090A);
  fingerL.setQuality(-2.0f);
  const std::string recordL = writeToString(fingerL);
  EXPECT_EQ(hex(recordL), "4D 44 02 00 02 00 08 00 02 01 03 04 06 05 08 07 0A 09 00 00 00 C0");
  TemplateMetaDataFinger readL;
  EXPECT_EQ(readFromString(readL, recordL), 22u);
  EXPECT_EQ(writeToString(readL), recordL);
  EXPECT_EQ(readL.impressionType(), ImpressionSwipe);
}

TEST_F(TemplateMetaDataTest, IrisGoldenBytes) {
  TemplateMetaDataIris irisL;
  irisL.setIrisValue1(7);
  irisL.setIrisValue2(0xFFFF);
  irisL.setQuality(1.0f);
  const std::string recordL = writeToString(irisL);
  EXPECT_EQ(hex(recordL), "4D 44 03 00 01 00 07 00 FF FF 00 00 80 3F");
  TemplateMetaDataIris readL;
  readFromString(readL, recordL);
  EXPECT_EQ(readL.irisValue1(), 7);
  EXPECT_EQ(readL.irisValue2(), 0xFFFF);
  EXPECT_EQ(readL.quality(), 1.0f);
}

TEST_F(TemplateMetaDataTest, FingerReadsVersionOneButNotThree) {
  std::string recordL = writeToString(TemplateMetaDataFinger());
  recordL[4] = 1;
  TemplateMetaDataFinger fingerL;
  readFromString(fingerL, recordL);
  EXPECT_EQ(fingerL.fingerValue4(), 250);
  // It is written back as the current version.
  EXPECT_EQ(writeToString(fingerL)[4], 2);

  recordL[4] = 3;
  EXPECT_EQ(thrownMessage([&] { readFromString(fingerL, recordL); }),
            "kxxcp caught: Invalid finger meta data version: '3'.");
}

TEST_F(TemplateMetaDataTest, VersionMessagesOfFaceAndIris) {
  std::string faceL = faceRecord();
  faceL[4] = 2;
  TemplateMetaDataFace face;
  EXPECT_EQ(thrownMessage([&] { readFromString(face, faceL); }),
            "kxxcp caught: Invalid face meta data version: '2'.");
  std::string irisL = writeToString(TemplateMetaDataIris());
  irisL[5] = 1;  // version 257
  TemplateMetaDataIris iris;
  EXPECT_EQ(thrownMessage([&] { readFromString(iris, irisL); }),
            "kxxcp caught: Invalid Iris meta data version: '257'.");
}

TEST_F(TemplateMetaDataTest, ModalityMismatchNamesBothModalities) {
  TemplateMetaDataFinger fingerL;
  EXPECT_EQ(thrownMessage([&] { readFromString(fingerL, faceRecord()); }),
            "kxxcp caught: Invalid modality: 'face'.Modality: 'fingerprint' expected.");
  TemplateMetaDataIris irisL;
  EXPECT_EQ(thrownMessage([&] {
              readFromString(irisL, bytes({'M', 'D', 9, 0, 1, 0}));
            }),
            "kxxcp caught: Invalid modality: 'unknown'.Modality: 'iris' expected.");
}

TEST_F(TemplateMetaDataTest, MagicMessagesShowTheCharactersRead) {
  TemplateMetaDataFace faceL;
  EXPECT_EQ(thrownMessage([&] { readFromString(faceL, "XD" + faceRecord().substr(2)); }),
            "kxxcp caught: Invalid meta data magic number: 'XD'.");
  EXPECT_EQ(thrownMessage([&] { readFromString(faceL, "M"); }),
            "kxxcp caught: Invalid meta data magic number: 'M'.");
  EXPECT_EQ(thrownMessage([&] { readFromString(faceL, ""); }),
            "kxxcp caught: Invalid meta data magic number: ''.");
}

TEST_F(TemplateMetaDataTest, CutRecordLeavesTheRemainingFieldsUnchanged) {
  TemplateMetaDataFace faceL;
  faceL.setImageHeight(99);
  faceL.setQuality(3.0f);
  // Cut inside the height field: the width is read, the height and the quality stay.
  readFromString(faceL, quarlen_test::cutStream(faceRecord(), 9));
  EXPECT_EQ(faceL.imageWidth(), 640);
  EXPECT_EQ(faceL.imageHeight(), 99);
  EXPECT_EQ(faceL.quality(), 3.0f);
  // A header cut before the version reads as version 0.
  EXPECT_EQ(thrownMessage([&] { readFromString(faceL, quarlen_test::cutStream(faceRecord(), 5)); }),
            "kxxcp caught: Invalid face meta data version: '0'.");
}

TEST_F(TemplateMetaDataTest, CreateDataAndSetDataRoundTrip) {
  TemplateMetaDataFinger fingerL;
  fingerL.setQuality(4.5f);
  unsigned char* dataL = nullptr;
  unsigned int sizeL = 0;
  fingerL.createData(dataL, sizeL);
  std::unique_ptr<unsigned char[]> ownedL(dataL);
  ASSERT_EQ(sizeL, 22u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dataL), sizeL), writeToString(fingerL));
  TemplateMetaDataFinger parsedL;
  parsedL.setData(dataL, sizeL);
  EXPECT_EQ(parsedL.quality(), 4.5f);
  EXPECT_EQ(thrownMessage([&] { parsedL.setData(nullptr, 0); }),
            "kxxcp caught: Invalid meta data magic number: ''.");
}

TEST_F(TemplateMetaDataTest, FactoriesSupportFingerprintOnly) {
  std::unique_ptr<TemplateMetaDataBase> metaL(
      TemplateMetaDataBase::createMetaData(ModalityFingerprint));
  EXPECT_EQ(metaL->modality(), ModalityFingerprint);
  EXPECT_EQ(thrownMessage([] { TemplateMetaDataBase::createMetaData(ModalityFace); }),
            "Unsupported modality 'face'.");
  EXPECT_EQ(thrownMessage([] { TemplateMetaDataBase::createMetaData(ModalityAny); }),
            "Unsupported modality 'unknown'.");

  const std::string fingerL = writeToString(TemplateMetaDataFinger());
  const auto* dataL = reinterpret_cast<const unsigned char*>(fingerL.data());
  metaL.reset(TemplateMetaDataBase::createMetaData(dataL, 22));
  EXPECT_EQ(static_cast<TemplateMetaDataFinger*>(metaL.get())->fingerValue3(), 181);
  EXPECT_EQ(thrownMessage([&] { TemplateMetaDataBase::createMetaData(dataL, 2); }),
            "Invalid metadata size '2'.");
  const std::string faceL = faceRecord();
  EXPECT_EQ(thrownMessage([&] {
              TemplateMetaDataBase::createMetaData(
                  reinterpret_cast<const unsigned char*>(faceL.data()), 14);
            }),
            "Unsupported modality 'face'.");
  // A fingerprint header with a broken version fails inside the parse.
  std::string badL = fingerL;
  badL[4] = 7;
  EXPECT_EQ(thrownMessage([&] {
              TemplateMetaDataBase::createMetaData(
                  reinterpret_cast<const unsigned char*>(badL.data()), 22);
            }),
            "kxxcp caught: Invalid finger meta data version: '7'.");
}

TEST_F(TemplateMetaDataTest, ErrorsCarryTheReadingFunction) {
  TemplateMetaDataFace faceL;
  try {
    readFromString(faceL, "");
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getFunction(), "qridy::TemplateMetaDataFace::read");
    EXPECT_EQ(e.errorCode(), -1);
  }
}

}  // namespace
}  // namespace qridy
