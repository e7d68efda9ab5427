#pragma once

#include <quarlen/QuarlenExport.h>

// The process-wide table of replaceable file functions. The gallery files do all their input and
// output through these entries instead of calling the standard I/O functions, so that a host can
// put gallery files into storage of its own by installing its own functions.
//
// Every handle is an opaque pointer that only the installed functions interpret; with the
// defaults it is a FILE*. The defaults are the standard functions: open = fopen (stateManager is
// ignored), close = fclose, flush = fflush, read = fread, write = fwrite, seek = fseek (the offset
// taken as a signed 64-bit position), tell = ftell (all ones on failure), truncate = nothing
// (returns 0: a host that needs files shortened installs its own function).
//
// Users call the entries directly:
//   void* h = FileManager::openFuncPtrS(FileManager::stateManagerS, path, "r+b");
// The gallery files use the modes "wb" (create), "r+b" (update) and "rb" (read).
//
// Beyond the standard entries the table has a sync entry: it asks the storage to make the data
// written and flushed so far durable (with the defaults: fsync on the descriptor of the FILE*).
// The gallery files call it only when durability against power loss is switched on. The default
// sync only acts on handles that the default open produced: while another open function is
// installed it does nothing and returns 0, so a host that replaces open and needs durability
// installs a sync function of its own.
//
// The table is plain global data without a lock: install hooks before any gallery file is opened
// and do not change them while files are open (a replaced entry would be applied to handles that
// the previous one opened). It holds the defaults from the moment the library is loaded.
class QUARLEN_EXPORT FileManager {
 public:
  using OpenFuncPtr = void* (*)(void* stateManagerA, const char* pathA, const char* modeA);
  using CloseFuncPtr = int (*)(void* handleA);
  using FlushFuncPtr = int (*)(void* handleA);
  using ReadFuncPtr = unsigned long long (*)(void* bufferA, unsigned long long sizeA,
                                             unsigned long long countA, void* handleA);
  using WriteFuncPtr = unsigned long long (*)(const void* bufferA, unsigned long long sizeA,
                                              unsigned long long countA, void* handleA);
  using SeekFuncPtr = int (*)(void* handleA, unsigned long long offsetA, int originA);
  using TellFuncPtr = unsigned long long (*)(void* handleA);
  using TruncateFuncPtr = int (*)(void* handleA, unsigned long long sizeA);
  using SyncFuncPtr = int (*)(void* handleA);

  // Does the same as reset().
  FileManager();

  // Each replaces one entry and returns true; a null function is refused (false, entry kept).
  static bool setOpenFuncPtr(OpenFuncPtr funcA);
  static bool setCloseFuncPtr(CloseFuncPtr funcA);
  static bool setFlushFuncPtr(FlushFuncPtr funcA);
  static bool setReadFuncPtr(ReadFuncPtr funcA);
  static bool setWriteFuncPtr(WriteFuncPtr funcA);
  static bool setSeekFuncPtr(SeekFuncPtr funcA);
  static bool setTellFuncPtr(TellFuncPtr funcA);
  static bool setTruncateFuncPtr(TruncateFuncPtr funcA);
  static bool setSyncFuncPtr(SyncFuncPtr funcA);
  // Stores the value passed as the first argument of every open call (null allowed); true.
  static bool setGlobalStateManager(void* stateManagerA);
  // Restores every default and sets the state manager to null.
  static void reset();

  // The defaults, for hooks that wrap them.
  static void* defaultOpen(void* stateManagerA, const char* pathA, const char* modeA);
  static int defaultClose(void* handleA);
  static int defaultFlush(void* handleA);
  static unsigned long long defaultRead(void* bufferA, unsigned long long sizeA,
                                        unsigned long long countA, void* handleA);
  static unsigned long long defaultWrite(const void* bufferA, unsigned long long sizeA,
                                         unsigned long long countA, void* handleA);
  static int defaultSeek(void* handleA, unsigned long long offsetA, int originA);
  static unsigned long long defaultTell(void* handleA);
  static int defaultTruncate(void* handleA, unsigned long long sizeA);
  static int defaultSync(void* handleA);

  // The entries.
  static OpenFuncPtr openFuncPtrS;
  static CloseFuncPtr closeFuncPtrS;
  static FlushFuncPtr flushFuncPtrS;
  static ReadFuncPtr readFuncPtrS;
  static WriteFuncPtr writeFuncPtrS;
  static SeekFuncPtr seekFuncPtrS;
  static TellFuncPtr tellFuncPtrS;
  static TruncateFuncPtr truncateFuncPtrS;
  static SyncFuncPtr syncFuncPtrS;
  static void* stateManagerS;
};
