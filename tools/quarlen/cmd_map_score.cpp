#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include <quarlen/ScoreCurve.h>

#include "Commands.h"

namespace quarlen_cli {
namespace {

std::string errorText(int codeA) {
  char textL[128];
  qrscore::scoreCurveErrorText(codeA, textL, sizeof textL);
  return textL;
}

}  // namespace

int runMapScore(const std::vector<std::string>& args) {
  bool inverseL = false;
  std::vector<std::string> positionalL;
  for (const auto& a : args) {
    if (a == "--inverse") {
      inverseL = true;
    } else {
      positionalL.push_back(a);
    }
  }
  if (positionalL.size() != 2) {
    std::cerr << "usage: quarlen map-score FILE SCORE [--inverse]\n";
    return 2;
  }
  char* endL = nullptr;
  errno = 0;
  const double scoreL = std::strtod(positionalL[1].c_str(), &endL);
  if (positionalL[1].empty() || *endL != '\0' || errno == ERANGE || !std::isfinite(scoreL)) {
    std::cerr << "quarlen map-score: '" << positionalL[1] << "' is not a finite number\n";
    return 2;
  }

  qrscore::ScoreNormalizer* handleL = nullptr;
  int codeL = qrscore::createNormalizerFromFile(&handleL, positionalL[0].c_str());
  if (codeL != qrscore::ScoreCurveOk) {
    std::cerr << "quarlen map-score: " << positionalL[0] << ": " << errorText(codeL) << " ("
              << codeL << ")\n";
    return 1;
  }
  float outL = 0.0f;
  codeL = inverseL ? qrscore::denormalizeScore(handleL, static_cast<float>(scoreL), &outL)
                   : qrscore::normalizeScore(handleL, static_cast<float>(scoreL), &outL);
  qrscore::destroyNormalizer(handleL);
  if (codeL != qrscore::ScoreCurveOk) {
    std::cerr << "quarlen map-score: " << errorText(codeL) << " (" << codeL << ")\n";
    return 1;
  }
  std::cout << outL << "\n";
  return 0;
}

}  // namespace quarlen_cli
