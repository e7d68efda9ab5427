#include <qrlcore/QuarlenInformation.h>

#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/IniFile.h>

#include "ValueText.h"

namespace kxutl {
namespace {

int debugLevelFromEnvironment() {
  const char* textL = std::getenv("TOLM_QUARLEN_DEBUG_LEVEL");
  if (textL == nullptr) return 0;
  const int levelL = std::atoi(textL);
  return levelL > 0 ? levelL : 0;
}

std::string environment(const char* nameA) {
  const char* valueL = std::getenv(nameA);
  return valueL != nullptr ? valueL : "";
}

struct Configuration {
  std::string pathM;
  std::string originM;
  IniFile iniM;
  std::optional<kxxcp::Exception> errorM;
};

struct State {
  std::mutex mutexM;
  std::string explicitPathM;
  std::shared_ptr<const Configuration> currentM;
  // Replaced configurations stay alive: getStringFromConfigFile hands out pointers into them.
  std::vector<std::shared_ptr<const Configuration>> retiredM;
};

State& state() {
  static State* stateL = new State();  // never destroyed; used from other static destructors
  return *stateL;
}

std::shared_ptr<const Configuration> load(const std::string& explicitPathA) {
  auto configL = std::make_shared<Configuration>();
  bool mustExistL = true;
  if (!explicitPathA.empty()) {
    configL->pathM = explicitPathA;
    configL->originM = "set by the application";
  } else if (!environment("QUARLEN_CONFIG_FILE").empty()) {
    configL->pathM = environment("QUARLEN_CONFIG_FILE");
    configL->originM = "QUARLEN_CONFIG_FILE";
  } else if (!environment("TOLM_COMMON_DIR").empty()) {
    std::string dirL = environment("TOLM_COMMON_DIR");
    if (dirL.back() != '/') dirL += '/';
    configL->pathM = dirL + "quarlen.ini";
    configL->originM = "TOLM_COMMON_DIR";
    mustExistL = false;
  }
  if (configL->pathM.empty()) return configL;
  if (!mustExistL && access(configL->pathM.c_str(), F_OK) != 0) {
    configL->pathM.clear();
    configL->originM.clear();
    return configL;
  }
  try {
    configL->iniM = IniFile(configL->pathM);
  } catch (const kxxcp::Exception& e) {
    configL->errorM = e;
  }
  return configL;
}

std::shared_ptr<const Configuration> current() {
  State& stateL = state();
  std::lock_guard<std::mutex> lockL(stateL.mutexM);
  if (!stateL.currentM) stateL.currentM = load(stateL.explicitPathM);
  return stateL.currentM;
}

// The configuration, after throwing its reading error if it has one.
std::shared_ptr<const Configuration> readable() {
  auto configL = current();
  if (configL->errorM) throw *configL->errorM;
  return configL;
}

[[noreturn]] void throwConversion(const char* functionA, const std::string& sectionA,
                                  const std::string& keyA, const char* kindA,
                                  const std::string& valueA) {
  KXXCP_THROW(functionA, "Configuration value of key '" << keyA << "' in section '" << sectionA
                                                        << "' is not " << kindA << ": '" << valueA
                                                        << "'.");
}

std::string xmlEscape(const std::string& textA) {
  std::string outL;
  for (char c : textA) {
    switch (c) {
      case '&':
        outL += "&amp;";
        break;
      case '<':
        outL += "&lt;";
        break;
      case '>':
        outL += "&gt;";
        break;
      case '"':
        outL += "&quot;";
        break;
      default:
        outL += c;
    }
  }
  return outL;
}

}  // namespace

std::atomic<int> QuarlenInformation::debugLevelS{debugLevelFromEnvironment()};
const char* const QuarlenInformation::quarlenVersionS = "Quarlen " QRLCORE_VERSION_TEXT;

void QuarlenInformation::setConfigFile(const std::string& pathA) {
  State& stateL = state();
  std::lock_guard<std::mutex> lockL(stateL.mutexM);
  stateL.explicitPathM = pathA;
  if (stateL.currentM) stateL.retiredM.push_back(std::move(stateL.currentM));
  stateL.currentM.reset();
}

void QuarlenInformation::reloadConfigFile() {
  State& stateL = state();
  std::lock_guard<std::mutex> lockL(stateL.mutexM);
  if (stateL.currentM) stateL.retiredM.push_back(std::move(stateL.currentM));
  stateL.currentM.reset();
}

std::string QuarlenInformation::configFilePath() {
  return current()->pathM;
}
std::string QuarlenInformation::configFileOrigin() {
  return current()->originM;
}

std::string QuarlenInformation::configFileError() {
  auto configL = current();
  return configL->errorM ? configL->errorM->getMessage() : std::string();
}

std::string QuarlenInformation::quarlenConfigDir() {
  const std::string pathL = current()->pathM;
  if (pathL.empty()) {
    std::string dirL = environment("TOLM_COMMON_DIR");
    while (dirL.size() > 1 && dirL.back() == '/') dirL.pop_back();
    return dirL;
  }
  const std::size_t slashL = pathL.find_last_of('/');
  if (slashL == std::string::npos) return ".";
  if (slashL == 0) return "/";
  return pathL.substr(0, slashL);
}

bool QuarlenInformation::has(const std::string& sectionA, const std::string& keyA) {
  return readable()->iniM.has(sectionA, keyA);
}

int QuarlenInformation::getIntFromConfigFile(const std::string& sectionA, const std::string& keyA) {
  return getIntFromConfigFile(sectionA, keyA, 0);
}

int QuarlenInformation::getIntFromConfigFile(const std::string& sectionA, const std::string& keyA,
                                             int defaultA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  if (valueL == nullptr) return defaultA;
  long long parsedL = 0;
  if (!valuetext::parseInt64(*valueL, parsedL) || parsedL < std::numeric_limits<int>::min() ||
      parsedL > std::numeric_limits<int>::max()) {
    throwConversion("kxutl::QuarlenInformation::getIntFromConfigFile", sectionA, keyA, "an integer",
                    *valueL);
  }
  return static_cast<int>(parsedL);
}

bool QuarlenInformation::getBoolFromConfigFile(const std::string& sectionA,
                                               const std::string& keyA) {
  return getBoolFromConfigFile(sectionA, keyA, false);
}

bool QuarlenInformation::getBoolFromConfigFile(const std::string& sectionA, const std::string& keyA,
                                               bool defaultA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  if (valueL == nullptr) return defaultA;
  bool parsedL = false;
  if (!valuetext::parseBool(*valueL, parsedL)) {
    throwConversion("kxutl::QuarlenInformation::getBoolFromConfigFile", sectionA, keyA, "a boolean",
                    *valueL);
  }
  return parsedL;
}

float QuarlenInformation::getFloatFromConfigFile(const std::string& sectionA,
                                                 const std::string& keyA) {
  return getFloatFromConfigFile(sectionA, keyA, 0.0f);
}

float QuarlenInformation::getFloatFromConfigFile(const std::string& sectionA,
                                                 const std::string& keyA, float defaultA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  if (valueL == nullptr) return defaultA;
  float parsedL = 0.0f;
  if (!valuetext::parseFloat(*valueL, parsedL)) {
    throwConversion("kxutl::QuarlenInformation::getFloatFromConfigFile", sectionA, keyA, "a number",
                    *valueL);
  }
  return parsedL;
}

const char* QuarlenInformation::getStringFromConfigFile(const std::string& sectionA,
                                                        const std::string& keyA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  // The configuration object outlives this call: it is current or retired, never released.
  return valueL != nullptr ? valueL->c_str() : "";
}

std::string QuarlenInformation::getStdStringFromConfigFile(const std::string& sectionA,
                                                           const std::string& keyA) {
  return getStdStringFromConfigFile(sectionA, keyA, std::string());
}

std::string QuarlenInformation::getStdStringFromConfigFile(const std::string& sectionA,
                                                           const std::string& keyA,
                                                           const std::string& defaultA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  return valueL != nullptr ? *valueL : defaultA;
}

std::vector<unsigned int> QuarlenInformation::getUintVectorFromConfigFile(
    const std::string& sectionA, const std::string& keyA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  std::vector<unsigned int> resultL;
  if (valueL == nullptr) return resultL;
  std::vector<std::string> partsL;
  bool okL = valuetext::splitList(*valueL, partsL);
  for (std::size_t i = 0; okL && i < partsL.size(); ++i) {
    unsigned long long parsedL = 0;
    okL = valuetext::parseUint64(partsL[i], parsedL) &&
          parsedL <= std::numeric_limits<unsigned int>::max();
    resultL.push_back(static_cast<unsigned int>(parsedL));
  }
  if (!okL) {
    throwConversion("kxutl::QuarlenInformation::getUintVectorFromConfigFile", sectionA, keyA,
                    "a list of unsigned integers", *valueL);
  }
  return resultL;
}

std::vector<float> QuarlenInformation::getFloatVectorFromConfigFile(const std::string& sectionA,
                                                                    const std::string& keyA) {
  auto configL = readable();
  const std::string* valueL = configL->iniM.find(sectionA, keyA);
  std::vector<float> resultL;
  if (valueL == nullptr) return resultL;
  std::vector<std::string> partsL;
  bool okL = valuetext::splitList(*valueL, partsL);
  for (std::size_t i = 0; okL && i < partsL.size(); ++i) {
    float parsedL = 0.0f;
    okL = valuetext::parseFloat(partsL[i], parsedL);
    resultL.push_back(parsedL);
  }
  if (!okL) {
    throwConversion("kxutl::QuarlenInformation::getFloatVectorFromConfigFile", sectionA, keyA,
                    "a list of numbers", *valueL);
  }
  return resultL;
}

std::string QuarlenInformation::getSettings(bool xmlA) {
  auto configL = readable();
  std::ostringstream outL;
  if (xmlA) {
    outL << "\t<configFile>" << xmlEscape(configL->pathM) << "</configFile>\n";
  } else if (configL->pathM.empty()) {
    outL << "; no configuration file\n";
  } else {
    outL << "; configuration file: " << configL->pathM << "\n";
  }
  for (const auto& sectionL : configL->iniM.sections()) {
    // Keys before the first header live in the unnamed section, which has no header line.
    if (!xmlA && !sectionL.nameM.empty()) outL << "[" << sectionL.nameM << "]\n";
    for (const auto& entryL : sectionL.entriesM) {
      if (xmlA) {
        outL << "\t<setting section=\"" << xmlEscape(sectionL.nameM) << "\" key=\""
             << xmlEscape(entryL.keyM) << "\" value=\"" << xmlEscape(entryL.valueM) << "\" />\n";
      } else {
        outL << entryL.keyM << " = " << entryL.valueM << "\n";
      }
    }
  }
  return outL.str();
}

unsigned long QuarlenInformation::currentProcessId() {
  return static_cast<unsigned long>(getpid());
}

}  // namespace kxutl
