#include "gallery/FidJournal.h"

#include <quarlen/FileManager.h>

#include <cstdio>
#include <sstream>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"

namespace qridy {

namespace {

// Closes a FileManager handle when it goes out of scope.
class Handle {
 public:
  // An empty path opens nothing.
  Handle(const std::string& pathA, const char* modeA)
      : hM(pathA.empty()
               ? nullptr
               : FileManager::openFuncPtrS(FileManager::stateManagerS, pathA.c_str(), modeA)) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void* get() const { return hM; }
  bool close() {
    if (hM == nullptr) return true;
    const bool okL = FileManager::closeFuncPtrS(hM) == 0;
    hM = nullptr;
    return okL;
  }

 private:
  void* hM;
};

bool writeAll(void* hA, std::uint64_t offsetA, const void* dataA, std::size_t sizeA, bool syncA) {
  if (FileManager::seekFuncPtrS(hA, offsetA, SEEK_SET) != 0) return false;
  if (sizeA != 0 && FileManager::writeFuncPtrS(dataA, 1, sizeA, hA) != sizeA) return false;
  if (FileManager::flushFuncPtrS(hA) != 0) return false;
  return !syncA || FileManager::syncFuncPtrS(hA) == 0;
}

bool plainName(const std::string& nameA) {
  return !nameA.empty() && nameA.size() <= FidJournal::kMaxNameLength && nameA != "." &&
         nameA != ".." && nameA.find('/') == std::string::npos &&
         nameA.find('\\') == std::string::npos && nameA.find('\0') == std::string::npos;
}

}  // namespace

FidJournal::FidJournal(std::string directoryA, std::string fileNameA)
    : directoryM(std::move(directoryA)), fileNameM(std::move(fileNameA)) {}

FidJournal::~FidJournal() = default;

bool FidJournal::fail(const std::string& messageA) {
  lastErrorM = messageA;
  return false;
}

bool FidJournal::create(bool syncA) {
  return begin({}, syncA) && finish(syncA);
}

bool FidJournal::begin(const std::vector<Patch>& patchesA, bool syncA) {
  std::string bodyL;
  coding::appendFixed32(bodyL, static_cast<std::uint32_t>(patchesA.size()));
  for (const Patch& patchL : patchesA) {
    if (!plainName(patchL.fileName) || patchL.bytes.size() > kMaxPatchBytes ||
        patchL.offset > kMaxPatchEnd - patchL.bytes.size()) {
      return fail("Invalid FID journal patch for '" + patchL.fileName + "'.");
    }
    coding::appendFixed16(bodyL, static_cast<std::uint16_t>(patchL.fileName.size()));
    bodyL += patchL.fileName;
    coding::appendFixed64(bodyL, patchL.offset);
    coding::appendFixed32(bodyL, static_cast<std::uint32_t>(patchL.bytes.size()));
    bodyL.append(reinterpret_cast<const char*>(patchL.bytes.data()), patchL.bytes.size());
  }
  std::string fileL;
  coding::appendFixed32(fileL, kMagic);
  coding::appendFixed32(fileL, kVersion);
  coding::appendFixed32(fileL, kActive);
  coding::appendFixed32(fileL, static_cast<std::uint32_t>(bodyL.size()));
  coding::appendFixed32(fileL, fid::recordChecksum(bodyL.data(), bodyL.size()));
  fileL += bodyL;
  // Rewritten in place: truncating a file costs the file system far more than the write. Bytes
  // of an older, longer journal may stay behind the body; the header's length says where the
  // body ends. A write cut short leaves a body that fails its checksum: a torn journal.
  Handle existingL(path(), "r+b");
  Handle createdL(existingL.get() == nullptr ? path() : std::string(), "wb");
  Handle& hL = existingL.get() != nullptr ? existingL : createdL;
  if (hL.get() == nullptr) return fail("Cannot create FID journal '" + path() + "'.");
  if (!writeAll(hL.get(), 0, fileL.data(), fileL.size(), syncA) || !hL.close()) {
    return fail("Cannot write FID journal '" + path() + "'.");
  }
  return true;
}

bool FidJournal::writeState(void* handleA, std::uint32_t stateA, bool syncA) {
  unsigned char bL[4];
  coding::encodeFixed32(bL, stateA);
  return writeAll(handleA, 8, bL, 4, syncA);
}

bool FidJournal::finish(bool syncA) {
  return setState(kIdle, syncA);
}

bool FidJournal::activate(bool syncA) {
  return setState(kActive, syncA);
}

bool FidJournal::setState(std::uint32_t stateA, bool syncA) {
  Handle hL(path(), "r+b");
  if (hL.get() == nullptr) return fail("Cannot open FID journal '" + path() + "'.");
  if (!writeState(hL.get(), stateA, syncA) || !hL.close()) {
    return fail("Cannot write FID journal '" + path() + "'.");
  }
  return true;
}

bool FidJournal::inspect(State& stateA, std::vector<Patch>& patchesA,
                         const std::function<bool(const std::string&)>& acceptNameA) {
  patchesA.clear();
  Handle hL(path(), "rb");
  if (hL.get() == nullptr) {
    stateA = State::Missing;
    return true;
  }
  stateA = State::Torn;
  unsigned char headL[kHeaderSize];
  if (FileManager::readFuncPtrS(headL, 1, kHeaderSize, hL.get()) != kHeaderSize) return true;
  coding::Cursor headCursorL(headL, kHeaderSize);
  std::uint32_t magicL = 0, versionL = 0, activeL = 0, lengthL = 0, checksumL = 0;
  headCursorL.getFixed32(magicL);
  headCursorL.getFixed32(versionL);
  headCursorL.getFixed32(activeL);
  headCursorL.getFixed32(lengthL);
  headCursorL.getFixed32(checksumL);
  if (magicL != kMagic || versionL != kVersion) return true;
  if (activeL == kIdle) {
    stateA = State::Idle;
    return true;
  }
  // Read the body in bounded steps: a hostile length cannot force a large allocation.
  std::vector<unsigned char> bodyL;
  constexpr std::size_t kChunk = 64 * 1024;
  while (bodyL.size() < lengthL) {
    const std::size_t wantL = std::min<std::size_t>(kChunk, lengthL - bodyL.size());
    const std::size_t oldL = bodyL.size();
    bodyL.resize(oldL + wantL);
    if (FileManager::readFuncPtrS(bodyL.data() + oldL, 1, wantL, hL.get()) != wantL) return true;
  }
  if (fid::recordChecksum(bodyL.data(), bodyL.size()) != checksumL) return true;

  coding::Cursor cL(bodyL.data(), bodyL.size());
  std::uint32_t countL = 0;
  if (!cL.getFixed32(countL)) return fail("Invalid FID journal '" + path() + "'.");
  std::vector<Patch> patchesL;
  for (std::uint32_t i = 0; i < countL; ++i) {
    Patch patchL;
    std::uint16_t nameLengthL = 0;
    std::uint32_t sizeL = 0;
    if (!cL.getFixed16(nameLengthL) || nameLengthL > cL.remaining()) {
      return fail("Invalid FID journal '" + path() + "'.");
    }
    patchL.fileName.assign(reinterpret_cast<const char*>(cL.position()), nameLengthL);
    cL.skip(nameLengthL);
    if (!cL.getFixed64(patchL.offset) || !cL.getFixed32(sizeL) || sizeL > kMaxPatchBytes ||
        sizeL > cL.remaining() || patchL.offset > kMaxPatchEnd - sizeL) {
      return fail("Invalid FID journal '" + path() + "'.");
    }
    patchL.bytes.assign(cL.position(), cL.position() + sizeL);
    cL.skip(sizeL);
    if (!plainName(patchL.fileName) || !acceptNameA(patchL.fileName)) {
      return fail("FID journal names a foreign file: '" + patchL.fileName + "'.");
    }
    patchesL.push_back(std::move(patchL));
  }
  if (cL.remaining() != 0) return fail("Invalid FID journal '" + path() + "'.");
  patchesA = std::move(patchesL);
  stateA = State::Active;
  return true;
}

bool FidJournal::undo(const std::vector<Patch>& patchesA, bool syncA) {
  for (std::size_t i = 0; i < patchesA.size(); ++i) {
    const Patch& patchL = patchesA[i];
    failedPatchM = i;
    Handle hL(directoryM + "/" + patchL.fileName, "r+b");
    if (hL.get() == nullptr) continue;
    if (!writeAll(hL.get(), patchL.offset, patchL.bytes.data(), patchL.bytes.size(), syncA) ||
        !hL.close()) {
      std::ostringstream osL;
      osL << "Cannot restore '" << patchL.fileName << "' at offset " << patchL.offset << ".";
      return fail(osL.str());
    }
  }
  return true;
}

bool FidJournal::recover(const std::function<bool(const std::string&)>& acceptNameA, bool syncA,
                         State& foundA) {
  std::vector<Patch> patchesL;
  if (!inspect(foundA, patchesL, acceptNameA)) return false;
  if (foundA != State::Active) return true;
  return undo(patchesL, syncA) && finish(syncA);
}

}  // namespace qridy
