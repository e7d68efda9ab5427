#pragma once

#include <cmath>

namespace qrimg {

// A pixel position.
struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
  bool operator!=(const Point& o) const { return !(*this == o); }
};

// A sub-pixel position in image coordinates (x to the right, y downwards, pixel centres at
// integer values).
struct Point2f {
  float x = 0.0f;
  float y = 0.0f;
  bool operator==(const Point2f& o) const { return x == o.x && y == o.y; }
  bool operator!=(const Point2f& o) const { return !(*this == o); }
};

inline float distance(const Point2f& aA, const Point2f& bA) {
  return std::hypot(aA.x - bA.x, aA.y - bA.y);
}

}  // namespace qrimg
