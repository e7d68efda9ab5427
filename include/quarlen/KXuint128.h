#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// The 128-bit sample identifier: two unsigned 64-bit halves, high first. Ordered by the high
// half, then the low half. The record formats store the low half first. Zero means "not set".
struct KXuint128 {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  bool operator==(const KXuint128& otherA) const {
    return high == otherA.high && low == otherA.low;
  }
  bool operator!=(const KXuint128& otherA) const { return !(*this == otherA); }
  bool operator<(const KXuint128& otherA) const {
    return high != otherA.high ? high < otherA.high : low < otherA.low;
  }
  bool operator>(const KXuint128& otherA) const { return otherA < *this; }
  bool operator<=(const KXuint128& otherA) const { return !(otherA < *this); }
  bool operator>=(const KXuint128& otherA) const { return !(*this < otherA); }
};

namespace std {
template <>
struct hash<KXuint128> {
  std::size_t operator()(const KXuint128& idA) const noexcept {
    return std::hash<std::uint64_t>()(idA.high * 0x9E3779B97F4A7C15ull ^ idA.low);
  }
};
}  // namespace std
