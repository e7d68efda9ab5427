#include <qrlcore/Notification.h>

#include <gtest/gtest.h>
#include <qrlcore/QuarlenInformation.h>

#include <condition_variable>
#include <iomanip>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace kxntc {
namespace {

using kxutl::QuarlenInformation;

class NotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLevelM = QuarlenInformation::debugLevelS;
    QuarlenInformation::debugLevelS = 0;
    previousM = setSink([this](Level levelA, const std::string& textA) {
      entriesM.emplace_back(levelA, textA);  // the sink runs under the notification lock
    });
  }
  void TearDown() override {
    setSink(previousM);
    QuarlenInformation::debugLevelS = savedLevelM;
  }

  std::vector<std::pair<Level, std::string>> entriesM;
  Sink previousM;
  int savedLevelM = 0;
};

TEST_F(NotificationTest, StreamedTextIsOneEntry) {
  error << "Invalid value '" << 42 << "' at " << std::fixed << std::setprecision(2) << 1.5
        << std::endl;
  notify(error);
  warning << "Merging of template meta data not possible.";
  notify(warning);
  log << "";
  notify(log);
  ASSERT_EQ(entriesM.size(), 3u);
  EXPECT_EQ(entriesM[0].first, Level::error);
  EXPECT_EQ(entriesM[0].second, "Invalid value '42' at 1.50\n");
  EXPECT_EQ(entriesM[1].first, Level::warning);
  EXPECT_EQ(entriesM[1].second, "Merging of template meta data not possible.");
  EXPECT_EQ(entriesM[2].second, "");
  // notify() empties the buffer and its formatting: the next entry starts fresh.
  error << "second " << 0.125;
  notify(error);
  EXPECT_EQ(entriesM.back().second, "second 0.125");
}

TEST_F(NotificationTest, DebugEntriesNeedALevelAndThresholdsCanChange) {
  EXPECT_FALSE(debug.enabled());
  debug << "dropped";
  notify(debug);
  EXPECT_TRUE(entriesM.empty());

  QuarlenInformation::debugLevelS = 1;
  debug << "kept";
  notify(debug);
  ASSERT_EQ(entriesM.size(), 1u);
  EXPECT_EQ(entriesM[0].second, "kept") << "the dropped text must not linger in the buffer";

  log.setThreshold(3);
  log << "quiet at level 1";
  notify(log);
  QuarlenInformation::debugLevelS = 3;
  log << "heard at level 3";
  notify(log);
  log.setThreshold(0);
  ASSERT_EQ(entriesM.size(), 2u);
  EXPECT_EQ(entriesM[1].second, "heard at level 3");
  EXPECT_STREQ(debug.name(), "debug");
}

TEST_F(NotificationTest, ThreadsStreamIntoTheirOwnBuffers) {
  std::mutex mutexL;
  std::condition_variable cvL;
  int stepL = 0;
  auto waitFor = [&](int s) {
    std::unique_lock<std::mutex> lockL(mutexL);
    cvL.wait(lockL, [&] { return stepL >= s; });
  };
  auto advance = [&] {
    std::lock_guard<std::mutex> lockL(mutexL);
    ++stepL;
    cvL.notify_all();
  };
  std::thread firstL([&] {
    error << "first-begin ";
    advance();  // step 1
    waitFor(2);
    error << "first-end";
    notify(error);
  });
  std::thread secondL([&] {
    waitFor(1);
    error << "second-whole";
    notify(error);
    advance();  // step 2
  });
  firstL.join();
  secondL.join();
  ASSERT_EQ(entriesM.size(), 2u);
  EXPECT_EQ(entriesM[0].second, "second-whole");
  EXPECT_EQ(entriesM[1].second, "first-begin first-end");
}

TEST_F(NotificationTest, ConcurrentEntriesStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kEntries = 200;
  std::vector<std::thread> threadsL;
  for (int t = 0; t < kThreads; ++t) {
    threadsL.emplace_back([t] {
      for (int i = 0; i < kEntries; ++i) {
        log << "thread " << t << " entry " << i;
        log << " end";
        notify(log);
      }
    });
  }
  for (auto& th : threadsL) th.join();
  ASSERT_EQ(entriesM.size(), static_cast<size_t>(kThreads * kEntries));
  std::vector<int> nextL(kThreads, 0);
  for (const auto& e : entriesM) {
    int t = -1;
    int i = -1;
    std::istringstream in(e.second);
    std::string w1, w2, w3;
    in >> w1 >> t >> w2 >> i >> w3;
    ASSERT_TRUE(t >= 0 && t < kThreads) << e.second;
    EXPECT_EQ(i, nextL[t]++) << "entries of one thread arrive in order";
    EXPECT_EQ(e.second, "thread " + std::to_string(t) + " entry " + std::to_string(i) + " end");
  }
}

TEST_F(NotificationTest, DefaultSinkPrefixesTheChannelAndEndsTheLine) {
  std::ostringstream capturedL;
  std::streambuf* oldL = std::cerr.rdbuf(capturedL.rdbuf());
  defaultSink(Level::warning, "one");
  defaultSink(Level::error, "two\n");
  defaultSink(Level::debug, "");
  std::cerr.rdbuf(oldL);
  EXPECT_EQ(capturedL.str(), "[warning] one\n[error] two\n[debug] \n");
}

TEST_F(NotificationTest, ASinkThatThrowsDoesNotEscape) {
  setSink([](Level, const std::string&) { throw std::runtime_error("sink broken"); });
  error << "x";
  EXPECT_NO_THROW(notify(error));
}

}  // namespace
}  // namespace kxntc
