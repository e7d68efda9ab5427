#include <quarlen/FileManager.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "gallery/FidJournal.h"
#include "gallery/MultiPartFidFile.h"
#include "gallery/RecordBlobView.h"
#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/FaultyFiles.h"
#include "support/GalleryFiles.h"

namespace qridy {
namespace {

using quarlen_test::blobFor;
using quarlen_test::FaultyFiles;
using quarlen_test::MetadataPool;
using quarlen_test::TempDir;
using Bytes = std::vector<unsigned char>;

// Collects the notifications sent while it exists.
class NotificationLog {
 public:
  NotificationLog() {
    previousM = kxntc::setSink([this](kxntc::Level levelA, const std::string& textA) {
      if (levelA == kxntc::Level::error) errors.push_back(textA);
      if (levelA == kxntc::Level::warning) warnings.push_back(textA);
    });
  }
  ~NotificationLog() { kxntc::setSink(previousM); }
  std::vector<std::string> errors;
  std::vector<std::string> warnings;

 private:
  kxntc::Sink previousM;
};

class MultipassFileIOTest : public ::testing::Test {
 protected:
  std::unique_ptr<MultipassFileIO> gallery(std::vector<unsigned int> sizesA = {1200, 4000}) {
    return std::make_unique<MultipassFileIO>(dirM.path(), 100, "g", sizesA);
  }
  std::unique_ptr<MultipassFileIO> created(std::vector<unsigned int> sizesA = {1200, 4000}) {
    auto gL = gallery(sizesA);
    gL->create(0, 0);
    return gL;
  }
  bool addBlob(MultipassFileIO& gA, std::uint64_t pA, std::uint64_t tA, unsigned int sizeA) {
    const Bytes bL = blobFor(pA, tA, sizeA);
    return gA.add(poolM.get(pA, tA), bL.data(), sizeA);
  }
  Bytes readBlob(MultipassFileIO& gA, std::uint64_t pA, std::uint64_t tA) {
    Bytes bL(gA.getDataSize());
    if (!gA.read(IdRecordKey(pA, tA), bL.data(), true)) return {};
    return bL;
  }
  static Bytes padded(Bytes bA, std::size_t sizeA) {
    bA.resize(sizeA, 0);
    return bA;
  }
  std::string path(const std::string& nameA) const { return dirM.path() + "/g/" + nameA; }

  TempDir dirM;
  MetadataPool poolM;
};

TEST_F(MultipassFileIOTest, NamesTheFilesInTheGalleryDirectory) {
  auto gL = gallery({4000, 1200, 1200});
  EXPECT_TRUE(std::filesystem::is_directory(dirM.path() + "/g"));
  EXPECT_EQ(gL->indexFileName(), path("g.IDs"));
  EXPECT_EQ(gL->dataFileName(0), path("g_4000.dat"));
  EXPECT_EQ(gL->dataFileName(2), path("g_1200.dat"));
  EXPECT_EQ(gL->getDataSize(), 4000u);
  EXPECT_FALSE(gL->isOpen());
  // A trailing separator of the base directory changes nothing.
  MultipassFileIO otherL(dirM.path() + "/", 0, "g", {16});
  EXPECT_EQ(otherL.indexFileName(), path("g.IDs"));
}

TEST_F(MultipassFileIOTest, SizesComeFromTheConfigurationWhenNoneAreGiven) {
  TempDir configL;
  kxutl::QuarlenInformation::setConfigFile(
      configL.write("q.ini",
                    "[FID_FILE_TEMPLATE_SIZE]\nSIZES = 64, 32\n[TEMPLATE_MATCHING_MULTIPASS]\n"
                    "loadingCacheSize = 7\n[FID_DATA_CACHING]\ncacheBufferSize = 4096\n"));
  MultipassFileIO fromConfigL(dirM.path(), 0, "c");
  MultipassFileIO emptyListL(dirM.path(), 0, "e", {});
  kxutl::QuarlenInformation::setConfigFile(configL.write("empty.ini", ""));
  EXPECT_KXXCP_MESSAGE(MultipassFileIO(dirM.path(), 0, "n"),
                       "Failed to create MultipassFileIO object. ... kxxcp exc caught: No data "
                       "sizes: section 'FID_FILE_TEMPLATE_SIZE', key 'SIZES'.");
  MultipassFileIO defaultsL(dirM.path(), 0, "d", {16});
  kxutl::QuarlenInformation::setConfigFile("");
  EXPECT_EQ(fromConfigL.dataFileCount(), 2u);
  EXPECT_EQ(fromConfigL.dataFileSize(0), 64u);
  EXPECT_EQ(fromConfigL.getDataSize(), 64u);
  EXPECT_EQ(fromConfigL.writeCacheSize(), 7u);
  EXPECT_EQ(emptyListL.dataFileCount(), 2u);
  EXPECT_EQ(defaultsL.writeCacheSize(), 1000u);
}

TEST_F(MultipassFileIOTest, ConstructionFailuresAreWrapped) {
  EXPECT_KXXCP_MESSAGE(MultipassFileIO(dirM.path(), 0, "a/b", {16}),
                       "Failed to create MultipassFileIO object. ... kxxcp exc caught: Invalid "
                       "gallery name: 'a/b'.");
  EXPECT_KXXCP_MESSAGE(MultipassFileIO(dirM.path(), 0, "g", std::vector<unsigned int>(257, 16)),
                       "Failed to create MultipassFileIO object. ... kxxcp exc caught: Too many "
                       "data sizes: '257' (at most 256).");
  EXPECT_KXXCP_MESSAGE(MultipassFileIO(dirM.path(), 0, "g", {134217721}),
                       "Failed to create MultipassFileIO object. ... kxxcp exc caught: Data size "
                       "too large: '134217721'.");
  dirM.write("file", "x");
  EXPECT_KXXCP_PREFIX(MultipassFileIO(dirM.path() + "/file", 0, "g", {16}),
                      "Failed to create MultipassFileIO object. ... kxxcp exc caught: Cannot "
                      "create folder '");
  try {
    MultipassFileIO(dirM.path(), 0, "", {16});
    ADD_FAILURE();
  } catch (const kxxcp::Exception& eL) {
    EXPECT_EQ(eL.getFunction(), "qridy::MultipassFileIO::construct");
  }
}

TEST_F(MultipassFileIOTest, BlobsGoToTheSmallestDataFileThatHoldsThem) {
  auto gL = created();
  gL->setWriteCacheSize(10);
  EXPECT_EQ(gL->getFidFile(1000), 0u);
  EXPECT_EQ(gL->getFidFile(1200), 0u);
  EXPECT_EQ(gL->getFidFile(1201), 1u);
  EXPECT_TRUE(addBlob(*gL, 1, 1, 1000));
  EXPECT_TRUE(addBlob(*gL, 1, 2, 3000));
  EXPECT_KXXCP_MESSAGE(addBlob(*gL, 1, 3, 5000), "Cannot find a fidfile for datasize: 5000");
  try {
    gL->getFidFile(5000);
  } catch (const kxxcp::Exception& eL) {
    EXPECT_EQ(eL.getFunction(), "qridy::MultipassFileIO::getFidFile");
  }
  EXPECT_EQ(gL->cachedBlobs(), 2u);
  ASSERT_TRUE(gL->writeCacheToDisk());
  const auto& indexL = gL->getIdRecKeyToBlobOffsetMap();
  ASSERT_EQ(indexL.size(), 2u);
  EXPECT_EQ(indexL[0].dataFileIndex, 0);
  EXPECT_EQ(indexL[1].dataFileIndex, 1);
  EXPECT_EQ(readBlob(*gL, 1, 1), padded(blobFor(1, 1, 1000), 4000));
  EXPECT_EQ(readBlob(*gL, 1, 2), padded(blobFor(1, 2, 3000), 4000));
  // Equal sizes: the first of them.
  auto twinsL = std::make_unique<MultipassFileIO>(dirM.path(), 0, "t", std::vector<unsigned>{8, 8});
  EXPECT_EQ(twinsL->getFidFile(8), 0u);
}

TEST_F(MultipassFileIOTest, TheCacheIsWrittenWhenItIsFull) {
  auto gL = created({64});
  gL->setWriteCacheSize(3);
  EXPECT_TRUE(addBlob(*gL, 5, 1, 64));
  EXPECT_TRUE(addBlob(*gL, 5, 2, 64));
  EXPECT_EQ(gL->cachedBlobs(), 2u);
  EXPECT_TRUE(gL->getIdRecKeyToBlobOffsetMap().empty());
  EXPECT_TRUE(readBlob(*gL, 5, 1).empty());  // not yet in the files
  EXPECT_TRUE(addBlob(*gL, 5, 3, 64));
  EXPECT_EQ(gL->cachedBlobs(), 0u);
  EXPECT_EQ(gL->getIdRecKeyToBlobOffsetMap().size(), 3u);
  EXPECT_EQ(readBlob(*gL, 5, 2), blobFor(5, 2, 64));
  EXPECT_TRUE(gL->writeCacheToDisk());  // an empty cache writes nothing
  EXPECT_FALSE(gL->add(poolM.get(5, 4), nullptr, 10));
  EXPECT_TRUE(gL->add(poolM.get(5, 4), nullptr, 0));  // an empty blob: all zeros
  ASSERT_TRUE(gL->writeCacheToDisk());
  EXPECT_EQ(readBlob(*gL, 5, 4), Bytes(64, 0));
}

TEST_F(MultipassFileIOTest, AReopenedGalleryReadsItsIndexBack) {
  {
    auto gL = created();
    gL->setWriteCacheSize(1000);
    for (std::uint64_t t = 0; t < 50; ++t) addBlob(*gL, t % 7, t, t % 2 == 0 ? 900 : 3500);
    ASSERT_TRUE(gL->writeCacheToDisk());
  }
  auto gL = gallery();
  gL->readIdRecKeyToBlobOffsetMap("g");
  const auto& indexL = gL->getIdRecKeyToBlobOffsetMap();
  ASSERT_EQ(indexL.size(), 50u);
  EXPECT_TRUE(std::is_sorted(indexL.begin(), indexL.end(),
                             [](const auto& aA, const auto& bA) { return aA.key < bA.key; }));
  for (std::uint64_t t = 0; t < 50; ++t) {
    EXPECT_EQ(readBlob(*gL, t % 7, t), padded(blobFor(t % 7, t, t % 2 == 0 ? 900 : 3500), 4000))
        << t;
  }
  const auto personL = gL->searchPid(3);
  ASSERT_EQ(personL.size(), 7u);
  EXPECT_EQ(personL.front().key, IdRecordKey(3, 3));
  EXPECT_EQ(personL.back().key, IdRecordKey(3, 45));
  EXPECT_TRUE(gL->searchPid(99).empty());
}

TEST_F(MultipassFileIOTest, MetadataIsResolvedThroughTheSource) {
  {
    auto gL = created({32});
    addBlob(*gL, 1, 1, 32);
    addBlob(*gL, 2, 2, 32);
    ASSERT_TRUE(gL->writeCacheToDisk());
  }
  struct Source : GalleryMetadataSource {
    IdentityMetadata knownM{IdRecordKey(1, 1)};
    IdentityMetadata* getMetaDataByIdRecordKey(const IdRecordKey& keyA) override {
      return keyA == knownM.getIdRecordKey() ? &knownM : nullptr;
    }
  } sourceL;
  NotificationLog logL;
  auto gL = gallery({32});
  gL->readIdRecKeyToBlobOffsetMap("label", sourceL);
  ASSERT_EQ(gL->getIdRecKeyToBlobOffsetMap().size(), 2u);
  EXPECT_EQ(gL->getIdRecKeyToBlobOffsetMap()[0].metadata, &sourceL.knownM);
  EXPECT_EQ(gL->getIdRecKeyToBlobOffsetMap()[1].metadata, nullptr);
  ASSERT_EQ(logL.warnings.size(), 1u);
  EXPECT_EQ(logL.warnings[0],
            "readIdRecKeyToBlobOffsetMap - 1 stored identities are not in the metadata container "
            "(label)");
}

TEST_F(MultipassFileIOTest, ClearRemovesTheBlobAndItsIndexRecord) {
  auto gL = created({64});
  for (std::uint64_t t = 0; t < 5; ++t) addBlob(*gL, 1, t, 64);
  ASSERT_TRUE(gL->writeCacheToDisk());
  EXPECT_TRUE(gL->clear(IdRecordKey(1, 2)));
  EXPECT_TRUE(gL->clear(IdRecordKey(1, 2)));  // no longer stored
  EXPECT_TRUE(gL->clear(IdRecordKey(9, 9)));
  EXPECT_TRUE(readBlob(*gL, 1, 2).empty());
  EXPECT_EQ(readBlob(*gL, 1, 3), blobFor(1, 3, 64));
  EXPECT_EQ(gL->getIdRecKeyToBlobOffsetMap().size(), 4u);
  // The freed records are used again.
  addBlob(*gL, 2, 7, 64);
  ASSERT_TRUE(gL->writeCacheToDisk());
  std::string reportL;
  EXPECT_TRUE(gL->checkStatusIntensive(reportL, nullptr)) << reportL;
  gL->close();
  auto reopenedL = gallery({64});
  reopenedL->readIdRecKeyToBlobOffsetMap("g");
  EXPECT_EQ(reopenedL->getIdRecKeyToBlobOffsetMap().size(), 5u);
  EXPECT_TRUE(readBlob(*reopenedL, 1, 2).empty());
  EXPECT_EQ(readBlob(*reopenedL, 2, 7), blobFor(2, 7, 64));
}

TEST_F(MultipassFileIOTest, OpenFailuresNameTheFile) {
  NotificationLog logL;
  auto gL = gallery();
  EXPECT_KXXCP_MESSAGE(gL->open(),
                       "Cannot open MultipassFileIO file : " + path("g.IDs") + ", Not created!");
  ASSERT_EQ(logL.errors.size(), 1u);
  EXPECT_EQ(logL.errors[0],
            "Cannot open MultipassFileIO file : " + path("g.IDs") + ", Not created!");
  gL->create(0, 0);
  gL->close();
  std::filesystem::remove(path("g_4000.dat"));
  EXPECT_KXXCP_MESSAGE(gL->open(), "Cannot open MultipassFileIO file : " + path("g_4000.dat"));
  EXPECT_FALSE(gL->isOpen());
  // A data file of another record size is not this gallery's.
  MultiPartFidFile otherL(path("g_4000.dat"), 0);
  ASSERT_TRUE(otherL.create(3000, 1000));
  EXPECT_KXXCP_MESSAGE(gL->open(), "Cannot open MultipassFileIO file : " + path("g_4000.dat"));
}

TEST_F(MultipassFileIOTest, AGalleryWithoutJournalGetsOneWhenOpened) {
  {
    auto gL = created({16});
    addBlob(*gL, 1, 1, 16);
    ASSERT_TRUE(gL->writeCacheToDisk());
  }
  std::filesystem::remove(path("g.journal"));
  auto gL = gallery({16});
  gL->readIdRecKeyToBlobOffsetMap("g");
  EXPECT_TRUE(std::filesystem::exists(path("g.journal")));
  EXPECT_EQ(readBlob(*gL, 1, 1), blobFor(1, 1, 16));
}

TEST_F(MultipassFileIOTest, ASizeGivenTwiceSharesOneFile) {
  auto gL = created({16, 32, 16});
  EXPECT_EQ(gL->dataFileName(2), gL->dataFileName(0));
  addBlob(*gL, 1, 1, 10);
  addBlob(*gL, 1, 2, 20);
  ASSERT_TRUE(gL->writeCacheToDisk());
  EXPECT_EQ(gL->getIdRecKeyToBlobOffsetMap()[0].dataFileIndex, 0);
  std::string reportL;
  EXPECT_TRUE(gL->checkStatusIntensive(reportL, nullptr)) << reportL;
  EXPECT_EQ(reportL.find("<dataFile2"), std::string::npos);
  const std::uint16_t sumL = fid::addFileChecksum(
      fid::addRecordChecksum(0, fid::recordChecksum(padded(blobFor(1, 1, 10), 16).data(), 16)),
      fid::addRecordChecksum(0, fid::recordChecksum(padded(blobFor(1, 2, 20), 32).data(), 32)));
  EXPECT_EQ(gL->getMultiFileChecksum(), sumL);
  gL->close();
  auto reopenedL = gallery({16, 32, 16});
  reopenedL->readIdRecKeyToBlobOffsetMap("g");
  EXPECT_EQ(readBlob(*reopenedL, 1, 1), padded(blobFor(1, 1, 10), 32));
}

TEST_F(MultipassFileIOTest, CreateFailureNamesTheFileAndSize) {
  auto gL = gallery();
  // Opens: the index file, the look for a left-over part 1 of it, then the first data file.
  FaultyFiles faultL(FaultyFiles::Open, 3);
  EXPECT_KXXCP_MESSAGE(gL->create(0, 0), "Cannot create MultipassFileIO file : " +
                                             path("g_1200.dat") + ", dataSize : 1200");
}

TEST_F(MultipassFileIOTest, FastCheckReport) {
  auto gL = created({16});
  addBlob(*gL, 1, 1, 16);
  ASSERT_TRUE(gL->writeCacheToDisk());
  const std::uint32_t recordL = fid::recordChecksum(blobFor(1, 1, 16).data(), 16);
  const std::uint16_t dataSumL = fid::addRecordChecksum(0, recordL);
  std::string reportL;
  EXPECT_TRUE(gL->checkStatusFast(reportL, nullptr));
  const std::string idsL = std::to_string(gL->getIdRecKeyToBlobOffsetMap()[0].indexPosition);
  std::ostringstream expectedL;
  unsigned char indexRecordL[25];
  coding::encodeFixed64(indexRecordL, 1);
  coding::encodeFixed64(indexRecordL + 8, 1);
  indexRecordL[16] = 0;
  coding::encodeFixed32(indexRecordL + 17, 0);
  coding::encodeFixed32(indexRecordL + 21, recordL);
  const std::uint16_t idsSumL = fid::addRecordChecksum(0, fid::recordChecksum(indexRecordL, 25));
  expectedL << "<idFile path=\"" << path("g.IDs") << "\">\n"
            << "     <checksum inFile=\"" << idsSumL << "\"\n"
            << "               calculated=\"" << idsSumL << "\"\n"
            << "               status=\"valid\"/>\n"
            << "</idFile>\n"
            << "<dataFile0 path=\"" << path("g_16.dat") << "\">\n"
            << "     <checksum inFile=\"" << dataSumL << "\"\n"
            << "               calculated=\"" << dataSumL << "\"\n"
            << "               status=\"valid\"/>\n"
            << "</dataFile0>\n";
  EXPECT_EQ(reportL, expectedL.str());
  EXPECT_EQ(gL->getMultiFileChecksum(), dataSumL);
  gL->close();

  // A damaged record checksum makes the data file invalid.
  {
    std::fstream fL(path("g_16.dat"), std::ios::in | std::ios::out | std::ios::binary);
    fL.seekp(88 + 4);
    fL.put(static_cast<char>(recordL + 1));
  }
  reportL.clear();
  EXPECT_FALSE(gL->checkStatusFast(reportL, nullptr));
  EXPECT_NE(reportL.find("status=\"invalid\"/>\n</dataFile0>\n"), std::string::npos) << reportL;

  // An index file that cannot be opened.
  gL->close();
  std::filesystem::remove(path("g.IDs"));
  reportL = "before\n";
  NotificationLog logL;
  EXPECT_FALSE(gL->checkStatusFast(reportL, nullptr));
  EXPECT_EQ(reportL,
            "before\n<error     reason=\"cannot open Id FID file\"\n           filePath=\"" +
                path("g.IDs") + "\"/>\n");
}

TEST_F(MultipassFileIOTest, CheckSumsOfBothZerosAreEqual) {
  auto gL = created({16});
  addBlob(*gL, 1, 1, 16);
  ASSERT_TRUE(gL->writeCacheToDisk());
  ASSERT_TRUE(gL->clear(IdRecordKey(1, 1)));
  std::string reportL;
  EXPECT_TRUE(gL->checkStatusFast(reportL, nullptr)) << reportL;
  // Removing a record leaves the ones'-complement zero 0xFFFF (or 0) stored, 0 computed.
  EXPECT_NE(reportL.find("calculated=\"0\""), std::string::npos) << reportL;
}

TEST_F(MultipassFileIOTest, DumpGoldenBytes) {
  auto gL = created({16, 32});
  addBlob(*gL, 2, 9, 20);
  addBlob(*gL, 1, 0x0102030405060708ull, 16);
  ASSERT_TRUE(gL->writeCacheToDisk());
  std::ostringstream osL;
  gL->dumpBinary(osL);
  std::string expectedL = "MFBD";
  coding::appendFixed32(expectedL, 2);
  coding::appendFixed64(expectedL, 1);
  coding::appendFixed64(expectedL, 0x0102030405060708ull);
  expectedL += '\0';
  coding::appendFixed32(expectedL, 0);  // first record of data file 0
  coding::appendFixed32(expectedL, 1);  // second index record
  coding::appendFixed64(expectedL, 2);
  coding::appendFixed64(expectedL, 9);
  expectedL += '\1';
  coding::appendFixed32(expectedL, 0);
  coding::appendFixed32(expectedL, 0);
  EXPECT_EQ(osL.str(), expectedL);
  std::ostringstream shortL;
  gL->dumpShortBinary(shortL);
  EXPECT_EQ(shortL.str(), "MFSD" + expectedL.substr(4));
}

TEST_F(MultipassFileIOTest, FileLimitMovesRecordsToTheNextPart) {
  auto gL = created({16});
  EXPECT_EQ(gL->getFileLimit(), 0x8000000 / 24);
  gL->setFileLimit(2);
  EXPECT_EQ(gL->getFileLimit(), 2);
  for (std::uint64_t t = 0; t < 5; ++t) addBlob(*gL, 1, t, 16);
  ASSERT_TRUE(gL->writeCacheToDisk());
  EXPECT_TRUE(std::filesystem::exists(path("g_16.dat.0001")));
  EXPECT_TRUE(std::filesystem::exists(path("g_16.dat.0002")));
  EXPECT_FALSE(std::filesystem::exists(path("g.IDs.0001")));
  gL->close();
  EXPECT_EQ(gL->getFileLimit(), 2);
  gL->readIdRecKeyToBlobOffsetMap("g");  // opens again; the limit stays in force
  EXPECT_EQ(gL->getFileLimit(), 2);
  for (std::uint64_t t = 0; t < 5; ++t) EXPECT_EQ(readBlob(*gL, 1, t), blobFor(1, t, 16));
  gL->setFileLimit(-4);
  EXPECT_EQ(gL->getFileLimit(), 0x8000000 / 24);
}

TEST_F(MultipassFileIOTest, ReadVerifiesTheRecordChecksum) {
  auto gL = created({16});
  addBlob(*gL, 1, 1, 16);
  ASSERT_TRUE(gL->writeCacheToDisk());
  {
    std::fstream fL(path("g_16.dat"), std::ios::in | std::ios::out | std::ios::binary);
    fL.seekp(88 + 8 + 3);
    fL.put('\x7F');
  }
  Bytes bL(16);
  EXPECT_TRUE(gL->read(IdRecordKey(1, 1), bL.data(), false));
  EXPECT_FALSE(gL->read(IdRecordKey(1, 1), bL.data(), true));
  EXPECT_FALSE(gL->read(IdRecordKey(1, 2), bL.data(), false));
  EXPECT_FALSE(gL->read(IdRecordKey(1, 1), nullptr, false));
  std::string reportL;
  EXPECT_FALSE(gL->checkStatusIntensive(reportL, nullptr));
  EXPECT_NE(reportL.find("<corruptDataFidRecord pid=\"1\" trid=\"1\" dataFile=\"0\" "
                         "position=\"0\" reason=\"checksum\"/>"),
            std::string::npos)
      << reportL;
}

// --- record blobs ---------------------------------------------------------------------------

struct BlobEntry {
  BioMetricTriple triple;
  KXuint128 sampleId;
  std::string galleryBytes;
};

std::string recordBlob(const std::vector<BlobEntry>& entriesA) {
  std::ostringstream osL;
  coding::putFixed32(osL, static_cast<std::uint32_t>(entriesA.size()));
  for (const BlobEntry& eL : entriesA) {
    coding::putFixed32(osL, eL.triple.modality);
    coding::putFixed32(osL, eL.triple.instance);
    coding::putFixed32(osL, eL.triple.algorithm);
    coding::putFixed64(osL, eL.sampleId.low);
    coding::putFixed64(osL, eL.sampleId.high);
    if (eL.triple.algorithm == AlgUnknown) continue;
    std::unique_ptr<TemplateBlockImp> blockL(
        TemplateBlockImp::createTemplateBlock(eL.triple.algorithm));
    const auto* bytesL = reinterpret_cast<const unsigned char*>(eL.galleryBytes.data());
    blockL->setData(bytesL, static_cast<unsigned>(eL.galleryBytes.size()), bytesL,
                    static_cast<unsigned>(eL.galleryBytes.size()), false);
    blockL->writeGalleryTB(osL);
  }
  return osL.str();
}

BioMetricTriple triple(Modality mA, Instance iA, Algorithm aA) {
  BioMetricTriple tL;
  tL.modality = mA;
  tL.instance = iA;
  tL.algorithm = aA;
  return tL;
}

// The reload walk: wanted blobs in file order (data file by data file, record by record), not in
// key order, whatever the selection does to the runs it reads; an unreadable record ends it.
TEST_F(MultipassFileIOTest, TheBlobWalkVisitsWantedBlobsInFileOrder) {
  auto gL = created({2000, 100});
  // 1200 blobs of the 2000-byte file take many runs of reads; keys fall as the file grows.
  struct Stored {
    IdRecordKey key;
    unsigned int file;
  };
  std::vector<Stored> fileOrderL;
  for (std::uint64_t n = 0; n < 1230; ++n) {
    const std::uint64_t tL = 5000 - n;
    const unsigned int sizeL = n % 41 == 0 ? 100 : 2000;  // every 41st to the small file
    ASSERT_TRUE(addBlob(*gL, tL % 7, tL, sizeL));
    fileOrderL.push_back({IdRecordKey(tL % 7, tL), sizeL == 100 ? 1u : 0u});
  }
  ASSERT_TRUE(gL->writeCacheToDisk());
  std::stable_sort(fileOrderL.begin(), fileOrderL.end(),
                   [](const Stored& aA, const Stored& bA) { return aA.file < bA.file; });
  auto walk = [&](MultipassFileIO& galleryA, const std::function<bool(std::uint64_t)>& wantA,
                  std::vector<IdRecordKey>& seenA) {
    seenA.clear();
    return galleryA.readBlobsInFileOrder(
        [&](const MultipassFileIO::IdRecKeyToBlobOffset& eA) {
          return wantA(eA.key.transactionId);
        },
        [&](const MultipassFileIO::IdRecKeyToBlobOffset& eA, const unsigned char* dataA,
            unsigned int sizeA) {
          const auto& kL = eA.key;
          const unsigned int expectedL = galleryA.dataFileSize(eA.dataFileIndex);
          EXPECT_EQ(sizeA, expectedL);
          const Bytes wantL = padded(
              blobFor(kL.personId, kL.transactionId, expectedL == 100 ? 100 : 2000), expectedL);
          EXPECT_TRUE(std::equal(wantL.begin(), wantL.end(), dataA)) << kL.transactionId;
          seenA.push_back(kL);
        });
  };
  // All, runs broken by gaps (every 50th: gaps above 64 KiB), runs across gaps (every 20th),
  // a scattered choice, none.
  const std::vector<std::function<bool(std::uint64_t)>> selectionsL{
      [](std::uint64_t) { return true; }, [](std::uint64_t tA) { return tA % 50 == 3; },
      [](std::uint64_t tA) { return tA % 20 == 0; },
      [](std::uint64_t tA) { return (tA * 2654435761u) % 97 < 13; },
      [](std::uint64_t) { return false; }};
  std::vector<IdRecordKey> seenL;
  for (std::size_t s = 0; s < selectionsL.size(); ++s) {
    ASSERT_TRUE(walk(*gL, selectionsL[s], seenL)) << s;
    std::vector<IdRecordKey> expectedL;
    for (const Stored& st : fileOrderL) {
      if (selectionsL[s](st.key.transactionId)) expectedL.push_back(st.key);
    }
    EXPECT_EQ(seenL, expectedL) << "selection " << s;
  }

  // A record that is not in use (its status word overwritten behind the open gallery's back)
  // ends the walk there.
  const std::size_t brokenL = 700;
  const IdRecordKey brokenKeyL = fileOrderL[brokenL].key;
  std::uint32_t positionL = 0;
  for (const auto& eL : gL->getIdRecKeyToBlobOffsetMap()) {
    if (eL.key == brokenKeyL) positionL = eL.dataPosition;
  }
  gL->close();
  {
    std::fstream fL(gL->dataFileName(0), std::ios::in | std::ios::out | std::ios::binary);
    fL.seekp(88 + static_cast<std::streamoff>(positionL) * 2008);
    fL.write("\0\0\0\0", 4);
  }
  EXPECT_FALSE(walk(
      *gL, [](std::uint64_t) { return true; }, seenL));
  std::vector<IdRecordKey> beforeL;
  for (std::size_t i = 0; i < brokenL; ++i) beforeL.push_back(fileOrderL[i].key);
  EXPECT_EQ(seenL, beforeL);
}

// Runs are read ahead on a second thread: a visitor that throws leaves the walk (and the reader)
// at once, and the gallery walks again as before (run under ThreadSanitizer).
TEST_F(MultipassFileIOTest, TheBlobWalkReadsAheadOnSeveralThreadsAndLeavesOnAThrow) {
  auto gL = created({2000});
  for (std::uint64_t t = 1; t <= 900; ++t) ASSERT_TRUE(addBlob(*gL, t % 5, t, 2000));
  ASSERT_TRUE(gL->writeCacheToDisk());
  const auto all = [](const MultipassFileIO::IdRecKeyToBlobOffset&) { return true; };
  std::size_t seenL = 0;
  const auto count = [&](const MultipassFileIO::IdRecKeyToBlobOffset&, const unsigned char*,
                         unsigned int) { ++seenL; };
  for (int round = 0; round < 3; ++round) {
    seenL = 0;
    EXPECT_THROW(gL->readBlobsInFileOrder(all,
                                          [&](const MultipassFileIO::IdRecKeyToBlobOffset& eA,
                                              const unsigned char* dA, unsigned int sA) {
                                            count(eA, dA, sA);
                                            if (seenL == 300u + 250u * round) {
                                              throw std::runtime_error("visitor");
                                            }
                                          }),
                 std::runtime_error);
    EXPECT_EQ(seenL, 300u + 250u * round);
    seenL = 0;
    EXPECT_TRUE(gL->readBlobsInFileOrder(all, count));
    EXPECT_EQ(seenL, 900u);
  }
}

// The in-place reading of record blobs agrees with the stream reader on every blob it accepts,
// and refuses every blob that the stream reader refuses: each cut and each flipped byte of a
// valid blob is tried (the bytes sit in a buffer of their exact size: nothing beyond is read).
TEST(RecordBlobTest, TheInPlaceViewAgreesWithTheStreamReader) {
  const BioMetricTriple faceL = triple(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  const BioMetricTriple staL = triple(ModalityFace, InstanceFaceFrontal, AlgSta);
  const std::string goodL = recordBlob(
      {{faceL, KXuint128{0x0102, 0x0304}, "gallery-1"}, {staL, KXuint128{5, 6}, "gallery-22"}});
  std::vector<RecordBlobEntry> viewL;
  {
    const Bytes bytesL(goodL.begin(), goodL.end());
    ASSERT_TRUE(viewRecordBlob(bytesL.data(), bytesL.size(), viewL));
    ASSERT_EQ(viewL.size(), 2u);
    EXPECT_EQ(viewL[0].triple, faceL);
    EXPECT_EQ(viewL[0].sampleId, (KXuint128{0x0102, 0x0304}));
    EXPECT_EQ(viewL[1].triple, staL);
    EXPECT_EQ(viewL[1].sampleId, (KXuint128{5, 6}));
    EXPECT_EQ(viewL[1].block.algorithm, AlgSta);
    EXPECT_FALSE(viewL[1].block.symmetric);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(viewL[1].block.gallery),
                          viewL[1].block.gallerySize),
              "gallery-22");
  }
  auto agree = [&](const std::string& blobA) {
    const Bytes bytesL(blobA.begin(), blobA.end());
    const bool viewedL = viewRecordBlob(bytesL.data(), bytesL.size(), viewL);
    std::istringstream isL(blobA);
    std::vector<TemplateBlockImp*> blocksL;
    std::vector<KXuint128> idsL;
    std::vector<BioMetricTriple> triplesL;
    try {
      MultipassFileIO::readTemplateBlocksFromFidFileBlock(isL, blocksL, idsL, triplesL);
    } catch (const kxxcp::Exception&) {
      return !viewedL;
    }
    bool sameL = true;
    if (viewedL) {
      sameL = viewL.size() == blocksL.size();
      for (std::size_t i = 0; sameL && i < blocksL.size(); ++i) {
        const TemplateBlockView& v = viewL[i].block;
        sameL = viewL[i].triple == triplesL[i] && viewL[i].sampleId == idsL[i] &&
                v.algorithm == blocksL[i]->algorithm() &&
                v.symmetric == blocksL[i]->isSymmetric() &&
                v.gallerySize == blocksL[i]->gallerySize() &&
                (v.gallerySize == 0 ||
                 std::memcmp(v.gallery, blocksL[i]->galleryDataPtr(), v.gallerySize) == 0);
      }
    }
    for (TemplateBlockImp* b : blocksL) delete b;
    return sameL;
  };
  for (std::size_t n = 0; n <= goodL.size(); ++n) {
    ASSERT_TRUE(agree(goodL.substr(0, n))) << "cut at " << n;
  }
  for (std::size_t i = 0; i < goodL.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string badL = goodL;
      badL[i] = static_cast<char>(badL[i] ^ flip);
      ASSERT_TRUE(agree(badL)) << "byte " << i << " ^ " << int(flip);
    }
  }
  // An entry without a block is left to the stream reader.
  const std::string withoutL =
      recordBlob({{faceL, KXuint128{1, 2}, "x"},
                  {triple(ModalityIris, InstanceIrisLeft, AlgUnknown), {}, ""}});
  const Bytes withoutBytesL(withoutL.begin(), withoutL.end());
  EXPECT_FALSE(viewRecordBlob(withoutBytesL.data(), withoutBytesL.size(), viewL));
}

TEST(RecordBlobTest, SplitsEntriesAndSkipsAlgorithm255) {
  const BioMetricTriple faceL = triple(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  const BioMetricTriple irisL = triple(ModalityIris, InstanceIrisLeft, AlgUnknown);
  const BioMetricTriple staL = triple(ModalityFace, InstanceFaceFrontal, AlgSta);
  std::istringstream isL(recordBlob({{faceL, KXuint128{1, 2}, "gallery-1"},
                                     {irisL, KXuint128{3, 4}, ""},
                                     {staL, KXuint128{5, 6}, "gallery-22"}}) +
                         std::string(100, '\0'));  // padding of the record
  std::vector<TemplateBlockImp*> blocksL;
  std::vector<KXuint128> idsL;
  std::vector<BioMetricTriple> triplesL;
  MultipassFileIO::readTemplateBlocksFromFidFileBlock(isL, blocksL, idsL, triplesL);
  ASSERT_EQ(blocksL.size(), 2u);
  EXPECT_EQ(triplesL, (std::vector<BioMetricTriple>{faceL, staL}));
  EXPECT_EQ(idsL[0], (KXuint128{1, 2}));
  EXPECT_EQ(idsL[1], (KXuint128{5, 6}));
  EXPECT_EQ(blocksL[1]->algorithm(), AlgSta);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blocksL[1]->galleryDataPtr()),
                        blocksL[1]->gallerySize()),
            "gallery-22");
  EXPECT_EQ(blocksL[0]->probeSize(), 0u);  // the gallery form carries no probe part
  for (TemplateBlockImp* bL : blocksL) delete bL;
}

TEST(RecordBlobTest, HostileBlobsThrowAndLeaveNoBlocks) {
  std::vector<TemplateBlockImp*> blocksL;
  std::vector<KXuint128> idsL;
  std::vector<BioMetricTriple> triplesL;
  std::istringstream emptyL("");
  EXPECT_KXXCP_MESSAGE(
      MultipassFileIO::readTemplateBlocksFromFidFileBlock(emptyL, blocksL, idsL, triplesL),
      "Record blob too short.");
  std::string countL;
  coding::appendFixed32(countL, 0x10000000u);
  std::istringstream hugeL(countL + std::string(50, '\0'));
  EXPECT_KXXCP_MESSAGE(
      MultipassFileIO::readTemplateBlocksFromFidFileBlock(hugeL, blocksL, idsL, triplesL),
      "Invalid record blob entry count: '268435456'.");
  const BioMetricTriple faceL = triple(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  const std::string goodL = recordBlob({{faceL, KXuint128{1, 2}, "abc"}, {faceL, {}, "defg"}});
  // Cut inside the gallery part of the second block (its metadata and probe fields take 16).
  std::istringstream cutL(goodL.substr(0, goodL.size() - 18));
  EXPECT_KXXCP_MESSAGE(
      MultipassFileIO::readTemplateBlocksFromFidFileBlock(cutL, blocksL, idsL, triplesL),
      "kxxcp caught: Checksum error reading gallery data.");
  EXPECT_TRUE(blocksL.empty());
  EXPECT_TRUE(idsL.empty());
  EXPECT_TRUE(triplesL.empty());
}

TEST_F(MultipassFileIOTest, RecoverHandsEveryBlockToTheSinkOfItsTriple) {
  const BioMetricTriple faceL = triple(ModalityFace, InstanceFaceFrontal, AlgHgmFloat);
  const BioMetricTriple irisL = triple(ModalityIris, InstanceIrisLeft, AlgHgmFloat);
  std::vector<IdentityMetadata> metaL{IdentityMetadata(IdRecordKey(1, 1)),
                                      IdentityMetadata(IdRecordKey(2, 2))};
  auto gL = created({256});
  for (std::size_t i = 0; i < metaL.size(); ++i) {
    const std::string blobL = recordBlob(
        {{faceL, KXuint128{0, i}, "face" + std::to_string(i)}, {irisL, KXuint128{1, i}, "iris"}});
    ASSERT_TRUE(gL->add(metaL[i], blobL.data(), static_cast<unsigned>(blobL.size())));
  }
  ASSERT_TRUE(gL->writeCacheToDisk());
  struct Sink : GalleryBlockSink {
    std::vector<std::string> seenM;
    void add(const TemplateBlockImp* blockA, const IdentityMetadata* metadataA,
             KXuint128 sampleIdA) override {
      seenM.push_back(std::to_string(metadataA->getIdRecordKey().personId) + ":" +
                      std::to_string(sampleIdA.low) + ":" +
                      std::string(reinterpret_cast<const char*>(blockA->galleryDataPtr()),
                                  blockA->gallerySize()));
    }
  } faceSinkL;
  NotificationLog logL;
  EXPECT_EQ(gL->recoverDataAndAdd({{faceL, &faceSinkL}}), 2);
  EXPECT_EQ(faceSinkL.seenM, (std::vector<std::string>{"1:0:face0", "2:1:face1"}));
  ASSERT_EQ(logL.errors.size(), 2u);
  EXPECT_EQ(logL.errors[0],
            "*********\n This part of the Fid File is not configured to store in Memory. " +
                Types::bioTriple2Text(irisL) +
                ". All parts has to be added or removed. Incuded tripes :  - " +
                Types::bioTriple2Text(faceL) + " - " + Types::bioTriple2Text(irisL) + "*********");

  // A blob that cannot be split ends the recovery.
  const std::string badL("\x64\0\0\0", 4);
  ASSERT_TRUE(gL->add(metaL[0], badL.data(), 4));
  ASSERT_TRUE(gL->writeCacheToDisk());
  EXPECT_KXXCP_MESSAGE(gL->recoverDataAndAdd({{faceL, &faceSinkL}}),
                       "Failed to recover gallery: kxxcp caught: Invalid record blob entry count: "
                       "'100'.");
}

TEST_F(MultipassFileIOTest, IntensiveCheckReportsMissingBiometricsAndOrphans) {
  const BioMetricTriple irisL = triple(ModalityIris, InstanceIrisRight, AlgHgmFloat);
  auto gL = created({128});
  const std::string blobL = recordBlob({{irisL, KXuint128{0, 1}, "iris"}});
  ASSERT_TRUE(gL->add(poolM.get(4, 5), blobL.data(), static_cast<unsigned>(blobL.size())));
  ASSERT_TRUE(gL->writeCacheToDisk());
  validationNonBiometricInfo infoL;
  infoL.modalities = {ModalityIris};
  infoL.instances = {InstanceIrisRight};
  std::string reportL;
  EXPECT_TRUE(gL->checkStatusIntensive(reportL, &infoL)) << reportL;
  infoL.modalities = {ModalityFace};
  infoL.instances = {InstanceIrisLeft};
  reportL.clear();
  EXPECT_FALSE(gL->checkStatusIntensive(reportL, &infoL));
  const std::string whoL = " pid=\"4\" trid=\"5\" dataFile=\"0\" position=\"0\"";
  EXPECT_NE(reportL.find("<missingBiometric" + whoL + " reason=\"Cannot find the modality " +
                         Types::modality2Text(ModalityIris) + "\"/>"),
            std::string::npos)
      << reportL;
  EXPECT_NE(reportL.find("<missingBiometric" + whoL + " reason=\"Cannot find the instance " +
                         Types::instance2Text(InstanceIrisRight) + "\"/>"),
            std::string::npos)
      << reportL;

  // A used data record that no index record names, written by another writer while the
  // gallery is open. Opening the gallery again removes it.
  {
    MultiPartFidFile dataL(path("g_128.dat"), 0);
    ASSERT_TRUE(dataL.open());
    std::uint32_t checksumL = 0;
    ASSERT_EQ(dataL.add(Bytes(128, 1).data(), checksumL), 1u);
  }
  reportL.clear();
  EXPECT_FALSE(gL->checkStatusIntensive(reportL, nullptr));
  EXPECT_NE(reportL.find("<orphanDataFidRecord dataFile=\"0\" position=\"1\"/>"), std::string::npos)
      << reportL;
  gL->close();
  NotificationLog logL;
  gL->open();
  EXPECT_EQ(logL.warnings, std::vector<std::string>{"MultipassFileIO::open - 0 index records and 1 "
                                                    "data records of an unfinished change "
                                                    "removed in " +
                                                    dirM.path() + "/g"});
  reportL.clear();
  EXPECT_TRUE(gL->checkStatusIntensive(reportL, nullptr)) << reportL;
}

TEST_F(MultipassFileIOTest, AFailedBatchStaysInTheCacheAndIsWrittenLater) {
  auto gL = created({64});
  gL->setWriteCacheSize(2);
  NotificationLog logL;
  {
    FaultyFiles faultL(FaultyFiles::Write, 3);
    EXPECT_TRUE(addBlob(*gL, 1, 1, 64));
    EXPECT_FALSE(addBlob(*gL, 1, 2, 64));
  }
  EXPECT_EQ(gL->cachedBlobs(), 2u);
  EXPECT_TRUE(gL->getIdRecKeyToBlobOffsetMap().empty());
  ASSERT_FALSE(logL.errors.empty());
  EXPECT_EQ(logL.errors[0], "writeCacheToDisk - Add failed for FID file " + path("g_64.dat"));
  EXPECT_TRUE(addBlob(*gL, 1, 3, 64));  // the full cache is written again
  EXPECT_EQ(gL->cachedBlobs(), 0u);
  EXPECT_EQ(gL->getIdRecKeyToBlobOffsetMap().size(), 3u);
  std::string reportL;
  EXPECT_TRUE(gL->checkStatusIntensive(reportL, nullptr)) << reportL;
}

}  // namespace
}  // namespace qridy

namespace qridy {
namespace {

using Files = std::map<std::string, Bytes>;

class MultipassFileIORepairTest : public MultipassFileIOTest {
 protected:
  void TearDown() override { FileManager::reset(); }
  Files snapshot() const {
    Files filesL;
    for (const char* nameL : {"g.IDs", "g_64.dat"}) {
      std::ifstream inL(path(nameL), std::ios::binary);
      filesL[nameL] =
          Bytes((std::istreambuf_iterator<char>(inL)), std::istreambuf_iterator<char>());
    }
    return filesL;
  }
  void restore(const Files& filesA) const {
    for (const auto& fileL : filesA) {
      std::ofstream outL(path(fileL.first), std::ios::binary | std::ios::trunc);
      outL.write(reinterpret_cast<const char*>(fileL.second.data()),
                 static_cast<std::streamsize>(fileL.second.size()));
    }
    std::filesystem::remove(path("g.journal"));
  }
  // Files as a process leaves them that died just before it wrote the header of fileA: fileA
  // as after the batch but with the header from before it, the files written later as before.
  static Files killedAtHeaderOf(const std::string& fileA, const Files& beforeA,
                                const Files& afterA) {
    Files filesL = fileA == "g.IDs" ? afterA : beforeA;
    filesL[fileA] = afterA.at(fileA);
    std::copy(beforeA.at(fileA).begin(), beforeA.at(fileA).begin() + 88, filesL[fileA].begin());
    return filesL;
  }
  std::vector<std::uint64_t> storedTransactions(MultipassFileIO& gA) {
    std::vector<std::uint64_t> idsL;
    for (const auto& eL : gA.getIdRecKeyToBlobOffsetMap()) {
      idsL.push_back(eL.key.transactionId);
      EXPECT_EQ(readBlob(gA, eL.key.personId, eL.key.transactionId),
                blobFor(eL.key.personId, eL.key.transactionId, 64));
    }
    return idsL;
  }
  // After the repair the gallery takes changes again: one record removed, two added; every
  // header, free list and record is then consistent.
  void removeOneAndAddTwo(MultipassFileIO& gA, std::uint64_t removeA, std::uint64_t firstA) {
    ASSERT_TRUE(gA.clear(IdRecordKey(removeA, removeA)));
    ASSERT_TRUE(addBlob(gA, firstA, firstA, 64));
    ASSERT_TRUE(addBlob(gA, firstA + 1, firstA + 1, 64));
    ASSERT_TRUE(gA.writeCacheToDisk());
    std::string reportL;
    EXPECT_TRUE(gA.checkStatusIntensive(reportL, nullptr)) << reportL;
    gA.close();
    for (const char* nameL : {"g.IDs", "g_64.dat"}) {
      EXPECT_EQ(quarlen_test::checkFidParts(path(nameL)), std::vector<std::string>{});
    }
  }
};

// A process died in the middle of a batch and the journal is gone: the files alone bring the
// gallery back to a consistent state when it is opened.
TEST_F(MultipassFileIORepairTest, ABatchCutShortWithoutItsJournalIsRepairedOnOpen) {
  {
    auto gL = created({64});
    for (std::uint64_t t = 1; t <= 4; ++t) addBlob(*gL, t, t, 64);
    ASSERT_TRUE(gL->writeCacheToDisk());
    ASSERT_TRUE(gL->clear(IdRecordKey(2, 2)));  // record 1 of both files is free again
  }
  const Files beforeL = snapshot();
  {
    auto gL = gallery({64});
    gL->readIdRecKeyToBlobOffsetMap("g");
    for (std::uint64_t t = 5; t <= 7; ++t) addBlob(*gL, t, t, 64);
    ASSERT_TRUE(gL->writeCacheToDisk());  // records 1, 4 and 5 of both files
  }
  const Files afterL = snapshot();

  // Died before the data file's header: its header still names record 1 as the first free one.
  restore(killedAtHeaderOf("g_64.dat", beforeL, afterL));
  {
    NotificationLog logL;
    auto gL = gallery({64});
    gL->readIdRecKeyToBlobOffsetMap("g");
    ASSERT_EQ(logL.warnings.size(), 2u);
    EXPECT_EQ(logL.warnings[0].rfind("MultipassFileIO::open - FID file header rebuilt from its "
                                     "records: '" +
                                         path("g_64.dat") + "' (used 3 -> 6, free 997 -> 994, " +
                                         "first free 1 -> 6,",
                                     0),
              0u)
        << logL.warnings[0];
    EXPECT_EQ(logL.warnings[1],
              "MultipassFileIO::open - 0 index records and 3 data records of an unfinished "
              "change removed in " +
                  dirM.path() + "/g");
    EXPECT_TRUE(logL.errors.empty());
    EXPECT_EQ(storedTransactions(*gL), (std::vector<std::uint64_t>{1, 3, 4}));
    std::string reportL;
    EXPECT_TRUE(gL->checkStatusIntensive(reportL, nullptr)) << reportL;
    removeOneAndAddTwo(*gL, 3, 8);
  }
  auto gL = gallery({64});
  gL->readIdRecKeyToBlobOffsetMap("g");
  EXPECT_EQ(storedTransactions(*gL), (std::vector<std::uint64_t>{1, 4, 8, 9}));

  // Died before the index file's header: the batch is complete but for it, and is found whole.
  gL.reset();
  restore(killedAtHeaderOf("g.IDs", beforeL, afterL));
  {
    NotificationLog logL;
    gL = gallery({64});
    gL->readIdRecKeyToBlobOffsetMap("g");
    ASSERT_EQ(logL.warnings.size(), 1u);
    EXPECT_NE(logL.warnings[0].find(path("g.IDs") + "' (used 3 -> 6"), std::string::npos)
        << logL.warnings[0];
    EXPECT_EQ(storedTransactions(*gL), (std::vector<std::uint64_t>{1, 3, 4, 5, 6, 7}));
    removeOneAndAddTwo(*gL, 5, 8);
  }
}

// A host whose file functions serve only the gallery's own files (or a directory that cannot be
// written) cannot create the journal: the gallery still opens for reading.
void* openWithoutJournals(void* stateA, const char* pathA, const char* modeA) {
  const std::string pathL = pathA;
  if (pathL.size() >= 8 && pathL.compare(pathL.size() - 8, 8, ".journal") == 0) return nullptr;
  return FileManager::defaultOpen(stateA, pathA, modeA);
}

TEST_F(MultipassFileIORepairTest, AMissingJournalThatCannotBeCreatedLeavesTheGalleryReadable) {
  {
    auto gL = created({64});
    addBlob(*gL, 1, 1, 64);
    addBlob(*gL, 2, 2, 64);
    ASSERT_TRUE(gL->writeCacheToDisk());
  }
  std::filesystem::remove(path("g.journal"));
  FileManager::setOpenFuncPtr(&openWithoutJournals);
  NotificationLog logL;
  auto gL = gallery({64});
  gL->readIdRecKeyToBlobOffsetMap("g");
  EXPECT_EQ(logL.warnings,
            std::vector<std::string>{"MultipassFileIO::open - Cannot create the "
                                     "journal " +
                                     path("g.journal") + ": the gallery is open for reading only"});
  EXPECT_EQ(storedTransactions(*gL), (std::vector<std::uint64_t>{1, 2}));
  const std::string whyL =
      " - The gallery is open for reading only: cannot create the journal " + path("g.journal");
  addBlob(*gL, 3, 3, 64);
  EXPECT_FALSE(gL->writeCacheToDisk());
  EXPECT_EQ(logL.errors, std::vector<std::string>{"writeCacheToDisk" + whyL});
  logL.errors.clear();
  EXPECT_FALSE(gL->clear(IdRecordKey(1, 1)));
  EXPECT_EQ(logL.errors, std::vector<std::string>{"MultipassFileIO::clear" + whyL});
  EXPECT_EQ(storedTransactions(*gL), (std::vector<std::uint64_t>{1, 2}));
  // Once the journal can be created, the cached blob is written.
  FileManager::reset();
  EXPECT_TRUE(gL->writeCacheToDisk());
  EXPECT_TRUE(std::filesystem::exists(path("g.journal")));
  EXPECT_EQ(storedTransactions(*gL), (std::vector<std::uint64_t>{1, 2, 3}));
}

}  // namespace
}  // namespace qridy
