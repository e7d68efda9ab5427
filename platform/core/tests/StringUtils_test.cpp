#include <qrlcore/StringUtils.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "support/Environment.h"

namespace kxutl {
namespace {

using quarlen_test::ScopedEnv;

std::pair<bool, std::string> expand(std::string textA) {
  const bool okL = StringUtils::checkEnvironment(textA);
  return {okL, textA};
}

TEST(StringUtilsTest, CheckEnvironmentExpandsBothReferenceForms) {
  ScopedEnv commonL("QUARLEN_TEST_COMMON", "/opt/common");
  ScopedEnv emptyL("QUARLEN_TEST_EMPTY", "");
  ScopedEnv unsetL("QUARLEN_TEST_UNSET", std::nullopt);
  ScopedEnv recursiveL("QUARLEN_TEST_RECURSIVE", "${QUARLEN_TEST_COMMON}");
  using P = std::pair<bool, std::string>;
  EXPECT_EQ(expand("${QUARLEN_TEST_COMMON}/Face"), P(true, "/opt/common/Face"));
  EXPECT_EQ(expand("%QUARLEN_TEST_COMMON%\\Face\\%QUARLEN_TEST_COMMON%"),
            P(true, "/opt/common\\Face\\/opt/common"));
  EXPECT_EQ(expand("a${QUARLEN_TEST_EMPTY}b"), P(true, "ab"));
  EXPECT_EQ(expand("${QUARLEN_TEST_RECURSIVE}"), P(true, "${QUARLEN_TEST_COMMON}"))
      << "values are not expanded again";
  EXPECT_EQ(expand("x ${QUARLEN_TEST_UNSET} %QUARLEN_TEST_UNSET% ${QUARLEN_TEST_COMMON}"),
            P(false, "x ${QUARLEN_TEST_UNSET} %QUARLEN_TEST_UNSET% /opt/common"));
  // Text that is no reference stays as it is.
  EXPECT_EQ(expand("50% of 80%"), P(true, "50% of 80%"));
  EXPECT_EQ(expand("$$ and %% and $HOME"), P(true, "$ and % and $HOME"));
  EXPECT_EQ(expand("${unterminated"), P(true, "${unterminated"));
  EXPECT_EQ(expand("${1abc} ${} %% % $"), P(true, "${1abc} ${} % % $"));
  EXPECT_EQ(expand(""), P(true, ""));
}

TEST(StringUtilsTest, SeparateString) {
  using V = std::vector<std::string>;
  EXPECT_EQ(separateString("a,,b", ","), (V{"a", "", "b"}));
  EXPECT_EQ(separateString("face::iris::", "::"), (V{"face", "iris", ""}));
  EXPECT_EQ(separateString("abc", ";"), (V{"abc"}));
  EXPECT_EQ(separateString("abc", ""), (V{"abc"}));
  EXPECT_EQ(separateString("", ","), V{});
  EXPECT_EQ(separateString("aaa", "aa"), (V{"", "a"}));
}

TEST(StringUtilsTest, ItoaAndPixelRound) {
  char bufferL[12];
  EXPECT_STREQ(itoa(0, bufferL), "0");
  EXPECT_STREQ(itoa(-42, bufferL), "-42");
  EXPECT_STREQ(itoa(INT_MAX, bufferL), "2147483647");
  EXPECT_STREQ(itoa(INT_MIN, bufferL), "-2147483648");

  EXPECT_EQ(pixelRound(2.5), 3);
  EXPECT_EQ(pixelRound(2.4999), 2);
  EXPECT_EQ(pixelRound(-2.5), -2);
  EXPECT_EQ(pixelRound(-2.5001), -3);
  EXPECT_EQ(pixelRound(-0.5), 0);
  EXPECT_EQ(pixelRound(0.49999999999999994), 0);
  EXPECT_EQ(pixelRound(std::nan("")), 0);
  EXPECT_EQ(pixelRound(1e300), INT_MAX);
  EXPECT_EQ(pixelRound(-std::numeric_limits<double>::infinity()), INT_MIN);
}

}  // namespace
}  // namespace kxutl
