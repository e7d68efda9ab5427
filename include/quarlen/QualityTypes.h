#pragma once

#include <cstdint>
#include <string>

#include <quarlen/QuarlenExport.h>

namespace qrbase {

// Which quality checks a locator runs.
enum QualityProfile : std::uint32_t {
  qualityProfileNoChecks = 0,
  qualityProfileMinChecks = 1,
  qualityProfileBestPracticeChecks = 2,
  qualityProfileAllChecks = 3,
  qualityProfilePxtkA = 4,
  qualityProfilePxtkB = 5,
  qualityProfileTokenChecks = 20,
  qualityProfileTokenGeometryChecks = 21,
  qualityProfileTokenCandidateChecks = 22,
  qualityProfileTokenCandidateBasicChecks = 23,
  qualityProfileFullfrontalChecks = 30,
  qualityProfileFullfrontalGeometryChecks = 31,
  qualityProfileFullfrontalCandidateChecks = 32,
  qualityProfileFullfrontalCandidateBasicChecks = 33,
  qualityProfileFullFrontalDmrcA = 34,
  qualityProfileIrisDefaultChecks = 100,
  qualityProfileFingerChecksA = 200,
  // What text2QualityProfile answers for a text that names no profile.
  qualityProfileUnknown = 0xffffffffu,
};

// One image-quality check. The names are external vocabulary and keep their historical
// spellings (Backgound, Heigth, OutofFocus).
enum QualityCheckType : std::uint32_t {
  qualityCheckTypeUnknown = 0,  // no check; what text2QualityCheckType answers for unknown texts
  // Face and image checks.
  qualityCheckTypeImageDimensions = 1,
  qualityCheckTypeImageGrayValues = 3,
  qualityCheckTypeFaceResolution = 4,
  qualityCheckTypeFaceClipping = 5,
  qualityCheckTypeFaceGrayValues = 6,
  qualityCheckTypeFaceness = 7,
  qualityCheckTypePoseYaw = 8,
  qualityCheckTypePoseRoll = 9,
  qualityCheckTypeIllumination = 10,
  qualityCheckTypeSharpness = 11,
  qualityCheckTypeFacialAreaShadow = 12,
  qualityCheckTypeResolution = 13,
  qualityCheckTypeInterlaced = 14,
  qualityCheckTypeAliasingArtifacts = 15,
  qualityCheckTypeExposure = 16,
  qualityCheckTypeOutofFocus = 17,
  qualityCheckTypeUnnaturalColor = 18,
  qualityCheckTypeMotionBlur = 19,
  qualityCheckTypeLightingUniform = 20,
  qualityCheckTypeLightingFacialShadows = 21,
  qualityCheckTypeLightingShadowsEyeSockets = 22,
  qualityCheckTypeLightingHotSpots = 23,
  qualityCheckTypeEyesOpen = 24,
  qualityCheckTypeGlasses = 25,
  qualityCheckTypeGlassesNoGlare = 26,
  qualityCheckTypeGlassesSunglasses = 27,
  qualityCheckTypeBackgoundUniformity = 28,
  qualityCheckTypeBackgoundShadows = 29,
  qualityCheckTypeBackgoundTexture = 30,
  qualityCheckTypePadding = 31,
  qualityCheckTypeScaling = 32,
  qualityCheckTypeEyeDistance = 33,
  qualityCheckTypeWidthToHeigthRatio = 34,
  qualityCheckTypeSensorNoise = 35,
  qualityCheckTypeHorizontallyCentered = 36,
  qualityCheckTypeVerticalEyePosition = 37,
  qualityCheckTypeWidthOfHead = 38,
  qualityCheckTypeLengthOfHead = 39,
  qualityCheckTypeCropping = 40,
  qualityCheckTypePxtkFaceness = 41,
  qualityCheckTypeGreyscaleDensity = 42,
  qualityCheckTypeTexture = 43,
  qualityCheckTypeCompressionArtifacts = 44,
  // Fingerprint checks.
  qualityCheckTypeFingerQualityClass = 100,
  qualityCheckTypeFingerGoodArea = 101,
  qualityCheckTypeFingerContactArea = 102,
  // Iris checks.
  qualityCheckTypeIrisContrast = 200,
  qualityCheckTypePupilContrast = 201,
  qualityCheckTypeIrisImageExposure = 202,
  qualityCheckTypeIrisVisibility = 203,
  qualityCheckTypePupilConstriction = 204,
  qualityCheckTypeIrisValidBitCountDeprecatedC = 205,
  qualityCheckTypeIrisTexture = 206,
  qualityCheckTypeIrisImageFocus = 207,
  qualityCheckTypeIrisGazeAlignment = 208,
  qualityCheckTypeIrisScanCoherence = 209,
  qualityCheckTypeIrisResolution = 210,
  qualityCheckTypeIrisFlatness = 211,
  qualityCheckTypeIrisCircularity = 212,
  qualityCheckTypePupilCircularity = 213,
  qualityCheckTypeIsOverExposed = 214,
};

// Text forms of the quality enums. The text of a value is its enumerator name; values without
// a name give "unknown". Text-to-value conversions compare the whole text, case-sensitively.
class QUARLEN_EXPORT QualityTypes {
 public:
  static std::string qualityProfile2Text(QualityProfile profileA);
  // qualityProfileUnknown for a text that names none of the seventeen profiles.
  static QualityProfile text2QualityProfile(const std::string& textA);

  static std::string qualityCheckType2Text(QualityCheckType typeA);
  // qualityCheckTypeUnknown for a text that names none of the checks.
  static QualityCheckType text2QualityCheckType(const std::string& textA);
};

}  // namespace qrbase
