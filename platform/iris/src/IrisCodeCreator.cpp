#include <qrliris/IrisCodeCreator.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <qrlcore/Exception.h>

namespace kxegm {

using namespace iriscode;
using qrimg::ByteImage;

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;
// Gabor filter along the angle, in strip columns: envelope sigma, half window, wavelength.
constexpr float kGaborSigma = 5.0f;
constexpr int kGaborHalfWindow = 10;
constexpr float kGaborWavelength = 10.0f;
// A filter component whose mean response is below this many grey levels has no reliable sign.
constexpr float kMinResponse = 0.3f;
constexpr int kCircleSamples = 96;
// cos(40 degrees): the left and right sectors used where eyelids may cover the top and bottom.
constexpr float kSideSectorCos = 0.766f;

// Mean over a (2 r + 1)^2 box clipped to the image, through an integral image.
std::vector<float> boxSmooth(const ByteImage& imageA, int radiusA) {
  const int wL = imageA.width();
  const int hL = imageA.height();
  std::vector<std::uint64_t> sumL(static_cast<std::size_t>(wL + 1) * (hL + 1), 0);
  for (int y = 0; y < hL; ++y) {
    std::uint64_t rowL = 0;
    for (int x = 0; x < wL; ++x) {
      rowL += imageA.at(x, y);
      sumL[(y + 1) * (wL + 1) + x + 1] = sumL[y * (wL + 1) + x + 1] + rowL;
    }
  }
  std::vector<float> outL(static_cast<std::size_t>(wL) * hL);
  for (int y = 0; y < hL; ++y) {
    const int y0L = std::max(0, y - radiusA), y1L = std::min(hL, y + radiusA + 1);
    for (int x = 0; x < wL; ++x) {
      const int x0L = std::max(0, x - radiusA), x1L = std::min(wL, x + radiusA + 1);
      const std::uint64_t sL = sumL[y1L * (wL + 1) + x1L] - sumL[y0L * (wL + 1) + x1L] -
                               sumL[y1L * (wL + 1) + x0L] + sumL[y0L * (wL + 1) + x0L];
      outL[y * wL + x] = static_cast<float>(sL) / static_cast<float>((x1L - x0L) * (y1L - y0L));
    }
  }
  return outL;
}

bool inside(const ByteImage& imageA, float xA, float yA) {
  return xA >= 0.0f && yA >= 0.0f && xA <= static_cast<float>(imageA.width() - 1) &&
         yA <= static_cast<float>(imageA.height() - 1);
}

// Mean grey value on a circle (all around, or the left and right sectors only); samples outside
// the image are skipped. -1 when no sample lies inside.
float circleMean(const ByteImage& imageA, const Circle& circleA, bool sidesOnlyA) {
  float sumL = 0.0f;
  int nL = 0;
  for (int i = 0; i < kCircleSamples; ++i) {
    const float angleL = kTwoPi * static_cast<float>(i) / kCircleSamples;
    const float cL = std::cos(angleL);
    if (sidesOnlyA && std::fabs(cL) < kSideSectorCos) continue;
    const float xL = circleA.x + circleA.radius * cL;
    const float yL = circleA.y + circleA.radius * std::sin(angleL);
    if (!inside(imageA, xL, yL)) continue;
    sumL += imageA.sample(xL, yL);
    ++nL;
  }
  return nL == 0 ? -1.0f : sumL / static_cast<float>(nL);
}

// The radius in [rMinA, rMaxA] (half-pixel steps) at which the circle mean rises most steeply
// outwards; riseA receives the rise over 4 pixels. A sharp edge gives a plateau of equal rises
// around it: its middle is taken.
float steepestRise(const ByteImage& imageA, float xA, float yA, float rMinA, float rMaxA,
                   bool sidesOnlyA, float& riseA) {
  std::vector<float> risesL;
  for (float r = rMinA; r <= rMaxA; r += 0.5f) {
    const float innerL = circleMean(imageA, Circle{xA, yA, r - 2.0f}, sidesOnlyA);
    const float outerL = circleMean(imageA, Circle{xA, yA, r + 2.0f}, sidesOnlyA);
    risesL.push_back(innerL < 0.0f || outerL < 0.0f ? -1.0f : outerL - innerL);
  }
  riseA = -1.0f;
  if (risesL.empty()) return rMinA;
  const std::size_t bestL =
      static_cast<std::size_t>(std::max_element(risesL.begin(), risesL.end()) - risesL.begin());
  riseA = risesL[bestL];
  std::size_t firstL = bestL, lastL = bestL;
  while (firstL > 0 && risesL[firstL - 1] >= 0.9f * riseA) --firstL;
  while (lastL + 1 < risesL.size() && risesL[lastL + 1] >= 0.9f * riseA) ++lastL;
  return rMinA + 0.25f * static_cast<float>(firstL + lastL);
}

float median(std::vector<unsigned char> valuesA) {
  if (valuesA.empty()) return 0.0f;
  auto midL = valuesA.begin() + valuesA.size() / 2;
  std::nth_element(valuesA.begin(), midL, valuesA.end());
  return *midL;
}

// Mean of the image inside a disc; -1 when no pixel of it lies in the image.
float discMean(const ByteImage& imageA, const Circle& discA) {
  float sumL = 0.0f;
  int nL = 0;
  const int x0L = std::max(0, static_cast<int>(discA.x - discA.radius));
  const int x1L = std::min(imageA.width() - 1, static_cast<int>(discA.x + discA.radius));
  const int y0L = std::max(0, static_cast<int>(discA.y - discA.radius));
  const int y1L = std::min(imageA.height() - 1, static_cast<int>(discA.y + discA.radius));
  for (int y = y0L; y <= y1L; ++y) {
    for (int x = x0L; x <= x1L; ++x) {
      if (std::hypot(x - discA.x, y - discA.y) > discA.radius) continue;
      sumL += imageA.at(x, y);
      ++nL;
    }
  }
  return nL == 0 ? -1.0f : sumL / static_cast<float>(nL);
}

float clamp01(float vA) {
  return std::clamp(vA, 0.0f, 1.0f);
}

}  // namespace

IrisSegmentation IrisCodeCreator::segment(const ByteImage& eyeA) {
  IrisSegmentation segL;
  const int wL = eyeA.width();
  const int hL = eyeA.height();
  if (wL < 16 || hL < 16) return segL;
  const std::vector<float> smoothL = boxSmooth(eyeA, 2);

  // Darkest smoothed point away from the border: a seed inside the pupil.
  int seedL = 2 * wL + 2;
  for (int y = 2; y < hL - 2; ++y) {
    for (int x = 2; x < wL - 2; ++x) {
      if (smoothL[y * wL + x] < smoothL[seedL]) seedL = y * wL + x;
    }
  }
  const float darkestL = smoothL[seedL];
  const float medianL =
      median(std::vector<unsigned char>(eyeA.data(), eyeA.data() + eyeA.byteSize()));
  if (medianL - darkestL < 20.0f) return segL;
  const float thresholdL = darkestL + 0.3f * (medianL - darkestL);

  // Grow the dark region from the seed (4-connected).
  std::vector<unsigned char> visitedL(smoothL.size(), 0);
  std::vector<int> queueL{seedL};
  visitedL[seedL] = 1;
  double sumXL = 0.0, sumYL = 0.0;
  bool touchesBorderL = false;
  for (std::size_t head = 0; head < queueL.size(); ++head) {
    const int pL = queueL[head];
    const int xL = pL % wL, yL = pL / wL;
    sumXL += xL;
    sumYL += yL;
    if (xL == 0 || yL == 0 || xL == wL - 1 || yL == hL - 1) {
      touchesBorderL = true;
      continue;
    }
    for (int nL : {pL - 1, pL + 1, pL - wL, pL + wL}) {
      if (visitedL[nL] || smoothL[nL] > thresholdL) continue;
      visitedL[nL] = 1;
      queueL.push_back(nL);
    }
  }
  const double areaL = static_cast<double>(queueL.size());
  if (touchesBorderL || areaL < 30.0) return segL;
  const float cxL = static_cast<float>(sumXL / areaL);
  const float cyL = static_cast<float>(sumYL / areaL);
  const float areaRadiusL = static_cast<float>(std::sqrt(areaL / 3.14159265358979));

  // Refine the pupil radius on its boundary (highlights inside the pupil shrink the area).
  float riseL = 0.0f;
  const float pupilRadiusL = steepestRise(eyeA, cxL, cyL, std::max(2.5f, 0.7f * areaRadiusL),
                                          1.5f * areaRadiusL, false, riseL);
  if (riseL < 10.0f) return segL;

  const float irisMinL = std::max(1.4f * pupilRadiusL, pupilRadiusL + 4.0f);
  const float irisMaxL = std::min(6.0f * pupilRadiusL, 0.5f * static_cast<float>(std::max(wL, hL)));
  if (irisMaxL <= irisMinL) return segL;
  const float irisRadiusL = steepestRise(eyeA, cxL, cyL, irisMinL, irisMaxL, true, riseL);
  if (riseL < 8.0f) return segL;

  segL.found = true;
  segL.pupil = Circle{cxL, cyL, pupilRadiusL};
  segL.iris = Circle{cxL, cyL, irisRadiusL};
  return segL;
}

ByteImage IrisCodeCreator::unwrap(const ByteImage& eyeA, const IrisSegmentation& segA) {
  ByteImage stripL(kAngularSamples, kRadialSamples);
  const float widthL = segA.iris.radius - segA.pupil.radius;
  for (int i = 0; i < kRadialSamples; ++i) {
    // Keep 5% away from both boundaries, where the circles' estimate is least certain.
    const float tL = 0.05f + 0.9f * (static_cast<float>(i) + 0.5f) / kRadialSamples;
    const float radiusL = segA.pupil.radius + tL * widthL;
    for (int j = 0; j < kAngularSamples; ++j) {
      const float angleL = kTwoPi * static_cast<float>(j) / kAngularSamples;
      const float xL = segA.pupil.x + radiusL * std::cos(angleL);
      const float yL = segA.pupil.y + radiusL * std::sin(angleL);
      if (!inside(eyeA, xL, yL)) continue;  // stays 0: outside
      const float vL = std::round(eyeA.sample(xL, yL));
      stripL.at(j, i) = static_cast<unsigned char>(std::clamp(vL, 1.0f, 255.0f));
    }
  }
  return stripL;
}

IrisCode IrisCodeCreator::encode(const ByteImage& eyeA, const IrisSegmentation& segA,
                                 IrisQualityCheckResult& qualityA) {
  for (const Circle& c : {segA.pupil, segA.iris}) {
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.radius) ||
        !(c.radius > 0.0f) || c.radius > static_cast<float>(qrimg::Image::kMaxSide)) {
      KXXCP_THROW("kxegm::IrisCodeCreator::encode", "Invalid iris segmentation.");
    }
  }
  if (!(segA.iris.radius > segA.pupil.radius)) {
    KXXCP_THROW("kxegm::IrisCodeCreator::encode", "Invalid iris segmentation.");
  }
  const ByteImage stripL = unwrap(eyeA, segA);
  std::vector<unsigned char> irisValuesL;
  for (std::size_t i = 0; i < stripL.byteSize(); ++i) {
    if (stripL.data()[i] != 0) irisValuesL.push_back(stripL.data()[i]);
  }
  const float irisL = median(irisValuesL);
  float pupilL = discMean(eyeA, Circle{segA.pupil.x, segA.pupil.y, 0.6f * segA.pupil.radius});
  if (pupilL < 0.0f) pupilL = irisL;
  float scleraSumL = 0.0f;
  int scleraNL = 0;
  for (float f : {1.15f, 1.2f, 1.25f}) {
    const float mL = circleMean(eyeA, Circle{segA.iris.x, segA.iris.y, f * segA.iris.radius}, true);
    if (mL >= 0.0f) {
      scleraSumL += mL;
      ++scleraNL;
    }
  }
  const float scleraL = scleraNL == 0 ? irisL : scleraSumL / static_cast<float>(scleraNL);
  // Eyelashes are nearly as dark as the pupil; eyelid skin and sclera are much brighter than the
  // iris; highlights saturate.
  const float darkLimitL = pupilL + 0.35f * (irisL - pupilL);
  const float brightLimitL =
      scleraL > irisL ? std::min(250.0f, irisL + 0.6f * (scleraL - irisL)) : 250.0f;
  auto usableSample = [&](unsigned char vA) {
    return vA != 0 && static_cast<float>(vA) > darkLimitL && static_cast<float>(vA) < brightLimitL;
  };

  float weightsL[2 * kGaborHalfWindow + 1];
  float cosL[2 * kGaborHalfWindow + 1];
  float sinL[2 * kGaborHalfWindow + 1];
  float weightSumL = 0.0f;
  for (int k = -kGaborHalfWindow; k <= kGaborHalfWindow; ++k) {
    const float wL = std::exp(-static_cast<float>(k * k) / (2.0f * kGaborSigma * kGaborSigma));
    weightsL[k + kGaborHalfWindow] = wL;
    cosL[k + kGaborHalfWindow] = std::cos(kTwoPi * static_cast<float>(k) / kGaborWavelength);
    sinL[k + kGaborHalfWindow] = std::sin(kTwoPi * static_cast<float>(k) / kGaborWavelength);
    weightSumL += wL;
  }

  IrisCode codeL;
  constexpr int kRowsPerRing = kRadialSamples / kRings;
  constexpr int kColumnsPerPosition = kAngularSamples / kAngles;
  int usablePositionsL = 0;
  double gradientSumL = 0.0;
  int gradientNL = 0;
  for (int ring = 0; ring < kRings; ++ring) {
    float profileL[kAngularSamples];
    bool validL[kAngularSamples];
    for (int j = 0; j < kAngularSamples; ++j) {
      float sumL = 0.0f;
      validL[j] = true;
      for (int i = ring * kRowsPerRing; i < (ring + 1) * kRowsPerRing; ++i) {
        const unsigned char vL = stripL.at(j, i);
        validL[j] = validL[j] && usableSample(vL);
        sumL += vL;
        const unsigned char nextL = stripL.at((j + 1) % kAngularSamples, i);
        if (usableSample(vL) && usableSample(nextL)) {
          gradientSumL += std::abs(static_cast<int>(nextL) - static_cast<int>(vL));
          ++gradientNL;
        }
      }
      profileL[j] = sumL / kRowsPerRing;
    }
    for (int a = 0; a < kAngles; ++a) {
      const int centreL = a * kColumnsPerPosition + kColumnsPerPosition / 2;
      bool windowValidL = true;
      float meanL = 0.0f;
      for (int k = -kGaborHalfWindow; k <= kGaborHalfWindow; ++k) {
        const int jL = (centreL + k + kAngularSamples) % kAngularSamples;
        windowValidL = windowValidL && validL[jL];
        meanL += weightsL[k + kGaborHalfWindow] * profileL[jL];
      }
      meanL /= weightSumL;
      float reL = 0.0f, imL = 0.0f;
      for (int k = -kGaborHalfWindow; k <= kGaborHalfWindow; ++k) {
        const int jL = (centreL + k + kAngularSamples) % kAngularSamples;
        const float vL = weightsL[k + kGaborHalfWindow] * (profileL[jL] - meanL);
        reL += vL * cosL[k + kGaborHalfWindow];
        imL += vL * sinL[k + kGaborHalfWindow];
      }
      const bool reUsableL = windowValidL && std::fabs(reL) / weightSumL >= kMinResponse;
      const bool imUsableL = windowValidL && std::fabs(imL) / weightSumL >= kMinResponse;
      codeL.set(ring, a, 0, reL >= 0.0f, reUsableL);
      codeL.set(ring, a, 1, imL >= 0.0f, imUsableL);
      usablePositionsL += windowValidL ? 1 : 0;
    }
  }

  qualityA = IrisQualityCheckResult();
  qualityA.usableBitCount = static_cast<std::uint16_t>(codeL.usableBitCount());
  qualityA.irisDiameter =
      static_cast<std::uint16_t>(std::clamp(std::lround(2.0f * segA.iris.radius), 0L, 65535L));
  qualityA.usableArea = static_cast<float>(usablePositionsL) / (kRings * kAngles);
  qualityA.irisContrast = std::max(0.0f, scleraL - irisL);
  qualityA.pupilContrast = std::max(0.0f, irisL - pupilL);
  qualityA.pupilIrisRatio = segA.iris.radius > 0.0f ? segA.pupil.radius / segA.iris.radius : 0.0f;
  qualityA.sharpness = gradientNL == 0 ? 0.0f : static_cast<float>(gradientSumL / gradientNL);
  // Each factor is 1 for a good capture: 40 grey levels of contrast at both boundaries, an iris
  // at least 120 pixels across, a pupil neither pinpoint nor dilated over three quarters.
  const float ratioFactorL =
      qualityA.pupilIrisRatio >= 0.15f && qualityA.pupilIrisRatio <= 0.75f ? 1.0f : 0.5f;
  qualityA.quality = 100.0f * qualityA.usableArea * clamp01(qualityA.irisContrast / 40.0f) *
                     clamp01(qualityA.pupilContrast / 40.0f) *
                     clamp01(static_cast<float>(qualityA.irisDiameter) / 120.0f) * ratioFactorL;
  return codeL;
}

IrisTemplateData IrisCodeCreator::createTemplate(const qrimg::Image& eyeA) {
  const char* fnL = "kxegm::IrisCodeCreator::createTemplate";
  if (eyeA.empty()) KXXCP_THROW(fnL, "Empty eye image.");
  const ByteImage greyL = qrimg::toGrey(eyeA);
  IrisTemplateData outL;
  outL.segmentation = segment(greyL);
  if (!outL.segmentation.found) KXXCP_THROW(fnL, "No iris found in the eye image.");
  outL.gallery = encode(greyL, outL.segmentation, outL.quality).toBytes();
  outL.probe = outL.gallery;
  outL.probe.insert(outL.probe.end(), outL.gallery.begin(), outL.gallery.end());
  return outL;
}

}  // namespace kxegm
