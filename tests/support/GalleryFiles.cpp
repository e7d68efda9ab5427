#include "support/GalleryFiles.h"

#include <qrlcore/Exception.h>

#include <algorithm>
#include <sstream>

namespace quarlen_test {

std::vector<unsigned char> blobFor(std::uint64_t personIdA, std::uint64_t transactionIdA,
                                   unsigned int sizeA) {
  std::vector<unsigned char> bL(sizeA);
  std::uint64_t xL = personIdA * 0x9E3779B97F4A7C15ull ^ transactionIdA;
  for (unsigned int i = 0; i < sizeA; ++i) {
    if (i < 8) {
      bL[i] = static_cast<unsigned char>(personIdA >> (8 * i));
    } else if (i < 16) {
      bL[i] = static_cast<unsigned char>(transactionIdA >> (8 * (i - 8)));
    } else {
      xL = xL * 6364136223846793005ull + 1442695040888963407ull;
      bL[i] = static_cast<unsigned char>(xL >> 56);
    }
  }
  return bL;
}

unsigned int blobSizeFor(std::uint64_t personIdA, std::uint64_t transactionIdA,
                         unsigned int maxSizeA) {
  const std::uint64_t hL = (personIdA * 31 + transactionIdA) * 0x9E3779B97F4A7C15ull;
  return 16 + static_cast<unsigned int>((hL >> 33) % (maxSizeA - 15));
}

const qridy::IdentityMetadata& MetadataPool::get(std::uint64_t personIdA,
                                                 std::uint64_t transactionIdA) {
  entriesM.emplace_back(qridy::IdRecordKey(personIdA, transactionIdA));
  return entriesM.back();
}

GalleryState inspectGallery(const std::string& baseA, const std::string& nameA,
                            const std::vector<unsigned int>& sizesA, bool variableSizesA) {
  GalleryState stateL;
  qridy::MultipassFileIO filesL(baseA, 0, nameA, sizesA);
  try {
    filesL.open();
    filesL.readIdRecKeyToBlobOffsetMap(nameA);
  } catch (const kxxcp::Exception& eL) {
    stateL.problems.push_back("open: " + eL.getMessage());
    return stateL;
  }
  stateL.opened = true;
  stateL.statusValid = filesL.checkStatusFast(stateL.report, nullptr);
  stateL.intensiveValid = filesL.checkStatusIntensive(stateL.report, nullptr);
  const unsigned int maxL = filesL.getDataSize();
  std::vector<unsigned char> bufferL(maxL);
  for (const auto& eL : filesL.getIdRecKeyToBlobOffsetMap()) {
    const std::uint64_t pL = eL.key.personId;
    const std::uint64_t tL = eL.key.transactionId;
    std::ostringstream whoL;
    whoL << "(" << pL << ", " << tL << ")";
    if (pL != personOfTransaction(tL)) stateL.problems.push_back("foreign key " + whoL.str());
    if (!filesL.read(eL.key, bufferL.data(), true)) {
      stateL.problems.push_back("unreadable " + whoL.str());
      continue;
    }
    const unsigned int sizeL = variableSizesA ? blobSizeFor(pL, tL, maxL) : maxL;
    std::vector<unsigned char> expectedL = blobFor(pL, tL, sizeL);
    expectedL.resize(maxL, 0);
    if (expectedL != bufferL) stateL.problems.push_back("wrong blob " + whoL.str());
    if (!stateL.blobSizes.emplace(tL, sizeL).second) {
      stateL.problems.push_back("duplicate " + whoL.str());
    }
  }
  return stateL;
}

}  // namespace quarlen_test
