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
  bool avx512Popcnt;
  CpuFeatures::Level level;
};

constexpr CpuFeatures::Level kLevels[] = {CpuFeatures::Scalar, CpuFeatures::Sse41,
                                          CpuFeatures::Avx2, CpuFeatures::Avx512,
                                          CpuFeatures::Avx512Popcnt};

Detected detect() {
  Detected d{};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // libgcc's detection also checks that the operating system saves the AVX and AVX-512 state.
  d.popcnt = __builtin_cpu_supports("popcnt");
  d.sse41 = __builtin_cpu_supports("sse4.1");
  d.avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  d.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  d.avx512Popcnt = d.avx512 && __builtin_cpu_supports("avx512vpopcntdq");
#endif
  CpuFeatures::Level levelL = CpuFeatures::Scalar;
  if (d.sse41) levelL = CpuFeatures::Sse41;
  if (d.sse41 && d.avx2) levelL = CpuFeatures::Avx2;
  if (d.sse41 && d.avx2 && d.avx512) levelL = CpuFeatures::Avx512;
  if (d.sse41 && d.avx2 && d.avx512Popcnt) levelL = CpuFeatures::Avx512Popcnt;
  d.level = CpuFeatures::capLevel(std::getenv("QUARLEN_CPU_LEVEL"), levelL);
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
bool CpuFeatures::hasAvx512Popcnt() {
  return detected().avx512Popcnt;
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
    case Avx512Popcnt:
      return "avx512popcnt";
  }
  return "scalar";
}

CpuFeatures::Level CpuFeatures::capLevel(const char* textA, Level detectedA) {
  if (textA == nullptr) return detectedA;
  for (Level l : kLevels) {
    if (std::strcmp(textA, levelName(l)) == 0) return l < detectedA ? l : detectedA;
  }
  return detectedA;
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
  add(hasAvx512Popcnt(), "avx512vpopcntdq");
  return textL.empty() ? "none" : textL;
}

}  // namespace qridy
