#include <quarlen/TemplateGenerator.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/FaceDataStore.h>
#include <quarlen/EyeLocator.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateMetaDataFace.h>

#include "support/ExampleConfig.h"
#include "support/ExceptionMatchers.h"

namespace qrbase {
namespace {

using qridy::Algorithm;

// Exposes the protected parameter lookup.
class TestGenerator : public TemplateGenerator {
 public:
  using TemplateGenerator::getParameter;
};

// A synthetic located face: textured image, eyes 60 pixels apart.
std::unique_ptr<FaceDescriptor> syntheticFace() {
  qrimg::ByteImage imageL(240, 240);
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 240; ++x) {
      imageL.at(x, y) = static_cast<unsigned char>(
          128 + 60 * std::sin(x * 0.21) * std::cos(y * 0.13) + 30 * std::sin((x + y) * 0.05));
    }
  }
  return std::unique_ptr<FaceDescriptor>(EyeLocator::describeFace(
      imageL, {90.0f, 100.0f}, {150.0f, 100.0f}, qrimg::Roi(60, 60, 120, 120), 3.0f, true));
}

const std::string kGeneration = "[TEMPLATE_GENERATION]\n";

class TemplateGeneratorTest : public ::testing::Test {
 protected:
  static void initWith(TemplateGenerator& generatorA, std::vector<Algorithm> algorithmsA,
                       TemplateCreationMode modeA = TemplateCreationModeNormalC,
                       float shapeScaleA = 0.0f) {
    generatorA.init("a", "b", 1, modeA, algorithmsA.data(),
                    static_cast<unsigned>(algorithmsA.size()), shapeScaleA);
  }
  static const qridy::TemplateImp& onlyTemplate(const qridy::IdRecordImp& recordA) {
    const auto keysL = recordA.getTemplateKeys(qridy::ModalityFace, qridy::InstanceFaceFrontal);
    EXPECT_EQ(keysL.size(), 1u);
    return *recordA.getTemplateByKey(keysL.at(0));
  }
  quarlen_test::ExampleConfig configM;
};

TEST_F(TemplateGeneratorTest, InitRefusesWhatItCannotMake) {
  const std::string prefixL = "Failed to initialize Template Generation.\nkxxcp caught: ";
  TemplateGenerator generatorL;
  const std::vector<std::tuple<TemplateCreationMode, std::vector<Algorithm>, std::string>> casesL =
      {
          {TemplateCreationModeAdaptationC,
           {qridy::AlgHgm},
           "TemplateGeneratorMode \"Adaptation\" not supported any longer. Select the algorithms "
           "\"HgmRaw\" or \"FastHgmRaw\" instead."},
          {static_cast<TemplateCreationMode>(7),
           {qridy::AlgHgm},
           "unknown TemplateGeneratorMode: 7"},
          {TemplateCreationModeNormalC,
           {qridy::AlgHgm, qridy::AlgHgmPyr},
           "Algorithm 'hgmPyr' is not supported by the face library."},
          {TemplateCreationModeNormalC,
           {qridy::AlgL2f},
           "Algorithm 'l2f' is not supported by the face library."},
      };
  for (const auto& [modeL, algorithmsL, messageL] : casesL) {
    EXPECT_KXXCP_MESSAGE(initWith(generatorL, algorithmsL, modeL), prefixL + messageL);
  }
  configM.install(kGeneration + "XmlFile = /nonexistent/commands.xml\n");
  EXPECT_KXXCP_MESSAGE(initWith(generatorL, {qridy::AlgHgm}),
                       prefixL + "Cannot open face command file '/nonexistent/commands.xml'.");
  EXPECT_TRUE(generatorL.algorithmMap().empty());
}

TEST_F(TemplateGeneratorTest, ReadsItsConfiguration) {
  TemplateGenerator generatorL;
  generatorL.init(nullptr, nullptr, 1, TemplateCreationModeFastC, nullptr, 0, 0.0f);
  const AlgorithmMap expectedL = {{qridy::AlgHgm, TemplateCreationTypeGalleryAndProbe},
                                  {qridy::AlgHgmFloat, TemplateCreationTypeGalleryAndProbe},
                                  {qridy::AlgHgmByte, TemplateCreationTypeGalleryAndProbe}};
  EXPECT_EQ(generatorL.algorithmMap(), expectedL);
  EXPECT_FALSE(generatorL.threeDimensionalMode());
  // The three-dimensional mode does not take the default algorithms.
  TemplateGenerator threeDL;
  threeDL.init(nullptr, nullptr, 1, TemplateCreationMode3dC, nullptr, 0, 0.0f);
  EXPECT_TRUE(threeDL.algorithmMap().empty());
  EXPECT_TRUE(threeDL.threeDimensionalMode());
  // Only lfa without the landmark eyes: no command interpreter at all.
  TemplateGenerator lfaL;
  initWith(lfaL, {qridy::AlgLfa});
  EXPECT_EQ(lfaL.dataStore(), nullptr);
  EXPECT_FALSE(lfaL.lfaUsesIlmEyepos());
  configM.install(kGeneration + "lfaUsesIlmEyepos = true\n");
  TemplateGenerator lfaIlmL;
  initWith(lfaIlmL, {qridy::AlgLfa});
  EXPECT_NE(lfaIlmL.dataStore(), nullptr);
  EXPECT_TRUE(lfaIlmL.lfaUsesIlmEyepos());
}

TEST_F(TemplateGeneratorTest, InitLogsItsStepsByDiagnosticLevel) {
  std::vector<std::string> logL;
  const kxntc::Sink previousL = kxntc::setSink([&](kxntc::Level levelA, const std::string& textA) {
    if (levelA == kxntc::Level::log) logL.push_back(textA);
  });
  const int savedL = kxutl::QuarlenInformation::debugLevelS;
  kxutl::QuarlenInformation::debugLevelS = 0;
  TemplateGenerator quietL;
  initWith(quietL, {qridy::AlgHgm});
  const std::vector<std::string> quietLogL = logL;
  kxutl::QuarlenInformation::debugLevelS = 3;
  TemplateGenerator generatorL;
  initWith(generatorL, {qridy::AlgHgm, qridy::AlgSta});
  generatorL.init(nullptr, nullptr, 1, TemplateCreationModeNormalC, nullptr, 0, 0.0f);
  kxutl::QuarlenInformation::debugLevelS = savedL;
  kxntc::setSink(previousL);
  EXPECT_TRUE(quietLogL.empty());
  const std::vector<std::string> expectedL = {
      "\nTemplateGeneration: Initializing user defined Algorithms.\n",
      "HGM and ILM based algorithms initialized",
      "startUpHgmFeatureExtraction initialized",
      "startUpHgmPromatSelector initialized",
      "STA initialized",
      "TemplateGenerator initializing done.",
      "\nTemplateGeneration: Initializing default face Algorithms.\n",
      "HGM and ILM based algorithms initialized",
      "startUpHgmFeatureExtraction initialized",
      "startUpHgmPromatSelector initialized",
      "TemplateGenerator initializing done."};
  EXPECT_EQ(logL, expectedL);
}

TEST_F(TemplateGeneratorTest, ShapeScaleSetsTheCommandParameter) {
  const std::vector<std::pair<float, std::string>> casesL = {
      {0.0f, ""}, {-1.0f, ""}, {1.0f, "6.35238"}, {2.0f, "12.7048"}, {0.5f, "3.17619"}};
  for (const auto& [scaleL, textL] : casesL) {
    TestGenerator generatorL;
    initWith(generatorL, {qridy::AlgHgm}, TemplateCreationModeNormalC, scaleL);
    EXPECT_EQ(generatorL.getParameter(FaceParameterShapeScaleFactor), textL) << scaleL;
    EXPECT_EQ(generatorL.dataStore()->parameter("AFIG_shapeScaleFactor"), textL) << scaleL;
  }
  TestGenerator generatorL;
  generatorL.setParameter(FaceParameterShapeScaleFactor, "9");
  EXPECT_EQ(generatorL.getParameter(FaceParameterShapeScaleFactor), "9");
  initWith(generatorL, {qridy::AlgHgm});
  EXPECT_EQ(generatorL.dataStore()->parameter("AFIG_shapeScaleFactor"), "9");
  EXPECT_KXXCP_MESSAGE(generatorL.setParameter(static_cast<FaceTemplateCreationParameter>(5), "1"),
                       "Unknown face template creation parameter '5'.");
}

TEST_F(TemplateGeneratorTest, MakesOneBlockPerAlgorithmInItsForm) {
  TemplateGenerator generatorL;
  initWith(generatorL,
           {qridy::AlgHgm, qridy::AlgFmf, qridy::AlgFHgm, qridy::AlgSta, qridy::AlgVfa,
            qridy::AlgLfa, qridy::AlgLfaLowRes, qridy::AlgHgmRaw, qridy::AlgHgmFloat,
            qridy::AlgHgmByte, qridy::AlgVfa2, qridy::AlgCca, qridy::AlgFHgmRaw, qridy::AlgVfa3});
  const std::unique_ptr<FaceDescriptor> faceL = syntheticFace();
  qridy::IdRecordImp recordL;
  generatorL.createFaceTemplate(*faceL, recordL, {});
  const qridy::TemplateImp& templateL = onlyTemplate(recordL);
  // algorithm, probe bytes (0: symmetric, gallery only), gallery bytes.
  const std::vector<std::tuple<Algorithm, unsigned, unsigned>> expectedL = {
      {qridy::AlgHgmRaw, 0, 36 * 32 * 4},
      {qridy::AlgHgm, 0, 36 * 32 / 8},
      {qridy::AlgHgmByte, 0, 36 * 32},
      {qridy::AlgHgmFloat, 0, 36 * 32 * 4},
      {qridy::AlgCca, 0, 36 * 32 / 8},
      {qridy::AlgFHgmRaw, 0, 9 * 32 * 4},
      {qridy::AlgFHgm, 0, 9 * 32 / 8},
      {qridy::AlgSta, 8 + 25 * (4 + 32 * 4), 8 + 25 * (4 + 32)},
      {qridy::AlgVfa, 0, 36 * 32},
      {qridy::AlgVfa2, 0, 36 * 32},
      {qridy::AlgVfa3, 0, 36 * 32},
      {qridy::AlgLfa, 14 + 16 * 32, 14 + 16 * 32},
      {qridy::AlgLfaLowRes, 14 + 16 * 32, 14 + 16 * 32}};
  EXPECT_EQ(templateL.numberOfTemplateBlocks(), expectedL.size());
  qridy::TemplateMetaDataFace metaL;
  for (const auto& [algorithmL, probeL, galleryL] : expectedL) {
    const qridy::TemplateBlockImp* blockL = templateL.getTemplateBlock(algorithmL);
    ASSERT_NE(blockL, nullptr) << algorithmL;
    EXPECT_EQ(blockL->isSymmetric(), probeL == 0) << algorithmL;
    EXPECT_EQ(blockL->gallerySize(), galleryL) << algorithmL;
    EXPECT_EQ(blockL->probeSize(), probeL == 0 ? galleryL : probeL) << algorithmL;
    // Every block carries the same face metadata: the checked image's size, quality 100 / 10.
    metaL.setData(blockL->metaDataPtr(), blockL->metaDataSize());
    EXPECT_EQ(metaL.imageWidth(), 240) << algorithmL;
    EXPECT_EQ(metaL.imageHeight(), 240) << algorithmL;
    EXPECT_FLOAT_EQ(metaL.quality(), 10.0f) << algorithmL;
  }
  // The landmark step left its results in the descriptor and its inputs nowhere.
  EXPECT_EQ(faceL->landmarks().size(), 36u);
  EXPECT_EQ(faceL->landmarkGraph()->nodeCount(), 36u);
  EXPECT_EQ(faceL->featureExtractionGraph()->nodeCount(), 36u);
  EXPECT_EQ(faceL->landmarks()[0], faceL->landmarkGraph()->imagePositions()[0]);
  EXPECT_FALSE(generatorL.dataStore()->contains("derotatedInputImage"));
  EXPECT_FALSE(generatorL.dataStore()->contains("imageForFeatureExtraction"));
}

TEST_F(TemplateGeneratorTest, RequestsNarrowTheUses) {
  TemplateGenerator generatorL;
  initWith(generatorL, {qridy::AlgSta, qridy::AlgLfa});
  const std::unique_ptr<FaceDescriptor> faceL = syntheticFace();
  qridy::IdRecordImp recordL;
  generatorL.createFaceTemplate(
      *faceL, recordL,
      {{qridy::AlgSta, TemplateCreationTypeGallery}, {qridy::AlgLfa, TemplateCreationTypeProbe}});
  const qridy::TemplateImp& templateL = onlyTemplate(recordL);
  EXPECT_EQ(templateL.getTemplateBlock(qridy::AlgSta)->probeSize(), 0u);
  EXPECT_GT(templateL.getTemplateBlock(qridy::AlgSta)->gallerySize(), 0u);
  EXPECT_GT(templateL.getTemplateBlock(qridy::AlgLfa)->probeSize(), 0u);
  EXPECT_EQ(templateL.getTemplateBlock(qridy::AlgLfa)->gallerySize(), 0u);
}

TEST_F(TemplateGeneratorTest, FilesNothingWhenAnythingFails) {
  TemplateGenerator generatorL;
  initWith(generatorL, {qridy::AlgHgm, qridy::AlgSta});
  std::unique_ptr<FaceDescriptor> faceL = syntheticFace();
  qridy::IdRecordImp recordL;
  EXPECT_KXXCP_MESSAGE(
      generatorL.createFaceTemplate(*faceL, recordL,
                                    {{qridy::AlgHgm, TemplateCreationTypeGallery},
                                     {qridy::AlgLfa, TemplateCreationTypeGallery},
                                     {qridy::AlgVfa, TemplateCreationTypeGallery}}),
      "Error face template creation. Algorithms vfa,lfa not initialized.");
  // Without derotated eyes the landmark step falls back on the input eyes, STA fails after the
  // hgm block was made.
  faceL->setDerotatedFeaturePoints(nullptr);
  EXPECT_KXXCP_MESSAGE(generatorL.createFaceTemplate(*faceL, recordL, {}),
                       "Failed to create STA Template: kxxcp caught: face descriptor without "
                       "derotated image and eyes");
  EXPECT_FALSE(generatorL.dataStore()->contains("derotatedInputImage"));
  faceL = syntheticFace();
  faceL->setDerotatedImage(nullptr);
  EXPECT_KXXCP_MESSAGE(generatorL.createFaceTemplate(*faceL, recordL, {}),
                       "TG::createFaceTemplate: face descriptor without derotation.");
  faceL->setValid(false);
  EXPECT_KXXCP_MESSAGE(generatorL.createFaceTemplate(*faceL, recordL, {}),
                       "TG::createFaceTemplate: invalid face descriptor");
  EXPECT_EQ(recordL.nBioRecords(), 0u);
}

}  // namespace
}  // namespace qrbase
