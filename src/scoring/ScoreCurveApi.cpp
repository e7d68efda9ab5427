// The C-style interface of the score-curve library: argument checks and error codes around the
// handles. Nothing here throws.
#include <quarlen/ScoreCurve.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "scoring/ScoreCurveLibrary.h"

namespace qrscore {
namespace {

template <class Handle>
int getScaleOf(const Handle* handleA, float* scaleA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (scaleA == nullptr) return ScoreCurveOutputNull;
  *scaleA = handleA->scale();
  return ScoreCurveOk;
}

template <class Handle>
int destroyHandle(Handle* handleA) {
  try {
    delete handleA;
  } catch (...) {
    return ScoreCurveCannotDestroy;
  }
  return ScoreCurveOk;
}

}  // namespace

namespace {

// A spline mapping read from a stream, as both creation functions build it.
int readNormalizer(ScoreNormalizer** handleA, std::istream& inA) {
  std::unique_ptr<ScoreNormalizer> handleL;
  try {
    handleL = std::make_unique<ScoreNormalizer>(ScoreNormalizer::KindSpline, true);
  } catch (...) {
    return ScoreCurveCannotCreate;
  }
  try {
    const int codeL = handleL->readSpline(inA);
    if (codeL != ScoreCurveOk) return codeL;
  } catch (...) {
    return ScoreCurveCannotRead;
  }
  *handleA = handleL.release();
  return ScoreCurveOk;
}

}  // namespace

int createNormalizerFromFile(ScoreNormalizer** handleA, const char* pathA) {
  if (pathA == nullptr) return ScoreCurveInputNull;
  if (handleA == nullptr) return ScoreCurveOutputNull;
  std::ifstream inL;
  try {
    inL.open(pathA, std::ios::in | std::ios::binary);
  } catch (...) {
    return ScoreCurveOpenException;
  }
  if (!inL.is_open()) return ScoreCurveCannotOpen;
  return readNormalizer(handleA, inL);
}

int createNormalizerFromText(ScoreNormalizer** handleA, const char* textA) {
  if (textA == nullptr) return ScoreCurveInputNull;
  if (handleA == nullptr) return ScoreCurveOutputNull;
  std::istringstream inL{std::string(textA)};
  return readNormalizer(handleA, inL);
}

namespace {

// Runs one mapping direction with the checks both directions share. A score far outside the
// curve's knots can map beyond the float range: that answer is refused, not passed on.
template <class Mapping>
int mapWith(const ScoreNormalizer* handleA, bool validInputA, float* outA, Mapping mappingA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (!validInputA) return ScoreCurveInvalidValue;
  if (outA == nullptr) return ScoreCurveOutputNull;
  try {
    const float resultL = static_cast<float>(mappingA());
    if (!std::isfinite(resultL)) return ScoreCurveInvalidValue;
    *outA = resultL;
    return ScoreCurveOk;
  } catch (...) {
    return ScoreCurveUnknownError;
  }
}

}  // namespace

int normalizeScore(const ScoreNormalizer* handleA, float scoreA, float* outA) {
  return mapWith(handleA, std::isfinite(scoreA), outA, [&] { return handleA->normalize(scoreA); });
}

int denormalizeScore(const ScoreNormalizer* handleA, float scoreA, float* outA) {
  return mapWith(handleA, std::isfinite(scoreA) && scoreA >= 0.0f, outA,
                 [&] { return handleA->denormalize(scoreA); });
}

int setNormalizerScale(ScoreNormalizer* handleA, float scaleA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (!std::isfinite(scaleA) || scaleA < 0.0f) return ScoreCurveInvalidValue;
  handleA->setScale(scaleA);
  return ScoreCurveOk;
}

int getNormalizerScale(const ScoreNormalizer* handleA, float* scaleA) {
  return getScaleOf(handleA, scaleA);
}

int destroyNormalizer(ScoreNormalizer* handleA) {
  return destroyHandle(handleA);
}

namespace {

// The parameter file of a fusion: the strategy type, then exactly countA weights.
int readFusionFile(ScoreFusion& fusionA, const char* pathA, int countA) {
  if (countA < 1) return ScoreCurveInvalidValue;
  std::ifstream inL;
  try {
    inL.open(pathA, std::ios::in | std::ios::binary);
  } catch (...) {
    return ScoreCurveOpenException;
  }
  if (!inL.is_open()) return ScoreCurveCannotOpen;
  std::vector<double> valuesL;
  if (!readDecimalNumbers(inL, valuesL) || valuesL.empty() || valuesL[0] != 0.0 ||
      valuesL.size() - 1 != static_cast<std::size_t>(countA)) {
    return ScoreCurveCannotRead;
  }
  std::vector<float> weightsL;
  for (std::size_t i = 1; i < valuesL.size(); ++i) {
    const float wL = static_cast<float>(valuesL[i]);
    if (!std::isfinite(wL) || wL < 0.0f) return ScoreCurveCannotRead;
    weightsL.push_back(wL);
  }
  fusionA.setWeights(std::move(weightsL));
  return ScoreCurveOk;
}

}  // namespace

int createFusion(ScoreFusion** handleA, const char* parameterFileA, int countA) {
  if (handleA == nullptr) return ScoreCurveOutputNull;
  std::unique_ptr<ScoreFusion> fusionL;
  try {
    fusionL = std::make_unique<ScoreFusion>();
  } catch (...) {
    return ScoreCurveCannotCreate;
  }
  if (parameterFileA != nullptr) {
    try {
      const int codeL = readFusionFile(*fusionL, parameterFileA, countA);
      if (codeL != ScoreCurveOk) return codeL;
    } catch (...) {
      return ScoreCurveCannotRead;
    }
  }
  *handleA = fusionL.release();
  return ScoreCurveOk;
}

int fuseScores(const ScoreFusion* handleA, const float* scoresA, int countA, float* outA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (countA < 1) return ScoreCurveInvalidValue;
  if (outA == nullptr) return ScoreCurveOutputNull;
  if (scoresA == nullptr) return ScoreCurveInputNull;
  for (int i = 0; i < countA; ++i) {
    if (!std::isfinite(scoresA[i]) || scoresA[i] < 0.0f) return ScoreCurveInvalidValue;
  }
  try {
    const float resultL = handleA->fuse(scoresA, static_cast<std::size_t>(countA));
    if (std::isnan(resultL)) return ScoreCurveUnknownError;
    *outA = resultL;
    return ScoreCurveOk;
  } catch (...) {
    return ScoreCurveUnknownError;
  }
}

int setFusionWeights(ScoreFusion* handleA, const float* weightsA, int countA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (weightsA == nullptr) return ScoreCurveInputNull;
  if (countA < 1) return ScoreCurveInvalidValue;
  for (int i = 0; i < countA; ++i) {
    if (!std::isfinite(weightsA[i]) || weightsA[i] < 0.0f) return ScoreCurveInvalidValue;
  }
  try {
    handleA->setWeights(std::vector<float>(weightsA, weightsA + countA));
  } catch (...) {
    return ScoreCurveCopyException;
  }
  return ScoreCurveOk;
}

int getFusionWeights(const ScoreFusion* handleA, float* weightsA, int countA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (weightsA == nullptr) return ScoreCurveInputNull;
  const auto& storedL = handleA->weights();
  if (countA < 1 || static_cast<std::size_t>(countA) != storedL.size()) {
    return ScoreCurveInvalidValue;
  }
  std::copy(storedL.begin(), storedL.end(), weightsA);
  return ScoreCurveOk;
}

int getFusionWeightCount(const ScoreFusion* handleA, int* countA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (countA == nullptr) return ScoreCurveOutputNull;
  *countA = static_cast<int>(handleA->weights().size());
  return ScoreCurveOk;
}

int setFusionScale(ScoreFusion* handleA, float scaleA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (!std::isfinite(scaleA)) return ScoreCurveInvalidValue;
  handleA->setScale(scaleA);
  return ScoreCurveOk;
}

int getFusionScale(const ScoreFusion* handleA, float* scaleA) {
  return getScaleOf(handleA, scaleA);
}

int destroyFusion(ScoreFusion* handleA) {
  return destroyHandle(handleA);
}

int missingScoreMarker(const ScoreFusion* handleA, float* markerA) {
  if (handleA == nullptr) return ScoreCurveHandleNull;
  if (markerA == nullptr) return ScoreCurveOutputNull;
  *markerA = kMissingScore;
  return ScoreCurveOk;
}

int scoreCurveErrorText(int codeA, char* textA, std::size_t lengthA) {
  if (textA == nullptr || lengthA == 0) return ScoreCurveOutputNull;
  const char* messageL = "Unknown error";
  switch (codeA) {
    case ScoreCurveOk:
      messageL = "No error";
      break;
    case ScoreCurveInputNull:
      messageL = "Error: input parameter is null";
      break;
    case ScoreCurveOutputNull:
      messageL = "Error: output parameter is null";
      break;
    case ScoreCurveHandleNull:
      messageL = "Error: handle is null";
      break;
    case ScoreCurveCannotCreate:
      messageL = "Error: unable to create handle";
      break;
    case ScoreCurveCannotDestroy:
      messageL = "Error: unable to destroy handle";
      break;
    case ScoreCurveCannotOpen:
      messageL = "Error: unable to open data file";
      break;
    case ScoreCurveCannotRead:
      messageL = "Error: unable to read data file";
      break;
    case ScoreCurveOpenException:
      messageL = "Error: exception thrown when opening data file";
      break;
    case ScoreCurveCopyException:
      messageL = "Error: exception thrown when copying array";
      break;
    case ScoreCurveInvalidValue:
      messageL = "Error: input parameter's value is invalid";
      break;
    default:
      break;
  }
  const std::size_t countL = std::min(std::strlen(messageL), lengthA - 1);
  std::memcpy(textA, messageL, countL);
  textA[countL] = '\0';
  return ScoreCurveOk;
}

}  // namespace qrscore
