#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/QualityTypes.h>
#include <quarlen/QuarlenExport.h>

namespace qrbase {

// The outcome of one quality check: whether it passed, its value, and any raw measurements as
// index-aligned name and value lists.
struct QUARLEN_EXPORT SingleQcheckResult {
  bool passed = false;
  float value = 0.0f;
  std::vector<float> rawValues;
  std::vector<std::string> rawNames;
};

// The quality checks applied to one sample, in the order their results were added. Besides the
// check results it can carry the raw record of the external quality library that ran the checks
// (opaque bytes with that library's vendor code and record version), which travels with the
// result but is not interpreted here. Copies are deep.
class QUARLEN_EXPORT QualityResultStruct {
 public:
  QualityResultStruct() = default;
  QualityResultStruct(const QualityResultStruct&) = default;
  QualityResultStruct& operator=(const QualityResultStruct&) = default;
  ~QualityResultStruct();

  // Records a check. Throws "Quality check result type: <n> already exists." when the type has a
  // result already (the record stays as it was).
  void addQualityResult(QualityCheckType typeA, bool passedA, float valueA);
  // Appends a raw measurement to a recorded check. Throws
  // "Quality check result type: <n> does not exists." when the type has no result.
  void addRawQualityData(QualityCheckType typeA, const std::string& nameA, float valueA);
  bool isApplied(QualityCheckType typeA) const;
  // Throws "Quality check result type: <n> does not exists." when the type has no result.
  const SingleQcheckResult& getQualityResult(QualityCheckType typeA) const;

  const std::vector<QualityCheckType>& appliedChecks() const { return appliedChecksM; }
  const std::vector<QualityCheckType>& passedChecks() const { return passedChecksM; }
  const std::vector<QualityCheckType>& failedChecks() const { return failedChecksM; }
  const std::map<QualityCheckType, SingleQcheckResult>& results() const { return resultsM; }
  // True when at least one check was applied and none failed.
  bool allPassed() const { return !appliedChecksM.empty() && failedChecksM.empty(); }

  // The quality library's own record of the checks (opaque), with its vendor code and version.
  const std::vector<unsigned char>& vendorRecord() const { return vendorRecordM; }
  std::uint32_t vendorCode() const { return vendorCodeM; }
  std::uint32_t vendorRecordVersion() const { return vendorRecordVersionM; }
  void setVendorRecord(const unsigned char* dataA, std::size_t sizeA, std::uint32_t vendorCodeA,
                       std::uint32_t versionA);

  // Back to the state after construction.
  void reset();

  // An XML-like element:
  //   <quality appliedChecks = "2" passedChecks = "1" failedChecks = "1" >
  //   \t<qCheck passed = "true"  value = "0.5"\tname = "1.5"  />
  //   </quality>
  // (the check type itself is not written; names and numbers use default stream formatting).
  void info(std::ostream& osA) const;
  // One line per applied check: "<type text>, true, <value>, " and, with withRawDataA, one
  // "<name> : <value>, " per raw measurement.
  void infoCsv(std::ostream& osA, bool withRawDataA) const;

 private:
  std::vector<QualityCheckType> appliedChecksM;
  std::vector<QualityCheckType> passedChecksM;
  std::vector<QualityCheckType> failedChecksM;
  std::map<QualityCheckType, SingleQcheckResult> resultsM;
  std::vector<unsigned char> vendorRecordM;
  std::uint32_t vendorCodeM = 0;
  std::uint32_t vendorRecordVersionM = 0;
};

}  // namespace qrbase
