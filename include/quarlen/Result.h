#pragma once

#include <cstdint>

#include <quarlen/IdRecordKey.h>
#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>

namespace qridy {

// One hit of an identification in its simple form: the identity, the sample and the score.
// A plain value; all zero after construction.
class QUARLEN_EXPORT Result {
 public:
  void setScore(float scoreA) { scoreM = scoreA; }
  float score() const { return scoreM; }
  void setPersonId(std::uint64_t personIdA) { personIdM = personIdA; }
  std::uint64_t personId() const { return personIdM; }
  void setTransactionId(std::uint64_t transactionIdA) { transactionIdM = transactionIdA; }
  std::uint64_t transactionId() const { return transactionIdM; }
  IdRecordKey idRecordKey() const { return IdRecordKey(personIdM, transactionIdM); }
  void setSampleId(const KXuint128& sampleIdA) { sampleIdM = sampleIdA; }
  const KXuint128& sampleId() const { return sampleIdM; }

  // Equal in person id, transaction id, score and sample id.
  bool operator==(const Result& otherA) const {
    return personIdM == otherA.personIdM && transactionIdM == otherA.transactionIdM &&
           scoreM == otherA.scoreM && sampleIdM == otherA.sampleIdM;
  }
  // True when this score is not greater than the other's (so equal scores are "less" both
  // ways: not a strict ordering, kept for compatibility; sort with an explicit comparison).
  bool operator<(const Result& otherA) const { return !(scoreM > otherA.scoreM); }

 private:
  std::uint64_t personIdM = 0;
  std::uint64_t transactionIdM = 0;
  KXuint128 sampleIdM;
  float scoreM = 0.0f;
};

}  // namespace qridy
