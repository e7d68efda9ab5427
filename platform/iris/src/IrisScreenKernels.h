#pragma once

// The screening kernels behind qrliris/IrisScreen.h, one per processor path. Each has the
// contract of qrlIrisScreenRotations; the SIMD kernels are compiled for their instruction sets
// through target attributes and may only run once supported() has seen the processor offer
// them.

#include <cstdint>

#include <qrliris/IrisCodeMatcher.h>

namespace kxegm {
namespace irisscreen {
namespace kernels {

// Rows beyond this many are ignored: the mask has one bit per row.
constexpr std::uint32_t kMaxRows = 32;

std::uint32_t screenPortable(const void* galleryA, QrlIrisHeadEntry* headA,
                             std::uint32_t rowCountA);
std::uint32_t screenPopcnt(const void* galleryA, QrlIrisHeadEntry* headA, std::uint32_t rowCountA);
std::uint32_t screenAvx2(const void* galleryA, QrlIrisHeadEntry* headA, std::uint32_t rowCountA);
std::uint32_t screenAvx512(const void* galleryA, QrlIrisHeadEntry* headA, std::uint32_t rowCountA);

}  // namespace kernels
}  // namespace irisscreen
}  // namespace kxegm
