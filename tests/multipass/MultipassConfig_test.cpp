#include <quarlen/MultipassConfig.h>

#include <cmath>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include "support/Environment.h"

namespace qrbase {
namespace {

using qridy::AlgHgm;
using qridy::AlgLfa;
using qridy::AlgUnknown;
using qridy::InstanceAny;
using qridy::InstanceFaceFrontal;
using qridy::ModalityAny;
using qridy::ModalityFace;

// A stage element with every attribute; replacements are given as (name, value) pairs, a value
// of nullptr leaves the attribute out.
std::string stage(std::vector<std::pair<const char*, const char*>> changesA = {},
                  const std::string& bodyA = "") {
  std::vector<std::pair<const char*, const char*>> attrsL = {
      {"modality", "face"},
      {"instance", "faceFrontal"},
      {"algorithm", "hgm"},
      {"filterScore", "true"},
      {"globalWeight", "0.75"},
      {"resultLengthMax", "300,100"},
      {"resultLengthMin", "50"},
      {"nThreads", "2"},
      {"resultLengthLocalPercent", "80,60"},
      {"resultLengthGlobalPercent", "90"},
      {"useNormalization", "true"},
      {"isRequired", "false"},
  };
  for (const auto& [name, value] : changesA) {
    for (auto& attr : attrsL) {
      if (std::string(attr.first) == name) attr.second = value;
    }
  }
  std::string xmlL = "<stage";
  for (const auto& [name, value] : attrsL) {
    if (value) xmlL += std::string(" ") + name + "=\"" + value + "\"";
  }
  return xmlL + ">" + bodyA + "</stage>";
}

std::string document(const std::string& sectionsA) {
  return "<?xml version=\"1.0\"?>\n<pipelines>\n" + sectionsA + "\n</pipelines>\n";
}

std::string section(const std::string& idA, const std::string& contentA) {
  return "<multipass id=\"" + idA + "\">" + contentA + "</multipass>";
}

class MultipassConfigTest : public ::testing::Test {
 protected:
  // Reads the section idA of xmlA from a file; returns the error message or "".
  std::string readFile(const std::string& xmlA, const std::string& idA = "p") {
    try {
      configM.read(dirM.write("pipeline.xml", xmlA), idA);
    } catch (const kxxcp::Exception& e) {
      EXPECT_EQ(e.getFunction(), "qrbase::MultipassConfig::read");
      return e.getMessage();
    }
    return "";
  }

  quarlen_test::TempDir dirM;
  MultipassConfig configM;
};

TEST_F(MultipassConfigTest, DefaultsOfAStageAndAnEmptyConfiguration) {
  const MultipassConfig::Matchmode m;
  EXPECT_EQ(m.modality, 0u);
  EXPECT_EQ(m.algorithm, AlgUnknown);
  EXPECT_EQ(m.globalWeight, 1.0f);
  EXPECT_TRUE(m.useNormalization);
  EXPECT_TRUE(m.isRequired);
  EXPECT_EQ(m.nThreads, 1.0f);
  EXPECT_EQ(m.resultLengthMax, 1000u);
  EXPECT_EQ(m.resultLengthMin, 1000u);
  EXPECT_EQ(m.resultLengthLocalPercent, 100.0f);
  EXPECT_EQ(m.resultLengthGlobalPercent, 100.0f);
  EXPECT_EQ(m.userThreshold, -100.0f);
  EXPECT_TRUE(m.filterScore);
  EXPECT_EQ(configM.getNumberOfStages(), 0u);
  EXPECT_EQ(configM.getProcessing(), MultipassConfig::ProcessingSequential);
  EXPECT_FALSE(configM.isMissAnalysis());
  EXPECT_FALSE(configM.setDataToAllStages(MultipassConfig::ResultLengthMax, 5.0f));
}

TEST_F(MultipassConfigTest, ReadsTheRequestedSectionOnly) {
  const std::string xmlL =
      document(section("other", stage({{"algorithm", "lfa"}})) + "<!-- note -->" +
               section("p", "\n  <common processing=\"parallel\"/>\n  " +
                                stage({}, "[Additional]\nsearchMode=2\n") + "<unknown/>" +
                                stage({{"algorithm", "lfa"}, {"resultLengthMax", "40"}})));
  ASSERT_EQ(readFile(xmlL), "");
  EXPECT_EQ(configM.getPipelineId(), "p");
  EXPECT_EQ(configM.getProcessing(), MultipassConfig::ProcessingParallel);
  ASSERT_EQ(configM.getNumberOfStages(), 2u);
  const auto& s0 = configM.getStage(0);
  EXPECT_EQ(s0.modality, ModalityFace);
  EXPECT_EQ(s0.instance, InstanceFaceFrontal);
  EXPECT_EQ(s0.algorithm, AlgHgm);
  EXPECT_TRUE(s0.filterScore);
  EXPECT_EQ(s0.globalWeight, 0.75f);
  EXPECT_EQ(s0.resultLengthMax, 300u);
  EXPECT_EQ(s0.resultLengthMaxList, (std::vector<std::uint32_t>{300, 100}));
  EXPECT_EQ(s0.resultLengthMin, 50u);
  EXPECT_EQ(s0.nThreads, 2.0f);
  EXPECT_EQ(s0.resultLengthLocalPercent, 80.0f);
  EXPECT_EQ(s0.resultLengthGlobalPercent, 90.0f);
  EXPECT_TRUE(s0.useNormalization);
  EXPECT_FALSE(s0.isRequired);
  EXPECT_EQ(s0.additionalParameters, "[Additional]\nsearchMode=2\n");
  EXPECT_EQ(configM.getStage(1).algorithm, AlgLfa);
  EXPECT_THROW(configM.getStage(2), kxxcp::Exception);

  // The per-algorithm limits take the last value of each list.
  MultipassConfig::ResultLengthLimits limitsL;
  ASSERT_TRUE(configM.getResultLengthLimits(AlgHgm, limitsL));
  EXPECT_EQ(limitsL.resultLengthMax, 100u);
  EXPECT_EQ(limitsL.resultLengthMin, 50u);
  EXPECT_EQ(limitsL.resultLengthLocalPercent, 60.0f);
  EXPECT_FALSE(configM.getResultLengthLimits(qridy::AlgSta, limitsL));
  EXPECT_TRUE(configM.isConfigured({ModalityFace, InstanceFaceFrontal, AlgLfa}));
  EXPECT_FALSE(configM.isConfigured({ModalityFace, InstanceFaceFrontal, qridy::AlgVfa}));

  // Reading another section starts over.
  ASSERT_EQ(readFile(xmlL, "nothing"), "");
  EXPECT_EQ(configM.getNumberOfStages(), 0u);
  EXPECT_FALSE(configM.getResultLengthLimits(AlgHgm, limitsL));
}

TEST_F(MultipassConfigTest, AttributeValuesFollowAtoiAndAtof) {
  ASSERT_EQ(readFile(document(section("p", stage({{"filterScore", "True"},
                                                  {"useNormalization", "yes"},
                                                  {"globalWeight", "abc"},
                                                  {"nThreads", "3x"},
                                                  {"resultLengthMax", "300,,100,"},
                                                  {"resultLengthMin", " 7 , 8"},
                                                  {"resultLengthGlobalPercent", "12.5e1"}})))),
            "");
  const auto& s = configM.getStage(0);
  EXPECT_FALSE(s.filterScore);  // only the exact lower-case "true" is true
  EXPECT_FALSE(s.useNormalization);
  EXPECT_EQ(s.globalWeight, 0.0f);
  EXPECT_EQ(s.nThreads, 3.0f);
  EXPECT_EQ(s.resultLengthMaxList, (std::vector<std::uint32_t>{300, 100}));
  EXPECT_EQ(s.resultLengthMinList, (std::vector<std::uint32_t>{7, 8}));
  EXPECT_EQ(s.resultLengthGlobalPercent, 125.0f);
}

TEST_F(MultipassConfigTest, MissingStageAttributesAreCollected) {
  const std::string xmlL = document(
      section("p", stage() + stage({{"nThreads", nullptr}, {"isRequired", nullptr}}) + stage()));
  EXPECT_EQ(readFile(xmlL), "Missing parameter(s) in tag <stage> (2) : nThreads isRequired ");
  // The stages up to the failing one are kept; the per-algorithm limits are not rebuilt.
  EXPECT_EQ(configM.getNumberOfStages(), 2u);
  MultipassConfig::ResultLengthLimits limitsL;
  EXPECT_FALSE(configM.getResultLengthLimits(AlgHgm, limitsL));

  std::vector<std::pair<const char*, const char*>> noneL;
  for (const char* name :
       {"modality", "instance", "algorithm", "filterScore", "globalWeight", "resultLengthMax",
        "resultLengthMin", "nThreads", "resultLengthLocalPercent", "resultLengthGlobalPercent",
        "useNormalization", "isRequired"}) {
    noneL.push_back({name, nullptr});
  }
  EXPECT_EQ(readFile(document(section("p", stage(noneL)))),
            "Missing parameter(s) in tag <stage> (1) : modality instance algorithm filterScore "
            "globalWeight resultLengthMax resultLengthMin nThreads resultLengthLocalPercent "
            "resultLengthGlobalPercent useNormalization isRequired ");
  // An empty attribute counts as missing.
  EXPECT_EQ(readFile(document(section("p", stage({{"globalWeight", ""}})))),
            "Missing parameter(s) in tag <stage> (1) : globalWeight ");
}

TEST_F(MultipassConfigTest, UnknownModalityAndAlgorithm) {
  EXPECT_EQ(readFile(document(section(
                "p", stage({{"modality", "Face"}, {"algorithm", "HGM"}, {"nThreads", nullptr}})))),
            "Missing parameter(s) in tag <stage> (1) : unknown modalityunknown algorithmnThreads ");
  EXPECT_EQ(configM.getStage(0).algorithm, AlgUnknown);
}

TEST_F(MultipassConfigTest, CommonSettings) {
  EXPECT_EQ(readFile(document(section("p", "<common/>"))),
            "Missing parameter(s) in tag <common> :processing (set to parallel/sequential) ");
  EXPECT_EQ(readFile(document(section("p", "<common processing=\"queryFiltering\"/>"))),
            "Missing parameter(s) in tag <common> :processing (set to "
            "parallel/sequential/queryFiltering) ");
  ASSERT_EQ(readFile(document(section("p", "<common processing=\"filtering\"/>"))), "");
  EXPECT_EQ(configM.getProcessing(), MultipassConfig::ProcessingFiltering);
  ASSERT_EQ(readFile(document(section("p", "<common processing=\"sequential\"/>"))), "");
  EXPECT_EQ(configM.getProcessing(), MultipassConfig::ProcessingSequential);
}

TEST_F(MultipassConfigTest, UnreadableFiles) {
  const std::string missingL = (dirM.path() + "/" + "absent.xml");
  try {
    configM.read(missingL, "p");
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Cannot open multipass config file : " + missingL);
    EXPECT_EQ(e.getFunction(), "qrbase::MultipassConfig::read");
  }
  const std::string brokenL = dirM.write("broken.xml", document(section("p", stage())) + "<x");
  try {
    configM.read(brokenL, "p");
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Cannot open multipass config file : " + brokenL);
  }
  try {
    configM.readText("<a>", "p", "inline");
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Cannot open multipass config file : inline");
  }
}

TEST_F(MultipassConfigTest, GetAndSetData) {
  ASSERT_EQ(readFile(document(
                section("p", stage() + stage({{"algorithm", "lfa"}, {"resultLengthMax", "20"}}) +
                                 stage({{"modality", "iris"},
                                        {"instance", "irisLeft"},
                                        {"algorithm", "daugman2010"},
                                        {"resultLengthMax", "7"}})))),
            "");
  float v = -1.0f;
  EXPECT_TRUE(configM.getData(0u, MultipassConfig::ResultLengthMax, v));
  EXPECT_EQ(v, 300.0f);
  EXPECT_TRUE(configM.getData(0u, MultipassConfig::UseNormalization, v));
  EXPECT_EQ(v, 1.0f);
  EXPECT_FALSE(configM.getData(3u, MultipassConfig::ResultLengthMax, v));
  EXPECT_FALSE(configM.getData(0u, static_cast<MultipassConfig::ParametersToChange>(5), v));

  // A negative value is refused and changes nothing; 0.5 is not enough for true.
  EXPECT_FALSE(configM.setData(0u, MultipassConfig::ResultLengthMax, -1.0f));
  EXPECT_EQ(configM.getStage(0).resultLengthMax, 300u);
  EXPECT_TRUE(configM.setData(0u, MultipassConfig::UseNormalization, 0.5f));
  EXPECT_FALSE(configM.getStage(0).useNormalization);
  EXPECT_TRUE(configM.setData(0u, MultipassConfig::UseNormalization, -3.0f));  // no sign check
  EXPECT_TRUE(configM.setData(0u, MultipassConfig::UseNormalization, 1.0f));
  EXPECT_TRUE(configM.getStage(0).useNormalization);
  EXPECT_TRUE(configM.setData(0u, MultipassConfig::ResultLengthMin, 12.9f));
  EXPECT_EQ(configM.getStage(0).resultLengthMin, 12u);
  EXPECT_TRUE(configM.setData(0u, MultipassConfig::ResultLengthMin, 1e20f));
  EXPECT_EQ(configM.getStage(0).resultLengthMin, 4294967295u);
  EXPECT_FALSE(configM.setData(0u, MultipassConfig::ResultLengthLocalPercent, NAN));
  EXPECT_FALSE(configM.setData(5u, MultipassConfig::ResultLengthMin, 1.0f));

  // Wildcards: every face stage, then every stage; the value of the last match is returned.
  EXPECT_TRUE(configM.setData(ModalityFace, InstanceAny, AlgUnknown,
                              MultipassConfig::ResultLengthGlobalPercent, 55.0f));
  EXPECT_EQ(configM.getStage(1).resultLengthGlobalPercent, 55.0f);
  EXPECT_EQ(configM.getStage(2).resultLengthGlobalPercent, 90.0f);
  EXPECT_TRUE(
      configM.getData(ModalityAny, InstanceAny, AlgUnknown, MultipassConfig::ResultLengthMax, v));
  EXPECT_EQ(v, 7.0f);
  EXPECT_TRUE(
      configM.getData(ModalityFace, InstanceAny, AlgUnknown, MultipassConfig::ResultLengthMax, v));
  EXPECT_EQ(v, 20.0f);
  v = -1.0f;
  EXPECT_TRUE(configM.getData(qridy::ModalityFingerprint, InstanceAny, AlgUnknown,
                              MultipassConfig::ResultLengthMax, v));
  EXPECT_EQ(v, -1.0f);  // nothing matched
  EXPECT_FALSE(configM.getData(ModalityAny, InstanceAny, AlgUnknown,
                               static_cast<MultipassConfig::ParametersToChange>(9), v));
  EXPECT_FALSE(
      configM.setData(ModalityAny, InstanceAny, AlgHgm, MultipassConfig::ResultLengthMax, -2.0f));
  EXPECT_TRUE(configM.setData(qridy::ModalityFingerprint, InstanceAny, AlgUnknown,
                              MultipassConfig::ResultLengthMax, -2.0f));

  EXPECT_TRUE(configM.setDataToAllStages(MultipassConfig::ResultLengthMax, 33.0f));
  for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(configM.getStage(i).resultLengthMax, 33u);
  EXPECT_FALSE(configM.setDataToAllStages(MultipassConfig::ResultLengthMax, -1.0f));
}

// Every numeric field of setData at its bounds: the refused value nearest to the accepted range
// and the accepted value at its edge, with what the stage then holds.
TEST_F(MultipassConfigTest, SetDataBoundsOfEveryField) {
  ASSERT_EQ(readFile(document(section("p", stage() + stage({{"algorithm", "lfa"}})))), "");
  const float belowZeroL = -std::numeric_limits<float>::denorm_min();
  const float largestBelow2p32L = 4294967040.0f;  // the float just below 2^32
  using P = MultipassConfig::ParametersToChange;
  for (P p :
       {MultipassConfig::ResultLengthMin, MultipassConfig::ResultLengthMax,
        MultipassConfig::ResultLengthLocalPercent, MultipassConfig::ResultLengthGlobalPercent}) {
    float beforeL = 0.0f, v = 0.0f;
    ASSERT_TRUE(configM.getData(1u, p, beforeL));
    EXPECT_FALSE(configM.setData(1u, p, belowZeroL)) << p;
    ASSERT_TRUE(configM.getData(1u, p, v));
    EXPECT_EQ(v, beforeL) << p;
    EXPECT_TRUE(configM.setData(1u, p, -0.0f)) << p;
    EXPECT_TRUE(configM.setData(1u, p, 0.0f)) << p;
    ASSERT_TRUE(configM.getData(1u, p, v));
    EXPECT_EQ(v, 0.0f) << p;
    EXPECT_FALSE(configM.setData(1u, p, std::numeric_limits<float>::quiet_NaN())) << p;
    EXPECT_FALSE(configM.setData(1u, p, -std::numeric_limits<float>::infinity())) << p;
  }
  // The counts truncate toward zero and saturate at the largest unsigned value.
  const auto& stageL = configM.getStage(1);
  for (P p : {MultipassConfig::ResultLengthMin, MultipassConfig::ResultLengthMax}) {
    const auto countL = [&] {
      return p == MultipassConfig::ResultLengthMin ? stageL.resultLengthMin
                                                   : stageL.resultLengthMax;
    };
    EXPECT_TRUE(configM.setData(1u, p, 0.99999994f));
    EXPECT_EQ(countL(), 0u);
    EXPECT_TRUE(configM.setData(1u, p, largestBelow2p32L));
    EXPECT_EQ(countL(), 4294967040u);
    EXPECT_TRUE(configM.setData(1u, p, 4294967296.0f));
    EXPECT_EQ(countL(), 4294967295u);
    EXPECT_TRUE(configM.setData(1u, p, std::numeric_limits<float>::infinity()));
    EXPECT_EQ(countL(), 4294967295u);
  }
  // The percentages take any non-negative float as it is.
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::ResultLengthLocalPercent,
                              std::numeric_limits<float>::max()));
  EXPECT_EQ(stageL.resultLengthLocalPercent, std::numeric_limits<float>::max());
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::ResultLengthGlobalPercent,
                              std::numeric_limits<float>::denorm_min()));
  EXPECT_EQ(stageL.resultLengthGlobalPercent, std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(configM.getStage(0).resultLengthGlobalPercent, 90.0f);  // the other stage kept
  // The flag: true only above 0.999.
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::UseNormalization, 1.0f));
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::UseNormalization, 0.999f));
  EXPECT_FALSE(stageL.useNormalization);
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::UseNormalization, std::nextafter(0.999f, 1.0f)));
  EXPECT_TRUE(stageL.useNormalization);
  // The stage index: the last stage is accepted, one past it refused; likewise the parameter.
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::ResultLengthMax, 5.0f));
  EXPECT_FALSE(configM.setData(2u, MultipassConfig::ResultLengthMax, 5.0f));
  EXPECT_TRUE(configM.setData(1u, MultipassConfig::UseNormalization, 5.0f));
  EXPECT_FALSE(configM.setData(1u, static_cast<P>(5), 5.0f));
  float v = 0.0f;
  EXPECT_TRUE(configM.getData(1u, MultipassConfig::UseNormalization, v));
  EXPECT_FALSE(configM.getData(2u, MultipassConfig::UseNormalization, v));
  EXPECT_FALSE(configM.getData(1u, static_cast<P>(5), v));
}

TEST_F(MultipassConfigTest, GetConfigCopiesAndCompatibility) {
  ASSERT_EQ(readFile(document(section("p", stage() + stage({{"algorithm", "lfa"}})))), "");
  EXPECT_EQ(configM.getConfig(ModalityFace, InstanceFaceFrontal, AlgLfa).algorithm, AlgLfa);
  EXPECT_EQ(configM.getConfig(ModalityFace, InstanceFaceFrontal, qridy::AlgSta).resultLengthMax,
            1000u);

  MultipassConfig copyL(configM);
  copyL.setMissAnalysis(true);
  copyL.setData(0u, MultipassConfig::ResultLengthMax, 1.0f);
  EXPECT_EQ(configM.getStage(0).resultLengthMax, 300u);
  EXPECT_EQ(configM.isCompatibe(copyL), "");

  MultipassConfig otherL;
  otherL.readText(
      document(section(
          "q",
          stage({{"modality", "iris"}, {"instance", "irisLeft"}, {"algorithm", "daugman2010"}}))),
      "q");
  EXPECT_EQ(configM.isCompatibe(otherL),
            "Modality of stage 0 are different (est/conf) = (1/3)\n"
            "Instance of stage 0 are different (est/conf) = (11/200)\n"
            "Algorithm of stage 0 are different (est/conf) = (1/201)\n");
  copyL = otherL;
  EXPECT_EQ(copyL.getPipelineId(), "q");
  EXPECT_FALSE(copyL.isMissAnalysis());
}

TEST_F(MultipassConfigTest, InfoDump) {
  ASSERT_EQ(readFile(document(section("p", "<common processing=\"sequential\"/>" +
                                               stage({}, "[Additional]\nsearchMode=1\n") +
                                               stage({{"algorithm", "lfa"}, {"nThreads", "4"}})))),
            "");
  std::ostringstream osL;
  configM.info(osL);
  const auto stageDumpL = [](const std::string& algorithmA, const std::string& nThreadsA,
                             const std::string& bodyA) {
    return "\t<stage \n"
           "\t\t modality                 =  \"face\"\n"
           "\t\t instance                 =  \"faceFrontal\"\n"
           "\t\t algorithm                =  \"" +
           algorithmA +
           "\"\n"
           "\t\t resultLengthMax          =  \"300\"\n"
           "\t\t resultLengthMin          =  \"50\"\n"
           "\t\t resultLengthPercent      =  \"90\"\n"
           "\t\t resultLengthPercent      =  \"80\"\n"
           "\t\t isRequired               =  \"false\"\n"
           "\t\t filterScore              =  \"true\"\n"
           "\t\t nThreads                 =  \"" +
           nThreadsA +
           "\"\n"
           "\t\t >\n" +
           bodyA + "\t</stage>\n";
  };
  EXPECT_EQ(osL.str(),
            "<multipass id = \"p\" >\n"
            "<common processing = \"sequential\"\t />\n" +
                stageDumpL("hgm", "2", "[Additional]\nsearchMode=1\n") +
                stageDumpL("lfa", "4", "") + "</multipass>\n");

  // The processing text of every value, written out.
  const std::pair<unsigned, const char*> processingTextsL[] = {
      {0, "parallel"}, {1, "sequential"}, {2, "filtering"}, {3, "unknown"}};
  MultipassConfig emptyL;
  for (const auto& [valueL, textL] : processingTextsL) {
    emptyL.setProcessing(static_cast<MultipassConfig::Processing>(valueL));
    std::ostringstream dumpL;
    emptyL.info(dumpL);
    EXPECT_NE(dumpL.str().find(std::string("<common processing = \"") + textL + "\"\t />\n"),
              std::string::npos)
        << dumpL.str();
  }
}

}  // namespace
}  // namespace qrbase
