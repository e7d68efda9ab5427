#include <qrlcore/RWLock.h>

#include <cerrno>
#include <cstring>

#include <qrlcore/Exception.h>

namespace qrsys {
namespace {

void check(int resultA, const char* operationA, const char* functionA) {
  if (resultA != 0) {
    KXXCP_THROW(functionA, operationA << " failed: " << std::strerror(resultA));
  }
}

}  // namespace

RWLock::RWLock() {
  pthread_rwlockattr_t attributesL;
  check(pthread_rwlockattr_init(&attributesL), "init", "qrsys::RWLock::RWLock");
  pthread_rwlockattr_setkind_np(&attributesL, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  const int resultL = pthread_rwlock_init(&lockM, &attributesL);
  pthread_rwlockattr_destroy(&attributesL);
  check(resultL, "init", "qrsys::RWLock::RWLock");
}

RWLock::~RWLock() {
  pthread_rwlock_destroy(&lockM);
}

void RWLock::rdlock() {
  check(pthread_rwlock_rdlock(&lockM), "rdlock", "qrsys::RWLock::rdlock");
}
void RWLock::wrlock() {
  check(pthread_rwlock_wrlock(&lockM), "wrlock", "qrsys::RWLock::wrlock");
}
void RWLock::unlock() {
  check(pthread_rwlock_unlock(&lockM), "unlock", "qrsys::RWLock::unlock");
}

void RWLock::unlockNoThrow() noexcept {
  pthread_rwlock_unlock(&lockM);
}

bool RWLock::tryRdlock() {
  const int resultL = pthread_rwlock_tryrdlock(&lockM);
  if (resultL == EBUSY) return false;
  check(resultL, "tryRdlock", "qrsys::RWLock::tryRdlock");
  return true;
}

bool RWLock::tryWrlock() {
  const int resultL = pthread_rwlock_trywrlock(&lockM);
  if (resultL == EBUSY) return false;
  check(resultL, "tryWrlock", "qrsys::RWLock::tryWrlock");
  return true;
}

}  // namespace qrsys
