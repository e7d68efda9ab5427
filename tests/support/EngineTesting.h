#pragma once

// Helpers of the match-engine tests: a fixture with its own system configuration, engine
// creation, and random test data.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <quarlen/StageMatchEngine_Base.h>

#include "support/Environment.h"

namespace quarlen_test {

// n random bytes from any standard generator.
template <typename Rng>
std::vector<unsigned char> randomBytes(Rng& rngA, std::size_t nA) {
  std::uniform_int_distribution<int> byteL(0, 255);
  std::vector<unsigned char> bytesL(nA);
  for (auto& b : bytesL) b = static_cast<unsigned char>(byteL(rngA));
  return bytesL;
}

// Each test starts without a configuration file (none from the environment either) and may
// install keys of section TEMPLATE_MATCHING_MULTIPASS with useConfig.
class EngineConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { kxutl::QuarlenInformation::setConfigFile(""); }
  void TearDown() override { kxutl::QuarlenInformation::setConfigFile(""); }

  void useConfig(const std::string& matchingKeysA) {
    kxutl::QuarlenInformation::setConfigFile(
        dirM.write("quarlen.ini", "[TEMPLATE_MATCHING_MULTIPASS]\n" + matchingKeysA));
  }
  static std::unique_ptr<qridy::StageMatchEngine_Base> create(qridy::Algorithm algorithmA) {
    return std::unique_ptr<qridy::StageMatchEngine_Base>(
        qridy::StageMatchEngine_Base::createStageEngine(algorithmA));
  }

 private:
  ScopedEnv noFileM{"QUARLEN_CONFIG_FILE", std::nullopt};
  ScopedEnv noDirM{"TOLM_COMMON_DIR", std::nullopt};
  TempDir dirM;
};

}  // namespace quarlen_test
