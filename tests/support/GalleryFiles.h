#pragma once

// Helpers for tests of the gallery files: deterministic blobs that can be checked after reading
// them back, owners of metadata entries, and a full consistency check of a gallery directory.

#include <quarlen/IdentityMetadata.h>
#include <quarlen/MultipassFileIO.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace quarlen_test {

// The blob of an identity: sizeA bytes derived from the key (the first 16 bytes are the key),
// so that every stored blob can be recognised and checked.
std::vector<unsigned char> blobFor(std::uint64_t personIdA, std::uint64_t transactionIdA,
                                   unsigned int sizeA);
// The size of the blob of an identity when sizes vary between 16 and maxSizeA bytes.
unsigned int blobSizeFor(std::uint64_t personIdA, std::uint64_t transactionIdA,
                         unsigned int maxSizeA);

// Owns metadata entries with stable addresses (add() keeps pointers to them).
class MetadataPool {
 public:
  const qridy::IdentityMetadata& get(std::uint64_t personIdA, std::uint64_t transactionIdA);

 private:
  std::deque<qridy::IdentityMetadata> entriesM;
};

// What a gallery directory holds, read through a fresh MultipassFileIO.
struct GalleryState {
  bool opened = false;
  bool statusValid = false;     // checkStatusFast
  bool intensiveValid = false;  // checkStatusIntensive
  std::string report;
  std::map<std::uint64_t, unsigned int> blobSizes;  // transactionId -> blob size found
  std::vector<std::string> problems;                // unreadable or wrong blobs
};

// Reads every part of the FID file at basePathA (the part itself, then .0001, ... while they
// exist and hold at least a header) byte by byte and lists where a header disagrees with its
// records: the used and free counters against the status words, the file checksum against the used
// records' checksums, a pending operation, and a free list (from the first free record) that
// reaches a used record or runs in a cycle. Empty when every part is consistent.
std::vector<std::string> checkFidParts(const std::string& basePathA);

// Opens the gallery <baseA>/<nameA> with sizesA, reads its index and every blob, and checks
// each blob against blobFor (blob sizes chosen by blobSizeFor with the largest size when
// variableSizesA, else the largest size). Keys are (transactionId % 1000, transactionId). The
// parts of every file are checked with checkFidParts after the gallery was opened.
GalleryState inspectGallery(const std::string& baseA, const std::string& nameA,
                            const std::vector<unsigned int>& sizesA, bool variableSizesA);

inline std::uint64_t personOfTransaction(std::uint64_t transactionIdA) {
  return transactionIdA % 1000;
}

}  // namespace quarlen_test
