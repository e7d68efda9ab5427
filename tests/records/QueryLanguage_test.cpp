#include <quarlen/QueryLanguage.h>

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

#include "metadata/CompiledQuery.h"
#include "support/ExceptionMatchers.h"
#include "support/RegistryConfig.h"

namespace qridy {
namespace {

using quarlen_test::RegistryConfig;
using Words = std::vector<unsigned int>;

class QueryLanguageTest : public ::testing::Test {
 protected:
  RegistryConfig configM{4};

  // A record with attributes 1 .. 4 as given and word 0 = 99.
  static QueryLanguage record(unsigned a1, unsigned a2, unsigned a3, unsigned a4) {
    QueryLanguage qL;
    const unsigned int valuesL[] = {a1, a2, a3, a4};
    qL.setAttributes(99, valuesL);
    return qL;
  }
};

TEST_F(QueryLanguageTest, OperatorsOnOneAttribute) {
  struct Case {
    unsigned op, low, high, value;
    bool holds;
  };
  // Golden table: attribute 1 holds `value`.
  const Case casesL[] = {
      {1, 10, 0, 10, true},
      {1, 10, 0, 11, false},
      {2, 10, 20, 10, true},
      {2, 10, 20, 20, true},
      {2, 10, 20, 9, false},
      {2, 10, 20, 21, false},
      {3, 6, 0, 2, true},
      {3, 6, 0, 9, false},
      {4, 7, 0, 8, true},
      {4, 7, 0, 7, false},
      {0xFFFFFFFF, 7, 0, 8, true},
      {0xFFFFFFFF, 7, 0, 7, false},
      {0xFFFFFFFE, 10, 20, 9, true},
      {0xFFFFFFFE, 10, 20, 21, true},
      {0xFFFFFFFE, 10, 20, 10, false},
      {0xFFFFFFFE, 10, 20, 20, false},
      {0xFFFFFFFD, 6, 0, 9, true},
      {0xFFFFFFFD, 6, 0, 2, false},
      {0xFFFFFFFC, 7, 0, 6, true},
      {0xFFFFFFFC, 7, 0, 7, false},
      {4, 0x7FFFFFFF, 0, 0x80000000u, true},  // unsigned comparison
      {5, 7, 0, 7, false},
      {0, 7, 0, 7, false},
  };
  for (const Case& cL : casesL) {
    const bool rangeL = cL.op == 2 || cL.op == 0xFFFFFFFE;
    const Words queryL =
        rangeL ? Words{4, 1, cL.op, cL.low, cL.high, 0} : Words{3, 1, cL.op, cL.low, 0};
    EXPECT_EQ(record(cL.value, 0, 0, 0).matchesQuery(queryL.data()), cL.holds)
        << "op " << cL.op << " value " << cL.value;
  }
}

TEST_F(QueryLanguageTest, ClausesAndFraming) {
  const QueryLanguage rL = record(7, 25, 2, 0);
  EXPECT_TRUE(rL.matchesQuery(nullptr));
  EXPECT_FALSE(rL.matchesQuery(Words{0}.data()));
  EXPECT_TRUE(rL.matchesQuery(Words{3, 1, 1, 7, 0}.data()));
  // attribute 2 in 10 .. 20, or attribute 3 has bit 0 or 1: the second clause holds.
  const Words twoL{4, 2, 2, 10, 20, 3, 3, 3, 3, 0};
  EXPECT_TRUE(rL.matchesQuery(twoL.data()));
  EXPECT_FALSE(record(7, 25, 4, 0).matchesQuery(twoL.data()));
  // AND inside a clause.
  EXPECT_TRUE(rL.matchesQuery(Words{6, 1, 1, 7, 2, 4, 24, 0}.data()));
  EXPECT_FALSE(rL.matchesQuery(Words{6, 1, 1, 7, 2, 4, 25, 0}.data()));
  // Attribute index 0 is the record's own word; an index above N fails the clause.
  EXPECT_TRUE(rL.matchesQuery(Words{3, 0, 1, 99, 0}.data()));
  EXPECT_FALSE(rL.matchesQuery(Words{3, 5, 0xFFFFFFFF, 1, 0}.data()));
  // A clause whose length cuts its condition fails; the next clause is found by the length.
  EXPECT_TRUE(rL.matchesQuery(Words{2, 1, 1, 3, 1, 1, 7, 0}.data()));
  EXPECT_FALSE(rL.matchesQuery(Words{3, 1, 2, 7, 0}.data()));  // range op needs 4 words
  // An unknown operator fails only its own clause.
  EXPECT_TRUE(rL.matchesQuery(Words{3, 1, 5, 7, 3, 1, 1, 7, 0}.data()));
}

TEST_F(QueryLanguageTest, ProbeQuerySize) {
  EXPECT_EQ(QueryLanguage::getProbeQuerySize(nullptr), 0u);
  EXPECT_EQ(QueryLanguage::getProbeQuerySize(Words{0}.data()), 1u);
  EXPECT_EQ(QueryLanguage::getProbeQuerySize(Words{3, 1, 1, 7, 0}.data()), 5u);
  EXPECT_EQ(QueryLanguage::getProbeQuerySize(Words{4, 2, 2, 10, 20, 3, 3, 3, 3, 0}.data()), 10u);
}

TEST_F(QueryLanguageTest, MatchesAttributeIsOneConjunction) {
  struct Probe : QueryLanguage {
    using QueryLanguage::matchesAttribute;
  };
  Probe pL;
  const unsigned int valuesL[] = {7, 25, 2, 0};
  pL.setAttributes(0, valuesL);
  const Words conditionsL{1, 1, 7, 2, 2, 20, 30};
  EXPECT_TRUE(pL.matchesAttribute(conditionsL.data(), 0));
  EXPECT_TRUE(pL.matchesAttribute(conditionsL.data(), 7));
  EXPECT_FALSE(pL.matchesAttribute(Words{1, 1, 8}.data(), 3));
}

TEST_F(QueryLanguageTest, SetAttributesAndCopies) {
  QueryLanguage qL;
  const unsigned int valuesL[] = {1, 2, 3, 4};
  qL.setAttributes(0x1234567890ull, valuesL);
  EXPECT_EQ(qL.attributes()[0], 0x34567890u);
  EXPECT_EQ(Words(qL.attributes() + 1, qL.attributes() + 5), (Words{1, 2, 3, 4}));
  qL.setAttributes(5, nullptr);
  EXPECT_EQ(qL.attributes()[0], 0x34567890u);
  const QueryLanguage copyL(qL);
  QueryLanguage assignedL;
  assignedL = qL;
  EXPECT_EQ(Words(copyL.attributes(), copyL.attributes() + 5),
            Words(qL.attributes(), qL.attributes() + 5));
  EXPECT_EQ(Words(assignedL.attributes(), assignedL.attributes() + 5),
            Words(qL.attributes(), qL.attributes() + 5));
}

TEST_F(QueryLanguageTest, StreamFormIsLittleEndianWords) {
  const QueryLanguage rL = record(1, 0x01020304, 0, 0xFFFFFFFF);
  std::ostringstream osL;
  rL.writePredefinedSize(osL);
  const std::string goldenL(
      "\x63\0\0\0"
      "\x01\0\0\0"
      "\x04\x03\x02\x01"
      "\0\0\0\0"
      "\xFF\xFF\xFF\xFF",
      20);
  EXPECT_EQ(osL.str(), goldenL);
  QueryLanguage backL;
  std::istringstream isL(goldenL);
  backL.readPredefinedSize(isL);
  EXPECT_EQ(Words(backL.attributes(), backL.attributes() + 5),
            Words(rL.attributes(), rL.attributes() + 5));
  std::istringstream shortL(goldenL.substr(0, 19));
  EXPECT_KXXCP_MESSAGE(backL.readPredefinedSize(shortL),
                       "Cannot read QueryLanguage: the stream ends early.");
}

TEST(QueryLanguageSize, LimitsFollowTheConfiguredBlockSize) {
  RegistryConfig configL(4, 1044);
  EXPECT_NO_THROW(QueryLanguage::setAttributeSize(256));
  EXPECT_EQ(QueryLanguage::attributeSize(), 256u);
  EXPECT_KXXCP_MESSAGE(QueryLanguage::setAttributeSize(257),
                       "number of attributes in QueryLanguage::setAttributeSize 257 greater than "
                       "256");
  {
    const QueryLanguage aliveL;
    EXPECT_EQ(QueryLanguage::attributeSize(), 256u);
    EXPECT_KXXCP_MESSAGE(QueryLanguage::setAttributeSize(3),
                         "number of attributes cannot be changed after creating objects.");
  }
  EXPECT_NO_THROW(QueryLanguage::setAttributeSize(3));
}

TEST(QueryLanguageSize, BlockTooSmallForAnyAttribute) {
  RegistryConfig configL(0, 20);
  EXPECT_NO_THROW(QueryLanguage::setAttributeSize(0));
  kxutl::QuarlenInformation::setConfigFile(configL.dir().write("small.ini",
                                                               "[MAX_TEMPLATE_SIZE]\n"
                                                               "QueryLanguage = 17\n"));
  EXPECT_KXXCP_MESSAGE(QueryLanguage::setAttributeSize(0),
                       "number of attributes in QueryLanguage::setAttributeSize 0 greater than -1");
}

TEST_F(QueryLanguageTest, ValidateQueryNamesTheWord) {
  EXPECT_NO_THROW(QueryLanguage::validateQuery(nullptr, 0));
  EXPECT_NO_THROW(QueryLanguage::validateQuery(Words{0}.data(), 1));
  const Words goodL{4, 2, 2, 10, 20, 3, 3, 3, 3, 0};
  EXPECT_NO_THROW(QueryLanguage::validateQuery(goodL.data(), goodL.size()));
  EXPECT_NO_THROW(QueryLanguage::validateQuery(Words{3, 4, 9, 1, 0}.data(), 5));  // unknown op
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(goodL.data(), 9),
                       "Query word 9: the query ends without its terminating 0.");
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(goodL.data(), 0),
                       "Query word 0: the query ends without its terminating 0.");
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(Words{3, 1, 1, 7}.data(), 4),
                       "Query word 4: the query ends without its terminating 0.");
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(Words{5, 1, 1, 7, 0}.data(), 5),
                       "Query word 0: clause length 5 runs past the end of the query (5 words).");
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(Words{3, 1, 1, 7, 3, 1, 2, 7, 0}.data(), 9),
                       "Query word 5: the condition needs 4 words, its clause has 3 left.");
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(Words{4, 1, 1, 7, 1, 0}.data(), 6),
                       "Query word 4: the condition needs 3 words, its clause has 1 left.");
  EXPECT_KXXCP_MESSAGE(QueryLanguage::validateQuery(Words{3, 5, 1, 7, 0}.data(), 5),
                       "Query word 1: attribute index 5 is greater than the number of "
                       "attributes 4.");
  EXPECT_NO_THROW(QueryLanguage::validateQuery(Words{3, 4, 1, 7, 0}.data(), 5));
}

// The decoded form must answer exactly as the word-by-word evaluation, on queries with broken
// framing, unknown operators and indexes beyond the record.
TEST_F(QueryLanguageTest, CompiledQueryAgreesWithTheWords) {
  std::mt19937 rngL(11);
  const auto smallL = [&](unsigned nA) { return static_cast<unsigned>(rngL() % nA); };
  const unsigned opsL[] = {1, 2, 3, 4, 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC, 5, 0};
  for (int round = 0; round < 3000; ++round) {
    Words queryL;
    const unsigned clausesL = 1 + smallL(3);
    for (unsigned c = 0; c < clausesL; ++c) {
      Words clauseL;
      const unsigned conditionsL = smallL(3);
      for (unsigned k = 0; k < conditionsL; ++k) {
        const unsigned opL = opsL[smallL(10)];
        clauseL.insert(clauseL.end(), {smallL(6), opL, smallL(8)});
        if (opL == 2 || opL == 0xFFFFFFFE || smallL(5) == 0) clauseL.push_back(smallL(8));
      }
      if (!clauseL.empty() && smallL(6) == 0) clauseL.pop_back();  // framing off by one
      queryL.push_back(static_cast<unsigned>(clauseL.size()));
      queryL.insert(queryL.end(), clauseL.begin(), clauseL.end());
      if (clauseL.empty()) break;
    }
    queryL.push_back(0);
    const QueryLanguage rL = record(smallL(8), smallL(8), smallL(8), smallL(8));
    const CompiledQuery compiledL(queryL.data(), QueryLanguage::attributeSize());
    ASSERT_EQ(compiledL.matches(rL.attributes()), rL.matchesQuery(queryL.data()))
        << "round " << round;
  }
}

}  // namespace
}  // namespace qridy
