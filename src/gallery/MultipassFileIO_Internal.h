#pragma once

// What the source files of MultipassFileIO share: the batch of a journaled change, the coding of
// index records, the notifications and the lock of blob reads. Private to src/gallery.

#include <quarlen/MultipassFileIO.h>

#include <qrlcore/Notification.h>
#include <qrlcore/RWLock.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/Coding.h"
#include "gallery/FidJournal.h"
#include "gallery/MultiPartFidFile.h"

namespace qridy {

struct MultipassFileIO::Batch {
  std::vector<FidJournal::Patch> patches;
  // What the change leaves behind when it completes, kept for a roll-back whose outcome is not
  // known (see settleUnknownOutcome).
  std::vector<IdRecKeyToBlobOffset> unsettledAdds;
  std::vector<IdRecKeyToBlobOffset> unsettledRemovals;
  std::vector<std::string> patchFiles;       // per patch: the FID file it belongs to
  std::vector<unsigned int> patchPositions;  // per patch: the record position it concerns
  std::vector<MultiPartFidFile*> touched;
  bool newParts = false;
};

namespace fileio {

inline void notifyError(const std::string& textA) {
  kxntc::error << textA;
  kxntc::notify(kxntc::error);
}

inline void notifyWarning(const std::string& textA) {
  kxntc::warning << textA;
  kxntc::notify(kxntc::warning);
}

// Blob reads of all galleries share one lock: a FID file has one file position and one
// read-ahead buffer.
qrsys::RWLock& readLock();

// Makes a new directory entry durable. Only possible for files of the default file functions;
// a host with its own storage makes its directory changes durable itself.
bool syncDirectory(const std::string& directoryA);

inline std::string fileNameOf(const std::string& pathA) {
  const std::size_t slashL = pathA.find_last_of('/');
  return slashL == std::string::npos ? pathA : pathA.substr(slashL + 1);
}

// The 25-byte index record.
inline void encodeIndexRecord(unsigned char* outA, const IdRecordKey& keyA, unsigned char fileA,
                              std::uint32_t positionA, std::uint32_t checksumA) {
  coding::encodeFixed64(outA, keyA.personId);
  coding::encodeFixed64(outA + 8, keyA.transactionId);
  outA[16] = fileA;
  coding::encodeFixed32(outA + 17, positionA);
  coding::encodeFixed32(outA + 21, checksumA);
}

inline MultipassFileIO::IdRecKeyToBlobOffset decodeIndexRecord(const unsigned char* inA) {
  MultipassFileIO::IdRecKeyToBlobOffset eL;
  eL.key = IdRecordKey(coding::decodeFixed64(inA), coding::decodeFixed64(inA + 8));
  eL.dataFileIndex = inA[16];
  eL.dataPosition = coding::decodeFixed32(inA + 17);
  eL.recordChecksum = coding::decodeFixed32(inA + 21);
  return eL;
}

inline bool keyLess(const MultipassFileIO::IdRecKeyToBlobOffset& aA,
                    const MultipassFileIO::IdRecKeyToBlobOffset& bA) {
  return aA.key < bA.key;
}

inline std::string quoted(const std::string& textA) {
  return "\"" + textA + "\"";
}

template <typename T>
std::string quoted(T valueA) {
  std::ostringstream osL;
  osL << '"' << valueA << '"';
  return osL.str();
}

}  // namespace fileio
}  // namespace qridy
