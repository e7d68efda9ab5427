#include <qrliris/IrisScreen.h>

#include "IrisScreenKernels.h"
#include "IrisWordCount.h"

namespace kxegm {
namespace irisscreen {
namespace kernels {
namespace {

// Row by row, without a branch on the counts: the answers of impostor rows are a coin toss, and
// a mispredicted branch per row costs more than the row's counts. Row j's bit is shifted in
// first, so that it ends at bit count - 1 - j.
template <bool Hardware>
QRLIRIS_INLINE std::uint32_t screenRows(const void* galleryA, QrlIrisHeadEntry* headA,
                                        std::uint32_t rowCountA) {
  const std::uint64_t g0L = irisword::load64(galleryA);
  const std::uint64_t g1L = irisword::load64(static_cast<const unsigned char*>(galleryA) + 8);
  const std::uint32_t countL = rowCountA > kMaxRows ? kMaxRows : rowCountA;
  std::uint32_t maskL = 0;
  for (std::uint32_t j = 0; j < countL; ++j) {
    QrlIrisHeadEntry& eL = headA[j];
    std::uint64_t totalL = 0, diffL = 0;
    irisword::countOne<Hardware>(g0L, eL.word0, eL.mask0, totalL, diffL);
    const bool firstL = diffL * 128 < totalL * 52;
    irisword::countOne<Hardware>(g1L, eL.word1, eL.mask1, totalL, diffL);
    eL.total = totalL;
    eL.diff = diffL;
    const bool bothL = firstL & (diffL * 128 < totalL * 48);
    maskL = (maskL << 1) | static_cast<std::uint32_t>(bothL);
  }
  return maskL;
}

}  // namespace

std::uint32_t screenPortable(const void* galleryA, QrlIrisHeadEntry* headA,
                             std::uint32_t rowCountA) {
  return screenRows<false>(galleryA, headA, rowCountA);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("popcnt")))
#endif
std::uint32_t
screenPopcnt(const void* galleryA, QrlIrisHeadEntry* headA, std::uint32_t rowCountA) {
  return screenRows<true>(galleryA, headA, rowCountA);
}

#if !defined(__x86_64__) && !defined(__i386__)
// The SIMD kernels exist on x86 only; elsewhere supported() never offers them.
std::uint32_t screenAvx2(const void* galleryA, QrlIrisHeadEntry* headA, std::uint32_t rowCountA) {
  return screenPortable(galleryA, headA, rowCountA);
}
std::uint32_t screenAvx512(const void* galleryA, QrlIrisHeadEntry* headA, std::uint32_t rowCountA) {
  return screenPortable(galleryA, headA, rowCountA);
}
#endif

}  // namespace kernels

namespace {

struct Support {
  bool popcnt = false;
  bool avx2 = false;
  bool avx512 = false;
};

const Support& support() {
  static const Support supportS = [] {
    Support s;
#if defined(__x86_64__) || defined(__i386__)
    // libgcc's detection also checks that the operating system saves the AVX and AVX-512 state.
    __builtin_cpu_init();
    s.popcnt = __builtin_cpu_supports("popcnt");
    s.avx2 = s.popcnt && __builtin_cpu_supports("avx2");
    s.avx512 = s.avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("avx512vpopcntdq");
#endif
    return s;
  }();
  return supportS;
}

}  // namespace

bool supported(Path pathA) {
  switch (pathA) {
    case Path::Portable:
      return true;
    case Path::Popcnt:
      return support().popcnt;
    case Path::Avx2:
      return support().avx2;
    case Path::Avx512:
      return support().avx512;
  }
  return false;
}

Path active() {
  static const Path pathS = [] {
    Path bestL = Path::Portable;
    for (Path p : kPaths) {
      if (supported(p)) bestL = p;
    }
    return bestL;
  }();
  return pathS;
}

const char* pathName(Path pathA) {
  switch (pathA) {
    case Path::Portable:
      return "portable";
    case Path::Popcnt:
      return "popcnt";
    case Path::Avx2:
      return "avx2";
    case Path::Avx512:
      return "avx512";
  }
  return "unknown";
}

QrlIrisScreenFn function(Path pathA) {
  if (!supported(pathA)) return nullptr;
  switch (pathA) {
    case Path::Portable:
      return &kernels::screenPortable;
    case Path::Popcnt:
      return &kernels::screenPopcnt;
    case Path::Avx2:
      return &kernels::screenAvx2;
    case Path::Avx512:
      return &kernels::screenAvx512;
  }
  return nullptr;
}

}  // namespace irisscreen
}  // namespace kxegm
