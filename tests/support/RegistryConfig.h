#pragma once

// A system configuration for the identity registry tests: block sizes of the metadata file, the
// number of parallel probes, and the attribute count of the query-language records.

#include <string>

#include <qrlcore/QuarlenInformation.h>
#include <quarlen/QueryLanguage.h>

#include "support/Environment.h"

namespace quarlen_test {

// Installs a configuration with QueryLanguage block size qlMaxA, SID length sidMaxA and probesA
// parallel probes (extraA is appended), then fixes the attribute count at attributesA. Restores
// the default configuration when it goes.
class RegistryConfig {
 public:
  RegistryConfig(unsigned int attributesA, int qlMaxA = 1044, int sidMaxA = 16, int probesA = 2,
                 const std::string& extraA = "") {
    const std::string iniL =
        "[MAX_TEMPLATE_SIZE]\nQueryLanguage = " + std::to_string(qlMaxA) +
        "\nStringIdentifierData = " + std::to_string(sidMaxA) +
        "\n[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = " + std::to_string(probesA) +
        "\n" + extraA;
    kxutl::QuarlenInformation::setConfigFile(dirM.write("quarlen.ini", iniL));
    qridy::QueryLanguage::setAttributeSize(attributesA);
  }
  ~RegistryConfig() { kxutl::QuarlenInformation::setConfigFile(""); }
  RegistryConfig(const RegistryConfig&) = delete;
  RegistryConfig& operator=(const RegistryConfig&) = delete;

  const TempDir& dir() const { return dirM; }

 private:
  TempDir dirM;
};

}  // namespace quarlen_test
