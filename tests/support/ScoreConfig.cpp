#include "support/ScoreConfig.h"

#include <qrlcore/QuarlenInformation.h>

namespace quarlen_test {

void installScoreConfig(const TempDir& dirA, const std::string& modeA, const std::string& extraA) {
  const std::string lineL = dirA.write("line.map", "-1 1 1\n1 3 1\n");
  const std::string doubleL = dirA.write("double.map", "0 0 2\n1 2 2\n");
  std::string iniL = "[TEMPLATE_MATCHING_MULTIPASS]\nfaceScoreMappingMode = " + modeA + "\n";
  for (const char* k :
       {"l1Jim",      "l2Jim",     "l3Jim",     "HGM",          "HGMbyte",    "HgmByteSmw",
        "HgmPyr",     "HgmPyrSmw", "HgmPyrBit", "HgmPyrBitSmw", "HgmPyrByte", "HgmPyrByteSmw",
        "VFA",        "VFA2",      "VFA3",      "LFA",          "LFAg",       "LFALowRes",
        "LFAgLowRes", "LFAIlmSb",  "LFAgIlmSb", "STA",          "DICAR"}) {
    iniL += std::string(k) + "_logFarScoreMappingFile = " + lineL + "\n";
  }
  iniL += "HGMsmw_logFarScoreMappingFile = " + doubleL + "\n";
  iniL += "[IRIS]\nscoreMappingFile = " + lineL + "\n";
  kxutl::QuarlenInformation::setConfigFile(dirA.write("quarlen.ini", iniL + extraA));
}

CapturedErrors::CapturedErrors() {
  previousM = kxntc::setSink([this](kxntc::Level levelA, const std::string& textA) {
    if (levelA == kxntc::Level::error) entriesM.push_back(textA);
  });
}

CapturedErrors::~CapturedErrors() {
  kxntc::setSink(previousM);
}

}  // namespace quarlen_test
