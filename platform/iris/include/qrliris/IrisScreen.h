#pragma once

// The screening call of the iris-code matcher (ordinal 23, qrlIrisScreenRotations) in each of
// the processor paths it is built for. The library answers ordinal 23 with the fastest path the
// processor runs, chosen once per process at run time (never from the build machine's flags).
// Every path returns the same mask and writes the same total and diff into every entry; the
// portable path is the reference the others are held to. Tests and benchmarks reach each path
// here.

#include <cstdint>

#include <qrliris/IrisCodeMatcher.h>
#include <qrliris/IrisExport.h>

namespace kxegm {
namespace irisscreen {

enum class Path {
  Portable,  // one row at a time, bit counts without the POPCNT instruction (any x86-64)
  Popcnt,    // one row at a time with POPCNT
  Avx2,      // one row per 256-bit register, bit counts by nibble table
  Avx512     // four rows per 512-bit register, AVX-512 F and BW with VPOPCNTDQ, and BMI2
};

// All paths, slowest first.
constexpr Path kPaths[] = {Path::Portable, Path::Popcnt, Path::Avx2, Path::Avx512};

// Whether this processor (and its operating system) runs the path.
QRLIRIS_EXPORT bool supported(Path pathA);
// The fastest supported path: the one ordinal 23 answers with.
QRLIRIS_EXPORT Path active();
// "portable", "popcnt", "avx2", "avx512".
QRLIRIS_EXPORT const char* pathName(Path pathA);
// The path's screening function, with the contract of qrlIrisScreenRotations; null when the
// processor does not run it.
QRLIRIS_EXPORT QrlIrisScreenFn function(Path pathA);

}  // namespace irisscreen
}  // namespace kxegm
