#include <quarlen/ResultParameter.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

namespace qridy {
namespace {

using QI = kxutl::QuarlenInformation;

const char* const kMultipassSection = "TEMPLATE_MATCHING_MULTIPASS";
const char* const kFusionSection = "TEMPLATE_MATCHING_MULTIPASS_FUSION";
const char* const kAddScoreFunction = "qridy::ResultTemplate::addScore";

// Scaling bounds: row i holds the lower bound at 2i and the upper bound at 2i + 1. dicar takes
// the key named Max as its lower bound and lfaIlmSb shares the lfaLowRes keys; both are kept as
// stored configurations rely on them.
struct ScalingRow {
  Algorithm algorithm;
  const char* lowerKey;
  const char* upperKey;
};
constexpr ScalingRow kScalingRows[] = {
    {AlgHgm, "sMinHgm", "sMaxHgm"},
    {AlgFmf, "sMinFmf", "sMaxFmf"},
    {AlgDicar, "sMaxLfaIlmSb", "sMinLfaIlmSb"},
    {AlgFHgm, "sMinFhgm", "sMaxFhgm"},
    {AlgSta, "sMinSta", "sMaxSta"},
    {AlgVfa, "sMinVfa", "sMaxVfa"},
    {AlgLfa, "sMinLfa", "sMaxLfa"},
    {AlgLfaLowRes, "sMinLfaLowRes", "sMaxLfaLowRes"},
    {AlgLfaIlmSb, "sMinLfaLowRes", "sMaxLfaLowRes"},
    {AlgHgmByte, "sMinHgmByte", "sMaxHgmByte"},
    {AlgVfa2, "sMinVfa2", "sMaxVfa2"},
    {AlgHgmPyr, "sMinHgmPyr", "sMaxHgmPyr"},
    {AlgVfa3, "sMinVfa3", "sMaxVfa3"},
    {AlgHgmPyrByte, "sMinHgmPyrByte", "sMaxHgmPyrByte"},
};
static_assert(sizeof kScalingRows / sizeof kScalingRows[0] * 2 ==
              ResultParameter::kScalingBoundCount);

// The fusion weights, in the order they are read.
enum Weight {
  WVfa,
  WVfa2,
  WVfa3,
  WL1Jim,
  WL2Jim,
  WL3Jim,
  WHgm2K,
  WHgm16KSmw,
  WHgm16K,
  WHgmPyr2KSmw,
  WHgmPyr2K,
  WHgmPyr16KSmw,
  WHgmPyr16K,
  WHgm2KSmw,
  WLfa,
  WLfaG,
  WLfaLowRes,
  WLfaGLowRes,
  WLfaIlmSb,
  WLfaGIlmSb,
  WSta,
  WeightCount
};
constexpr const char* kWeightKeys[] = {
    "VFA",       "VFA2",   "VFA3",        "L1Jim",      "L2Jim",        "L3Jim",     "HGM2K",
    "HGM16Ksmw", "HGM16K", "HGMPyr2Ksmw", "HGMPyr2K",   "HGMPyr16Ksmw", "HGMPyr16K", "HGM2Ksmw",
    "LFA",       "LFAg",   "LFALowRes",   "LFAgLowRes", "LFAIlmSb",     "LFAgIlmSb", "STA",
};
static_assert(WeightCount == ResultParameter::kFusionWeightCount);
static_assert(sizeof kWeightKeys / sizeof kWeightKeys[0] == WeightCount);

// Which weight a face algorithm's block takes, without and with gallery normalisation.
// HGMPyr16K and HGMPyr16Ksmw are read but selected for no algorithm.
struct WeightRow {
  Algorithm algorithm;
  Weight plain;
  Weight normalized;
};
constexpr WeightRow kWeightRows[] = {
    {AlgHgm, WHgm2K, WHgm2KSmw},
    {AlgSta, WSta, WSta},
    {AlgVfa, WVfa, WVfa},
    {AlgLfa, WLfa, WLfaG},
    {AlgLfaLowRes, WLfaLowRes, WLfaGLowRes},
    {AlgLfaIlmSb, WLfaIlmSb, WLfaGIlmSb},
    {AlgHgmByte, WHgm16K, WHgm16KSmw},
    {AlgVfa2, WVfa2, WVfa2},
    {AlgHgmPyr, WHgmPyr2K, WHgmPyr2KSmw},
    {AlgHgmPyrByte, WHgmPyr2K, WHgmPyr2KSmw},
    {AlgHgmPyrFloat, WHgmPyr2K, WHgmPyr2KSmw},
    {AlgHgmPyrBit, WHgmPyr2K, WHgmPyr2KSmw},
    {AlgVfa3, WVfa3, WVfa3},
    {AlgL3Jim, WL3Jim, WL3Jim},
    {AlgL1Jim, WL1Jim, WL1Jim},
    {AlgL2Jim, WL2Jim, WL2Jim},
    {AlgHgmPyrBitSmwSb, WHgmPyr2KSmw, WHgmPyr2KSmw},  // normalised: refused before lookup
};

using Slot = ResultParameter::CurveSlot;

// The configuration key of each face curve slot (the fHgm slot has none and stays empty).
constexpr const char* kCurveKeys[] = {
    "l1Jim_logFarScoreMappingFile",         "l2Jim_logFarScoreMappingFile",
    "l3Jim_logFarScoreMappingFile",         nullptr,
    "HGM_logFarScoreMappingFile",           "HGMbyte_logFarScoreMappingFile",
    "HGMsmw_logFarScoreMappingFile",        "HgmByteSmw_logFarScoreMappingFile",
    "HgmPyrBitSmw_logFarScoreMappingFile",  "HgmPyr_logFarScoreMappingFile",
    "HgmPyrByte_logFarScoreMappingFile",    "HgmPyrSmw_logFarScoreMappingFile",
    "HgmPyrByteSmw_logFarScoreMappingFile", "HgmPyrBit_logFarScoreMappingFile",
    "VFA_logFarScoreMappingFile",           "VFA2_logFarScoreMappingFile",
    "VFA3_logFarScoreMappingFile",          "LFA_logFarScoreMappingFile",
    "LFAg_logFarScoreMappingFile",          "LFALowRes_logFarScoreMappingFile",
    "LFAgLowRes_logFarScoreMappingFile",    "LFAIlmSb_logFarScoreMappingFile",
    "LFAgIlmSb_logFarScoreMappingFile",     "STA_logFarScoreMappingFile",
    "DICAR_logFarScoreMappingFile",
};
static_assert(sizeof kCurveKeys / sizeof kCurveKeys[0] == ResultParameter::CurveSlotCount);

// The order in which the curves are read (the first missing file is the one reported).
constexpr Slot kCurveReadOrder[] = {
    Slot::CurveL1Jim,         Slot::CurveL2Jim,     Slot::CurveL3Jim,        Slot::CurveHgm,
    Slot::CurveHgmSmw,        Slot::CurveHgmByte,   Slot::CurveHgmByteSmw,   Slot::CurveHgmPyr,
    Slot::CurveHgmPyrSmw,     Slot::CurveHgmPyrBit, Slot::CurveHgmPyrBitSmw, Slot::CurveHgmPyrByte,
    Slot::CurveHgmPyrByteSmw, Slot::CurveVfa,       Slot::CurveVfa2,         Slot::CurveVfa3,
    Slot::CurveLfa,           Slot::CurveLfaG,      Slot::CurveLfaLowRes,    Slot::CurveLfaGLowRes,
    Slot::CurveLfaIlmSb,      Slot::CurveLfaGIlmSb, Slot::CurveSta,          Slot::CurveDicar,
};

// The curve of a face algorithm in LogFar mode and the message logged on a mapping error.
struct CurveRow {
  Algorithm algorithm;
  Slot plain;
  Slot normalized;
  const char* message;
};
constexpr CurveRow kCurveRows[] = {
    {AlgHgm, Slot::CurveHgm, Slot::CurveHgmSmw, "hgm(smw) score mapping error: "},
    {AlgDicar, Slot::CurveDicar, Slot::CurveDicar, "dicar score mapping error: "},
    {AlgFHgm, Slot::CurveFHgm, Slot::CurveFHgm, "fhgm score mapping error: "},
    {AlgSta, Slot::CurveSta, Slot::CurveSta, "sta score mapping error: "},
    {AlgVfa, Slot::CurveVfa, Slot::CurveVfa, "vfa score mapping error: "},
    {AlgLfa, Slot::CurveLfa, Slot::CurveLfaG, "lfa(g) score mapping error: "},
    {AlgLfaLowRes, Slot::CurveLfaLowRes, Slot::CurveLfaGLowRes, "lfaLowRes score mapping error: "},
    {AlgLfaIlmSb, Slot::CurveLfaIlmSb, Slot::CurveLfaGIlmSb, "lfaIlm score mapping error: "},
    {AlgHgmByte, Slot::CurveHgmByte, Slot::CurveHgmByteSmw, "hgm-byte(smw) score mapping error: "},
    {AlgVfa2, Slot::CurveVfa2, Slot::CurveVfa2, "vfa2 score mapping error: "},
    {AlgHgmPyr, Slot::CurveHgmPyr, Slot::CurveHgmPyrSmw, "hgmPyr(smw) score mapping error: "},
    {AlgVfa3, Slot::CurveVfa3, Slot::CurveVfa3, "vfa3 score mapping error: "},
    {AlgHgmPyrByte, Slot::CurveHgmPyrByte, Slot::CurveHgmPyrByteSmw,
     "hgmPyr-byte(smw) score mapping error: "},
    {AlgHgmPyrBit, Slot::CurveHgmPyrBit, Slot::CurveHgmPyrBitSmw,
     "hgmPyr-bit(smw) score mapping error: "},
    {AlgL3Jim, Slot::CurveL3Jim, Slot::CurveL3Jim, "jim3 score mapping error: "},
    {AlgL1Jim, Slot::CurveL1Jim, Slot::CurveL1Jim, "jim1 score mapping error: "},
    {AlgL2Jim, Slot::CurveL2Jim, Slot::CurveL2Jim, "jim2 score mapping error: "},
    {AlgHgmPyrBitSmwSb, Slot::CurveHgmPyrBitSmw, Slot::CurveHgmPyrBitSmw,
     "hgmPyr-bit(smw) score mapping error: "},
};

template <class Row>
const Row* findRow(const Row* firstA, const Row* lastA, Algorithm algorithmA) {
  for (const Row* r = firstA; r != lastA; ++r) {
    if (r->algorithm == algorithmA) return r;
  }
  return nullptr;
}

// Emits one error entry. The text is formatted here, with default stream formatting, because
// the channel's stream keeps whatever format flags earlier users of this thread left on it.
template <class... Parts>
void logError(const Parts&... partsA) {
  std::ostringstream textL;
  (textL << ... << partsA);
  kxntc::error << textL.str();
  kxntc::notify(kxntc::error);
}

ScoreFusionHandle makeFusion(int countA, const char* whoA) {
  qrscore::ScoreFusion* fusionL = nullptr;
  const int codeL = qrscore::createFusion(&fusionL, nullptr, countA);
  if (codeL != qrscore::ScoreCurveOk) {
    logError("Error creating fusion handle for ", whoA, ". ( error : ", codeL, ")");
    return nullptr;
  }
  return ScoreFusionHandle(fusionL, [](qrscore::ScoreFusion* f) { qrscore::destroyFusion(f); });
}

}  // namespace

ScoreMapHandle createLogFarScoreMapHandle(const std::string& sectionA, const std::string& keyA) {
  const std::string pathL = QI::getStdStringFromConfigFile(sectionA, keyA);
  {
    std::ifstream probeL(pathL);
    if (!probeL.is_open()) {
      KXXCP_THROW("qridy::createLogFarScoreMapHandle",
                  "Could not open logFar score mapping file: " << pathL);
    }
  }
  qrscore::ScoreNormalizer* handleL = nullptr;
  const int codeL = qrscore::createNormalizerFromFile(&handleL, pathL.c_str());
  if (codeL != qrscore::ScoreCurveOk) {
    KXXCP_THROW("qridy::createLogFarScoreMapHandle", "Could not open logFar score mapping file: "
                                                         << pathL << "( error : " << codeL << ")");
  }
  return ScoreMapHandle(handleL,
                        [](qrscore::ScoreNormalizer* h) { qrscore::destroyNormalizer(h); });
}

ResultParameter::ResultParameter() = default;
ResultParameter::ResultParameter(const ResultParameter& otherA) = default;
ResultParameter& ResultParameter::operator=(const ResultParameter& otherA) = default;
ResultParameter::~ResultParameter() = default;

void ResultParameter::readFromQuarlenIni() {
  if (initialisedM) return;
  const std::string modeL =
      QI::getStdStringFromConfigFile(kMultipassSection, "faceScoreMappingMode");
  if (modeL == "scaling") {
    modeM = Scaling;
  } else if (modeL == "logFar") {
    modeM = LogFar;
  } else if (modeL == "noMapping") {
    modeM = NoMapping;
  } else {
    KXXCP_THROW("qridy::ResultParameter::readFromQuarlenIni",
                "Unknown faceScoreMappingMode: " << modeL);
  }

  if (modeM == Scaling) {
    for (std::size_t i = 0; i < sizeof kScalingRows / sizeof kScalingRows[0]; ++i) {
      scalingBoundsM[2 * i] =
          QI::getFloatFromConfigFile(kMultipassSection, kScalingRows[i].lowerKey);
      scalingBoundsM[2 * i + 1] =
          QI::getFloatFromConfigFile(kMultipassSection, kScalingRows[i].upperKey);
    }
  } else if (modeM == LogFar) {
    for (Slot slot : kCurveReadOrder) {
      faceCurvesM[slot] = createLogFarScoreMapHandle(kMultipassSection, kCurveKeys[slot]);
    }
    for (int w = 0; w < WeightCount; ++w) {
      fusionWeightsM[w] = QI::getFloatFromConfigFile(kFusionSection, kWeightKeys[w]);
    }
  }
  irisCurveM = createLogFarScoreMapHandle("IRIS", "scoreMappingFile");
  irisFusionM = makeFusion(3, "iris");
  fingerFusionM = makeFusion(10, "finger");
  initialisedM = true;
}

bool ResultParameter::mapScore(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                               float rawA, bool mapScoreA, bool galleryNormalizedA,
                               float& mappedA) const {
  // An unmapped score is stored exactly as it came, whatever its value: callers pass scores
  // unmapped that are already on the common scale (a merge of two result lists, say).
  if (!mapScoreA) {
    mappedA = rawA;
    return true;
  }
  // Beyond +-1e7 (and for values that are no number at all) a score to be mapped is an engine
  // fault.
  if (!(rawA >= -1e7f && rawA <= 1e7f)) {
    logError("infinite raw sccore : ", Types::algorithm2Text(algorithmA), "/",
             Types::instance2Text(instanceA), "/", Types::modality2Text(modalityA), " : ", rawA);
    return false;
  }

  float scoreL = rawA;
  if (modeM == Scaling) {
    float lowerL = 0.0f, upperL = 0.0f;
    if (scalingBounds(algorithmA, lowerL, upperL)) {
      scoreL = (rawA - lowerL) / (upperL - lowerL);
      // Equal bounds (both absent from the configuration, say) leave a score at the bound as
      // 0/0; it counts as the lower end.
      if (std::isnan(scoreL)) scoreL = 0.0f;
    }
    // The lower cut is the decimal 1e-5, compared in double: the float nearest to it lies
    // just below it and is cut as well.
    if (scoreL > 1.0f) scoreL = 1.0f;
    if (static_cast<double>(scoreL) < 1e-5) scoreL = 0.0f;
  } else if (modeM == LogFar && algorithmA >= AlgHgm && algorithmA <= AlgHgmPyrBitSmwSb) {
    if (algorithmA == AlgFmf) {
      KXXCP_THROW(kAddScoreFunction, "logFar mapping not supported for FMF.");
    }
    if (algorithmA == AlgHgmPyrBitSmwSb && galleryNormalizedA) {
      KXXCP_THROW(kAddScoreFunction,
                  "logFar mapping not supported for hgmPyrBitSmwSBC + gallery norm.");
    }
    const CurveRow* rowL = findRow(std::begin(kCurveRows), std::end(kCurveRows), algorithmA);
    if (rowL != nullptr) {
      const ScoreMapHandle& curveL =
          faceCurvesM[galleryNormalizedA ? rowL->normalized : rowL->plain];
      float outL = 0.0f;
      const int codeL = qrscore::normalizeScore(curveL.get(), rawA, &outL);
      if (codeL == qrscore::ScoreCurveOk) {
        scoreL = outL;
      } else {
        logError(rowL->message, codeL);
      }
    }
  }

  if (algorithmA == AlgMvxIris2PiSdk || algorithmA == AlgDaugman2010) {
    scoreL = 0.0f;
    if (!(rawA < -0.9f)) {
      float outL = 0.0f;
      const int codeL = qrscore::normalizeScore(irisCurveM.get(), rawA, &outL);
      if (codeL == qrscore::ScoreCurveOk) {
        scoreL = outL;
      } else {
        logError("Iris score mapping error: ", codeL);
      }
    }
  }
  mappedA = scoreL;
  return true;
}

float ResultParameter::fusionWeight(Algorithm algorithmA, bool galleryNormalizedA) const {
  if (algorithmA == AlgHgmPyrBitSmwSb && galleryNormalizedA) {
    KXXCP_THROW(kAddScoreFunction, "no weight found for  hgmPyrBitSmwSBC + gallery norm.");
  }
  const WeightRow* rowL = findRow(std::begin(kWeightRows), std::end(kWeightRows), algorithmA);
  if (rowL == nullptr) return 1.0f;
  return fusionWeightsM[galleryNormalizedA ? rowL->normalized : rowL->plain];
}

bool ResultParameter::scalingBounds(Algorithm algorithmA, float& lowerA, float& upperA) const {
  for (std::size_t i = 0; i < sizeof kScalingRows / sizeof kScalingRows[0]; ++i) {
    if (kScalingRows[i].algorithm == algorithmA) {
      lowerA = scalingBoundsM[2 * i];
      upperA = scalingBoundsM[2 * i + 1];
      return true;
    }
  }
  return false;
}

}  // namespace qridy
