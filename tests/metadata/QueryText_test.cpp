#include <quarlen/QueryText.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <quarlen/QueryLanguage.h>

#include "support/ExceptionMatchers.h"
#include "support/RegistryConfig.h"

namespace qridy {
namespace {

using quarlen_test::RegistryConfig;
using Words = std::vector<unsigned int>;

constexpr unsigned kNot = QueryLanguage::kNotEqual;
constexpr unsigned kOut = QueryLanguage::kOutOfRange;
constexpr unsigned kNoBit = QueryLanguage::kNoBit;
constexpr unsigned kLess = QueryLanguage::kLess;

// Records of four attributes; names for the first three.
class QueryTextTest : public ::testing::Test {
 protected:
  RegistryConfig configM{4, 1044, 16, 2,
                         "[QUERY_LANGUAGE]\nattributeNames = region ,flags,  age\n"};
  QueryText textM{{"region", "flags", "age"}};
};

TEST_F(QueryTextTest, CompilesTheGoldenTexts) {
  const std::pair<const char*, Words> casesL[] = {
      {"region=7", {3, 1, 1, 7, 0}},
      {"region=7 and flags&3 or age in 10..20", {6, 1, 1, 7, 2, 3, 3, 4, 3, 2, 10, 20, 0}},
      {"a0 != 0x10", {3, 0, kNot, 16, 0}},
      {"age >= 5 AND a4 <= 9", {8, 3, 2, 5, 0xFFFFFFFF, 4, 2, 0, 9, 0}},
      {"flags !& 0xFF Or region NOT in 1..3", {3, 2, kNoBit, 255, 4, 1, kOut, 1, 3, 0}},
      {"age > 4294967295", {3, 3, 4, 4294967295u, 0}},
      {"age<1", {3, 3, kLess, 1, 0}},
      {"region==2 or region = 0X1f", {3, 1, 1, 2, 3, 1, 1, 31, 0}},
      {"a4 in 5..5 and a1 & 0 and a2>0", {10, 4, 2, 5, 5, 1, 3, 0, 2, 4, 0, 0}},
  };
  for (const auto& [textL, wordsL] : casesL) EXPECT_EQ(textM.compile(textL), wordsL) << textL;
}

TEST_F(QueryTextTest, RefusesTheGoldenMistakes) {
  const std::pair<const char*, const char*> casesL[] = {
      {"", "column 1: the query is empty"},
      {"   ", "column 4: the query is empty"},
      {"region",
       "column 7: expected an operator (=, !=, <, >, <=, >=, &, !&, in, not in) after 'region', "
       "found the end of the text"},
      {"region and 3",
       "column 8: expected an operator (=, !=, <, >, <=, >=, &, !&, in, not in) after 'region', "
       "found 'and'"},
      {"regio = 1", "column 1: unknown attribute 'regio'"},
      {"region = 4294967296", "column 10: the number '4294967296' does not fit into 32 bits"},
      {"region = 12ab", "column 10: '12ab' is not a number"},
      {"region = 0x1g", "column 10: '0x1g' is not a number"},
      {"region = 0x", "column 10: '0x' is not a number"},
      {"region in 5..4", "column 11: the range 5..4 is empty"},
      {"region in 5 4", "column 13: expected '..' in the range, found '4'"},
      {"region in 5..", "column 14: expected a number, found the end of the text"},
      {"region not 5", "column 12: expected 'in' after 'not', found '5'"},
      {"region = 1 region = 2", "column 12: expected 'and' or 'or', found 'region'"},
      {"region = 1, flags = 2", "column 11: expected 'and' or 'or', found ','"},
      {"region = 1 and", "column 15: expected an attribute name, found the end of the text"},
      {"region = 1 or or", "column 15: expected an attribute name, found 'or'"},
      {"= 3", "column 1: expected an attribute name, found '='"},
      {"a5 = 1", "column 1: attribute 'a5' is word 5, a record has words 0 to 4"},
      {"a99999999999 = 1", "column 1: unknown attribute 'a99999999999'"},
      {"region = $", "column 10: unexpected character '$'"},
      {"region = flags", "column 10: expected a number, found 'flags'"},
  };
  for (const auto& [textL, reasonL] : casesL) {
    EXPECT_KXXCP_MESSAGE(textM.compile(textL), std::string("Query text, ") + reasonL + ".");
  }
}

TEST_F(QueryTextTest, TextFormReadsBackToTheSameWords) {
  const Words goldenL = {6, 1, 1, 7, 2, 3, 3, 8, 3, 2, 10, 20, 0, kOut, 1, 2, 0};
  EXPECT_EQ(textM.toText(goldenL.data(), goldenL.size()),
            "region = 7 and flags & 3 or age in 10..20 and a0 not in 1..2");
  // Every operator, attribute and clause shape: text and back.
  const unsigned opsL[] = {1, 2, 3, 4, kNot, kOut, kNoBit, kLess};
  std::mt19937 rngL(17);
  for (int n = 0; n < 500; ++n) {
    Words wordsL;
    const int clausesL = 1 + static_cast<int>(rngL() % 3);
    for (int c = 0; c < clausesL; ++c) {
      const std::size_t lengthAtL = wordsL.size();
      wordsL.push_back(0);
      for (int k = 0, conditionsL = 1 + static_cast<int>(rngL() % 3); k < conditionsL; ++k) {
        const unsigned opL = opsL[rngL() % 8];
        wordsL.push_back(rngL() % 5);
        wordsL.push_back(opL);
        const unsigned aL = rngL() % 3 == 0 ? 0xFFFFFFFFu : rngL();
        const unsigned bL = rngL() % 3 == 0 ? 0xFFFFFFFFu : rngL();
        if (QueryLanguage::conditionWidth(opL) == 4) {
          wordsL.push_back(std::min(aL, bL));
          wordsL.push_back(std::max(aL, bL));
        } else {
          wordsL.push_back(aL);
        }
      }
      wordsL[lengthAtL] = static_cast<unsigned>(wordsL.size() - lengthAtL - 1);
    }
    wordsL.push_back(0);
    const std::string textL = textM.toText(wordsL.data(), wordsL.size());
    ASSERT_EQ(textM.compile(textL), wordsL) << textL;
  }
}

TEST_F(QueryTextTest, WordsWithoutTextFormAreRefused) {
  const Words unknownOpL = {3, 1, 1, 7, 3, 2, 77, 1, 0};
  EXPECT_KXXCP_MESSAGE(textM.toText(unknownOpL.data(), unknownOpL.size()),
                       "Query word 6: operator 77 has no text form.");
  const Words nothingL = {0};
  EXPECT_KXXCP_MESSAGE(textM.toText(nothingL.data(), 1),
                       "Query word 0: a query that selects nothing has no text form.");
  const Words cutL = {3, 1, 1, 7};
  EXPECT_KXXCP_MESSAGE(textM.toText(cutL.data(), cutL.size()),
                       "Query word 4: the query ends without its terminating 0.");
  EXPECT_EQ(textM.toText(nullptr, 0), "");
}

TEST_F(QueryTextTest, NamesAreCheckedAndLookedUp) {
  const std::pair<const char*, const char*> badL[] = {
      {"", "does not start with a letter or '_'"},
      {"7up", "does not start with a letter or '_'"},
      {"date-of-birth", "holds a character other than letters, digits and '_'"},
      {"Or", "is a keyword"},
      {"in", "is a keyword"},
      {"a12", "has the form of a word index"},
      {"a0", "has the form of a word index"},
      {"region", "is given twice"},
  };
  for (const auto& [nameL, reasonL] : badL) {
    EXPECT_KXXCP_MESSAGE(QueryText({"region", nameL}),
                         std::string("Query attribute name '") + nameL + "' " + reasonL + ".");
  }
  const QueryText okL({"a", "_x", "a1b", "A1"});
  EXPECT_EQ(okL.attributeIndex("a"), 1);
  EXPECT_EQ(okL.attributeIndex("A1"), 4);
  EXPECT_EQ(okL.attributeIndex("a1"), 1);
  EXPECT_EQ(okL.attributeIndex("a7"), 7);
  EXPECT_EQ(okL.attributeIndex("a0"), 0);
  EXPECT_EQ(okL.attributeIndex("b"), -1);
  EXPECT_EQ(okL.attributeIndex("a1x"), -1);
  EXPECT_EQ(okL.attributeIndex("a4294967296"), -1);
  EXPECT_EQ(okL.attributeName(2), "_x");
  EXPECT_EQ(okL.attributeName(4), "A1");
  EXPECT_EQ(okL.attributeName(5), "a5");
  EXPECT_EQ(okL.attributeName(0), "a0");
}

TEST_F(QueryTextTest, NamesComeFromTheConfiguration) {
  EXPECT_EQ(QueryText::fromConfiguration().names(),
            (std::vector<std::string>{"region", "flags", "age"}));
  RegistryConfig noNamesL{4};
  EXPECT_TRUE(QueryText::fromConfiguration().names().empty());
}

TEST_F(QueryTextTest, AssignmentsSetRecordWords) {
  Words wordsL(5, 1);
  EXPECT_EQ(textM.assign("age=30, a0=0x9 region = 7", wordsL), (Words{3, 0, 1}));
  EXPECT_EQ(wordsL, (Words{9, 7, 1, 30, 1}));
  EXPECT_TRUE(textM.assign("", wordsL).empty());
  EXPECT_KXXCP_MESSAGE(textM.assign("region 7", wordsL),
                       "Query text, column 8: expected '=' after 'region', found '7'.");
  EXPECT_KXXCP_MESSAGE(textM.assign("region=", wordsL),
                       "Query text, column 8: expected a number, found the end of the text.");
  Words shortL(3, 0);
  EXPECT_KXXCP_MESSAGE(
      textM.assign("age=1", shortL),
      "Query text, column 1: attribute 'age' is word 3, a record has words 0 to 2.");
  EXPECT_EQ(shortL, (Words{0, 0, 0}));
}

}  // namespace
}  // namespace qridy
