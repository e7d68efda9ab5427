#include <qrlface/ByteMinimalGraph.h>

#include <cmath>

namespace kxegm {

float ByteMinimalGraph::scale() {
  return 127.0f;
}

signed char ByteMinimalGraph::quantize(float valueA) {
  if (!(valueA == valueA)) return 0;  // NaN
  const float scaledL = std::nearbyint(valueA * scale());
  if (scaledL > 127.0f) return 127;
  if (scaledL < -127.0f) return -127;
  return static_cast<signed char>(scaledL);
}

void ByteMinimalGraph::quantize(const float* valuesA, std::size_t countA, signed char* bytesA) {
  for (std::size_t i = 0; i < countA; ++i) bytesA[i] = quantize(valuesA[i]);
}

}  // namespace kxegm
