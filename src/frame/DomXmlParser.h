#pragma once

#include <memory>
#include <string>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/sax/InputSource.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class XercesDOMParser;
XERCES_CPP_NAMESPACE_END

namespace kxutl {

// Reads one XML configuration file into a DOM document and reads attributes of its elements.
// Attribute readers collect errors instead of throwing, so that a caller can read every attribute
// of a definition and report all missing ones at once.
//
// The parser owns the document: nodes handed out by getRootNodeList() and below live as long as
// the DomXmlParser. Not copyable. Parsing is hardened for user-edited files: no external DTD or
// entity is loaded, entity expansion is bounded, and no parse diagnostic is printed; any parse
// error turns into the "Cannot open multipass config file : " exception.
class DomXmlParser {
 public:
  // Parses the file at pathA. Throws kxxcp::Exception "Cannot open multipass config file : "
  // followed by the path when the file cannot be opened or is not a well-formed document.
  explicit DomXmlParser(std::string pathA);

  // Parses xmlTextA (the bytes of a document) as if it were a file named nameA; errors name
  // nameA. Shares everything with the file constructor; for readers of in-memory configurations.
  struct FromText {};
  DomXmlParser(FromText, const std::string& xmlTextA, std::string nameA);

  ~DomXmlParser();
  DomXmlParser(const DomXmlParser&) = delete;
  DomXmlParser& operator=(const DomXmlParser&) = delete;

  // The child nodes of the document's root element in document order (elements, text and
  // comments alike). Owned by the document. Throws "Internal object is not null. File parse
  // error." when no document is held.
  xercesc::DOMNodeList* getRootNodeList() const;

  // The name of nodeA as 8-bit (UTF-8) text; empty for a null node.
  static std::string getNodeName(const xercesc::DOMNode* nodeA);

  // The concatenated text of every text and CDATA node below nodeA, in document order (the DOM
  // text content), without recursion so that deeply nested input cannot exhaust the stack.
  static std::string getTextContent(const xercesc::DOMNode* nodeA);

  // The value of attribute nameA of element nodeA. When the attribute is missing or empty (or
  // nodeA is no element) the answer is empty and "attribute not found or empty: " + nameA + "\n"
  // is appended to errorA.
  static std::string getAttributeString(const xercesc::DOMNode* nodeA, const std::string& nameA,
                                        std::string& errorA);
  // getAttributeString converted like atoi: leading blanks, optional sign, digits; anything
  // else ends the number ("12ab" reads as 12, "ab" as 0). Values beyond the int range saturate.
  static int getAttributeInt(const xercesc::DOMNode* nodeA, const std::string& nameA,
                             std::string& errorA);

  // Conversions between Xerces' UTF-16 strings and 8-bit (UTF-8) text. Null gives empty text.
  static std::string transcode(const XMLCh* textA);
  static std::u16string transcode(const std::string& textA);

  // Initialises the XML library once per process (safe to call from several threads at once).
  // Throws kxxcp::Exception when the library cannot be initialised.
  static void initializePlatform();

 private:
  class Guards;  // error collector and entity limits, kept alive with the parser
  void parse(const xercesc::InputSource& sourceA);

  std::string pathM;
  std::unique_ptr<Guards> guardsM;
  std::unique_ptr<xercesc::XercesDOMParser> parserM;
  xercesc::DOMDocument* documentM = nullptr;  // owned by parserM
};

}  // namespace kxutl
