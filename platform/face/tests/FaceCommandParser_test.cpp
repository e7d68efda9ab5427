#include <qrlface/FaceCommandParser.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/ExceptionMatchers.h"

namespace kxegm {
namespace {

using FFP = qrimg::FacialFeaturePoints;

std::string commandFile(const std::string& bodyA) {
  return "<?xml version=\"1.0\"?>\n<faceCommands version=\"1\">" + bodyA + "</faceCommands>";
}

std::string allCommands() {
  std::string bodyL;
  for (const std::string& c : FaceCommandParser::commandNames()) {
    bodyL += "<command name=\"" + c + "\"/>";
  }
  return commandFile(bodyL);
}

// A face-like test card: smooth shading with dark blobs for the eyes and the mouth.
qrimg::ByteImage testCard(int offsetA = 0, float contrastA = 1.0f) {
  qrimg::ByteImage imageL(128, 128);
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      float vL = 120.0f + 40.0f * std::sin(x * 0.11f) * std::cos(y * 0.07f);
      for (const auto& [cx, cy] : {std::pair{40, 52}, std::pair{88, 52}, std::pair{64, 105}}) {
        const float dL = std::hypot(static_cast<float>(x - cx), static_cast<float>(y - cy));
        if (dL < 9.0f) vL -= 70.0f * (1.0f - dL / 9.0f);
      }
      imageL.at(x, y) =
          static_cast<unsigned char>(std::clamp(std::lround(vL * contrastA + offsetA), 0L, 255L));
    }
  }
  return imageL;
}

class FaceCommandParserTest : public ::testing::Test {
 protected:
  // Runs the landmark step and the feature extraction on the test card.
  void extract(FaceCommandParser& parserA, const qrimg::ByteImage& imageA) {
    FaceDataStore& s = parserA.dataStore();
    FFP eyesL;
    eyesL.set(FFP::RightEye, {40.0f, 52.0f});
    eyesL.set(FFP::LeftEye, {88.0f, 52.0f});
    s.setFeaturePoints("ffpDerotatedImage", eyesL);
    s.setImage("derotatedInputImage", imageA);
    s.setGraph("derotationInfoGraph",
               FaceGraph::derotation({200.0f, 300.0f}, {296.0f, 300.0f}, 48.0f, {64.0f, 52.0f}));
    parserA.execute("ilm");
    s.setGraph("graphForFeatureExtraction", s.graph("outgraphForFeatureExtraction"));
    s.setImage("imageForFeatureExtraction", s.image("outimageForFeatureExtraction"));
    parserA.execute("prepareHgmFeatureExtraction");
    parserA.execute("performHgmFeatureExtraction");
  }
  std::unique_ptr<FaceCommandParser> readyParser() {
    auto parserL = std::make_unique<FaceCommandParser>(2);
    parserL->loadText(allCommands(), "all");
    for (const char* c : {"startUpIlm", "startUpHgmFeatureExtraction", "startUpHgmPromatSelector",
                          "startUpFastHgmPromatSelector", "startUpCcaPromatSelector"}) {
      parserL->execute(c);
    }
    return parserL;
  }
};

TEST_F(FaceCommandParserTest, CommandNamesAreTheKnownCommands) {
  const std::vector<std::string> expectedL = {"createCca",
                                              "createFastHgm",
                                              "createFastHgmRaw",
                                              "createHgm",
                                              "createHgmByte",
                                              "createHgmFloat",
                                              "createHgmRaw",
                                              "doBackgroundsupression",
                                              "ilm",
                                              "performHgmFeatureExtraction",
                                              "prepareHgmFeatureExtraction",
                                              "startUpCcaPromatSelector",
                                              "startUpFastHgmPromatSelector",
                                              "startUpHgmFeatureExtraction",
                                              "startUpHgmPromatSelector",
                                              "startUpIlm"};
  EXPECT_EQ(FaceCommandParser::commandNames(), expectedL);
}

TEST_F(FaceCommandParserTest, RefusesFaultyCommandFiles) {
  const std::vector<std::pair<std::string, std::string>> casesL = {
      {"<faceCommands version=\"1\">", "Invalid face command file 'f': "},
      {"<commands version=\"1\"/>",
       "Invalid face command file 'f': the root element is not 'faceCommands'"},
      {"<faceCommands version=\"2\"/>", "Invalid face command file 'f': unsupported version '2'"},
      {"<!DOCTYPE faceCommands [<!ENTITY x \"y\">]><faceCommands version=\"1\"/>",
       "Invalid face command file 'f': a document type declaration is not allowed"},
      {commandFile("<step name=\"ilm\"/>"),
       "Invalid face command file 'f': unexpected element 'step'"},
      {commandFile("<command name=\"warp\"/>"), "Unknown face command 'warp'."},
      {commandFile("<command name=\"ilm\"/><command name=\"ilm\"/>"),
       "Face command 'ilm' defined twice."},
      {commandFile("<command name=\"startUpIlm\" rows=\"3\"/>"),
       "Unknown setting 'rows' of face command 'startUpIlm'."},
      {commandFile("<command name=\"startUpIlm\" gridRows=\"4x\"/>"),
       "Invalid setting 'gridRows' of face command 'startUpIlm': '4x'."},
      {commandFile("<command name=\"startUpIlm\" gridRows=\"inf\"/>"),
       "Invalid setting 'gridRows' of face command 'startUpIlm': 'inf'."},
      {commandFile("<command name=\"startUpIlm\" gridRows=\"\"/>"),
       "Invalid setting 'gridRows' of face command 'startUpIlm': ''."},
  };
  for (const auto& [textL, messageL] : casesL) {
    FaceCommandParser parserL;
    if (messageL.back() == ' ') {
      EXPECT_KXXCP_PREFIX(parserL.loadText(textL, "f"), messageL);
    } else {
      EXPECT_KXXCP_MESSAGE(parserL.loadText(textL, "f"), messageL);
    }
  }
  FaceCommandParser parserL;
  EXPECT_KXXCP_MESSAGE(parserL.load("/nonexistent/commands.xml"),
                       "Cannot open face command file '/nonexistent/commands.xml'.");
  EXPECT_KXXCP_MESSAGE(parserL.loadText(std::string((1 << 20) + 1, ' '), "big"),
                       "Face command file too large 'big'.");
  // Files: exactly 1 MiB is read (and parsed), one byte more is refused.
  const std::string pathL = ::testing::TempDir() + "/face_commands_size.xml";
  std::string textL = commandFile("");
  textL += std::string((1 << 20) - textL.size(), ' ');
  std::ofstream(pathL, std::ios::binary) << textL;
  EXPECT_NO_THROW(parserL.load(pathL));
  std::ofstream(pathL, std::ios::binary) << textL << ' ';
  EXPECT_KXXCP_MESSAGE(parserL.load(pathL), "Face command file too large '" + pathL + "'.");
}

TEST_F(FaceCommandParserTest, AFailedLoadKeepsTheCommandsLoadedBefore) {
  FaceCommandParser parserL;
  parserL.loadText(commandFile("<command name=\"ilm\"/>"), "good");
  EXPECT_THROW(parserL.loadText(commandFile("<command name=\"warp\"/>"), "bad"), kxxcp::Exception);
  EXPECT_TRUE(parserL.defines("ilm"));
  EXPECT_FALSE(parserL.defines("createHgm"));
}

TEST_F(FaceCommandParserTest, CommandsCheckTheirOrderAndInputs) {
  FaceCommandParser parserL;
  parserL.loadText(commandFile("<command name=\"ilm\"/><command name=\"startUpIlm\" "
                               "gridRows=\"1\"/><command name=\"createHgm\"/>"
                               "<command name=\"performHgmFeatureExtraction\"/>"
                               "<command name=\"startUpHgmFeatureExtraction\"/>"
                               "<command name=\"prepareHgmFeatureExtraction\"/>"),
                   "f");
  EXPECT_KXXCP_MESSAGE(parserL.execute("warp"), "Unknown face command 'warp'.");
  EXPECT_KXXCP_MESSAGE(parserL.execute("createHgmByte"),
                       "The face command file does not define 'createHgmByte'.");
  EXPECT_KXXCP_MESSAGE(parserL.execute("ilm"), "Face command 'ilm' needs 'startUpIlm'.");
  EXPECT_KXXCP_MESSAGE(parserL.execute("startUpIlm"),
                       "Invalid setting 'gridRows' of face command 'startUpIlm': '1x6'.");
  EXPECT_KXXCP_MESSAGE(parserL.execute("createHgm"),
                       "Face command 'createHgm' needs 'startUpHgmPromatSelector'.");
  EXPECT_KXXCP_MESSAGE(parserL.execute("performHgmFeatureExtraction"),
                       "Face command 'performHgmFeatureExtraction' needs "
                       "'startUpHgmFeatureExtraction'.");
  parserL.execute("startUpHgmFeatureExtraction");
  EXPECT_KXXCP_MESSAGE(parserL.execute("performHgmFeatureExtraction"),
                       "Face command 'performHgmFeatureExtraction' needs "
                       "'prepareHgmFeatureExtraction'.");
  EXPECT_KXXCP_MESSAGE(parserL.execute("prepareHgmFeatureExtraction"),
                       "Face data store has no graph 'graphForFeatureExtraction'.");
}

TEST_F(FaceCommandParserTest, IlmPlacesTheGridFromTheEyes) {
  const auto parserP = readyParser();
  FaceCommandParser& parserL = *parserP;
  extract(parserL, testCard());
  const FaceDataStore& s = parserL.dataStore();
  const FaceGraph& landmarksL = s.graph("landMarkGraph");
  const FaceGraph& featureL = s.graph("outgraphForFeatureExtraction");
  ASSERT_EQ(landmarksL.nodeCount(), 36u);
  EXPECT_EQ(landmarksL.kind(), FaceGraph::KindLandmark);
  EXPECT_EQ(featureL.kind(), FaceGraph::KindFeatureExtraction);
  EXPECT_EQ(featureL.edges().size(), 60u);  // 6 rows and 6 columns of 5 edges
  // Corners: eye centre (64, 52) + 48 * (u, v) for u = -1, 1 and v = -0.55, 1.45.
  const std::vector<std::pair<int, qrimg::Point2f>> cornersL = {
      {0, {16.0f, 25.6f}}, {5, {112.0f, 25.6f}}, {30, {16.0f, 121.6f}}, {35, {112.0f, 121.6f}}};
  for (const auto& [nodeL, pointL] : cornersL) {
    EXPECT_NEAR(featureL.nodes()[nodeL].position.x, pointL.x, 1e-3) << nodeL;
    EXPECT_NEAR(featureL.nodes()[nodeL].position.y, pointL.y, 1e-3) << nodeL;
    EXPECT_EQ(featureL.nodes()[nodeL].label, static_cast<std::uint32_t>(nodeL));
  }
  EXPECT_EQ(landmarksL.toImage(), s.graph("derotationInfoGraph").toImage());
  // The eyes in input coordinates: the derotation graph was made for eyes at (200|296, 300).
  const FFP& inputL = s.featurePoints("ffpInputImage");
  EXPECT_NEAR(inputL.point(FFP::RightEye).x, 200.0f, 1e-3);
  EXPECT_NEAR(inputL.point(FFP::LeftEye).x, 296.0f, 1e-3);
  EXPECT_NEAR(inputL.point(FFP::LeftEye).y, 300.0f, 1e-3);
  EXPECT_TRUE(inputL.isSet(FFP::MouthCentre));
  EXPECT_GT(inputL.point(FFP::MouthCentre).y, 300.0f);
}

TEST_F(FaceCommandParserTest, TemplateFormsAgreeWithTheJets) {
  const auto parserP = readyParser();
  FaceCommandParser& parserL = *parserP;
  extract(parserL, testCard());
  FaceDataStore& s = parserL.dataStore();
  EXPECT_EQ(s.number("hgmFeatureNodes"), 36.0);
  EXPECT_EQ(s.featureArray("hgmFeatureJets").size(), 36u * 32u);
  for (const char* c : {"createHgmRaw", "createHgm", "createHgmFloat", "createHgmByte",
                        "createFastHgmRaw", "createFastHgm", "createCca"}) {
    parserL.execute(c);
  }
  const TemplateGraph& floatL = s.templateGraph("hgmFloatTemplate");
  const TemplateGraph& bitL = s.templateGraph("hgmTemplate");
  const TemplateGraph& byteL = s.templateGraph("hgmByteTemplate");
  const TemplateGraph& rawL = s.templateGraph("hgmRawTemplate");
  EXPECT_EQ(floatL.type, TemplateGraph::TypeFloat);
  EXPECT_EQ(bitL.type, TemplateGraph::TypeBit);
  EXPECT_EQ(byteL.type, TemplateGraph::TypeByte);
  EXPECT_EQ(rawL.type, TemplateGraph::TypeRaw);
  EXPECT_EQ(floatL.data().size(), 36u * 32u * 4u);
  EXPECT_EQ(bitL.data().size(), 36u * 32u / 8u);
  EXPECT_EQ(byteL.data().size(), 36u * 32u);
  // The fast forms keep the 9 nodes of even rows and columns.
  EXPECT_EQ(s.templateGraph("fastHgmRawTemplate").nodes, 9u);
  EXPECT_EQ(s.templateGraph("fastHgmTemplate").bytes.size(), 9u * 32u / 8u);
  EXPECT_EQ(s.templateGraph("ccaTemplate").bytes.size(), 36u * 32u / 8u);
  double normL = 0.0;
  for (float v : floatL.values) normL += double{v} * v;
  EXPECT_NEAR(normL, 1.0, 1e-4);
  for (std::size_t i = 0; i < floatL.values.size(); ++i) {
    const bool bitSetL = (bitL.bytes[i / 8] >> (7 - i % 8)) & 1;
    ASSERT_EQ(bitSetL, floatL.values[i] > 0.0f) << i;
  }
  // The fast raw template is the raw template of the nodes it keeps (node 2 = row 0, col 2).
  const TemplateGraph& fastL = s.templateGraph("fastHgmRawTemplate");
  for (std::size_t k = 0; k < 32; ++k) {
    EXPECT_FLOAT_EQ(fastL.values[32 + k], rawL.values[2 * 32 + k]);
  }
}

TEST_F(FaceCommandParserTest, FeaturesBarelyChangeWithLighting) {
  const auto parserP = readyParser();
  FaceCommandParser& parserL = *parserP;
  extract(parserL, testCard());
  parserL.execute("createHgmFloat");
  const std::vector<float> brightL = parserL.dataStore().templateGraph("hgmFloatTemplate").values;
  extract(parserL, testCard(-40, 0.6f));
  parserL.execute("createHgmFloat");
  const std::vector<float> darkL = parserL.dataStore().templateGraph("hgmFloatTemplate").values;
  double cosL = 0.0;
  for (std::size_t i = 0; i < brightL.size(); ++i) cosL += double{brightL[i]} * darkL[i];
  EXPECT_GT(cosL, 0.95);
}

TEST_F(FaceCommandParserTest, BackgroundSuppressionFillsOutsideTheFace) {
  const auto parserP = readyParser();
  FaceCommandParser& parserL = *parserP;
  FaceDataStore& s = parserL.dataStore();
  FaceGraph graphL;
  graphL.addNode({54.0f, 54.0f});
  graphL.addNode({74.0f, 74.0f});
  s.setGraph("graphForFeatureExtraction", graphL);
  qrimg::ByteImage imageL(128, 128, 200);
  for (int y = 60; y < 68; ++y) {
    for (int x = 60; x < 68; ++x) imageL.at(x, y) = 100;  // inside the ellipse
  }
  s.setImage("imageForFeatureExtraction", imageL);
  parserL.execute("doBackgroundsupression");
  const auto& outL = dynamic_cast<const qrimg::ByteImage&>(s.image("backgroundSupressedImage"));
  EXPECT_EQ(outL.at(64, 64), 100);
  EXPECT_EQ(outL.at(64, 50), 200);  // inside, unchanged
  EXPECT_LT(outL.at(0, 0), 200);    // outside: the mean inside, darkened by the square
  EXPECT_GT(outL.at(0, 0), 100);
  EXPECT_EQ(outL.at(0, 0), outL.at(127, 127));
}

}  // namespace
}  // namespace kxegm
