#pragma once

#include <string>

#include <quarlen/QuarlenExport.h>

namespace qridy {

// The processor features the engines choose their kernels by, detected once per process at run
// time (never from the build machine's compile flags). The environment variable
// QUARLEN_CPU_LEVEL ("scalar", "sse41", "avx2", "avx512", "avx512popcnt") caps the level used,
// so every kernel path can be exercised and compared on one machine.
class QUARLEN_EXPORT CpuFeatures {
 public:
  // Avx512 is AVX-512 F and BW with the bit count of the AVX2 level; Avx512Popcnt adds the
  // AVX-512 VPOPCNTDQ bit count.
  enum Level { Scalar = 0, Sse41 = 1, Avx2 = 2, Avx512 = 3, Avx512Popcnt = 4 };

  static bool hasPopcnt();
  static bool hasSse41();
  static bool hasAvx2();          // AVX2 and FMA, with operating-system support for the registers
  static bool hasAvx512();        // AVX-512 F and BW, with operating-system support
  static bool hasAvx512Popcnt();  // AVX-512 VPOPCNTDQ as well as F and BW
  // The highest level both the processor and QUARLEN_CPU_LEVEL allow.
  static Level level();
  static const char* levelName(Level levelA);
  // The level a QUARLEN_CPU_LEVEL text allows on a processor of detectedA: the named level when
  // it is lower, detectedA otherwise (also for a null or unknown text).
  static Level capLevel(const char* textA, Level detectedA);
  // "popcnt sse4.1 avx2 avx512 avx512vpopcntdq" with the features present, for diagnostics.
  static std::string describe();
};

}  // namespace qridy
