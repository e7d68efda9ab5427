#include "support/RecordBytes.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

#include <qrlcore/Exception.h>

namespace quarlen_test {

namespace {
void requireRange(const std::string& bytesA, std::size_t offsetA, std::size_t sizeA) {
  if (offsetA > bytesA.size() || sizeA > bytesA.size() - offsetA) {
    throw std::out_of_range("test helper: range outside the record bytes");
  }
}
}  // namespace

std::string bytes(std::initializer_list<int> valuesA) {
  std::string outL;
  for (int v : valuesA) outL.push_back(static_cast<char>(v));
  return outL;
}

std::string hex(const std::string& bytesA) {
  std::string outL;
  char bufL[4];
  for (std::size_t i = 0; i < bytesA.size(); ++i) {
    std::snprintf(bufL, sizeof bufL, i == 0 ? "%02X" : " %02X",
                  static_cast<unsigned char>(bytesA[i]));
    outL += bufL;
  }
  return outL;
}

std::string flipByte(std::string bytesA, std::size_t offsetA, std::uint8_t maskA) {
  requireRange(bytesA, offsetA, 1);
  bytesA[offsetA] = static_cast<char>(static_cast<unsigned char>(bytesA[offsetA]) ^ maskA);
  return bytesA;
}

std::string cutStream(const std::string& bytesA, std::size_t lengthA) {
  requireRange(bytesA, 0, lengthA);
  return bytesA.substr(0, lengthA);
}

std::uint16_t fixed16At(const std::string& bytesA, std::size_t offsetA) {
  requireRange(bytesA, offsetA, 2);
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytesA[offsetA]) |
                                    static_cast<unsigned char>(bytesA[offsetA + 1]) << 8);
}

std::uint32_t fixed32At(const std::string& bytesA, std::size_t offsetA) {
  requireRange(bytesA, offsetA, 4);
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytesA[offsetA + i]);
  return v;
}

namespace {
void setFixedAt(std::string& bytesA, std::size_t offsetA, std::uint64_t valueA, int widthA) {
  requireRange(bytesA, offsetA, static_cast<std::size_t>(widthA));
  for (int i = 0; i < widthA; ++i) bytesA[offsetA + i] = static_cast<char>(valueA >> (8 * i));
}
}  // namespace

void setFixed16At(std::string& bytesA, std::size_t offsetA, std::uint16_t valueA) {
  setFixedAt(bytesA, offsetA, valueA, 2);
}
void setFixed32At(std::string& bytesA, std::size_t offsetA, std::uint32_t valueA) {
  setFixedAt(bytesA, offsetA, valueA, 4);
}
void setFixed64At(std::string& bytesA, std::size_t offsetA, std::uint64_t valueA) {
  setFixedAt(bytesA, offsetA, valueA, 8);
}

std::uint32_t byteSum(const std::string& bytesA, std::size_t offsetA, std::size_t sizeA) {
  requireRange(bytesA, offsetA, sizeA);
  std::uint32_t sumL = 0;
  for (std::size_t i = 0; i < sizeA; ++i) sumL += static_cast<unsigned char>(bytesA[offsetA + i]);
  return sumL;
}

void fixUpChecksum(std::string& bytesA, std::size_t checksumOffsetA, std::size_t dataOffsetA,
                   std::size_t dataSizeA) {
  setFixed32At(bytesA, checksumOffsetA, byteSum(bytesA, dataOffsetA, dataSizeA));
}

void addToFixed32At(std::string& bytesA, std::size_t offsetA, std::int64_t deltaA) {
  setFixed32At(
      bytesA, offsetA,
      static_cast<std::uint32_t>(fixed32At(bytesA, offsetA) + static_cast<std::uint32_t>(deltaA)));
}

std::string thrownMessage(const std::function<void()>& fnA) {
  try {
    fnA();
  } catch (const kxxcp::Exception& e) {
    return e.getMessage();
  } catch (const std::exception& e) {
    return std::string("<other exception: ") + e.what() + ">";
  } catch (...) {
    return "<other exception: unknown>";
  }
  return "<no exception>";
}

}  // namespace quarlen_test
