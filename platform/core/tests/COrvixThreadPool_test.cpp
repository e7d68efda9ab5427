#include <qrlcore/COrvixThreadPool.h>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include <atomic>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <vector>

namespace kxutl {
namespace {

class COrvixThreadPoolTest : public ::testing::Test {
 protected:
  template <typename Call>
  static kxxcp::Exception caught(Call callA) {
    try {
      callA();
    } catch (const kxxcp::Exception& e) {
      return e;
    }
    return kxxcp::Exception("no exception", "", 0, "");
  }
};

TEST_F(COrvixThreadPoolTest, EveryWorkerRunsOnceWithItsIndexAndTheUserPointer) {
  constexpr unsigned kThreads = 6;
  std::vector<int> slotsL(kThreads, 0);
  COrvixThreadPool poolL(kThreads, &slotsL);
  EXPECT_EQ(poolL.numberOfThreads(), kThreads);
  EXPECT_EQ(poolL.userPtr(), &slotsL);
  std::atomic<int> callsL{0};
  EXPECT_TRUE(poolL.DoThreadedWork([&](ThreadData& dataA) {
    auto& slots = *static_cast<std::vector<int>*>(dataA.userPtrM);
    EXPECT_EQ(dataA.numberOfThreadsM, kThreads);
    slots[dataA.threadIndexM] += static_cast<int>(dataA.threadIndexM) + 1;
    ++callsL;
  }));
  EXPECT_EQ(callsL.load(), static_cast<int>(kThreads));
  for (unsigned i = 0; i < kThreads; ++i) EXPECT_EQ(slotsL[i], static_cast<int>(i) + 1);
}

TEST_F(COrvixThreadPoolTest, WorkersArePersistentAcrossCalls) {
  constexpr unsigned kThreads = 4;
  COrvixThreadPool poolL(kThreads, nullptr);
  std::mutex mutexL;
  std::set<std::thread::id> idsL;
  std::vector<std::set<std::thread::id>> idsPerIndexL(kThreads);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::thread::id> roundL(kThreads);
    ASSERT_TRUE(poolL.DoThreadedWork(
        [&](ThreadData& dataA) { roundL[dataA.threadIndexM] = std::this_thread::get_id(); }));
    std::lock_guard<std::mutex> lockL(mutexL);
    for (unsigned i = 0; i < kThreads; ++i) {
      EXPECT_NE(roundL[i], std::this_thread::get_id()) << "work runs on workers, not the caller";
      idsL.insert(roundL[i]);
      idsPerIndexL[i].insert(roundL[i]);
    }
  }
  EXPECT_EQ(idsL.size(), kThreads) << "the same threads serve every call";
  for (const auto& s : idsPerIndexL) EXPECT_EQ(s.size(), 1u) << "an index keeps its thread";
}

TEST_F(COrvixThreadPoolTest, ExceptionsOfWorkersReachTheCaller) {
  COrvixThreadPool poolL(4, nullptr);
  std::atomic<int> finishedL{0};
  // Workers 1 and 3 fail; the lowest index is reported, and every worker still runs.
  const auto e1 = caught([&] {
    poolL.DoThreadedWork([&](ThreadData& d) {
      ++finishedL;
      if (d.threadIndexM == 3) KXXCP_THROW_CODE("worker3", 7, "three");
      if (d.threadIndexM == 1) KXXCP_THROW_CODE("worker1", 5, "one");
    });
  });
  EXPECT_EQ(finishedL.load(), 4);
  EXPECT_EQ(e1.getMessage(), "one");
  EXPECT_EQ(e1.getFunction(), "worker1");
  EXPECT_EQ(e1.errorCode(), 5);

  const auto e2 = caught([&] {
    poolL.DoThreadedWork([](ThreadData& d) {
      if (d.threadIndexM == 2) throw std::runtime_error("bad slice");
    });
  });
  EXPECT_EQ(e2.getMessage(), "std exc caught: bad slice");
  EXPECT_EQ(e2.getFunction(), "kxutl::COrvixThreadPool::DoThreadedWork");
  const auto e3 = caught([&] { poolL.DoThreadedWork([](ThreadData&) { throw 12; }); });
  EXPECT_EQ(e3.getMessage(), "int exc caught: 12");
  const auto e4 = caught([&] { poolL.DoThreadedWork([](ThreadData&) { throw 1.5; }); });
  EXPECT_EQ(e4.getMessage(), "unknown exc caught: ");

  // A derived kind keeps its type.
  EXPECT_THROW(poolL.DoThreadedWork([](ThreadData&) {
    throw kxxcp::EnrollException("enroll", __FILE__, __LINE__, "f");
  }),
               kxxcp::EnrollException);

  // The pool stays usable and a failure does not leak into the next call.
  std::atomic<int> okL{0};
  EXPECT_TRUE(poolL.DoThreadedWork([&](ThreadData&) { ++okL; }));
  EXPECT_EQ(okL.load(), 4);
}

TEST_F(COrvixThreadPoolTest, RefusedArgumentsAndCalls) {
  EXPECT_EQ(caught([] { COrvixThreadPool p(0, nullptr); }).getMessage(),
            "Number of threads must be between 1 and 1024: '0'.");
  EXPECT_EQ(caught([] { COrvixThreadPool p(1025, nullptr); }).getMessage(),
            "Number of threads must be between 1 and 1024: '1025'.");
  COrvixThreadPool poolL(2, nullptr);
  EXPECT_FALSE(poolL.DoThreadedWork(COrvixThreadPool::WorkFunction()));
  std::vector<std::string> innerL(2);
  EXPECT_TRUE(poolL.DoThreadedWork([&](ThreadData& d) {
    try {
      poolL.DoThreadedWork([](ThreadData&) {});
    } catch (const kxxcp::Exception& e) {
      innerL[d.threadIndexM] = e.getMessage();
    }
  }));
  for (const auto& m : innerL) {
    EXPECT_EQ(m, "DoThreadedWork called from a worker thread of the same pool.");
  }
}

TEST_F(COrvixThreadPoolTest, NestedPoolsAndConcurrentCallers) {
  // A worker of one pool may drive another pool; several callers share one pool.
  COrvixThreadPool innerPoolL(3, nullptr);
  COrvixThreadPool outerPoolL(2, nullptr);
  std::atomic<long> sumL{0};
  EXPECT_TRUE(outerPoolL.DoThreadedWork([&](ThreadData&) {
    for (int r = 0; r < 50; ++r) {
      innerPoolL.DoThreadedWork([&](ThreadData& d) { sumL += d.threadIndexM + 1; });
    }
  }));
  EXPECT_EQ(sumL.load(), 2 * 50 * (1 + 2 + 3));
}

TEST_F(COrvixThreadPoolTest, StressSlicesOfASharedArray) {
  // The pattern the matcher uses: each worker writes only its slice of a shared array.
  constexpr unsigned kThreads = 8;
  constexpr std::size_t kItems = 10007;
  std::vector<std::uint64_t> dataL(kItems, 0);
  COrvixThreadPool poolL(kThreads, dataL.data());
  for (int round = 1; round <= 100; ++round) {
    ASSERT_TRUE(poolL.DoThreadedWork([&](ThreadData& d) {
      auto* items = static_cast<std::uint64_t*>(d.userPtrM);
      const std::size_t per = kItems / d.numberOfThreadsM;
      const std::size_t begin = d.threadIndexM * per;
      const std::size_t end = d.threadIndexM + 1 == d.numberOfThreadsM ? kItems : begin + per;
      for (std::size_t i = begin; i < end; ++i) items[i] += i;
    }));
  }
  for (std::size_t i = 0; i < kItems; ++i) ASSERT_EQ(dataL[i], 100 * i);
  // Pools come and go quickly (one per identification call).
  for (int i = 0; i < 50; ++i) {
    COrvixThreadPool shortL(3, nullptr);
    if (i % 2 == 0) shortL.DoThreadedWork([](ThreadData&) {});
  }
}

}  // namespace
}  // namespace kxutl
