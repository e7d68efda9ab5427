#include <qrlcore/QuarlenInformation.h>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <unistd.h>

#include <cmath>
#include <memory>

#include "support/Environment.h"

namespace kxutl {
namespace {

using quarlen_test::ScopedEnv;
using quarlen_test::TempDir;
using QI = QuarlenInformation;

const char* const kConfig =
    "[TEMPLATE_MATCHING_MULTIPASS]\n"
    "faceScoreSize = 100\n"
    "negative = -5\n"
    "notANumber = 12abc\n"
    "ratio = 0.25\n"
    "exponent = -1.5e3\n"
    "flagYes = yes\n"
    "flagOff = OFF\n"
    "flagMaybe = maybe\n"
    "path = /data/curves/face.lfar\n"
    "uints = 1, 2  3,4294967295\n"
    "badUints = 1, -2\n"
    "gapUints = 1,,2\n"
    "floats = 0.5 -1 2e2\n"
    "emptyList =\n"
    "[XML]\n"
    "odd = <a & \"b\">\n";

class QuarlenInformationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QI::setConfigFile("");
    fileM = dirM.write("quarlen.ini", kConfig);
  }
  void TearDown() override { QI::setConfigFile(""); }

  template <typename Call>
  static std::string errorOf(Call callA) {
    try {
      callA();
    } catch (const kxxcp::Exception& e) {
      return e.getFunction() + ": " + e.getMessage();
    }
    return "no exception";
  }

  // Each test starts without any configuration from the environment.
  ScopedEnv noFileM{"QUARLEN_CONFIG_FILE", std::nullopt};
  ScopedEnv noDirM{"TOLM_COMMON_DIR", std::nullopt};
  TempDir dirM;
  std::string fileM;
};

TEST_F(QuarlenInformationTest, TypedGettersReadTheFile) {
  QI::setConfigFile(fileM);
  const std::string s = "TEMPLATE_MATCHING_MULTIPASS";
  EXPECT_EQ(QI::getIntFromConfigFile(s, "faceScoreSize"), 100);
  EXPECT_EQ(QI::getIntFromConfigFile("template_matching_multipass", "FACESCORESIZE"), 100);
  EXPECT_EQ(QI::getIntFromConfigFile(s, "negative"), -5);
  EXPECT_FLOAT_EQ(QI::getFloatFromConfigFile(s, "ratio"), 0.25f);
  EXPECT_FLOAT_EQ(QI::getFloatFromConfigFile(s, "exponent"), -1500.0f);
  EXPECT_FLOAT_EQ(QI::getFloatFromConfigFile(s, "faceScoreSize"), 100.0f);
  EXPECT_TRUE(QI::getBoolFromConfigFile(s, "flagYes"));
  EXPECT_FALSE(QI::getBoolFromConfigFile(s, "flagOff", true));
  EXPECT_EQ(QI::getStdStringFromConfigFile(s, "path"), "/data/curves/face.lfar");
  EXPECT_STREQ(QI::getStringFromConfigFile(s, "path"), "/data/curves/face.lfar");
  EXPECT_EQ(QI::getUintVectorFromConfigFile(s, "uints"),
            (std::vector<unsigned int>{1, 2, 3, 4294967295u}));
  EXPECT_EQ(QI::getFloatVectorFromConfigFile(s, "floats"),
            (std::vector<float>{0.5f, -1.0f, 200.0f}));
  EXPECT_TRUE(QI::getUintVectorFromConfigFile(s, "emptyList").empty());
  EXPECT_TRUE(QI::has(s, "emptyList"));
}

TEST_F(QuarlenInformationTest, AbsentKeysGiveZeroOrTheDefault) {
  QI::setConfigFile(fileM);
  const std::string s = "TEMPLATE_MATCHING_MULTIPASS";
  EXPECT_FALSE(QI::has(s, "absent"));
  EXPECT_FALSE(QI::has("NO_SECTION", "faceScoreSize"));
  EXPECT_EQ(QI::getIntFromConfigFile(s, "absent"), 0);
  EXPECT_EQ(QI::getIntFromConfigFile(s, "absent", 17), 17);
  EXPECT_FALSE(QI::getBoolFromConfigFile(s, "absent"));
  EXPECT_TRUE(QI::getBoolFromConfigFile(s, "absent", true));
  EXPECT_EQ(QI::getFloatFromConfigFile(s, "absent"), 0.0f);
  EXPECT_EQ(QI::getFloatFromConfigFile(s, "absent", 2.5f), 2.5f);
  EXPECT_STREQ(QI::getStringFromConfigFile(s, "absent"), "");
  EXPECT_EQ(QI::getStdStringFromConfigFile(s, "absent"), "");
  EXPECT_EQ(QI::getStdStringFromConfigFile(s, "absent", "fallback"), "fallback");
  EXPECT_TRUE(QI::getUintVectorFromConfigFile(s, "absent").empty());
  EXPECT_TRUE(QI::getFloatVectorFromConfigFile(s, "absent").empty());
  // A present key ignores the default.
  EXPECT_EQ(QI::getIntFromConfigFile(s, "faceScoreSize", 17), 100);
}

TEST_F(QuarlenInformationTest, ValuesThatDoNotConvertNameSectionKeyAndValue) {
  QI::setConfigFile(fileM);
  const std::string s = "TEMPLATE_MATCHING_MULTIPASS";
  EXPECT_EQ(errorOf([&] { QI::getIntFromConfigFile(s, "notANumber"); }),
            "kxutl::QuarlenInformation::getIntFromConfigFile: Configuration value of key "
            "'notANumber' in section 'TEMPLATE_MATCHING_MULTIPASS' is not an integer: '12abc'.");
  EXPECT_EQ(errorOf([&] { QI::getIntFromConfigFile(s, "ratio", 3); }),
            "kxutl::QuarlenInformation::getIntFromConfigFile: Configuration value of key "
            "'ratio' in section 'TEMPLATE_MATCHING_MULTIPASS' is not an integer: '0.25'.");
  EXPECT_EQ(errorOf([&] { QI::getBoolFromConfigFile(s, "flagMaybe"); }),
            "kxutl::QuarlenInformation::getBoolFromConfigFile: Configuration value of key "
            "'flagMaybe' in section 'TEMPLATE_MATCHING_MULTIPASS' is not a boolean: 'maybe'.");
  EXPECT_EQ(errorOf([&] { QI::getFloatFromConfigFile(s, "path"); }),
            "kxutl::QuarlenInformation::getFloatFromConfigFile: Configuration value of key "
            "'path' in section 'TEMPLATE_MATCHING_MULTIPASS' is not a number: "
            "'/data/curves/face.lfar'.");
  EXPECT_EQ(errorOf([&] { QI::getUintVectorFromConfigFile(s, "badUints"); }),
            "kxutl::QuarlenInformation::getUintVectorFromConfigFile: Configuration value of key "
            "'badUints' in section 'TEMPLATE_MATCHING_MULTIPASS' is not a list of unsigned "
            "integers: '1, -2'.");
  EXPECT_EQ(errorOf([&] { QI::getUintVectorFromConfigFile(s, "gapUints"); }),
            "kxutl::QuarlenInformation::getUintVectorFromConfigFile: Configuration value of key "
            "'gapUints' in section 'TEMPLATE_MATCHING_MULTIPASS' is not a list of unsigned "
            "integers: '1,,2'.");
  EXPECT_EQ(errorOf([&] { QI::getFloatVectorFromConfigFile(s, "uints"); }), "no exception");
  EXPECT_EQ(errorOf([&] { QI::getFloatVectorFromConfigFile(s, "path"); }),
            "kxutl::QuarlenInformation::getFloatVectorFromConfigFile: Configuration value of "
            "key 'path' in section 'TEMPLATE_MATCHING_MULTIPASS' is not a list of numbers: "
            "'/data/curves/face.lfar'.");
}

TEST_F(QuarlenInformationTest, LookupOrderApplicationThenVariableThenCommonDir) {
  TempDir otherL;
  const std::string namedL = otherL.write("named.ini", "[A]\nwho = named\n");
  const std::string commonL = otherL.write("quarlen.ini", "[A]\nwho = common\n");
  const std::string appL = dirM.write("app.ini", "[A]\nwho = application\n");

  // Nothing set: no configuration, every key absent, no error.
  QI::reloadConfigFile();
  EXPECT_EQ(QI::configFilePath(), "");
  EXPECT_EQ(QI::configFileOrigin(), "");
  EXPECT_EQ(QI::configFileError(), "");
  EXPECT_EQ(QI::quarlenConfigDir(), "");
  EXPECT_EQ(QI::getStdStringFromConfigFile("A", "who"), "");

  {
    ScopedEnv dirL("TOLM_COMMON_DIR", otherL.path() + "/");
    QI::reloadConfigFile();
    EXPECT_EQ(QI::getStdStringFromConfigFile("A", "who"), "common");
    EXPECT_EQ(QI::configFilePath(), commonL);
    EXPECT_EQ(QI::configFileOrigin(), "TOLM_COMMON_DIR");
    EXPECT_EQ(QI::quarlenConfigDir(), otherL.path());

    ScopedEnv fileL("QUARLEN_CONFIG_FILE", namedL);
    QI::reloadConfigFile();
    EXPECT_EQ(QI::getStdStringFromConfigFile("A", "who"), "named");
    EXPECT_EQ(QI::configFileOrigin(), "QUARLEN_CONFIG_FILE");

    QI::setConfigFile(appL);
    EXPECT_EQ(QI::getStdStringFromConfigFile("A", "who"), "application");
    EXPECT_EQ(QI::configFilePath(), appL);
    EXPECT_EQ(QI::configFileOrigin(), "set by the application");
    EXPECT_EQ(QI::quarlenConfigDir(), dirM.path());

    QI::setConfigFile("");
    EXPECT_EQ(QI::getStdStringFromConfigFile("A", "who"), "named");
  }
  // A common folder without quarlen.ini is no configuration, not an error.
  ScopedEnv emptyDirL("TOLM_COMMON_DIR", dirM.path() + "/nowhere");
  QI::reloadConfigFile();
  EXPECT_EQ(QI::configFilePath(), "");
  EXPECT_EQ(QI::configFileError(), "");
  EXPECT_EQ(QI::quarlenConfigDir(), dirM.path() + "/nowhere");
  EXPECT_EQ(QI::getIntFromConfigFile("A", "who"), 0);
}

TEST_F(QuarlenInformationTest, ANamedFileThatCannotBeReadFailsEveryGetter) {
  const std::string missingL = dirM.path() + "/missing.ini";
  {
    ScopedEnv fileL("QUARLEN_CONFIG_FILE", missingL);
    QI::reloadConfigFile();
    EXPECT_EQ(QI::configFilePath(), missingL);
    EXPECT_EQ(QI::configFileError(), "Cannot open INI file '" + missingL + "'.");
    EXPECT_EQ(errorOf([] { QI::getIntFromConfigFile("A", "b", 3); }),
              "kxutl::IniFile::IniFile: Cannot open INI file '" + missingL + "'.");
    EXPECT_EQ(errorOf([] { QI::getSettings(false); }),
              "kxutl::IniFile::IniFile: Cannot open INI file '" + missingL + "'.");
  }
  const std::string brokenL = dirM.write("broken.ini", "[A\n");
  QI::setConfigFile(brokenL);
  EXPECT_EQ(
      errorOf([] { QI::has("A", "b"); }),
      "kxutl::IniFile::read: Unterminated section header in line 1 of '" + brokenL + "': '[A'.");
}

TEST_F(QuarlenInformationTest, StringPointersSurviveAReload) {
  QI::setConfigFile(fileM);
  const char* pathL = QI::getStringFromConfigFile("TEMPLATE_MATCHING_MULTIPASS", "path");
  QI::setConfigFile(dirM.write("other.ini", "[X]\ny = 1\n"));
  EXPECT_EQ(QI::getIntFromConfigFile("X", "y"), 1);
  EXPECT_STREQ(pathL, "/data/curves/face.lfar");
}

TEST_F(QuarlenInformationTest, SettingsTextInBothForms) {
  QI::setConfigFile(dirM.write("small.ini", "top = 1\n[S]\nk = v\n[XML]\nodd = <a & \"b\">\n"));
  const std::string dirPathL = dirM.path();
  EXPECT_EQ(QI::getSettings(false), "; configuration file: " + dirPathL +
                                        "/small.ini\ntop = 1\n[S]\nk = v\n[XML]\nodd = <a & "
                                        "\"b\">\n");
  EXPECT_EQ(QI::getSettings(true),
            "\t<configFile>" + dirPathL +
                "/small.ini</configFile>\n"
                "\t<setting section=\"\" key=\"top\" value=\"1\" />\n"
                "\t<setting section=\"S\" key=\"k\" value=\"v\" />\n"
                "\t<setting section=\"XML\" key=\"odd\" value=\"&lt;a &amp; &quot;b&quot;&gt;\" "
                "/>\n");
  QI::setConfigFile("");
  EXPECT_EQ(QI::getSettings(false), "; no configuration file\n");
  EXPECT_EQ(QI::getSettings(true), "\t<configFile></configFile>\n");
}

TEST_F(QuarlenInformationTest, ProcessAndVersion) {
  EXPECT_EQ(QI::currentProcessId(), static_cast<unsigned long>(::getpid()));
  EXPECT_EQ(std::string(QI::quarlenVersionS).rfind("Quarlen ", 0), 0u);
}

}  // namespace
}  // namespace kxutl
