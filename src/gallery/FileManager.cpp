#include <quarlen/FileManager.h>

#include <climits>
#include <cstdio>

#include <unistd.h>

// Constant-initialised: the defaults are in force before any static constructor runs.
FileManager::OpenFuncPtr FileManager::openFuncPtrS = &FileManager::defaultOpen;
FileManager::CloseFuncPtr FileManager::closeFuncPtrS = &FileManager::defaultClose;
FileManager::FlushFuncPtr FileManager::flushFuncPtrS = &FileManager::defaultFlush;
FileManager::ReadFuncPtr FileManager::readFuncPtrS = &FileManager::defaultRead;
FileManager::WriteFuncPtr FileManager::writeFuncPtrS = &FileManager::defaultWrite;
FileManager::SeekFuncPtr FileManager::seekFuncPtrS = &FileManager::defaultSeek;
FileManager::TellFuncPtr FileManager::tellFuncPtrS = &FileManager::defaultTell;
FileManager::TruncateFuncPtr FileManager::truncateFuncPtrS = &FileManager::defaultTruncate;
FileManager::SyncFuncPtr FileManager::syncFuncPtrS = &FileManager::defaultSync;
void* FileManager::stateManagerS = nullptr;

namespace {

template <typename F>
bool replaceEntry(F& entryA, F funcA) {
  if (funcA == nullptr) return false;
  entryA = funcA;
  return true;
}

std::FILE* asFile(void* handleA) {
  return static_cast<std::FILE*>(handleA);
}

}  // namespace

FileManager::FileManager() {
  reset();
}

bool FileManager::setOpenFuncPtr(OpenFuncPtr funcA) {
  return replaceEntry(openFuncPtrS, funcA);
}
bool FileManager::setCloseFuncPtr(CloseFuncPtr funcA) {
  return replaceEntry(closeFuncPtrS, funcA);
}
bool FileManager::setFlushFuncPtr(FlushFuncPtr funcA) {
  return replaceEntry(flushFuncPtrS, funcA);
}
bool FileManager::setReadFuncPtr(ReadFuncPtr funcA) {
  return replaceEntry(readFuncPtrS, funcA);
}
bool FileManager::setWriteFuncPtr(WriteFuncPtr funcA) {
  return replaceEntry(writeFuncPtrS, funcA);
}
bool FileManager::setSeekFuncPtr(SeekFuncPtr funcA) {
  return replaceEntry(seekFuncPtrS, funcA);
}
bool FileManager::setTellFuncPtr(TellFuncPtr funcA) {
  return replaceEntry(tellFuncPtrS, funcA);
}
bool FileManager::setTruncateFuncPtr(TruncateFuncPtr funcA) {
  return replaceEntry(truncateFuncPtrS, funcA);
}
bool FileManager::setSyncFuncPtr(SyncFuncPtr funcA) {
  return replaceEntry(syncFuncPtrS, funcA);
}

bool FileManager::setGlobalStateManager(void* stateManagerA) {
  stateManagerS = stateManagerA;
  return true;
}

void FileManager::reset() {
  openFuncPtrS = &defaultOpen;
  closeFuncPtrS = &defaultClose;
  flushFuncPtrS = &defaultFlush;
  readFuncPtrS = &defaultRead;
  writeFuncPtrS = &defaultWrite;
  seekFuncPtrS = &defaultSeek;
  tellFuncPtrS = &defaultTell;
  truncateFuncPtrS = &defaultTruncate;
  syncFuncPtrS = &defaultSync;
  stateManagerS = nullptr;
}

void* FileManager::defaultOpen(void* /*stateManagerA*/, const char* pathA, const char* modeA) {
  if (pathA == nullptr || modeA == nullptr) return nullptr;
  return std::fopen(pathA, modeA);
}

int FileManager::defaultClose(void* handleA) {
  if (handleA == nullptr) return EOF;
  return std::fclose(asFile(handleA));
}

int FileManager::defaultFlush(void* handleA) {
  if (handleA == nullptr) return EOF;
  return std::fflush(asFile(handleA));
}

unsigned long long FileManager::defaultRead(void* bufferA, unsigned long long sizeA,
                                            unsigned long long countA, void* handleA) {
  if (handleA == nullptr || bufferA == nullptr) return 0;
  return std::fread(bufferA, static_cast<std::size_t>(sizeA), static_cast<std::size_t>(countA),
                    asFile(handleA));
}

unsigned long long FileManager::defaultWrite(const void* bufferA, unsigned long long sizeA,
                                             unsigned long long countA, void* handleA) {
  if (handleA == nullptr || bufferA == nullptr) return 0;
  return std::fwrite(bufferA, static_cast<std::size_t>(sizeA), static_cast<std::size_t>(countA),
                     asFile(handleA));
}

int FileManager::defaultSeek(void* handleA, unsigned long long offsetA, int originA) {
  if (handleA == nullptr) return -1;
  // The offset is a signed position for fseeko: larger values cannot name a place in a file.
  if (offsetA > static_cast<unsigned long long>(LLONG_MAX)) return -1;
  return fseeko(asFile(handleA), static_cast<off_t>(offsetA), originA);
}

unsigned long long FileManager::defaultTell(void* handleA) {
  if (handleA == nullptr) return ~0ULL;
  const off_t posL = ftello(asFile(handleA));
  return posL < 0 ? ~0ULL : static_cast<unsigned long long>(posL);
}

int FileManager::defaultTruncate(void* /*handleA*/, unsigned long long /*sizeA*/) {
  return 0;
}

int FileManager::defaultSync(void* handleA) {
  if (handleA == nullptr) return -1;
  // The handle is a FILE* only while the default open is installed.
  if (openFuncPtrS != &defaultOpen) return 0;
  std::FILE* fileL = asFile(handleA);
  if (std::fflush(fileL) != 0) return -1;
  return ::fsync(fileno(fileL));
}
