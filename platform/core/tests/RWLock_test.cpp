#include <qrlcore/RWLock.h>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qrsys {
namespace {

TEST(RWLockTest, ReadersShareWritersExclude) {
  RWLock lockL;
  lockL.rdlock();
  std::atomic<bool> otherReadL{false};
  std::atomic<bool> otherWriteL{true};
  std::thread([&] {
    otherReadL = lockL.tryRdlock();
    if (otherReadL) lockL.unlock();
    otherWriteL = lockL.tryWrlock();
    if (otherWriteL) lockL.unlock();
  }).join();
  EXPECT_TRUE(otherReadL) << "a second reader gets in";
  EXPECT_FALSE(otherWriteL) << "a writer waits for the reader";
  lockL.unlock();

  lockL.wrlock();
  std::thread([&] {
    otherReadL = lockL.tryRdlock();
    if (otherReadL) lockL.unlock();
  }).join();
  EXPECT_FALSE(otherReadL) << "no reader while written";
  lockL.unlock();
  EXPECT_TRUE(lockL.tryWrlock());
  lockL.unlock();
}

TEST(RWLockTest, RecursiveWriteLockIsReportedNotDeadlocked) {
  RWLock lockL;
  RWLock::WriteGuard guardL(lockL);
  try {
    lockL.wrlock();
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "wrlock failed: Resource deadlock avoided");
    EXPECT_EQ(e.getFunction(), "qrsys::RWLock::wrlock");
  }
}

TEST(RWLockTest, StressKeepsAnInvariantAcrossWriters) {
  // Writers move units between two counters; readers must always see the same total.
  RWLock lockL;
  long aL = 1000;
  long bL = 0;
  std::atomic<int> badReadsL{0};
  std::atomic<long> readsL{0};
  std::vector<std::thread> threadsL;
  for (int w = 0; w < 3; ++w) {
    threadsL.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        RWLock::WriteGuard g(lockL);
        --aL;
        ++bL;
        ++aL;
        --bL;
        if (i % 2 == 0) {
          --aL;
          ++bL;
        } else {
          ++aL;
          --bL;
        }
      }
    });
  }
  for (int r = 0; r < 4; ++r) {
    threadsL.emplace_back([&] {
      for (int i = 0; i < 4000; ++i) {
        RWLock::ReadGuard g(lockL);
        if (aL + bL != 1000) ++badReadsL;
        ++readsL;
      }
    });
  }
  for (auto& t : threadsL) t.join();
  EXPECT_EQ(badReadsL.load(), 0);
  EXPECT_EQ(readsL.load(), 16000);
  EXPECT_EQ(aL + bL, 1000);
}

}  // namespace
}  // namespace qrsys
