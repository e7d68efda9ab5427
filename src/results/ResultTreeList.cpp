#include <quarlen/ResultTreeList.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include <qrlcore/Exception.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordKey.h>

namespace qridy {
namespace {

struct FileNames {
  std::mutex mutexM;
  std::map<TemplateKey, std::string> namesM;
};

FileNames& fileNames() {
  static FileNames namesS;
  return namesS;
}

// The ranking key of a record: its score, with a score that is not a number ranked last so
// that the ordering stays strict and weak.
float rankOf(const ResultIdRecord& recordA) {
  const float scoreL = recordA.getScore();
  return std::isnan(scoreL) ? -INFINITY : scoreL;
}

}  // namespace

ResultIdRecord& ResultTreeList::getResultIdRecordIfExistsOrAddNew(std::uint64_t personIdA,
                                                                  std::uint64_t transactionIdA) {
  for (ResultIdRecord& r : recordsM) {
    if (r.personId() == personIdA && r.transactionId() == transactionIdA) return r;
  }
  recordsM.emplace_back(personIdA, transactionIdA);
  return recordsM.back();
}

ResultIdRecord& ResultTreeList::getResultIdRecord(std::uint64_t personIdA,
                                                  std::uint64_t transactionIdA) {
  for (ResultIdRecord& r : recordsM) {
    if (r.personId() == personIdA && r.transactionId() == transactionIdA) return r;
  }
  KXXCP_THROW("qridy::ResultTreeList::getResultIdRecord",
              "IdRecord not found (" << personIdA << ", " << transactionIdA << ")");
}

void ResultTreeList::sort() {
  // Stable: among equal scores the earlier record stays first, so a ranking is reproducible.
  std::stable_sort(
      recordsM.begin(), recordsM.end(),
      [](const ResultIdRecord& a, const ResultIdRecord& b) { return rankOf(a) > rankOf(b); });
}

void ResultTreeList::fuseByPersonId() {
  if (recordsM.size() < 2) return;
  std::stable_sort(recordsM.begin(), recordsM.end(),
                   [](const ResultIdRecord& a, const ResultIdRecord& b) {
                     if (a.personId() != b.personId()) return a.personId() > b.personId();
                     return rankOf(a) > rankOf(b);
                   });
  // The first record of each person is its best one.
  recordsM.erase(std::unique(recordsM.begin(), recordsM.end(),
                             [](const ResultIdRecord& a, const ResultIdRecord& b) {
                               return a.personId() == b.personId();
                             }),
                 recordsM.end());
  sort();
}

void ResultTreeList::reduceAbsolute(std::size_t countA) {
  if (recordsM.size() > countA) recordsM.erase(recordsM.begin() + countA, recordsM.end());
}

void ResultTreeList::reduceBestNPercent(float fractionA) {
  if (!(fractionA > 0.0f && fractionA < 1.0f)) return;
  const auto keepL = static_cast<std::size_t>(static_cast<float>(recordsM.size()) * fractionA);
  if (keepL < recordsM.size()) recordsM.erase(recordsM.begin() + keepL, recordsM.end());
}

void ResultTreeList::append(const ResultTreeList& otherA) {
  if (&otherA == this) {
    const std::vector<ResultIdRecord> copyL = otherA.recordsM;
    recordsM.insert(recordsM.end(), copyL.begin(), copyL.end());
    return;
  }
  recordsM.insert(recordsM.end(), otherA.recordsM.begin(), otherA.recordsM.end());
}

void ResultTreeList::mergeWithSpecificAlgorithm(const ResultTreeList& otherA, Modality modalityA,
                                                Instance instanceA, Algorithm algorithmA,
                                                bool addMissingA,
                                                const ResultParameter& parameterA) {
  const std::vector<ResultIdRecord> othersL = otherA.recordsM;  // otherA may be this list
  std::map<IdRecordKey, std::size_t> indexL;
  for (std::size_t i = 0; i < recordsM.size(); ++i) {
    indexL.emplace(IdRecordKey(recordsM[i].personId(), recordsM[i].transactionId()), i);
  }
  const std::uint32_t bioKeyL = BioRecordImp::calculateHashKey(modalityA, instanceA);
  for (const ResultIdRecord& otherL : othersL) {
    const IdRecordKey keyL(otherL.personId(), otherL.transactionId());
    auto it = indexL.find(keyL);
    if (it == indexL.end()) {
      if (!addMissingA) continue;
      recordsM.emplace_back(keyL.personId, keyL.transactionId);
      it = indexL.emplace(keyL, recordsM.size() - 1).first;
    }
    ResultIdRecord& hereL = recordsM[it->second];
    const auto bioL = otherL.bioRecords().find(bioKeyL);
    if (bioL == otherL.bioRecords().end()) continue;
    for (const auto& [sampleId, result] : bioL->second.templates()) {
      for (const auto& [algorithm, block] : result.blocks()) {
        hereL.addScore(algorithm, sampleId, modalityA, instanceA, block.getScore(), false,
                       block.isNormalaizedScore(), 1.0f, parameterA);
      }
    }
  }
}

void ResultTreeList::info(std::ostream& osA, int verbosityA) const {
  for (const ResultIdRecord& r : recordsM) r.info(osA, verbosityA);
}

void ResultTreeList::infoCsv(std::ostream& osA, int verbosityA) const {
  for (const ResultIdRecord& r : recordsM) {
    r.infoCsv(osA, verbosityA);
    osA << "\n";
  }
}

void ResultTreeList::addTemplateKeyMapFilename(const TemplateKey& keyA,
                                               const std::string& fileNameA) {
  FileNames& namesL = fileNames();
  std::lock_guard<std::mutex> lockL(namesL.mutexM);
  namesL.namesM[keyA] = fileNameA;
}

bool ResultTreeList::templateKeyFilename(const TemplateKey& keyA, std::string& fileNameA) {
  FileNames& namesL = fileNames();
  std::lock_guard<std::mutex> lockL(namesL.mutexM);
  const auto it = namesL.namesM.find(keyA);
  if (it == namesL.namesM.end()) return false;
  fileNameA = it->second;
  return true;
}

}  // namespace qridy
