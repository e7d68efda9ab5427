#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qrliris/IrisCodeMatcher.h>
#include <qrliris/IrisScreen.h>

namespace {

using kxegm::irisscreen::Path;

constexpr std::uint64_t kSentinel = 0xA5A5A5A5A5A5A5A5ull;

std::uint64_t bits(int nA) {
  return nA >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << nA) - 1;
}

// A gallery word with codeA in its low half and maskA (32 bits) in its high half.
std::uint64_t galleryWord(std::uint32_t codeA, std::uint32_t maskA) {
  return (std::uint64_t{maskA} << 32) | codeA;
}

class IrisScreenTest : public ::testing::Test {
 protected:
  std::vector<Path> supportedPaths() const {
    std::vector<Path> pathsL;
    for (Path p : kxegm::irisscreen::kPaths) {
      if (kxegm::irisscreen::supported(p)) pathsL.push_back(p);
    }
    return pathsL;
  }
  // A 32-bit mask with about usableA of its bits set.
  std::uint32_t randomMask(double usableA) {
    std::bernoulli_distribution bitL(usableA);
    std::uint32_t mL = 0;
    for (int b = 0; b < 32; ++b) mL |= static_cast<std::uint32_t>(bitL(rngM)) << b;
    return mL;
  }
  // A head entry as the engines fill it: code words (mask in the high half) and the mask words
  // (in the low half); total and diff set to a sentinel the screening must overwrite.
  QrlIrisHeadEntry randomEntry(double usableA) {
    const std::uint64_t w0L = galleryWord(static_cast<std::uint32_t>(rngM()), randomMask(usableA));
    const std::uint64_t w1L = galleryWord(static_cast<std::uint32_t>(rngM()), randomMask(usableA));
    return {w0L, w1L, w0L >> 32, w1L >> 32, kSentinel, kSentinel};
  }

  std::mt19937_64 rngM{23};
};

TEST_F(IrisScreenTest, PathsAreNamedAndTheFastestSupportedOneAnswersOrdinal23) {
  const char* namesL[] = {"portable", "popcnt", "avx2", "avx512"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::string(kxegm::irisscreen::pathName(kxegm::irisscreen::kPaths[i])), namesL[i]);
  }
  EXPECT_TRUE(kxegm::irisscreen::supported(Path::Portable));
  Path bestL = Path::Portable;
  for (Path p : kxegm::irisscreen::kPaths) {
    EXPECT_EQ(kxegm::irisscreen::function(p) != nullptr, kxegm::irisscreen::supported(p));
    if (kxegm::irisscreen::supported(p)) bestL = p;
  }
  EXPECT_EQ(kxegm::irisscreen::active(), bestL);
  EXPECT_EQ(qrlIrisProcByOrdinal(23), reinterpret_cast<void*>(kxegm::irisscreen::function(bestL)));
  // Every path is exercised on this machine only when it offers them all.
  std::printf("screening paths here: %zu, active %s\n", supportedPaths().size(),
              kxegm::irisscreen::pathName(bestL));
}

// Exact limits of both tests, with every bit of both words usable (T0 = 32, T = 64): the first
// needs D0 * 128 < 32 * 52, so D0 <= 12; the second D * 128 < 64 * 48, so D <= 23. The mask
// holds row j at bit count - 1 - j.
TEST_F(IrisScreenTest, GoldenRowsAtTheLimitsOfBothTests) {
  const std::uint64_t g0L = galleryWord(0, ~0u), g1L = galleryWord(0, ~0u);
  const std::uint64_t galleryL[2] = {g0L, g1L};
  // Differing bits in words 0 and 1 of each row, the expected pass and counters.
  struct Row {
    int d0, d1;
    bool pass;
  };
  const Row rowsL[] = {{12, 11, true}, {13, 0, false},  {12, 12, false},
                       {0, 23, true},  {0, 24, false},  {0, 0, true},
                       {12, 11, true}, {32, 32, false}, {13, 10, false}};
  constexpr int kRows = sizeof(rowsL) / sizeof(rowsL[0]);
  for (Path p : supportedPaths()) {
    for (int countL = 1; countL <= kRows; ++countL) {
      std::vector<QrlIrisHeadEntry> headL(kRows);
      for (int j = 0; j < kRows; ++j) {
        const std::uint64_t w0L = galleryWord(static_cast<std::uint32_t>(bits(rowsL[j].d0)), ~0u);
        const std::uint64_t w1L = galleryWord(static_cast<std::uint32_t>(bits(rowsL[j].d1)), ~0u);
        headL[j] = {w0L, w1L, 0xFFFFFFFFu, 0xFFFFFFFFu, kSentinel, kSentinel};
      }
      std::uint32_t expectedL = 0;
      for (int j = 0; j < countL; ++j) {
        if (rowsL[j].pass) expectedL |= 1u << (countL - 1 - j);
      }
      const std::uint32_t maskL = kxegm::irisscreen::function(p)(
          galleryL, headL.data(), static_cast<std::uint32_t>(countL));
      EXPECT_EQ(maskL, expectedL) << kxegm::irisscreen::pathName(p) << " rows " << countL;
      for (int j = 0; j < kRows; ++j) {
        const bool countedL = j < countL;
        EXPECT_EQ(headL[j].total, countedL ? 64u : kSentinel) << j;
        EXPECT_EQ(headL[j].diff,
                  countedL ? static_cast<std::uint64_t>(rowsL[j].d0 + rowsL[j].d1) : kSentinel)
            << kxegm::irisscreen::pathName(p) << " row " << j << " of " << countL;
      }
    }
  }
}

// Every path against the portable reference: random codes of every mask density (all masked to
// all usable), galleries equal or close to one of the rows, row counts 0..34 (beyond 32 the rows
// are ignored), gallery data at every offset in a 16-byte block and head tables not aligned to
// their register width; masks, counters and the words the screening must not touch are compared
// in full.
TEST_F(IrisScreenTest, EveryPathAgreesWithThePortableReference) {
  const QrlIrisScreenFn referenceL = kxegm::irisscreen::function(Path::Portable);
  const std::vector<Path> pathsL = supportedPaths();
  constexpr std::size_t kMaxRows = 34;
  std::vector<unsigned char> galleryBytesL(32);
  // Room for the table at an 8-byte offset from any 64-byte boundary.
  std::vector<QrlIrisHeadEntry> storageL(kMaxRows + 2);
  const double densitiesL[] = {0.0, 0.02, 0.3, 0.5, 0.8, 0.98, 1.0};
  for (int trial = 0; trial < 400; ++trial) {
    const double usableL = densitiesL[trial % 7];
    const std::uint32_t countL = static_cast<std::uint32_t>(trial % (kMaxRows + 1));
    const std::size_t offsetL = static_cast<std::size_t>(trial % 16);
    std::vector<QrlIrisHeadEntry> tableL(kMaxRows);
    for (auto& e : tableL) e = randomEntry(usableL);
    std::uint64_t g0L = galleryWord(static_cast<std::uint32_t>(rngM()), randomMask(usableL));
    std::uint64_t g1L = galleryWord(static_cast<std::uint32_t>(rngM()), randomMask(usableL));
    if (trial % 5 == 3 && countL > 0) {
      // Equal to one row, mask bits and all: it passes there unless no bit is usable.
      const QrlIrisHeadEntry& rowL = tableL[static_cast<std::size_t>(trial) % countL];
      g0L = rowL.word0;
      g1L = rowL.word1;
    }
    if (trial % 5 == 1 && countL > 0) {
      // Close to one row: a few code bits flipped, so that passing rows occur at every density.
      const QrlIrisHeadEntry& rowL = tableL[static_cast<std::size_t>(trial) % countL];
      g0L = galleryWord(static_cast<std::uint32_t>(rowL.word0) ^ 0x00100001u,
                        static_cast<std::uint32_t>(g0L >> 32));
      g1L = galleryWord(static_cast<std::uint32_t>(rowL.word1) ^ 0x80000000u,
                        static_cast<std::uint32_t>(g1L >> 32));
    }
    std::memcpy(galleryBytesL.data() + offsetL, &g0L, 8);
    std::memcpy(galleryBytesL.data() + offsetL + 8, &g1L, 8);

    std::vector<QrlIrisHeadEntry> expectedL = tableL;
    const std::uint32_t expectedMaskL =
        referenceL(galleryBytesL.data() + offsetL, expectedL.data(), countL);
    for (std::uint32_t j = 0; j < kMaxRows; ++j) {
      // The reference writes exactly the rows it screens.
      ASSERT_EQ(expectedL[j].total == kSentinel, j >= countL || j >= 32) << j;
    }
    for (Path p : pathsL) {
      QrlIrisHeadEntry* headL = reinterpret_cast<QrlIrisHeadEntry*>(
          reinterpret_cast<unsigned char*>(storageL.data()) + 8 * (trial % 3));
      std::memcpy(static_cast<void*>(headL), tableL.data(), kMaxRows * sizeof(QrlIrisHeadEntry));
      const std::uint32_t maskL =
          kxegm::irisscreen::function(p)(galleryBytesL.data() + offsetL, headL, countL);
      ASSERT_EQ(maskL, expectedMaskL) << kxegm::irisscreen::pathName(p) << " trial " << trial;
      ASSERT_EQ(std::memcmp(headL, expectedL.data(), kMaxRows * sizeof(QrlIrisHeadEntry)), 0)
          << kxegm::irisscreen::pathName(p) << " trial " << trial;
    }
  }
}

}  // namespace
