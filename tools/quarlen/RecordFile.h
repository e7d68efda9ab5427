#pragma once

#include <string>
#include <vector>

#include <quarlen/IdRecordImp.h>

namespace quarlen_cli {

// Reads the identity record stored in fileA for the record commands (validate, dump). On failure
// prints "quarlen <commandA>: '<file>' is not a readable identity record: <reason>" to standard
// error and returns false. Bytes left after the record are reported as a note.
bool readIdRecordFile(const char* commandA, const std::string& fileA, qridy::IdRecordImp& recordA);

// The FILE argument of a record command; prints the usage error and returns false when the
// arguments are not exactly one file.
bool singleFileArgument(const char* commandA, const std::vector<std::string>& argsA,
                        std::string& fileA);

}  // namespace quarlen_cli

#include <functional>
#include <memory>

namespace quarlen_cli {

// Reads the identity records stored one after another in fileA ("-": standard input) and hands
// each to eachA with its position (0-based) and the bytes read so far. Throws
// std::runtime_error "'<file>': record <i>: <reason>" for a record that cannot be read and
// "'<file>' cannot be opened"; a file without records is not an error.
void forEachIdRecord(const std::string& fileA,
                     const std::function<void(std::unique_ptr<qridy::IdRecordImp>, std::size_t,
                                              std::size_t)>& eachA);

// The one identity record of fileA; throws std::runtime_error as forEachIdRecord, and "'<file>'
// holds no identity record" or "'<file>' holds more than one identity record".
std::unique_ptr<qridy::IdRecordImp> readOneIdRecord(const std::string& fileA);

}  // namespace quarlen_cli
