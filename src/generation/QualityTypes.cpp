#include <quarlen/QualityTypes.h>

#include <iterator>

namespace qrbase {

namespace {

template <typename E>
struct TextEntry {
  E value;
  const char* text;
};

const TextEntry<QualityProfile> kProfiles[] = {
    {qualityProfileNoChecks, "qualityProfileNoChecks"},
    {qualityProfileMinChecks, "qualityProfileMinChecks"},
    {qualityProfileBestPracticeChecks, "qualityProfileBestPracticeChecks"},
    {qualityProfileAllChecks, "qualityProfileAllChecks"},
    {qualityProfilePxtkA, "qualityProfilePxtkA"},
    {qualityProfilePxtkB, "qualityProfilePxtkB"},
    {qualityProfileTokenChecks, "qualityProfileTokenChecks"},
    {qualityProfileTokenGeometryChecks, "qualityProfileTokenGeometryChecks"},
    {qualityProfileTokenCandidateChecks, "qualityProfileTokenCandidateChecks"},
    {qualityProfileTokenCandidateBasicChecks, "qualityProfileTokenCandidateBasicChecks"},
    {qualityProfileFullfrontalChecks, "qualityProfileFullfrontalChecks"},
    {qualityProfileFullfrontalGeometryChecks, "qualityProfileFullfrontalGeometryChecks"},
    {qualityProfileFullfrontalCandidateChecks, "qualityProfileFullfrontalCandidateChecks"},
    {qualityProfileFullfrontalCandidateBasicChecks,
     "qualityProfileFullfrontalCandidateBasicChecks"},
    {qualityProfileFullFrontalDmrcA, "qualityProfileFullFrontalDmrcA"},
    {qualityProfileIrisDefaultChecks, "qualityProfileIrisDefaultChecks"},
    {qualityProfileFingerChecksA, "qualityProfileFingerChecksA"},
};

const TextEntry<QualityCheckType> kCheckTypes[] = {
    {qualityCheckTypeImageDimensions, "qualityCheckTypeImageDimensions"},
    {qualityCheckTypeImageGrayValues, "qualityCheckTypeImageGrayValues"},
    {qualityCheckTypeFaceResolution, "qualityCheckTypeFaceResolution"},
    {qualityCheckTypeFaceClipping, "qualityCheckTypeFaceClipping"},
    {qualityCheckTypeFaceGrayValues, "qualityCheckTypeFaceGrayValues"},
    {qualityCheckTypeFaceness, "qualityCheckTypeFaceness"},
    {qualityCheckTypePoseYaw, "qualityCheckTypePoseYaw"},
    {qualityCheckTypePoseRoll, "qualityCheckTypePoseRoll"},
    {qualityCheckTypeIllumination, "qualityCheckTypeIllumination"},
    {qualityCheckTypeSharpness, "qualityCheckTypeSharpness"},
    {qualityCheckTypeFacialAreaShadow, "qualityCheckTypeFacialAreaShadow"},
    {qualityCheckTypeResolution, "qualityCheckTypeResolution"},
    {qualityCheckTypeInterlaced, "qualityCheckTypeInterlaced"},
    {qualityCheckTypeAliasingArtifacts, "qualityCheckTypeAliasingArtifacts"},
    {qualityCheckTypeExposure, "qualityCheckTypeExposure"},
    {qualityCheckTypeOutofFocus, "qualityCheckTypeOutofFocus"},
    {qualityCheckTypeUnnaturalColor, "qualityCheckTypeUnnaturalColor"},
    {qualityCheckTypeMotionBlur, "qualityCheckTypeMotionBlur"},
    {qualityCheckTypeLightingUniform, "qualityCheckTypeLightingUniform"},
    {qualityCheckTypeLightingFacialShadows, "qualityCheckTypeLightingFacialShadows"},
    {qualityCheckTypeLightingShadowsEyeSockets, "qualityCheckTypeLightingShadowsEyeSockets"},
    {qualityCheckTypeLightingHotSpots, "qualityCheckTypeLightingHotSpots"},
    {qualityCheckTypeEyesOpen, "qualityCheckTypeEyesOpen"},
    {qualityCheckTypeGlasses, "qualityCheckTypeGlasses"},
    {qualityCheckTypeGlassesNoGlare, "qualityCheckTypeGlassesNoGlare"},
    {qualityCheckTypeGlassesSunglasses, "qualityCheckTypeGlassesSunglasses"},
    {qualityCheckTypeBackgoundUniformity, "qualityCheckTypeBackgoundUniformity"},
    {qualityCheckTypeBackgoundShadows, "qualityCheckTypeBackgoundShadows"},
    {qualityCheckTypeBackgoundTexture, "qualityCheckTypeBackgoundTexture"},
    {qualityCheckTypePadding, "qualityCheckTypePadding"},
    {qualityCheckTypeScaling, "qualityCheckTypeScaling"},
    {qualityCheckTypeEyeDistance, "qualityCheckTypeEyeDistance"},
    {qualityCheckTypeWidthToHeigthRatio, "qualityCheckTypeWidthToHeigthRatio"},
    {qualityCheckTypeSensorNoise, "qualityCheckTypeSensorNoise"},
    {qualityCheckTypeHorizontallyCentered, "qualityCheckTypeHorizontallyCentered"},
    {qualityCheckTypeVerticalEyePosition, "qualityCheckTypeVerticalEyePosition"},
    {qualityCheckTypeWidthOfHead, "qualityCheckTypeWidthOfHead"},
    {qualityCheckTypeLengthOfHead, "qualityCheckTypeLengthOfHead"},
    {qualityCheckTypeCropping, "qualityCheckTypeCropping"},
    {qualityCheckTypePxtkFaceness, "qualityCheckTypePxtkFaceness"},
    {qualityCheckTypeGreyscaleDensity, "qualityCheckTypeGreyscaleDensity"},
    {qualityCheckTypeTexture, "qualityCheckTypeTexture"},
    {qualityCheckTypeCompressionArtifacts, "qualityCheckTypeCompressionArtifacts"},
    {qualityCheckTypeFingerQualityClass, "qualityCheckTypeFingerQualityClass"},
    {qualityCheckTypeFingerGoodArea, "qualityCheckTypeFingerGoodArea"},
    {qualityCheckTypeFingerContactArea, "qualityCheckTypeFingerContactArea"},
    {qualityCheckTypeIrisContrast, "qualityCheckTypeIrisContrast"},
    {qualityCheckTypePupilContrast, "qualityCheckTypePupilContrast"},
    {qualityCheckTypeIrisImageExposure, "qualityCheckTypeIrisImageExposure"},
    {qualityCheckTypeIrisVisibility, "qualityCheckTypeIrisVisibility"},
    {qualityCheckTypePupilConstriction, "qualityCheckTypePupilConstriction"},
    {qualityCheckTypeIrisValidBitCountDeprecatedC, "qualityCheckTypeIrisValidBitCountDeprecatedC"},
    {qualityCheckTypeIrisTexture, "qualityCheckTypeIrisTexture"},
    {qualityCheckTypeIrisImageFocus, "qualityCheckTypeIrisImageFocus"},
    {qualityCheckTypeIrisGazeAlignment, "qualityCheckTypeIrisGazeAlignment"},
    {qualityCheckTypeIrisScanCoherence, "qualityCheckTypeIrisScanCoherence"},
    {qualityCheckTypeIrisResolution, "qualityCheckTypeIrisResolution"},
    {qualityCheckTypeIrisFlatness, "qualityCheckTypeIrisFlatness"},
    {qualityCheckTypeIrisCircularity, "qualityCheckTypeIrisCircularity"},
    {qualityCheckTypePupilCircularity, "qualityCheckTypePupilCircularity"},
    {qualityCheckTypeIsOverExposed, "qualityCheckTypeIsOverExposed"},
};

template <typename E, std::size_t N>
std::string toText(const TextEntry<E> (&tableA)[N], E valueA) {
  for (const auto& entryL : tableA) {
    if (entryL.value == valueA) return entryL.text;
  }
  return "unknown";
}

template <typename E, std::size_t N>
E fromText(const TextEntry<E> (&tableA)[N], const std::string& textA, E noMatchA) {
  for (const auto& entryL : tableA) {
    if (textA == entryL.text) return entryL.value;
  }
  return noMatchA;
}

}  // namespace

std::string QualityTypes::qualityProfile2Text(QualityProfile profileA) {
  return toText(kProfiles, profileA);
}

QualityProfile QualityTypes::text2QualityProfile(const std::string& textA) {
  return fromText(kProfiles, textA, qualityProfileUnknown);
}

std::string QualityTypes::qualityCheckType2Text(QualityCheckType typeA) {
  return toText(kCheckTypes, typeA);
}

QualityCheckType QualityTypes::text2QualityCheckType(const std::string& textA) {
  return fromText(kCheckTypes, textA, qualityCheckTypeUnknown);
}

}  // namespace qrbase
