#pragma once

#include <quarlen/FileManager.h>

#include <array>

namespace quarlen_test {

// Installs counting wrappers around every entry of the FileManager table for its lifetime and
// makes the Nth call of one kind fail; the destructor puts back the entries it found. Only one
// FaultyFiles may exist at a time.
//
// A failing call behaves like failing storage: open returns null; close still releases the file
// but reports EOF; flush and sync report failure without doing anything; seek reports -1 without
// moving; read and write transfer the first half of the requested items (a torn write, a short
// read) and return that count; tell reports all ones; truncate reports -1.
class FaultyFiles {
 public:
  enum Kind { Open, Close, Flush, Read, Write, Seek, Tell, Truncate, Sync, KindCount };
  enum Mode {
    Once,      // only the Nth call fails
    FromThen,  // the Nth call and every later call of that kind fail
  };

  // failAtA = 0 counts calls without failing any.
  explicit FaultyFiles(Kind kindA = Write, unsigned long long failAtA = 0, Mode modeA = Once);
  ~FaultyFiles();
  FaultyFiles(const FaultyFiles&) = delete;
  FaultyFiles& operator=(const FaultyFiles&) = delete;

  // Chooses another call to fail; the counters keep running.
  void arm(Kind kindA, unsigned long long failAtA, Mode modeA = Once);
  void disarm() { arm(kindM, 0); }
  // Calls of a kind since construction (or since resetCounts).
  unsigned long long calls(Kind kindA) const;
  void resetCounts();
  // Whether the armed call has been reached.
  bool fired() const;

  static const char* kindName(Kind kindA);
  static std::array<Kind, 3> writeFlushSeek() { return {Write, Flush, Seek}; }

 private:
  Kind kindM;
  Mode modeM;
  unsigned long long failAtM;
};

}  // namespace quarlen_test
