#include "gallery/FidFile.h"

#include <gtest/gtest.h>

#include <quarlen/FileManager.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "support/Environment.h"
#include "support/FaultyFiles.h"

namespace qridy {
namespace {

using quarlen_test::FaultyFiles;
using quarlen_test::TempDir;
using Bytes = std::vector<unsigned char>;

Bytes readRaw(const std::string& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(inL)), std::istreambuf_iterator<char>());
}

void writeRaw(const std::string& pathA, const Bytes& bytesA) {
  std::ofstream outL(pathA, std::ios::binary | std::ios::trunc);
  outL.write(reinterpret_cast<const char*>(bytesA.data()),
             static_cast<std::streamsize>(bytesA.size()));
}

std::uint32_t word(const Bytes& bytesA, std::size_t offsetA) {
  return coding::decodeFixed32(bytesA.data() + offsetA);
}

void setWord(Bytes& bytesA, std::size_t offsetA, std::uint32_t valueA) {
  coding::encodeFixed32(bytesA.data() + offsetA, valueA);
}

Bytes record(std::uint32_t sizeA, unsigned char seedA) {
  Bytes bL(sizeA);
  for (std::uint32_t i = 0; i < sizeA; ++i) bL[i] = static_cast<unsigned char>(seedA + 7 * i);
  return bL;
}

class FidFileTest : public ::testing::Test {
 protected:
  std::string path(const std::string& nameA = "part.fid") const {
    return dirM.path() + "/" + nameA;
  }
  // A part of data size 16 (R = 24) with countA records added.
  void makePart(unsigned countA, std::uint32_t growthA = 1000) {
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.create(16, growthA));
    ASSERT_TRUE(fL.open());
    for (unsigned i = 0; i < countA; ++i) {
      std::uint32_t checksumL = 0;
      ASSERT_EQ(fL.add(record(16, static_cast<unsigned char>(i)).data(), checksumL), i);
    }
  }
  std::string openError(const Bytes& bytesA) {
    writeRaw(path(), bytesA);
    FidFile fL(path(), 0);
    EXPECT_FALSE(fL.open());
    EXPECT_FALSE(fL.isOpen());
    return fL.lastError();
  }

  TempDir dirM;
};

TEST(FidChecksumTest, RecordChecksumAndTheTwoZeros) {
  EXPECT_EQ(fid::recordChecksum("abc", 3), 17766u);
  EXPECT_EQ(fid::recordChecksum("", 0), 0u);
  EXPECT_TRUE(fid::fileChecksumsEqual(0xFFFF, 0));
  EXPECT_TRUE(fid::fileChecksumsEqual(0, 0xFFFF));
  EXPECT_TRUE(fid::fileChecksumsEqual(0x1234, 0x1234));
  EXPECT_FALSE(fid::fileChecksumsEqual(0xFFFE, 0));
  EXPECT_FALSE(fid::fileChecksumsEqual(1, 0xFFFF));
  // Adding and removing a record comes back to zero, in one of its two forms.
  const std::uint16_t sumL = fid::addRecordChecksum(0, 0x0005'0003u);
  EXPECT_EQ(sumL, 8);
  EXPECT_TRUE(fid::fileChecksumsEqual(fid::subtractRecordChecksum(sumL, 0x0005'0003u), 0));
  // End-around carry.
  EXPECT_EQ(fid::addRecordChecksum(0xFFF0, 0x0000'0020u), 0x0011);
}

TEST(FidChecksumTest, LanesGiveTheValueOfTheDefinition) {
  std::mt19937 rngL(3);
  Bytes bL(5000);
  for (auto& cL : bL) cL = static_cast<unsigned char>(rngL());
  for (std::size_t sizeL : {0, 1, 7, 8, 9, 15, 16, 17, 64, 1000, 4096, 4999, 5000}) {
    for (std::uint32_t startL : {0u, 1u, 0xDEADBEEFu}) {
      EXPECT_EQ(fid::recordChecksum(bL.data(), sizeL, startL),
                fid::recordChecksumReference(bL.data(), sizeL, startL))
          << sizeL << " " << startL;
    }
  }
  // Chained over pieces, as over the whole.
  EXPECT_EQ(fid::recordChecksum(bL.data() + 13, 987, fid::recordChecksum(bL.data(), 13)),
            fid::recordChecksumReference(bL.data(), 1000));
}

TEST_F(FidFileTest, FreshPartHeaderGoldenBytes) {
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.create(4000, 1000));
  const Bytes bL = readRaw(path());
  Bytes expectedL(88, 0);
  expectedL[0] = 'B';
  expectedL[1] = 'F';
  expectedL[2] = 'I';
  expectedL[3] = 'D';
  setWord(expectedL, 4, 5);
  setWord(expectedL, 8, 4008);
  setWord(expectedL, 12, 1000);
  EXPECT_EQ(bL, expectedL);
}

TEST_F(FidFileTest, FirstRecordCountsAndFoldsItsChecksum) {
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.create(3, 2));
  ASSERT_TRUE(fL.open());
  std::uint32_t checksumL = 0;
  ASSERT_EQ(fL.add("abc", checksumL), 0u);
  EXPECT_EQ(checksumL, 17766u);
  fL.close();
  const Bytes bL = readRaw(path());
  ASSERT_EQ(bL.size(), 88u + 2 * 11);
  EXPECT_EQ(word(bL, 16), 2u);      // capacity: one growth increment
  EXPECT_EQ(word(bL, 20), 0u);      // not full
  EXPECT_EQ(word(bL, 24), 1u);      // next free record
  EXPECT_EQ(word(bL, 28), 1u);      // used
  EXPECT_EQ(word(bL, 32), 1u);      // free
  EXPECT_EQ(word(bL, 36), 17766u);  // 0x4566 + 0x0000
  EXPECT_EQ(word(bL, 40), 0u);      // no pending operation
  EXPECT_EQ(word(bL, 88), 0xFFFFFFFFu);
  EXPECT_EQ(word(bL, 92), 17766u);
  EXPECT_EQ(std::string(bL.begin() + 96, bL.begin() + 99), "abc");
  EXPECT_EQ(word(bL, 99), 0u);  // the grown, still free record
}

TEST_F(FidFileTest, FreeListReusesRemovedRecordsLastRemovedFirst) {
  makePart(5);
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.open());
  EXPECT_TRUE(fL.remove(1));
  EXPECT_TRUE(fL.remove(3));
  EXPECT_FALSE(fL.remove(3));    // already free
  EXPECT_FALSE(fL.remove(999));  // beyond the capacity
  EXPECT_EQ(fL.header().firstFree, 3u);
  EXPECT_EQ(fL.header().used, 3u);
  std::uint32_t statusL = 0;
  std::uint32_t checksumL = 0;
  ASSERT_TRUE(fL.readRecordHeader(3, statusL, checksumL));
  EXPECT_EQ(statusL, 2u);                                               // links to record 1
  EXPECT_EQ(checksumL, fid::recordChecksum(record(16, 3).data(), 16));  // old checksum kept
  ASSERT_TRUE(fL.readRecordHeader(1, statusL, checksumL));
  EXPECT_EQ(statusL, 6u);  // links to record 5, the first free one before

  const Bytes newL = record(16, 0x40);
  EXPECT_EQ(fL.add(newL.data(), checksumL), 3u);
  EXPECT_EQ(fL.add(newL.data(), checksumL), 1u);
  EXPECT_EQ(fL.add(newL.data(), checksumL), 5u);
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  ASSERT_TRUE(fL.computeChecksum(sumL, usedL));
  EXPECT_EQ(usedL, 6u);
  EXPECT_TRUE(fid::fileChecksumsEqual(sumL, fL.header().checksum));
  Bytes backL(16);
  ASSERT_TRUE(fL.readRecord(1, backL.data(), &checksumL));
  EXPECT_EQ(backL, newL);
  EXPECT_FALSE(fL.readRecord(7, backL.data()));  // free
}

TEST_F(FidFileTest, RecordLimitSetsTheFullFlagAndRemovalClearsIt) {
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.create(16, 1000));
  ASSERT_TRUE(fL.open());
  fL.setRecordLimit(3);
  std::uint32_t checksumL = 0;
  const Bytes rL = record(16, 1);
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(fL.add(rL.data(), checksumL), i);
  EXPECT_EQ(fL.header().capacity, 3u);  // growth cut to the limit
  EXPECT_EQ(fL.header().full, 1u);
  EXPECT_FALSE(fL.acceptsRecord());
  EXPECT_EQ(fL.add(rL.data(), checksumL), FidFile::kNoRecord);
  EXPECT_TRUE(fL.remove(0));
  EXPECT_EQ(fL.header().full, 0u);
  EXPECT_EQ(fL.add(rL.data(), checksumL), 0u);
  // Opening again puts the part limit back.
  ASSERT_TRUE(fL.open());
  EXPECT_EQ(fL.recordLimit(), FidFile::partLimit(24));
}

TEST_F(FidFileTest, PartLimitIsRecordsOf128MiB) {
  EXPECT_EQ(FidFile::partLimit(4008), 33487u);
  EXPECT_EQ(FidFile::partLimit(33), 4067203u);
  EXPECT_EQ(FidFile::partLimit(0x8000000), 1u);
  FidFile fL(path(), 0);
  EXPECT_FALSE(fL.create(FidFile::kMaxDataSize + 1, 1000));
  EXPECT_EQ(fL.lastError(), "FID file data size too large: '134217721'.");
  EXPECT_FALSE(fL.create(16, 0));
  EXPECT_EQ(fL.lastError(), "FID file growth increment must not be 0.");
}

TEST_F(FidFileTest, SettlesAnInterruptedWrite) {
  makePart(2);
  Bytes bL = readRaw(path());
  // Writing record 2 was interrupted after its record header: the counters do not count it yet.
  setWord(bL, 40, 3);
  setWord(bL, 88 + 2 * 24, 0xFFFFFFFFu);
  setWord(bL, 88 + 2 * 24 + 4, 1234);
  writeRaw(path(), bL);
  {
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open());
    EXPECT_EQ(fL.header().firstFree, FidFile::kNoRecord);
    EXPECT_EQ(fL.header().pending, 0u);
    EXPECT_TRUE(fL.repaired());
    EXPECT_EQ(fL.repairNote(), "");  // settled; the header agrees with the records
  }
  const Bytes afterL = readRaw(path());
  EXPECT_EQ(word(afterL, 88 + 2 * 24), 0u);
  EXPECT_EQ(word(afterL, 24), 0xFFFFFFFFu);
  EXPECT_EQ(word(afterL, 40), 0u);
  EXPECT_EQ(word(afterL, 28), 2u);
  // The part takes changes: a removal links the removed record to the end of the records (the
  // free list is unknown), so after it comes growth, not record 1.
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.open());
  EXPECT_FALSE(fL.repaired());
  ASSERT_TRUE(fL.remove(0));
  EXPECT_EQ(word(readRaw(path()), 88), 1001u);
  std::uint32_t checksumL = 0;
  EXPECT_EQ(fL.add(record(16, 7).data(), checksumL), 0u);
  EXPECT_EQ(fL.add(record(16, 9).data(), checksumL), 1000u);
  const FidHeader hL = fL.header();
  EXPECT_EQ(hL.capacity, 2000u);
  EXPECT_EQ(hL.used, 3u);
  EXPECT_EQ(hL.free, 1997u);
  EXPECT_EQ(hL.firstFree, 1001u);
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  ASSERT_TRUE(fL.computeChecksum(sumL, usedL));
  EXPECT_EQ(usedL, 3u);
  EXPECT_TRUE(fid::fileChecksumsEqual(sumL, hL.checksum));
  for (const auto& slotL : std::vector<std::pair<std::uint32_t, int>>{{0, 7}, {1, 1}, {1000, 9}}) {
    Bytes backL(16);
    ASSERT_TRUE(fL.readRecord(slotL.first, backL.data()));
    EXPECT_EQ(backL, record(16, static_cast<unsigned char>(slotL.second)));
  }
  // Opening again finds nothing to repair.
  ASSERT_TRUE(fL.open());
  EXPECT_FALSE(fL.repaired());
}

TEST_F(FidFileTest, SettlesAnInterruptedRemoval) {
  makePart(4);
  Bytes bL = readRaw(path());
  setWord(bL, 40, 0xFFFFFFFDu);  // -3: removing record 2 was interrupted
  setWord(bL, 88 + 2 * 24, 5);   // its status word had already been linked
  writeRaw(path(), bL);
  {
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open());
    EXPECT_EQ(fL.header().firstFree, 4u);
    std::uint16_t sumL = 0;
    std::uint32_t usedL = 0;
    ASSERT_TRUE(fL.computeChecksum(sumL, usedL));
    EXPECT_EQ(usedL, 4u);
    EXPECT_TRUE(fid::fileChecksumsEqual(sumL, fL.header().checksum));
  }
  const Bytes afterL = readRaw(path());
  EXPECT_EQ(word(afterL, 88 + 2 * 24), 0xFFFFFFFFu);
  EXPECT_EQ(word(afterL, 40), 0u);
}

// Words of the header that the records describe are taken from the records when they are damaged
// (a header write cut short): counters, file checksum, a pending word that names no record.
TEST_F(FidFileTest, DamagedWordsThatTheRecordsDescribeAreRebuilt) {
  makePart(2);
  const Bytes goodL = readRaw(path());
  const std::vector<std::pair<std::size_t, std::uint32_t>> damagesL{
      {28, 3}, {32, 0xFFFFFFFFu}, {36, 0x10000}, {40, 1001}, {40, ~1000u}};
  for (const auto& damageL : damagesL) {
    Bytes bL = goodL;
    setWord(bL, damageL.first, damageL.second);
    writeRaw(path(), bL);
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open()) << fL.lastError();
    EXPECT_TRUE(fL.repaired());
    fL.close();
    EXPECT_EQ(readRaw(path()), goodL) << damageL.first;
  }
}

TEST_F(FidFileTest, ReadOnlyOpenRefusesAPendingOperation) {
  makePart(2);
  Bytes bL = readRaw(path());
  setWord(bL, 40, 1);
  writeRaw(path(), bL);
  FidFile fL(path(), 0);
  EXPECT_FALSE(fL.openForReading());
  EXPECT_EQ(fL.lastError(), "FID file has a pending operation: '" + path() + "'.");
  EXPECT_EQ(readRaw(path()), bL);
}

TEST_F(FidFileTest, HostileHeadersAreRefusedWithTheirReason) {
  makePart(2);
  const Bytes goodL = readRaw(path());
  auto withWord = [&](std::size_t offA, std::uint32_t vA) {
    Bytes bL = goodL;
    setWord(bL, offA, vA);
    return bL;
  };
  EXPECT_EQ(openError(Bytes(goodL.begin(), goodL.begin() + 87)),
            "FID file too short for its header: '" + path() + "'.");
  EXPECT_EQ(openError(withWord(0, 0x44494643u)), "Invalid FID file magic number: 'CFID'.");
  EXPECT_EQ(openError(withWord(0, 0x00000001u)), "Invalid FID file magic number: '....'.");
  EXPECT_EQ(openError(withWord(4, 4)), "Invalid FID file version: '4'.");
  EXPECT_EQ(openError(withWord(8, 7)), "Invalid FID file record size: '7'.");
  EXPECT_EQ(openError(withWord(8, 0x8000001)), "Invalid FID file record size: '134217729'.");
  EXPECT_EQ(openError(withWord(12, 0)), "Invalid FID file growth increment: '0'.");
  EXPECT_EQ(openError(withWord(16, 5592406)),
            "Invalid FID file capacity: '5592406' (at most '5592405').");
  EXPECT_EQ(openError(Bytes(goodL.begin(), goodL.end() - 1)),
            "FID file shorter than its capacity: '24087' < '24088' bytes.");
  // A longer file is left over from interrupted growth and opens.
  Bytes longerL = goodL;
  longerL.resize(goodL.size() + 100, 0);
  writeRaw(path(), longerL);
  FidFile fL(path(), 0);
  EXPECT_TRUE(fL.open());
}

TEST_F(FidFileTest, CorruptFreeListFailsTheAddInsteadOfOverwriting) {
  makePart(4);
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.open());
  ASSERT_TRUE(fL.remove(1));
  // While the part is open, record 1 is changed to link to record 0, which is used.
  Bytes bL = readRaw(path());
  setWord(bL, 88 + 24, 1);
  writeRaw(path(), bL);
  std::uint32_t checksumL = 0;
  EXPECT_EQ(fL.add(record(16, 1).data(), checksumL), 1u);
  EXPECT_EQ(fL.add(record(16, 2).data(), checksumL), FidFile::kNoRecord);
  Bytes backL(16);
  ASSERT_TRUE(fL.readRecord(0, backL.data()));
  EXPECT_EQ(backL, record(16, 0));
}

// A process that died after writing records and before writing the part header leaves a header
// that lags its records. Opening rebuilds the header from the records' status words and links
// every free record into one list.
TEST_F(FidFileTest, AHeaderThatLagsItsRecordsIsRebuiltOnOpen) {
  makePart(6, 8);
  {
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open());
    ASSERT_TRUE(fL.remove(4));
    ASSERT_TRUE(fL.remove(1));  // free list 1 -> 4 -> 6 -> 7 -> grow
  }
  const Bytes beforeL = readRaw(path());
  {
    // A batch takes records 1 and 4; its header write never happens.
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open());
    std::uint32_t checksumL = 0;
    ASSERT_EQ(fL.add(record(16, 0x51).data(), checksumL), 1u);
    ASSERT_EQ(fL.add(record(16, 0x54).data(), checksumL), 4u);
  }
  const Bytes addedL = readRaw(path());
  Bytes bL = addedL;
  std::copy(beforeL.begin(), beforeL.begin() + 88, bL.begin());
  writeRaw(path(), bL);

  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.open());
  EXPECT_EQ(fL.repairNote(), "FID file header rebuilt from its records: '" + path() +
                                 "' (used 4 -> 6, free 4 -> 2, first free 1 -> 6, checksum " +
                                 std::to_string(word(beforeL, 36)) + " -> " +
                                 std::to_string(word(addedL, 36)) + ")");
  Bytes afterL = readRaw(path());
  EXPECT_EQ(Bytes(afterL.begin(), afterL.begin() + 88), Bytes(addedL.begin(), addedL.begin() + 88));
  EXPECT_EQ(word(afterL, 88 + 6 * 24), 0u);  // 6 -> 7 -> grow
  EXPECT_EQ(word(afterL, 88 + 7 * 24), 0u);
  std::uint32_t checksumL = 0;
  EXPECT_EQ(fL.add(record(16, 0x56).data(), checksumL), 6u);
  ASSERT_TRUE(fL.remove(2));
  EXPECT_EQ(fL.add(record(16, 0x52).data(), checksumL), 2u);
  EXPECT_EQ(fL.add(record(16, 0x57).data(), checksumL), 7u);
  EXPECT_EQ(fL.add(record(16, 0x58).data(), checksumL), 8u);
  for (std::uint32_t slotL : {1u, 2u, 4u, 6u, 7u, 8u}) {
    Bytes backL(16);
    ASSERT_TRUE(fL.readRecord(slotL, backL.data()));
    EXPECT_EQ(backL, record(16, static_cast<unsigned char>(0x50 + slotL)));
  }

  // A free list that is broken in the middle is rebuilt too: free records 3 and 5 of a part
  // whose list runs 5 -> 0 (used).
  makePart(6, 8);
  {
    FidFile gL(path(), 0);
    ASSERT_TRUE(gL.open());
    ASSERT_TRUE(gL.remove(3));
    ASSERT_TRUE(gL.remove(5));
  }
  bL = readRaw(path());
  setWord(bL, 88 + 5 * 24, 1);
  writeRaw(path(), bL);
  ASSERT_TRUE(fL.open());
  EXPECT_NE(fL.repairNote().find("first free 5 -> 3"), std::string::npos) << fL.repairNote();
  afterL = readRaw(path());
  EXPECT_EQ(word(afterL, 88 + 3 * 24), 6u);  // 3 -> 5
  EXPECT_EQ(word(afterL, 88 + 5 * 24), 0u);  // 5 -> 6
  EXPECT_EQ(fL.add(record(16, 3).data(), checksumL), 3u);
  EXPECT_EQ(fL.add(record(16, 5).data(), checksumL), 5u);
  EXPECT_EQ(fL.add(record(16, 6).data(), checksumL), 6u);
  // A consistent part is left as it is.
  const Bytes consistentL = readRaw(path());
  ASSERT_TRUE(fL.open());
  EXPECT_FALSE(fL.repaired());
  EXPECT_EQ(readRaw(path()), consistentL);
}

TEST_F(FidFileTest, ReadAheadBufferServesOnlyRangesStrictlyInside) {
  makePart(10);
  FidFile fL(path(), 100);
  ASSERT_TRUE(fL.open());
  const Bytes fileL = readRaw(path());
  FaultyFiles countL;
  unsigned char bL[128];
  EXPECT_EQ(fL.readBytes(88, bL, 10), 10u);  // refill: 100 bytes from 88
  EXPECT_EQ(countL.calls(FaultyFiles::Read), 1u);
  EXPECT_EQ(fL.readBytes(130, bL, 10), 10u);  // inside
  EXPECT_EQ(fL.readBytes(88, bL, 99), 99u);   // ends one byte before the buffer's end
  EXPECT_EQ(countL.calls(FaultyFiles::Read), 1u);
  EXPECT_EQ(0, std::memcmp(bL, fileL.data() + 88, 64));
  EXPECT_EQ(fL.readBytes(178, bL, 10), 10u);  // ends exactly at the buffer's end: refill
  EXPECT_EQ(countL.calls(FaultyFiles::Read), 2u);
  EXPECT_EQ(0, std::memcmp(bL, fileL.data() + 178, 10));
  Bytes bigL(101);
  EXPECT_EQ(fL.readBytes(88, bigL.data(), 101), 101u);  // larger than the buffer: direct
  EXPECT_EQ(fL.readBytes(180, bL, 10), 10u);            // the buffer was dropped
  EXPECT_EQ(countL.calls(FaultyFiles::Read), 4u);
  EXPECT_EQ(fL.readBytes(88, nullptr, 10), 0u);
  EXPECT_EQ(fL.readBytes(88, bL, 0), 0u);
  // Near the end of the file the refill delivers less than asked: what came is returned.
  EXPECT_EQ(fL.readBytes(fileL.size() - 4, bL, 10), 4u);
  EXPECT_EQ(fL.readBytes(fileL.size(), bL, 10), 0u);

  // Without caching every read goes to the file.
  fL.enableCaching(false);
  countL.resetCounts();
  EXPECT_EQ(fL.readBytes(130, bL, 10), 10u);
  EXPECT_EQ(fL.readBytes(130, bL, 10), 10u);
  EXPECT_EQ(countL.calls(FaultyFiles::Read), 2u);
}

TEST_F(FidFileTest, WritesInvalidateTheReadAheadBuffer) {
  makePart(3);
  FidFile fL(path(), 4096);
  ASSERT_TRUE(fL.open());
  Bytes backL(16);
  ASSERT_TRUE(fL.readRecord(1, backL.data()));
  EXPECT_EQ(backL, record(16, 1));
  const Bytes newL = record(16, 0x77);
  std::uint32_t checksumL = 0;
  ASSERT_TRUE(fL.rewrite(1, newL.data(), checksumL));
  ASSERT_TRUE(fL.readRecord(1, backL.data()));
  EXPECT_EQ(backL, newL);
  ASSERT_TRUE(fL.remove(1));
  EXPECT_FALSE(fL.readRecord(1, backL.data()));
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  ASSERT_TRUE(fL.computeChecksum(sumL, usedL));
  EXPECT_TRUE(fid::fileChecksumsEqual(sumL, fL.header().checksum));
}

TEST_F(FidFileTest, PlannedAddsMatchTheAddsCarriedOut) {
  makePart(6, 4);
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.open());
  ASSERT_TRUE(fL.remove(2));
  ASSERT_TRUE(fL.remove(0));
  ASSERT_TRUE(fL.remove(5));
  FidAllocState stateL = fL.allocState();
  std::unordered_set<std::uint32_t> plannedL;
  std::vector<FidAddStep> stepsL;
  for (int i = 0; i < 8; ++i) {
    FidAddStep stepL;
    ASSERT_TRUE(fL.planAdd(stateL, stepL, plannedL));
    plannedL.insert(stepL.slot);
    stepsL.push_back(stepL);
  }
  std::vector<std::uint32_t> slotsL;
  for (const FidAddStep& stepL : stepsL) slotsL.push_back(stepL.slot);
  EXPECT_EQ(slotsL, (std::vector<std::uint32_t>{5, 0, 2, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(!stepsL[4].grows && stepsL[5].grows && !stepsL[6].grows);
  for (const FidAddStep& stepL : stepsL) {
    std::uint32_t checksumL = 0;
    ASSERT_TRUE(
        fL.applyAdd(stepL, record(16, static_cast<unsigned char>(stepL.slot)).data(), checksumL));
  }
  EXPECT_EQ(fL.header().capacity, stateL.capacity);
  EXPECT_EQ(fL.header().firstFree, stateL.firstFree);
  // A step that is not the next one for the part's state is refused.
  std::uint32_t checksumL = 0;
  EXPECT_FALSE(fL.applyAdd(stepsL[0], record(16, 0).data(), checksumL));
}

TEST_F(FidFileTest, FailedWriteLeavesThePartUnchangeableUntilReopened) {
  makePart(2);
  FidFile fL(path(), 0);
  ASSERT_TRUE(fL.open());
  std::uint32_t checksumL = 0;
  {
    FaultyFiles faultL(FaultyFiles::Write, 2);  // the record data
    EXPECT_EQ(fL.add(record(16, 5).data(), checksumL), FidFile::kNoRecord);
  }
  EXPECT_EQ(fL.add(record(16, 5).data(), checksumL), FidFile::kNoRecord);
  EXPECT_FALSE(fL.remove(0));
  ASSERT_TRUE(fL.open());  // settles the interrupted write of record 2
  EXPECT_EQ(fL.header().used, 2u);
  EXPECT_EQ(fL.header().firstFree, FidFile::kNoRecord);
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  ASSERT_TRUE(fL.computeChecksum(sumL, usedL));
  EXPECT_TRUE(fid::fileChecksumsEqual(sumL, fL.header().checksum));
  EXPECT_NE(fL.add(record(16, 5).data(), checksumL), FidFile::kNoRecord);
}

}  // namespace
}  // namespace qridy

namespace qridy {
namespace {

TEST_F(FidFileTest, BatchOfStepsLeavesTheBytesOfSingleAdds) {
  // Two equal parts with a free list, and a plan that reuses it and then grows twice.
  const std::string otherL = path("other.fid");
  makePart(6, 4);
  {
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open());
    ASSERT_TRUE(fL.remove(4));
    ASSERT_TRUE(fL.remove(1));
  }
  std::filesystem::copy_file(path(), otherL);
  FidFile singleL(path(), 0);
  FidFile batchL(otherL, 0);
  ASSERT_TRUE(singleL.open());
  ASSERT_TRUE(batchL.open());
  FidAllocState stateL = batchL.allocState();
  std::unordered_set<std::uint32_t> plannedL;
  std::vector<FidAddStep> stepsL;
  std::vector<Bytes> recordsL;
  std::vector<const unsigned char*> dataL;
  for (int i = 0; i < 9; ++i) {
    FidAddStep stepL;
    ASSERT_TRUE(batchL.planAdd(stateL, stepL, plannedL));
    plannedL.insert(stepL.slot);
    stepsL.push_back(stepL);
    recordsL.push_back(record(16, static_cast<unsigned char>(0x30 + i)));
  }
  for (const Bytes& rL : recordsL) dataL.push_back(rL.data());
  std::vector<std::uint32_t> checksumsL;
  ASSERT_TRUE(batchL.applyBatch(stepsL, dataL, checksumsL));
  for (std::size_t i = 0; i < stepsL.size(); ++i) {
    std::uint32_t checksumL = 0;
    ASSERT_TRUE(singleL.applyAdd(stepsL[i], dataL[i], checksumL));
    EXPECT_EQ(checksumL, checksumsL[i]);
  }
  singleL.close();
  batchL.close();
  EXPECT_EQ(readRaw(path()), readRaw(otherL));
  EXPECT_EQ(readRaw(otherL).size(), 88u + 16 * 24);  // grown twice by 4
  // A step that does not follow the part's state is refused before anything is written.
  ASSERT_TRUE(batchL.open());
  EXPECT_FALSE(batchL.applyBatch({stepsL[0]}, {dataL[0]}, checksumsL));
  EXPECT_EQ(readRaw(path()), readRaw(otherL));
}

}  // namespace
}  // namespace qridy

namespace qridy {
namespace {

// A part filled to its exact record limit, once by single adds and once by one batch, ends with
// the same bytes: the reused free record, the growth cut to the limit and the full flag.
TEST_F(FidFileTest, FillingToTheRecordLimitByBatchGivesTheBytesOfSingleAdds) {
  const std::string otherL = path("other.fid");
  makePart(6, 4);
  {
    FidFile fL(path(), 0);
    ASSERT_TRUE(fL.open());
    ASSERT_TRUE(fL.remove(1));
  }
  std::filesystem::copy_file(path(), otherL);
  FidFile singleL(path(), 0);
  FidFile batchL(otherL, 0);
  ASSERT_TRUE(singleL.open());
  ASSERT_TRUE(batchL.open());
  singleL.setRecordLimit(10);
  batchL.setRecordLimit(10);

  std::vector<Bytes> recordsL;
  for (int i = 0; i < 5; ++i) recordsL.push_back(record(16, static_cast<unsigned char>(0x40 + i)));
  std::vector<std::uint32_t> slotsL;
  for (const Bytes& rL : recordsL) {
    std::uint32_t checksumL = 0;
    slotsL.push_back(singleL.add(rL.data(), checksumL));
  }
  EXPECT_EQ(slotsL, (std::vector<std::uint32_t>{1, 6, 7, 8, 9}));

  FidAllocState stateL = batchL.allocState();
  std::unordered_set<std::uint32_t> plannedL;
  std::vector<FidAddStep> stepsL;
  std::vector<const unsigned char*> dataL;
  for (const Bytes& rL : recordsL) {
    FidAddStep stepL;
    ASSERT_TRUE(batchL.planAdd(stateL, stepL, plannedL));
    plannedL.insert(stepL.slot);
    stepsL.push_back(stepL);
    dataL.push_back(rL.data());
  }
  FidAddStep beyondL;
  EXPECT_FALSE(batchL.planAdd(stateL, beyondL, plannedL));
  std::vector<std::uint32_t> checksumsL;
  ASSERT_TRUE(batchL.applyBatch(stepsL, dataL, checksumsL));

  for (FidFile* fL : {&singleL, &batchL}) {
    EXPECT_EQ(fL->header().capacity, 10u);
    EXPECT_EQ(fL->header().full, 1u);
    EXPECT_FALSE(fL->acceptsRecord());
    std::uint32_t checksumL = 0;
    EXPECT_EQ(fL->add(recordsL[0].data(), checksumL), FidFile::kNoRecord);
    fL->close();
  }
  const Bytes bytesL = readRaw(otherL);
  EXPECT_EQ(readRaw(path()), bytesL);
  ASSERT_EQ(bytesL.size(), 88u + 10 * 24);
  EXPECT_EQ(word(bytesL, 20), 1u);  // the full flag, on disk
  EXPECT_EQ(word(bytesL, 24), 10u);
  EXPECT_EQ(word(bytesL, 28), 10u);
  EXPECT_EQ(word(bytesL, 32), 0u);
}

}  // namespace
}  // namespace qridy
