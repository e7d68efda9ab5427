#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

#include <qrlface/FaceExport.h>
#include <qrlimage/Point.h>

namespace kxegm {

// A face graph: nodes at positions in the graph's own frame, joined by edges, together with the
// affine map from that frame to the coordinates of the image the face was found in. The same
// class serves the graphs a face descriptor carries:
//  - a derotation graph: its map takes the derotated (upright, normalised) face image back to
//    the input image, its nodes mark the eye positions in the derotated frame;
//  - a landmark graph: one node per landmark, labelled with the landmark number;
//  - a feature-extraction graph: the nodes at which features are extracted, with edges.
class QRLFACE_EXPORT FaceGraph {
 public:
  enum Kind : std::uint16_t {
    KindGeneric = 0,
    KindDerotation = 1,
    KindLandmark = 2,
    KindFeatureExtraction = 3,
  };

  struct Node {
    qrimg::Point2f position;
    std::uint32_t label = 0;
    bool operator==(const Node& o) const { return position == o.position && label == o.label; }
  };
  struct Edge {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    bool operator==(const Edge& o) const { return from == o.from && to == o.to; }
  };
  // image = (a11 x + a12 y + tx, a21 x + a22 y + ty); the identity after construction.
  struct Affine {
    float a11 = 1.0f, a12 = 0.0f, tx = 0.0f;
    float a21 = 0.0f, a22 = 1.0f, ty = 0.0f;
    qrimg::Point2f apply(qrimg::Point2f pA) const {
      return qrimg::Point2f{a11 * pA.x + a12 * pA.y + tx, a21 * pA.x + a22 * pA.y + ty};
    }
    bool operator==(const Affine& o) const {
      return a11 == o.a11 && a12 == o.a12 && tx == o.tx && a21 == o.a21 && a22 == o.a22 &&
             ty == o.ty;
    }
  };

  FaceGraph() = default;
  explicit FaceGraph(Kind kindA) : kindM(kindA) {}

  // A derotation graph for a face whose eyes were found at rightEyeA and leftEyeA in the input
  // image: in the derotated frame the eyes lie on one horizontal line, eyeDistanceA apart and
  // centred on eyeCentreA. Throws "Invalid eye positions for derotation." when the eyes
  // coincide or eyeDistanceA is not positive.
  static FaceGraph derotation(qrimg::Point2f rightEyeA, qrimg::Point2f leftEyeA, float eyeDistanceA,
                              qrimg::Point2f eyeCentreA);

  Kind kind() const { return kindM; }
  void setKind(Kind kindA) { kindM = kindA; }

  const std::vector<Node>& nodes() const { return nodesM; }
  const std::vector<Edge>& edges() const { return edgesM; }
  std::size_t nodeCount() const { return nodesM.size(); }
  // Returns the new node's index.
  std::uint32_t addNode(qrimg::Point2f positionA, std::uint32_t labelA = 0);
  // Both ends must be existing nodes: "Invalid face graph edge '<from>-<to>'." otherwise.
  void addEdge(std::uint32_t fromA, std::uint32_t toA);
  void clear();

  const Affine& toImage() const { return toImageM; }
  void setToImage(const Affine& affineA) { toImageM = affineA; }
  // The node positions mapped into image coordinates, in node order.
  std::vector<qrimg::Point2f> imagePositions() const;

  // Stream format, little-endian: magic "FG", version (16 bits, 1), kind (16 bits), node count
  // and edge count (32 bits each), the map's six values (float, in the order a11 a12 tx a21 a22
  // ty), per node x, y (float) and label (32 bits), per edge from and to (32 bits each).
  void write(std::ostream& osA) const;
  // Reads one graph written by write. On failure throws kxxcp::Exception (function
  // "kxegm::FaceGraph::read") and leaves the graph unchanged:
  //   "Invalid face graph magic number: '<2 chars>'.", "Invalid face graph version: '<n>'.",
  //   "Invalid face graph kind: '<n>'.", "Truncated face graph.",
  //   "Invalid face graph value." (a position or map value that is not finite),
  //   "Invalid face graph edge '<from>-<to>'."
  // Node and edge lists are allocated only as the stream delivers their bytes.
  void read(std::istream& isA);

  bool operator==(const FaceGraph& o) const {
    return kindM == o.kindM && nodesM == o.nodesM && edgesM == o.edgesM && toImageM == o.toImageM;
  }
  bool operator!=(const FaceGraph& o) const { return !(*this == o); }

  static constexpr std::uint16_t kVersion = 1;

 private:
  Kind kindM = KindGeneric;
  std::vector<Node> nodesM;
  std::vector<Edge> edgesM;
  Affine toImageM;
};

}  // namespace kxegm
