#pragma once

#include <pthread.h>

#include <qrlcore/CoreExport.h>

namespace qrsys {

// A read/write lock: many readers or one writer. A waiting writer is preferred over new
// readers, so a steady stream of readers cannot starve it; in consequence a thread must not
// take a read lock it already holds (a writer queued in between would deadlock it). Not
// recursive; unlock() releases whichever mode the calling thread holds.
//
// Failures reported by the system throw kxxcp::Exception
// "<operation> failed: <reason>" (for example "wrlock failed: Resource deadlock avoided" when
// the thread already holds the write lock).
class QRLCORE_EXPORT RWLock {
 public:
  RWLock();
  ~RWLock();
  RWLock(const RWLock&) = delete;
  RWLock& operator=(const RWLock&) = delete;

  void rdlock();
  void wrlock();
  void unlock();
  // Take the lock when that is possible without waiting; return whether it was taken.
  bool tryRdlock();
  bool tryWrlock();

  // Scoped holders: lock in the constructor, unlock in the destructor.
  class ReadGuard {
   public:
    explicit ReadGuard(RWLock& lockA) : lockM(lockA) { lockM.rdlock(); }
    ~ReadGuard() { lockM.unlockNoThrow(); }
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

   private:
    RWLock& lockM;
  };
  class WriteGuard {
   public:
    explicit WriteGuard(RWLock& lockA) : lockM(lockA) { lockM.wrlock(); }
    ~WriteGuard() { lockM.unlockNoThrow(); }
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;

   private:
    RWLock& lockM;
  };

 private:
  // For the guards' destructors, which must not throw: a failure there is ignored (the guard
  // took the lock, so unlocking it cannot fail).
  void unlockNoThrow() noexcept;

  pthread_rwlock_t lockM{};
};

}  // namespace qrsys
