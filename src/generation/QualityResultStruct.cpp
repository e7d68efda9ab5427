#include <quarlen/QualityResultStruct.h>

#include <qrlcore/Exception.h>

namespace qrbase {

QualityResultStruct::~QualityResultStruct() = default;

void QualityResultStruct::addQualityResult(QualityCheckType typeA, bool passedA, float valueA) {
  if (resultsM.count(typeA) != 0) {
    KXXCP_THROW(
        "qrbase::QualityResultStruct::addQualityResult",
        "Quality check result type: " << static_cast<std::uint32_t>(typeA) << " already exists.");
  }
  SingleQcheckResult resultL;
  resultL.passed = passedA;
  resultL.value = valueA;
  resultsM.emplace(typeA, resultL);
  appliedChecksM.push_back(typeA);
  (passedA ? passedChecksM : failedChecksM).push_back(typeA);
}

void QualityResultStruct::addRawQualityData(QualityCheckType typeA, const std::string& nameA,
                                            float valueA) {
  const auto itL = resultsM.find(typeA);
  if (itL == resultsM.end()) {
    KXXCP_THROW(
        "qrbase::QualityResultStruct::addRawQualityData",
        "Quality check result type: " << static_cast<std::uint32_t>(typeA) << " does not exists.");
  }
  itL->second.rawNames.push_back(nameA);
  itL->second.rawValues.push_back(valueA);
}

bool QualityResultStruct::isApplied(QualityCheckType typeA) const {
  return resultsM.count(typeA) != 0;
}

const SingleQcheckResult& QualityResultStruct::getQualityResult(QualityCheckType typeA) const {
  const auto itL = resultsM.find(typeA);
  if (itL == resultsM.end()) {
    KXXCP_THROW(
        "qrbase::QualityResultStruct::getQualityResult",
        "Quality check result type: " << static_cast<std::uint32_t>(typeA) << " does not exists.");
  }
  return itL->second;
}

void QualityResultStruct::setVendorRecord(const unsigned char* dataA, std::size_t sizeA,
                                          std::uint32_t vendorCodeA, std::uint32_t versionA) {
  if (dataA == nullptr) sizeA = 0;
  vendorRecordM.assign(dataA, dataA + sizeA);
  vendorCodeM = vendorCodeA;
  vendorRecordVersionM = versionA;
}

void QualityResultStruct::reset() {
  *this = QualityResultStruct();
}

void QualityResultStruct::info(std::ostream& osA) const {
  osA << "<quality "
      << "appliedChecks = \"" << appliedChecksM.size() << "\" "
      << "passedChecks = \"" << passedChecksM.size() << "\" "
      << "failedChecks = \"" << failedChecksM.size() << "\" >";
  for (QualityCheckType typeL : appliedChecksM) {
    const SingleQcheckResult& resultL = resultsM.at(typeL);
    osA << "\n\t<qCheck " << (resultL.passed ? "passed = \"true\"  " : "passed = \"false\" ")
        << "value = \"" << resultL.value << "\"\t";
    for (std::size_t i = 0; i < resultL.rawNames.size(); ++i) {
      osA << resultL.rawNames[i] << " = \"" << resultL.rawValues[i] << "\" ";
    }
    osA << " />";
  }
  osA << "\n</quality>\n";
}

void QualityResultStruct::infoCsv(std::ostream& osA, bool withRawDataA) const {
  for (QualityCheckType typeL : appliedChecksM) {
    const SingleQcheckResult& resultL = resultsM.at(typeL);
    osA << QualityTypes::qualityCheckType2Text(typeL) << ", "
        << (resultL.passed ? "true, " : "false, ") << resultL.value << ", ";
    if (withRawDataA) {
      for (std::size_t i = 0; i < resultL.rawNames.size(); ++i) {
        osA << resultL.rawNames[i] << " : " << resultL.rawValues[i] << ", ";
      }
    }
    osA << "\n";
  }
}

}  // namespace qrbase
