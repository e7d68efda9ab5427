#include <quarlen/BioRecordImp.h>

#include <cstring>
#include <memory>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>

#include "support/RecordBytes.h"
#include "support/RecordFactory.h"

namespace qridy {
namespace {

using quarlen_test::hex;
using quarlen_test::readFromString;
using quarlen_test::thrownMessage;
using quarlen_test::writeToString;

const unsigned char kGallery[] = {1, 2, 3};

class BioRecordTest : public ::testing::Test {
 protected:
  // A template with sample id (0, lowA) and gallery-only blocks of the given algorithms.
  static TemplateImp* makeTemplate(std::uint64_t lowA, std::initializer_list<Algorithm> algsA,
                                   const char* metaA = nullptr) {
    auto* templateL = new TemplateImp();
    templateL->setSampleId({0, lowA});
    for (Algorithm a : algsA) {
      TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(a);
      blockL->setData(nullptr, 0, kGallery, 3, false);
      templateL->addTemplateBlock(blockL);
    }
    if (metaA != nullptr) {
      templateL->setMetaData(reinterpret_cast<const unsigned char*>(metaA),
                             static_cast<unsigned int>(std::strlen(metaA)));
    }
    return templateL;
  }
  static void add(BioRecordImp& recordA, TemplateImp* templateA, Modality mA, Instance iA) {
    recordA.addTemplate(templateA, mA, iA);
    ASSERT_EQ(templateA, nullptr);
  }
  // Fingerprint/fingerRightIndex, templates 1 (l2f) and 2 (l2f, l2m).
  static std::string twoTemplateRecord() {
    BioRecordImp recordL;
    add(recordL, makeTemplate(1, {AlgL2f}), ModalityFingerprint, InstanceFingerRightIndex);
    add(recordL, makeTemplate(2, {AlgL2f, AlgL2m}), ModalityFingerprint, InstanceFingerRightIndex);
    return writeToString(recordL);
  }
  // Offsets in twoTemplateRecord: the first template, and its first block.
  static constexpr std::size_t kFirstTemplate = 14;
  static constexpr std::size_t kFirstBlock = kFirstTemplate + 30;
  static std::string readError(const std::string& bytesA) {
    BioRecordImp recordL;
    return thrownMessage([&] { readFromString(recordL, bytesA); });
  }
};

TEST_F(BioRecordTest, GoldenBytesOfAnEmptyRecord) {
  const BioRecordImp recordL(ModalityFingerprint, InstanceFingerRightThumb);
  const std::string bytesL = writeToString(recordL);
  EXPECT_EQ(hex(bytesL), "42 52 01 00 02 00 65 00 00 00 00 00 00 00");
  BioRecordImp readL;
  EXPECT_EQ(readFromString(readL, bytesL), 14u);
  EXPECT_EQ(readL.modality(), ModalityFingerprint);
  EXPECT_EQ(readL.instance(), InstanceFingerRightThumb);
  std::string textL;
  EXPECT_TRUE(readL.validate(textL));
}

TEST_F(BioRecordTest, RecordWithTemplatesRoundTrips) {
  const std::string bytesL = twoTemplateRecord();
  EXPECT_EQ(quarlen_test::fixed32At(bytesL, 8), 18u);
  EXPECT_EQ(quarlen_test::fixed16At(bytesL, 12), 2u);
  BioRecordImp readL;
  EXPECT_EQ(readFromString(readL, bytesL), bytesL.size());
  EXPECT_EQ(readL.nTemplates(), 2u);
  EXPECT_EQ(readL.getSampleIds(), (std::vector<KXuint128>{{0, 1}, {0, 2}}));
  EXPECT_EQ(writeToString(readL), bytesL);
}

TEST_F(BioRecordTest, HashKeyPutsTheInstanceInTheHighHalf) {
  const BioRecordImp recordL(ModalityFingerprint, InstanceFingerRightIndex);
  EXPECT_EQ(recordL.hashKey(), 6684674u);
  Modality mL;
  Instance iL;
  BioRecordImp::decryptHashKey(6684674u, mL, iL);
  EXPECT_EQ(mL, ModalityFingerprint);
  EXPECT_EQ(iL, InstanceFingerRightIndex);
  BioRecordImp otherL;
  otherL.decryptHashKey(BioRecordImp::calculateHashKey(ModalityIris, InstanceIrisRight));
  EXPECT_EQ(otherL.modality(), ModalityIris);
  EXPECT_EQ(otherL.instance(), InstanceIrisRight);
}

TEST_F(BioRecordTest, FirstTemplateFixesModalityAndInstance) {
  BioRecordImp recordL;
  TemplateImp* nullL = nullptr;
  EXPECT_EQ(thrownMessage([&] { recordL.addTemplate(nullL, ModalityFace, InstanceFaceFrontal); }),
            "Invalid Template (Null Pointer)");
  std::unique_ptr<TemplateImp> keptL(makeTemplate(1, {AlgHgm}));
  TemplateImp* rawL = keptL.get();
  EXPECT_EQ(thrownMessage([&] { recordL.addTemplate(rawL, ModalityUnknown, InstanceFaceFrontal); }),
            "Invalid Template (modality unknown)");
  EXPECT_EQ(rawL, keptL.get());  // the caller keeps it
  add(recordL, makeTemplate(1, {AlgHgm}), ModalityFace, InstanceFaceFrontal);
  EXPECT_EQ(recordL.modality(), ModalityFace);
  EXPECT_EQ(recordL.instance(), InstanceFaceFrontal);
  EXPECT_EQ(
      thrownMessage([&] { recordL.addTemplate(rawL, ModalityFingerprint, InstanceFaceFrontal); }),
      "Invalid Template (modality invalid)");
  EXPECT_EQ(thrownMessage([&] { recordL.addTemplate(rawL, ModalityFace, InstanceUnknown); }),
            "Invalid Template (instance invalid)");
  EXPECT_EQ(recordL.nTemplates(), 1u);
  TemplateImp* ownedL = recordL.getTemplateByIndex(0, true);
  EXPECT_EQ(thrownMessage([&] { recordL.addTemplate(ownedL, ModalityFace, InstanceFaceFrontal); }),
            "Invalid Template (already in this BioRecord)");
}

TEST_F(BioRecordTest, EqualSampleIdsMerge) {
  BioRecordImp recordL;
  add(recordL, makeTemplate(5, {AlgHgm}), ModalityFace, InstanceFaceFrontal);
  add(recordL, makeTemplate(6, {AlgHgm}), ModalityFace, InstanceFaceFrontal);
  add(recordL, makeTemplate(5, {AlgLfa, AlgHgmFloat}, "meta"), ModalityFace, InstanceFaceFrontal);
  ASSERT_EQ(recordL.nTemplates(), 2u);
  const TemplateImp* mergedL = recordL.getTemplateById({0, 5});
  EXPECT_EQ(mergedL->numberOfTemplateBlocks(), 3u);
  ASSERT_EQ(mergedL->metaDataSize(), 4u);
  // Present metadata wins over the metadata of a merged template, with a warning.
  std::vector<std::string> warningsL;
  const kxntc::Sink previousL = kxntc::setSink([&](kxntc::Level levelA, const std::string& textA) {
    if (levelA == kxntc::Level::warning) warningsL.push_back(textA);
  });
  add(recordL, makeTemplate(5, {AlgVfa}, "other!"), ModalityFace, InstanceFaceFrontal);
  kxntc::setSink(previousL);
  EXPECT_EQ(warningsL,
            std::vector<std::string>{"Merging of template meta data not possible. Meta "
                                     "data information of second template will be lost."});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mergedL->metaDataPtr()), 4), "meta");
  EXPECT_EQ(mergedL->numberOfTemplateBlocks(), 4u);
}

TEST_F(BioRecordTest, MergeClashKeepsBlocksMergedBeforeIt) {
  BioRecordImp recordL;
  add(recordL, makeTemplate(5, {AlgLfa}), ModalityFace, InstanceFaceFrontal);
  std::unique_ptr<TemplateImp> clashL(makeTemplate(5, {AlgHgm, AlgLfa, AlgVfa2}));
  TemplateImp* rawL = clashL.get();
  EXPECT_EQ(thrownMessage([&] { recordL.addTemplate(rawL, ModalityFace, InstanceFaceFrontal); }),
            "The Template with the given id and templateBlocks of the same algorithm, exist in "
            "this BioRecord.");
  EXPECT_EQ(rawL, clashL.get());
  const TemplateImp* presentL = recordL.getTemplateById({0, 5});
  EXPECT_TRUE(presentL->checkExistence(AlgHgm));
  EXPECT_FALSE(presentL->checkExistence(AlgVfa2));
}

TEST_F(BioRecordTest, LookupsByIdAndIndex) {
  BioRecordImp recordL;
  readFromString(recordL, twoTemplateRecord());
  const BioRecordImp& constL = recordL;
  EXPECT_TRUE(recordL.hasTemplateWithId({0, 2}));
  EXPECT_FALSE(recordL.hasTemplateWithId({2, 0}));
  EXPECT_EQ(recordL.getTemplateById({0, 2})->numberOfTemplateBlocks(), 2u);
  EXPECT_EQ(thrownMessage([&] { recordL.getTemplateById({6, 5}); }), "Id invalid");
  EXPECT_EQ(thrownMessage([&] {
              constL.getTemplateById({6, 5});
            }),
            "Id invalid (fingerprint/fingerRightIndex/5,6)");
  EXPECT_EQ(recordL.getTemplateByIndex(1, true)->sampleId(), (KXuint128{0, 2}));
  EXPECT_EQ(recordL.getTemplateByIndex(2, false), nullptr);
  EXPECT_EQ(constL.getTemplateByIndex(2, false), nullptr);
  EXPECT_EQ(thrownMessage([&] { recordL.getTemplateByIndex(2, true); }), "Index invalid");
  EXPECT_EQ(thrownMessage([&] { constL.getTemplateByIndex(2, true); }), "Index invalid");
}

TEST_F(BioRecordTest, DeletionKeepsTheOrderAndTheKey) {
  BioRecordImp recordL;
  for (std::uint64_t id : {1, 2, 3}) {
    add(recordL, makeTemplate(id, {AlgHgm}), ModalityFace, InstanceFaceFrontal);
  }
  EXPECT_TRUE(recordL.deleteTemplate({0, 2}));
  EXPECT_FALSE(recordL.deleteTemplate({0, 2}));
  EXPECT_EQ(recordL.getSampleIds(), (std::vector<KXuint128>{{0, 1}, {0, 3}}));
  EXPECT_EQ(recordL.deleteAllTemplates(), 2u);
  EXPECT_EQ(recordL.hashKey(), BioRecordImp::calculateHashKey(ModalityFace, InstanceFaceFrontal));
}

TEST_F(BioRecordTest, ReadErrors) {
  const std::string bytesL = twoTemplateRecord();
  EXPECT_EQ(readError(quarlen_test::flipByte(bytesL, 1, 0x0A)),
            "kxxcp caught: Invalid BioRecord magic number: 'BX'.");
  EXPECT_EQ(readError(quarlen_test::flipByte(bytesL, 2, 0x03)),
            "kxxcp caught: Invalid BioRecord version: '2'.");
  std::string badL = bytesL;
  quarlen_test::addToFixed32At(badL, 8, -1);
  EXPECT_EQ(readError(badL), "kxxcp caught: Checksum error.");
  EXPECT_EQ(readError(quarlen_test::flipByte(bytesL, kFirstBlock + 15, 0x01)),
            "kxxcp caught: kxxcp caught: kxxcp caught: Checksum error reading gallery data.");
  badL = bytesL;
  quarlen_test::addToFixed32At(badL, kFirstTemplate + 4, 1);
  EXPECT_EQ(readError(badL), "kxxcp caught: kxxcp caught: Checksum error reading template.");
  EXPECT_EQ(readError(quarlen_test::cutStream(bytesL, 17)),
            "kxxcp caught: kxxcp caught: Invalid template version: '0'.");
  // Cut inside the first template's head: it reads as an empty template, the second is missing.
  EXPECT_EQ(readError(quarlen_test::cutStream(bytesL, 20)),
            "kxxcp caught: kxxcp caught: Invalid template magic number: ''.");
}

TEST_F(BioRecordTest, HostileTemplateCountStopsAtTheEndOfTheStream) {
  std::string bytesL = twoTemplateRecord();
  quarlen_test::setFixed16At(bytesL, 12, 0xFFFF);
  BioRecordImp recordL;
  EXPECT_EQ(thrownMessage([&] { readFromString(recordL, bytesL); }),
            "kxxcp caught: kxxcp caught: Invalid template magic number: ''.");
  EXPECT_EQ(recordL.nTemplates(), 2u);  // the templates read before the failure stay
}

TEST_F(BioRecordTest, ReadAppendsWithoutMergingButCopiesMerge) {
  // Two stored templates with one sample id and different algorithms.
  std::string bytesL = twoTemplateRecord();
  quarlen_test::setFixed64At(bytesL, kFirstTemplate + 8, 2);
  quarlen_test::setFixed16At(bytesL, kFirstBlock + 4, AlgL2fi);
  BioRecordImp recordL;
  readFromString(recordL, bytesL);
  EXPECT_EQ(recordL.nTemplates(), 2u);
  BioRecordImp copyL(recordL);
  ASSERT_EQ(copyL.nTemplates(), 1u);
  EXPECT_EQ(copyL.getTemplateByIndex(0, true)->numberOfTemplateBlocks(), 3u);
  EXPECT_NE(copyL.getTemplateByIndex(0, true), recordL.getTemplateByIndex(0, true));
  BioRecordImp assignedL(ModalityFace, InstanceFaceFrontal);
  assignedL = recordL;
  EXPECT_EQ(assignedL.modality(), ModalityFingerprint);
  EXPECT_EQ(assignedL.nTemplates(), 1u);
}

TEST_F(BioRecordTest, ValidationTextAndInfo) {
  BioRecordImp recordL;
  add(recordL, makeTemplate(1, {AlgHgm}), ModalityFace, InstanceFaceFrontal);
  std::string textL;
  EXPECT_TRUE(recordL.validate(textL));
  const std::string headL =
      "<BioRecord\n"
      "      modality                = \"face (1)\"\n"
      "      instance                = \"faceFrontal (11)\"\n"
      "      checksum                = \"6\"\n"
      "      nTemplates              = \"1\"\n"
      "      validationSuccessful    = \"true\"\t>\n"
      "<Template\n";
  EXPECT_THAT(textL, ::testing::StartsWith(headL));
  EXPECT_THAT(textL, ::testing::EndsWith("</Template>\n</BioRecord>\n"));

  std::ostringstream infoL;
  recordL.info(infoL);
  std::string templateTextL;
  recordL.getTemplateByIndex(0, true)->validate(templateTextL);
  EXPECT_EQ(infoL.str(),
            "\t<bioRecord\n"
            "\t\tmodality\t=    \"face\"\n"
            "\t\tinstance\t=    \"faceFrontal\"\n"
            "\t\t>\n" +
                templateTextL + "\t</bioRecord>\n");
}

TEST_F(BioRecordTest, RandomRecordsSurviveAWriteReadWriteCycle) {
  std::mt19937 rngL(5);
  for (int i = 0; i < 40; ++i) {
    std::unique_ptr<BioRecordImp> recordL(
        quarlen_test::randomBioRecord(rngL, ModalityIris, InstanceIrisLeft, 4));
    const std::string firstL = writeToString(*recordL);
    ASSERT_EQ(quarlen_test::rewritten<BioRecordImp>(firstL), firstL) << i;
    std::string textL;
    EXPECT_TRUE(recordL->validate(textL));
  }
}

}  // namespace
}  // namespace qridy
