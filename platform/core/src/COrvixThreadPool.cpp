#include <qrlcore/COrvixThreadPool.h>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <qrlcore/Exception.h>

namespace kxutl {
namespace {

// The pool whose worker the current thread is, to refuse calls that would wait for themselves.
thread_local const void* tlsWorkerOfPool = nullptr;

}  // namespace

struct COrvixThreadPool::Impl {
  unsigned int numberOfThreadsM = 0;
  void* userPtrM = nullptr;

  std::mutex callMutexM;  // one DoThreadedWork at a time

  std::mutex mutexM;  // guards everything below
  std::condition_variable wakeM;
  std::condition_variable doneM;
  const WorkFunction* workM = nullptr;
  std::uint64_t generationM = 0;  // incremented for every round of work
  unsigned int pendingM = 0;      // workers that have not finished the current round
  bool stopM = false;
  std::vector<std::exception_ptr> errorsM;

  std::vector<std::thread> threadsM;

  void run(unsigned int indexA);
  void stopAndJoin();
};

void COrvixThreadPool::Impl::run(unsigned int indexA) {
  tlsWorkerOfPool = this;
  std::uint64_t seenL = 0;
  std::unique_lock<std::mutex> lockL(mutexM);
  for (;;) {
    wakeM.wait(lockL, [&] { return stopM || generationM != seenL; });
    if (stopM) return;
    seenL = generationM;
    const WorkFunction* workL = workM;
    lockL.unlock();

    ThreadData dataL;
    dataL.threadIndexM = indexA;
    dataL.numberOfThreadsM = numberOfThreadsM;
    dataL.userPtrM = userPtrM;
    std::exception_ptr errorL;
    try {
      (*workL)(dataL);
    } catch (...) {
      errorL = std::current_exception();
    }

    lockL.lock();
    errorsM[indexA] = errorL;
    if (--pendingM == 0) doneM.notify_all();
  }
}

void COrvixThreadPool::Impl::stopAndJoin() {
  {
    std::lock_guard<std::mutex> lockL(mutexM);
    stopM = true;
  }
  wakeM.notify_all();
  for (auto& threadL : threadsM) threadL.join();
  threadsM.clear();
}

COrvixThreadPool::COrvixThreadPool(unsigned int numberOfThreadsA, void* userPtrA)
    : implM(std::make_unique<Impl>()) {
  if (numberOfThreadsA < 1 || numberOfThreadsA > kMaxThreads) {
    KXXCP_THROW("kxutl::COrvixThreadPool::COrvixThreadPool",
                "Number of threads must be between 1 and " << kMaxThreads << ": '"
                                                           << numberOfThreadsA << "'.");
  }
  implM->numberOfThreadsM = numberOfThreadsA;
  implM->userPtrM = userPtrA;
  implM->errorsM.resize(numberOfThreadsA);
  implM->threadsM.reserve(numberOfThreadsA);
  for (unsigned int i = 0; i < numberOfThreadsA; ++i) {
    try {
      implM->threadsM.emplace_back([impl = implM.get(), i] { impl->run(i); });
    } catch (const std::system_error& e) {
      implM->stopAndJoin();
      KXXCP_THROW("kxutl::COrvixThreadPool::COrvixThreadPool",
                  "Cannot start worker thread " << i << ": " << e.what());
    }
  }
}

COrvixThreadPool::~COrvixThreadPool() {
  implM->stopAndJoin();
}

bool COrvixThreadPool::DoThreadedWork(const WorkFunction& workA) {
  if (!workA) return false;
  if (tlsWorkerOfPool == implM.get()) {
    KXXCP_THROW("kxutl::COrvixThreadPool::DoThreadedWork",
                "DoThreadedWork called from a worker thread of the same pool.");
  }
  std::lock_guard<std::mutex> callLockL(implM->callMutexM);
  std::exception_ptr firstErrorL;
  {
    std::unique_lock<std::mutex> lockL(implM->mutexM);
    implM->workM = &workA;
    implM->pendingM = implM->numberOfThreadsM;
    ++implM->generationM;
    implM->wakeM.notify_all();
    implM->doneM.wait(lockL, [&] { return implM->pendingM == 0; });
    implM->workM = nullptr;
    for (auto& errorL : implM->errorsM) {
      if (errorL && !firstErrorL) firstErrorL = errorL;
      errorL = nullptr;
    }
  }
  if (firstErrorL) {
    try {
      std::rethrow_exception(firstErrorL);
    } catch (const kxxcp::Exception&) {
      throw;
    } catch (...) {
      KXXCP_RETHROW("kxutl::COrvixThreadPool::DoThreadedWork");
    }
  }
  return true;
}

unsigned int COrvixThreadPool::numberOfThreads() const {
  return implM->numberOfThreadsM;
}
void* COrvixThreadPool::userPtr() const {
  return implM->userPtrM;
}

}  // namespace kxutl
