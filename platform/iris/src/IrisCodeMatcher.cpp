#include <qrliris/IrisCodeMatcher.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include <qrliris/IrisCodeForms.h>

namespace {

using kxegm::irisforms::kCodeBytes;
using kxegm::irisforms::kWords;

// Words of a row that the six-ring matcher reads.
constexpr int kSixRingWords = 24;
constexpr std::size_t kTableBytes = kQrlIrisRows * kQrlIrisRowBytes;

inline std::uint64_t load64(const void* pA) {
  std::uint64_t vL;
  std::memcpy(&vL, pA, 8);
  return vL;
}

// The helpers below are always inlined, so that in the functions compiled for POPCNT the
// builtin becomes the instruction, while the portable functions never contain it.
#define QRLIRIS_INLINE __attribute__((always_inline)) inline

template <bool Hardware>
QRLIRIS_INLINE unsigned popcount(std::uint64_t xA) {
  if constexpr (Hardware) {
    return static_cast<unsigned>(__builtin_popcountll(xA));
  } else {
    xA = xA - ((xA >> 1) & 0x5555555555555555ull);
    xA = (xA & 0x3333333333333333ull) + ((xA >> 2) & 0x3333333333333333ull);
    xA = (xA + (xA >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>((xA * 0x0101010101010101ull) >> 56);
  }
}

#if defined(__x86_64__) || defined(__i386__)
#define QRLIRIS_HW_TARGET __attribute__((target("popcnt")))
bool processorHasPopcnt() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("popcnt");
}
#else
#define QRLIRIS_HW_TARGET
bool processorHasPopcnt() {
  return false;
}
#endif

// Counts one gallery word g against probe code word p and its mask word m (mask in the low half).
template <bool Hardware>
QRLIRIS_INLINE void countOne(std::uint64_t gA, std::uint64_t pA, std::uint64_t mA,
                             std::uint64_t& totalA, std::uint64_t& diffA) {
  const std::uint64_t usableL = (gA >> 32) & mA;
  totalA += popcount<Hardware>(usableL);
  diffA += popcount<Hardware>((gA ^ pA) & usableL);
}

template <bool Hardware>
QRLIRIS_INLINE std::uint32_t screen(const void* galleryA, QrlIrisHeadEntry* headA,
                                    std::uint32_t rowCountA) {
  const std::uint64_t g0L = load64(galleryA);
  const std::uint64_t g1L = load64(static_cast<const unsigned char*>(galleryA) + 8);
  const std::uint32_t countL = rowCountA > 32 ? 32 : rowCountA;
  std::uint32_t maskL = 0;
  for (std::uint32_t j = 0; j < countL; ++j) {
    QrlIrisHeadEntry& eL = headA[j];
    std::uint64_t totalL = 0, diffL = 0;
    countOne<Hardware>(g0L, eL.word0, eL.mask0, totalL, diffL);
    const bool firstL = diffL * 128 < totalL * 52;
    countOne<Hardware>(g1L, eL.word1, eL.mask1, totalL, diffL);
    eL.total = totalL;
    eL.diff = diffL;
    if (firstL && diffL * 128 < totalL * 48) maskL |= 1u << (countL - 1 - j);
  }
  return maskL;
}

QRLIRIS_HW_TARGET void countWordHardware(const void* galleryWordA, const std::uint64_t* probeWordA,
                                         std::uint64_t* totalA, std::uint64_t* diffA) {
  countOne<true>(load64(galleryWordA), probeWordA[0], probeWordA[kWords], *totalA, *diffA);
}

QRLIRIS_HW_TARGET std::uint32_t screenHardware(const void* galleryA, QrlIrisHeadEntry* headA,
                                               std::uint32_t rowCountA) {
  return screen<true>(galleryA, headA, rowCountA);
}

const bool kHasPopcnt = processorHasPopcnt();

// Fills one row from a turned record-form code: the matcher-form words and their mask words.
void fillRow(const unsigned char* turnedRecordA, int wordsA, unsigned char* rowA) {
  unsigned char matcherL[kCodeBytes];
  kxegm::irisforms::recordToMatcher(turnedRecordA, matcherL);
  for (int j = 0; j < wordsA; ++j) {
    const std::uint64_t wordL = load64(matcherL + 8 * j);
    const std::uint64_t maskL = wordL >> 32;
    std::memcpy(rowA + 8 * j, &wordL, 8);
    std::memcpy(rowA + kQrlIrisMaskOffset + 8 * j, &maskL, 8);
  }
}

}  // namespace

extern "C" {

int qrlIrisLoadProbe(const QrlIrisProbeDescriptor* descriptorA, QrlIrisProbeHandle* handleA) {
  if (handleA == nullptr) return kQrlIrisBadArgument;
  handleA->rows = nullptr;
  handleA->rows2010 = nullptr;
  if (descriptorA == nullptr || descriptorA->data == nullptr) return kQrlIrisBadArgument;
  if (descriptorA->flags != 0) return kQrlIrisBadFlags;
  if (descriptorA->size < kCodeBytes) return kQrlIrisShortProbe;

  // Both tables in one 64-byte aligned block; rows2010 follows rows.
  auto* tablesL = static_cast<unsigned char*>(
      ::operator new (2 * kTableBytes, std::align_val_t{64}, std::nothrow));
  if (tablesL == nullptr) return kQrlIrisNoMemory;
  std::memset(tablesL, 0, 2 * kTableBytes);

  unsigned char recordL[kCodeBytes];
  unsigned char turnedL[kCodeBytes];
  kxegm::irisforms::matcherToRecord(descriptorA->data, recordL);
  for (int r = 0; r < kQrlIrisRows; ++r) {
    kxegm::irisforms::rotateRecord(recordL, r - kQrlIrisCenterRow, turnedL);
    fillRow(turnedL, kSixRingWords, tablesL + r * kQrlIrisRowBytes);
    fillRow(turnedL, kWords, tablesL + kTableBytes + r * kQrlIrisRowBytes);
  }
  handleA->rows = tablesL;
  handleA->rows2010 = tablesL + kTableBytes;
  return kQrlIrisOk;
}

int qrlIrisFreeProbe(QrlIrisProbeHandle* handleA) {
  if (handleA == nullptr || handleA->rows == nullptr) return 0;
  ::operator delete (const_cast<unsigned char*>(handleA->rows), std::align_val_t{64});
  handleA->rows = nullptr;
  handleA->rows2010 = nullptr;
  return 0;
}

void qrlIrisCountWord(const void* galleryWordA, const std::uint64_t* probeWordA,
                      std::uint64_t* totalA, std::uint64_t* diffA) {
  if (kHasPopcnt) {
    countWordHardware(galleryWordA, probeWordA, totalA, diffA);
  } else {
    qrlIrisCountWordPortable(galleryWordA, probeWordA, totalA, diffA);
  }
}

void qrlIrisCountWordPortable(const void* galleryWordA, const std::uint64_t* probeWordA,
                              std::uint64_t* totalA, std::uint64_t* diffA) {
  countOne<false>(load64(galleryWordA), probeWordA[0], probeWordA[kWords], *totalA, *diffA);
}

std::uint32_t qrlIrisScreenRotations(const void* galleryA, QrlIrisHeadEntry* headA,
                                     std::uint32_t rowCountA) {
  return kHasPopcnt ? screenHardware(galleryA, headA, rowCountA)
                    : screen<false>(galleryA, headA, rowCountA);
}

void* qrlIrisProcByOrdinal(unsigned ordinalA) {
  switch (ordinalA) {
    case 11:
      return reinterpret_cast<void*>(&qrlIrisFreeProbe);
    case 16:
      return reinterpret_cast<void*>(&qrlIrisLoadProbe);
    case 21:
      return reinterpret_cast<void*>(kHasPopcnt ? &countWordHardware : &qrlIrisCountWordPortable);
    case 22:
      return reinterpret_cast<void*>(&qrlIrisCountWordPortable);
    case 23:
      return reinterpret_cast<void*>(&qrlIrisScreenRotations);
    default:
      return nullptr;
  }
}

}  // extern "C"
