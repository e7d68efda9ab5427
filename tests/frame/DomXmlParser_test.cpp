#include "frame/DomXmlParser.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <xercesc/dom/DOMElement.hpp>

#include "support/Environment.h"

namespace kxutl {
namespace {

using xercesc::DOMNode;

class DomXmlParserTest : public ::testing::Test {
 protected:
  // The element children of the root, in document order.
  static std::vector<const DOMNode*> elements(const DomXmlParser& parserA) {
    std::vector<const DOMNode*> outL;
    const xercesc::DOMNodeList* listL = parserA.getRootNodeList();
    for (XMLSize_t i = 0; i < listL->getLength(); ++i) {
      if (listL->item(i)->getNodeType() == DOMNode::ELEMENT_NODE) outL.push_back(listL->item(i));
    }
    return outL;
  }

  static std::string openError(const std::string& xmlA) {
    testing::internal::CaptureStderr();
    std::string messageL = "no exception";
    try {
      DomXmlParser parserL(DomXmlParser::FromText{}, xmlA, "mem.xml");
    } catch (const kxxcp::Exception& e) {
      messageL = e.getMessage();
      EXPECT_EQ(e.getFunction(), "kxutl::DomXmlParser::DomXmlParser");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the parser must not print";
    return messageL;
  }

  quarlen_test::TempDir dirM;
};

TEST_F(DomXmlParserTest, MissingAttributeLeavesExactlyOneLine) {
  const std::string pathL = dirM.write("def.xml", "<root>\n  <file id=\"7\"/>\n</root>\n");
  DomXmlParser parserL(pathL);
  const auto elementsL = elements(parserL);
  ASSERT_EQ(elementsL.size(), 1u);
  EXPECT_EQ(DomXmlParser::getNodeName(elementsL[0]), "file");

  std::string errorL;
  EXPECT_EQ(DomXmlParser::getAttributeString(elementsL[0], "id", errorL), "7");
  EXPECT_EQ(DomXmlParser::getAttributeString(elementsL[0], "path", errorL), "");
  EXPECT_EQ(errorL, "attribute not found or empty: path\n");
}

TEST_F(DomXmlParserTest, IntegerAttributesReadLikeAtoi) {
  DomXmlParser parserL(DomXmlParser::FromText{},
                       "<r><e a=\"12ab\" b=\"  -40\" c=\"x1\" d=\"\" e=\"99999999999999\" "
                       "f=\"-99999999999999\" g=\"+3.9\"/></r>",
                       "mem");
  const DOMNode* e = elements(parserL).at(0);
  std::string errorL;
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "a", errorL), 12);
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "b", errorL), -40);
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "c", errorL), 0);
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "e", errorL), 2147483647);
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "f", errorL), -2147483647 - 1);
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "g", errorL), 3);
  EXPECT_EQ(errorL, "");
  // An empty attribute and a missing one both read as 0 and are both reported.
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "d", errorL), 0);
  EXPECT_EQ(DomXmlParser::getAttributeInt(e, "zz", errorL), 0);
  EXPECT_EQ(errorL, "attribute not found or empty: d\nattribute not found or empty: zz\n");
}

TEST_F(DomXmlParserTest, NonElementNodesHaveNoAttributes) {
  DomXmlParser parserL(DomXmlParser::FromText{}, "<r>text<!-- c --><e/></r>", "mem");
  const xercesc::DOMNodeList* listL = parserL.getRootNodeList();
  ASSERT_EQ(listL->getLength(), 3u);
  EXPECT_EQ(DomXmlParser::getNodeName(listL->item(0)), "#text");
  EXPECT_EQ(DomXmlParser::getNodeName(listL->item(1)), "#comment");
  EXPECT_EQ(DomXmlParser::getNodeName(nullptr), "");
  std::string errorL;
  EXPECT_EQ(DomXmlParser::getAttributeString(listL->item(0), "id", errorL), "");
  EXPECT_EQ(DomXmlParser::getAttributeString(nullptr, "id", errorL), "");
  EXPECT_EQ(errorL, "attribute not found or empty: id\nattribute not found or empty: id\n");
}

TEST_F(DomXmlParserTest, UnreadableFilesThrowTheOpenMessage) {
  const std::string missingL = (dirM.path() + "/" + "absent.xml");
  try {
    DomXmlParser parserL(missingL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Cannot open multipass config file : " + missingL);
  }
  EXPECT_THROW(DomXmlParser parserL(dirM.path()), kxxcp::Exception);  // a directory

  const std::string brokenL = dirM.write("broken.xml", "<root><stage></root>");
  try {
    DomXmlParser parserL(brokenL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Cannot open multipass config file : " + brokenL);
  }
}

TEST_F(DomXmlParserTest, MalformedDocumentsThrowSilently) {
  const std::string expectedL = "Cannot open multipass config file : mem.xml";
  EXPECT_EQ(openError(""), expectedL);
  EXPECT_EQ(openError("<r>"), expectedL);
  EXPECT_EQ(openError("<r></s>"), expectedL);
  EXPECT_EQ(openError("<r a=\"1\" a=\"2\"/>"), expectedL);
  EXPECT_EQ(openError("<r>&undefined;</r>"), expectedL);
  EXPECT_EQ(openError("<r/><r/>"), expectedL);
  EXPECT_EQ(openError(std::string("<r>\0</r>", 8)), expectedL);
  EXPECT_EQ(openError("<r>&#xD800;</r>"), expectedL);
}

TEST_F(DomXmlParserTest, ExternalEntitiesAreRefused) {
  const std::string secretL = dirM.write("secret.txt", "SECRET");
  EXPECT_EQ(
      openError("<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secretL + "\">]><r><e>&x;</e></r>"),
      "Cannot open multipass config file : mem.xml");
  // An external DTD is not read at all (it is not XML, so reading it would fail).
  DomXmlParser parserL(DomXmlParser::FromText{},
                       "<!DOCTYPE r SYSTEM \"" + secretL + "\"><r><e/></r>", "mem.xml");
  EXPECT_EQ(elements(parserL).size(), 1u);
}

TEST_F(DomXmlParserTest, EntityExpansionIsBounded) {
  std::string xmlL = "<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int i = 1; i < 10; ++i) {
    xmlL += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) xmlL += "&a" + std::to_string(i - 1) + ";";
    xmlL += "\">";
  }
  xmlL += "]><r>&a9;</r>";
  EXPECT_EQ(openError(xmlL), "Cannot open multipass config file : mem.xml");
}

TEST_F(DomXmlParserTest, TextContentJoinsNestedTextWithoutRecursion) {
  DomXmlParser parserL(DomXmlParser::FromText{},
                       "<r><stage>[Additional]\n<x>a<y>b</y></x><![CDATA[<c>]]><!--no-->"
                       "</stage><e/></r>",
                       "mem");
  const auto elementsL = elements(parserL);
  EXPECT_EQ(DomXmlParser::getTextContent(elementsL[0]), "[Additional]\nab<c>");
  EXPECT_EQ(DomXmlParser::getTextContent(elementsL[1]), "");

  const int depthL = 20000;
  std::string deepL = "<r><s>";
  for (int i = 0; i < depthL; ++i) deepL += "<d>";
  deepL += "z";
  for (int i = 0; i < depthL; ++i) deepL += "</d>";
  deepL += "t</s></r>";
  DomXmlParser deepParserL(DomXmlParser::FromText{}, deepL, "deep");
  EXPECT_EQ(DomXmlParser::getTextContent(elements(deepParserL).at(0)), "zt");
}

// Every code point where the UTF-8 length changes, with its bytes and its UTF-16 units written
// out by hand.
TEST_F(DomXmlParserTest, TranscodingAtTheUtf8LengthBoundaries) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case casesL[] = {
      {std::string("\x01"), u"\x0001"},                     // U+0001, 1 byte
      {std::string("\x7F"), u"\x007F"},                     // U+007F, last of 1 byte
      {std::string("\xC2\x80"), u"\x0080"},                 // U+0080, first of 2 bytes
      {std::string("\xDF\xBF"), u"\x07FF"},                 // U+07FF, last of 2 bytes
      {std::string("\xE0\xA0\x80"), u"\x0800"},             // U+0800, first of 3 bytes
      {std::string("\xED\x9F\xBF"), u"\xD7FF"},             // U+D7FF, below the surrogates
      {std::string("\xEE\x80\x80"), u"\xE000"},             // U+E000, above the surrogates
      {std::string("\xEF\xBF\xBF"), u"\xFFFF"},             // U+FFFF, last of 3 bytes
      {std::string("\xF0\x90\x80\x80"), {0xD800, 0xDC00}},  // U+10000, first of 4 bytes
      {std::string("\xF4\x8F\xBF\xBF"), {0xDBFF, 0xDFFF}},  // U+10FFFF, last of Unicode
  };
  for (const Case& c : casesL) {
    EXPECT_EQ(DomXmlParser::transcode(c.utf8), c.utf16) << c.utf8.size() << " bytes";
    EXPECT_EQ(DomXmlParser::transcode(c.utf16.c_str()), c.utf8) << c.utf8.size() << " bytes";
  }
  // One past the ends: beyond Unicode, surrogates, and every overlong form (a code point in
  // more bytes than it needs) are each one replacement character.
  for (const std::string& badL : {std::string("\xF4\x90\x80\x80"),  // U+110000
                                  std::string("\xED\xA0\x80"),      // U+D800
                                  std::string("\xED\xBF\xBF"),      // U+DFFF
                                  std::string("\xC1\xBF"),          // U+007F in 2 bytes
                                  std::string("\xC0\x80"),          // U+0000 in 2 bytes
                                  std::string("\xE0\x9F\xBF"),      // U+07FF in 3 bytes
                                  std::string("\xF0\x8F\xBF\xBF"),  // U+FFFF in 4 bytes
                                  std::string("\xF8\x88\x80\x80\x80")}) {
    const std::u16string outL = DomXmlParser::transcode(badL);
    ASSERT_FALSE(outL.empty());
    EXPECT_EQ(outL[0], u'\xFFFD') << badL.size() << " bytes";
    EXPECT_EQ(outL.find_first_not_of(u'\xFFFD'), std::u16string::npos);
  }
  EXPECT_EQ(DomXmlParser::transcode(std::string("\xC1\xBF")), u"\xFFFD");
  EXPECT_EQ(DomXmlParser::transcode(std::string("\xF0\x8F\xBF\xBF")), u"\xFFFD");
  // The surrogate range in UTF-16: a pair is one 4-byte character, lone halves are replaced.
  const char16_t lowFirstL[] = {0xDC00, 0xD800, 0};
  EXPECT_EQ(DomXmlParser::transcode(lowFirstL), "\xEF\xBF\xBD\xEF\xBF\xBD");
  const char16_t edgesL[] = {0xD7FF, 0xE000, 0};
  EXPECT_EQ(DomXmlParser::transcode(edgesL), "\xED\x9F\xBF\xEE\x80\x80");
}

TEST_F(DomXmlParserTest, TranscodingKeepsUtf8AndReplacesMalformedBytes) {
  const std::string textL = "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";
  EXPECT_EQ(DomXmlParser::transcode(DomXmlParser::transcode(textL).c_str()), textL);
  EXPECT_EQ(DomXmlParser::transcode(std::string("a\xFF"
                                                "b")),
            u"a\uFFFDb");
  EXPECT_EQ(DomXmlParser::transcode(std::string("\xE2\x82")), u"\uFFFD");
  const char16_t loneL[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(DomXmlParser::transcode(loneL), "x\xEF\xBF\xBDy");
  EXPECT_EQ(DomXmlParser::transcode(static_cast<const XMLCh*>(nullptr)), "");

  DomXmlParser parserL(DomXmlParser::FromText{}, "<r><e name=\"gr\xC3\xBC\xC3\x9F\"/></r>", "mem");
  std::string errorL;
  EXPECT_EQ(DomXmlParser::getAttributeString(elements(parserL).at(0), "name", errorL),
            "gr\xC3\xBC\xC3\x9F");
}

TEST_F(DomXmlParserTest, ParsersMayBeCreatedOnSeveralThreads) {
  std::vector<std::thread> threadsL;
  std::vector<int> countsL(4, -1);
  for (int t = 0; t < 4; ++t) {
    threadsL.emplace_back([t, &countsL] {
      DomXmlParser parserL(DomXmlParser::FromText{}, "<r><a/><b/></r>", "mem");
      countsL[t] = static_cast<int>(parserL.getRootNodeList()->getLength());
    });
  }
  for (auto& th : threadsL) th.join();
  EXPECT_EQ(countsL, std::vector<int>(4, 2));
}

}  // namespace
}  // namespace kxutl
