#include <qrliris/IrisCodeMatcher.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include <qrliris/IrisCodeForms.h>
#include <qrliris/IrisScreen.h>

#include "IrisWordCount.h"

namespace {

using kxegm::irisforms::kCodeBytes;
using kxegm::irisforms::kWords;

// Words of a row that the six-ring matcher reads.
constexpr int kSixRingWords = 24;
constexpr std::size_t kTableBytes = kQrlIrisRows * kQrlIrisRowBytes;

using kxegm::irisword::countOne;
using kxegm::irisword::load64;

#if defined(__x86_64__) || defined(__i386__)
#define QRLIRIS_HW_TARGET __attribute__((target("popcnt")))
#else
#define QRLIRIS_HW_TARGET
#endif

QRLIRIS_HW_TARGET void countWordHardware(const void* galleryWordA, const std::uint64_t* probeWordA,
                                         std::uint64_t* totalA, std::uint64_t* diffA) {
  countOne<true>(load64(galleryWordA), probeWordA[0], probeWordA[kWords], *totalA, *diffA);
}

const bool kHasPopcnt = kxegm::irisscreen::supported(kxegm::irisscreen::Path::Popcnt);
// The screening kernel of this processor's path, resolved once.
QrlIrisScreenFn screenKernel() {
  static const QrlIrisScreenFn kernelS = kxegm::irisscreen::function(kxegm::irisscreen::active());
  return kernelS;
}

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
  return screenKernel()(galleryA, headA, rowCountA);
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
      // The kernel itself, one call less per gallery entry than through the export.
      return reinterpret_cast<void*>(screenKernel());
    default:
      return nullptr;
  }
}

}  // extern "C"
