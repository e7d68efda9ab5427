#pragma once

#include <cstddef>

#include <qrlface/FaceExport.h>

namespace kxegm {

// Byte features of the minimal face graph: feature values in [-1, 1] stored as signed bytes
// round(value * scale()), clamped to [-127, 127]. A dot product of two byte vectors divided by
// scale()^2 is thus the dot product of the feature values, to quantisation accuracy.
class QRLFACE_EXPORT ByteMinimalGraph {
 public:
  static float scale();
  static signed char quantize(float valueA);
  static void quantize(const float* valuesA, std::size_t countA, signed char* bytesA);
};

}  // namespace kxegm
