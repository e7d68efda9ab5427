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
