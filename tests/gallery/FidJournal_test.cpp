#include "gallery/FidJournal.h"

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

using quarlen_test::FaultyFiles;
using quarlen_test::TempDir;
using Bytes = std::vector<unsigned char>;

class FidJournalTest : public ::testing::Test {
 protected:
  std::string file(const std::string& nameA) const { return dirM.path() + "/" + nameA; }
  void put(const std::string& nameA, const std::string& contentA) const {
    std::ofstream(file(nameA), std::ios::binary | std::ios::trunc) << contentA;
  }
  std::string get(const std::string& nameA) const {
    std::ifstream inL(file(nameA), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(inL)), std::istreambuf_iterator<char>());
  }
  static FidJournal::Patch patch(const std::string& nameA, std::uint64_t offsetA,
                                 const std::string& bytesA) {
    FidJournal::Patch pL;
    pL.fileName = nameA;
    pL.offset = offsetA;
    pL.bytes.assign(bytesA.begin(), bytesA.end());
    return pL;
  }
  static bool any(const std::string&) { return true; }
  FidJournal::State state(FidJournal& jA, std::vector<FidJournal::Patch>* patchesA = nullptr) {
    FidJournal::State sL = FidJournal::State::Missing;
    std::vector<FidJournal::Patch> pL;
    EXPECT_TRUE(jA.inspect(sL, pL, &any)) << jA.lastError();
    if (patchesA != nullptr) *patchesA = pL;
    return sL;
  }

  TempDir dirM;
};

TEST_F(FidJournalTest, ActiveJournalRestoresTheBeforeImages) {
  put("a.dat", "0123456789");
  FidJournal jL(dirM.path(), "g.journal");
  EXPECT_EQ(state(jL), FidJournal::State::Missing);
  ASSERT_TRUE(jL.create(false));
  EXPECT_EQ(state(jL), FidJournal::State::Idle);

  ASSERT_TRUE(jL.begin(
      {patch("a.dat", 2, "23"), patch("a.dat", 8, "89"), patch("b.dat", 0, "new part")}, false));
  put("a.dat", "01xx4567yyzz");  // the changes, one of them beyond the old end
  std::vector<FidJournal::Patch> patchesL;
  ASSERT_EQ(state(jL, &patchesL), FidJournal::State::Active);
  ASSERT_EQ(patchesL.size(), 3u);
  EXPECT_EQ(patchesL[1].offset, 8u);

  FidJournal::State foundL = FidJournal::State::Missing;
  ASSERT_TRUE(jL.recover(&any, false, foundL));
  EXPECT_EQ(foundL, FidJournal::State::Active);
  EXPECT_EQ(get("a.dat"), "0123456789zz");  // growth beyond the old end stays; it is harmless
  EXPECT_FALSE(std::filesystem::exists(file("b.dat")));  // missing files are not created
  EXPECT_EQ(state(jL), FidJournal::State::Idle);
  ASSERT_TRUE(jL.recover(&any, false, foundL));
  EXPECT_EQ(foundL, FidJournal::State::Idle);
}

TEST_F(FidJournalTest, GoldenBytesOfAnActiveJournal) {
  FidJournal jL(dirM.path(), "g.journal");
  ASSERT_TRUE(jL.begin({patch("x", 0x0102, "AB")}, false));
  std::string bodyL;
  coding::appendFixed32(bodyL, 1);
  coding::appendFixed16(bodyL, 1);
  bodyL += "x";
  coding::appendFixed64(bodyL, 0x0102);
  coding::appendFixed32(bodyL, 2);
  bodyL += "AB";
  std::string expectedL = "BFJL";
  coding::appendFixed32(expectedL, 1);
  coding::appendFixed32(expectedL, 0x01010101u);
  coding::appendFixed32(expectedL, static_cast<std::uint32_t>(bodyL.size()));
  coding::appendFixed32(expectedL, fid::recordChecksum(bodyL.data(), bodyL.size()));
  EXPECT_EQ(get("g.journal"), expectedL + bodyL);
  ASSERT_TRUE(jL.finish(false));
  for (int i = 8; i < 12; ++i) expectedL[i] = 0;
  EXPECT_EQ(get("g.journal"), expectedL + bodyL);
  ASSERT_TRUE(jL.activate(false));
  EXPECT_EQ(state(jL), FidJournal::State::Active);
}

TEST_F(FidJournalTest, AShorterGroupRewritesTheJournalInPlace) {
  FidJournal jL(dirM.path(), "g.journal");
  ASSERT_TRUE(jL.begin({patch("a.dat", 0, "long before-image"), patch("b.dat", 4, "xy")}, false));
  ASSERT_TRUE(jL.finish(false));
  const std::size_t longL = get("g.journal").size();
  ASSERT_TRUE(jL.begin({patch("c.dat", 9, "z")}, false));
  EXPECT_EQ(get("g.journal").size(), longL);  // not truncated: the header bounds the body
  std::vector<FidJournal::Patch> patchesL;
  ASSERT_EQ(state(jL, &patchesL), FidJournal::State::Active);
  ASSERT_EQ(patchesL.size(), 1u);
  EXPECT_EQ(patchesL[0].fileName, "c.dat");
  EXPECT_EQ(patchesL[0].offset, 9u);
  EXPECT_EQ(patchesL[0].bytes, Bytes{'z'});
}

TEST_F(FidJournalTest, TornJournalsAskForNothing) {
  put("a.dat", "0123");
  FidJournal jL(dirM.path(), "g.journal");
  ASSERT_TRUE(jL.begin({patch("a.dat", 0, "zz")}, false));
  const std::string fullL = get("g.journal");
  for (std::size_t cutL : {std::size_t{0}, std::size_t{3}, std::size_t{19}, fullL.size() - 1}) {
    put("g.journal", fullL.substr(0, cutL));
    EXPECT_EQ(state(jL), FidJournal::State::Torn) << cutL;
  }
  std::string flippedL = fullL;
  flippedL.back() ^= 1;
  put("g.journal", flippedL);
  EXPECT_EQ(state(jL), FidJournal::State::Torn);
  put("g.journal", std::string(fullL.size(), '\0'));  // zeros after a power cut
  EXPECT_EQ(state(jL), FidJournal::State::Torn);
  FidJournal::State foundL = FidJournal::State::Missing;
  ASSERT_TRUE(jL.recover(&any, false, foundL));
  EXPECT_EQ(foundL, FidJournal::State::Torn);
  EXPECT_EQ(get("a.dat"), "0123");
}

TEST_F(FidJournalTest, ForeignAndMalformedPatchesAreRefused) {
  FidJournal jL(dirM.path(), "g.journal");
  EXPECT_FALSE(jL.begin({patch("../escape", 0, "x")}, false));
  EXPECT_EQ(jL.lastError(), "Invalid FID journal patch for '../escape'.");
  EXPECT_FALSE(jL.begin({patch("", 0, "x")}, false));
  EXPECT_FALSE(jL.begin({patch("a.dat", FidJournal::kMaxPatchEnd, "x")}, false));
  EXPECT_EQ(jL.lastError(), "Invalid FID journal patch for 'a.dat'.");
  EXPECT_TRUE(jL.begin({patch("a.dat", FidJournal::kMaxPatchEnd - 1, "x")}, false));

  ASSERT_TRUE(jL.begin({patch("other.txt", 0, "x")}, false));
  FidJournal::State sL;
  std::vector<FidJournal::Patch> pL;
  EXPECT_FALSE(jL.inspect(sL, pL, [](const std::string& nA) { return nA == "a.dat"; }));
  EXPECT_EQ(jL.lastError(), "FID journal names a foreign file: 'other.txt'.");

  // A body whose checksum is right but whose patch runs past the body's end.
  std::string bodyL;
  coding::appendFixed32(bodyL, 1);
  coding::appendFixed16(bodyL, 5);
  bodyL += "a.dat";
  coding::appendFixed64(bodyL, 0);
  coding::appendFixed32(bodyL, 4000);
  std::string fileL = "BFJL";
  coding::appendFixed32(fileL, 1);
  coding::appendFixed32(fileL, 1);
  coding::appendFixed32(fileL, static_cast<std::uint32_t>(bodyL.size()));
  coding::appendFixed32(fileL, fid::recordChecksum(bodyL.data(), bodyL.size()));
  put("g.journal", fileL + bodyL);
  EXPECT_FALSE(jL.inspect(sL, pL, &any));
  EXPECT_EQ(jL.lastError(), "Invalid FID journal '" + jL.path() + "'.");
  // A hostile body length ends at the end of the file.
  std::string hugeL = fileL.substr(0, 12);
  coding::appendFixed32(hugeL, 0xFFFFFFF0u);
  coding::appendFixed32(hugeL, 0);
  put("g.journal", hugeL);
  EXPECT_TRUE(jL.inspect(sL, pL, &any));
  EXPECT_EQ(sL, FidJournal::State::Torn);
}

TEST_F(FidJournalTest, AStateWordCutShortReadsAsActive) {
  FidJournal jL(dirM.path(), "g.journal");
  ASSERT_TRUE(jL.begin({patch("a.dat", 0, "zz")}, false));
  {
    FaultyFiles faultL(FaultyFiles::Write, 1);  // half of the idle word reaches the file
    EXPECT_FALSE(jL.finish(false));
  }
  EXPECT_EQ(state(jL), FidJournal::State::Active);
  ASSERT_TRUE(jL.finish(false));
  {
    FaultyFiles faultL(FaultyFiles::Write, 1);  // half of the active word
    EXPECT_FALSE(jL.activate(false));
  }
  EXPECT_EQ(state(jL), FidJournal::State::Active);
}

TEST_F(FidJournalTest, FailedUndoLeavesTheJournalActive) {
  put("a.dat", "0123");
  FidJournal jL(dirM.path(), "g.journal");
  ASSERT_TRUE(jL.begin({patch("a.dat", 0, "zz")}, false));
  FidJournal::State foundL = FidJournal::State::Missing;
  {
    FaultyFiles faultL(FaultyFiles::Write, 1);
    EXPECT_FALSE(jL.recover(&any, false, foundL));
  }
  EXPECT_EQ(state(jL), FidJournal::State::Active);
  ASSERT_TRUE(jL.recover(&any, false, foundL));
  EXPECT_EQ(foundL, FidJournal::State::Active);
  EXPECT_EQ(get("a.dat"), "zz23");
}

}  // namespace
}  // namespace qridy
