#include "gallery/FidAllocState.h"

#include <algorithm>

#include "gallery/FidFile.h"

namespace qridy {

FidAllocState FidAllocState::of(const FidHeader& headerA, std::uint32_t limitA) {
  FidAllocState sL;
  sL.capacity = headerA.capacity;
  sL.full = headerA.full;
  sL.firstFree = headerA.firstFree;
  sL.used = headerA.used;
  sL.free = headerA.free;
  sL.limit = limitA;
  sL.growth = headerA.growth;
  sL.diskCapacity = headerA.capacity;
  return sL;
}

FidAllocState FidAllocState::fresh(std::uint32_t limitA, std::uint32_t growthA) {
  FidAllocState sL;
  sL.limit = limitA;
  sL.growth = growthA;
  return sL;
}

void FidAllocState::grow() {
  const std::uint32_t newL = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(capacity) + growth, limit));
  firstFree = capacity;
  free += newL - capacity;
  capacity = newL;
}

bool FidAllocState::advance(std::uint32_t foundStatusA, std::uint32_t foundChecksumA,
                            FidAddStep& stepA) {
  if (!accepts() || foundStatusA == kUsed) return false;
  FidAddStep stepL;
  stepL.grows = grows();
  if (stepL.grows) grow();
  stepL.slot = firstFree;
  stepL.foundStatus = foundStatusA;
  stepL.foundChecksum = foundChecksumA;
  stepL.newCapacity = capacity;
  stepL.nextFree = foundStatusA != 0 ? foundStatusA - 1 : stepL.slot + 1;
  firstFree = stepL.nextFree;
  used += 1;
  free -= 1;
  if (firstFree >= limit) full = 1;
  stepA = stepL;
  return true;
}

void FidAllocState::store(FidHeader& headerA) const {
  headerA.capacity = capacity;
  headerA.full = full;
  headerA.firstFree = firstFree;
  headerA.used = used;
  headerA.free = free;
}

}  // namespace qridy
