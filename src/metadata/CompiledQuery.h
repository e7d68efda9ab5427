#pragma once

// A probe query decoded once into its conditions, for evaluating it against many records.
// Evaluation gives the same answer as QueryLanguage::matches on the raw words: a clause with a
// condition that can never hold (unknown operator, attribute index above N, a condition cut
// by its clause length) can never hold itself and is dropped.

#include <cstdint>
#include <vector>

#include <quarlen/QueryLanguage.h>

namespace qridy {

class CompiledQuery {
 public:
  // queryA must be terminated (validated, or built by the caller).
  CompiledQuery(const unsigned int* queryA, unsigned int attributeCountA);

  bool matches(const unsigned int* wordsA) const {
    if (matchAllM) return true;
    for (std::size_t c = 0; c + 1 < clauseStartM.size(); ++c) {
      bool holdsL = true;
      for (std::uint32_t i = clauseStartM[c]; i < clauseStartM[c + 1]; ++i) {
        if (!holds(conditionsM[i], wordsA[conditionsM[i].attribute])) {
          holdsL = false;
          break;
        }
      }
      if (holdsL) return true;
    }
    return false;
  }

  struct Condition {
    std::uint32_t attribute;
    std::uint32_t op;
    std::uint32_t low;   // the value of the one-value operators
    std::uint32_t high;  // range operators only
  };

  static bool holds(const Condition& cA, std::uint32_t aA) {
    return QueryLanguage::conditionHolds(cA.op, aA, cA.low, cA.high);
  }

 private:
  bool matchAllM = false;
  std::vector<Condition> conditionsM;
  std::vector<std::uint32_t> clauseStartM{0};  // clause c: conditions [start[c], start[c + 1])
};

}  // namespace qridy
