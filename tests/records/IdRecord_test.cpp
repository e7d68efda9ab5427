#include <quarlen/IdRecordImp.h>

#include <cstdio>
#include <memory>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include "support/RecordBytes.h"
#include "support/RecordFactory.h"

namespace qridy {
namespace {

using quarlen_test::hex;
using quarlen_test::readFromString;
using quarlen_test::thrownMessage;
using quarlen_test::writeToString;

const unsigned char kGallery[] = {1, 2, 3};

class IdRecordTest : public ::testing::Test {
 protected:
  static TemplateBlockImp* block(Algorithm algorithmA) {
    TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(algorithmA);
    blockL->setData(nullptr, 0, kGallery, 3, false);
    return blockL;
  }
  static TemplateImp makeTemplate(std::uint64_t lowA, std::initializer_list<Algorithm> algsA) {
    TemplateImp templateL;
    templateL.setSampleId({0, lowA});
    for (Algorithm a : algsA) templateL.addTemplateBlock(block(a));
    return templateL;
  }
  // Key (7, 9); right index finger with samples 1 (l2f) and 2 (l2f, l2m); right thumb with sample
  // 3 (l2f); face with sample 4 (hgm).
  static IdRecordImp sampleRecord() {
    IdRecordImp recordL;
    recordL.setIdRecordKey({7, 9});
    const TemplateImp oneL = makeTemplate(1, {AlgL2f});
    recordL.addTemplate(&oneL, ModalityFingerprint, InstanceFingerRightIndex);
    const TemplateImp twoL = makeTemplate(2, {AlgL2f, AlgL2m});
    recordL.addTemplate(&twoL, ModalityFingerprint, InstanceFingerRightIndex);
    recordL.addTemplateBlock(block(AlgL2f), ModalityFingerprint, InstanceFingerRightThumb, {0, 3});
    recordL.addTemplateBlock(block(AlgHgm), ModalityFace, InstanceFaceFrontal, {0, 4});
    return recordL;
  }
  static std::string readError(const std::string& bytesA) {
    IdRecordImp recordL;
    return thrownMessage([&] { readFromString(recordL, bytesA); });
  }
  static std::string keysText(const std::vector<TemplateKey>& keysA) {
    std::string textL;
    for (const auto& k : keysA) textL += k.text();
    return textL;
  }
};

TEST_F(IdRecordTest, GoldenBytesOfAnEmptyRecord) {
  IdRecordImp recordL;
  recordL.setIdRecordKey({7, 9});
  const std::string bytesL = writeToString(recordL);
  EXPECT_EQ(hex(bytesL),
            "51 58 05 00 00 00 00 00 07 00 00 00 00 00 00 00 09 00 00 00 00 00 00 00 00 00 00 00");
  std::string textL;
  EXPECT_FALSE(recordL.validate(textL));
  IdRecordImp readL;
  EXPECT_EQ(readFromString(readL, bytesL), 28u);
  EXPECT_EQ(readL.idRecordKey(), (IdRecordKey{7, 9}));
}

TEST_F(IdRecordTest, SIdIsWrittenBetweenKeyAndBioRecords) {
  IdRecordImp recordL;
  recordL.setSId("AB", 2);
  const std::string bytesL = writeToString(recordL);
  EXPECT_EQ(hex(bytesL.substr(24)), "02 00 41 42 00 00");
  IdRecordImp readL;
  readFromString(readL, bytesL);
  ASSERT_EQ(readL.sIdSize(), 2u);
  EXPECT_EQ(std::string(readL.sIdDataPtr(), 2), "AB");
}

TEST_F(IdRecordTest, BioRecordsAreOrderedByHashKey) {
  IdRecordImp recordL = sampleRecord();
  recordL.addTemplateBlock(block(AlgL2f), ModalityFingerprint, InstanceFaceFrontal, {0, 5});
  recordL.addTemplateBlock(block(AlgDaugman2010), ModalityIris, InstanceIrisLeft, {0, 6});
  ASSERT_EQ(recordL.nBioRecords(), 5u);
  // Instance is the more significant half, modality the less.
  const std::pair<Modality, Instance> expectedL[] = {
      {ModalityFace, InstanceFaceFrontal},
      {ModalityFingerprint, InstanceFaceFrontal},
      {ModalityFingerprint, InstanceFingerRightThumb},
      {ModalityFingerprint, InstanceFingerRightIndex},
      {ModalityIris, InstanceIrisLeft}};
  for (unsigned int i = 0; i < 5; ++i) {
    EXPECT_EQ(recordL.getBioRecord(i)->modality(), expectedL[i].first) << i;
    EXPECT_EQ(recordL.getBioRecord(i)->instance(), expectedL[i].second) << i;
  }
  // The same order on the stream.
  IdRecordImp readL;
  readFromString(readL, writeToString(recordL));
  EXPECT_EQ(keysText(readL.getTemplateKeys(ModalityAny, InstanceAny)),
            "(1, 11, 4, 0)\n(2, 11, 5, 0)\n(2, 101, 3, 0)\n(2, 102, 1, 0)\n(2, 102, 2, 0)\n"
            "(3, 200, 6, 0)\n");
  EXPECT_EQ(thrownMessage([&] { recordL.getBioRecord(5); }),
            "BioRecord not found: given index is too large:5.");
}

TEST_F(IdRecordTest, TemplateKeysWithWildcards) {
  const IdRecordImp recordL = sampleRecord();
  EXPECT_EQ(thrownMessage([&] { recordL.getTemplateKeys(ModalityAny, InstanceFingerRightThumb); }),
            "(modality: any) and (instance:  specified) is an invalid call.");
  EXPECT_EQ(keysText(recordL.getTemplateKeys(ModalityFingerprint, InstanceAny)),
            "(2, 101, 3, 0)\n(2, 102, 1, 0)\n(2, 102, 2, 0)\n");
  EXPECT_EQ(keysText(recordL.getTemplateKeys(ModalityFingerprint, InstanceFingerRightIndex)),
            "(2, 102, 1, 0)\n(2, 102, 2, 0)\n");
  EXPECT_TRUE(recordL.getTemplateKeys(ModalityIris, InstanceIrisLeft).empty());
  EXPECT_TRUE(IdRecordImp().getTemplateKeys(ModalityFace, InstanceFaceFrontal).empty());
  EXPECT_TRUE(recordL.hasTemplateBlock({ModalityFingerprint, InstanceAny, AlgL2m}));
  EXPECT_FALSE(recordL.hasTemplateBlock({ModalityFingerprint, InstanceFingerRightThumb, AlgL2m}));
  EXPECT_TRUE(recordL.hasTemplateBlock({ModalityAny, InstanceAny, AlgHgm}));
}

TEST_F(IdRecordTest, TemplateLookupMessages) {
  IdRecordImp recordL = sampleRecord();
  const IdRecordImp& constL = recordL;
  const TemplateKey twoL(ModalityFingerprint, InstanceFingerRightIndex, {0, 2});
  EXPECT_EQ(recordL.getTemplateByKey(twoL)->numberOfTemplateBlocks(), 2u);
  EXPECT_EQ(thrownMessage([&] {
              recordL.getTemplateByKey({ModalityFingerprint, InstanceAny, {0, 2}});
            }),
            "modality=any or instance=any is not allowed here.");
  EXPECT_EQ(thrownMessage([&] {
              constL.getTemplateByKey({ModalityIris, InstanceIrisLeft, {}});
            }),
            "A BioRecord with modality='iris' and instance='irisLeft' does not exist in this "
            "IdRecord.");
  EXPECT_EQ(thrownMessage([&] {
              constL.getTemplateByKey({ModalityFingerprint, InstanceFingerRightIndex, {8, 5}});
            }),
            "A template with the key (2, 102, 5, 8)\n does not exist in this IdRecord.");
  EXPECT_EQ(recordL.getTemplateBlock(twoL, AlgL2m, true)->algorithm(), AlgL2m);
  EXPECT_EQ(recordL.getTemplateBlock(twoL, AlgL2fi, false), nullptr);
  EXPECT_EQ(thrownMessage([&] { recordL.getTemplateBlock(twoL, AlgL2fi, true); }),
            "The requested template block does not exist in this IdRecord.");
  // The template's own exceptions pass whatever the flag.
  EXPECT_EQ(thrownMessage([&] {
              recordL.getTemplateBlock({ModalityIris, InstanceIrisLeft, {}}, AlgL2f, false);
            }),
            "A BioRecord with modality='iris' and instance='irisLeft' does not exist in this "
            "IdRecord.");
  EXPECT_EQ(recordL.getBioRecord(ModalityIris, InstanceIrisLeft, false), nullptr);
  EXPECT_EQ(thrownMessage([&] { constL.getBioRecord(ModalityIris, InstanceIrisLeft, true); }),
            "BioRecord not found: modality='iris', instance='irisLeft'.");
}

TEST_F(IdRecordTest, SampleIdsByIndex) {
  IdRecordImp recordL = sampleRecord();
  KXuint128 idL;
  EXPECT_TRUE(recordL.getSampleIdByIndex(ModalityFingerprint, InstanceFingerRightIndex, 1, idL));
  EXPECT_EQ(idL, (KXuint128{0, 2}));
  EXPECT_FALSE(recordL.getSampleIdByIndex(ModalityFingerprint, InstanceFingerRightIndex, 2, idL));
  EXPECT_FALSE(recordL.getSampleIdByIndex(ModalityIris, InstanceIrisLeft, 0, idL));
  recordL.setSampleIdByIndex(ModalityFace, InstanceFaceFrontal, 0, {1, 1});
  EXPECT_TRUE(recordL.getSampleIdByIndex(ModalityFace, InstanceFaceFrontal, 0, idL));
  EXPECT_EQ(idL, (KXuint128{1, 1}));
  EXPECT_EQ(
      thrownMessage([&] { recordL.setSampleIdByIndex(ModalityFace, InstanceFaceFrontal, 1, {}); }),
      "Index invalid");
  EXPECT_EQ(
      thrownMessage([&] { recordL.setSampleIdByIndex(ModalityIris, InstanceIrisLeft, 0, {}); }),
      "BioRecord not found: modality='iris', instance='irisLeft'.");
}

TEST_F(IdRecordTest, AddTemplateCopiesAndCleansUpAfterRefusals) {
  IdRecordImp recordL;
  const TemplateImp faceL = makeTemplate(1, {AlgHgm});
  recordL.addTemplate(&faceL, ModalityFace, InstanceFaceFrontal);
  ASSERT_EQ(recordL.nBioRecords(), 1u);
  EXPECT_EQ(faceL.numberOfTemplateBlocks(), 1u);  // the caller's template is untouched
  EXPECT_NE(recordL.getTemplateByKey({ModalityFace, InstanceFaceFrontal, {0, 1}}), &faceL);
  EXPECT_EQ(
      thrownMessage([&] { recordL.addTemplate(&faceL, ModalityUnknown, InstanceFaceFrontal); }),
      "Invalid Template (modality unknown)");
  EXPECT_EQ(recordL.nBioRecords(), 1u);  // no empty record left behind
  EXPECT_EQ(thrownMessage([&] { recordL.addTemplate(nullptr, ModalityIris, InstanceIrisLeft); }),
            "Invalid Template (Null Pointer)");
  EXPECT_EQ(recordL.nBioRecords(), 1u);

  std::unique_ptr<TemplateBlockImp> unknownL(block(AlgUnknown));
  EXPECT_EQ(thrownMessage([&] {
              recordL.addTemplateBlock(unknownL.get(), ModalityIris, InstanceIrisLeft, {0, 9});
            }),
            "unknownAlgorithm");
  EXPECT_EQ(recordL.nBioRecords(), 1u);
  std::unique_ptr<TemplateBlockImp> twiceL(block(AlgHgm));
  EXPECT_EQ(thrownMessage([&] {
              recordL.addTemplateBlock(twiceL.get(), ModalityFace, InstanceFaceFrontal, {0, 1});
            }),
            "Algorithm already in map");
  recordL.addTemplateBlock(block(AlgLfa), ModalityFace, InstanceFaceFrontal, {0, 1});
  EXPECT_EQ(recordL.getTemplateByKey({ModalityFace, InstanceFaceFrontal, {0, 1}})
                ->numberOfTemplateBlocks(),
            2u);
}

TEST_F(IdRecordTest, AddBioRecordRefusesATakenHashKey) {
  IdRecordImp recordL = sampleRecord();
  std::unique_ptr<BioRecordImp> bioL(new BioRecordImp(ModalityFace, InstanceFaceFrontal));
  EXPECT_EQ(thrownMessage([&] { recordL.addBioRecord(bioL.get()); }),
            "A BioRecord with this instance and modality already exists.");
  recordL.addBioRecord(new BioRecordImp(ModalityIris, InstanceIrisRight));
  EXPECT_EQ(recordL.nBioRecords(), 4u);
}

TEST_F(IdRecordTest, MergeAddsCopiesAndConsumesTheOther) {
  IdRecordImp recordL = sampleRecord();
  recordL.setSId("me", 2);
  auto* otherL = new IdRecordImp();
  otherL->setIdRecordKey({1, 1});
  otherL->addTemplateBlock(block(AlgL2fi), ModalityFingerprint, InstanceFingerRightIndex, {0, 2});
  otherL->addTemplateBlock(block(AlgL2f), ModalityFingerprint, InstanceFingerRightIndex, {0, 8});
  otherL->addTemplateBlock(block(AlgDaugman2010), ModalityIris, InstanceIrisRight, {0, 9});
  recordL.merge(otherL);
  EXPECT_EQ(otherL, nullptr);
  EXPECT_EQ(recordL.idRecordKey(), (IdRecordKey{7, 9}));
  EXPECT_EQ(recordL.sIdSize(), 2u);
  EXPECT_EQ(keysText(recordL.getTemplateKeys(ModalityFingerprint, InstanceFingerRightIndex)),
            "(2, 102, 1, 0)\n(2, 102, 2, 0)\n(2, 102, 8, 0)\n");
  EXPECT_EQ(recordL.getTemplateByKey({ModalityFingerprint, InstanceFingerRightIndex, {0, 2}})
                ->numberOfTemplateBlocks(),
            3u);
  EXPECT_NE(recordL.getBioRecord(ModalityIris, InstanceIrisRight, false), nullptr);

  // A clash of algorithms under one sample id throws and leaves the other record alone.
  auto* clashL = new IdRecordImp();
  clashL->addTemplateBlock(block(AlgHgm), ModalityFace, InstanceFaceFrontal, {0, 4});
  IdRecordImp* heldL = clashL;
  EXPECT_EQ(thrownMessage([&] { recordL.merge(clashL); }),
            "The Template with the given id and templateBlocks of the same algorithm, exist in "
            "this BioRecord.");
  EXPECT_EQ(clashL, heldL);
  delete clashL;
  IdRecordImp* selfL = &recordL;
  EXPECT_EQ(thrownMessage([&] { recordL.merge(selfL); }),
            "An IdRecord cannot be merged into itself.");
}

TEST_F(IdRecordTest, DeletionRules) {
  IdRecordImp recordL = sampleRecord();
  EXPECT_TRUE(recordL.deleteTemplate({ModalityIris, InstanceIrisLeft, {0, 1}}));
  EXPECT_FALSE(recordL.deleteTemplate({ModalityFace, InstanceFaceFrontal, {0, 1}}));
  EXPECT_TRUE(recordL.deleteTemplate({ModalityFace, InstanceFaceFrontal, {0, 4}}));
  EXPECT_EQ(recordL.nBioRecords(), 3u);  // the emptied face record stays
  EXPECT_TRUE(recordL.containsOnlyOneSamplePerInstance() == false);
  EXPECT_FALSE(recordL.deleteTemplates(ModalityIris, InstanceAny));
  // Any modality with a definite instance deletes nothing, even where records match.
  EXPECT_FALSE(recordL.deleteTemplates(ModalityAny, InstanceFingerRightThumb));
  EXPECT_FALSE(recordL.deleteTemplates(ModalityAny, InstanceFaceFrontal));
  EXPECT_EQ(recordL.nBioRecords(), 3u);
  EXPECT_TRUE(recordL.deleteTemplates(ModalityFingerprint, InstanceAny));
  EXPECT_EQ(recordL.nBioRecords(), 1u);
  EXPECT_TRUE(recordL.containsOnlyOneSamplePerInstance());
  EXPECT_TRUE(recordL.deleteTemplates(ModalityFace, InstanceFaceFrontal));
  EXPECT_EQ(recordL.nBioRecords(), 0u);

  recordL = sampleRecord();
  recordL.deleteBioRecord(ModalityFingerprint, InstanceFingerRightThumb);
  recordL.deleteBioRecord(ModalityIris, InstanceIrisLeft);
  EXPECT_EQ(recordL.nBioRecords(), 2u);
  EXPECT_TRUE(recordL.deleteTemplates(ModalityAny, InstanceAny));
  EXPECT_EQ(recordL.idRecordKey(), IdRecordKey());
  EXPECT_EQ(recordL.nBioRecords(), 0u);
}

TEST_F(IdRecordTest, EqualityIsByKey) {
  IdRecordImp aL = sampleRecord();
  IdRecordImp bL;
  bL.setPersonId(7);
  bL.setTransactionId(9);
  EXPECT_TRUE(aL == bL);
  bL.setTransactionId(10);
  EXPECT_TRUE(aL != bL);
  EXPECT_LT(IdRecordKey(7, 9), IdRecordKey(7, 10));
  EXPECT_LT(IdRecordKey(6, ~0ull), IdRecordKey(7, 0));
}

TEST_F(IdRecordTest, CorruptedTopLevelChecksumIsNotChecked) {
  std::string bytesL = writeToString(sampleRecord());
  quarlen_test::addToFixed32At(bytesL, 4, 12345);
  IdRecordImp readL;
  EXPECT_EQ(readFromString(readL, bytesL), bytesL.size());
  EXPECT_EQ(readL.nBioRecords(), 3u);
}

TEST_F(IdRecordTest, ReadErrorsWithOnePrefixPerLevel) {
  const std::string bytesL = writeToString(sampleRecord());
  EXPECT_EQ(readError("QY" + bytesL.substr(2)),
            "kxxcp caught: Invalid IdRecord magic number: 'QY'.");
  EXPECT_EQ(readError(quarlen_test::flipByte(bytesL, 2, 0x01)),
            "kxxcp caught: Invalid IdRecord version: '4'.");
  // The face record comes first: its block's gallery bytes are at 28 + 14 + 30 + 15.
  EXPECT_EQ(readError(quarlen_test::flipByte(bytesL, 87, 0x01)),
            "kxxcp caught: kxxcp caught: kxxcp caught: kxxcp caught: Checksum error reading "
            "gallery data.");
  EXPECT_EQ(readError(quarlen_test::cutStream(bytesL, 0)),
            "kxxcp caught: Invalid IdRecord magic number: ''.");
  // Cut before the face record's template count: no templates against a stored checksum of 6.
  EXPECT_EQ(readError(quarlen_test::cutStream(bytesL, 40)),
            "kxxcp caught: kxxcp caught: Checksum error.");
  // A head cut before its sId size: the fields that arrived, no sId and no biometric records
  // (the stored checksum is not compared).
  IdRecordImp cutL;
  readFromString(cutL, writeToString(sampleRecord()).substr(0, 24));
  EXPECT_EQ(cutL.idRecordKey(), IdRecordKey({7, 9}));
  EXPECT_EQ(cutL.sIdSize(), 0u);
  EXPECT_EQ(cutL.nBioRecords(), 0u);
  std::string sIdL = writeToString(IdRecordImp());
  quarlen_test::setFixed16At(sIdL, 24, 0xFFFF);
  EXPECT_EQ(readError(sIdL),
            "kxxcp caught: Unexpected end of stream reading sId: '2' of '65535' bytes.");
}

TEST_F(IdRecordTest, HostileCountsFailFast) {
  // 65535 biometric records announced in a 28-byte stream.
  std::string bytesL = writeToString(IdRecordImp());
  quarlen_test::setFixed16At(bytesL, 26, 0xFFFF);
  EXPECT_EQ(readError(bytesL), "kxxcp caught: kxxcp caught: Invalid BioRecord magic number: ''.");
  // Every count at its maximum in a real record.
  bytesL = writeToString(sampleRecord());
  quarlen_test::setFixed16At(bytesL, 26, 0xFFFF);
  IdRecordImp recordL;
  EXPECT_EQ(thrownMessage([&] { readFromString(recordL, bytesL); }),
            "kxxcp caught: kxxcp caught: Invalid BioRecord magic number: ''.");
  EXPECT_EQ(recordL.nBioRecords(), 3u);
}

TEST_F(IdRecordTest, LaterBioRecordWithTheSameHashKeyReplacesTheEarlier) {
  IdRecordImp recordL;
  recordL.addTemplateBlock(block(AlgHgm), ModalityFace, InstanceFaceFrontal, {0, 1});
  recordL.addTemplateBlock(block(AlgL2f), ModalityFingerprint, InstanceFingerRightThumb, {0, 2});
  std::string bytesL = writeToString(recordL);
  // Relabel the fingerprint record (second, at 28 + 14 + 30 + 34) as the face record.
  const std::size_t secondL = 28 + 14 + 30 + 34;
  quarlen_test::setFixed16At(bytesL, secondL + 4, ModalityFace);
  quarlen_test::setFixed16At(bytesL, secondL + 6, InstanceFaceFrontal);
  IdRecordImp readL;
  readFromString(readL, bytesL);
  ASSERT_EQ(readL.nBioRecords(), 1u);
  EXPECT_EQ(keysText(readL.getTemplateKeys(ModalityAny, InstanceAny)), "(1, 11, 2, 0)\n");
}

TEST_F(IdRecordTest, FilesRoundTrip) {
  const std::string pathL = std::string(QUARLEN_TEST_BINARY_DIR) + "/idrecord_test.qx";
  const IdRecordImp recordL = sampleRecord();
  recordL.write(pathL);
  IdRecordImp readL;
  readL.read(pathL);
  EXPECT_EQ(writeToString(readL), writeToString(recordL));
  std::remove(pathL.c_str());
  EXPECT_EQ(thrownMessage([&] { readL.read(std::string("/nonexistent/dir/x.qx")); }),
            "Cannot open file : /nonexistent/dir/x.qx");
  EXPECT_EQ(thrownMessage([&] { recordL.write(std::string("/nonexistent/dir/x.qx")); }),
            "Cannot open file : /nonexistent/dir/x.qx");
}

TEST_F(IdRecordTest, ValidationTextAndInfo) {
  IdRecordImp recordL;
  recordL.setIdRecordKey({7, 9});
  recordL.setSId("ab\0cd", 5);
  recordL.addTemplateBlock(block(AlgHgm), ModalityFace, InstanceFaceFrontal, {0, 1});
  std::string textL;
  EXPECT_TRUE(recordL.validate(textL));
  const std::string headL =
      "<IdRecord\n"
      "      personId                = \"7\"\n"
      "      transactionId           = \"9\"\n"
      "      sId                     = \"ab\"\n"
      "      sIdSize                 = \"5\"\n"
      "      checksum                = \"6\"\n"
      "      nBioRecords             = \"1\"\n"
      "      validationSuccessful    = \"true\"    >\n"
      "<BioRecord\n";
  EXPECT_THAT(textL, ::testing::StartsWith(headL));
  EXPECT_THAT(textL, ::testing::EndsWith("</BioRecord>\n</IdRecord>\n"));

  std::ostringstream infoL, bioInfoL;
  recordL.info(infoL);
  recordL.getBioRecord(0)->info(bioInfoL);
  EXPECT_EQ(infoL.str(),
            "<idRecord\n"
            "\tpersonId\t   =    \"7\"\n"
            "\ttransactionId=    \"9\"\n"
            "\tsIdSize      =    \"5\"\n"
            "\t>\n" +
                bioInfoL.str() + "</idRecord>\n");
}

TEST_F(IdRecordTest, CopiesAreDeep) {
  IdRecordImp recordL = sampleRecord();
  recordL.setSId("x", 1);
  const IdRecordImp copyL(recordL);
  EXPECT_EQ(writeToString(copyL), writeToString(recordL));
  EXPECT_NE(copyL.getBioRecord(0), recordL.getBioRecord(0));
  EXPECT_NE(copyL.sIdDataPtr(), recordL.sIdDataPtr());
  IdRecordImp assignedL;
  assignedL = copyL;
  EXPECT_EQ(writeToString(assignedL), writeToString(recordL));
}

TEST_F(IdRecordTest, RandomRecordsSurviveAWriteReadWriteCycle) {
  std::mt19937 rngL(1);
  for (int i = 0; i < 200; ++i) {
    std::unique_ptr<IdRecordImp> recordL(quarlen_test::randomIdRecord(rngL));
    const std::string firstL = writeToString(*recordL);
    ASSERT_EQ(quarlen_test::rewritten<IdRecordImp>(firstL), firstL) << i;
    std::string textL;
    EXPECT_EQ(recordL->validate(textL), recordL->nBioRecords() != 0);
  }
}

}  // namespace
}  // namespace qridy
