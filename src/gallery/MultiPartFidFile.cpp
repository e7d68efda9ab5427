#include "gallery/MultiPartFidFile.h"

#include <quarlen/FileManager.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <unordered_set>

#include "gallery/FidChecksum.h"

namespace qridy {

MultiPartFidFile::MultiPartFidFile(std::string basePathA, unsigned bufferBytesA)
    : basePathM(std::move(basePathA)), bufferBytesM(bufferBytesA) {}

std::string MultiPartFidFile::partPath(const std::string& basePathA, std::size_t partA) {
  if (partA == 0) return basePathA;
  char suffixL[32];
  std::snprintf(suffixL, sizeof suffixL, ".%.4zu", partA);
  return basePathA + suffixL;
}

std::string MultiPartFidFile::partFileName(std::size_t partA) const {
  const std::string pathL = partPath(basePathM, partA);
  const std::size_t slashL = pathL.find_last_of('/');
  return slashL == std::string::npos ? pathL : pathL.substr(slashL + 1);
}

bool MultiPartFidFile::fail(const std::string& messageA) {
  lastErrorM = messageA;
  return false;
}

bool MultiPartFidFile::fileExists(const std::string& pathA, bool& emptyA) const {
  void* hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathA.c_str(), "rb");
  if (hL == nullptr) return false;
  emptyA = true;
  if (FileManager::seekFuncPtrS(hL, 0, SEEK_END) == 0) {
    const unsigned long long lengthL = FileManager::tellFuncPtrS(hL);
    // Shorter than a part header: a creation that was cut short.
    emptyA = lengthL < FidHeader::kSize || lengthL == ~0ULL;
  }
  FileManager::closeFuncPtrS(hL);
  return true;
}

bool MultiPartFidFile::create(std::uint32_t dataSizeA, std::uint32_t growthA) {
  close();
  FidFile firstL(partPath(basePathM, 0), 0);
  if (!firstL.create(dataSizeA, growthA)) return fail(firstL.lastError());
  for (std::size_t k = 1;; ++k) {
    bool emptyL = false;
    if (!fileExists(partPath(basePathM, k), emptyL) || emptyL) break;
    FidFile staleL(partPath(basePathM, k), 0);
    if (!staleL.create(dataSizeA, growthA)) return fail(staleL.lastError());
  }
  return true;
}

bool MultiPartFidFile::open() {
  close();
  lastErrorM.clear();
  for (std::size_t k = 0;; ++k) {
    const std::string pathL = partPath(basePathM, k);
    if (k > 0) {
      bool emptyL = false;
      if (!fileExists(pathL, emptyL) || emptyL) break;
      if (k >= maxParts()) break;
    }
    auto partL = std::make_unique<FidFile>(pathL, bufferBytesM);
    if (!partL->open()) {
      const std::string errorL = partL->lastError();
      close();
      return fail(errorL);
    }
    if (k == 0) {
      recordSizeM = partL->recordSize();
      growthM = partL->header().growth;
    } else if (partL->recordSize() != recordSizeM) {
      std::ostringstream osL;
      osL << "FID file parts disagree on the record size: '" << partL->recordSize() << "' in '"
          << pathL << "', '" << recordSizeM << "' in part 0.";
      close();
      return fail(osL.str());
    }
    partL->setRecordLimit(recordLimitM);
    partL->enableCaching(cachingM);
    partsM.push_back(std::move(partL));
  }
  return true;
}

bool MultiPartFidFile::repaired() const {
  return std::any_of(partsM.begin(), partsM.end(),
                     [](const std::unique_ptr<FidFile>& partA) { return partA->repaired(); });
}

std::vector<std::string> MultiPartFidFile::repairNotes() const {
  std::vector<std::string> notesL;
  for (const auto& partL : partsM) {
    if (!partL->repairNote().empty()) notesL.push_back(partL->repairNote());
  }
  return notesL;
}

void MultiPartFidFile::close() {
  partsM.clear();
}

void MultiPartFidFile::setRecordLimit(std::uint32_t limitA) {
  recordLimitM = limitA;
  for (auto& partL : partsM) partL->setRecordLimit(limitA);
}

void MultiPartFidFile::enableCaching(bool enableA) {
  cachingM = enableA;
  for (auto& partL : partsM) partL->enableCaching(enableA);
}

bool MultiPartFidFile::sync() {
  bool okL = true;
  for (auto& partL : partsM) okL = partL->sync() && okL;
  return okL;
}

bool MultiPartFidFile::locate(std::uint32_t positionA, std::size_t& partA,
                              std::uint32_t& slotA) const {
  if (partsM.empty()) return false;
  partA = positionA / partLimit();
  slotA = positionA % partLimit();
  return partA < partsM.size();
}

bool MultiPartFidFile::addPart() {
  const std::size_t kL = partsM.size();
  if (kL == 0 || kL >= maxParts()) return fail("No further FID file part can be added.");
  const std::string pathL = partPath(basePathM, kL);
  auto partL = std::make_unique<FidFile>(pathL, bufferBytesM);
  if (!partL->create(dataSize(), growthM) || !partL->open()) return fail(partL->lastError());
  partL->setRecordLimit(recordLimitM);
  partL->enableCaching(cachingM);
  partsM.push_back(std::move(partL));
  return true;
}

std::uint32_t MultiPartFidFile::add(const void* dataA, std::uint32_t& checksumA) {
  std::vector<PlannedAdd> planL;
  if (!planAdds(1, planL)) return FidFile::kNoRecord;
  return applyPlanned(planL[0], dataA, checksumA) ? planL[0].position : FidFile::kNoRecord;
}

bool MultiPartFidFile::planAdds(std::size_t countA, std::vector<PlannedAdd>& plannedA) {
  plannedA.clear();
  if (partsM.empty()) return false;
  std::vector<FidAllocState> statesL;
  for (auto& partL : partsM) statesL.push_back(partL->allocState());
  std::vector<std::unordered_set<std::uint32_t>> slotsL(partsM.size());
  const FidFile::HeaderReader noRecordsL = [](std::uint32_t, std::uint32_t&, std::uint32_t&) {
    return false;
  };
  std::size_t firstOpenL = 0;  // parts before it accept nothing more in this plan
  for (std::size_t i = 0; i < countA; ++i) {
    while (firstOpenL < statesL.size() && !statesL[firstOpenL].accepts()) ++firstOpenL;
    if (firstOpenL == statesL.size()) {
      if (statesL.size() >= maxParts()) return fail("No further FID file part can be added.");
      statesL.push_back(FidAllocState::fresh(
          recordLimitM == 0 || recordLimitM > partLimit() ? partLimit() : recordLimitM, growthM));
      slotsL.emplace_back();
    }
    const std::size_t pL = firstOpenL;
    PlannedAdd addL;
    addL.part = static_cast<std::uint32_t>(pL);
    const bool okL = pL < partsM.size()
                         ? partsM[pL]->planAdd(statesL[pL], addL.step, slotsL[pL])
                         : FidFile::planStep(statesL[pL], addL.step, slotsL[pL], noRecordsL);
    if (!okL) return fail("Cannot plan a record for FID file '" + partPath(basePathM, pL) + "'.");
    addL.position = positionOf(pL, addL.step.slot);
    slotsL[pL].insert(addL.step.slot);
    plannedA.push_back(addL);
  }
  return true;
}

bool MultiPartFidFile::applyPlanned(const PlannedAdd& plannedA, const void* dataA,
                                    std::uint32_t& checksumA) {
  if (partsM.empty() || plannedA.part > partsM.size()) return false;
  if (plannedA.part == partsM.size() && !addPart()) return false;
  return partsM[plannedA.part]->applyAdd(plannedA.step, dataA, checksumA);
}

bool MultiPartFidFile::applyPlannedBatch(const std::vector<PlannedAdd>& planA,
                                         const std::vector<const unsigned char*>& dataA,
                                         std::vector<std::uint32_t>& checksumsA) {
  if (partsM.empty() || planA.size() != dataA.size()) return false;
  checksumsA.assign(planA.size(), 0);
  // A plan visits the parts in ascending order, each in one stretch.
  for (std::size_t i = 0; i < planA.size();) {
    const std::uint32_t partL = planA[i].part;
    std::size_t endL = i;
    std::vector<FidAddStep> stepsL;
    std::vector<const unsigned char*> bytesL;
    for (; endL < planA.size() && planA[endL].part == partL; ++endL) {
      stepsL.push_back(planA[endL].step);
      bytesL.push_back(dataA[endL]);
    }
    if (partL > partsM.size() || (partL == partsM.size() && !addPart())) return false;
    std::vector<std::uint32_t> sumsL;
    if (!partsM[partL]->applyBatch(stepsL, bytesL, sumsL)) return false;
    std::copy(sumsL.begin(), sumsL.end(), checksumsA.begin() + static_cast<std::ptrdiff_t>(i));
    i = endL;
  }
  return true;
}

bool MultiPartFidFile::remove(std::uint32_t positionA) {
  std::size_t partL = 0;
  std::uint32_t slotL = 0;
  return locate(positionA, partL, slotL) && partsM[partL]->remove(slotL);
}

bool MultiPartFidFile::rewrite(std::uint32_t positionA, const void* dataA,
                               std::uint32_t& checksumA) {
  std::size_t partL = 0;
  std::uint32_t slotL = 0;
  return locate(positionA, partL, slotL) && partsM[partL]->rewrite(slotL, dataA, checksumA);
}

bool MultiPartFidFile::readRecord(std::uint32_t positionA, void* dataA, std::uint32_t* checksumA) {
  std::size_t partL = 0;
  std::uint32_t slotL = 0;
  return locate(positionA, partL, slotL) && partsM[partL]->readRecord(slotL, dataA, checksumA);
}

bool MultiPartFidFile::readRecordHeader(std::uint32_t positionA, std::uint32_t& statusA,
                                        std::uint32_t& checksumA) {
  std::size_t partL = 0;
  std::uint32_t slotL = 0;
  return locate(positionA, partL, slotL) &&
         partsM[partL]->readRecordHeader(slotL, statusA, checksumA);
}

std::uint16_t MultiPartFidFile::storedChecksum() const {
  std::uint16_t sumL = 0;
  for (const auto& partL : partsM) {
    sumL = fid::addFileChecksum(sumL, static_cast<std::uint16_t>(partL->header().checksum));
  }
  return sumL;
}

bool MultiPartFidFile::computeChecksum(std::uint16_t& checksumA, std::uint64_t& usedA) {
  std::uint16_t sumL = 0;
  std::uint64_t usedL = 0;
  for (auto& partL : partsM) {
    std::uint16_t partSumL = 0;
    std::uint32_t partUsedL = 0;
    if (!partL->computeChecksum(partSumL, partUsedL)) return false;
    sumL = fid::addFileChecksum(sumL, partSumL);
    usedL += partUsedL;
  }
  checksumA = sumL;
  usedA = usedL;
  return true;
}

std::uint64_t MultiPartFidFile::usedRecords() const {
  std::uint64_t usedL = 0;
  for (const auto& partL : partsM) usedL += partL->header().used;
  return usedL;
}

}  // namespace qridy
