#include <quarlen/TemplateGenerator.h>

#include <chrono>
#include <iostream>
#include <set>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/FaceCommandParser.h>
#include <qrlface/FaceDataStore.h>
#include <qrlface/FaceTemplateEngines.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMetaDataFace.h>

namespace qrbase {
namespace {

using kxutl::QuarlenInformation;
using qridy::Algorithm;
using Clock = std::chrono::steady_clock;

constexpr const char* kSection = "TEMPLATE_GENERATION";
constexpr const char* kInit = "qrbase::TemplateGenerator::init";
constexpr const char* kCreate = "qrbase::TemplateGenerator::createFaceTemplate";

const std::set<Algorithm> kHgmGroup = {qridy::AlgHgm,      qridy::AlgFHgm,    qridy::AlgHgmRaw,
                                       qridy::AlgHgmFloat, qridy::AlgHgmByte, qridy::AlgCca,
                                       qridy::AlgFHgmRaw,  qridy::AlgVfa3};
const std::set<Algorithm> kSupported = {
    qridy::AlgHgm,  qridy::AlgFmf,       qridy::AlgFHgm,    qridy::AlgSta,      qridy::AlgVfa,
    qridy::AlgLfa,  qridy::AlgLfaLowRes, qridy::AlgHgmRaw,  qridy::AlgHgmFloat, qridy::AlgHgmByte,
    qridy::AlgVfa2, qridy::AlgCca,       qridy::AlgFHgmRaw, qridy::AlgVfa3};

bool debugAtLeast(int levelA) {
  return QuarlenInformation::debugLevelS.load(std::memory_order_relaxed) >= levelA;
}

void logLine(const std::string& textA) {
  kxntc::log << textA;
  kxntc::notify(kxntc::log);
}

bool holdsAny(const AlgorithmMap& mapA, std::initializer_list<Algorithm> algorithmsA) {
  for (Algorithm a : algorithmsA) {
    if (mapA.count(a) != 0) return true;
  }
  return false;
}

bool holdsAnyOf(const AlgorithmMap& mapA, const std::set<Algorithm>& groupA) {
  for (const auto& entryL : mapA) {
    if (groupA.count(entryL.first) != 0) return true;
  }
  return false;
}

double secondsSince(Clock::time_point startA) {
  return std::chrono::duration<double>(Clock::now() - startA).count();
}

void printTime(const char* stepA, Clock::time_point startA) {
  if (debugAtLeast(5)) std::cout << stepA << secondsSince(startA) << " s.\n";
}

// A block made by a template command of the face library: the command, the template graph it
// leaves, the graph types the block accepts (bit i for type i) with the text refusing others,
// and the timing line.
struct CommandBlock {
  Algorithm algorithm;
  const char* command;
  const char* result;
  unsigned types;
  const char* typeError;
  const char* timing;
};

constexpr unsigned kFloatOrRaw =
    (1u << kxegm::TemplateGraph::TypeFloat) | (1u << kxegm::TemplateGraph::TypeRaw);
constexpr unsigned kBit = 1u << kxegm::TemplateGraph::TypeBit;
constexpr unsigned kByte = 1u << kxegm::TemplateGraph::TypeByte;
constexpr unsigned kFloat = 1u << kxegm::TemplateGraph::TypeFloat;
constexpr const char* kNotBit = "dynamic cast to <kxegm::BitMinimalGraph*> failed.";

const CommandBlock kCommandBlocks[] = {
    {qridy::AlgHgmRaw, "createHgmRaw", "hgmRawTemplate", kFloatOrRaw, "",
     "create HGMraw block took: "},
    {qridy::AlgHgm, "createHgm", "hgmTemplate", kBit, kNotBit, "create HGM block took: "},
    {qridy::AlgHgmByte, "createHgmByte", "hgmByteTemplate", kByte, "not a byte graph",
     "create HGMbyte block took: "},
    {qridy::AlgHgmFloat, "createHgmFloat", "hgmFloatTemplate", kFloat, "not a float graph",
     "create HGMfloat block took: "},
    {qridy::AlgCca, "createCca", "ccaTemplate", kBit, kNotBit, "create CCA block took: "},
    {qridy::AlgFHgmRaw, "createFastHgmRaw", "fastHgmRawTemplate", kFloatOrRaw,
     "graph type not handeled!", "create FastHGMraw block took: "},
    {qridy::AlgFHgm, "createFastHgm", "fastHgmTemplate", kBit, kNotBit,
     "create FastHGM block took: "},
};

}  // namespace

TemplateGenerator::TemplateGenerator() = default;
TemplateGenerator::~TemplateGenerator() = default;

const kxegm::FaceDataStore* TemplateGenerator::dataStore() const {
  return parserM ? &parserM->dataStore() : nullptr;
}

bool TemplateGenerator::needsLandmarks(const AlgorithmMap& mapA) const {
  if (threeDimensionalM && !mapA.empty()) return true;
  if (holdsAnyOf(mapA, kHgmGroup)) return true;
  if (holdsAny(mapA, {qridy::AlgHgmPyr, qridy::AlgLfaIlmSb})) return true;
  return lfaUsesIlmEyeposM && holdsAny(mapA, {qridy::AlgLfa, qridy::AlgLfaLowRes});
}

void TemplateGenerator::init(const char*, const char*, unsigned long long threadsA,
                             TemplateCreationMode modeA, const qridy::Algorithm* algorithmsA,
                             unsigned countA, float shapeScaleA) {
  try {
    const char* keyL = nullptr;
    bool threeDL = false;
    switch (modeA) {
      case TemplateCreationModeNormalC:
        keyL = "XmlFile";
        break;
      case TemplateCreationModeFastC:
        keyL = "XmlFile_fast";
        break;
      case TemplateCreationMode3dC:
        keyL = "XmlFile_3dIlm";
        threeDL = true;
        break;
      case TemplateCreationModeAdaptationC:
        KXXCP_THROW(kInit,
                    "TemplateGeneratorMode \"Adaptation\" not supported any longer. Select the "
                    "algorithms \"HgmRaw\" or \"FastHgmRaw\" instead.");
      default:
        KXXCP_THROW(kInit, "unknown TemplateGeneratorMode: " << static_cast<std::uint32_t>(modeA));
    }
    const std::string commandFileL = QuarlenInformation::getStdStringFromConfigFile(kSection, keyL);
    const bool lfaIlmL = QuarlenInformation::getBoolFromConfigFile(kSection, "lfaUsesIlmEyepos");
    const bool logL = QuarlenInformation::debugLevelS.load() != 0;

    AlgorithmMap mapL;
    if (algorithmsA != nullptr && countA != 0) {
      if (logL) logLine("\nTemplateGeneration: Initializing user defined Algorithms.\n");
      mapL = qridy::Types::algorithmVector2Map(algorithmsA, countA,
                                               TemplateCreationTypeGalleryAndProbe);
    } else if (!threeDL) {
      if (logL) logLine("\nTemplateGeneration: Initializing default face Algorithms.\n");
      std::istringstream listL(
          QuarlenInformation::getStdStringFromConfigFile(kSection, "defaultFaceAlgorithms"));
      std::string textL;
      while (std::getline(listL, textL, ',')) {
        mapL[qridy::Types::text2Algorithm(textL.c_str())] = TemplateCreationTypeGalleryAndProbe;
      }
    }
    for (const auto& entryL : mapL) {
      if (kSupported.count(entryL.first) == 0) {
        KXXCP_THROW(kInit, "Algorithm '" << qridy::Types::algorithm2Text(entryL.first)
                                         << "' is not supported by the face library.");
      }
    }

    threeDimensionalM = threeDL;
    lfaUsesIlmEyeposM = lfaIlmL;
    parserM.reset();
    if (needsLandmarks(mapL)) {
      parserM = std::make_unique<kxegm::FaceCommandParser>(threadsA);
      parserM->load(commandFileL);
      kxegm::FaceDataStore& storeL = parserM->dataStore();
      for (const auto& [nameL, valueL] : pendingParametersM) storeL.setParameter(nameL, valueL);
      if (shapeScaleA > 0.0f) {
        std::ostringstream osL;
        osL << shapeScaleA * kShapeScaleUnit;
        storeL.setParameter("AFIG_shapeScaleFactor", osL.str());
      }
      parserM->execute("startUpIlm");
      if (debugAtLeast(3)) logLine("HGM and ILM based algorithms initialized");
    }
    // The raw forms (10, 15) need the filter bank as much as the others.
    if (holdsAny(mapL, {qridy::AlgHgm, qridy::AlgFHgm, qridy::AlgHgmRaw, qridy::AlgHgmFloat,
                        qridy::AlgHgmByte, qridy::AlgCca, qridy::AlgFHgmRaw, qridy::AlgVfa3})) {
      parserM->execute("startUpHgmFeatureExtraction");
      if (debugAtLeast(3)) logLine("startUpHgmFeatureExtraction initialized");
    }
    if (holdsAny(mapL, {qridy::AlgHgm, qridy::AlgHgmFloat, qridy::AlgHgmByte, qridy::AlgVfa3})) {
      parserM->execute("startUpHgmPromatSelector");
      if (debugAtLeast(3)) logLine("startUpHgmPromatSelector initialized");
    }
    if (holdsAny(mapL, {qridy::AlgFHgm})) parserM->execute("startUpFastHgmPromatSelector");
    if (holdsAny(mapL, {qridy::AlgCca})) parserM->execute("startUpCcaPromatSelector");
    if (debugAtLeast(3)) {
      if (holdsAny(mapL, {qridy::AlgVfa, qridy::AlgVfa2, qridy::AlgVfa3})) {
        logLine("Start initializing VFA...");
        if (mapL.count(qridy::AlgVfa) != 0) logLine("VFA initialized");
        if (mapL.count(qridy::AlgVfa2) != 0) logLine("VFA2 initialized");
      }
      if (holdsAny(mapL, {qridy::AlgLfa, qridy::AlgLfaLowRes})) {
        logLine("Start initializing LFA...");
        if (mapL.count(qridy::AlgLfa) != 0) logLine("LFA initialized");
        if (mapL.count(qridy::AlgLfaLowRes) != 0) logLine("LFA lowr res initialized");
      }
      if (mapL.count(qridy::AlgSta) != 0) logLine("STA initialized");
      logLine("TemplateGenerator initializing done.");
    }
    algorithmMapM = std::move(mapL);
  } catch (const kxxcp::Exception& eA) {
    KXXCP_THROW(kInit,
                "Failed to initialize Template Generation.\nkxxcp caught: " << eA.getMessage());
  } catch (const std::exception& eA) {
    KXXCP_THROW(kInit, "Failed to initialize Template Generation.\nstd::exc caught: " << eA.what());
  } catch (int codeA) {
    KXXCP_THROW(kInit, "Failed to initialize Template Generation.\nint exc caught: " << codeA);
  } catch (...) {
    KXXCP_THROW(kInit, "Failed to initialize Template Generation.\nunknown exc caught.");
  }
}

void TemplateGenerator::setParameter(FaceTemplateCreationParameter parameterA,
                                     const std::string& valueA) {
  if (parameterA != FaceParameterShapeScaleFactor) {
    KXXCP_THROW("qrbase::TemplateGenerator::setParameter",
                "Unknown face template creation parameter '" << parameterA << "'.");
  }
  pendingParametersM["AFIG_shapeScaleFactor"] = valueA;
  if (parserM) parserM->dataStore().setParameter("AFIG_shapeScaleFactor", valueA);
}

std::string TemplateGenerator::getParameter(FaceTemplateCreationParameter parameterA) const {
  if (parameterA != FaceParameterShapeScaleFactor) {
    KXXCP_THROW("qrbase::TemplateGenerator::getParameter",
                "Unknown face template creation parameter '" << parameterA << "'.");
  }
  if (parserM) return parserM->dataStore().parameter("AFIG_shapeScaleFactor");
  const auto itL = pendingParametersM.find("AFIG_shapeScaleFactor");
  return itL == pendingParametersM.end() ? std::string() : itL->second;
}

void TemplateGenerator::prepareLandmarks(FaceDescriptor& descriptorA) {
  const char* fnL = kCreate;
  kxegm::FaceDataStore& storeL = parserM->dataStore();
  const qrimg::FacialFeaturePoints* pointsL = descriptorA.derotatedFeaturePoints() != nullptr
                                                  ? descriptorA.derotatedFeaturePoints()
                                                  : descriptorA.facialFeaturePoints();
  if (pointsL == nullptr || descriptorA.derotatedImage() == nullptr ||
      descriptorA.derotationGraph() == nullptr) {
    KXXCP_THROW(fnL, "TG::createFaceTemplate: face descriptor without derotation.");
  }
  qrimg::FacialFeaturePoints ffpL(*pointsL);
  ffpL.estimateMouthCentre();
  storeL.setFeaturePoints("ffpDerotatedImage", ffpL);
  storeL.setImage("derotatedInputImage", *descriptorA.derotatedImage());
  storeL.setRegion("inputRoi", descriptorA.roi() != nullptr ? *descriptorA.roi() : qrimg::Roi());
  storeL.setGraph("derotationInfoGraph", *descriptorA.derotationGraph());
  storeL.setNumber("poseClassifierScore", descriptorA.faceClassifierResidual());
  parserM->execute("ilm");
  storeL.remove("derotatedInputImage");
  storeL.featurePoints("ffpInputImage");
  const kxegm::FaceGraph& landmarkL = storeL.graph("landMarkGraph");
  descriptorA.setLandmarks(landmarkL.imagePositions());
  descriptorA.setLandmarkGraph(new kxegm::FaceGraph(landmarkL));
  descriptorA.setFeatureExtractionGraph(
      new kxegm::FaceGraph(storeL.graph("outgraphForFeatureExtraction")));
  descriptorA.setFeatureExtractionImage(storeL.takeImage("outimageForFeatureExtraction").release());
}

void TemplateGenerator::extractFeatures(FaceDescriptor& descriptorA, const AlgorithmMap& mapA) {
  kxegm::FaceDataStore& storeL = parserM->dataStore();
  if (descriptorA.featureExtractionGraph() == nullptr ||
      descriptorA.featureExtractionImage() == nullptr) {
    KXXCP_THROW(kCreate,
                "TG::createFaceTemplate: face descriptor without feature extraction input.");
  }
  storeL.setGraph("graphForFeatureExtraction", *descriptorA.featureExtractionGraph());
  storeL.setImage("imageForFeatureExtraction", *descriptorA.featureExtractionImage());
  if (threeDimensionalM) {
    parserM->execute("doBackgroundsupression");
    descriptorA.setBackgroundSuppressedImage(
        storeL.takeImage("backgroundSupressedImage").release());
  }
  if (holdsAnyOf(mapA, kHgmGroup)) {
    const Clock::time_point startL = Clock::now();
    parserM->execute("prepareHgmFeatureExtraction");
    parserM->execute("performHgmFeatureExtraction");
    printTime("HGM feature extraction took: ", startL);
  }
  storeL.remove("imageForFeatureExtraction");
}

void TemplateGenerator::createFaceTemplate(FaceDescriptor& descriptorA, qridy::IdRecordImp& targetA,
                                           const AlgorithmMap& requestedA) {
  if (debugAtLeast(4)) logLine("TemplateGenerator createFaceTemplate");
  const Clock::time_point overallL = Clock::now();
  const AlgorithmMap mapL = requestedA.empty()
                                ? algorithmMapM
                                : createAlgorithmMapIntersection(algorithmMapM, requestedA);
  std::string missingL;
  for (const auto& entryL : requestedA) {
    if (algorithmMapM.count(entryL.first) != 0) continue;
    if (!missingL.empty()) missingL += ",";
    missingL += qridy::Types::algorithm2Text(entryL.first);
  }
  if (!missingL.empty()) {
    KXXCP_THROW(kCreate,
                "Error face template creation. Algorithms " << missingL << " not initialized.");
  }
  if (!descriptorA.isValid())
    KXXCP_THROW(kCreate, "TG::createFaceTemplate: invalid face descriptor");

  qridy::TemplateMetaDataFace metaL;
  if (const kxegm::FaceQualityCheckResult* qL = descriptorA.faceRecQcheckResult()) {
    metaL.setImageWidth(
        static_cast<std::uint16_t>(std::min<std::uint32_t>(qL->imageWidth(), 65535)));
    metaL.setImageHeight(
        static_cast<std::uint16_t>(std::min<std::uint32_t>(qL->imageHeight(), 65535)));
    metaL.setQuality(static_cast<float>(qL->quality() / 10.0));
  }
  unsigned char* metaBytesL = nullptr;
  unsigned int metaSizeL = 0;
  metaL.createData(metaBytesL, metaSizeL);
  const std::unique_ptr<unsigned char[]> metaOwnerL(metaBytesL);

  std::vector<qridy::TemplateBlockImp*> blocksL;
  const auto addBlockL = [&](Algorithm algorithmA, const std::vector<unsigned char>& probeA,
                             const std::vector<unsigned char>& galleryA, bool symmetricA) {
    std::unique_ptr<qridy::TemplateBlockImp> blockL(
        qridy::TemplateBlockImp::createTemplateBlock(algorithmA));
    if (symmetricA) {
      blockL->setData(nullptr, 0, galleryA.data(), static_cast<unsigned>(galleryA.size()), true);
    } else {
      blockL->setData(probeA.empty() ? nullptr : probeA.data(),
                      static_cast<unsigned>(probeA.size()),
                      galleryA.empty() ? nullptr : galleryA.data(),
                      static_cast<unsigned>(galleryA.size()), false);
    }
    blockL->setMetaData(metaBytesL, metaSizeL);
    blocksL.push_back(blockL.release());
  };

  try {
    const bool landmarksL = needsLandmarks(mapL);
    if (landmarksL) prepareLandmarks(descriptorA);
    if (landmarksL && (holdsAnyOf(mapL, kHgmGroup) || threeDimensionalM)) {
      extractFeatures(descriptorA, mapL);
    }
    kxegm::FaceDataStore* storeL = parserM ? &parserM->dataStore() : nullptr;
    const Clock::time_point hgmStartL = Clock::now();
    // The command-made blocks, in filing order. hgmFloat is also made when only vfa3 needs its
    // features.
    std::vector<float> keptFloatL;  // the hgmFloat features, for vfa3
    for (const CommandBlock& b : kCommandBlocks) {
      const bool forVfa3L = b.algorithm == qridy::AlgHgmFloat && mapL.count(qridy::AlgVfa3) != 0;
      if (mapL.count(b.algorithm) == 0 && !forVfa3L) continue;
      const Clock::time_point tL = Clock::now();
      parserM->execute(b.command);
      const kxegm::TemplateGraph& gL = storeL->templateGraph(b.result);
      if ((b.types & (1u << gL.type)) == 0) {
        if (b.algorithm == qridy::AlgHgmRaw) {
          KXXCP_THROW(kCreate, "Unsupported graphType : " << gL.type);
        }
        KXXCP_THROW(kCreate, b.typeError);
      }
      if (b.algorithm == qridy::AlgHgmFloat) keptFloatL = gL.values;
      if (mapL.count(b.algorithm) != 0) addBlockL(b.algorithm, {}, gL.data(), true);
      printTime(b.timing, tL);
    }
    if (holdsAnyOf(mapL, kHgmGroup)) printTime("HGM based template creation took: ", hgmStartL);

    // The engines work on the derotated face and its eyes.
    const auto engineInputL = [&](qrimg::Point2f& rightA, qrimg::Point2f& leftA) {
      const qrimg::FacialFeaturePoints* pL = descriptorA.derotatedFeaturePoints();
      if (descriptorA.derotatedImage() == nullptr || pL == nullptr ||
          !pL->isSet(qrimg::FacialFeaturePoints::RightEye) ||
          !pL->isSet(qrimg::FacialFeaturePoints::LeftEye)) {
        KXXCP_THROW(kCreate, "face descriptor without derotated image and eyes");
      }
      rightA = pL->point(qrimg::FacialFeaturePoints::RightEye);
      leftA = pL->point(qrimg::FacialFeaturePoints::LeftEye);
      return descriptorA.derotatedImage();
    };
    const auto engineL = [&](const char* nameA, bool lfaFamilyA, const auto& bodyA) {
      const Clock::time_point tL = Clock::now();
      try {
        bodyA();
      } catch (const kxxcp::Exception& eA) {
        KXXCP_THROW(kCreate,
                    "Failed to create " << nameA << " Template: kxxcp caught: " << eA.getMessage());
      } catch (const char* textA) {
        if (!lfaFamilyA) {
          KXXCP_THROW(kCreate,
                      "Failed to create " << nameA << " Template: unknown exception caught.");
        }
        KXXCP_THROW(kCreate,
                    "Failed to create " << nameA << " Template: char* exception caught: " << textA);
      } catch (...) {
        KXXCP_THROW(kCreate,
                    "Failed to create " << nameA << " Template: unknown exception caught.");
      }
      if (debugAtLeast(5)) {
        std::cout << nameA << " template block creation took: " << secondsSince(tL) << " s.\n";
      }
    };
    const auto wantsL = [&](Algorithm algorithmA, TemplateCreationType typeA) {
      return algorithmMapContains(mapL, algorithmA, typeA);
    };
    if (mapL.count(qridy::AlgSta) != 0) {
      engineL("STA", false, [&] {
        qrimg::Point2f rL, lL;
        const qrimg::Image* imageL = engineInputL(rL, lL);
        const auto galleryL = wantsL(qridy::AlgSta, TemplateCreationTypeGallery)
                                  ? kxegm::FaceTemplateCreator::createSta(*imageL, rL, lL, true)
                                  : std::vector<unsigned char>();
        const auto probeL = wantsL(qridy::AlgSta, TemplateCreationTypeProbe)
                                ? kxegm::FaceTemplateCreator::createSta(*imageL, rL, lL, false)
                                : std::vector<unsigned char>();
        addBlockL(qridy::AlgSta, probeL, galleryL, false);
      });
    }
    const std::pair<Algorithm, const char*> vfasL[] = {
        {qridy::AlgVfa, "VFA"}, {qridy::AlgVfa2, "VFA2"}, {qridy::AlgVfa3, "VFA3"}};
    for (const auto& [algorithmL, nameL] : vfasL) {
      if (mapL.count(algorithmL) == 0) continue;
      engineL(nameL, false, [&, algorithmL = algorithmL] {
        std::vector<unsigned char> dataL;
        if (algorithmL == qridy::AlgVfa3) {
          dataL = kxegm::FaceTemplateCreator::vfaFromFloat(keptFloatL);
        } else {
          qrimg::Point2f rL, lL;
          const qrimg::Image* imageL = engineInputL(rL, lL);
          dataL = kxegm::FaceTemplateCreator::createVfa(algorithmL == qridy::AlgVfa ? 1 : 2,
                                                        *imageL, rL, lL);
        }
        addBlockL(algorithmL, {}, dataL, true);
      });
    }
    const std::pair<Algorithm, const char*> lfasL[] = {{qridy::AlgLfa, "LFA"},
                                                       {qridy::AlgLfaLowRes, "LFA low res"}};
    for (const auto& [algorithmL, nameL] : lfasL) {
      if (mapL.count(algorithmL) == 0) continue;
      engineL(nameL, true, [&, algorithmL = algorithmL] {
        qrimg::Point2f rL, lL;
        const qrimg::Image* imageL = engineInputL(rL, lL);
        const auto dataL = kxegm::FaceTemplateCreator::createLfa(algorithmL, *imageL, rL, lL);
        const auto emptyL = std::vector<unsigned char>();
        addBlockL(algorithmL, wantsL(algorithmL, TemplateCreationTypeProbe) ? dataL : emptyL,
                  wantsL(algorithmL, TemplateCreationTypeGallery) ? dataL : emptyL, false);
      });
    }
    if (debugAtLeast(5)) {
      std::cout << "face template creation took overall: " << secondsSince(overallL) << " s.\n";
    }
    if (!blocksL.empty()) {
      addGeneratedTemplateBlock(targetA, blocksL, descriptorA, nullptr, 0);
    }
  } catch (...) {
    if (parserM) {
      kxegm::FaceDataStore& storeL = parserM->dataStore();
      storeL.remove("derotatedInputImage");
      storeL.remove("inputTextureImage");
      storeL.remove("inputShapeImage");
    }
    for (qridy::TemplateBlockImp* blockL : blocksL) delete blockL;
    throw;
  }
  if (debugAtLeast(4)) logLine("TemplateGenerator createFaceTemplate done.");
}

}  // namespace qrbase
