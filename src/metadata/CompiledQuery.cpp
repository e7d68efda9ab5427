#include "metadata/CompiledQuery.h"

namespace qridy {

CompiledQuery::CompiledQuery(const unsigned int* queryA, unsigned int attributeCountA) {
  if (queryA == nullptr) {
    matchAllM = true;
    return;
  }
  for (const unsigned int* pL = queryA; *pL != 0; pL += *pL + 1) {
    const std::uint32_t lengthL = *pL;
    const unsigned int* cL = pL + 1;
    const std::size_t firstL = conditionsM.size();
    bool possibleL = true;
    for (std::uint32_t iL = 0; iL < lengthL && possibleL;) {
      const std::uint32_t leftL = lengthL - iL;
      const std::uint32_t widthL = leftL >= 3 ? QueryLanguage::conditionWidth(cL[iL + 1]) : 3u;
      if (leftL < widthL || cL[iL] > attributeCountA) {
        possibleL = false;
        break;
      }
      const Condition conditionL{cL[iL], cL[iL + 1], cL[iL + 2], widthL == 4 ? cL[iL + 3] : 0u};
      if (!QueryLanguage::isKnownOperator(conditionL.op)) {
        possibleL = false;
        break;
      }
      conditionsM.push_back(conditionL);
      iL += widthL;
    }
    if (possibleL) {
      clauseStartM.push_back(static_cast<std::uint32_t>(conditionsM.size()));
    } else {
      conditionsM.resize(firstL);
    }
  }
}

}  // namespace qridy
