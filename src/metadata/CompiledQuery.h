#pragma once

// A probe query decoded once, for evaluating it against many records. Every condition becomes
// one of four tests on its attribute value a: inside [base, base + span] (one unsigned
// comparison, a - base <= span), outside it, some bit of a mask set, or none. Evaluation gives
// the same answer as QueryLanguage::matches on the raw words: a clause with a condition that
// can never hold (unknown operator, attribute index above N, a condition cut by its clause
// length, an empty range) is dropped; a condition that always holds is left out of its clause.

#include <cstdint>
#include <vector>

#include <quarlen/QueryLanguage.h>

namespace qridy {

class CompiledQuery {
 public:
  // queryA must be terminated (validated, or built by the caller).
  CompiledQuery(const unsigned int* queryA, unsigned int attributeCountA);

  enum Kind : std::uint32_t { Inside = 0, Outside = 1, AnyBit = 2, NoBit = 3 };
  struct Test {
    std::uint32_t attribute;
    Kind kind;
    std::uint32_t base;  // the range start, or the bit mask
    std::uint32_t span;  // the range length - 1
  };

  bool matches(const unsigned int* wordsA) const {
    if (matchAllM) return true;
    std::uint32_t iL = 0;
    for (std::uint32_t endL : clauseEndM) {
      bool holdsL = true;
      for (; iL < endL; ++iL) {
        if (!holds(testsM[iL], wordsA[testsM[iL].attribute])) {
          holdsL = false;
          break;
        }
      }
      if (holdsL) return true;
      iL = endL;
    }
    return false;
  }

  static bool holds(const Test& tA, std::uint32_t aA) {
    switch (tA.kind) {
      case Inside:
        return aA - tA.base <= tA.span;
      case Outside:
        return aA - tA.base > tA.span;
      case AnyBit:
        return (aA & tA.base) != 0;
      default:
        return (aA & tA.base) == 0;
    }
  }

 private:
  bool matchAllM = false;
  std::vector<Test> testsM;
  std::vector<std::uint32_t> clauseEndM;  // clause c: tests [end[c - 1], end[c])
};

}  // namespace qridy
