#pragma once

// The one aligned byte buffer of the library, for every buffer that vector kernels scan (probe
// copies, expanded probes, lookup tables, stage memory):
// - its start is aligned to kAlignment (64) bytes: a cache line, and enough for every vector load;
// - its length is the requested size rounded up to a multiple of kPadding (16) bytes, so kernels
//   may read whole 16-byte blocks;
// - every byte is zero when it is allocated, so the padding reads as zero.
// It owns its memory and releases it with the matching aligned delete; it moves, never copies.
// Allocation never throws: a buffer that cannot be had comes back empty.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace qridy {

class AlignedBuffer {
 public:
  static constexpr std::size_t kAlignment = 64;
  static constexpr std::uint64_t kPadding = 16;

  // sizeA rounded up to a multiple of kPadding; 0 when that does not fit 64 bits.
  static constexpr std::uint64_t paddedSize(std::uint64_t sizeA) {
    return sizeA > UINT64_MAX - (kPadding - 1) ? 0 : (sizeA + (kPadding - 1)) & ~(kPadding - 1);
  }

  // A buffer of paddedSize(sizeA) zero bytes. Empty when sizeA is 0, when the padded size
  // exceeds limitA (by default what a 32-bit size field can hold) or when the memory cannot be
  // had.
  static AlignedBuffer allocate(std::uint64_t sizeA, std::uint64_t limitA = UINT32_MAX) {
    AlignedBuffer bufferL;
    const std::uint64_t paddedL = paddedSize(sizeA);
    if (paddedL == 0 || paddedL > limitA || paddedL > SIZE_MAX) return bufferL;
    const auto bytesL = static_cast<std::size_t>(paddedL);
    bufferL.dataM = static_cast<unsigned char*>(
        ::operator new (bytesL, std::align_val_t{kAlignment}, std::nothrow));
    if (bufferL.dataM == nullptr) return bufferL;
    std::memset(bufferL.dataM, 0, bytesL);
    bufferL.sizeM = bytesL;
    return bufferL;
  }

  // Raw aligned memory of sizeA bytes whose contents are not set: for owners that write every
  // byte before reading it (the stage memory arrays fill each slot as they hand it out), so that
  // the pages of a large block cost memory only once they are written. Null when sizeA is 0 or
  // the memory cannot be had; released with free().
  static unsigned char* allocateUninitialised(std::size_t sizeA) noexcept {
    if (sizeA == 0) return nullptr;
    return static_cast<unsigned char*>(
        ::operator new (sizeA, std::align_val_t{kAlignment}, std::nothrow));
  }

  AlignedBuffer() noexcept = default;
  AlignedBuffer(AlignedBuffer&& otherA) noexcept
      : dataM(std::exchange(otherA.dataM, nullptr)), sizeM(std::exchange(otherA.sizeM, 0)) {}
  AlignedBuffer& operator=(AlignedBuffer&& otherA) noexcept {
    if (this != &otherA) {
      reset();
      dataM = std::exchange(otherA.dataM, nullptr);
      sizeM = std::exchange(otherA.sizeM, 0);
    }
    return *this;
  }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  ~AlignedBuffer() { reset(); }

  // Gives up ownership of the memory (for owners that keep raw blocks, such as the stage memory
  // arrays); the caller releases it with AlignedBuffer::free. The buffer is empty afterwards.
  unsigned char* release() noexcept {
    sizeM = 0;
    return std::exchange(dataM, nullptr);
  }
  // Releases memory given up by release(); null is ignored.
  static void free(unsigned char* dataA) noexcept {
    if (dataA != nullptr) ::operator delete (dataA, std::align_val_t{kAlignment});
  }

  // Releases the memory; the buffer is empty afterwards.
  void reset() noexcept {
    free(dataM);
    dataM = nullptr;
    sizeM = 0;
  }

  bool empty() const { return dataM == nullptr; }
  unsigned char* data() { return dataM; }
  const unsigned char* data() const { return dataM; }
  // The padded length in bytes (a multiple of kPadding); 0 when empty.
  std::size_t size() const { return sizeM; }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(dataM);
  }

 private:
  unsigned char* dataM = nullptr;
  std::size_t sizeM = 0;
};

}  // namespace qridy
