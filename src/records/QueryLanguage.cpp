#include <quarlen/QueryLanguage.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

#include "common/Coding.h"

namespace qridy {
namespace {

std::atomic<unsigned int> attributeCountS{0};
std::atomic<long> liveObjectsS{0};
std::atomic<bool> initialisedS{false};
std::mutex attributeMutexS;

// The largest N the configured block size M allows: (M - 20) / 4, rounded toward minus
// infinity, so that N + 1 words fit into M - 16 bytes.
long largestAttributeCount() {
  const long mL =
      kxutl::QuarlenInformation::getIntFromConfigFile("MAX_TEMPLATE_SIZE", "QueryLanguage");
  const long dL = mL - 20;
  return dL >= 0 ? dL / 4 : -((-dL + 3) / 4);
}

bool clauseHolds(const unsigned int* wordsA, unsigned int attributeCountA,
                 const unsigned int* conditionsA, std::uint32_t lengthA) {
  std::uint32_t iL = 0;
  while (iL < lengthA) {
    const std::uint32_t leftL = lengthA - iL;
    if (leftL < 3) return false;
    const std::uint32_t attributeL = conditionsA[iL];
    const std::uint32_t opL = conditionsA[iL + 1];
    const std::uint32_t widthL = QueryLanguage::conditionWidth(opL);
    if (leftL < widthL || attributeL > attributeCountA) return false;
    const std::uint32_t highL = widthL == 4 ? conditionsA[iL + 3] : 0u;
    if (!QueryLanguage::conditionHolds(opL, wordsA[attributeL], conditionsA[iL + 2], highL)) {
      return false;
    }
    iL += widthL;
  }
  return true;
}

}  // namespace

unsigned int QueryLanguage::attributeSize() {
  // Callers size record storage by it before any record exists (the registry's blocks): the
  // count is fixed from the configuration on first use, not only at the first construction.
  fixAttributeCount();
  return attributeCountS.load(std::memory_order_relaxed);
}

void QueryLanguage::fixAttributeCount() {
  if (initialisedS.load()) return;
  std::lock_guard<std::mutex> lockL(attributeMutexS);
  if (!initialisedS.load()) {
    // A configuration without room for attributes leaves records of word 0 alone.
    const long largestL = largestAttributeCount();
    attributeCountS = largestL > 0 ? static_cast<unsigned int>(largestL) : 0u;
    initialisedS = true;
  }
}

void QueryLanguage::setAttributeSize(unsigned int nA) {
  std::lock_guard<std::mutex> lockL(attributeMutexS);
  if (liveObjectsS.load() != 0) {
    KXXCP_THROW("qridy::QueryLanguage::setAttributeSize",
                "number of attributes cannot be changed after creating objects.");
  }
  const long largestL = largestAttributeCount();
  if (static_cast<long>(nA) > largestL) {
    KXXCP_THROW("qridy::QueryLanguage::setAttributeSize",
                "number of attributes in QueryLanguage::setAttributeSize " << nA << " greater than "
                                                                           << largestL);
  }
  attributeCountS = nA;
  initialisedS = true;
}

void QueryLanguage::enter() {
  fixAttributeCount();
  ++liveObjectsS;
}

void QueryLanguage::leave() {
  --liveObjectsS;
}

unsigned int QueryLanguage::getProbeQuerySize(const unsigned int* queryA) {
  if (queryA == nullptr) return 0;
  unsigned int sizeL = 0;
  for (const unsigned int* pL = queryA; *pL != 0; pL += *pL + 1) sizeL += *pL + 1;
  return sizeL + 1;
}

void QueryLanguage::validateQuery(const unsigned int* queryA, std::size_t countA) {
  if (queryA == nullptr) return;
  const unsigned int nL = attributeSize();
  std::size_t posL = 0;
  while (true) {
    if (posL >= countA) {
      KXXCP_THROW("qridy::QueryLanguage::validateQuery",
                  "Query word " << posL << ": the query ends without its terminating 0.");
    }
    const std::uint32_t lengthL = queryA[posL];
    if (lengthL == 0) return;
    if (lengthL >= countA - posL) {
      KXXCP_THROW("qridy::QueryLanguage::validateQuery",
                  "Query word " << posL << ": clause length " << lengthL
                                << " runs past the end of the query (" << countA << " words).");
    }
    const std::size_t endL = posL + 1 + lengthL;
    for (std::size_t iL = posL + 1; iL < endL;) {
      const std::size_t leftL = endL - iL;
      const std::uint32_t widthL = leftL >= 2 ? QueryLanguage::conditionWidth(queryA[iL + 1]) : 3u;
      if (leftL < widthL) {
        KXXCP_THROW("qridy::QueryLanguage::validateQuery",
                    "Query word " << iL << ": the condition needs " << widthL
                                  << " words, its clause has " << leftL << " left.");
      }
      if (queryA[iL] > nL) {
        KXXCP_THROW("qridy::QueryLanguage::validateQuery",
                    "Query word " << iL << ": attribute index " << queryA[iL]
                                  << " is greater than the number of attributes " << nL << ".");
      }
      iL += widthL;
    }
    posL = endL;
  }
}

QueryLanguage::QueryLanguage() {
  enter();
  wordsM = new unsigned int[attributeSize() + 1]();
}

QueryLanguage::QueryLanguage(unsigned int* storageA) : wordsM(storageA), ownsM(false) {
  enter();
  std::memset(wordsM, 0, (attributeSize() + 1) * sizeof(unsigned int));
}

QueryLanguage::QueryLanguage(const QueryLanguage& otherA) {
  enter();
  wordsM = new unsigned int[attributeSize() + 1]();
  if (otherA.wordsM != nullptr) {
    std::memcpy(wordsM, otherA.wordsM, (attributeSize() + 1) * sizeof(unsigned int));
  }
}

QueryLanguage& QueryLanguage::operator=(const QueryLanguage& otherA) {
  if (this != &otherA && wordsM != nullptr && otherA.wordsM != nullptr) {
    std::memcpy(wordsM, otherA.wordsM, (attributeSize() + 1) * sizeof(unsigned int));
  }
  return *this;
}

QueryLanguage::~QueryLanguage() {
  if (ownsM) delete[] wordsM;
  leave();
}

void QueryLanguage::setAttributes(std::uint64_t firstA, const unsigned int* valuesA) {
  if (valuesA == nullptr) return;
  wordsM[0] = static_cast<unsigned int>(firstA & 0xFFFFFFFFu);
  std::copy(valuesA, valuesA + attributeSize(), wordsM + 1);
}

bool QueryLanguage::matches(const unsigned int* wordsA, unsigned int attributeCountA,
                            const unsigned int* queryA) {
  if (queryA == nullptr) return true;
  for (const unsigned int* pL = queryA; *pL != 0; pL += *pL + 1) {
    if (clauseHolds(wordsA, attributeCountA, pL + 1, *pL)) return true;
  }
  return false;
}

bool QueryLanguage::matchesQuery(const unsigned int* queryA) const {
  return matches(wordsM, attributeSize(), queryA);
}

bool QueryLanguage::matchesAttribute(const unsigned int* conditionsA, unsigned int lengthA) const {
  if (lengthA == 0) return true;
  return clauseHolds(wordsM, attributeSize(), conditionsA, lengthA);
}

void QueryLanguage::readPredefinedSize(std::istream& isA) {
  const std::size_t countL = attributeSize() + 1;
  std::vector<unsigned int> wordsL(countL);
  for (auto& wordL : wordsL) {
    std::uint32_t vL = 0;
    if (!coding::getFixed32(isA, vL)) {
      KXXCP_THROW("qridy::QueryLanguage::readPredefinedSize",
                  "Cannot read QueryLanguage: the stream ends early.");
    }
    wordL = vL;
  }
  std::copy(wordsL.begin(), wordsL.end(), wordsM);
}

void QueryLanguage::writePredefinedSize(std::ostream& osA) const {
  if (wordsM == nullptr) return;
  for (unsigned int iL = 0; iL <= attributeSize(); ++iL) coding::putFixed32(osA, wordsM[iL]);
}

}  // namespace qridy
