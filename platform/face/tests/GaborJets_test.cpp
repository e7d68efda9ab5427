#include <qrlface/GaborJets.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/ExceptionMatchers.h"

namespace kxegm {
namespace {

qrimg::ByteImage grating(float wavelengthA, float angleA) {
  qrimg::ByteImage imageL(96, 96);
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      const float tL =
          (x * std::cos(angleA) + y * std::sin(angleA)) * 2.0f * 3.14159265f / wavelengthA;
      imageL.at(x, y) = static_cast<unsigned char>(std::lround(128.0f + 100.0f * std::cos(tL)));
    }
  }
  return imageL;
}

TEST(GaborBankTest, RefusesSettingsOutsideTheirBounds) {
  const GaborBank::Settings okL;
  std::vector<GaborBank::Settings> badL(9, okL);
  badL[0].frequencies = 0;
  badL[1].frequencies = 9;
  badL[2].orientations = 0;
  badL[3].orientations = 17;
  badL[4].wavelength = 1.9f;
  badL[5].wavelengthStep = 0.9f;
  badL[6].sigmaRatio = 0.1f;
  badL[7].sigmaRatio = 2.1f;
  badL[8].wavelength = 30.0f;  // the coarsest kernel would exceed 129 pixels
  for (const GaborBank::Settings& s : badL) {
    EXPECT_KXXCP_MESSAGE(GaborBank{s}, "Invalid Gabor settings.");
  }
  EXPECT_NO_THROW(GaborBank{okL});
  EXPECT_EQ(GaborBank{okL}.jetLength(), 32u);
}

TEST(GaborBankTest, UniformImagesDoNotRespond) {
  const GaborBank bankL{GaborBank::Settings{}};
  std::vector<float> jetsL;
  bankL.extract(qrimg::ByteImage(64, 64, 180), {{32.0f, 32.0f}, {0.0f, 0.0f}}, jetsL);
  ASSERT_EQ(jetsL.size(), 64u);
  for (float v : jetsL) EXPECT_LT(v, 1e-2f);
}

TEST(GaborBankTest, AGratingExcitesItsOwnFrequencyAndOrientation) {
  const GaborBank::Settings settingsL;
  const GaborBank bankL{settingsL};
  for (int f = 0; f < settingsL.frequencies; ++f) {
    for (int o = 0; o < settingsL.orientations; o += 3) {
      const float lambdaL = settingsL.wavelength * std::pow(settingsL.wavelengthStep, f);
      const float thetaL = 3.14159265f * o / settingsL.orientations;
      std::vector<float> jetL;
      bankL.extract(grating(lambdaL, thetaL), {{48.0f, 48.0f}}, jetL);
      // Within the grating's frequency the matching orientation responds most; at its
      // orientation no other frequency responds as strongly.
      for (int o2 = 0; o2 < settingsL.orientations; ++o2) {
        if (o2 != o) {
          EXPECT_GT(jetL[f * 8 + o], jetL[f * 8 + o2]) << f << " " << o << " " << o2;
        }
      }
      for (int f2 = 0; f2 < settingsL.frequencies; ++f2) {
        if (f2 != f) {
          EXPECT_GT(jetL[f * 8 + o], jetL[f2 * 8 + o]) << f << " " << o << " " << f2;
        }
      }
    }
  }
}

TEST(GaborJetsTest, EncodingsNormaliseAsDocumented) {
  const std::vector<float> jetsL = {3.0f, 4.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 5.0f};
  const std::vector<float> rawL = rawJets(jetsL, 4);
  const std::vector<double> rawExpectedL = {0.6,
                                            0.8,
                                            0.0,
                                            0.0,
                                            1 / std::sqrt(28.0),
                                            1 / std::sqrt(28.0),
                                            1 / std::sqrt(28.0),
                                            5 / std::sqrt(28.0)};
  for (std::size_t i = 0; i < rawL.size(); ++i) EXPECT_NEAR(rawL[i], rawExpectedL[i], 1e-6) << i;
  const std::vector<float> floatL = floatJets(jetsL, 4);
  // Node means 1.75 and 2 removed, each node scaled to unit length, then the whole (two unit
  // nodes) to unit length.
  const std::vector<float> centredL = {1.25f, 2.25f, -1.75f, -1.75f, -1.0f, -1.0f, -1.0f, 3.0f};
  for (std::size_t i = 0; i < centredL.size(); ++i) {
    double normL = 0.0;
    for (std::size_t k = i / 4 * 4; k < i / 4 * 4 + 4; ++k)
      normL += double{centredL[k]} * centredL[k];
    EXPECT_NEAR(floatL[i], centredL[i] / std::sqrt(normL) / std::sqrt(2.0), 1e-6) << i;
  }
  EXPECT_EQ(bitJets(floatL), (std::vector<unsigned char>{0xc1}));
  const std::vector<unsigned char> bytesL = byteJets({0.5f, -1.0f, 0.0f, 2.0f});
  EXPECT_EQ(bytesL, (std::vector<unsigned char>{64, 0x81, 0, 127}));
  // A zero jet stays zero instead of dividing by its norm.
  EXPECT_EQ(rawJets({0.0f, 0.0f}, 2), (std::vector<float>{0.0f, 0.0f}));
  EXPECT_EQ(floatJets({2.0f, 2.0f}, 2), (std::vector<float>{0.0f, 0.0f}));
}

TEST(GaborJetsTest, LightingNormalisationUndoesABrightnessChange) {
  qrimg::ByteImage aL(64, 64), bL(64, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      aL.at(x, y) = static_cast<unsigned char>((x * 3 + y) % 200);
      bL.at(x, y) = static_cast<unsigned char>(aL.at(x, y) / 2 + 40);
    }
  }
  const qrimg::ByteImage naL = normaliseLighting(aL);
  const qrimg::ByteImage nbL = normaliseLighting(bL);
  int worstL = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) worstL = std::max(worstL, std::abs(naL.at(x, y) - nbL.at(x, y)));
  }
  EXPECT_LE(worstL, 4);
  EXPECT_TRUE(normaliseLighting(qrimg::ByteImage()).empty());
}

}  // namespace
}  // namespace kxegm
