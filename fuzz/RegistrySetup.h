#pragma once

// The configuration the registry fuzz targets run with: a query-language block of 84 bytes
// with 4 attributes in use, SIDs of 8 bytes, one probe. The metadata file seeds are written
// with the same values (tests/metadata/MetadataFile_test.cpp).

#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/QueryLanguage.h>

namespace fuzzing {

inline const std::string& registryDir() {
  static const std::string dirS = [] {
    char templateL[] = "/tmp/fuzz_registry_XXXXXX";
    const char* dL = mkdtemp(templateL);
    if (dL == nullptr) std::abort();
    const std::string dirL(dL);
    std::ofstream(dirL + "/quarlen.ini")
        << "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 84\nStringIdentifierData = 8\n"
           "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n";
    kxutl::QuarlenInformation::setConfigFile(dirL + "/quarlen.ini");
    qridy::QueryLanguage::setAttributeSize(4);
    // Damaged files are expected: keep the error channel quiet.
    kxntc::setSink([](kxntc::Level, const std::string&) {});
    return dirL;
  }();
  return dirS;
}

}  // namespace fuzzing
