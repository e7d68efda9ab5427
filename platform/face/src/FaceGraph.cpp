#include <qrlface/FaceGraph.h>

#include <cmath>

#include <qrlcore/Exception.h>

#include "FaceRecordCoding.h"

namespace kxegm {

namespace {
constexpr std::size_t kNodeBytes = 12;
constexpr std::size_t kEdgeBytes = 8;
}  // namespace

FaceGraph FaceGraph::derotation(qrimg::Point2f rightEyeA, qrimg::Point2f leftEyeA,
                                float eyeDistanceA, qrimg::Point2f eyeCentreA) {
  const float dxL = leftEyeA.x - rightEyeA.x;
  const float dyL = leftEyeA.y - rightEyeA.y;
  const float inputDistanceL = std::hypot(dxL, dyL);
  if (!(inputDistanceL > 0.0f) || !(eyeDistanceA > 0.0f) || !std::isfinite(inputDistanceL)) {
    KXXCP_THROW("kxegm::FaceGraph::derotation", "Invalid eye positions for derotation.");
  }
  // Derotated -> input: scale by inputDistance / eyeDistance and rotate by the eye line's angle,
  // about the derotated eye centre, which lands on the input eye centre.
  const float scaleL = inputDistanceL / eyeDistanceA;
  const float cosL = dxL / inputDistanceL * scaleL;
  const float sinL = dyL / inputDistanceL * scaleL;
  const qrimg::Point2f centreL{(rightEyeA.x + leftEyeA.x) / 2, (rightEyeA.y + leftEyeA.y) / 2};
  Affine mapL;
  mapL.a11 = cosL;
  mapL.a12 = -sinL;
  mapL.a21 = sinL;
  mapL.a22 = cosL;
  mapL.tx = centreL.x - (cosL * eyeCentreA.x - sinL * eyeCentreA.y);
  mapL.ty = centreL.y - (sinL * eyeCentreA.x + cosL * eyeCentreA.y);
  FaceGraph graphL(KindDerotation);
  graphL.setToImage(mapL);
  graphL.addNode(qrimg::Point2f{eyeCentreA.x - eyeDistanceA / 2, eyeCentreA.y}, 1);
  graphL.addNode(qrimg::Point2f{eyeCentreA.x + eyeDistanceA / 2, eyeCentreA.y}, 5);
  return graphL;
}

std::uint32_t FaceGraph::addNode(qrimg::Point2f positionA, std::uint32_t labelA) {
  nodesM.push_back(Node{positionA, labelA});
  return static_cast<std::uint32_t>(nodesM.size() - 1);
}

void FaceGraph::addEdge(std::uint32_t fromA, std::uint32_t toA) {
  if (fromA >= nodesM.size() || toA >= nodesM.size()) {
    KXXCP_THROW("kxegm::FaceGraph::addEdge",
                "Invalid face graph edge '" << fromA << "-" << toA << "'.");
  }
  edgesM.push_back(Edge{fromA, toA});
}

void FaceGraph::clear() {
  nodesM.clear();
  edgesM.clear();
  toImageM = Affine();
}

std::vector<qrimg::Point2f> FaceGraph::imagePositions() const {
  std::vector<qrimg::Point2f> outL;
  outL.reserve(nodesM.size());
  for (const Node& n : nodesM) outL.push_back(toImageM.apply(n.position));
  return outL;
}

void FaceGraph::write(std::ostream& osA) const {
  osA.write("FG", 2);
  coding::putU16(osA, kVersion);
  coding::putU16(osA, kindM);
  coding::putU32(osA, static_cast<std::uint32_t>(nodesM.size()));
  coding::putU32(osA, static_cast<std::uint32_t>(edgesM.size()));
  for (float v :
       {toImageM.a11, toImageM.a12, toImageM.tx, toImageM.a21, toImageM.a22, toImageM.ty}) {
    coding::putF32(osA, v);
  }
  for (const Node& n : nodesM) {
    coding::putF32(osA, n.position.x);
    coding::putF32(osA, n.position.y);
    coding::putU32(osA, n.label);
  }
  for (const Edge& e : edgesM) {
    coding::putU32(osA, e.from);
    coding::putU32(osA, e.to);
  }
}

void FaceGraph::read(std::istream& isA) {
  const char* fnL = "kxegm::FaceGraph::read";
  unsigned char magicL[2];
  if (!coding::getRaw(isA, magicL, 2)) KXXCP_THROW(fnL, "Truncated face graph.");
  if (magicL[0] != 'F' || magicL[1] != 'G') {
    KXXCP_THROW(fnL, "Invalid face graph magic number: '" << magicL[0] << magicL[1] << "'.");
  }
  std::uint16_t versionL = 0;
  std::uint16_t kindL = 0;
  std::uint32_t nodeCountL = 0;
  std::uint32_t edgeCountL = 0;
  if (!coding::getU16(isA, versionL)) KXXCP_THROW(fnL, "Truncated face graph.");
  if (versionL != kVersion) KXXCP_THROW(fnL, "Invalid face graph version: '" << versionL << "'.");
  if (!coding::getU16(isA, kindL)) KXXCP_THROW(fnL, "Truncated face graph.");
  if (kindL > KindFeatureExtraction) {
    KXXCP_THROW(fnL, "Invalid face graph kind: '" << kindL << "'.");
  }
  if (!coding::getU32(isA, nodeCountL) || !coding::getU32(isA, edgeCountL)) {
    KXXCP_THROW(fnL, "Truncated face graph.");
  }
  float mapValuesL[6];
  for (float& v : mapValuesL) {
    if (!coding::getF32(isA, v)) KXXCP_THROW(fnL, "Truncated face graph.");
    if (!std::isfinite(v)) KXXCP_THROW(fnL, "Invalid face graph value.");
  }
  std::vector<unsigned char> bytesL;
  if (!coding::getRecords(isA, nodeCountL, kNodeBytes, bytesL)) {
    KXXCP_THROW(fnL, "Truncated face graph.");
  }
  std::vector<Node> nodesL(nodeCountL);
  for (std::uint32_t i = 0; i < nodeCountL; ++i) {
    const unsigned char* pL = bytesL.data() + i * kNodeBytes;
    nodesL[i].position = qrimg::Point2f{coding::decodeF32(pL), coding::decodeF32(pL + 4)};
    nodesL[i].label = coding::decodeU32(pL + 8);
    if (!std::isfinite(nodesL[i].position.x) || !std::isfinite(nodesL[i].position.y)) {
      KXXCP_THROW(fnL, "Invalid face graph value.");
    }
  }
  if (!coding::getRecords(isA, edgeCountL, kEdgeBytes, bytesL)) {
    KXXCP_THROW(fnL, "Truncated face graph.");
  }
  std::vector<Edge> edgesL(edgeCountL);
  for (std::uint32_t i = 0; i < edgeCountL; ++i) {
    const unsigned char* pL = bytesL.data() + i * kEdgeBytes;
    edgesL[i] = Edge{coding::decodeU32(pL), coding::decodeU32(pL + 4)};
    if (edgesL[i].from >= nodeCountL || edgesL[i].to >= nodeCountL) {
      KXXCP_THROW(fnL,
                  "Invalid face graph edge '" << edgesL[i].from << "-" << edgesL[i].to << "'.");
    }
  }
  kindM = static_cast<Kind>(kindL);
  toImageM = Affine{mapValuesL[0], mapValuesL[1], mapValuesL[2],
                    mapValuesL[3], mapValuesL[4], mapValuesL[5]};
  nodesM = std::move(nodesL);
  edgesM = std::move(edgesL);
}

}  // namespace kxegm
