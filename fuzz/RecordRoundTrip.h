#pragma once

// The oracle shared by the record fuzz targets: hostile bytes either read into a record or end
// in kxxcp::Exception (any other exception, crash or leak is a finding). A record that reads is
// written, read back and written again: both writes must agree, and the bytes a reader wrote
// must always read.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <qrlcore/Exception.h>

#include "records/RecordIo.h"

namespace qridy {
namespace fuzzing {

[[noreturn]] inline void finding(const char* whatA, const std::string& detailA) {
  std::fprintf(stderr, "FINDING: %s: %s\n", whatA, detailA.c_str());
  std::abort();
}

template <typename Record>
std::string writeBytes(const Record& recordA) {
  std::ostringstream osL(std::ios::binary);
  recordA.write(osL);
  return osL.str();
}

// makeA() creates an empty record. Returns the record read from the input, or null when the
// reader refused it.
template <typename Record, typename Make>
std::unique_ptr<Record> roundTrip(const std::uint8_t* dataA, std::size_t sizeA, Make makeA) {
  std::unique_ptr<Record> recordL(makeA());
  try {
    recordio::MemoryInStream isL(dataA, sizeA);
    recordL->read(isL);
  } catch (const kxxcp::Exception&) {
    return nullptr;
  }
  const std::string firstL = writeBytes(*recordL);
  std::unique_ptr<Record> againL(makeA());
  try {
    recordio::MemoryInStream isL(reinterpret_cast<const unsigned char*>(firstL.data()),
                                 firstL.size());
    againL->read(isL);
  } catch (const kxxcp::Exception& e) {
    finding("a written record does not read back", e.getMessage());
  }
  if (writeBytes(*againL) != firstL) finding("write -> read -> write changed the bytes", "");
  return recordL;
}

// Validation and copies of a record that read: they may refuse (a metadata part that does not
// parse, sample ids that clash when copied) but only with kxxcp::Exception.
template <typename Record>
void exercise(const Record& recordA) {
  try {
    std::string textL;
    recordA.validate(textL);
  } catch (const kxxcp::Exception&) {
  }
  try {
    Record copyL(recordA);
    std::string textL;
    copyL.validate(textL);
  } catch (const kxxcp::Exception&) {
  }
}

}  // namespace fuzzing
}  // namespace qridy
