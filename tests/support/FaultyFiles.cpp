#include "support/FaultyFiles.h"

#include <cstdio>
#include <stdexcept>

namespace quarlen_test {
namespace {

struct Saved {
  FileManager::OpenFuncPtr open;
  FileManager::CloseFuncPtr close;
  FileManager::FlushFuncPtr flush;
  FileManager::ReadFuncPtr read;
  FileManager::WriteFuncPtr write;
  FileManager::SeekFuncPtr seek;
  FileManager::TellFuncPtr tell;
  FileManager::TruncateFuncPtr truncate;
  FileManager::SyncFuncPtr sync;
};

struct State {
  bool active = false;
  Saved saved{};
  std::array<unsigned long long, FaultyFiles::KindCount> counts{};
  FaultyFiles::Kind kind = FaultyFiles::Write;
  FaultyFiles::Mode mode = FaultyFiles::Once;
  unsigned long long failAt = 0;
  bool fired = false;
};

State& state() {
  static State s;
  return s;
}

// Counts the call and answers whether it is to fail.
bool failNow(FaultyFiles::Kind kindA) {
  State& s = state();
  const unsigned long long nL = ++s.counts[kindA];
  if (s.failAt == 0 || kindA != s.kind) return false;
  const bool failL = s.mode == FaultyFiles::Once ? nL == s.failAt : nL >= s.failAt;
  if (failL) s.fired = true;
  return failL;
}

void* hookOpen(void* smA, const char* pathA, const char* modeA) {
  if (failNow(FaultyFiles::Open)) return nullptr;
  return state().saved.open(smA, pathA, modeA);
}
int hookClose(void* hA) {
  const bool failL = failNow(FaultyFiles::Close);
  const int rcL = state().saved.close(hA);
  return failL ? EOF : rcL;
}
int hookFlush(void* hA) {
  if (failNow(FaultyFiles::Flush)) return EOF;
  return state().saved.flush(hA);
}
unsigned long long hookRead(void* bA, unsigned long long sA, unsigned long long cA, void* hA) {
  if (failNow(FaultyFiles::Read)) return cA / 2 == 0 ? 0 : state().saved.read(bA, sA, cA / 2, hA);
  return state().saved.read(bA, sA, cA, hA);
}
unsigned long long hookWrite(const void* bA, unsigned long long sA, unsigned long long cA,
                             void* hA) {
  if (failNow(FaultyFiles::Write)) {
    return cA / 2 == 0 ? 0 : state().saved.write(bA, sA, cA / 2, hA);
  }
  return state().saved.write(bA, sA, cA, hA);
}
int hookSeek(void* hA, unsigned long long offA, int originA) {
  if (failNow(FaultyFiles::Seek)) return -1;
  return state().saved.seek(hA, offA, originA);
}
unsigned long long hookTell(void* hA) {
  if (failNow(FaultyFiles::Tell)) return ~0ULL;
  return state().saved.tell(hA);
}
int hookTruncate(void* hA, unsigned long long sizeA) {
  if (failNow(FaultyFiles::Truncate)) return -1;
  return state().saved.truncate(hA, sizeA);
}
int hookSync(void* hA) {
  if (failNow(FaultyFiles::Sync)) return -1;
  return state().saved.sync(hA);
}

}  // namespace

FaultyFiles::FaultyFiles(Kind kindA, unsigned long long failAtA, Mode modeA)
    : kindM(kindA), modeM(modeA), failAtM(failAtA) {
  State& s = state();
  if (s.active) throw std::logic_error("FaultyFiles: only one may be installed at a time");
  s = State();
  s.active = true;
  s.saved =
      Saved{FileManager::openFuncPtrS, FileManager::closeFuncPtrS,    FileManager::flushFuncPtrS,
            FileManager::readFuncPtrS, FileManager::writeFuncPtrS,    FileManager::seekFuncPtrS,
            FileManager::tellFuncPtrS, FileManager::truncateFuncPtrS, FileManager::syncFuncPtrS};
  FileManager::setOpenFuncPtr(&hookOpen);
  FileManager::setCloseFuncPtr(&hookClose);
  FileManager::setFlushFuncPtr(&hookFlush);
  FileManager::setReadFuncPtr(&hookRead);
  FileManager::setWriteFuncPtr(&hookWrite);
  FileManager::setSeekFuncPtr(&hookSeek);
  FileManager::setTellFuncPtr(&hookTell);
  FileManager::setTruncateFuncPtr(&hookTruncate);
  FileManager::setSyncFuncPtr(&hookSync);
  arm(kindA, failAtA, modeA);
}

FaultyFiles::~FaultyFiles() {
  State& s = state();
  FileManager::openFuncPtrS = s.saved.open;
  FileManager::closeFuncPtrS = s.saved.close;
  FileManager::flushFuncPtrS = s.saved.flush;
  FileManager::readFuncPtrS = s.saved.read;
  FileManager::writeFuncPtrS = s.saved.write;
  FileManager::seekFuncPtrS = s.saved.seek;
  FileManager::tellFuncPtrS = s.saved.tell;
  FileManager::truncateFuncPtrS = s.saved.truncate;
  FileManager::syncFuncPtrS = s.saved.sync;
  s.active = false;
}

void FaultyFiles::arm(Kind kindA, unsigned long long failAtA, Mode modeA) {
  kindM = kindA;
  failAtM = failAtA;
  modeM = modeA;
  State& s = state();
  s.kind = kindA;
  s.failAt = failAtA;
  s.mode = modeA;
  s.fired = false;
}

unsigned long long FaultyFiles::calls(Kind kindA) const {
  return state().counts[kindA];
}

void FaultyFiles::resetCounts() {
  state().counts.fill(0);
  state().fired = false;
}

bool FaultyFiles::fired() const {
  return state().fired;
}

const char* FaultyFiles::kindName(Kind kindA) {
  static const char* const kNames[KindCount] = {"open", "close", "flush",    "read", "write",
                                                "seek", "tell",  "truncate", "sync"};
  return kNames[kindA];
}

}  // namespace quarlen_test
