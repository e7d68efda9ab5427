#pragma once

// Helpers shared by the readers and writers of the record formats (metadata, template block,
// template, biometric record, identity record): byte sums, bounded reads of length-prefixed
// parts, the magic/version checks every record starts with, and the attribute lines of the
// validation texts. Integer coding itself lives in Coding.h.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <qrlcore/Exception.h>

#include "common/Coding.h"

namespace qridy {
namespace recordio {

// Reference byte sum: every byte as an unsigned 8-bit value, accumulated in a wrapping 32-bit
// integer. Kept beside the lane version, which the tests compare against it.
inline std::uint32_t byteSumScalar(const unsigned char* dataA, std::size_t sizeA) {
  std::uint32_t sumL = 0;
  for (std::size_t i = 0; i < sizeA; ++i) sumL += dataA[i];
  return sumL;
}

// The same sum, fast: with SSE2 (part of every x86-64 processor, so no choice of instruction set
// at run time) one psadbw adds 16 bytes into two 64-bit lanes, which cannot overflow; the sum
// is then taken modulo 2^32 like the reference. Elsewhere, plain C++ shaped so that the compiler
// can vectorise it: bytes go into 32 lanes of 16 bits, 32 bytes per step. A lane gains at most
// 255 per step, so after kStepsPerRound steps (at most 65280) the lanes are added to the 32-bit
// sum before they could overflow.
inline std::uint32_t byteSum(const unsigned char* dataA, std::size_t sizeA) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zeroL = _mm_setzero_si128();
  __m128i lanesL = zeroL;
  for (; sizeA - i >= 16; i += 16) {
    const __m128i bytesL = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dataA + i));
    lanesL = _mm_add_epi64(lanesL, _mm_sad_epu8(bytesL, zeroL));
  }
  const std::uint64_t wideL =
      static_cast<std::uint64_t>(_mm_cvtsi128_si64(lanesL)) +
      static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(lanesL, lanesL)));
  const std::uint32_t sumL = static_cast<std::uint32_t>(wideL);
#else
  constexpr std::size_t kLanes = 32;
  constexpr std::size_t kStepsPerRound = 256;
  std::uint32_t sumL = 0;
  while (sizeA - i >= kLanes) {
    std::size_t stepsL = std::min<std::size_t>((sizeA - i) / kLanes, kStepsPerRound);
    std::uint16_t lanesL[kLanes] = {};
    for (; stepsL > 0; --stepsL, i += kLanes) {
      for (std::size_t j = 0; j < kLanes; ++j) {
        lanesL[j] = static_cast<std::uint16_t>(lanesL[j] + dataA[i + j]);
      }
    }
    for (std::size_t j = 0; j < kLanes; ++j) sumL += lanesL[j];
  }
#endif
  return sumL + byteSumScalar(dataA + i, sizeA - i);
}

// Reads up to sizeA bytes and returns how many arrived (fewer only at the end of the stream).
inline std::size_t readUpTo(std::istream& isA, unsigned char* dstA, std::size_t sizeA) {
  isA.read(reinterpret_cast<char*>(dstA), static_cast<std::streamsize>(sizeA));
  return static_cast<std::size_t>(isA.gcount());
}

// Reads a length-prefixed part of sizeA bytes into a new array. A stored size is untrusted:
// parts up to one chunk (64 KiB) are allocated at once, larger ones grow by doubling as the
// stream delivers, so a hostile size field costs at most twice the bytes that really arrive
// (and at least one chunk). Returns true when all bytes arrived; otherwise outA holds the bytes
// that did (gotA of them, null when none).
inline bool readPart(std::istream& isA, std::uint32_t sizeA, std::unique_ptr<unsigned char[]>& outA,
                     std::uint32_t& gotA) {
  constexpr std::uint32_t kChunk = 64u << 10;
  outA.reset();
  gotA = 0;
  if (sizeA == 0) return true;
  std::uint32_t capacityL = sizeA < kChunk ? sizeA : kChunk;
  std::unique_ptr<unsigned char[]> bufL(new unsigned char[capacityL]);
  for (;;) {
    gotA += static_cast<std::uint32_t>(readUpTo(isA, bufL.get() + gotA, capacityL - gotA));
    if (gotA == sizeA) {
      outA = std::move(bufL);
      return true;
    }
    if (gotA < capacityL) break;  // the stream has ended
    // capacityL < sizeA - capacityL implies 2 * capacityL < sizeA: no overflow.
    const std::uint32_t nextL = capacityL < sizeA - capacityL ? 2 * capacityL : sizeA;
    std::unique_ptr<unsigned char[]> grownL(new unsigned char[nextL]);
    std::memcpy(grownL.get(), bufL.get(), gotA);
    bufL = std::move(grownL);
    capacityL = nextL;
  }
  if (gotA != 0) {
    outA.reset(new unsigned char[gotA]);
    std::memcpy(outA.get(), bufL.get(), gotA);
  }
  return false;
}

// A new array holding a copy of sizeA bytes; null for an empty or missing source.
inline std::unique_ptr<unsigned char[]> copyBytes(const unsigned char* dataA, std::size_t sizeA) {
  if (dataA == nullptr || sizeA == 0) return nullptr;
  std::unique_ptr<unsigned char[]> copyL(new unsigned char[sizeA]);
  std::memcpy(copyL.get(), dataA, sizeA);
  return copyL;
}

// The magic of a record is taken from the first bytes of its fixed head (gotA bytes of which
// arrived). Throws "Invalid <kindA> magic number: '<chars read>'." unless they are magicA.
inline void checkMagic(const unsigned char* headA, std::size_t gotA, const char* magicA,
                       const char* kindA, const char* functionA) {
  if (gotA >= 2 && headA[0] == static_cast<unsigned char>(magicA[0]) &&
      headA[1] == static_cast<unsigned char>(magicA[1])) {
    return;
  }
  const std::string readL(reinterpret_cast<const char*>(headA), gotA < 2 ? gotA : 2);
  KXXCP_THROW(functionA, "Invalid " << kindA << " magic number: '" << readL << "'.");
}

// Throws "Invalid <kindA> version: '<versionA>'." unless versionA is expectedA.
inline void checkVersion(std::uint16_t versionA, std::uint16_t expectedA, const char* kindA,
                         const char* functionA) {
  if (versionA != expectedA) {
    KXXCP_THROW(functionA, "Invalid " << kindA << " version: '" << versionA << "'.");
  }
}

// Reads the fixed head of a record (sizeA bytes, magic and version first; fields the stream does
// not deliver are missing from the cursor), checks magic and version and returns a cursor over
// the fields after the version.
inline coding::Cursor readHead(std::istream& isA, unsigned char* headA, std::size_t sizeA,
                               const char* magicA, std::uint16_t versionA, const char* kindA,
                               const char* functionA) {
  const std::size_t gotL = readUpTo(isA, headA, sizeA);
  checkMagic(headA, gotL, magicA, kindA, functionA);
  coding::Cursor curL(headA + 2, gotL - 2);
  std::uint16_t readVersionL = 0;
  curL.getFixed16(readVersionL);
  checkVersion(readVersionL, versionA, kindA, functionA);
  return curL;
}

// Writes the fixed head of a record, the counterpart of readHead: N bytes, the magic and the
// version first, then the fields fillA puts through the cursor it is given (over the N - 4 bytes
// after the version; bytes it leaves out stay 0), all in one write.
template <std::size_t N, typename Fill>
void writeHead(std::ostream& osA, const char* magicA, std::uint16_t versionA, Fill fillA) {
  static_assert(N >= 4, "a head holds at least the magic and the version");
  unsigned char headL[N] = {static_cast<unsigned char>(magicA[0]),
                            static_cast<unsigned char>(magicA[1])};
  coding::encodeFixed16(headL + 2, versionA);
  coding::PutCursor curL(headL + 4, N - 4);
  fillA(curL);
  osA.write(reinterpret_cast<const char*>(headL), N);
}

// The read operation of a record kind: runs readA (which resets the record and reads it) and
// re-throws whatever it throws as one kxxcp::Exception of functionA with the standard
// introductions ("kxxcp caught: ", ...), so every nesting level adds its introduction.
template <typename Read>
std::istream& readRecordOf(std::istream& isA, const char* functionA, Read readA) {
  try {
    readA();
  } catch (...) {
    KXXCP_RETHROW(functionA);
  }
  return isA;
}

// Throws "Too many <whatA> to write: '<countA>'." when a count does not fit its 16-bit field: a
// truncated count would make the record unreadable.
inline std::uint16_t checkedCount16(std::size_t countA, const char* whatA, const char* functionA) {
  if (countA > 0xFFFF)
    KXXCP_THROW(functionA, "Too many " << whatA << " to write: '" << countA << "'.");
  return static_cast<std::uint16_t>(countA);
}

// Throws "Unexpected end of stream reading <whatA>: '<gotA>' of '<sizeA>' bytes." for a part
// that has no checksum of its own to report a cut.
inline void checkComplete(bool completeA, const char* whatA, std::uint32_t gotA,
                          std::uint32_t sizeA, const char* functionA) {
  if (!completeA) {
    KXXCP_THROW(functionA, "Unexpected end of stream reading " << whatA << ": '" << gotA << "' of '"
                                                               << sizeA << "' bytes.");
  }
}

// Reads a 16-bit count that follows a variable part; 0 when the stream has ended.
inline std::uint16_t readCount16(std::istream& isA) {
  std::uint16_t countL = 0;
  coding::getFixed16(isA, countL);
  return countL;
}

// One attribute line of a validation text: six blanks, the key padded with blanks to widthA
// characters, "= ", the value in double quotes and a line end.
template <typename T>
void appendAttribute(std::string& textA, const char* keyA, const T& valueA, int widthA) {
  std::ostringstream lineL;
  lineL << "      " << std::left << std::setw(widthA) << keyA << "= \"" << valueA << "\"\n";
  textA += lineL.str();
}

// The closing attribute line of a validation text: as appendAttribute, with closeA (blanks or a
// tab, then ">") after the closing quote.
inline void appendSuccessLine(std::string& textA, bool successA, int widthA, const char* closeA) {
  std::ostringstream lineL;
  lineL << "      " << std::left << std::setw(widthA) << "validationSuccessful"
        << "= \"" << (successA ? "true" : "false") << "\"" << closeA << "\n";
  textA += lineL.str();
}

// A read-only stream buffer over bytes owned by someone else: parsing a stored part through it
// costs no copy.
class MemoryStreamBuf : public std::streambuf {
 public:
  MemoryStreamBuf(const unsigned char* dataA, std::size_t sizeA) {
    char* beginL = const_cast<char*>(reinterpret_cast<const char*>(dataA));
    setg(beginL, beginL, beginL + sizeA);
  }
};

class MemoryInStream : public std::istream {
 public:
  MemoryInStream(const unsigned char* dataA, std::size_t sizeA)
      : std::istream(nullptr), bufM(dataA, sizeA) {
    rdbuf(&bufM);
  }

 private:
  MemoryStreamBuf bufM;
};

}  // namespace recordio
}  // namespace qridy
