#pragma once

// The one rule for memory that matching loops scan: 16-byte aligned blocks, obtained and released
// through these two functions only (never mixed with new[]/delete[] or malloc/free).

#include <cstddef>
#include <new>

namespace qrcommon {

constexpr std::size_t kGalleryAlignment = 16;

// bytesA bytes aligned to 16, or null when they cannot be had (bytesA 0 gives null too). The
// memory is not initialised. Release with freeAligned16.
inline unsigned char* allocateAligned16(std::size_t bytesA) noexcept {
  if (bytesA == 0) return nullptr;
  return static_cast<unsigned char*>(
      ::operator new (bytesA, std::align_val_t{kGalleryAlignment}, std::nothrow));
}

inline void freeAligned16(unsigned char* blockA) noexcept {
  if (blockA != nullptr) ::operator delete (blockA, std::align_val_t{kGalleryAlignment});
}

// Rounds sizeA up to a multiple of 16 (0 stays 0).
constexpr unsigned int roundUp16(unsigned int sizeA) {
  return (sizeA + 15u) & ~15u;
}

}  // namespace qrcommon
