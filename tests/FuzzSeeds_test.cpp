// The seed corpora of the fuzz targets (fuzz/seeds/fuzz_<target>/): small valid records of every
// kind, and gallery files (a FID part, an undo journal, a whole gallery). With
// QUARLEN_WRITE_SEEDS=1 the test writes them; otherwise it checks that the committed seeds are
// still what the current code writes, byte for byte, which pins the stored formats.
#include <sys/stat.h>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlock_Common.h>
#include <quarlen/TemplateMetaDataFace.h>
#include <quarlen/TemplateMetaDataFinger.h>
#include <quarlen/TemplateMetaDataIris.h>

#include "common/Coding.h"
#include "gallery/FidJournal.h"
#include "gallery/MultiPartFidFile.h"
#include "support/Environment.h"
#include "support/GalleryFiles.h"
#include "support/RecordBytes.h"
#include "support/RecordFactory.h"

namespace qridy {
namespace {

using quarlen_test::writeToString;

using Seeds = std::map<std::string, std::string>;  // file name -> bytes

// QUARLEN_TEST_DATA_DIR is <source>/tests/data, which need not exist.
std::string seedDir() {
  const std::string dataL = QUARLEN_TEST_DATA_DIR;
  return dataL.substr(0, dataL.rfind("/tests/data")) + "/fuzz/seeds/";
}

class FuzzSeedsTest : public ::testing::Test {
 protected:
  static Seeds metadataSeeds() {
    TemplateMetaDataFace faceL;
    faceL.setImageWidth(640);
    faceL.setImageHeight(480);
    faceL.setQuality(0.5f);
    TemplateMetaDataIris irisL;
    irisL.setIrisValue1(3);
    irisL.setQuality(71.0f);
    std::string fingerV1L = writeToString(TemplateMetaDataFinger());
    fingerV1L[4] = 1;
    return {{"face.md", writeToString(faceL)},
            {"iris.md", writeToString(irisL)},
            {"finger.md", writeToString(TemplateMetaDataFinger())},
            {"finger_v1.md", fingerV1L}};
  }
  static Seeds blockSeeds() {
    const unsigned char galleryL[] = {1, 2, 3};
    const unsigned char probeL[] = {10, 20, 30, 40};
    const std::string metaL = writeToString(TemplateMetaDataFinger());
    TemplateBlock_Common galleryOnlyL(AlgHgm);
    galleryOnlyL.setData(nullptr, 0, galleryL, 3, false);
    TemplateBlock_Common fullL(AlgL2f);
    fullL.setData(probeL, 4, galleryL, 3, false);
    fullL.setMetaData(reinterpret_cast<const unsigned char*>(metaL.data()), 22);
    TemplateBlock_Common symmetricL(AlgHgmFloat);
    symmetricL.setData(nullptr, 0, galleryL, 3, true);
    return {{"gallery_only.tb", writeToString(galleryOnlyL)},
            {"full.tb", writeToString(fullL)},
            {"symmetric.tb", writeToString(symmetricL)}};
  }
  // count records of a kind built by makeA from a fixed random sequence.
  template <typename Record>
  static void addRandom(Seeds& seedsA, const char* prefixA, int countA, unsigned seedA,
                        const std::function<Record*(std::mt19937&)>& makeA) {
    std::mt19937 rngL(seedA);
    for (int i = 0; i < countA; ++i) {
      std::unique_ptr<Record> recordL(makeA(rngL));
      seedsA[prefixA + std::to_string(i)] = writeToString(*recordL);
    }
  }
  static std::string withLength(const std::string& bytesA) {
    std::string outL;
    coding::appendFixed16(outL, static_cast<std::uint16_t>(bytesA.size()));
    return outL + bytesA;
  }
  // In dirA, a data part of 16-byte records (growth 4) with three blobs, the second one removed
  // again, and an index part (growth 4) naming the other two; with pendingA the data part's
  // pending-operation word says that writing record 1 was interrupted.
  static void buildGallery(const std::string& dirA, bool pendingA) {
    MultiPartFidFile dataL(dirA + "/d", 0);
    MultiPartFidFile idsL(dirA + "/i", 0);
    ASSERT_TRUE(dataL.create(16, 4) && dataL.open() && idsL.create(25, 4) && idsL.open());
    for (std::uint64_t t = 1; t <= 3; ++t) {
      const std::vector<unsigned char> blobL = quarlen_test::blobFor(t, t, 16);
      std::uint32_t checksumL = 0;
      const std::uint32_t positionL = dataL.add(blobL.data(), checksumL);
      if (t == 2) {
        dataL.remove(positionL);
        continue;
      }
      unsigned char recordL[25];
      coding::encodeFixed64(recordL, t);
      coding::encodeFixed64(recordL + 8, t);
      recordL[16] = 0;
      coding::encodeFixed32(recordL + 17, positionL);
      coding::encodeFixed32(recordL + 21, checksumL);
      std::uint32_t idsChecksumL = 0;
      idsL.add(recordL, idsChecksumL);
    }
    dataL.close();
    idsL.close();
    if (pendingA) {
      std::fstream fL(dirA + "/d", std::ios::in | std::ios::out | std::ios::binary);
      fL.seekp(40);
      fL.put('\x02');
    }
  }
  // Inputs of fuzz_fid_file: a mode byte, a read-ahead byte, then the files (see
  // fuzz/fuzz_fid_file.cpp).
  static Seeds fidFileSeeds() {
    quarlen_test::TempDir dirL;
    Seeds seedsL;
    buildGallery(dirL.path(), false);
    const std::string dataL = readFile(dirL.path() + "/d");
    const std::string idsL = readFile(dirL.path() + "/i");
    seedsL["part"] = std::string("\0\0", 2) + dataL;
    seedsL["part_buffered"] = std::string("\0\x04", 2) + dataL;
    FidJournal journalL(dirL.path(), "j");
    FidJournal::Patch headerL;
    headerL.fileName = "g_16.dat";
    headerL.bytes.assign(dataL.begin(), dataL.begin() + 88);
    FidJournal::Patch recordL = headerL;
    recordL.offset = 88 + 24;
    recordL.bytes.assign(8, 0);
    EXPECT_TRUE(journalL.begin({headerL, recordL}, false));
    const std::string activeL = readFile(journalL.path());
    seedsL["journal_active"] = std::string("\x01\0", 2) + withLength(activeL) + dataL;
    EXPECT_TRUE(journalL.finish(false));
    seedsL["gallery"] =
        std::string("\x02\0", 2) + withLength(idsL) + withLength(dataL) + readFile(journalL.path());
    FidJournal::Patch idsHeaderL = headerL;
    idsHeaderL.fileName = "g.IDs";
    idsHeaderL.bytes.assign(idsL.begin(), idsL.begin() + 88);
    EXPECT_TRUE(journalL.begin({headerL, idsHeaderL}, false));
    seedsL["gallery_journal"] = std::string("\x02\x01", 2) + withLength(idsL) + withLength(dataL) +
                                readFile(journalL.path());
    buildGallery(dirL.path(), true);
    seedsL["part_pending"] = std::string("\0\0", 2) + readFile(dirL.path() + "/d");
    return seedsL;
  }
  static std::map<std::string, Seeds> allSeeds() {
    std::map<std::string, Seeds> seedsL;
    seedsL["fuzz_fid_file"] = fidFileSeeds();
    seedsL["fuzz_metadata"] = metadataSeeds();
    seedsL["fuzz_template_block"] = blockSeeds();
    Seeds& templatesL = seedsL["fuzz_template"];
    templatesL["empty.tp"] = writeToString(TemplateImp());
    addRandom<TemplateImp>(templatesL, "random.tp", 4, 21, [](std::mt19937& rngA) {
      return quarlen_test::randomTemplate(rngA, ModalityFingerprint, 16);
    });
    Seeds& bioL = seedsL["fuzz_bio_record"];
    bioL["empty.br"] = writeToString(BioRecordImp(ModalityFingerprint, InstanceFingerRightThumb));
    addRandom<BioRecordImp>(bioL, "random.br", 4, 22, [](std::mt19937& rngA) {
      return quarlen_test::randomBioRecord(rngA, ModalityFace, InstanceFaceFrontal, 3, 16);
    });
    Seeds& idL = seedsL["fuzz_id_record"];
    IdRecordImp emptyL;
    emptyL.setIdRecordKey({7, 9});
    idL["empty.qx"] = writeToString(emptyL);
    addRandom<IdRecordImp>(idL, "random.qx", 6, 23, [](std::mt19937& rngA) {
      return quarlen_test::randomIdRecord(rngA, 3, 2, 16);
    });
    return seedsL;
  }
  static std::string readFile(const std::string& pathA) {
    std::ifstream isL(pathA, std::ios::binary);
    std::ostringstream osL;
    osL << isL.rdbuf();
    return osL.str();
  }
};

TEST_F(FuzzSeedsTest, CommittedSeedsAreTheCurrentRecords) {
  const char* writeL = std::getenv("QUARLEN_WRITE_SEEDS");
  const bool writingL = writeL != nullptr && std::string(writeL) == "1";
  for (const auto& targetL : allSeeds()) {
    const std::string dirL = seedDir() + targetL.first;
    if (writingL) ::mkdir(dirL.c_str(), 0755);
    for (const auto& seedL : targetL.second) {
      const std::string pathL = dirL + "/" + seedL.first;
      if (writingL) {
        std::ofstream(pathL, std::ios::binary) << seedL.second;
      } else {
        EXPECT_EQ(quarlen_test::hex(readFile(pathL)), quarlen_test::hex(seedL.second)) << pathL;
      }
    }
  }
}

}  // namespace
}  // namespace qridy
