#include <qrlface/FaceCommandParser.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#include <qrlcore/Exception.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

namespace kxegm {
namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

using Settings = std::map<std::string, double>;

// The commands with their settings and defaults.
const std::map<std::string, Settings>& commandTable() {
  static const std::map<std::string, Settings> tableL = {
      {"startUpIlm",
       {{"gridRows", 6},
        {"gridColumns", 6},
        {"gridLeft", -1.0},
        {"gridRight", 1.0},
        {"gridTop", -0.55},
        {"gridBottom", 1.45}}},
      {"ilm", {}},
      {"startUpHgmFeatureExtraction",
       {{"frequencies", 4},
        {"orientations", 8},
        {"wavelength", 4.0},
        {"wavelengthStep", 1.41421356},
        {"sigmaRatio", 0.56}}},
      {"startUpHgmPromatSelector", {}},
      {"startUpFastHgmPromatSelector", {}},
      {"startUpCcaPromatSelector", {}},
      {"prepareHgmFeatureExtraction", {}},
      {"performHgmFeatureExtraction", {}},
      {"createHgmRaw", {}},
      {"createHgm", {}},
      {"createHgmFloat", {}},
      {"createHgmByte", {}},
      {"createFastHgmRaw", {}},
      {"createFastHgm", {}},
      {"createCca", {}},
      {"doBackgroundsupression", {}},
  };
  return tableL;
}

std::string text(const XMLCh* xA) {
  if (xA == nullptr) return std::string();
  char* cL = xercesc::XMLString::transcode(xA);
  std::string sL(cL != nullptr ? cL : "");
  xercesc::XMLString::release(&cL);
  return sL;
}

struct XmlPlatform {
  XmlPlatform() { xercesc::XMLPlatformUtils::Initialize(); }
};

void initXml() {
  static XmlPlatform platformL;  // once per process, thread-safe
}

}  // namespace

struct FaceCommandParser::State {
  bool ilmReady = false;
  bool promat = false;
  bool fastPromat = false;
  bool ccaPromat = false;
  std::unique_ptr<GaborBank> bank;
  std::vector<float> grid;  // rows, columns, left, right, top, bottom
  // The prepared extraction.
  bool prepared = false;
  qrimg::ByteImage image;
  std::vector<qrimg::Point2f> positions;
  std::vector<std::uint32_t> labels;
};

FaceCommandParser::FaceCommandParser(unsigned long long threadsA)
    : threadsM(threadsA), stateM(std::make_unique<State>()) {}

FaceCommandParser::~FaceCommandParser() = default;

std::vector<std::string> FaceCommandParser::commandNames() {
  std::vector<std::string> namesL;
  for (const auto& entryL : commandTable()) namesL.push_back(entryL.first);
  return namesL;
}

void FaceCommandParser::load(const std::string& pathA) {
  const char* fnL = "kxegm::FaceCommandParser::load";
  std::ifstream inL(pathA, std::ios::binary);
  if (!inL) KXXCP_THROW(fnL, "Cannot open face command file '" << pathA << "'.");
  std::string textL;
  char bufferL[4096];
  while (inL.read(bufferL, sizeof bufferL) || inL.gcount() > 0) {
    textL.append(bufferL, static_cast<std::size_t>(inL.gcount()));
    if (textL.size() > kMaxFileBytes) {
      KXXCP_THROW(fnL, "Face command file too large '" << pathA << "'.");
    }
  }
  loadText(textL, pathA);
}

void FaceCommandParser::loadText(const std::string& textA, const std::string& nameA) {
  const char* fnL = "kxegm::FaceCommandParser::load";
  if (textA.size() > kMaxFileBytes) {
    KXXCP_THROW(fnL, "Face command file too large '" << nameA << "'.");
  }
  initXml();
  std::map<std::string, Settings> settingsL;
  std::string errorL;
  {
    xercesc::XercesDOMParser parserL;
    parserL.setValidationScheme(xercesc::XercesDOMParser::Val_Never);
    parserL.setDoNamespaces(false);
    parserL.setLoadExternalDTD(false);
    parserL.setCreateEntityReferenceNodes(false);
    parserL.setDisableDefaultEntityResolution(true);
    xercesc::HandlerBase handlerL;  // throws on fatal errors
    parserL.setErrorHandler(&handlerL);
    try {
      xercesc::MemBufInputSource sourceL(reinterpret_cast<const XMLByte*>(textA.data()),
                                         textA.size(), "faceCommands");
      parserL.parse(sourceL);
    } catch (const xercesc::SAXParseException& eA) {
      std::ostringstream osL;
      osL << text(eA.getMessage()) << " (line " << eA.getLineNumber() << ")";
      errorL = osL.str();
    } catch (const xercesc::XMLException& eA) {
      errorL = text(eA.getMessage());
    } catch (const xercesc::DOMException& eA) {
      errorL = text(eA.getMessage());
    }
    const xercesc::DOMDocument* docL = errorL.empty() ? parserL.getDocument() : nullptr;
    const xercesc::DOMElement* rootL = docL != nullptr ? docL->getDocumentElement() : nullptr;
    if (errorL.empty() && docL != nullptr && docL->getDoctype() != nullptr) {
      errorL = "a document type declaration is not allowed";
    } else if (errorL.empty() &&
               (rootL == nullptr || text(rootL->getTagName()) != "faceCommands")) {
      errorL = "the root element is not 'faceCommands'";
    } else if (errorL.empty()) {
      XMLCh* versionNameL = xercesc::XMLString::transcode("version");
      const std::string versionL = text(rootL->getAttribute(versionNameL));
      xercesc::XMLString::release(&versionNameL);
      if (versionL != "1") errorL = "unsupported version '" + versionL + "'";
    }
    if (!errorL.empty()) {
      KXXCP_THROW(fnL, "Invalid face command file '" << nameA << "': " << errorL);
    }
    for (const xercesc::DOMNode* nodeL = rootL->getFirstChild(); nodeL != nullptr;
         nodeL = nodeL->getNextSibling()) {
      if (nodeL->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
      const std::string tagL = text(nodeL->getNodeName());
      if (tagL != "command") {
        KXXCP_THROW(fnL, "Invalid face command file '" << nameA << "': unexpected element '" << tagL
                                                       << "'");
      }
      const xercesc::DOMNamedNodeMap* attributesL = nodeL->getAttributes();
      std::string commandL;
      std::map<std::string, std::string> valuesL;
      for (XMLSize_t i = 0; i < attributesL->getLength(); ++i) {
        const xercesc::DOMNode* attributeL = attributesL->item(i);
        const std::string keyL = text(attributeL->getNodeName());
        const std::string valueL = text(attributeL->getNodeValue());
        if (keyL == "name") {
          commandL = valueL;
        } else {
          valuesL[keyL] = valueL;
        }
      }
      const auto knownL = commandTable().find(commandL);
      if (knownL == commandTable().end()) {
        KXXCP_THROW(fnL, "Unknown face command '" << commandL << "'.");
      }
      if (settingsL.count(commandL) != 0) {
        KXXCP_THROW(fnL, "Face command '" << commandL << "' defined twice.");
      }
      Settings commandSettingsL = knownL->second;
      for (const auto& [keyL, valueL] : valuesL) {
        if (commandSettingsL.count(keyL) == 0) {
          KXXCP_THROW(fnL,
                      "Unknown setting '" << keyL << "' of face command '" << commandL << "'.");
        }
        std::istringstream isL(valueL);
        double numberL = 0.0;
        if (!(isL >> numberL) || !(isL >> std::ws).eof() || !std::isfinite(numberL)) {
          KXXCP_THROW(fnL, "Invalid setting '" << keyL << "' of face command '" << commandL
                                               << "': '" << valueL << "'.");
        }
        commandSettingsL[keyL] = numberL;
      }
      settingsL[commandL] = std::move(commandSettingsL);
    }
  }
  settingsM = std::move(settingsL);
  stateM = std::make_unique<State>();
}

double FaceCommandParser::setting(const std::string& commandA, const std::string& nameA) const {
  return settingsM.at(commandA).at(nameA);
}

void FaceCommandParser::require(const std::string& commandA, bool doneA, const char* otherA) const {
  if (!doneA) {
    KXXCP_THROW("kxegm::FaceCommandParser::execute",
                "Face command '" << commandA << "' needs '" << otherA << "'.");
  }
}

namespace {

// The nodes of rows and columns of even index of a rows x columns grid.
std::vector<std::size_t> fastNodes(std::size_t rowsA, std::size_t columnsA) {
  std::vector<std::size_t> nodesL;
  for (std::size_t r = 0; r < rowsA; r += 2) {
    for (std::size_t c = 0; c < columnsA; c += 2) nodesL.push_back(r * columnsA + c);
  }
  return nodesL;
}

TemplateGraph makeTemplate(TemplateGraph::Type typeA, const std::vector<float>& jetsA,
                           std::size_t nodesA, std::size_t frequenciesA,
                           std::size_t orientationsA) {
  TemplateGraph graphL;
  graphL.type = typeA;
  graphL.nodes = static_cast<std::uint32_t>(nodesA);
  graphL.frequencies = static_cast<std::uint32_t>(frequenciesA);
  graphL.orientations = static_cast<std::uint32_t>(orientationsA);
  const std::size_t lengthL = frequenciesA * orientationsA;
  switch (typeA) {
    case TemplateGraph::TypeRaw:
      graphL.values = rawJets(jetsA, lengthL);
      break;
    case TemplateGraph::TypeFloat:
      graphL.values = floatJets(jetsA, lengthL);
      break;
    case TemplateGraph::TypeBit:
      graphL.bytes = bitJets(floatJets(jetsA, lengthL));
      break;
    case TemplateGraph::TypeByte:
      graphL.bytes = byteJets(floatJets(jetsA, lengthL));
      break;
  }
  return graphL;
}

}  // namespace

void FaceCommandParser::execute(const std::string& commandA) {
  const char* fnL = "kxegm::FaceCommandParser::execute";
  if (commandTable().count(commandA) == 0) {
    KXXCP_THROW(fnL, "Unknown face command '" << commandA << "'.");
  }
  if (!defines(commandA)) {
    KXXCP_THROW(fnL, "The face command file does not define '" << commandA << "'.");
  }
  State& s = *stateM;
  const auto jetsL = [&]() -> const std::vector<float>& {
    return storeM.featureArray("hgmFeatureJets");
  };
  const auto jetShapeL = [&](std::size_t& nodesA, std::size_t& freqA, std::size_t& orientA) {
    nodesA = static_cast<std::size_t>(storeM.number("hgmFeatureNodes"));
    freqA = static_cast<std::size_t>(storeM.number("hgmFeatureFrequencies"));
    orientA = static_cast<std::size_t>(storeM.number("hgmFeatureOrientations"));
    if (nodesA * freqA * orientA != jetsL().size()) {
      KXXCP_THROW(fnL, "Face command '" << commandA << "' needs 'performHgmFeatureExtraction'.");
    }
  };

  if (commandA == "startUpIlm") {
    const double rowsL = setting(commandA, "gridRows");
    const double colsL = setting(commandA, "gridColumns");
    if (rowsL < 2 || rowsL > 16 || colsL < 2 || colsL > 16 || rowsL != std::floor(rowsL) ||
        colsL != std::floor(colsL)) {
      KXXCP_THROW(fnL, "Invalid setting 'gridRows' of face command 'startUpIlm': '"
                           << rowsL << "x" << colsL << "'.");
    }
    s.grid = {static_cast<float>(rowsL),
              static_cast<float>(colsL),
              static_cast<float>(setting(commandA, "gridLeft")),
              static_cast<float>(setting(commandA, "gridRight")),
              static_cast<float>(setting(commandA, "gridTop")),
              static_cast<float>(setting(commandA, "gridBottom"))};
    s.ilmReady = true;
  } else if (commandA == "ilm") {
    require(commandA, s.ilmReady, "startUpIlm");
    const qrimg::Image& derotatedL = storeM.image("derotatedInputImage");
    const FaceGraph& derotationL = storeM.graph("derotationInfoGraph");
    qrimg::FacialFeaturePoints pointsL = storeM.featurePoints("ffpDerotatedImage");
    using FFP = qrimg::FacialFeaturePoints;
    const float dL = pointsL.eyeDistance();
    if (!(dL > 0.0f)) KXXCP_THROW(fnL, "Face command 'ilm' needs two distinct eyes.");
    const qrimg::Point2f rL = pointsL.point(FFP::RightEye);
    const qrimg::Point2f lL = pointsL.point(FFP::LeftEye);
    const qrimg::Point2f centreL{(rL.x + lL.x) / 2, (rL.y + lL.y) / 2};
    const qrimg::Point2f alongL{(lL.x - rL.x) / dL, (lL.y - rL.y) / dL};
    const qrimg::Point2f acrossL{-alongL.y, alongL.x};  // towards the chin
    const int rowsL = static_cast<int>(s.grid[0]);
    const int colsL = static_cast<int>(s.grid[1]);
    FaceGraph landmarkL(FaceGraph::KindLandmark);
    FaceGraph featureL(FaceGraph::KindFeatureExtraction);
    for (int r = 0; r < rowsL; ++r) {
      const float vL = s.grid[4] + (s.grid[5] - s.grid[4]) * r / (rowsL - 1);
      for (int c = 0; c < colsL; ++c) {
        const float uL = s.grid[2] + (s.grid[3] - s.grid[2]) * c / (colsL - 1);
        const qrimg::Point2f pL{centreL.x + dL * (uL * alongL.x + vL * acrossL.x),
                                centreL.y + dL * (uL * alongL.y + vL * acrossL.y)};
        const auto labelL = static_cast<std::uint32_t>(r * colsL + c);
        landmarkL.addNode(pL, labelL);
        featureL.addNode(pL, labelL);
        if (c > 0) featureL.addEdge(labelL - 1, labelL);
        if (r > 0) featureL.addEdge(labelL - colsL, labelL);
      }
    }
    landmarkL.setToImage(derotationL.toImage());
    featureL.setToImage(derotationL.toImage());
    pointsL.estimateMouthCentre();
    qrimg::FacialFeaturePoints inputPointsL;
    for (int i = 0; i < FFP::kCount; ++i) {
      if (pointsL.isSet(i)) inputPointsL.set(i, derotationL.toImage().apply(pointsL.point(i)));
    }
    auto imageL = std::make_unique<qrimg::ByteImage>(normaliseLighting(qrimg::toGrey(derotatedL)));
    storeM.setGraph("landMarkGraph", std::move(landmarkL));
    storeM.setFeaturePoints("ffpInputImage", inputPointsL);
    storeM.setGraph("outgraphForFeatureExtraction", std::move(featureL));
    storeM.setImage("outimageForFeatureExtraction", std::move(imageL));
  } else if (commandA == "startUpHgmFeatureExtraction") {
    GaborBank::Settings bankL;
    bankL.frequencies = static_cast<int>(setting(commandA, "frequencies"));
    bankL.orientations = static_cast<int>(setting(commandA, "orientations"));
    bankL.wavelength = static_cast<float>(setting(commandA, "wavelength"));
    bankL.wavelengthStep = static_cast<float>(setting(commandA, "wavelengthStep"));
    bankL.sigmaRatio = static_cast<float>(setting(commandA, "sigmaRatio"));
    s.bank = std::make_unique<GaborBank>(bankL);
  } else if (commandA == "startUpHgmPromatSelector") {
    s.promat = true;
  } else if (commandA == "startUpFastHgmPromatSelector") {
    s.fastPromat = true;
  } else if (commandA == "startUpCcaPromatSelector") {
    s.ccaPromat = true;
  } else if (commandA == "prepareHgmFeatureExtraction") {
    const FaceGraph& graphL = storeM.graph("graphForFeatureExtraction");
    const qrimg::Image& imageL = storeM.image("imageForFeatureExtraction");
    s.image = qrimg::toGrey(imageL);
    s.positions.clear();
    s.labels.clear();
    for (const FaceGraph::Node& n : graphL.nodes()) {
      s.positions.push_back(n.position);
      s.labels.push_back(n.label);
    }
    s.prepared = true;
  } else if (commandA == "performHgmFeatureExtraction") {
    require(commandA, s.bank != nullptr, "startUpHgmFeatureExtraction");
    require(commandA, s.prepared, "prepareHgmFeatureExtraction");
    std::vector<float> jetsL2;
    s.bank->extract(s.image, s.positions, jetsL2);
    storeM.setFeatureArray("hgmFeatureJets", std::move(jetsL2));
    storeM.setNumber("hgmFeatureNodes", static_cast<double>(s.positions.size()));
    storeM.setNumber("hgmFeatureFrequencies", s.bank->settings().frequencies);
    storeM.setNumber("hgmFeatureOrientations", s.bank->settings().orientations);
    s.prepared = false;
  } else if (commandA == "createHgmRaw" || commandA == "createHgm" ||
             commandA == "createHgmFloat" || commandA == "createHgmByte") {
    require(commandA, s.promat, "startUpHgmPromatSelector");
    std::size_t nL, fL, oL;
    jetShapeL(nL, fL, oL);
    if (commandA == "createHgmRaw") {
      storeM.setTemplateGraph("hgmRawTemplate",
                              makeTemplate(TemplateGraph::TypeRaw, jetsL(), nL, fL, oL));
    } else if (commandA == "createHgm") {
      storeM.setTemplateGraph("hgmTemplate",
                              makeTemplate(TemplateGraph::TypeBit, jetsL(), nL, fL, oL));
    } else if (commandA == "createHgmFloat") {
      storeM.setTemplateGraph("hgmFloatTemplate",
                              makeTemplate(TemplateGraph::TypeFloat, jetsL(), nL, fL, oL));
    } else {
      storeM.setTemplateGraph("hgmByteTemplate",
                              makeTemplate(TemplateGraph::TypeByte, jetsL(), nL, fL, oL));
    }
  } else if (commandA == "createFastHgmRaw" || commandA == "createFastHgm") {
    require(commandA, s.fastPromat, "startUpFastHgmPromatSelector");
    require(commandA, !s.grid.empty(), "startUpIlm");
    std::size_t nL, fL, oL;
    jetShapeL(nL, fL, oL);
    const auto rowsL = static_cast<std::size_t>(s.grid[0]);
    const auto colsL = static_cast<std::size_t>(s.grid[1]);
    if (rowsL * colsL != nL) {
      KXXCP_THROW(fnL, "Face command '" << commandA << "' needs the grid of 'ilm'.");
    }
    std::vector<float> subsetL;
    const std::vector<std::size_t> nodesL = fastNodes(rowsL, colsL);
    for (std::size_t n : nodesL) {
      subsetL.insert(subsetL.end(), jetsL().begin() + n * fL * oL,
                     jetsL().begin() + (n + 1) * fL * oL);
    }
    if (commandA == "createFastHgmRaw") {
      storeM.setTemplateGraph("fastHgmRawTemplate",
                              makeTemplate(TemplateGraph::TypeRaw, subsetL, nodesL.size(), fL, oL));
    } else {
      storeM.setTemplateGraph("fastHgmTemplate",
                              makeTemplate(TemplateGraph::TypeBit, subsetL, nodesL.size(), fL, oL));
    }
  } else if (commandA == "createCca") {
    require(commandA, s.ccaPromat, "startUpCcaPromatSelector");
    std::size_t nL, fL, oL;
    jetShapeL(nL, fL, oL);
    // One bit per value: the magnitude against that of the next orientation (cyclically).
    std::vector<float> signsL(jetsL().size());
    for (std::size_t i = 0; i < signsL.size(); ++i) {
      const std::size_t baseL = i - i % oL;
      const std::size_t nextL = baseL + (i % oL + 1) % oL;
      signsL[i] = jetsL()[i] > jetsL()[nextL] ? 1.0f : -1.0f;
    }
    TemplateGraph graphL;
    graphL.type = TemplateGraph::TypeBit;
    graphL.nodes = static_cast<std::uint32_t>(nL);
    graphL.frequencies = static_cast<std::uint32_t>(fL);
    graphL.orientations = static_cast<std::uint32_t>(oL);
    graphL.bytes = bitJets(signsL);
    storeM.setTemplateGraph("ccaTemplate", std::move(graphL));
  } else if (commandA == "doBackgroundsupression") {
    const FaceGraph& graphL = storeM.graph("graphForFeatureExtraction");
    const qrimg::ByteImage greyL = qrimg::toGrey(storeM.image("imageForFeatureExtraction"));
    if (graphL.nodeCount() == 0) KXXCP_THROW(fnL, "Face command '" << commandA << "' needs nodes.");
    float x0 = graphL.nodes()[0].position.x, x1 = x0;
    float y0 = graphL.nodes()[0].position.y, y1 = y0;
    for (const FaceGraph::Node& n : graphL.nodes()) {
      x0 = std::min(x0, n.position.x);
      x1 = std::max(x1, n.position.x);
      y0 = std::min(y0, n.position.y);
      y1 = std::max(y1, n.position.y);
    }
    // The ellipse through the corners of the nodes' bounding box.
    const float cxL = (x0 + x1) / 2, cyL = (y0 + y1) / 2;
    const float axL = std::max((x1 - x0) / 2 * 1.4142f, 1.0f);
    const float ayL = std::max((y1 - y0) / 2 * 1.4142f, 1.0f);
    const auto insideL = [&](int x, int y) {
      const float uL = (x - cxL) / axL, vL = (y - cyL) / ayL;
      return uL * uL + vL * vL <= 1.0f;
    };
    double sumL = 0.0;
    std::size_t countL = 0;
    for (int y = 0; y < greyL.height(); ++y) {
      for (int x = 0; x < greyL.width(); ++x) {
        if (insideL(x, y)) {
          sumL += greyL.at(x, y);
          ++countL;
        }
      }
    }
    const auto meanL = static_cast<unsigned char>(countL > 0 ? std::lround(sumL / countL) : 0);
    auto outL = std::make_unique<qrimg::ByteImage>(greyL);
    for (int y = 0; y < outL->height(); ++y) {
      for (int x = 0; x < outL->width(); ++x) {
        if (!insideL(x, y)) outL->at(x, y) = meanL;
      }
    }
    storeM.setImage("backgroundSupressedImage", std::move(outL));
  }
}

}  // namespace kxegm
