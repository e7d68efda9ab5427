#pragma once

#include <string>

#include <quarlen/QuarlenExport.h>

namespace qridy {

// The processor features the engines choose their kernels by, detected once per process at run
// time (never from the build machine's compile flags). The environment variable
// QUARLEN_CPU_LEVEL ("scalar", "sse41", "avx2", "avx512") caps the level used, so every kernel
// path can be exercised and compared on one machine.
class QUARLEN_EXPORT CpuFeatures {
 public:
  enum Level { Scalar = 0, Sse41 = 1, Avx2 = 2, Avx512 = 3 };

  static bool hasPopcnt();
  static bool hasSse41();
  static bool hasAvx2();    // AVX2 and FMA, with operating-system support for the registers
  static bool hasAvx512();  // AVX-512 F and BW, with operating-system support
  // The highest level both the processor and QUARLEN_CPU_LEVEL allow.
  static Level level();
  static const char* levelName(Level levelA);
  // "popcnt sse4.1 avx2 avx512" with the features present, for diagnostics.
  static std::string describe();
};

}  // namespace qridy
