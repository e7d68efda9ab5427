#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeForms.h>
#include <qrliris/IrisCodeMatcher.h>
#include <qrliris/IrisMatchEngine.h>

namespace {

using kxegm::irisforms::kCodeBytes;

std::uint64_t wordOf(const unsigned char* pA, int wA) {
  std::uint64_t vL;
  std::memcpy(&vL, pA + 8 * wA, 8);
  return vL;
}

class IrisCodeMatcherTest : public ::testing::Test {
 protected:
  std::vector<unsigned char> randomCode() {
    std::vector<unsigned char> codeL(kCodeBytes);
    for (auto& b : codeL) b = static_cast<unsigned char>(rngM());
    return codeL;
  }
  QrlIrisProbeHandle load(const std::vector<unsigned char>& probeA) {
    descriptorM.data = probeA.data();
    descriptorM.size = static_cast<std::uint32_t>(probeA.size());
    descriptorM.flags = 0;
    QrlIrisProbeHandle handleL{};
    EXPECT_EQ(qrlIrisLoadProbe(&descriptorM, &handleL), kQrlIrisOk);
    return handleL;
  }

  std::mt19937 rngM{7};
  QrlIrisProbeDescriptor descriptorM{};
};

// Ring bit i of ring r with its mask bit: record word 4r + i / 32, bit i % 32; matcher word
// i % 32, bit 4r + i / 32 (mask bits 32 higher).
TEST_F(IrisCodeMatcherTest, FormsPlaceRingBitsAsDocumentedAndRoundTrip) {
  std::vector<unsigned char> matcherL(kCodeBytes), backL(kCodeBytes);
  for (int i = 0; i < 20; ++i) {
    const auto codeL = randomCode();
    kxegm::irisforms::recordToMatcher(codeL.data(), matcherL.data());
    for (int r = 0; r < 8; ++r) {
      for (int b = 0; b < 128; ++b) {
        const std::uint64_t inL = wordOf(codeL.data(), 4 * r + b / 32);
        const std::uint64_t outL = wordOf(matcherL.data(), b % 32);
        const int fromL = b % 32, toL = 4 * r + b / 32;
        ASSERT_EQ((outL >> toL) & 1, (inL >> fromL) & 1) << "ring " << r << " bit " << b;
        ASSERT_EQ((outL >> (toL + 32)) & 1, (inL >> (fromL + 32)) & 1) << "mask " << r << " " << b;
      }
    }
    kxegm::irisforms::matcherToRecord(matcherL.data(), backL.data());
    EXPECT_EQ(backL, codeL);
  }
}

TEST_F(IrisCodeMatcherTest, RotationShiftsEachRingByTwoBitsPerPosition) {
  const auto codeL = randomCode();
  std::vector<unsigned char> turnedL(kCodeBytes), backL(kCodeBytes);
  // Shifts within a 64-bit half, across it, and backwards.
  for (int stepsL : {1, 37, -3}) {
    kxegm::irisforms::rotateRecord(codeL.data(), stepsL, turnedL.data());
    for (int r = 0; r < 8; ++r) {
      for (int i = 0; i < 128; ++i) {
        const int fromL = ((i - 2 * stepsL) % 128 + 128) % 128;
        const std::uint64_t inL = wordOf(codeL.data(), 4 * r + fromL / 32);
        const std::uint64_t outL = wordOf(turnedL.data(), 4 * r + i / 32);
        ASSERT_EQ((outL >> (i % 32)) & 1, (inL >> (fromL % 32)) & 1) << stepsL;
        ASSERT_EQ((outL >> (i % 32 + 32)) & 1, (inL >> (fromL % 32 + 32)) & 1) << stepsL;
      }
    }
    kxegm::irisforms::rotateRecord(turnedL.data(), -stepsL, backL.data());
    EXPECT_EQ(backL, codeL);
  }
  kxegm::irisforms::rotateRecord(codeL.data(), 64, turnedL.data());
  EXPECT_EQ(turnedL, codeL);
}

TEST_F(IrisCodeMatcherTest, TransformationRoundTripsAndLeavesPartialCodesAlone) {
  kxegm::IrisMatchEngine engineL;
  std::vector<unsigned char> dataL(300);
  try {
    engineL.transformIrisCode(dataL.data(), 300);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "IrisMatchEngine is not initialised.");
    EXPECT_EQ(e.getFunction(), "kxegm::IrisMatchEngine::transformIrisCode");
  }
  engineL.init();
  for (std::size_t sizeL :
       {std::size_t{100}, std::size_t{256}, std::size_t{300}, std::size_t{512}}) {
    std::vector<unsigned char> originalL(sizeL);
    for (auto& b : originalL) b = static_cast<unsigned char>(rngM());
    auto workL = originalL;
    engineL.transformIrisCode(workL.data(), static_cast<unsigned>(sizeL));
    if (sizeL >= kCodeBytes) {
      EXPECT_NE(workL, originalL);
    }
    EXPECT_TRUE(std::equal(workL.begin() + sizeL / kCodeBytes * kCodeBytes, workL.end(),
                           originalL.begin() + sizeL / kCodeBytes * kCodeBytes));
    engineL.untransformIrisCode(workL.data(), static_cast<unsigned>(sizeL));
    EXPECT_EQ(workL, originalL) << sizeL;
  }
}

TEST_F(IrisCodeMatcherTest, LoadRejectsBadDescriptors) {
  QrlIrisProbeHandle handleL{};
  std::vector<unsigned char> probeL(kCodeBytes - 1);
  EXPECT_EQ(qrlIrisLoadProbe(&descriptorM, nullptr), kQrlIrisBadArgument);
  EXPECT_EQ(qrlIrisLoadProbe(nullptr, &handleL), kQrlIrisBadArgument);
  descriptorM.data = probeL.data();
  descriptorM.size = static_cast<std::uint32_t>(probeL.size());
  EXPECT_EQ(qrlIrisLoadProbe(&descriptorM, &handleL), kQrlIrisShortProbe);
  EXPECT_EQ(handleL.rows, nullptr);
  descriptorM.size = kCodeBytes;
  descriptorM.flags = 1;
  std::vector<unsigned char> fullL(kCodeBytes);
  descriptorM.data = fullL.data();
  EXPECT_EQ(qrlIrisLoadProbe(&descriptorM, &handleL), kQrlIrisBadFlags);
  EXPECT_EQ(qrlIrisFreeProbe(&handleL), 0);  // a cleared handle is accepted
}

TEST_F(IrisCodeMatcherTest, LoadBuildsBothRotationTables) {
  const auto probeL = randomCode();
  QrlIrisProbeHandle handleL = load(probeL);
  ASSERT_NE(handleL.rows, nullptr);
  ASSERT_NE(handleL.rows2010, nullptr);
  std::vector<unsigned char> recordL(kCodeBytes), turnedL(kCodeBytes), expectedL(kCodeBytes);
  kxegm::irisforms::matcherToRecord(probeL.data(), recordL.data());
  for (int r = 0; r < kQrlIrisRows; ++r) {
    kxegm::irisforms::rotateRecord(recordL.data(), r - kQrlIrisCenterRow, turnedL.data());
    kxegm::irisforms::recordToMatcher(turnedL.data(), expectedL.data());
    const unsigned char* fullRowL = handleL.rows2010 + r * kQrlIrisRowBytes;
    const unsigned char* sixRowL = handleL.rows + r * kQrlIrisRowBytes;
    for (int j = 0; j < 32; ++j) {
      const std::uint64_t wL = wordOf(expectedL.data(), j);
      ASSERT_EQ(wordOf(fullRowL, j), wL);
      ASSERT_EQ(wordOf(fullRowL, 32 + j), wL >> 32);
      ASSERT_EQ(wordOf(sixRowL, j), j < 24 ? wL : 0);
      ASSERT_EQ(wordOf(sixRowL, 32 + j), j < 24 ? wL >> 32 : 0);
    }
    for (int j = 64; j < 128; ++j) ASSERT_EQ(wordOf(fullRowL, j), 0u);
  }
  // Row 10 is the probe as given.
  EXPECT_EQ(std::memcmp(handleL.rows2010 + 10 * kQrlIrisRowBytes, probeL.data(), kCodeBytes), 0);
  qrlIrisFreeProbe(&handleL);
  EXPECT_EQ(handleL.rows, nullptr);
  EXPECT_EQ(handleL.rows2010, nullptr);
}

TEST_F(IrisCodeMatcherTest, CountsUsableAndDifferingBitsOfOneWord) {
  // Gallery code 1010 with mask 1111; probe code 0110 with mask 0111: usable 0111 (3 bits),
  // differing among them 0100 (1 bit).
  const std::uint64_t galleryL = 0b1010u | (std::uint64_t{0b1111} << 32);
  std::uint64_t rowL[64] = {};
  rowL[0] = 0b0110u | (std::uint64_t{0b0111} << 32);
  rowL[32] = 0b0111u;
  for (QrlIrisCountWordFn countL : {&qrlIrisCountWord, &qrlIrisCountWordPortable}) {
    std::uint64_t totalL = 10, diffL = 20;
    countL(&galleryL, rowL, &totalL, &diffL);
    EXPECT_EQ(totalL, 13u);
    EXPECT_EQ(diffL, 21u);
  }
  // Both count calls agree on random words, unaligned gallery words included.
  std::vector<unsigned char> bytesL(9);
  for (int i = 0; i < 1000; ++i) {
    for (auto& b : bytesL) b = static_cast<unsigned char>(rngM());
    rowL[0] = (std::uint64_t{rngM()} << 32) | rngM();
    rowL[32] = rowL[0] >> 32;
    std::uint64_t t1 = 0, d1 = 0, t2 = 0, d2 = 0;
    qrlIrisCountWord(bytesL.data() + 1, rowL, &t1, &d1);
    qrlIrisCountWordPortable(bytesL.data() + 1, rowL, &t2, &d2);
    ASSERT_EQ(t1, t2);
    ASSERT_EQ(d1, d2);
  }
}

TEST_F(IrisCodeMatcherTest, ScreeningCountsTheFirstTwoWordsAndAppliesBothTests) {
  const auto probeL = randomCode();
  QrlIrisProbeHandle handleL = load(probeL);
  const int firstRowL = 6, countL = 9;
  for (int trial = 0; trial < 200; ++trial) {
    // A gallery close to one of the rows now and then, so that both answers occur.
    std::vector<unsigned char> galleryL = randomCode();
    if (trial % 3 == 0) {
      std::memcpy(galleryL.data(),
                  handleL.rows2010 + (firstRowL + trial % countL) * kQrlIrisRowBytes, 16);
      galleryL[trial % 16] ^= 0x11;
    }
    QrlIrisHeadEntry headL[9];
    for (int j = 0; j < countL; ++j) {
      const unsigned char* rowL = handleL.rows2010 + (firstRowL + j) * kQrlIrisRowBytes;
      headL[j] = {wordOf(rowL, 0), wordOf(rowL, 1), wordOf(rowL, 32), wordOf(rowL, 33), 0, 0};
    }
    const std::uint32_t maskL = qrlIrisScreenRotations(galleryL.data(), headL, countL);
    for (int j = 0; j < countL; ++j) {
      const auto* rowL = reinterpret_cast<const std::uint64_t*>(handleL.rows2010 +
                                                                (firstRowL + j) * kQrlIrisRowBytes);
      std::uint64_t tL = 0, dL = 0;
      qrlIrisCountWordPortable(galleryL.data(), rowL, &tL, &dL);
      const bool firstL = dL * 128 < tL * 52;
      qrlIrisCountWordPortable(galleryL.data() + 8, rowL + 1, &tL, &dL);
      EXPECT_EQ(headL[j].total, tL);
      EXPECT_EQ(headL[j].diff, dL);
      EXPECT_EQ((maskL >> (countL - 1 - j)) & 1u, (firstL && dL * 128 < tL * 48) ? 1u : 0u);
    }
  }
  // A gallery equal to row 10 passes there; a fully masked gallery passes nowhere (no bits).
  QrlIrisHeadEntry headL[1];
  const unsigned char* row10L = handleL.rows2010 + 10 * kQrlIrisRowBytes;
  headL[0] = {wordOf(row10L, 0), wordOf(row10L, 1), wordOf(row10L, 32), wordOf(row10L, 33), 0, 0};
  ASSERT_NE(headL[0].mask0, 0u);
  EXPECT_EQ(qrlIrisScreenRotations(row10L, headL, 1), 1u);
  const std::vector<unsigned char> maskedL(16, 0);
  EXPECT_EQ(qrlIrisScreenRotations(maskedL.data(), headL, 1), 0u);
  EXPECT_EQ(headL[0].total, 0u);
  qrlIrisFreeProbe(&handleL);
}

TEST_F(IrisCodeMatcherTest, OrdinalsResolveToTheDocumentedCalls) {
  for (unsigned ordinalL : {11u, 16u, 21u, 22u, 23u}) {
    EXPECT_NE(qrlIrisProcByOrdinal(ordinalL), nullptr) << ordinalL;
  }
  for (unsigned ordinalL : {0u, 10u, 12u, 17u, 20u, 24u}) {
    EXPECT_EQ(qrlIrisProcByOrdinal(ordinalL), nullptr) << ordinalL;
  }
  EXPECT_EQ(qrlIrisProcByOrdinal(16), reinterpret_cast<void*>(&qrlIrisLoadProbe));
  EXPECT_EQ(qrlIrisProcByOrdinal(22), reinterpret_cast<void*>(&qrlIrisCountWordPortable));
}

}  // namespace
