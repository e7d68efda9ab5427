#include <quarlen/CpuFeatures.h>

#include <cstdlib>
#include <cstring>

namespace qridy {
namespace {

struct Detected {
  bool popcnt;
  bool sse41;
  bool avx2;
  bool avx512;
  CpuFeatures::Level level;
};

CpuFeatures::Level capFromEnvironment(CpuFeatures::Level detectedA) {
  const char* capL = std::getenv("QUARLEN_CPU_LEVEL");
  if (capL == nullptr) return detectedA;
  CpuFeatures::Level wantL = detectedA;
  if (std::strcmp(capL, "scalar") == 0) wantL = CpuFeatures::Scalar;
  if (std::strcmp(capL, "sse41") == 0) wantL = CpuFeatures::Sse41;
  if (std::strcmp(capL, "avx2") == 0) wantL = CpuFeatures::Avx2;
  if (std::strcmp(capL, "avx512") == 0) wantL = CpuFeatures::Avx512;
  return wantL < detectedA ? wantL : detectedA;
}

Detected detect() {
  Detected d{};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // libgcc's detection also checks that the operating system saves the AVX and AVX-512 state.
  d.popcnt = __builtin_cpu_supports("popcnt");
  d.sse41 = __builtin_cpu_supports("sse4.1");
  d.avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  d.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#endif
  CpuFeatures::Level levelL = CpuFeatures::Scalar;
  if (d.sse41) levelL = CpuFeatures::Sse41;
  if (d.sse41 && d.avx2) levelL = CpuFeatures::Avx2;
  if (d.sse41 && d.avx2 && d.avx512) levelL = CpuFeatures::Avx512;
  d.level = capFromEnvironment(levelL);
  return d;
}

const Detected& detected() {
  static const Detected d = detect();
  return d;
}

}  // namespace

bool CpuFeatures::hasPopcnt() {
  return detected().popcnt;
}
bool CpuFeatures::hasSse41() {
  return detected().sse41;
}
bool CpuFeatures::hasAvx2() {
  return detected().avx2;
}
bool CpuFeatures::hasAvx512() {
  return detected().avx512;
}
CpuFeatures::Level CpuFeatures::level() {
  return detected().level;
}

const char* CpuFeatures::levelName(Level levelA) {
  switch (levelA) {
    case Scalar:
      return "scalar";
    case Sse41:
      return "sse41";
    case Avx2:
      return "avx2";
    case Avx512:
      return "avx512";
  }
  return "scalar";
}

std::string CpuFeatures::describe() {
  std::string textL;
  auto add = [&textL](bool on, const char* name) {
    if (!on) return;
    if (!textL.empty()) textL += ' ';
    textL += name;
  };
  add(hasPopcnt(), "popcnt");
  add(hasSse41(), "sse4.1");
  add(hasAvx2(), "avx2");
  add(hasAvx512(), "avx512");
  return textL.empty() ? "none" : textL;
}

}  // namespace qridy
