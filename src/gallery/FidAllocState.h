#pragma once

// The rule by which adding records changes a FID part: which record an add takes, when the part
// grows and by how much, how the free list and the counters move, and when the full flag is set.
// It is written once, in FidAllocState::advance; planning a batch, adding one record and writing
// a batch of planned adds all go through it.

#include <cstdint>

namespace qridy {

struct FidHeader;

// What adding one record to a part does, decided before anything is written.
struct FidAddStep {
  std::uint32_t slot = 0;
  std::uint32_t foundStatus = 0;    // the slot's status word before the add (a free link or 0)
  std::uint32_t foundChecksum = 0;  // the slot's record checksum word before the add
  bool grows = false;               // the part grows first
  std::uint32_t newCapacity = 0;    // capacity after the add
  std::uint32_t nextFree = 0;       // first free record after the add

  bool operator==(const FidAddStep& oA) const {
    return slot == oA.slot && foundStatus == oA.foundStatus && foundChecksum == oA.foundChecksum &&
           grows == oA.grows && newCapacity == oA.newCapacity && nextFree == oA.nextFree;
  }
  bool operator!=(const FidAddStep& oA) const { return !(*this == oA); }
};

// The words of a part header that adding records changes, with the record limit in force.
struct FidAllocState {
  static constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;
  static constexpr std::uint32_t kUsed = 0xFFFFFFFFu;

  std::uint32_t capacity = 0;
  std::uint32_t full = 0;
  std::uint32_t firstFree = 0;
  std::uint32_t used = 0;
  std::uint32_t free = 0;
  std::uint32_t limit = 0;         // records the part may grow to
  std::uint32_t growth = 1;        // records added by one growth (cut to the limit)
  std::uint32_t diskCapacity = 0;  // records that exist on disk; later ones read as zeros

  // The state of a header under a record limit.
  static FidAllocState of(const FidHeader& headerA, std::uint32_t limitA);
  // The state of a part that does not exist yet (an empty header).
  static FidAllocState fresh(std::uint32_t limitA, std::uint32_t growthA);

  // Whether the next add grows the part first: no free record is known below the capacity.
  bool grows() const { return firstFree == kNoRecord || firstFree >= capacity; }
  // Whether an add can place a record: the full flag is clear, and the part has room to grow
  // when it has to.
  bool accepts() const { return full == 0 && (!grows() || capacity < limit); }
  // The record the next add takes (valid when accepts()).
  std::uint32_t nextSlot() const { return grows() ? capacity : firstFree; }

  // Grows the part by the growth increment, cut to the limit: the new records are free and the
  // first of them becomes the first free record. Only when accepts() and grows().
  void grow();
  // The one step of an add: grows when needed, takes nextSlot(), whose status and checksum words
  // before the add were foundStatusA and foundChecksumA, and moves the free list on (a non-zero
  // status links to record status - 1, 0 to the record that follows); the counters follow, and
  // the full flag is set once the first free record reaches the limit. stepA describes the add.
  // False, with the state unchanged, when the state accepts no record or the slot is used.
  bool advance(std::uint32_t foundStatusA, std::uint32_t foundChecksumA, FidAddStep& stepA);
  // Writes capacity, full flag, first free record and both counters into headerA.
  void store(FidHeader& headerA) const;
};

}  // namespace qridy
