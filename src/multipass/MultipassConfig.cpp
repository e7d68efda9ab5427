#include <quarlen/MultipassConfig.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>

#include <qrlcore/Exception.h>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "frame/DomXmlParser.h"

namespace qrbase {
namespace {

using kxutl::DomXmlParser;
using xercesc::DOMNode;

const char* const kReadFunction = "qrbase::MultipassConfig::read";

// atoi semantics with defined behaviour beyond the int range (saturation).
int toInt(const std::string& textA) {
  const long valueL = std::strtol(textA.c_str(), nullptr, 10);
  if (valueL > INT_MAX) return INT_MAX;
  if (valueL < INT_MIN) return INT_MIN;
  return static_cast<int>(valueL);
}

float toFloat(const std::string& textA) {
  return static_cast<float>(std::strtod(textA.c_str(), nullptr));
}

// The pieces of a comma-separated list, converted one by one; pieces that are empty or only
// blanks (as in "300," or "300,,100") are left out.
template <class T, class Convert>
std::vector<T> toList(const std::string& textA, Convert convertA) {
  std::vector<T> valuesL;
  std::size_t startL = 0;
  while (startL <= textA.size()) {
    std::size_t endL = textA.find(',', startL);
    if (endL == std::string::npos) endL = textA.size();
    const std::string pieceL = textA.substr(startL, endL - startL);
    if (pieceL.find_first_not_of(" \t\r\n") != std::string::npos) {
      valuesL.push_back(static_cast<T>(convertA(pieceL)));
    }
    startL = endL + 1;
  }
  return valuesL;
}

bool isElementNamed(const DOMNode* nodeA, const char* nameA) {
  return nodeA->getNodeType() == DOMNode::ELEMENT_NODE && DomXmlParser::getNodeName(nodeA) == nameA;
}

// Reads one attribute; a missing or empty attribute appends "<name> " to missingA.
std::string attribute(const DOMNode* nodeA, const char* nameA, std::string& missingA) {
  std::string ignoredL;
  std::string valueL = DomXmlParser::getAttributeString(nodeA, nameA, ignoredL);
  if (valueL.empty()) missingA += std::string(nameA) + " ";
  return valueL;
}

MultipassConfig::Matchmode readStage(const DOMNode* nodeA, std::string& missingA) {
  using qridy::Types;
  MultipassConfig::Matchmode m;
  m.additionalParameters = DomXmlParser::getTextContent(nodeA);

  const std::string modalityL = attribute(nodeA, "modality", missingA);
  if (!modalityL.empty()) {
    m.modality = Types::text2Modality(modalityL.c_str());
    if (m.modality == qridy::ModalityUnknown) missingA += "unknown modality";
  }
  std::string textL = attribute(nodeA, "instance", missingA);
  if (!textL.empty()) m.instance = Types::text2Instance(textL.c_str());
  const std::string algorithmL = attribute(nodeA, "algorithm", missingA);
  if (!algorithmL.empty()) {
    m.algorithm = Types::text2Algorithm(algorithmL.c_str());
    if (m.algorithm == qridy::AlgUnknown) missingA += "unknown algorithm";
  }
  textL = attribute(nodeA, "filterScore", missingA);
  if (!textL.empty()) m.filterScore = textL == "true";
  textL = attribute(nodeA, "globalWeight", missingA);
  if (!textL.empty()) m.globalWeight = toFloat(textL);
  textL = attribute(nodeA, "resultLengthMax", missingA);
  if (!textL.empty()) {
    m.resultLengthMaxList = toList<std::uint32_t>(textL, toInt);
    if (!m.resultLengthMaxList.empty()) m.resultLengthMax = m.resultLengthMaxList.front();
  }
  textL = attribute(nodeA, "resultLengthMin", missingA);
  if (!textL.empty()) {
    m.resultLengthMinList = toList<std::uint32_t>(textL, toInt);
    if (!m.resultLengthMinList.empty()) m.resultLengthMin = m.resultLengthMinList.front();
  }
  textL = attribute(nodeA, "nThreads", missingA);
  if (!textL.empty()) m.nThreads = static_cast<float>(toInt(textL));
  textL = attribute(nodeA, "resultLengthLocalPercent", missingA);
  if (!textL.empty()) {
    m.resultLengthLocalPercentList = toList<float>(textL, toFloat);
    if (!m.resultLengthLocalPercentList.empty()) {
      m.resultLengthLocalPercent = m.resultLengthLocalPercentList.front();
    }
  }
  textL = attribute(nodeA, "resultLengthGlobalPercent", missingA);
  if (!textL.empty()) {
    m.resultLengthGlobalPercentList = toList<float>(textL, toFloat);
    if (!m.resultLengthGlobalPercentList.empty()) {
      m.resultLengthGlobalPercent = m.resultLengthGlobalPercentList.front();
    }
  }
  textL = attribute(nodeA, "useNormalization", missingA);
  if (!textL.empty()) m.useNormalization = textL == "true";
  textL = attribute(nodeA, "isRequired", missingA);
  if (!textL.empty()) m.isRequired = textL == "true";
  return m;
}

bool matches(const MultipassConfig::Matchmode& stageA, qridy::Modality modalityA,
             qridy::Instance instanceA, qridy::Algorithm algorithmA) {
  return (modalityA == qridy::ModalityAny || stageA.modality == modalityA) &&
         (instanceA == qridy::InstanceAny || stageA.instance == instanceA) &&
         (algorithmA == qridy::AlgUnknown || stageA.algorithm == algorithmA);
}

template <class T>
T lastOr(const std::vector<T>& listA, T fallbackA) {
  return listA.empty() ? fallbackA : listA.back();
}

}  // namespace

MultipassConfig::MultipassConfig() = default;
MultipassConfig::MultipassConfig(const MultipassConfig& otherA) = default;
MultipassConfig& MultipassConfig::operator=(const MultipassConfig& otherA) = default;
MultipassConfig::~MultipassConfig() = default;

void MultipassConfig::read(std::string fileNameA, std::string pipelineIdA) {
  stagesM.clear();
  pipelineIdM = std::move(pipelineIdA);
  std::unique_ptr<DomXmlParser> parserL;
  try {
    parserL = std::make_unique<DomXmlParser>(fileNameA);
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW(kReadFunction, e.getMessage());
  }
  readDocument(*parserL);
}

void MultipassConfig::readText(const std::string& xmlTextA, std::string pipelineIdA,
                               const std::string& nameA) {
  stagesM.clear();
  pipelineIdM = std::move(pipelineIdA);
  std::unique_ptr<DomXmlParser> parserL;
  try {
    parserL = std::make_unique<DomXmlParser>(DomXmlParser::FromText{}, xmlTextA, nameA);
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW(kReadFunction, e.getMessage());
  }
  readDocument(*parserL);
}

void MultipassConfig::readDocument(const DomXmlParser& parserA) {
  // A problem with the configuration itself ends the walk and is thrown as it is; anything the
  // XML library (or anything below) throws on the way is reported as one parser message.
  std::string configErrorL;
  std::string parserErrorL;
  try {
    const xercesc::DOMNodeList* sectionsL = parserA.getRootNodeList();
    for (XMLSize_t s = 0; s < sectionsL->getLength() && configErrorL.empty(); ++s) {
      const DOMNode* sectionL = sectionsL->item(s);
      if (!isElementNamed(sectionL, "multipass")) continue;
      std::string ignoredL;
      if (DomXmlParser::getAttributeString(sectionL, "id", ignoredL) != pipelineIdM) continue;

      const xercesc::DOMNodeList* itemsL = sectionL->getChildNodes();
      for (XMLSize_t i = 0; i < itemsL->getLength() && configErrorL.empty(); ++i) {
        const DOMNode* itemL = itemsL->item(i);
        if (isElementNamed(itemL, "stage")) {
          std::string missingL;
          stagesM.push_back(readStage(itemL, missingL));
          if (!missingL.empty()) {
            configErrorL = "Missing parameter(s) in tag <stage> (" +
                           std::to_string(stagesM.size()) + ") : " + missingL;
          }
        } else if (isElementNamed(itemL, "common")) {
          std::string ignoredCommonL;
          const std::string processingL =
              DomXmlParser::getAttributeString(itemL, "processing", ignoredCommonL);
          std::string missingL;
          if (processingL.empty()) {
            missingL += "processing (set to parallel/sequential) ";
          } else if (processingL == "parallel") {
            processingM = ProcessingParallel;
          } else if (processingL == "sequential") {
            processingM = ProcessingSequential;
          } else if (processingL == "filtering") {
            processingM = ProcessingFiltering;
          } else {
            missingL += "processing (set to parallel/sequential/queryFiltering) ";
          }
          if (!missingL.empty()) configErrorL = "Missing parameter(s) in tag <common> :" + missingL;
        }
      }
    }
  } catch (const xercesc::XMLException& e) {
    parserErrorL = "XMLDomParser: XMLException: " + XMLtranscode(e.getMessage());
  } catch (const xercesc::DOMException& e) {
    parserErrorL = "XMLDomParser: DOMException: " + XMLtranscode(e.getMessage());
  } catch (const kxxcp::Exception& e) {
    parserErrorL = "kxxcp exc caught:" + e.getMessage();
  } catch (...) {
    parserErrorL = "unknown exc caught.";
  }
  if (!parserErrorL.empty()) KXXCP_THROW(kReadFunction, parserErrorL);
  if (!configErrorL.empty()) KXXCP_THROW(kReadFunction, configErrorL);
  rebuildTables();
}

void MultipassConfig::rebuildTables() {
  limitsM.clear();
  triplesM.clear();
  for (const Matchmode& m : stagesM) {
    ResultLengthLimits& limitsL = limitsM[m.algorithm];
    limitsL.resultLengthMax = lastOr(m.resultLengthMaxList, m.resultLengthMax);
    limitsL.resultLengthMin = lastOr(m.resultLengthMinList, m.resultLengthMin);
    limitsL.resultLengthLocalPercent =
        lastOr(m.resultLengthLocalPercentList, m.resultLengthLocalPercent);
    limitsL.resultLengthGlobalPercent =
        lastOr(m.resultLengthGlobalPercentList, m.resultLengthGlobalPercent);
    triplesM[qridy::BioMetricTriple{m.modality, m.instance, m.algorithm}] = true;
  }
}

unsigned int MultipassConfig::getNumberOfStages() const {
  return static_cast<unsigned int>(stagesM.size());
}

MultipassConfig::Matchmode MultipassConfig::getConfig(qridy::Modality modalityA,
                                                      qridy::Instance instanceA,
                                                      qridy::Algorithm algorithmA) const {
  for (const Matchmode& m : stagesM) {
    if (m.modality == modalityA && m.instance == instanceA && m.algorithm == algorithmA) return m;
  }
  return Matchmode();
}

const MultipassConfig::Matchmode& MultipassConfig::getStage(unsigned int indexA) const {
  if (indexA >= stagesM.size()) {
    KXXCP_THROW("qrbase::MultipassConfig::getStage",
                "Stage index out of range: '" << indexA << "'.");
  }
  return stagesM[indexA];
}

bool MultipassConfig::getStageData(const Matchmode& stageA, ParametersToChange parameterA,
                                   float& valueA) {
  switch (parameterA) {
    case ResultLengthMin:
      valueA = static_cast<float>(stageA.resultLengthMin);
      return true;
    case ResultLengthMax:
      valueA = static_cast<float>(stageA.resultLengthMax);
      return true;
    case ResultLengthLocalPercent:
      valueA = stageA.resultLengthLocalPercent;
      return true;
    case ResultLengthGlobalPercent:
      valueA = stageA.resultLengthGlobalPercent;
      return true;
    case UseNormalization:
      valueA = stageA.useNormalization ? 1.0f : 0.0f;
      return true;
  }
  return false;
}

bool MultipassConfig::setStageData(Matchmode& stageA, ParametersToChange parameterA, float valueA) {
  if (valueA != valueA) return false;  // not a number
  if (parameterA <= ResultLengthGlobalPercent && valueA < 0.0f) return false;
  // Truncation toward zero; beyond the unsigned range the largest value.
  const auto toUnsignedL = [](float v) {
    return v >= 4294967295.0f ? UINT32_MAX : static_cast<std::uint32_t>(v);
  };
  switch (parameterA) {
    case ResultLengthMin:
      stageA.resultLengthMin = toUnsignedL(valueA);
      return true;
    case ResultLengthMax:
      stageA.resultLengthMax = toUnsignedL(valueA);
      return true;
    case ResultLengthLocalPercent:
      stageA.resultLengthLocalPercent = valueA;
      return true;
    case ResultLengthGlobalPercent:
      stageA.resultLengthGlobalPercent = valueA;
      return true;
    case UseNormalization:
      stageA.useNormalization = valueA > 0.999f;
      return true;
  }
  return false;
}

bool MultipassConfig::getData(unsigned int indexA, ParametersToChange parameterA,
                              float& valueA) const {
  return indexA < stagesM.size() && getStageData(stagesM[indexA], parameterA, valueA);
}

bool MultipassConfig::getData(qridy::Modality modalityA, qridy::Instance instanceA,
                              qridy::Algorithm algorithmA, ParametersToChange parameterA,
                              float& valueA) const {
  for (const Matchmode& m : stagesM) {
    if (!matches(m, modalityA, instanceA, algorithmA)) continue;
    if (!getStageData(m, parameterA, valueA)) return false;
  }
  return true;
}

bool MultipassConfig::setData(unsigned int indexA, ParametersToChange parameterA, float valueA) {
  return indexA < stagesM.size() && setStageData(stagesM[indexA], parameterA, valueA);
}

bool MultipassConfig::setData(qridy::Modality modalityA, qridy::Instance instanceA,
                              qridy::Algorithm algorithmA, ParametersToChange parameterA,
                              float valueA) {
  bool okL = true;
  for (Matchmode& m : stagesM) {
    if (matches(m, modalityA, instanceA, algorithmA)) {
      okL = setStageData(m, parameterA, valueA) && okL;
    }
  }
  return okL;
}

bool MultipassConfig::setDataToAllStages(ParametersToChange parameterA, float valueA) {
  if (stagesM.empty()) return false;
  bool okL = true;
  for (Matchmode& m : stagesM) okL = setStageData(m, parameterA, valueA) && okL;
  return okL;
}

std::string MultipassConfig::isCompatibe(MultipassConfig otherA) const {
  std::ostringstream osL;
  const std::size_t countL = std::min(stagesM.size(), otherA.stagesM.size());
  for (std::size_t i = 0; i < countL; ++i) {
    const Matchmode& a = stagesM[i];
    const Matchmode& b = otherA.stagesM[i];
    if (a.modality != b.modality) {
      osL << "Modality of stage " << i << " are different (est/conf) = (" << a.modality << "/"
          << b.modality << ")\n";
    }
    if (a.instance != b.instance) {
      osL << "Instance of stage " << i << " are different (est/conf) = (" << a.instance << "/"
          << b.instance << ")\n";
    }
    if (a.algorithm != b.algorithm) {
      osL << "Algorithm of stage " << i << " are different (est/conf) = (" << a.algorithm << "/"
          << b.algorithm << ")\n";
    }
  }
  return osL.str();
}

void MultipassConfig::info(std::ostream& osA) const {
  static const char* const kProcessingTexts[] = {"parallel", "sequential", "filtering"};
  const auto fieldL = [&osA](const char* labelA, const auto& valueA) {
    std::string labelL = labelA;
    labelL.resize(25, ' ');
    osA << "\t\t " << labelL << "=  \"" << valueA << "\"\n";
  };
  const auto flagL = [](bool valueA) { return valueA ? "true" : "false"; };
  osA << "<multipass id = \"" << pipelineIdM << "\" >\n";
  const unsigned processingL = static_cast<unsigned>(processingM);
  osA << "<common processing = \"" << (processingL < 3 ? kProcessingTexts[processingL] : "unknown")
      << "\"\t />\n";
  for (const Matchmode& m : stagesM) {
    osA << "\t<stage \n";
    fieldL("modality", qridy::Types::modality2Text(m.modality));
    fieldL("instance", qridy::Types::instance2Text(m.instance));
    fieldL("algorithm", qridy::Types::algorithm2Text(m.algorithm));
    fieldL("resultLengthMax", m.resultLengthMax);
    fieldL("resultLengthMin", m.resultLengthMin);
    fieldL("resultLengthPercent", m.resultLengthGlobalPercent);
    fieldL("resultLengthPercent", m.resultLengthLocalPercent);
    fieldL("isRequired", flagL(m.isRequired));
    fieldL("filterScore", flagL(m.filterScore));
    fieldL("nThreads", m.nThreads);
    osA << "\t\t >\n" << m.additionalParameters;
    if (!m.additionalParameters.empty() && m.additionalParameters.back() != '\n') osA << "\n";
    osA << "\t</stage>\n";
  }
  osA << "</multipass>\n";
}

bool MultipassConfig::getResultLengthLimits(qridy::Algorithm algorithmA,
                                            ResultLengthLimits& limitsA) const {
  const auto it = limitsM.find(algorithmA);
  if (it == limitsM.end()) return false;
  limitsA = it->second;
  return true;
}

bool MultipassConfig::isConfigured(const qridy::BioMetricTriple& tripleA) const {
  return triplesM.count(tripleA) != 0;
}

std::string MultipassConfig::XMLtranscode(const char16_t* textA) {
  return DomXmlParser::transcode(textA);
}

std::u16string MultipassConfig::XMLtranscode(const std::string& textA) {
  return DomXmlParser::transcode(textA);
}

}  // namespace qrbase
