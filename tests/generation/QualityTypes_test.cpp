#include <quarlen/QualityTypes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>

namespace qrbase {
namespace {

struct TextPair {
  std::uint32_t value;
  const char* text;
};

// Every profile with its text, written out: a renamed text fails here.
const TextPair kProfiles[] = {
    {0, "qualityProfileNoChecks"},
    {1, "qualityProfileMinChecks"},
    {2, "qualityProfileBestPracticeChecks"},
    {3, "qualityProfileAllChecks"},
    {4, "qualityProfilePxtkA"},
    {5, "qualityProfilePxtkB"},
    {20, "qualityProfileTokenChecks"},
    {21, "qualityProfileTokenGeometryChecks"},
    {22, "qualityProfileTokenCandidateChecks"},
    {23, "qualityProfileTokenCandidateBasicChecks"},
    {30, "qualityProfileFullfrontalChecks"},
    {31, "qualityProfileFullfrontalGeometryChecks"},
    {32, "qualityProfileFullfrontalCandidateChecks"},
    {33, "qualityProfileFullfrontalCandidateBasicChecks"},
    {34, "qualityProfileFullFrontalDmrcA"},
    {100, "qualityProfileIrisDefaultChecks"},
    {200, "qualityProfileFingerChecksA"},
};

// Every check type with its text, written out, historical spellings (Backgound, Heigth,
// OutofFocus) included.
const TextPair kCheckTypes[] = {
    {1, "qualityCheckTypeImageDimensions"},
    {3, "qualityCheckTypeImageGrayValues"},
    {4, "qualityCheckTypeFaceResolution"},
    {5, "qualityCheckTypeFaceClipping"},
    {6, "qualityCheckTypeFaceGrayValues"},
    {7, "qualityCheckTypeFaceness"},
    {8, "qualityCheckTypePoseYaw"},
    {9, "qualityCheckTypePoseRoll"},
    {10, "qualityCheckTypeIllumination"},
    {11, "qualityCheckTypeSharpness"},
    {12, "qualityCheckTypeFacialAreaShadow"},
    {13, "qualityCheckTypeResolution"},
    {14, "qualityCheckTypeInterlaced"},
    {15, "qualityCheckTypeAliasingArtifacts"},
    {16, "qualityCheckTypeExposure"},
    {17, "qualityCheckTypeOutofFocus"},
    {18, "qualityCheckTypeUnnaturalColor"},
    {19, "qualityCheckTypeMotionBlur"},
    {20, "qualityCheckTypeLightingUniform"},
    {21, "qualityCheckTypeLightingFacialShadows"},
    {22, "qualityCheckTypeLightingShadowsEyeSockets"},
    {23, "qualityCheckTypeLightingHotSpots"},
    {24, "qualityCheckTypeEyesOpen"},
    {25, "qualityCheckTypeGlasses"},
    {26, "qualityCheckTypeGlassesNoGlare"},
    {27, "qualityCheckTypeGlassesSunglasses"},
    {28, "qualityCheckTypeBackgoundUniformity"},
    {29, "qualityCheckTypeBackgoundShadows"},
    {30, "qualityCheckTypeBackgoundTexture"},
    {31, "qualityCheckTypePadding"},
    {32, "qualityCheckTypeScaling"},
    {33, "qualityCheckTypeEyeDistance"},
    {34, "qualityCheckTypeWidthToHeigthRatio"},
    {35, "qualityCheckTypeSensorNoise"},
    {36, "qualityCheckTypeHorizontallyCentered"},
    {37, "qualityCheckTypeVerticalEyePosition"},
    {38, "qualityCheckTypeWidthOfHead"},
    {39, "qualityCheckTypeLengthOfHead"},
    {40, "qualityCheckTypeCropping"},
    {41, "qualityCheckTypePxtkFaceness"},
    {42, "qualityCheckTypeGreyscaleDensity"},
    {43, "qualityCheckTypeTexture"},
    {44, "qualityCheckTypeCompressionArtifacts"},
    {100, "qualityCheckTypeFingerQualityClass"},
    {101, "qualityCheckTypeFingerGoodArea"},
    {102, "qualityCheckTypeFingerContactArea"},
    {200, "qualityCheckTypeIrisContrast"},
    {201, "qualityCheckTypePupilContrast"},
    {202, "qualityCheckTypeIrisImageExposure"},
    {203, "qualityCheckTypeIrisVisibility"},
    {204, "qualityCheckTypePupilConstriction"},
    {205, "qualityCheckTypeIrisValidBitCountDeprecatedC"},
    {206, "qualityCheckTypeIrisTexture"},
    {207, "qualityCheckTypeIrisImageFocus"},
    {208, "qualityCheckTypeIrisGazeAlignment"},
    {209, "qualityCheckTypeIrisScanCoherence"},
    {210, "qualityCheckTypeIrisResolution"},
    {211, "qualityCheckTypeIrisFlatness"},
    {212, "qualityCheckTypeIrisCircularity"},
    {213, "qualityCheckTypePupilCircularity"},
    {214, "qualityCheckTypeIsOverExposed"},
};

// The text of every value in [0, limitA): the listed text, "unknown" for any other value.
template <typename Enum, typename ToText>
void expectTexts(const TextPair* pairsA, std::size_t countA, std::uint32_t limitA, ToText toTextA) {
  std::map<std::uint32_t, std::string> expectedL;
  for (std::size_t i = 0; i < countA; ++i) expectedL[pairsA[i].value] = pairsA[i].text;
  for (std::uint32_t v = 0; v < limitA; ++v) {
    const auto itL = expectedL.find(v);
    EXPECT_EQ(toTextA(static_cast<Enum>(v)), itL == expectedL.end() ? "unknown" : itL->second) << v;
  }
}

TEST(QualityTypesTest, EveryProfileAndItsText) {
  expectTexts<QualityProfile>(kProfiles, std::size(kProfiles), 1000,
                              QualityTypes::qualityProfile2Text);
  for (const TextPair& p : kProfiles) {
    EXPECT_EQ(QualityTypes::text2QualityProfile(p.text), static_cast<QualityProfile>(p.value))
        << p.text;
  }
  EXPECT_EQ(QualityTypes::qualityProfile2Text(static_cast<QualityProfile>(0xFFFFFFFFu)), "unknown");
}

TEST(QualityTypesTest, EveryCheckTypeAndItsText) {
  EXPECT_EQ(std::size(kCheckTypes), 61u);
  expectTexts<QualityCheckType>(kCheckTypes, std::size(kCheckTypes), 1000,
                                QualityTypes::qualityCheckType2Text);
  for (const TextPair& p : kCheckTypes) {
    EXPECT_EQ(QualityTypes::text2QualityCheckType(p.text), static_cast<QualityCheckType>(p.value))
        << p.text;
  }
  EXPECT_EQ(QualityTypes::text2QualityCheckType("qualityCheckTypeBackgroundUniformity"),
            qualityCheckTypeUnknown);
  EXPECT_EQ(QualityTypes::text2QualityCheckType("qualityCheckTypeWidthToHeightRatio"),
            qualityCheckTypeUnknown);
  EXPECT_EQ(QualityTypes::text2QualityCheckType("qualityCheckTypeOutOfFocus"),
            qualityCheckTypeUnknown);
}

TEST(QualityTypesTest, ProfileTextsAreCaseSensitive) {
  std::string lowerL = QualityTypes::qualityProfile2Text(qualityProfileAllChecks);
  EXPECT_EQ(lowerL, "qualityProfileAllChecks");
  std::transform(lowerL.begin(), lowerL.end(), lowerL.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  EXPECT_EQ(QualityTypes::text2QualityProfile(lowerL), qualityProfileUnknown);
  EXPECT_EQ(QualityTypes::text2QualityProfile(""), qualityProfileUnknown);
  EXPECT_EQ(QualityTypes::text2QualityProfile("qualityProfileAllChecks "), qualityProfileUnknown);
}

}  // namespace
}  // namespace qrbase
