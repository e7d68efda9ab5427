#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultIdRecord.h>
#include <quarlen/TemplateKey.h>

namespace qridy {

// The ranked answer of an identification: one result tree per candidate identity. Filled by
// one thread at a time (getResultIdRecordIfExistsOrAddNew + addScore), then sorted, cut and
// possibly fused by person. A value type.
class QUARLEN_EXPORT ResultTreeList {
 public:
  std::size_t size() const { return recordsM.size(); }
  const ResultIdRecord& operator[](std::size_t indexA) const { return recordsM[indexA]; }
  std::vector<ResultIdRecord>& resultIdRecordVector() { return recordsM; }
  const std::vector<ResultIdRecord>& resultIdRecordVector() const { return recordsM; }
  void reserve(std::size_t countA) { recordsM.reserve(countA); }
  void clear() { recordsM.clear(); }
  void push_back(const ResultIdRecord& recordA) { recordsM.push_back(recordA); }

  // The record of (person, transaction), appended empty when absent (linear search). The
  // reference is valid until the list next grows.
  ResultIdRecord& getResultIdRecordIfExistsOrAddNew(std::uint64_t personIdA,
                                                    std::uint64_t transactionIdA);
  // Throws kxxcp::Exception "IdRecord not found (<person>, <transaction>)".
  ResultIdRecord& getResultIdRecord(std::uint64_t personIdA, std::uint64_t transactionIdA);

  // Highest identity score first; equal scores keep their order.
  void sort();
  // Keeps the best record of each person, then sorts.
  void fuseByPersonId();
  // Keeps the first countA records (call after sort).
  void reduceAbsolute(std::size_t countA);
  // For 0 < fractionA < 1: keeps the first floor(size * fractionA) records.
  void reduceBestNPercent(float fractionA);
  // Appends copies of otherA's records (records of identities already present are not merged).
  void append(const ResultTreeList& otherA);
  // Adds the blocks of otherA's biometric records of (modality, instance) to the records of the
  // same identities here, unmapped (scores as they are, factor 1). Identities missing here are
  // added when addMissingA is set, else skipped. algorithmA is not used.
  void mergeWithSpecificAlgorithm(const ResultTreeList& otherA, Modality modalityA,
                                  Instance instanceA, Algorithm algorithmA, bool addMissingA,
                                  const ResultParameter& parameterA);

  void setMissAnalysisResult(const std::string& textA) { missAnalysisResultM = textA; }
  const std::string& missAnalysisResult() const { return missAnalysisResultM; }

  // Every record's dump in list order (infoCsv: one line each).
  void info(std::ostream& osA, int verbosityA) const;
  void infoCsv(std::ostream& osA, int verbosityA) const;

  // Names the image file of a sample in the dumps. Process-wide; register before identifying.
  // The dumps look a sample up by its instance and sample id with the modality left at 0
  // (ModalityUnknown): register under TemplateKey(ModalityUnknown, instance, sampleId).
  static void addTemplateKeyMapFilename(const TemplateKey& keyA, const std::string& fileNameA);
  // The registered file name of keyA, if any.
  static bool templateKeyFilename(const TemplateKey& keyA, std::string& fileNameA);

 private:
  std::vector<ResultIdRecord> recordsM;
  std::string missAnalysisResultM;
};

}  // namespace qridy
