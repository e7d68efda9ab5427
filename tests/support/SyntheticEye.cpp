#include "support/SyntheticEye.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quarlen_test {

namespace {
// A small deterministic generator (the same pattern on every platform).
struct Lcg {
  std::uint64_t state;
  double next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
};
}  // namespace

qrimg::ByteImage makeEye(const EyeSpec& specA) {
  constexpr int kComponents = 10;
  double freqL[kComponents], phaseL[kComponents], radialL[kComponents], ampL[kComponents];
  Lcg patternL{specA.seed * 2654435761ull + 1};
  for (int k = 0; k < kComponents; ++k) {
    freqL[k] = 12 + static_cast<int>(patternL.next() * 36);
    phaseL[k] = patternL.next() * 6.283185307;
    radialL[k] = patternL.next() * 3.0;
    ampL[k] = 3.0 + patternL.next() * 4.0;
  }
  Lcg noiseL{specA.noiseSeed * 11400714819323198485ull + 3};
  const double rotationL = specA.rotationDegrees * 3.14159265358979 / 180.0;
  qrimg::ByteImage eyeL(specA.width, specA.height);
  for (int y = 0; y < specA.height; ++y) {
    for (int x = 0; x < specA.width; ++x) {
      const double dxL = x - specA.centreX, dyL = y - specA.centreY;
      const double rL = std::hypot(dxL, dyL);
      double vL = 200.0;  // sclera
      if (rL < specA.pupilRadius) {
        vL = 20.0;
      } else if (rL < specA.irisRadius) {
        const double rhoL = (rL - specA.pupilRadius) / (specA.irisRadius - specA.pupilRadius);
        const double thetaL = std::atan2(dyL, dxL) - rotationL;
        vL = 110.0;
        for (int k = 0; k < kComponents; ++k) {
          vL += ampL[k] * std::sin(freqL[k] * thetaL + phaseL[k] + 6.283185307 * radialL[k] * rhoL);
        }
      }
      if (specA.upperEyelid && y < specA.centreY - 0.6 * specA.irisRadius) vL = 175.0;
      if (specA.noise > 0.0f) vL += (noiseL.next() * 2.0 - 1.0) * specA.noise;
      eyeL.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(vL), 0L, 255L));
    }
  }
  return eyeL;
}

}  // namespace quarlen_test
