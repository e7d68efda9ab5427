// The metadata file "metaData.dat": commits, removals and recovery through the unique metadata
// container, and what recovery makes of damaged files.
#include <quarlen/UniqueMetadataContainer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "support/ExceptionMatchers.h"
#include "support/RegistryConfig.h"
#include "support/ScoreConfig.h"

namespace qridy {
namespace {

using quarlen_test::CapturedErrors;
using quarlen_test::RegistryConfig;
using quarlen_test::TempDir;

constexpr unsigned kAttributes = 16;
constexpr int kSidMax = 12;

std::string sidOf(std::uint64_t tidA) {
  return "S" + std::to_string(tidA * 7919);
}

std::vector<unsigned int> attributesOf(std::uint64_t tidA) {
  std::vector<unsigned int> vL(kAttributes);
  for (unsigned iL = 0; iL < kAttributes; ++iL) vL[iL] = static_cast<unsigned>(tidA * 31 + iL);
  return vL;
}

std::string readFile(const std::string& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(inL), {});
}
void writeFile(const std::string& pathA, const std::string& bytesA) {
  std::ofstream(pathA, std::ios::binary | std::ios::trunc) << bytesA;
}

class MetadataFileTest : public ::testing::Test {
 protected:
  RegistryConfig configM{kAttributes, 1044, kSidMax, 2};
  TempDir galleryM;

  std::unique_ptr<UniqueMetadataContainer> makeContainer() {
    auto umcL = std::make_unique<UniqueMetadataContainer>(ModalityFingerprint);
    umcL->setFidFileFolder(galleryM.path() + "/meta", true);
    return umcL;
  }
  static IdentityMetadata* enrol(UniqueMetadataContainer& umcA, std::uint64_t tidA) {
    QueryLanguage qL;
    qL.setAttributes(tidA, attributesOf(tidA).data());
    const std::string sidL = sidOf(tidA);
    IdentityMetadata* mL = umcA.addIdRecordKey(IdRecordKey(tidA % 97, tidA), &qL,
                                               reinterpret_cast<const unsigned char*>(sidL.data()),
                                               sidL.size(), false);
    umcA.commitIdRecordKey(mL);
    return mL;
  }
  // A small committed gallery; returns the path of its file.
  std::string smallGallery(int countA = 5) {
    auto umcL = makeContainer();
    umcL->createFidFile();
    for (int iL = 1; iL <= countA; ++iL) enrol(*umcL, static_cast<std::uint64_t>(iL));
    return umcL->metaDataFilePath();
  }
  // Recovery into a fresh container must fail with messageA and leave it empty and usable.
  void expectRecoveryFails(const std::string& messagePrefixA) {
    auto umcL = makeContainer();
    EXPECT_KXXCP_PREFIX(umcL->recoverData(), messagePrefixA);
    EXPECT_EQ(umcL->size(), 0u);
    EXPECT_EQ(umcL->sidSize(), 0u);
    EXPECT_NE(enrol(*umcL, 1000), nullptr);
    EXPECT_EQ(umcL->size(), 1u);
  }
};

TEST_F(MetadataFileTest, ElementLayout) {
  auto umcL = makeContainer();
  umcL->createFidFile();
  EXPECT_EQ(umcL->metaDataRecordSize(), 1044u + kSidMax);
  IdentityMetadata* mL = enrol(*umcL, 0x0102);
  EXPECT_EQ(umcL->commitIdRecordKey(mL), 0u);  // written once, at position 0
  const std::string fileL = readFile(umcL->metaDataFilePath());
  const std::size_t recordL = 88 + 8;  // header, record header
  std::string elementL;
  coding::appendFixed64(elementL, 0x0102 % 97);
  coding::appendFixed64(elementL, 0x0102);
  coding::appendFixed32(elementL, 0x0102);
  for (unsigned int vL : attributesOf(0x0102)) coding::appendFixed32(elementL, vL);
  elementL += sidOf(0x0102);
  elementL.resize(elementL.size() + kSidMax - sidOf(0x0102).size(), '\0');
  coding::appendFixed16(elementL, kSidMax);
  ASSERT_GE(fileL.size(), recordL + 1044 + kSidMax);
  EXPECT_EQ(fileL.substr(recordL, elementL.size()), elementL);
  EXPECT_EQ(fileL.substr(recordL + elementL.size(), 1044 + kSidMax - elementL.size()),
            std::string(1044 + kSidMax - elementL.size(), '\0'));
  EXPECT_NE(umcL->getMetaDataFileChecksum(), 0u);
}

TEST_F(MetadataFileTest, TheFileAppearsOnlyWhenItsHeaderIsComplete) {
  // Made under a temporary name and renamed: a crash cannot leave a file cut short in its header.
  auto umcL = makeContainer();
  umcL->createFidFile();
  const std::string pathL = umcL->metaDataFilePath();
  EXPECT_GE(readFile(pathL).size(), 88u);
  EXPECT_FALSE(std::filesystem::exists(pathL + ".new"));
  EXPECT_EQ(makeContainer()->recoverData(), 0u);
}

TEST_F(MetadataFileTest, NothingWrittenWithoutPersistence) {
  UniqueMetadataContainer umcL(ModalityIris);
  IdentityMetadata* mL = enrol(umcL, 1);
  EXPECT_EQ(umcL.commitIdRecordKey(mL), 0u);
  EXPECT_EQ(mL->filePosition(), IdentityMetadata::kNotWritten);
  EXPECT_EQ(umcL.commitIdRecordKey(nullptr), 0u);
  EXPECT_EQ(umcL.recoverData(), 0u);
}

// 25 000 identities over three blocks, a third removed in random order, then read back.
TEST_F(MetadataFileTest, RecoveryRestoresEveryKeySidAndAttribute) {
  std::vector<std::uint64_t> keptL;
  {
    auto umcL = makeContainer();
    umcL->createFidFile();
    for (std::uint64_t tL = 1; tL <= 25000; ++tL) enrol(*umcL, tL);
    std::vector<std::uint64_t> tidsL(25000);
    for (std::size_t iL = 0; iL < tidsL.size(); ++iL) tidsL[iL] = iL + 1;
    std::shuffle(tidsL.begin(), tidsL.end(), std::mt19937(5));
    for (std::size_t iL = 0; iL < 8000; ++iL) {
      EXPECT_TRUE(umcL->removeIdRecordKey(IdRecordKey(tidsL[iL] % 97, tidsL[iL])));
    }
    keptL.assign(tidsL.begin() + 8000, tidsL.end());
    // Freed records are used again.
    for (std::uint64_t tL = 30001; tL <= 30100; ++tL) {
      enrol(*umcL, tL);
      keptL.push_back(tL);
    }
    EXPECT_EQ(umcL->capacity(), 3 * IdRecordKeyContainerInternels::kBlockSize);
  }
  auto umcL = makeContainer();
  ASSERT_EQ(umcL->recoverData(), keptL.size());
  EXPECT_EQ(umcL->size(), keptL.size());
  EXPECT_EQ(umcL->sidSize(), keptL.size());
  EXPECT_EQ(umcL->searchMaxTransactionID(), 30100u);
  for (std::uint64_t tL : keptL) {
    const IdentityMetadata* mL = umcL->getMetaDataByIdRecordKey(IdRecordKey(tL % 97, tL));
    ASSERT_NE(mL, nullptr) << tL;
    const std::string sidL = sidOf(tL);
    EXPECT_EQ(
        umcL->getMetaDataBySID(reinterpret_cast<const unsigned char*>(sidL.data()), sidL.size()),
        mL);
    const unsigned int* wordsL = mL->queryLanguage().attributes();
    EXPECT_EQ(wordsL[0], static_cast<unsigned>(tL));
    EXPECT_EQ(std::vector<unsigned int>(wordsL + 1, wordsL + 1 + kAttributes), attributesOf(tL));
  }
  // Removing after recovery clears the record in the file.
  umcL->removeIdRecordKey(IdRecordKey(keptL[0] % 97, keptL[0]));
  umcL->closeFidFile();
  auto againL = makeContainer();
  EXPECT_EQ(againL->recoverData(), keptL.size() - 1);
}

TEST_F(MetadataFileTest, ElementLongerThanTheRecordIsNotWritten) {
  QueryLanguage::setAttributeSize(256);  // 16 + 1028 + SID + 2 > 1044 + SID
  {
    CapturedErrors errorsL;
    auto umcL = makeContainer();
    umcL->createFidFile();
    QueryLanguage qL;
    IdentityMetadata* mL = umcL->addIdRecordKey(IdRecordKey(1, 1), &qL, nullptr, 0, false);
    umcL->commitIdRecordKey(mL);
    EXPECT_EQ(mL->filePosition(), IdentityMetadata::kNotWritten);
    ASSERT_EQ(errorsL.entriesM.size(), 1u);
    EXPECT_EQ(errorsL.entriesM[0],
              "QueryLanguage/StringIdentifer Data size is greater than configured QL_MAX+SID_MAX "
              "Size : 1058 > 1056");
  }
  QueryLanguage::setAttributeSize(255);
  auto umcL = makeContainer();
  umcL->createFidFile();
  QueryLanguage qL;
  IdentityMetadata* mL = umcL->addIdRecordKey(IdRecordKey(1, 1), &qL, nullptr, 0, false);
  EXPECT_EQ(umcL->commitIdRecordKey(mL), 0u);
  EXPECT_EQ(mL->filePosition(), 0u);
}

TEST_F(MetadataFileTest, MissingFolderIsLoggedOnCommit) {
  auto umcL = std::make_unique<UniqueMetadataContainer>(ModalityIris);
  const std::string fileL = galleryM.write("plain", "x");
  umcL->setFidFileFolder(fileL, true);  // a file where the folder should be
  CapturedErrors errorsL;
  IdentityMetadata* mL = enrol(*umcL, 1);
  EXPECT_EQ(mL->filePosition(), IdentityMetadata::kNotWritten);
  ASSERT_EQ(errorsL.entriesM.size(), 1u);
  EXPECT_EQ(errorsL.entriesM[0],
            "Cannot open MultipassFileIO file : " + fileL + "/metaData.dat, Not created!");
  EXPECT_KXXCP_MESSAGE(umcL->createFidFile(), "Cannot create MultipassFileIO file : " + fileL +
                                                  "/metaData.dat, dataSize : 1056");
}

TEST_F(MetadataFileTest, FlippedDataByteFailsTheChecksum) {
  const std::string pathL = smallGallery();
  std::string bytesL = readFile(pathL);
  bytesL[88 + 8 + 2 * (1056 + 8) + 20] ^= 0x10;  // a word of the third record
  writeFile(pathL, bytesL);
  auto umcL = makeContainer();
  try {
    umcL->recoverData();
    FAIL() << "damage not found";
  } catch (const kxxcp::Exception& eL) {
    EXPECT_EQ(eL.getFunction(), "qridy::UniqueMetadataContainer::recoverData");
    EXPECT_EQ(eL.getMessage().rfind("metaData file checksum fails checksum test for file:" + pathL +
                                        ", dataSize : 1056, calcChecksum : ",
                                    0),
              0u)
        << eL.getMessage();
    EXPECT_NE(eL.getMessage().find(", storedChecksum : "), std::string::npos);
  }
  EXPECT_EQ(umcL->size(), 0u);
  expectRecoveryFails("metaData file checksum fails checksum test for file:");
}

TEST_F(MetadataFileTest, CutAndGarbageFilesGiveTheFormatMessage) {
  const std::string pathL = smallGallery();
  const std::string bytesL = readFile(pathL);
  writeFile(pathL, bytesL.substr(0, bytesL.size() - 500));
  expectRecoveryFails("Cannot read metaData file : " + pathL + " (");
  writeFile(pathL, bytesL.substr(0, 40));
  expectRecoveryFails("Cannot read metaData file : " + pathL + " (");
  writeFile(pathL, std::string(bytesL.size(), '\x5A'));
  expectRecoveryFails("Cannot read metaData file : " + pathL + " (");
  writeFile(pathL, "");
  expectRecoveryFails("Cannot read metaData file : " + pathL + " (");
}

// A file that passes the checksum but does not fit this registry.
TEST_F(MetadataFileTest, RecordsThatDoNotFitAreRefused) {
  {
    auto umcL = makeContainer();
    umcL->createFidFile();
    enrol(*umcL, 3);
  }
  // The same key twice (two identical records, checksums consistent).
  {
    auto writerL = makeContainer();
    ASSERT_EQ(writerL->recoverData(), 1u);
    IdentityMetadata* mL = writerL->getMetaDataByIdRecordKey(IdRecordKey(3, 3));
    mL->setFilePosition(IdentityMetadata::kNotWritten);
    writerL->commitIdRecordKey(mL);
  }
  expectRecoveryFails("metaData file holds the IdRecord (3, 3) twice: ");
  // A file written with a smaller record size than an element needs now.
  const std::string pathL = galleryM.path() + "/meta/metaData.dat";
  std::filesystem::remove(pathL);
  {
    RegistryConfig smallL(2, 40, 0, 1);
    auto umcL = makeContainer();
    umcL->createFidFile();
    enrol(*umcL, 4);
  }
  kxutl::QuarlenInformation::setConfigFile(configM.dir().path() + "/quarlen.ini");
  QueryLanguage::setAttributeSize(kAttributes);
  expectRecoveryFails("metaData file record of 40 bytes is shorter than an element of 98 bytes: ");
}

TEST_F(MetadataFileTest, RecoveryRefusesKeysAlreadyRegistered) {
  smallGallery(2);
  auto umcL = makeContainer();
  enrol(*umcL, 2);
  EXPECT_KXXCP_PREFIX(umcL->recoverData(), "metaData file holds the IdRecord (2, 2) twice: ");
  EXPECT_EQ(umcL->size(), 1u);
}

}  // namespace
}  // namespace qridy

namespace qridy {
namespace {

// The seeds of the metadata file fuzz target (fuzz/seeds/fuzz_metadata_file/), made with its
// configuration: with QUARLEN_WRITE_SEEDS=1 the test writes them; otherwise the committed seeds
// must recover with the entries they were made with.
TEST(MetadataFileSeeds, RecoverWithTheFuzzConfiguration) {
  RegistryConfig configL(4, 84, 8, 2);
  const std::string dataL = QUARLEN_TEST_DATA_DIR;
  const std::string seedsL =
      dataL.substr(0, dataL.rfind("/tests/data")) + "/fuzz/seeds/fuzz_metadata_file/";
  struct Seed {
    const char* name;
    int removed;
    std::size_t entries;
  };
  for (const Seed& seedL : {Seed{"three.dat", 0, 3}, Seed{"removed.dat", 1, 2}}) {
    TempDir folderL;
    const std::string pathL = folderL.path() + "/metaData.dat";
    if (std::getenv("QUARLEN_WRITE_SEEDS") != nullptr) {
      UniqueMetadataContainer umcL(ModalityIris);
      umcL.setFidFileFolder(folderL.path(), true);
      umcL.createFidFile();
      for (std::uint64_t tL = 1; tL <= 3; ++tL) {
        QueryLanguage qL;
        const unsigned int valuesL[4] = {unsigned(tL), 2, 3, 4};
        qL.setAttributes(tL, valuesL);
        const std::string sidL = "sid" + std::to_string(tL);
        umcL.commitIdRecordKey(umcL.addIdRecordKey(
            IdRecordKey(tL, tL * 10), &qL, reinterpret_cast<const unsigned char*>(sidL.data()),
            sidL.size(), false));
      }
      if (seedL.removed != 0) umcL.removeIdRecordKey(IdRecordKey(2, 20));
      umcL.closeFidFile();
      writeFile(seedsL + seedL.name, readFile(pathL));
    }
    writeFile(pathL, readFile(seedsL + seedL.name));
    UniqueMetadataContainer umcL(ModalityIris);
    umcL.setFidFileFolder(folderL.path(), true);
    EXPECT_EQ(umcL.recoverData(), seedL.entries) << seedL.name;
    const IdentityMetadata* mL = umcL.getMetaDataByIdRecordKey(IdRecordKey(3, 30));
    ASSERT_NE(mL, nullptr);
    EXPECT_EQ(mL->queryLanguage().attributes()[1], 3u);
    EXPECT_EQ(umcL.getMetaDataBySID(reinterpret_cast<const unsigned char*>("sid3"), 4), mL);
  }
}

}  // namespace
}  // namespace qridy
