#pragma once

#include <cstdint>
#include <map>
#include <ostream>

#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultBioRecord.h>
#include <quarlen/Types.h>

namespace qridy {

class ResultParameter;

// The result tree of one candidate identity: biometric records (keyed by
// BioRecordImp::calculateHashKey(modality, instance)) -> templates -> blocks, with a score at
// every level that is kept consistent with the blocks after each addScore.
//
// Identity score: without finger records, the best face record score (never below 0), replaced
// by the iris records' score (fused when there are several, at most 10) when there are iris
// records. With a finger record, only finger records count: the scores of the blocks of the
// highest-ranked finger algorithm present (ranks: fva 1, l2f 2, l2f360 3, l2fi 4, l2m 5; other
// algorithms never count), fused when several.
class QUARLEN_EXPORT ResultIdRecord {
 public:
  ResultIdRecord() = default;
  ResultIdRecord(std::uint64_t personIdA, std::uint64_t transactionIdA)
      : personIdM(personIdA), transactionIdM(transactionIdA) {}

  // The entry point of the stages: adds one raw score at (modality, instance, sample,
  // algorithm) and recomputes the scores above it. Throws kxxcp::Exception for the mappings
  // that are not supported (records and templates created on the way down stay, empty).
  void addScore(Algorithm algorithmA, const KXuint128& sampleIdA, Modality modalityA,
                Instance instanceA, float rawScoreA, bool mapScoreA, bool galleryNormalizedA,
                float scoreFactorA, const ResultParameter& parameterA);

  std::uint64_t personId() const { return personIdM; }
  std::uint64_t transactionId() const { return transactionIdM; }
  float getScore() const { return scoreM; }

  // The string identifier refers to caller-owned bytes, which must outlive every use of it.
  void setSID(const char* sidA, std::uint32_t sizeA) {
    sidM = sidA;
    sidSizeM = sizeA;
  }
  const char* getSID() const { return sidM; }
  std::uint32_t getSIDSize() const { return sidSizeM; }

  // The record of keyA; created empty when absent and createA is set, else throws
  // kxxcp::Exception "getBioRecord() bioRecord not exist".
  ResultBioRecord& getBioRecord(std::uint32_t keyA, bool createA);
  bool hasBioRecord(std::uint32_t keyA) const { return bioRecordsM.count(keyA) != 0; }
  const std::map<std::uint32_t, ResultBioRecord>& bioRecords() const { return bioRecordsM; }

  // The number of records of modalityA, and the instance of the indexA-th of them in key order
  // (throws "getResultBioRecordByIndex() bioRecord not exist for this index and modality").
  unsigned int getNumResultInstancesPerModality(Modality modalityA) const;
  Instance getResultInstancePerModalityByIndex(Modality modalityA, unsigned int indexA) const;

  // The best template score of (modality, instance) and, through sampleIdA, its sample (the
  // first of equal scores). Throws "modality and instance has to be specified." for 65535 and
  // "No score found for this modality/instace." when there is no template.
  float getBestSampleScore(Modality modalityA, Instance instanceA, KXuint128& sampleIdA) const;
  // The block score at that path. Throws kxxcp::Exception "No score found for this
  // modality/instance/sample/algorithm." when there is none.
  float getScore(Modality modalityA, Instance instanceA, const KXuint128& sampleIdA,
                 Algorithm algorithmA) const;

  // True when this score is not greater than the other's.
  bool operator<(const ResultIdRecord& otherA) const { return !(scoreM > otherA.scoreM); }

  // One element (info) or one line without line end (infoCsv) per identity; the verbosity
  // adds biometric records (1), templates (2) and blocks (3).
  void info(std::ostream& osA, int verbosityA) const;
  void infoCsv(std::ostream& osA, int verbosityA) const;

 private:
  friend class ResultTreeCoding;  // restores decoded scores as they were
  void updateScore(const ResultParameter& parameterA);

  std::uint64_t personIdM = 0;
  std::uint64_t transactionIdM = 0;
  const char* sidM = nullptr;
  std::uint32_t sidSizeM = 0;
  std::map<std::uint32_t, ResultBioRecord> bioRecordsM;
  float scoreM = 0.0f;
};

}  // namespace qridy
