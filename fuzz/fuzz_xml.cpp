// Hostile XML into the configuration reader: every input either parses or ends in the
// kxxcp::Exception of the reader; any other exception, crash or leak is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include <qrlcore/Exception.h>
#include <xercesc/dom/DOMNodeList.hpp>

#include "frame/DomXmlParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  const std::string textL(reinterpret_cast<const char*>(dataA), sizeA);
  try {
    kxutl::DomXmlParser parserL(kxutl::DomXmlParser::FromText{}, textL, "fuzz.xml");
    const xercesc::DOMNodeList* listL = parserL.getRootNodeList();
    std::string errorsL;
    for (XMLSize_t i = 0; i < listL->getLength(); ++i) {
      const xercesc::DOMNode* nodeL = listL->item(i);
      kxutl::DomXmlParser::getNodeName(nodeL);
      kxutl::DomXmlParser::getTextContent(nodeL);
      kxutl::DomXmlParser::getAttributeString(nodeL, "id", errorsL);
      kxutl::DomXmlParser::getAttributeInt(nodeL, "resultLengthMax", errorsL);
    }
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
