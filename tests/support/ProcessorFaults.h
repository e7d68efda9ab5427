#pragma once

// Faults on purpose, for the fault translator's tests and benchmarks. Inline assembly keeps the
// compiler's reasoning and the sanitizers' own checks (null dereference, division by zero) out
// of the way, so the processor itself faults.

#include <cstdint>

namespace quarlen_test {

__attribute__((noinline)) inline int readAt(std::uintptr_t addressA) {
#if defined(__x86_64__)
  int valueL;
  asm volatile("movl (%1), %0" : "=r"(valueL) : "r"(addressA) : "memory");
  return valueL;
#else
  return *reinterpret_cast<volatile int*>(addressA);
#endif
}

__attribute__((noinline)) inline void writeAt(std::uintptr_t addressA) {
#if defined(__x86_64__)
  asm volatile("movl $1, (%0)" : : "r"(addressA) : "memory");
#else
  *reinterpret_cast<volatile int*>(addressA) = 1;
#endif
}

__attribute__((noinline)) inline int divide(int numeratorA, int denominatorA) {
#if defined(__x86_64__)
  int quotientL;
  asm volatile("cltd\n\tidivl %2" : "=a"(quotientL) : "a"(numeratorA), "r"(denominatorA) : "edx");
  return quotientL;
#else
  volatile int d = denominatorA;
  return numeratorA / d;
#endif
}

}  // namespace quarlen_test
