#include "support/GalleryFiles.h"

#include <qrlcore/Exception.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"

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

std::vector<std::string> checkFidParts(const std::string& basePathA) {
  std::vector<std::string> problemsL;
  for (int k = 0;; ++k) {
    std::string pathL = basePathA;
    if (k > 0) {
      char suffixL[16];
      std::snprintf(suffixL, sizeof suffixL, ".%.4d", k);
      pathL += suffixL;
    }
    std::ifstream inL(pathL, std::ios::binary);
    if (!inL) break;
    const std::vector<unsigned char> bL((std::istreambuf_iterator<char>(inL)),
                                        std::istreambuf_iterator<char>());
    if (k > 0 && bL.size() < 88) break;  // not a part: its creation was cut short
    auto wordL = [&](std::uint64_t offsetA) {
      return offsetA + 4 <= bL.size() ? qridy::coding::decodeFixed32(bL.data() + offsetA) : 0u;
    };
    std::ostringstream whereL;
    whereL << pathL << ": ";
    const std::uint32_t recordL = wordL(8), capacityL = wordL(16), firstFreeL = wordL(24);
    if (bL.size() < 88 || recordL < 8 || bL.size() < 88 + std::uint64_t{capacityL} * recordL) {
      problemsL.push_back(whereL.str() + "too short");
      continue;
    }
    auto statusL = [&](std::uint32_t slotA) { return wordL(88 + std::uint64_t{slotA} * recordL); };
    std::uint32_t usedL = 0;
    std::uint16_t sumL = 0;
    for (std::uint32_t s = 0; s < capacityL; ++s) {
      if (statusL(s) != 0xFFFFFFFFu) continue;
      ++usedL;
      sumL = qridy::fid::addRecordChecksum(sumL, wordL(88 + std::uint64_t{s} * recordL + 4));
    }
    std::ostringstream osL;
    if (wordL(28) != usedL) osL << "used " << wordL(28) << " but " << usedL << " records; ";
    if (wordL(32) != capacityL - usedL) osL << "free " << wordL(32) << "; ";
    if (!qridy::fid::fileChecksumsEqual(wordL(36), sumL)) osL << "checksum " << wordL(36) << "; ";
    if (wordL(40) != 0) osL << "pending " << wordL(40) << "; ";
    std::set<std::uint32_t> seenL;
    for (std::uint32_t s = firstFreeL; firstFreeL != 0xFFFFFFFFu && s < capacityL;) {
      const std::uint32_t vL = statusL(s);
      if (vL == 0xFFFFFFFFu || !seenL.insert(s).second) {
        osL << "free list reaches record " << s << "; ";
        break;
      }
      s = vL != 0 ? vL - 1 : s + 1;
    }
    if (osL.tellp() > 0) problemsL.push_back(whereL.str() + osL.str());
  }
  return problemsL;
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
  std::set<std::string> pathsL{filesL.indexFileName()};
  for (std::size_t f = 0; f < filesL.dataFileCount(); ++f) pathsL.insert(filesL.dataFileName(f));
  for (const std::string& pathL : pathsL) {
    for (const std::string& problemL : checkFidParts(pathL)) stateL.problems.push_back(problemL);
  }
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
