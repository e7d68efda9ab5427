#pragma once

#include <string>
#include <vector>

#include <qrlcore/CoreExport.h>

namespace kxutl {

class QRLCORE_EXPORT StringUtils {
 public:
  // Expands references to environment variables in textA, in place: "${NAME}" and "%NAME%",
  // where NAME is a letter or '_' followed by letters, digits and '_'. "$$" stands for one '$'
  // and "%%" for one '%'. Text that is not such a reference is kept as it is ("50% of",
  // "${unterminated"). Expanded values are not expanded again. A reference to a variable that
  // is not set is left in the text unchanged and makes the result false; otherwise true.
  static bool checkEnvironment(std::string& textA);
};

// Splits textA at every occurrence of separatorA: "a,,b" at "," gives {"a", "", "b"}. An empty
// text gives an empty list; an empty separator gives the whole text as the only element.
QRLCORE_EXPORT std::vector<std::string> separateString(const std::string& textA,
                                                       const std::string& separatorA);

// Writes valueA in decimal with a terminating zero into bufferA, which must hold at least 12
// characters; returns bufferA.
QRLCORE_EXPORT char* itoa(int valueA, char* bufferA);

// The nearest integer pixel: halves round up (floor(x + 0.5), so -0.5 -> 0 and 2.5 -> 3).
// NaN gives 0; values beyond the int range give the nearest int limit.
QRLCORE_EXPORT int pixelRound(double valueA);

}  // namespace kxutl
