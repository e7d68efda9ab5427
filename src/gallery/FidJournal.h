#pragma once

// An undo journal that makes a group of changes to the FID files of one directory all-or-nothing.
//
// Before a group of changes (a batch of added records, the removal of one record) the caller
// records the before-images of every byte range the changes will overwrite: the headers of the
// parts involved and the record headers of the records that will change (record data need no
// image: it lies in records that are free before, or free after, the change). begin() writes
// them, flushed (and synced when asked), and marks the journal active; finish() marks it idle once
// the changes are complete. If the process or the machine stops in between, the next opening
// finds an active journal and writes the before-images back (undo), which restores the files
// exactly as they were before the group; undo is idempotent, so an interrupted undo is simply
// repeated.
//
// A journal that is missing, torn (cut short, checksum wrong: the changes had not begun) or idle
// asks for nothing. Patches name files of the journal's directory by plain file name only; the
// caller decides which names are acceptable.
//
// The state word is 0 when idle and 0x01010101 when active; any other value counts as active, so
// that a write of either value that is cut short can never read as idle.
//
// Layout (little-endian): "BFJL", version 1, state, body length, body
// checksum (FID record checksum of the body), body = patch count, then per patch: name length
// (16-bit), name, offset (64-bit), length (32-bit), bytes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qridy {

class FidJournal {
 public:
  struct Patch {
    std::string fileName;  // plain name inside the journal's directory
    std::uint64_t offset = 0;
    std::vector<unsigned char> bytes;
  };
  enum class State { Missing, Idle, Torn, Active };

  static constexpr std::uint32_t kMagic = 0x4C4A4642u;  // "BFJL"
  static constexpr std::uint32_t kVersion = 1;
  static constexpr std::size_t kHeaderSize = 20;
  static constexpr std::uint32_t kIdle = 0;
  static constexpr std::uint32_t kActive = 0x01010101u;
  static constexpr std::size_t kMaxPatchBytes = 4096;
  static constexpr std::size_t kMaxNameLength = 255;
  // No FID part reaches beyond its header and 128 MiB of records.
  static constexpr std::uint64_t kMaxPatchEnd = 88 + 0x8000000ull;

  // directoryA: the directory of the files the patches name; fileNameA: the journal's name in it.
  FidJournal(std::string directoryA, std::string fileNameA);
  ~FidJournal();
  FidJournal(const FidJournal&) = delete;
  FidJournal& operator=(const FidJournal&) = delete;

  std::string path() const { return directoryM + "/" + fileNameM; }
  const std::string& lastError() const { return lastErrorM; }
  // The patch that undo() could not write back.
  std::size_t failedPatch() const { return failedPatchM; }

  // Writes an idle journal.
  bool create(bool syncA);
  // Reads the journal; for an active one, patchesA receives its before-images. acceptNameA
  // decides which file names a patch may name: an active journal naming another is refused
  // (false, lastError set).
  bool inspect(State& stateA, std::vector<Patch>& patchesA,
               const std::function<bool(const std::string&)>& acceptNameA);
  // Records the before-images and marks the journal active.
  bool begin(const std::vector<Patch>& patchesA, bool syncA);
  // Marks the journal idle.
  bool finish(bool syncA);
  // Marks the journal active again, keeping its before-images (before an undo whose outcome
  // must survive a failure half-way).
  bool activate(bool syncA);
  // Writes the before-images back into their files (a file that does not exist is skipped: it
  // was to be created by the changes).
  bool undo(const std::vector<Patch>& patchesA, bool syncA);

  // Undoes an active journal, if there is one, and marks it idle; foundA tells what was found.
  // A missing or torn journal is left as it is (the next begin() writes it afresh).
  bool recover(const std::function<bool(const std::string&)>& acceptNameA, bool syncA,
               State& foundA);

 private:
  bool fail(const std::string& messageA);
  bool writeState(void* handleA, std::uint32_t stateA, bool syncA);
  bool setState(std::uint32_t stateA, bool syncA);

  std::string directoryM;
  std::string fileNameM;
  std::string lastErrorM;
  std::size_t failedPatchM = 0;
};

}  // namespace qridy
