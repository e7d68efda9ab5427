#pragma once

#include <functional>
#include <memory>

#include <qrlcore/CoreExport.h>

namespace kxutl {

// What a work function learns about the worker it runs on.
struct ThreadData {
  unsigned int threadIndexM = 0;      // zero-based, distinct per worker of a pool
  unsigned int numberOfThreadsM = 0;  // the pool's number of workers
  void* userPtrM = nullptr;           // the pool's user pointer
};

// A pool of persistent worker threads. The workers start in the constructor and wait; each
// DoThreadedWork() wakes all of them to run the function once each and waits until all have
// finished. Callers use threadIndexM to pick their own slice of a per-worker array behind the
// user pointer.
//
// DoThreadedWork may be called from several threads; the calls run one after the other. It
// must not be called from a worker of the same pool (that would wait for itself).
class QRLCORE_EXPORT COrvixThreadPool {
 public:
  using WorkFunction = std::function<void(ThreadData&)>;
  static constexpr unsigned int kMaxThreads = 1024;

  // Starts numberOfThreadsA workers. The pool does not own userPtrA. Throws
  //   "Number of threads must be between 1 and 1024: '<n>'."
  //   "Cannot start worker thread <i>: <reason>" (the workers already started are joined)
  COrvixThreadPool(unsigned int numberOfThreadsA, void* userPtrA);
  // Stops and joins the workers. Must not run while a DoThreadedWork call is in progress.
  ~COrvixThreadPool();
  COrvixThreadPool(const COrvixThreadPool&) = delete;
  COrvixThreadPool& operator=(const COrvixThreadPool&) = delete;

  // Runs workA(data) once on every worker and returns when all have finished: true then.
  // Returns false, running nothing, when workA is empty.
  // When workers throw, all workers still finish, and then the exception of the lowest-index
  // failing worker reaches the caller: a kxxcp::Exception (or a derived kind) as it was thrown;
  // any other kind as kxxcp::Exception with function "kxutl::COrvixThreadPool::DoThreadedWork"
  // and the message "std exc caught: <what>", "int exc caught: <n>" or "unknown exc caught: ".
  // Called from one of the pool's own workers it throws
  //   "DoThreadedWork called from a worker thread of the same pool."
  bool DoThreadedWork(const WorkFunction& workA);

  unsigned int numberOfThreads() const;
  void* userPtr() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> implM;
};

}  // namespace kxutl
