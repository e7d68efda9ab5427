#include "frame/DllMain.h"

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/Environment.h"

namespace qridy {
namespace entry {
namespace {

const char* const kSucceeded = "\n******************Initializing Ipp succeeded******************\n";

std::string report(int statusA, const char* levelA) {
  std::ostringstream outL;
  reportPerformanceInitialisation(statusA, levelA, outL);
  return outL.str();
}

TEST(DllMainTest, ReportNeedsANonzeroDebugLevel) {
  EXPECT_EQ(report(0, nullptr), "");
  EXPECT_EQ(report(0, "0"), "");
  EXPECT_EQ(report(0, "abc"), "");
  EXPECT_EQ(report(0, ""), "");
  EXPECT_EQ(report(0, "00"), "");
  EXPECT_EQ(report(0, "3"), kSucceeded);
  // atoi reads a leading number and ignores the rest.
  EXPECT_EQ(report(0, "3abc"), kSucceeded);
  EXPECT_EQ(report(0, "  9"), kSucceeded);
  EXPECT_EQ(report(0, "-1"), kSucceeded);
}

TEST(DllMainTest, ReportLinePerStatus) {
  EXPECT_EQ(report(20, "1"),
            "\n******************Initializing Ipp succeeded: non Intel Cpu found "
            "!!******************\n");
  EXPECT_EQ(report(24, "1"),
            "\n******************Initializing Ipp failed (ippStsNoOperationInDll) "
            "!!******************\n");
  for (int status : {-1, 1, 21, 25, 100}) {
    EXPECT_EQ(report(status, "5"),
              "\n******************Initializing Ipp failed !!******************\n")
        << status;
  }
}

class DllMainEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousM = kxntc::setSink(
        [this](kxntc::Level l, const std::string& t) { entriesM.emplace_back(l, t); });
  }
  void TearDown() override { kxntc::setSink(previousM); }
  std::vector<std::pair<kxntc::Level, std::string>> entriesM;
  kxntc::Sink previousM;
};

TEST_F(DllMainEntryTest, FailuresAreLoggedNotThrown) {
  EXPECT_NO_THROW(runEntrySteps([] { KXXCP_THROW("qridy::x", "dispatch table missing"); }));
  EXPECT_NO_THROW(runEntrySteps([] { throw std::runtime_error("std"); }));
  EXPECT_NO_THROW(runEntrySteps([] { throw 3; }));
  runEntrySteps([] {});
  ASSERT_EQ(entriesM.size(), 3u);
  EXPECT_EQ(entriesM[0].first, kxntc::Level::error);
  EXPECT_EQ(entriesM[0].second, "Quarlen Dll main tolm::Exception caught : dispatch table missing");
  EXPECT_EQ(entriesM[1].second, "Quarlen Dll main unknown exception caught.");
  EXPECT_EQ(entriesM[2].second, "Quarlen Dll main unknown exception caught.");
}

TEST_F(DllMainEntryTest, EveryReasonSucceedsAndOnlyProcessAttachReports) {
  quarlen_test::ScopedEnv levelL("TOLM_QUARLEN_DEBUG_LEVEL", "3");
  for (unsigned long reason : {0ul, 2ul, 3ul, 7ul}) {
    std::ostringstream outL;
    EXPECT_EQ(dllMain(reason, outL), 1);
    EXPECT_EQ(outL.str(), "") << reason;
  }
  std::ostringstream outL;
  EXPECT_EQ(dllMain(kProcessAttach, outL), 1);
  EXPECT_EQ(outL.str(), kSucceeded);
  EXPECT_TRUE(entriesM.empty());

  quarlen_test::ScopedEnv quietL("TOLM_QUARLEN_DEBUG_LEVEL", "0");
  std::ostringstream quietOutL;
  EXPECT_EQ(dllMain(kProcessAttach, quietOutL), 1);
  EXPECT_EQ(quietOutL.str(), "");
}

}  // namespace
}  // namespace entry
}  // namespace qridy
