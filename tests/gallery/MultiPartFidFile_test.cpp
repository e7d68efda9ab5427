#include "gallery/MultiPartFidFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "support/Environment.h"
#include "support/FaultyFiles.h"

namespace qridy {
namespace {

using quarlen_test::TempDir;
using Bytes = std::vector<unsigned char>;

class MultiPartFidFileTest : public ::testing::Test {
 protected:
  std::string base() const { return dirM.path() + "/g_16.dat"; }
  std::string dirDataPath() const { return dirM.path() + "/g_4000.dat"; }
  static Bytes record(std::uint32_t sizeA, std::uint32_t seedA) {
    Bytes bL(sizeA);
    for (std::uint32_t i = 0; i < sizeA; ++i) bL[i] = static_cast<unsigned char>(seedA * 31 + i);
    return bL;
  }
  static void patchWord(const std::string& pathA, std::size_t offsetA, std::uint32_t valueA) {
    std::fstream fL(pathA, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char bL[4];
    coding::encodeFixed32(bL, valueA);
    fL.seekp(static_cast<std::streamoff>(offsetA));
    fL.write(reinterpret_cast<const char*>(bL), 4);
  }

  TempDir dirM;
};

TEST_F(MultiPartFidFileTest, PartNamesHaveAFourDigitSuffix) {
  EXPECT_EQ(MultiPartFidFile::partPath("/a/g.IDs", 0), "/a/g.IDs");
  EXPECT_EQ(MultiPartFidFile::partPath("/a/g.IDs", 1), "/a/g.IDs.0001");
  EXPECT_EQ(MultiPartFidFile::partPath("/a/g.IDs", 42), "/a/g.IDs.0042");
  EXPECT_EQ(MultiPartFidFile::partPath("/a/g.IDs", 12345), "/a/g.IDs.12345");
  MultiPartFidFile fL("/a/g_4000.dat", 0);
  EXPECT_EQ(fL.partFileName(2), "g_4000.dat.0002");
}

TEST_F(MultiPartFidFileTest, RecordsMoveToTheNextPartAtThePartLimit) {
  // A part of 4008-byte records holds 33487 of them. Part 0 is prepared (sparse) with one free
  // record left, as if 33486 records had been added.
  const std::string pathL = dirDataPath();
  {
    MultiPartFidFile fL(pathL, 0);
    ASSERT_TRUE(fL.create(4000, 1000));
  }
  std::filesystem::resize_file(pathL, 88 + 33487ull * 4008);
  {
    std::fstream fL(pathL, std::ios::in | std::ios::out | std::ios::binary);
    const char usedL[8] = {'\xFF', '\xFF', '\xFF', '\xFF', 0, 0, 0, 0};  // checksum 0
    for (std::uint64_t k = 0; k < 33486; ++k) {
      fL.seekp(static_cast<std::streamoff>(88 + k * 4008));
      fL.write(usedL, sizeof usedL);
    }
  }
  patchWord(pathL, 16, 33487);  // capacity
  patchWord(pathL, 24, 33486);  // first free
  patchWord(pathL, 28, 33486);  // used
  patchWord(pathL, 32, 1);      // free
  MultiPartFidFile fL(pathL, 0);
  ASSERT_TRUE(fL.open()) << fL.lastError();
  EXPECT_EQ(fL.partLimit(), 33487u);
  std::uint32_t checksumL = 0;
  const Bytes rL = record(4000, 1);
  EXPECT_EQ(fL.add(rL.data(), checksumL), 33486u);
  EXPECT_EQ(fL.part(0).header().full, 1u);
  EXPECT_FALSE(std::filesystem::exists(pathL + ".0001"));
  EXPECT_EQ(fL.add(rL.data(), checksumL), 33487u);  // part 1, record 0
  EXPECT_TRUE(std::filesystem::exists(pathL + ".0001"));
  EXPECT_EQ(fL.partCount(), 2u);
  Bytes backL(4000);
  ASSERT_TRUE(fL.readRecord(33487, backL.data()));
  EXPECT_EQ(backL, rL);
  // Freeing a record of part 0 makes it the target again.
  ASSERT_TRUE(fL.remove(33486));
  EXPECT_EQ(fL.part(0).header().full, 0u);
  EXPECT_EQ(fL.add(rL.data(), checksumL), 33486u);
  fL.close();
  ASSERT_TRUE(fL.open());
  EXPECT_EQ(fL.partCount(), 2u);
  EXPECT_EQ(fL.usedRecords(), 33488u);
}

TEST_F(MultiPartFidFileTest, RecordLimitAppliesToEveryPartAndPositionsKeepTheirStride) {
  MultiPartFidFile fL(base(), 0);
  ASSERT_TRUE(fL.create(16, 1000));
  ASSERT_TRUE(fL.open());
  fL.setRecordLimit(2);
  std::vector<std::uint32_t> positionsL;
  for (std::uint32_t i = 0; i < 5; ++i) {
    std::uint32_t checksumL = 0;
    positionsL.push_back(fL.add(record(16, i).data(), checksumL));
  }
  const std::uint32_t strideL = FidFile::partLimit(24);
  EXPECT_EQ(positionsL, (std::vector<std::uint32_t>{0, 1, strideL, strideL + 1, 2 * strideL}));
  for (std::uint32_t i = 0; i < 5; ++i) {
    Bytes backL(16);
    ASSERT_TRUE(fL.readRecord(positionsL[i], backL.data()));
    EXPECT_EQ(backL, record(16, i));
  }
  EXPECT_FALSE(fL.readRecord(3 * strideL, nullptr));
  std::uint16_t sumL = 0;
  std::uint64_t usedL = 0;
  ASSERT_TRUE(fL.computeChecksum(sumL, usedL));
  EXPECT_EQ(usedL, 5u);
  EXPECT_TRUE(fid::fileChecksumsEqual(sumL, fL.storedChecksum()));
}

TEST_F(MultiPartFidFileTest, PlansSpanPartsAndNewPartsAsTheAddsDo) {
  MultiPartFidFile fL(base(), 0);
  ASSERT_TRUE(fL.create(16, 3));
  ASSERT_TRUE(fL.open());
  fL.setRecordLimit(4);
  std::uint32_t checksumL = 0;
  for (std::uint32_t i = 0; i < 3; ++i) fL.add(record(16, i).data(), checksumL);
  ASSERT_TRUE(fL.remove(1));
  std::vector<MultiPartFidFile::PlannedAdd> planL;
  ASSERT_TRUE(fL.planAdds(7, planL));
  const std::uint32_t strideL = fL.partLimit();
  std::vector<std::uint32_t> positionsL;
  for (const auto& addL : planL) positionsL.push_back(addL.position);
  EXPECT_EQ(positionsL, (std::vector<std::uint32_t>{1, 3, strideL, strideL + 1, strideL + 2,
                                                    strideL + 3, 2 * strideL}));
  for (const auto& addL : planL) {
    ASSERT_TRUE(fL.applyPlanned(addL, record(16, addL.position).data(), checksumL));
  }
  EXPECT_EQ(fL.partCount(), 3u);
  EXPECT_EQ(fL.usedRecords(), 9u);
}

TEST_F(MultiPartFidFileTest, AnEmptyTrailingPartIsIgnoredAndStalePartsAreReset) {
  MultiPartFidFile fL(base(), 0);
  ASSERT_TRUE(fL.create(16, 1000));
  ASSERT_TRUE(fL.open());
  fL.setRecordLimit(1);
  std::uint32_t checksumL = 0;
  for (std::uint32_t i = 0; i < 3; ++i) fL.add(record(16, i).data(), checksumL);
  fL.close();
  std::ofstream(base() + ".0003");  // a process died right after creating part 3
  ASSERT_TRUE(fL.open());
  EXPECT_EQ(fL.partCount(), 3u);
  EXPECT_EQ(fL.usedRecords(), 3u);
  fL.close();
  // Creating the file again leaves no record of the old one behind.
  ASSERT_TRUE(fL.create(16, 1000));
  ASSERT_TRUE(fL.open());
  EXPECT_EQ(fL.usedRecords(), 0u);
}

TEST_F(MultiPartFidFileTest, PartsWithAnotherRecordSizeAreRefused) {
  MultiPartFidFile fL(base(), 0);
  ASSERT_TRUE(fL.create(16, 1000));
  FidFile otherL(base() + ".0001", 0);
  ASSERT_TRUE(otherL.create(20, 1000));
  EXPECT_FALSE(fL.open());
  EXPECT_EQ(fL.lastError(), "FID file parts disagree on the record size: '28' in '" + base() +
                                ".0001', '24' in part 0.");
  EXPECT_FALSE(fL.isOpen());
}

}  // namespace
}  // namespace qridy
