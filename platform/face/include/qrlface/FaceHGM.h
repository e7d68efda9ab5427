#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <qrlface/FaceExport.h>

namespace kxegm {

// Pyramid (HGM) face templates: a face graph sampled at several resolution levels, one feature
// vector per graph node and level.
//
// Template format, version 1 (little-endian, no gaps):
//   0  2  magic "HP"
//   2  2  version, 1
//   4  1  data type: 0 float (4-byte IEEE values), 1 byte (signed, ByteMinimalGraph scale),
//         2 bit (one bit per value, most significant bit of each byte first)
//   5  1  level count L, 1..8
//   6  8L per level: node count N (2 bytes, 1..4096), feature length F (2 bytes, 1..1024, a
//         multiple of 8 for bit data), level weight W (4-byte float, finite, >= 0)
//   then, level after level, N * F values node by node.
// Bytes after the last level are ignored (stage memory pads templates).
enum class PyramidDataType : std::uint8_t { Float = 0, Byte = 1, Bit = 2 };

// One level of a template to encode: nodeCount * featureLength feature values in [-1, 1]
// (quantised for byte data, reduced to their signs for bit data: a value > 0 is a set bit).
struct PyramidLevel {
  std::uint16_t nodeCount = 0;
  std::uint16_t featureLength = 0;
  float weight = 1.0f;
  std::vector<float> features;
};

class FaceHGMTemplate;

// The pyramid matcher.
//
// Similarity of a gallery and a probe template of the same structure (data type, levels, node
// counts and feature lengths): per node, for float and byte data the cosine of the two feature
// vectors (after subtracting each vector's mean unless the features are LDA projections, whose
// mean is already removed), for bit data 1 - 2 * (differing bits) / F; a node with a zero
// vector scores 0. A level scores the mean of its nodes; the levels are weighted by the probe's
// level weights (equally when they sum to 0). The result s in [-1, 1] is returned as
// 0.5 * s + 0.5.
class QRLFACE_EXPORT FaceHGM {
 public:
  // configDirA: the directory of the matcher's data (kept; this matcher reads no files);
  // normalisationA: the score normalisation, only "none" is supported; projectionA and
  // meanA: projection data names, kept for reference; useLdaA: the features are LDA
  // projections; dataTypeA: "float", "byte" or "bit" to accept only templates of that data
  // type, or "" for any. Throws kxxcp::Exception "Unsupported pyramid score normalisation '<x>'."
  // or "Unsupported pyramid data type '<x>'.".
  FaceHGM(const std::string& configDirA, const std::string& normalisationA,
          const std::string& projectionA, const std::string& meanA, bool useLdaA,
          const std::string& dataTypeA);

  const std::string& configDirectory() const { return configDirM; }
  bool useLda() const { return useLdaM; }
  // True when templates of any data type are accepted.
  bool acceptsAnyDataType() const { return anyDataTypeM; }
  PyramidDataType dataType() const { return dataTypeM; }

  // Throws kxxcp::Exception "Pyramid templates of different structure." when the two
  // templates do not match level by level.
  float match(const FaceHGMTemplate& galleryA, const FaceHGMTemplate& probeA) const;

  // The encoded template. Throws kxxcp::Exception on levels the format cannot hold.
  static std::vector<unsigned char> encodeTemplate(PyramidDataType typeA,
                                                   const std::vector<PyramidLevel>& levelsA);

 private:
  std::string configDirM;
  std::string projectionM;
  std::string meanM;
  bool useLdaM;
  bool anyDataTypeM;
  PyramidDataType dataTypeM;
};

// A parsed pyramid template, prepared for matching with the matcher it was made for.
class QRLFACE_EXPORT FaceHGMTemplate {
 public:
  // Parses sizeA bytes at dataA. Throws kxxcp::Exception (function
  // "kxegm::FaceHGMTemplate::FaceHGMTemplate"): "Invalid pyramid template magic number.",
  // "Invalid pyramid template version: '<v>'.", "Invalid pyramid template data type: '<t>'.",
  // "Invalid pyramid template level count: '<n>'.", "Invalid pyramid template level <i>.",
  // "Pyramid template truncated.", "Pyramid template data type does not match the matcher.".
  FaceHGMTemplate(const unsigned char* dataA, std::size_t sizeA, const FaceHGM& matcherA);

  PyramidDataType dataType() const { return typeM; }
  std::size_t levelCount() const { return levelsM.size(); }

 private:
  friend class FaceHGM;
  struct Level {
    std::uint16_t nodes;
    std::uint16_t length;
    float weight;
    std::vector<float> unit;          // float and byte data: unit vectors per node
    std::vector<unsigned char> bits;  // bit data
  };
  PyramidDataType typeM;
  std::vector<Level> levelsM;
};

}  // namespace kxegm
