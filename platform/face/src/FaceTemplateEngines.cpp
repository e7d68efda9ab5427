#include <qrlface/FaceTemplateEngines.h>

#include <cmath>

#include <qrlcore/Exception.h>
#include <qrlface/ByteMinimalGraph.h>
#include <qrlface/GaborJets.h>
#include <qrlface/LFAEngine.h>
#include <qrlface/STAEngine.h>
#include <opencv2/imgproc.hpp>

#include "FeatureMath.h"

namespace kxegm {
namespace {

// The landmark grid of "ilm" with its default extent, in eye distances.
constexpr float kGridLeft = -1.0f, kGridRight = 1.0f, kGridTop = -0.55f, kGridBottom = 1.45f;

const GaborBank& defaultBank() {
  static const GaborBank bankL{GaborBank::Settings{}};
  return bankL;
}

}  // namespace

LocalJets localJets(const qrimg::Image& derotatedA, qrimg::Point2f rightEyeA,
                    qrimg::Point2f leftEyeA, int rowsA, int columnsA, float scaleA) {
  const float dL = qrimg::distance(rightEyeA, leftEyeA) * scaleA;
  if (derotatedA.empty() || !(dL > 0.0f) || rowsA < 2 || rowsA > 16 || columnsA < 2 ||
      columnsA > 16 || !(scaleA >= 0.25f && scaleA <= 2.0f)) {
    KXXCP_THROW("kxegm::localJets", "Invalid local feature request.");
  }
  qrimg::ByteImage greyL = normaliseLighting(qrimg::toGrey(derotatedA));
  if (scaleA != 1.0f) {
    const int wL = std::max(1, static_cast<int>(std::lround(greyL.width() * scaleA)));
    const int hL = std::max(1, static_cast<int>(std::lround(greyL.height() * scaleA)));
    qrimg::ByteImage scaledL(wL, hL);
    const cv::Mat inL(greyL.height(), greyL.width(), CV_8U, greyL.data());
    cv::Mat outL(hL, wL, CV_8U, scaledL.data());
    cv::resize(inL, outL, outL.size(), 0, 0, cv::INTER_AREA);
    greyL = std::move(scaledL);
  }
  const qrimg::Point2f rL{rightEyeA.x * scaleA, rightEyeA.y * scaleA};
  const qrimg::Point2f lL{leftEyeA.x * scaleA, leftEyeA.y * scaleA};
  const qrimg::Point2f cL{(rL.x + lL.x) / 2, (rL.y + lL.y) / 2};
  const qrimg::Point2f alongL{(lL.x - rL.x) / dL, (lL.y - rL.y) / dL};
  const qrimg::Point2f acrossL{-alongL.y, alongL.x};
  std::vector<qrimg::Point2f> positionsL;
  for (int r = 0; r < rowsA; ++r) {
    const float vL = kGridTop + (kGridBottom - kGridTop) * r / (rowsA - 1);
    for (int c = 0; c < columnsA; ++c) {
      const float uL = kGridLeft + (kGridRight - kGridLeft) * c / (columnsA - 1);
      positionsL.push_back({cL.x + dL * (uL * alongL.x + vL * acrossL.x),
                            cL.y + dL * (uL * alongL.y + vL * acrossL.y)});
    }
  }
  LocalJets outL;
  outL.nodes = positionsL.size();
  outL.length = defaultBank().jetLength();
  defaultBank().extract(greyL, positionsL, outL.jets);
  return outL;
}

std::vector<unsigned char> FaceTemplateCreator::createSta(const qrimg::Image& derotatedA,
                                                          qrimg::Point2f rightEyeA,
                                                          qrimg::Point2f leftEyeA, bool galleryA) {
  const LocalJets jL = localJets(derotatedA, rightEyeA, leftEyeA, 5, 5, 1.0f);
  std::vector<STAPoint> pointsL(jL.nodes);
  for (std::size_t n = 0; n < jL.nodes; ++n) {
    pointsL[n].confidence = 1.0f;
    pointsL[n].descriptor.assign(jL.jets.begin() + n * jL.length,
                                 jL.jets.begin() + (n + 1) * jL.length);
    featuremath::normalise(pointsL[n].descriptor.data(), jL.length, true);
  }
  return STAEngine::encode(pointsL, galleryA);
}

std::vector<unsigned char> FaceTemplateCreator::createLfa(std::uint32_t algorithmA,
                                                          const qrimg::Image& derotatedA,
                                                          qrimg::Point2f rightEyeA,
                                                          qrimg::Point2f leftEyeA) {
  if (algorithmA != 7 && algorithmA != 8) {
    KXXCP_THROW("kxegm::FaceTemplateCreator::createLfa",
                "Unsupported LFA algorithm '" << algorithmA << "'.");
  }
  const LocalJets jL =
      localJets(derotatedA, rightEyeA, leftEyeA, 4, 4, algorithmA == 7 ? 1.0f : 0.5f);
  std::vector<float> blocksL = jL.jets;
  for (std::size_t n = 0; n < jL.nodes; ++n) {
    featuremath::normalise(blocksL.data() + n * jL.length, jL.length, true);
  }
  return LFAEngine::encode(algorithmA, jL.nodes, jL.length, blocksL, {}, {});
}

std::vector<unsigned char> FaceTemplateCreator::createVfa(int variantA,
                                                          const qrimg::Image& derotatedA,
                                                          qrimg::Point2f rightEyeA,
                                                          qrimg::Point2f leftEyeA) {
  const LocalJets jL =
      localJets(derotatedA, rightEyeA, leftEyeA, 6, 6, variantA == 2 ? 0.5f : 1.0f);
  return vfaFromFloat(floatJets(jL.jets, jL.length));
}

std::vector<unsigned char> FaceTemplateCreator::vfaFromFloat(const std::vector<float>& unitA) {
  std::vector<unsigned char> outL(unitA.size());
  for (std::size_t i = 0; i < unitA.size(); ++i) {
    outL[i] = static_cast<unsigned char>(ByteMinimalGraph::quantize(unitA[i] * kVfaNorm));
  }
  return outL;
}

}  // namespace kxegm
