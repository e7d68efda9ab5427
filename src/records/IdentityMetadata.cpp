#include <quarlen/IdentityMetadata.h>

#include <algorithm>
#include <cstring>

#include <qrlcore/Exception.h>

namespace qridy {
namespace {

// Filter-mode layout of a state word.
constexpr int kLevelShift = 0;
constexpr int kCountShift = 8;
constexpr int kSumShift = 32;

int levelOf(std::uint64_t wordA) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(wordA >> kLevelShift));
}
int countOf(std::uint64_t wordA) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(wordA >> kCountShift));
}
float sumOf(std::uint64_t wordA) {
  const auto bitsL = static_cast<std::uint32_t>(wordA >> kSumShift);
  float sL;
  std::memcpy(&sL, &bitsL, sizeof sL);
  return sL;
}
std::uint64_t filterWord(int levelA, int countA, float sumA) {
  std::uint32_t bitsL;
  std::memcpy(&bitsL, &sumA, sizeof bitsL);
  return (std::uint64_t{static_cast<std::uint8_t>(levelA)} << kLevelShift) |
         (std::uint64_t{static_cast<std::uint8_t>(countA)} << kCountShift) |
         (std::uint64_t{bitsL} << kSumShift);
}

IdentityResult* resultOf(std::uint64_t wordA) {
  return wordA > IdentityMetadata::kLabelled ? reinterpret_cast<IdentityResult*>(wordA) : nullptr;
}

}  // namespace

IdentityMetadata::IdentityMetadata() = default;

IdentityMetadata::IdentityMetadata(const IdRecordKey& keyA) : keyM(keyA) {}

IdentityMetadata::IdentityMetadata(const IdentityMetadata& otherA)
    : keyM(otherA.keyM), queryM(otherA.queryM), filePositionM(otherA.filePositionM) {
  if (otherA.sidM) {
    sidM.reset(new unsigned char[otherA.sidBytesM]);
    std::memcpy(sidM.get(), otherA.sidM.get(), otherA.sidBytesM);
    sidBytesM = otherA.sidBytesM;
  }
}

IdentityMetadata::IdentityMetadata(unsigned int* queryStorageA, std::uint64_t* stateStorageA)
    : queryM(queryStorageA), stateM(stateStorageA), ownsStateM(false) {}

IdentityMetadata::~IdentityMetadata() {
  if (ownsStateM) delete[] stateM;
}

IdentityMetadataOwner::~IdentityMetadataOwner() = default;

void IdentityMetadata::init(IdentityMetadataOwner* containerA) {
  if (containerA == nullptr) {
    KXXCP_THROW("qridy::IdentityMetadata::init", "UniqueMetadataContainer is NULL");
  }
  const unsigned int probesL = containerA->maxNumberOfParallelProbes();
  if (ownsStateM) {
    delete[] stateM;
    stateM = new std::uint64_t[probesL]();
  } else {
    std::memset(stateM, 0, probesL * sizeof(std::uint64_t));
  }
  probesM = probesL;
  containerM = containerA;
}

void IdentityMetadata::setSid(const unsigned char* sidA, std::size_t lengthA,
                              std::uint32_t sidMaxA) {
  sidM.reset();
  sidBytesM = 0;
  if (sidA == nullptr) return;
  // Trailing zeros pad a SID to its field; one of only zeros is no SID at all.
  std::size_t keptL = std::min<std::size_t>(lengthA, sidMaxA);
  while (keptL > 0 && sidA[keptL - 1] == 0) --keptL;
  if (keptL == 0) return;
  sidM.reset(new unsigned char[std::size_t{sidMaxA} + 1]());
  sidBytesM = sidMaxA + 1;
  std::memcpy(sidM.get(), sidA, keptL);
}

std::uint64_t& IdentityMetadata::word(unsigned int probeA) {
  if (probeA >= probesM) {
    KXXCP_THROW("qridy::IdentityMetadata::word",
                "probe index " << probeA << " out of range (" << probesM << " probes).");
  }
  return stateM[probeA];
}

std::uint64_t IdentityMetadata::stateWord(unsigned int probeA) const {
  return probeA < probesM ? stateM[probeA] : 0;
}

bool IdentityMetadata::filterMode(unsigned int probeA) const {
  return containerM != nullptr && containerM->useFilterScores(probeA);
}

int IdentityMetadata::getResultState(unsigned int probeA) const {
  const std::uint64_t wL = stateWord(probeA);
  return wL == 0 ? 0 : wL == kLabelled ? 1 : 3;
}

IdentityResult* IdentityMetadata::identityResult(unsigned int probeA) {
  std::uint64_t& wL = word(probeA);
  if (IdentityResult* resultL = resultOf(wL)) return resultL;
  IdentityResult* resultL = containerM->acquireResult(probeA, this);
  wL = reinterpret_cast<std::uint64_t>(resultL);
  return resultL;
}

IdentityResult* IdentityMetadata::getIdentityResult(unsigned int probeA) const {
  if (filterMode(probeA)) return nullptr;
  return resultOf(stateWord(probeA));
}

void IdentityMetadata::labelAsSelected(unsigned int probeA, bool selectedA) {
  std::uint64_t& wL = word(probeA);
  if (filterMode(probeA)) {
    wL = selectedA ? filterWord(1, 0, 0.0f) : 0;
    return;
  }
  if (selectedA) {
    if (wL == 0) wL = kLabelled;
    return;
  }
  resetState(probeA);
}

void IdentityMetadata::resetState(unsigned int probeA) {
  std::uint64_t& wL = word(probeA);
  if (!filterMode(probeA)) {
    if (IdentityResult* resultL = resultOf(wL)) {
      wL = 0;
      containerM->deleteResult(probeA, this, resultL);
    }
  }
  wL = 0;
}

bool IdentityMetadata::getRealSelected(unsigned int probeA, int limitA) const {
  const IdentityResult* resultL = getIdentityResult(probeA);
  return resultL != nullptr && containerM->resultAlgCount(resultL) < limitA;
}

void IdentityMetadata::setFilterSelected(unsigned int probeA, int levelA) {
  std::uint64_t& wL = word(probeA);
  wL = filterWord(levelA, countOf(wL), sumOf(wL));
}

int IdentityMetadata::getFilterSelectedLevel(unsigned int probeA) const {
  return levelOf(stateWord(probeA));
}

int IdentityMetadata::getFilterScoreCount(unsigned int probeA) const {
  return countOf(stateWord(probeA));
}

bool IdentityMetadata::getFilterSelected(unsigned int probeA, int limitA, int levelA) const {
  const std::uint64_t wL = stateWord(probeA);
  return levelOf(wL) >= levelA && countOf(wL) < limitA;
}

bool IdentityMetadata::getFilterSelectedReset(unsigned int probeA, int levelA) {
  std::uint64_t& wL = word(probeA);
  const int levelL = levelOf(wL);
  wL = 0;
  return levelL >= levelA;
}

void IdentityMetadata::addFilterScore(unsigned int probeA, float scoreA) {
  std::uint64_t& wL = word(probeA);
  const int countL = countOf(wL);
  wL = filterWord(levelOf(wL), countL < 127 ? countL + 1 : countL, sumOf(wL) + scoreA);
}

float IdentityMetadata::getFilterScore(unsigned int probeA) const {
  const std::uint64_t wL = stateWord(probeA);
  const int countL = countOf(wL);
  return countL < 1 ? 0.0f : sumOf(wL) / static_cast<float>(countL);
}

void IdentityMetadata::resetFilterScores(unsigned int probeA) {
  std::uint64_t& wL = word(probeA);
  wL = filterWord(levelOf(wL), 0, 0.0f);
}

}  // namespace qridy
