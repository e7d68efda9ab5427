#pragma once

// The iris-code matcher library: expands a probe code into tables of rotated codes and counts
// usable and differing bits, one 64-bit word at a time. Its callers (the iris match engines) run
// the rotation search and the score arithmetic themselves and reach these functions by ordinal
// (qrlIrisProcByOrdinal), as they would a vendor library's exports.
//
// Codes are in the matcher form of IrisCodeForms.h: 32 words of 32 code bits (low half) and
// their 32 mask bits (high half, 1 = usable).
//
// Rotation tables: kQrlIrisRows rows of kQrlIrisRowBytes bytes. Row r holds the probe turned by
// r - kQrlIrisCenterRow angular positions (row 10 is the probe as given):
//   bytes   0..255  words 0..31: the turned code, code and mask as in the matcher form;
//   bytes 256..511  words 32..63: word 32 + j holds the mask of word j in its low half, so that
//                   a count needs no shift on the probe side;
//   bytes 512..1023 zero.
// The first table (QrlIrisProbeHandle::rows) serves the six-ring matcher, which reads words
// 0..23: its words 24..31 and 56..63 are zero. The second (rows2010) holds all 32 words.
//
// Bit counts of gallery word g against probe-row word p (at row word j): usable = the bits set
// in both masks (g >> 32 and row word j + 32); differing = usable bits whose code bits differ.
// total += popcount(usable), diff += popcount(differing).

#include <cstddef>
#include <cstdint>

#include <qrliris/IrisExport.h>

extern "C" {

constexpr int kQrlIrisRows = 21;
constexpr int kQrlIrisCenterRow = 10;
constexpr std::size_t kQrlIrisRowBytes = 1024;
// Byte offset of the mask words inside a row.
constexpr std::size_t kQrlIrisMaskOffset = 256;

// What the load call reads: 4096 bytes it does not look at, then the probe. The probe holds at
// least one whole code (256 bytes); bytes after the first code are ignored.
struct QrlIrisProbeDescriptor {
  unsigned char reserved[4096];
  const unsigned char* data;  // byte offset 4096
  std::uint32_t size;         // byte offset 4104
  std::uint32_t flags;        // byte offset 4108; must be 0
};

// What the load call fills: the two rotation tables, owned by the library until the free call.
struct QrlIrisProbeHandle {
  const unsigned char* rows;      // six-ring matcher table
  const unsigned char* rows2010;  // full-code matcher table
};

// One entry of a rotation head table (48 bytes), filled by the caller with a row's words 0 and
// 1 and their mask words (row words 32 and 33); the screening call writes total and diff.
struct QrlIrisHeadEntry {
  std::uint64_t word0;
  std::uint64_t word1;
  std::uint64_t mask0;
  std::uint64_t mask1;
  std::uint64_t total;
  std::uint64_t diff;
};

// Load results.
enum {
  kQrlIrisOk = 0,
  kQrlIrisBadArgument = 1,  // null descriptor, handle or data
  kQrlIrisShortProbe = 2,   // fewer than 256 bytes
  kQrlIrisBadFlags = 3,     // flags not 0
  kQrlIrisNoMemory = 4
};

// Ordinal 16. Builds both tables for the probe and stores them in *handleA (which is
// overwritten, not freed). Returns one of the results above; on failure the handle is cleared.
QRLIRIS_EXPORT int qrlIrisLoadProbe(const QrlIrisProbeDescriptor* descriptorA,
                                    QrlIrisProbeHandle* handleA);
// Ordinal 11. Releases the tables of a loaded handle and clears it; null or cleared handles are
// accepted. Returns 0.
QRLIRIS_EXPORT int qrlIrisFreeProbe(QrlIrisProbeHandle* handleA);
// Ordinal 21. Adds the counts of gallery word *galleryWordA against the probe-row word at
// probeWordA (whose mask word lies kQrlIrisMaskOffset bytes further). Uses the processor's
// POPCNT instruction when it has one. The gallery word need not be aligned.
QRLIRIS_EXPORT void qrlIrisCountWord(const void* galleryWordA, const std::uint64_t* probeWordA,
                                     std::uint64_t* totalA, std::uint64_t* diffA);
// Ordinal 22. The same counts without the POPCNT instruction, for any x86-64 processor.
QRLIRIS_EXPORT void qrlIrisCountWordPortable(const void* galleryWordA,
                                             const std::uint64_t* probeWordA, std::uint64_t* totalA,
                                             std::uint64_t* diffA);
// Ordinal 23. For each of the rowCountA entries (at most 32): counts gallery words 0 and 1
// against the entry, stores the sums in its total and diff, and sets bit rowCountA - 1 - j of
// the result when entry j passes both early tests of the full-code matcher:
// diff(word 0) * 128 < total(word 0) * 52 and diff(words 0, 1) * 128 < total(words 0, 1) * 48.
// Runs the fastest of the processor paths of qrliris/IrisScreen.h; the gallery data and the
// entries need no alignment.
QRLIRIS_EXPORT std::uint32_t qrlIrisScreenRotations(const void* galleryA, QrlIrisHeadEntry* headA,
                                                    std::uint32_t rowCountA);

// The function of an ordinal (11, 16, 21, 22, 23), or null for any other.
QRLIRIS_EXPORT void* qrlIrisProcByOrdinal(unsigned ordinalA);

typedef int (*QrlIrisLoadProbeFn)(const QrlIrisProbeDescriptor*, QrlIrisProbeHandle*);
typedef int (*QrlIrisFreeProbeFn)(QrlIrisProbeHandle*);
typedef void (*QrlIrisCountWordFn)(const void*, const std::uint64_t*, std::uint64_t*,
                                   std::uint64_t*);
typedef std::uint32_t (*QrlIrisScreenFn)(const void*, QrlIrisHeadEntry*, std::uint32_t);

}  // extern "C"

static_assert(sizeof(QrlIrisHeadEntry) == 48, "head entries are 48 bytes");
static_assert(offsetof(QrlIrisProbeDescriptor, data) == 4096, "probe pointer at 4096");
static_assert(offsetof(QrlIrisProbeDescriptor, size) == 4104, "probe size at 4104");
static_assert(offsetof(QrlIrisProbeDescriptor, flags) == 4108, "flags at 4108");
