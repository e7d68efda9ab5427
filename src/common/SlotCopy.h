#pragma once

// Copying into stage slots: large galleries are written once and read much later, so the copy
// bypasses the caches (non-temporal stores) where the platform has them. That saves the read of
// every destination line before it is written (half the memory traffic of a plain copy) and
// keeps the caches for the data being read. Plain memcpy is the reference and the fallback.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qridy {
namespace slotcopy {

// Copies sizeA bytes from srcA to dstA. Streams when dstA is 16-byte aligned (whole 16-byte
// blocks; a tail of fewer than 16 bytes is copied plainly). The stores are weakly ordered: call
// fence() before another thread may read the bytes (the caller's handover to readers usually
// fences already; fence() makes it explicit and costs little when nothing is pending).
inline void copy(unsigned char* dstA, const unsigned char* srcA, std::size_t sizeA) {
#if defined(__SSE2__)
  if ((reinterpret_cast<std::uintptr_t>(dstA) & 15u) == 0) {
    std::size_t i = 0;
    for (; i + 16 <= sizeA; i += 16) {
      const __m128i vL = _mm_loadu_si128(reinterpret_cast<const __m128i*>(srcA + i));
      _mm_stream_si128(reinterpret_cast<__m128i*>(dstA + i), vL);
    }
    if (i < sizeA) std::memcpy(dstA + i, srcA + i, sizeA - i);
    return;
  }
#endif
  std::memcpy(dstA, srcA, sizeA);
}

// Orders the streamed stores before every later store of this thread.
inline void fence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace slotcopy
}  // namespace qridy
