#include <qrlface/GaborJets.h>

#include <algorithm>
#include <cmath>

#include <qrlcore/Exception.h>
#include <qrlface/ByteMinimalGraph.h>
#include <opencv2/imgproc.hpp>

#include "FeatureMath.h"

namespace kxegm {
namespace {

constexpr int kMaxKernelRadius = 64;

int kernelRadius(float sigmaA) {
  return static_cast<int>(std::ceil(2.5f * sigmaA));
}

}  // namespace

GaborBank::GaborBank(const Settings& settingsA) : settingsM(settingsA) {
  const Settings& s = settingsA;
  const bool validL = s.frequencies >= 1 && s.frequencies <= 8 && s.orientations >= 1 &&
                      s.orientations <= 16 && s.wavelength >= 2.0f && s.wavelength <= 64.0f &&
                      s.wavelengthStep >= 1.0f && s.wavelengthStep <= 4.0f &&
                      s.sigmaRatio >= 0.2f && s.sigmaRatio <= 2.0f;
  const float coarsestL =
      validL ? s.wavelength * std::pow(s.wavelengthStep, static_cast<float>(s.frequencies - 1))
             : 0.0f;
  if (!validL || kernelRadius(coarsestL * s.sigmaRatio) > kMaxKernelRadius) {
    KXXCP_THROW("kxegm::GaborBank::GaborBank", "Invalid Gabor settings.");
  }
  for (int f = 0; f < s.frequencies; ++f) {
    const double lambdaL = s.wavelength * std::pow(s.wavelengthStep, f);
    const double sigmaL = lambdaL * s.sigmaRatio;
    const int radiusL = kernelRadius(static_cast<float>(sigmaL));
    const cv::Size sizeL(2 * radiusL + 1, 2 * radiusL + 1);
    for (int o = 0; o < s.orientations; ++o) {
      const double thetaL = CV_PI * o / s.orientations;
      cv::Mat evenL = cv::getGaborKernel(sizeL, sigmaL, thetaL, lambdaL, 1.0, 0.0, CV_32F);
      cv::Mat oddL = cv::getGaborKernel(sizeL, sigmaL, thetaL, lambdaL, 1.0, CV_PI / 2, CV_32F);
      evenL -= cv::mean(evenL)[0];
      Kernel kL{radiusL, std::vector<float>(evenL.begin<float>(), evenL.end<float>()),
                std::vector<float>(oddL.begin<float>(), oddL.end<float>())};
      kernelsM.push_back(std::move(kL));
    }
  }
}

void GaborBank::extract(const qrimg::ByteImage& imageA,
                        const std::vector<qrimg::Point2f>& positionsA,
                        std::vector<float>& outA) const {
  const int wL = imageA.width();
  const int hL = imageA.height();
  std::vector<float> patchL;
  for (const qrimg::Point2f& p : positionsA) {
    const int cxL = static_cast<int>(std::lround(p.x));
    const int cyL = static_cast<int>(std::lround(p.y));
    // The widest kernel's window around the position, clamped at the image border, once.
    const int rL = kernelsM.back().radius;
    const int sideL = 2 * rL + 1;
    patchL.assign(static_cast<std::size_t>(sideL) * sideL, 0.0f);
    for (int v = -rL; v <= rL; ++v) {
      const int yL = std::clamp(cyL + v, 0, std::max(hL - 1, 0));
      for (int u = -rL; u <= rL; ++u) {
        const int xL = std::clamp(cxL + u, 0, std::max(wL - 1, 0));
        patchL[static_cast<std::size_t>(v + rL) * sideL + (u + rL)] =
            imageA.empty() ? 0.0f : static_cast<float>(imageA.at(xL, yL));
      }
    }
    for (const Kernel& k : kernelsM) {
      double reL = 0.0, imL = 0.0;
      const int kSideL = 2 * k.radius + 1;
      for (int v = 0; v < kSideL; ++v) {
        const float* rowL =
            patchL.data() + static_cast<std::size_t>(v + rL - k.radius) * sideL + (rL - k.radius);
        const float* eL = k.even.data() + static_cast<std::size_t>(v) * kSideL;
        const float* oL = k.odd.data() + static_cast<std::size_t>(v) * kSideL;
        for (int u = 0; u < kSideL; ++u) {
          reL += rowL[u] * eL[u];
          imL += rowL[u] * oL[u];
        }
      }
      outA.push_back(static_cast<float>(std::sqrt(reL * reL + imL * imL)));
    }
  }
}

std::vector<float> rawJets(const std::vector<float>& jetsA, std::size_t lengthA) {
  std::vector<float> outL(jetsA);
  for (std::size_t n = 0; lengthA > 0 && n + lengthA <= outL.size(); n += lengthA) {
    featuremath::normalise(outL.data() + n, lengthA, false);
  }
  return outL;
}

std::vector<float> floatJets(const std::vector<float>& jetsA, std::size_t lengthA) {
  std::vector<float> outL(jetsA);
  for (std::size_t n = 0; lengthA > 0 && n + lengthA <= outL.size(); n += lengthA) {
    featuremath::normalise(outL.data() + n, lengthA, true);
  }
  featuremath::normalise(outL.data(), outL.size(), false);
  return outL;
}

std::vector<unsigned char> bitJets(const std::vector<float>& floatJetsA) {
  std::vector<unsigned char> outL(floatJetsA.size() / 8, 0);
  for (std::size_t i = 0; i < outL.size() * 8; ++i) {
    if (floatJetsA[i] > 0.0f) outL[i / 8] |= static_cast<unsigned char>(0x80u >> (i % 8));
  }
  return outL;
}

std::vector<unsigned char> byteJets(const std::vector<float>& floatJetsA) {
  std::vector<unsigned char> outL(floatJetsA.size());
  ByteMinimalGraph::quantize(floatJetsA.data(), floatJetsA.size(),
                             reinterpret_cast<signed char*>(outL.data()));
  return outL;
}

qrimg::ByteImage normaliseLighting(const qrimg::ByteImage& imageA) {
  qrimg::ByteImage outL(imageA.width(), imageA.height());
  if (imageA.empty()) return outL;
  const cv::Mat inL(imageA.height(), imageA.width(), CV_8U,
                    const_cast<unsigned char*>(imageA.data()));
  cv::Mat eqL;
  cv::equalizeHist(inL, eqL);
  cv::Mat dstL(outL.height(), outL.width(), CV_8U, outL.data());
  cv::GaussianBlur(eqL, dstL, cv::Size(3, 3), 0.0);
  return outL;
}

}  // namespace kxegm
