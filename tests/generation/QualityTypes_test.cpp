#include <quarlen/QualityTypes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace qrbase {
namespace {

TEST(QualityTypesTest, SeventeenProfilesRoundTrip) {
  int namedL = 0;
  for (std::uint32_t v = 0; v < 1000; ++v) {
    const auto profileL = static_cast<QualityProfile>(v);
    const std::string textL = QualityTypes::qualityProfile2Text(profileL);
    if (textL == "unknown") continue;
    ++namedL;
    EXPECT_EQ(QualityTypes::text2QualityProfile(textL), profileL) << textL;
  }
  EXPECT_EQ(namedL, 17);
  EXPECT_EQ(QualityTypes::qualityProfile2Text(qualityProfileFullFrontalDmrcA),
            "qualityProfileFullFrontalDmrcA");
  EXPECT_EQ(QualityTypes::qualityProfile2Text(qualityProfileFullfrontalCandidateBasicChecks),
            "qualityProfileFullfrontalCandidateBasicChecks");
  EXPECT_EQ(QualityTypes::qualityProfile2Text(qualityProfileUnknown), "unknown");
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

TEST(QualityTypesTest, EveryListedCheckTypeWithItsHistoricalSpelling) {
  std::set<std::uint32_t> namedL;
  for (std::uint32_t v = 0; v < 1000; ++v) {
    const auto typeL = static_cast<QualityCheckType>(v);
    const std::string textL = QualityTypes::qualityCheckType2Text(typeL);
    if (textL == "unknown") continue;
    namedL.insert(v);
    EXPECT_EQ(textL.rfind("qualityCheckType", 0), 0u) << textL;
    EXPECT_EQ(QualityTypes::text2QualityCheckType(textL), typeL) << textL;
  }
  EXPECT_EQ(namedL.size(), 61u);  // 1, 3..44, 100..102, 200..214
  EXPECT_EQ(namedL.count(2), 0u);
  EXPECT_EQ(namedL.count(45), 0u);
  EXPECT_EQ(*namedL.rbegin(), 214u);
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(qualityCheckTypeBackgoundUniformity),
            "qualityCheckTypeBackgoundUniformity");
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(static_cast<QualityCheckType>(29)),
            "qualityCheckTypeBackgoundShadows");
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(static_cast<QualityCheckType>(30)),
            "qualityCheckTypeBackgoundTexture");
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(static_cast<QualityCheckType>(34)),
            "qualityCheckTypeWidthToHeigthRatio");
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(static_cast<QualityCheckType>(17)),
            "qualityCheckTypeOutofFocus");
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(static_cast<QualityCheckType>(102)),
            "qualityCheckTypeFingerContactArea");
  EXPECT_EQ(QualityTypes::qualityCheckType2Text(static_cast<QualityCheckType>(205)),
            "qualityCheckTypeIrisValidBitCountDeprecatedC");
  EXPECT_EQ(QualityTypes::text2QualityCheckType("qualityCheckTypeBackgroundUniformity"),
            qualityCheckTypeUnknown);
}

}  // namespace
}  // namespace qrbase
