#include "frame/DomXmlParser.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PanicHandler.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include <qrlcore/Exception.h>

namespace kxutl {
namespace {

using xercesc::DOMNode;

const char* const kOpenError = "Cannot open multipass config file : ";

// Xerces' default panic handler prints and terminates the process; a library must not, so the
// panic becomes the system's exception. Xerces allows a panic handler to throw.
class ThrowingPanicHandler : public xercesc::PanicHandler {
 public:
  void panic(const PanicReasons reasonA) override {
    KXXCP_THROW("kxutl::DomXmlParser::initializePlatform",
                "XML library panic: " << xercesc::PanicHandler::getPanicReasonString(reasonA));
  }
};

ThrowingPanicHandler panicHandlerS;
std::once_flag platformInitS;

void appendUtf8(std::string& outA, char32_t cA) {
  if (cA < 0x80) {
    outA += static_cast<char>(cA);
  } else if (cA < 0x800) {
    outA += static_cast<char>(0xC0 | (cA >> 6));
    outA += static_cast<char>(0x80 | (cA & 0x3F));
  } else if (cA < 0x10000) {
    outA += static_cast<char>(0xE0 | (cA >> 12));
    outA += static_cast<char>(0x80 | ((cA >> 6) & 0x3F));
    outA += static_cast<char>(0x80 | (cA & 0x3F));
  } else {
    outA += static_cast<char>(0xF0 | (cA >> 18));
    outA += static_cast<char>(0x80 | ((cA >> 12) & 0x3F));
    outA += static_cast<char>(0x80 | ((cA >> 6) & 0x3F));
    outA += static_cast<char>(0x80 | (cA & 0x3F));
  }
}

bool isElement(const DOMNode* nodeA) {
  return nodeA != nullptr && nodeA->getNodeType() == DOMNode::ELEMENT_NODE;
}

}  // namespace

// Records whether Xerces reported an error while parsing; Xerces then stops (first fatal error
// ends the scan) and nothing is printed. Also holds the entity-expansion limit, which the parser
// refers to by pointer.
class DomXmlParser::Guards : public xercesc::ErrorHandler {
 public:
  Guards() { securityM.setEntityExpansionLimit(10000); }
  void warning(const xercesc::SAXParseException&) override {}
  void error(const xercesc::SAXParseException&) override { failedM = true; }
  void fatalError(const xercesc::SAXParseException&) override { failedM = true; }
  void resetErrors() override { failedM = false; }

  bool failedM = false;
  xercesc::SecurityManager securityM;
};

void DomXmlParser::initializePlatform() {
  try {
    // call_once re-runs the initialisation on a later call when this one throws.
    std::call_once(platformInitS, [] {
      xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr,
                                            &panicHandlerS);
    });
  } catch (const kxxcp::Exception&) {
    throw;
  } catch (const xercesc::XMLException& e) {
    KXXCP_THROW("kxutl::DomXmlParser::initializePlatform",
                "XML library initialisation failed: " << transcode(e.getMessage()));
  }
}

DomXmlParser::DomXmlParser(std::string pathA) : pathM(std::move(pathA)) {
  initializePlatform();
  // A directory is refused before Xerces sees it: its file source leaks memory on one.
  std::error_code ignoredL;
  if (std::filesystem::is_directory(pathM, ignoredL)) {
    KXXCP_THROW("kxutl::DomXmlParser::DomXmlParser", kOpenError << pathM);
  }
  try {
    const std::u16string pathL = transcode(pathM);
    // A local file source, never a URL: a configuration path is not fetched over a network.
    xercesc::LocalFileInputSource sourceL(pathL.c_str());
    parse(sourceL);
  } catch (...) {
    documentM = nullptr;
  }
  if (documentM == nullptr) {
    KXXCP_THROW("kxutl::DomXmlParser::DomXmlParser", kOpenError << pathM);
  }
}

DomXmlParser::DomXmlParser(FromText, const std::string& xmlTextA, std::string nameA)
    : pathM(std::move(nameA)) {
  initializePlatform();
  try {
    xercesc::MemBufInputSource sourceL(reinterpret_cast<const XMLByte*>(xmlTextA.data()),
                                       xmlTextA.size(), pathM.c_str());
    parse(sourceL);
  } catch (...) {
    documentM = nullptr;
  }
  if (documentM == nullptr) {
    KXXCP_THROW("kxutl::DomXmlParser::DomXmlParser", kOpenError << pathM);
  }
}

DomXmlParser::~DomXmlParser() = default;

// Leaves documentM null unless the whole source parsed without error. May throw whatever Xerces
// throws (XMLException, DOMException, OutOfMemoryException); the constructors catch it.
void DomXmlParser::parse(const xercesc::InputSource& sourceA) {
  documentM = nullptr;
  guardsM = std::make_unique<Guards>();
  parserM = std::make_unique<xercesc::XercesDOMParser>();
  parserM->setErrorHandler(guardsM.get());
  parserM->setLoadExternalDTD(false);
  parserM->setDisableDefaultEntityResolution(true);
  parserM->setSecurityManager(&guardsM->securityM);
  parserM->parse(sourceA);
  if (!guardsM->failedM && parserM->getErrorCount() == 0) {
    documentM = parserM->getDocument();
  }
}

xercesc::DOMNodeList* DomXmlParser::getRootNodeList() const {
  xercesc::DOMElement* rootL = documentM ? documentM->getDocumentElement() : nullptr;
  if (rootL == nullptr) {
    KXXCP_THROW("kxutl::DomXmlParser::getRootNodeList",
                "Internal object is not null. File parse error.");
  }
  return rootL->getChildNodes();
}

std::string DomXmlParser::getNodeName(const DOMNode* nodeA) {
  return nodeA ? transcode(nodeA->getNodeName()) : std::string();
}

std::string DomXmlParser::getTextContent(const DOMNode* nodeA) {
  std::string textL;
  if (nodeA == nullptr) return textL;
  // Depth-first walk by sibling and parent links, stopping when we are back at nodeA.
  const DOMNode* currentL = nodeA->getFirstChild();
  while (currentL != nullptr) {
    const auto typeL = currentL->getNodeType();
    if (typeL == DOMNode::TEXT_NODE || typeL == DOMNode::CDATA_SECTION_NODE) {
      textL += transcode(currentL->getNodeValue());
    }
    if (currentL->getFirstChild() != nullptr) {
      currentL = currentL->getFirstChild();
      continue;
    }
    while (currentL != nodeA && currentL->getNextSibling() == nullptr) {
      currentL = currentL->getParentNode();
    }
    currentL = currentL == nodeA ? nullptr : currentL->getNextSibling();
  }
  return textL;
}

std::string DomXmlParser::getAttributeString(const DOMNode* nodeA, const std::string& nameA,
                                             std::string& errorA) {
  std::string valueL;
  if (isElement(nodeA)) {
    const std::u16string nameL = transcode(nameA);
    valueL = transcode(static_cast<const xercesc::DOMElement*>(nodeA)->getAttribute(nameL.c_str()));
  }
  if (valueL.empty()) {
    errorA += "attribute not found or empty: " + nameA + "\n";
  }
  return valueL;
}

int DomXmlParser::getAttributeInt(const DOMNode* nodeA, const std::string& nameA,
                                  std::string& errorA) {
  const std::string textL = getAttributeString(nodeA, nameA, errorA);
  // strtol rather than atoi: the same digits, but defined behaviour for out-of-range values.
  const long valueL = std::strtol(textL.c_str(), nullptr, 10);
  if (valueL > INT_MAX) return INT_MAX;
  if (valueL < INT_MIN) return INT_MIN;
  return static_cast<int>(valueL);
}

std::string DomXmlParser::transcode(const XMLCh* textA) {
  std::string outL;
  if (textA == nullptr) return outL;
  for (const XMLCh* p = textA; *p != 0; ++p) {
    char32_t cL = *p;
    if (cL >= 0xD800 && cL <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      cL = 0x10000 + ((cL - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (cL >= 0xD800 && cL <= 0xDFFF) {
      cL = 0xFFFD;  // unpaired surrogate
    }
    appendUtf8(outL, cL);
  }
  return outL;
}

std::u16string DomXmlParser::transcode(const std::string& textA) {
  std::u16string outL;
  outL.reserve(textA.size());
  const auto* p = reinterpret_cast<const unsigned char*>(textA.data());
  const auto* endL = p + textA.size();
  while (p < endL) {
    const unsigned char leadL = *p++;
    char32_t cL = leadL;
    int moreL = 0;
    if (leadL >= 0xF0 && leadL < 0xF8) {
      cL = leadL & 0x07;
      moreL = 3;
    } else if (leadL >= 0xE0) {
      cL = leadL & 0x0F;
      moreL = leadL < 0xF0 ? 2 : -1;
    } else if (leadL >= 0xC0) {
      cL = leadL & 0x1F;
      moreL = 1;
    } else if (leadL >= 0x80) {
      moreL = -1;
    }
    // The smallest code point that needs 1 + moreL bytes; less is an overlong form.
    static constexpr char32_t kLeastOfLength[] = {0, 0x80, 0x800, 0x10000};
    for (int i = 0; i < moreL; ++i) {
      if (p == endL || (*p & 0xC0) != 0x80) {
        moreL = -1;
        break;
      }
      cL = (cL << 6) | (*p++ & 0x3F);
    }
    // Malformed sequences, overlong forms and code points outside Unicode become the
    // replacement character; 8-bit text that is not UTF-8 therefore survives as readable, if
    // lossy, text.
    if (moreL < 0 || cL < kLeastOfLength[moreL] || cL > 0x10FFFF ||
        (cL >= 0xD800 && cL <= 0xDFFF)) {
      cL = 0xFFFD;
    }
    if (cL >= 0x10000) {
      cL -= 0x10000;
      outL += static_cast<char16_t>(0xD800 + (cL >> 10));
      outL += static_cast<char16_t>(0xDC00 + (cL & 0x3FF));
    } else {
      outL += static_cast<char16_t>(cL);
    }
  }
  return outL;
}

}  // namespace kxutl
