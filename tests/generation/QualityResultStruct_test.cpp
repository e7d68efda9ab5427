#include <quarlen/QualityResultStruct.h>

#include <gtest/gtest.h>

#include <sstream>

#include "support/ExceptionMatchers.h"

namespace qrbase {
namespace {

class QualityResultStructTest : public ::testing::Test {
 protected:
  // Two checks, the first passed with two raw measurements, the second failed.
  static QualityResultStruct twoChecks() {
    QualityResultStruct resultL;
    resultL.addQualityResult(qualityCheckTypePoseYaw, true, 0.5f);
    resultL.addRawQualityData(qualityCheckTypePoseYaw, "yaw", 3.25f);
    resultL.addRawQualityData(qualityCheckTypePoseYaw, "limit", 15.0f);
    resultL.addQualityResult(qualityCheckTypeSharpness, false, 12.0f);
    return resultL;
  }
};

TEST_F(QualityResultStructTest, InfoWritesTheQualityElement) {
  std::ostringstream osL;
  twoChecks().info(osL);
  EXPECT_EQ(osL.str(),
            "<quality appliedChecks = \"2\" passedChecks = \"1\" failedChecks = \"1\" >"
            "\n\t<qCheck passed = \"true\"  value = \"0.5\"\tyaw = \"3.25\" limit = \"15\"  />"
            "\n\t<qCheck passed = \"false\" value = \"12\"\t />"
            "\n</quality>\n");
  std::ostringstream emptyL;
  QualityResultStruct().info(emptyL);
  EXPECT_EQ(
      emptyL.str(),
      "<quality appliedChecks = \"0\" passedChecks = \"0\" failedChecks = \"0\" >\n</quality>\n");
}

TEST_F(QualityResultStructTest, InfoCsvWithAndWithoutRawData) {
  std::ostringstream plainL;
  twoChecks().infoCsv(plainL, false);
  EXPECT_EQ(plainL.str(),
            "qualityCheckTypePoseYaw, true, 0.5, \n"
            "qualityCheckTypeSharpness, false, 12, \n");
  std::ostringstream rawL;
  twoChecks().infoCsv(rawL, true);
  EXPECT_EQ(rawL.str(),
            "qualityCheckTypePoseYaw, true, 0.5, yaw : 3.25, limit : 15, \n"
            "qualityCheckTypeSharpness, false, 12, \n");
}

TEST_F(QualityResultStructTest, AppliedOrderIsInsertionOrderNotTypeOrder) {
  QualityResultStruct resultL;
  resultL.addQualityResult(qualityCheckTypeIrisContrast, false, 1.0f);
  resultL.addQualityResult(qualityCheckTypeImageDimensions, true, 2.0f);
  resultL.addQualityResult(qualityCheckTypeFaceness, false, 3.0f);
  EXPECT_EQ(resultL.appliedChecks(), (std::vector<QualityCheckType>{qualityCheckTypeIrisContrast,
                                                                    qualityCheckTypeImageDimensions,
                                                                    qualityCheckTypeFaceness}));
  EXPECT_EQ(resultL.failedChecks(), (std::vector<QualityCheckType>{qualityCheckTypeIrisContrast,
                                                                   qualityCheckTypeFaceness}));
  EXPECT_FALSE(resultL.allPassed());
  EXPECT_FALSE(QualityResultStruct().allPassed());
}

TEST_F(QualityResultStructTest, DuplicateAndMissingTypesThrowAndChangeNothing) {
  QualityResultStruct resultL = twoChecks();
  EXPECT_KXXCP_MESSAGE(resultL.addQualityResult(qualityCheckTypePoseYaw, false, 9.0f),
                       "Quality check result type: 8 already exists.");
  EXPECT_EQ(resultL.appliedChecks().size(), 2u);
  EXPECT_EQ(resultL.passedChecks().size(), 1u);
  EXPECT_EQ(resultL.failedChecks().size(), 1u);
  EXPECT_TRUE(resultL.getQualityResult(qualityCheckTypePoseYaw).passed);
  EXPECT_FLOAT_EQ(resultL.getQualityResult(qualityCheckTypePoseYaw).value, 0.5f);

  EXPECT_KXXCP_MESSAGE(resultL.addRawQualityData(qualityCheckTypeIsOverExposed, "x", 1.0f),
                       "Quality check result type: 214 does not exists.");
  EXPECT_KXXCP_MESSAGE(resultL.getQualityResult(qualityCheckTypeGlasses),
                       "Quality check result type: 25 does not exists.");
  EXPECT_FALSE(resultL.isApplied(qualityCheckTypeGlasses));
  EXPECT_TRUE(resultL.isApplied(qualityCheckTypeSharpness));
}

TEST_F(QualityResultStructTest, CopiesAreDeep) {
  QualityResultStruct originalL = twoChecks();
  const unsigned char vendorL[] = {1, 2, 3};
  originalL.setVendorRecord(vendorL, 3, 77, 2);
  QualityResultStruct copyL(originalL);
  originalL.addRawQualityData(qualityCheckTypeSharpness, "late", 1.0f);
  originalL.setVendorRecord(nullptr, 5, 0, 0);
  EXPECT_TRUE(copyL.getQualityResult(qualityCheckTypeSharpness).rawNames.empty());
  EXPECT_EQ(copyL.vendorRecord(), (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_EQ(copyL.vendorCode(), 77u);
  EXPECT_EQ(copyL.vendorRecordVersion(), 2u);
  EXPECT_TRUE(originalL.vendorRecord().empty());
  copyL = originalL;
  EXPECT_EQ(copyL.getQualityResult(qualityCheckTypeSharpness).rawNames.size(), 1u);
  copyL.reset();
  EXPECT_TRUE(copyL.appliedChecks().empty());
  EXPECT_TRUE(copyL.results().empty());
}

}  // namespace
}  // namespace qrbase
