#include "metadata/CompiledQuery.h"

namespace qridy {
namespace {

enum class Outcome { Never, Always, Test };

// The test of one condition, or whether it never or always holds.
Outcome translate(std::uint32_t opA, std::uint32_t lowA, std::uint32_t highA,
                  CompiledQuery::Test& testA) {
  constexpr std::uint32_t kMax = 0xFFFFFFFFu;
  const auto rangeL = [&](CompiledQuery::Kind kindA, std::uint32_t fromA, std::uint32_t toA) {
    testA.kind = kindA;
    testA.base = fromA;
    testA.span = toA - fromA;
    return Outcome::Test;
  };
  switch (opA) {
    case QueryLanguage::kEqual:
      return rangeL(CompiledQuery::Inside, lowA, lowA);
    case QueryLanguage::kNotEqual:
      return rangeL(CompiledQuery::Outside, lowA, lowA);
    case QueryLanguage::kInRange:
      return lowA > highA ? Outcome::Never : rangeL(CompiledQuery::Inside, lowA, highA);
    case QueryLanguage::kOutOfRange:
      return lowA > highA ? Outcome::Always : rangeL(CompiledQuery::Outside, lowA, highA);
    case QueryLanguage::kGreater:
      return lowA == kMax ? Outcome::Never : rangeL(CompiledQuery::Inside, lowA + 1, kMax);
    case QueryLanguage::kLess:
      return lowA == 0 ? Outcome::Never : rangeL(CompiledQuery::Inside, 0, lowA - 1);
    case QueryLanguage::kAnyBit:
      testA.kind = CompiledQuery::AnyBit;
      testA.base = lowA;
      return lowA == 0 ? Outcome::Never : Outcome::Test;
    case QueryLanguage::kNoBit:
      testA.kind = CompiledQuery::NoBit;
      testA.base = lowA;
      return lowA == 0 ? Outcome::Always : Outcome::Test;
    default:
      return Outcome::Never;
  }
}

}  // namespace

CompiledQuery::CompiledQuery(const unsigned int* queryA, unsigned int attributeCountA) {
  if (queryA == nullptr) {
    matchAllM = true;
    return;
  }
  for (const unsigned int* pL = queryA; *pL != 0; pL += *pL + 1) {
    const std::uint32_t lengthL = *pL;
    const unsigned int* cL = pL + 1;
    const std::size_t firstL = testsM.size();
    bool possibleL = true;
    for (std::uint32_t iL = 0; iL < lengthL && possibleL;) {
      const std::uint32_t leftL = lengthL - iL;
      const std::uint32_t widthL = leftL >= 3 ? QueryLanguage::conditionWidth(cL[iL + 1]) : 3u;
      if (leftL < widthL || cL[iL] > attributeCountA) {
        possibleL = false;
        break;
      }
      Test testL{cL[iL], Inside, 0, 0};
      switch (translate(cL[iL + 1], cL[iL + 2], widthL == 4 ? cL[iL + 3] : 0u, testL)) {
        case Outcome::Never:
          possibleL = false;
          break;
        case Outcome::Always:
          break;
        case Outcome::Test:
          testsM.push_back(testL);
          break;
      }
      iL += widthL;
    }
    if (!possibleL) {
      testsM.resize(firstL);
    } else if (testsM.size() == firstL) {
      matchAllM = true;  // a clause that always holds
      return;
    } else {
      clauseEndM.push_back(static_cast<std::uint32_t>(testsM.size()));
    }
  }
}

}  // namespace qridy
