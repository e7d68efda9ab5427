#include <qrlcore/IniFile.h>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include <sstream>

#include "support/Environment.h"

namespace kxutl {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  static IniFile parse(const std::string& textA) {
    IniFile iniL;
    std::istringstream streamL(textA);
    iniL.read(streamL);
    return iniL;
  }
  static std::string readError(const std::string& textA) {
    IniFile iniL;
    std::istringstream streamL(textA);
    try {
      iniL.read(streamL);
    } catch (const kxxcp::Exception& e) {
      EXPECT_EQ(e.getFunction(), "kxutl::IniFile::read");
      EXPECT_TRUE(iniL.sections().empty()) << "content must be dropped on an error";
      return e.getMessage();
    }
    ADD_FAILURE() << "no exception for: " << textA;
    return "";
  }
};

TEST_F(IniFileTest, SyntaxCommentsBlanksQuotesAndCase) {
  const IniFile iniL = parse(
      "; leading comment\r\n"
      "global = g\n"
      "  [ TEMPLATE_MATCHING ]  \n"
      "\n"
      "   # another comment\n"
      "  faceScoreSize =   42  \r\n"
      "path = C:\\data;with#hash\n"
      "empty =\n"
      "padded = \"  two blanks  \"\n"
      "a = b = c\n"
      "[other]\n"
      "x = 1\n"
      "[template_matching]\n"
      "FACESCORESIZE = 43\n");
  std::string valueL;
  EXPECT_TRUE(iniL.getStdString("", "global", valueL));
  EXPECT_EQ(valueL, "g");
  std::int32_t numberL = 0;
  ASSERT_TRUE(iniL.getZNint32("Template_Matching", "facescoresize", numberL));
  EXPECT_EQ(numberL, 43) << "a repeated section accumulates and a later key wins";
  EXPECT_TRUE(iniL.getStdString("TEMPLATE_MATCHING", "path", valueL));
  EXPECT_EQ(valueL, "C:\\data;with#hash");
  EXPECT_TRUE(iniL.getStdString("TEMPLATE_MATCHING", "empty", valueL));
  EXPECT_EQ(valueL, "");
  EXPECT_TRUE(iniL.getStdString("TEMPLATE_MATCHING", "padded", valueL));
  EXPECT_EQ(valueL, "  two blanks  ");
  EXPECT_TRUE(iniL.getStdString("TEMPLATE_MATCHING", "a", valueL));
  EXPECT_EQ(valueL, "b = c");

  ASSERT_EQ(iniL.sections().size(), 3u);
  EXPECT_EQ(iniL.sections()[1].nameM, "TEMPLATE_MATCHING") << "first spelling is kept";
  EXPECT_EQ(iniL.sections()[1].entriesM.size(), 5u);
  EXPECT_EQ(iniL.sections()[2].nameM, "other");
}

TEST_F(IniFileTest, AbsentKeysLeaveTheOutputAlone) {
  const IniFile iniL = parse("[s]\nk = 5\n");
  std::string textL = "untouched";
  std::int32_t signedL = -7;
  std::uint32_t unsignedL = 7;
  EXPECT_FALSE(iniL.getStdString("s", "missing", textL));
  EXPECT_FALSE(iniL.getZNint32("missing", "k", signedL));
  EXPECT_FALSE(iniL.getZNuint32("", "k", unsignedL));
  EXPECT_EQ(textL, "untouched");
  EXPECT_EQ(signedL, -7);
  EXPECT_EQ(unsignedL, 7u);
  EXPECT_FALSE(IniFile().has("s", "k"));
}

TEST_F(IniFileTest, IntegerRangesAndConversionErrors) {
  const IniFile iniL = parse(
      "[n]\nmin = -2147483648\nmax = +2147483647\nbig = 2147483648\numax = 4294967295\n"
      "neg = -1\ntext = 12abc\nspace = 1 2\n");
  std::int32_t signedL = 0;
  std::uint32_t unsignedL = 0;
  EXPECT_TRUE(iniL.getZNint32("n", "min", signedL));
  EXPECT_EQ(signedL, INT32_MIN);
  EXPECT_TRUE(iniL.getZNint32("n", "max", signedL));
  EXPECT_EQ(signedL, INT32_MAX);
  EXPECT_TRUE(iniL.getZNuint32("n", "umax", unsignedL));
  EXPECT_EQ(unsignedL, UINT32_MAX);

  auto messageL = [&](auto callA) -> std::string {
    try {
      callA();
    } catch (const kxxcp::Exception& e) {
      return e.getMessage();
    }
    return "no exception";
  };
  EXPECT_EQ(messageL([&] { iniL.getZNint32("n", "big", signedL); }),
            "Value of key 'big' in section 'n' of 'stream' is not a 32-bit integer: "
            "'2147483648'.");
  EXPECT_EQ(messageL([&] { iniL.getZNint32("n", "text", signedL); }),
            "Value of key 'text' in section 'n' of 'stream' is not a 32-bit integer: '12abc'.");
  EXPECT_EQ(messageL([&] { iniL.getZNint32("n", "space", signedL); }),
            "Value of key 'space' in section 'n' of 'stream' is not a 32-bit integer: '1 2'.");
  EXPECT_EQ(messageL([&] { iniL.getZNuint32("n", "neg", unsignedL); }),
            "Value of key 'neg' in section 'n' of 'stream' is not an unsigned 32-bit integer: "
            "'-1'.");
  EXPECT_EQ(signedL, INT32_MAX) << "a failed conversion leaves the output alone";
}

TEST_F(IniFileTest, MalformedTextNamesTheLine) {
  EXPECT_EQ(readError("[ok]\nk=1\n[broken\n"),
            "Unterminated section header in line 3 of 'stream': '[broken'.");
  EXPECT_EQ(readError("["), "Unterminated section header in line 1 of 'stream': '['.");
  EXPECT_EQ(readError("[a] trailing\n"),
            "Unterminated section header in line 1 of 'stream': '[a] trailing'.");
  EXPECT_EQ(readError("\n\n[  ]\n"), "Empty section name in line 3 of 'stream'.");
  EXPECT_EQ(readError("[s]\n  = value\n"), "Missing key name in line 2 of 'stream': '= value'.");
  EXPECT_EQ(readError("[s]\r\njust words\r\n"),
            "Invalid line 2 of 'stream' (neither a section header, a key = value pair nor a "
            "comment): 'just words'.");
  EXPECT_EQ(readError(std::string("[s]\nk = 1\n\x01\x02\xff\n", 14)),
            "Invalid line 3 of 'stream' (neither a section header, a key = value pair nor a "
            "comment): '\x01\x02\xff'.");
}

TEST_F(IniFileTest, ReadingAgainReplacesTheContent) {
  IniFile iniL = parse("[a]\nx = 1\n");
  std::istringstream secondL("[b]\ny = 2\n");
  iniL.read(secondL);
  EXPECT_FALSE(iniL.has("a", "x"));
  EXPECT_TRUE(iniL.has("b", "y"));
}

TEST_F(IniFileTest, FilesByPath) {
  quarlen_test::TempDir dirL;
  const std::string goodL = dirL.write("good.ini", "[s]\nk = v\n");
  std::string valueL;
  EXPECT_TRUE(IniFile(goodL).getStdString("s", "k", valueL));
  EXPECT_EQ(valueL, "v");

  const std::string badL = dirL.write("bad.ini", "[s]\nnonsense\n");
  try {
    IniFile iniL(badL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Invalid line 2 of '" + badL +
                                  "' (neither a section header, a key = value pair nor a "
                                  "comment): 'nonsense'.");
  }
  const std::string missingL = dirL.path() + "/missing.ini";
  try {
    IniFile iniL(missingL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Cannot open INI file '" + missingL + "'.");
    EXPECT_EQ(e.getFunction(), "kxutl::IniFile::IniFile");
  }
}

}  // namespace
}  // namespace kxutl
