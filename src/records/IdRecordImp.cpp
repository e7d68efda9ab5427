#include <quarlen/IdRecordImp.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "records/RecordIo.h"

namespace qridy {

namespace {

constexpr int kKeyWidth = 24;  // attribute keys of the validation text are padded to this width

// The biometric records a query for (modalityA, instanceA) covers, 65535 standing for any.
template <typename Map>
std::vector<typename Map::mapped_type> selectBioRecords(const Map& bioRecordsA, Modality modalityA,
                                                        Instance instanceA) {
  std::vector<typename Map::mapped_type> selectedL;
  if (modalityA == ModalityAny && instanceA != InstanceAny) {
    KXXCP_THROW("qridy::IdRecordImp::getTemplateKeys",
                "(modality: any) and (instance:  specified) is an invalid call.");
  }
  if (modalityA != ModalityAny && instanceA != InstanceAny) {
    const auto itL = bioRecordsA.find(BioRecordImp::calculateHashKey(modalityA, instanceA));
    if (itL != bioRecordsA.end()) selectedL.push_back(itL->second);
    return selectedL;
  }
  for (const auto& entryL : bioRecordsA) {
    if (modalityA == ModalityAny || entryL.second->modality() == modalityA) {
      selectedL.push_back(entryL.second);
    }
  }
  return selectedL;
}

}  // namespace

// Delegating to the default constructor makes the destructor free what was copied when the body
// throws.
IdRecordImp::IdRecordImp(const IdRecordImp& otherA) : IdRecordImp() {
  keyM = otherA.keyM;
  setSId(otherA.sIdDataM.get(), otherA.sIdSizeM);
  for (const auto& entryL : otherA.bioRecordsM) {
    std::unique_ptr<BioRecordImp> copyL(new BioRecordImp(*entryL.second));
    bioRecordsM.emplace(entryL.first, copyL.get());
    copyL.release();
  }
}

IdRecordImp& IdRecordImp::operator=(const IdRecordImp& otherA) {
  if (this == &otherA) return *this;
  IdRecordImp copyL(otherA);
  std::swap(bioRecordsM, copyL.bioRecordsM);
  std::swap(sIdDataM, copyL.sIdDataM);
  std::swap(sIdSizeM, copyL.sIdSizeM);
  keyM = copyL.keyM;
  return *this;
}

IdRecordImp::~IdRecordImp() {
  deleteBioRecords();
}

void IdRecordImp::deleteBioRecords() {
  for (auto& entryL : bioRecordsM) delete entryL.second;
  bioRecordsM.clear();
}

void IdRecordImp::reset() {
  keyM = IdRecordKey();
  sIdDataM.reset();
  sIdSizeM = 0;
  deleteBioRecords();
}

void IdRecordImp::setSId(const char* dataA, unsigned short sizeA) {
  std::unique_ptr<char[]> copyL;
  if (dataA != nullptr && sizeA != 0) {
    copyL.reset(new char[sizeA]);
    std::memcpy(copyL.get(), dataA, sizeA);
  }
  sIdDataM = std::move(copyL);
  sIdSizeM = sIdDataM ? sizeA : 0;
}

bool IdRecordImp::containsOnlyOneSamplePerInstance() const {
  for (const auto& entryL : bioRecordsM) {
    if (entryL.second->nTemplates() > 1) return false;
  }
  return true;
}

void IdRecordImp::randomizeFeatures() {
  for (auto& entryL : bioRecordsM) entryL.second->randomizeFeatures();
}

void IdRecordImp::convertToGalleryAndProbe() {
  for (auto& entryL : bioRecordsM) entryL.second->convertToGalleryAndProbe();
}

// --- building ------------------------------------------------------------------------------

void IdRecordImp::addBioRecord(BioRecordImp* bioRecordA) {
  const char* const kFunction = "qridy::IdRecordImp::addBioRecord";
  if (bioRecordA == nullptr) KXXCP_THROW(kFunction, "Invalid BioRecord (Null Pointer)");
  if (!bioRecordsM.emplace(bioRecordA->hashKey(), bioRecordA).second) {
    KXXCP_THROW(kFunction, "A BioRecord with this instance and modality already exists.");
  }
}

BioRecordImp* IdRecordImp::findOrCreate(Modality modalityA, Instance instanceA, bool& createdA) {
  const unsigned int keyL = BioRecordImp::calculateHashKey(modalityA, instanceA);
  auto itL = bioRecordsM.find(keyL);
  createdA = itL == bioRecordsM.end();
  if (createdA) itL = bioRecordsM.emplace(keyL, new BioRecordImp(modalityA, instanceA)).first;
  return itL->second;
}

void IdRecordImp::addTemplate(const TemplateImp* templateA, Modality modalityA,
                              Instance instanceA) {
  bool createdL = false;
  BioRecordImp* bioL = findOrCreate(modalityA, instanceA, createdL);
  TemplateImp* copyL = nullptr;
  try {
    if (templateA != nullptr) copyL = new TemplateImp(*templateA);
    bioL->addTemplate(copyL, modalityA, instanceA);
  } catch (...) {
    delete copyL;
    if (createdL) {
      bioRecordsM.erase(bioL->hashKey());
      delete bioL;
    }
    throw;
  }
}

void IdRecordImp::addTemplateBlock(TemplateBlockImp* blockA, Modality modalityA, Instance instanceA,
                                   KXuint128 sampleIdA) {
  bool createdL = false;
  BioRecordImp* bioL = findOrCreate(modalityA, instanceA, createdL);
  try {
    if (bioL->hasTemplateWithId(sampleIdA)) {
      bioL->getTemplateById(sampleIdA)->addTemplateBlock(blockA);
      return;
    }
    // The new template joins the biometric record empty (no merge is possible: the id is new)
    // and receives the block there; a refused block takes the template out again.
    TemplateImp* templateL = new TemplateImp();
    templateL->setSampleId(sampleIdA);
    TemplateImp* handedL = templateL;
    try {
      bioL->addTemplate(handedL, modalityA, instanceA);
    } catch (...) {
      delete templateL;
      throw;
    }
    try {
      templateL->addTemplateBlock(blockA);
    } catch (...) {
      bioL->deleteTemplate(sampleIdA);
      throw;
    }
  } catch (...) {
    if (createdL) {
      bioRecordsM.erase(bioL->hashKey());
      delete bioL;
    }
    throw;
  }
}

void IdRecordImp::merge(IdRecordImp*& otherA) {
  if (otherA == nullptr) return;
  if (otherA == this) {
    KXXCP_THROW("qridy::IdRecordImp::merge", "An IdRecord cannot be merged into itself.");
  }
  for (const auto& entryL : otherA->bioRecordsM) {
    const BioRecordImp* sourceL = entryL.second;
    const auto presentL = bioRecordsM.find(entryL.first);
    if (presentL == bioRecordsM.end()) {
      std::unique_ptr<BioRecordImp> copyL(new BioRecordImp(*sourceL));
      addBioRecord(copyL.get());
      copyL.release();
      continue;
    }
    for (unsigned int i = 0; i < sourceL->nTemplates(); ++i) {
      TemplateImp* copyL = new TemplateImp(*sourceL->getTemplateByIndex(i, true));
      try {
        presentL->second->addTemplate(copyL, sourceL->modality(), sourceL->instance());
      } catch (...) {
        delete copyL;
        throw;
      }
    }
  }
  delete otherA;
  otherA = nullptr;
}

// --- access --------------------------------------------------------------------------------

const BioRecordImp* IdRecordImp::getBioRecord(unsigned int indexA) const {
  if (indexA >= bioRecordsM.size()) {
    KXXCP_THROW("qridy::IdRecordImp::getBioRecord",
                "BioRecord not found: given index is too large:" << indexA << ".");
  }
  return std::next(bioRecordsM.begin(), indexA)->second;
}

BioRecordImp* IdRecordImp::getBioRecord(Modality modalityA, Instance instanceA, bool throwA) {
  return const_cast<BioRecordImp*>(
      static_cast<const IdRecordImp*>(this)->getBioRecord(modalityA, instanceA, throwA));
}

const BioRecordImp* IdRecordImp::getBioRecord(Modality modalityA, Instance instanceA,
                                              bool throwA) const {
  const auto itL = bioRecordsM.find(BioRecordImp::calculateHashKey(modalityA, instanceA));
  if (itL != bioRecordsM.end()) return itL->second;
  if (throwA) {
    KXXCP_THROW("qridy::IdRecordImp::getBioRecord", "BioRecord not found: modality='"
                                                        << Types::modality2Text(modalityA)
                                                        << "', instance='"
                                                        << Types::instance2Text(instanceA) << "'.");
  }
  return nullptr;
}

TemplateImp* IdRecordImp::getTemplateByKey(const TemplateKey& keyA) {
  return const_cast<TemplateImp*>(static_cast<const IdRecordImp*>(this)->getTemplateByKey(keyA));
}

const TemplateImp* IdRecordImp::getTemplateByKey(const TemplateKey& keyA) const {
  const char* const kFunction = "qridy::IdRecordImp::getTemplateByKey";
  if (keyA.modality == ModalityAny || keyA.instance == InstanceAny) {
    KXXCP_THROW(kFunction, "modality=any or instance=any is not allowed here.");
  }
  const BioRecordImp* bioL = getBioRecord(keyA.modality, keyA.instance, false);
  if (bioL == nullptr) {
    KXXCP_THROW(kFunction, "A BioRecord with modality='" << Types::modality2Text(keyA.modality)
                                                         << "' and instance='"
                                                         << Types::instance2Text(keyA.instance)
                                                         << "' does not exist in this IdRecord.");
  }
  if (!bioL->hasTemplateWithId(keyA.sampleId)) {
    KXXCP_THROW(kFunction,
                "A template with the key " << keyA << " does not exist in this IdRecord.");
  }
  return bioL->getTemplateById(keyA.sampleId);
}

const TemplateBlockImp* IdRecordImp::getTemplateBlock(const TemplateKey& keyA, Algorithm algorithmA,
                                                      bool throwA) const {
  const TemplateImp* templateL = getTemplateByKey(keyA);
  if (templateL->checkExistence(algorithmA)) return templateL->getTemplateBlock(algorithmA);
  if (throwA) {
    KXXCP_THROW("qridy::IdRecordImp::getTemplateBlock",
                "The requested template block does not exist in this IdRecord.");
  }
  return nullptr;
}

std::vector<TemplateKey> IdRecordImp::getTemplateKeys(Modality modalityA,
                                                      Instance instanceA) const {
  std::vector<TemplateKey> keysL;
  for (const BioRecordImp* bioL : selectBioRecords(bioRecordsM, modalityA, instanceA)) {
    for (unsigned int i = 0; i < bioL->nTemplates(); ++i) {
      keysL.emplace_back(bioL->modality(), bioL->instance(),
                         bioL->getTemplateByIndex(i, true)->sampleId());
    }
  }
  return keysL;
}

bool IdRecordImp::hasTemplateBlock(const BioMetricTriple& tripleA) const {
  for (const BioRecordImp* bioL :
       selectBioRecords(bioRecordsM, tripleA.modality, tripleA.instance)) {
    for (unsigned int i = 0; i < bioL->nTemplates(); ++i) {
      if (bioL->getTemplateByIndex(i, true)->checkExistence(tripleA.algorithm)) return true;
    }
  }
  return false;
}

bool IdRecordImp::getSampleIdByIndex(Modality modalityA, Instance instanceA, unsigned int indexA,
                                     KXuint128& idA) const {
  const BioRecordImp* bioL = getBioRecord(modalityA, instanceA, false);
  const TemplateImp* templateL =
      bioL != nullptr ? bioL->getTemplateByIndex(indexA, false) : nullptr;
  if (templateL == nullptr) return false;
  idA = templateL->sampleId();
  return true;
}

void IdRecordImp::setSampleIdByIndex(Modality modalityA, Instance instanceA, unsigned int indexA,
                                     KXuint128 idA) {
  getBioRecord(modalityA, instanceA, true)->getTemplateByIndex(indexA, true)->setSampleId(idA);
}

// --- removal -------------------------------------------------------------------------------

void IdRecordImp::deleteBioRecord(Modality modalityA, Instance instanceA) {
  const auto itL = bioRecordsM.find(BioRecordImp::calculateHashKey(modalityA, instanceA));
  if (itL == bioRecordsM.end()) return;
  delete itL->second;
  bioRecordsM.erase(itL);
}

bool IdRecordImp::deleteTemplate(const TemplateKey& keyA) {
  BioRecordImp* bioL = getBioRecord(keyA.modality, keyA.instance, false);
  return bioL == nullptr || bioL->deleteTemplate(keyA.sampleId);
}

bool IdRecordImp::deleteTemplates(Modality modalityA, Instance instanceA) {
  if (modalityA == ModalityAny && instanceA == InstanceAny) {
    reset();
    return true;
  }
  // Any modality with a definite instance names no set of records: nothing is deleted.
  if (modalityA == ModalityAny) return false;
  bool deletedL = false;
  for (auto itL = bioRecordsM.begin(); itL != bioRecordsM.end();) {
    const BioRecordImp* bioL = itL->second;
    if (bioL->modality() == modalityA &&
        (instanceA == InstanceAny || bioL->instance() == instanceA)) {
      delete bioL;
      itL = bioRecordsM.erase(itL);
      deletedL = true;
    } else {
      ++itL;
    }
  }
  return deletedL;
}

// --- persistence and text ------------------------------------------------------------------

unsigned int IdRecordImp::checksum() const {
  std::uint32_t sumL = 0;
  for (const auto& entryL : bioRecordsM) sumL += entryL.second->checksum();
  return sumL;
}

std::ostream& IdRecordImp::write(std::ostream& osA) const {
  const char* const kFunction = "qridy::IdRecordImp::write";
  try {
    const std::uint16_t countL =
        recordio::checkedCount16(bioRecordsM.size(), "biometric records", kFunction);
    recordio::writeHead<26>(osA, "QX", kVersion, [&](coding::PutCursor& curA) {
      curA.putFixed32(checksum());
      curA.putFixed64(keyM.personId);
      curA.putFixed64(keyM.transactionId);
      curA.putFixed16(sIdSizeM);
    });
    coding::putBytes(osA, sIdDataM.get(), sIdSizeM);
    coding::putFixed16(osA, countL);
    for (const auto& entryL : bioRecordsM) entryL.second->write(osA);
  } catch (...) {
    KXXCP_RETHROW(kFunction);
  }
  return osA;
}

std::istream& IdRecordImp::read(std::istream& isA) {
  return recordio::readRecordOf(isA, "qridy::IdRecordImp::read", [&] { readRecord(isA); });
}

void IdRecordImp::readRecord(std::istream& isA) {
  const char* const kFunction = "qridy::IdRecordImp::read";
  reset();
  unsigned char headL[26];
  coding::Cursor curL =
      recordio::readHead(isA, headL, sizeof headL, "QX", kVersion, "IdRecord", kFunction);
  // The stored checksum is not compared: the nested records check their own.
  curL.skip(4);
  curL.getFixed64(keyM.personId);
  curL.getFixed64(keyM.transactionId);
  std::uint16_t sIdSizeL = 0;
  curL.getFixed16(sIdSizeL);
  if (sIdSizeL != 0) {
    sIdDataM.reset(new char[sIdSizeL]);
    sIdSizeM = static_cast<unsigned short>(
        recordio::readUpTo(isA, reinterpret_cast<unsigned char*>(sIdDataM.get()), sIdSizeL));
    if (sIdSizeM == 0) sIdDataM.reset();
    recordio::checkComplete(sIdSizeM == sIdSizeL, "sId", sIdSizeM, sIdSizeL, kFunction);
  }
  // Every biometric record takes at least four bytes or fails, so a hostile count ends at the
  // end of the stream. A later record with a hash key already read replaces the earlier one.
  const std::uint16_t countL = recordio::readCount16(isA);
  for (std::uint16_t i = 0; i < countL; ++i) {
    std::unique_ptr<BioRecordImp> bioL(new BioRecordImp());
    bioL->read(isA);
    BioRecordImp*& slotL = bioRecordsM[bioL->hashKey()];
    delete slotL;
    slotL = bioL.release();
  }
}

void IdRecordImp::write(const std::string& fileNameA) const {
  std::ofstream osL(fileNameA, std::ios::binary | std::ios::trunc);
  if (!osL)
    KXXCP_THROW("qridy::IdRecordImp::write", "Cannot open file"
                                                 << " : " << fileNameA);
  write(osL);
  osL.flush();
  if (!osL)
    KXXCP_THROW("qridy::IdRecordImp::write", "Cannot write file"
                                                 << " : " << fileNameA);
}

void IdRecordImp::read(const std::string& fileNameA) {
  std::ifstream isL(fileNameA, std::ios::binary);
  if (!isL)
    KXXCP_THROW("qridy::IdRecordImp::read", "Cannot open file"
                                                << " : " << fileNameA);
  read(isL);
}

bool IdRecordImp::validate(std::string& textA) const {
  std::string bioTextL;
  bool okL = !bioRecordsM.empty();
  for (const auto& entryL : bioRecordsM) okL = entryL.second->validate(bioTextL) && okL;
  // The sId as text, up to its first zero byte.
  std::string sIdL;
  if (sIdSizeM != 0) {
    const char* beginL = sIdDataM.get();
    const char* endL = static_cast<const char*>(std::memchr(beginL, 0, sIdSizeM));
    sIdL.assign(beginL, endL != nullptr ? endL : beginL + sIdSizeM);
  }
  std::string outL = "<IdRecord\n";
  recordio::appendAttribute(outL, "personId", keyM.personId, kKeyWidth);
  recordio::appendAttribute(outL, "transactionId", keyM.transactionId, kKeyWidth);
  recordio::appendAttribute(outL, "sId", sIdL, kKeyWidth);
  recordio::appendAttribute(outL, "sIdSize", sIdSizeM, kKeyWidth);
  recordio::appendAttribute(outL, "checksum", checksum(), kKeyWidth);
  recordio::appendAttribute(outL, "nBioRecords", bioRecordsM.size(), kKeyWidth);
  recordio::appendSuccessLine(outL, okL, kKeyWidth, "    >");
  outL += bioTextL;
  outL += "</IdRecord>\n";
  textA += outL;
  return okL;
}

void IdRecordImp::info(std::ostream& osA) const {
  osA << "<idRecord\n"
      << "\tpersonId\t   =    \"" << keyM.personId << "\"\n"
      << "\ttransactionId=    \"" << keyM.transactionId << "\"\n"
      << "\tsIdSize      =    \"" << sIdSizeM << "\"\n"
      << "\t>\n";
  for (const auto& entryL : bioRecordsM) entryL.second->info(osA);
  osA << "</idRecord>\n";
}

}  // namespace qridy
