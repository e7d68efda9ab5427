#pragma once

// Test helpers for the binary record formats: serialise to and from byte strings, corrupt stored
// bytes on purpose (flip a byte, cut the stream, patch a field, fix up a checksum) and capture
// the message of the exception an operation throws.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>

namespace quarlen_test {

// Bytes from small integers: bytes({0x54, 0x42}) == "TB".
std::string bytes(std::initializer_list<int> valuesA);
// "54 42 03 00": for readable failure output.
std::string hex(const std::string& bytesA);

// The record's write form.
template <typename Record>
std::string writeToString(const Record& recordA) {
  std::ostringstream osL(std::ios::binary);
  recordA.write(osL);
  return osL.str();
}
// Reads recordA from bytesA; returns the number of bytes the reader consumed.
template <typename Record>
std::size_t readFromString(Record& recordA, const std::string& bytesA) {
  std::istringstream isL(bytesA, std::ios::binary);
  recordA.read(isL);
  isL.clear();
  const auto posL = isL.tellg();
  return posL < 0 ? bytesA.size() : static_cast<std::size_t>(posL);
}

// Reads bytesA into a fresh Record and writes it again; "<not all bytes read>" when the reader
// stopped early. A canonical record comes back unchanged.
template <typename Record, typename... Args>
std::string rewritten(const std::string& bytesA, Args... constructorArgsA) {
  Record recordL(constructorArgsA...);
  if (readFromString(recordL, bytesA) != bytesA.size()) return "<not all bytes read>";
  return writeToString(recordL);
}

// Copies with one byte changed (xor with maskA) or the stream cut to lengthA bytes.
std::string flipByte(std::string bytesA, std::size_t offsetA, std::uint8_t maskA = 0xFF);
std::string cutStream(const std::string& bytesA, std::size_t lengthA);

// Little-endian fields at an offset.
std::uint16_t fixed16At(const std::string& bytesA, std::size_t offsetA);
std::uint32_t fixed32At(const std::string& bytesA, std::size_t offsetA);
void setFixed16At(std::string& bytesA, std::size_t offsetA, std::uint16_t valueA);
void setFixed32At(std::string& bytesA, std::size_t offsetA, std::uint32_t valueA);
void setFixed64At(std::string& bytesA, std::size_t offsetA, std::uint64_t valueA);

// Byte sum (wrapping 32 bits) of a range: the checksum of a template block part.
std::uint32_t byteSum(const std::string& bytesA, std::size_t offsetA, std::size_t sizeA);
// Stores the byte sum of [dataOffsetA, dataOffsetA + dataSizeA) at checksumOffsetA, so that a
// changed part passes its checksum and the corruption reaches a later check.
void fixUpChecksum(std::string& bytesA, std::size_t checksumOffsetA, std::size_t dataOffsetA,
                   std::size_t dataSizeA);
// Adds deltaA (wrapping) to the 32-bit field at offsetA: keeps a summed checksum of an
// enclosing record in step with a changed nested checksum.
void addToFixed32At(std::string& bytesA, std::size_t offsetA, std::int64_t deltaA);

// The message of the kxxcp::Exception that fnA throws; "<no exception>" when it returns, and
// "<other exception: ...>" for any other exception type.
std::string thrownMessage(const std::function<void()>& fnA);

}  // namespace quarlen_test
