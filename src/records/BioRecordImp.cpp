#include <quarlen/BioRecordImp.h>

#include <memory>
#include <sstream>

#include <qrlcore/Notification.h>

#include "records/RecordIo.h"

namespace qridy {

namespace {

constexpr int kKeyWidth = 24;  // attribute keys of the validation text are padded to this width

std::string enumText(const std::string& textA, unsigned int valueA) {
  std::ostringstream osL;
  osL << textA << " (" << valueA << ")";
  return osL.str();
}

}  // namespace

// Delegating to the default constructor makes the destructor free what was added when the body
// throws.
BioRecordImp::BioRecordImp(const BioRecordImp& otherA) : BioRecordImp() {
  modalityM = otherA.modalityM;
  instanceM = otherA.instanceM;
  for (const TemplateImp* sourceL : otherA.templatesM) {
    TemplateImp* copyL = new TemplateImp(*sourceL);
    try {
      addTemplate(copyL, modalityM, instanceM);
    } catch (...) {
      delete copyL;
      throw;
    }
  }
}

BioRecordImp& BioRecordImp::operator=(const BioRecordImp& otherA) {
  if (this == &otherA) return *this;
  BioRecordImp copyL(otherA);
  std::swap(templatesM, copyL.templatesM);
  modalityM = copyL.modalityM;
  instanceM = copyL.instanceM;
  return *this;
}

BioRecordImp::~BioRecordImp() {
  deleteAllTemplates();
}

void BioRecordImp::addTemplate(TemplateImp*& templateA, Modality modalityA, Instance instanceA) {
  const char* const kFunction = "qridy::BioRecordImp::addTemplate";
  if (templateA == nullptr) KXXCP_THROW(kFunction, "Invalid Template (Null Pointer)");
  if (modalityM != ModalityUnknown && modalityM != modalityA) {
    KXXCP_THROW(kFunction, "Invalid Template (modality invalid)");
  }
  if (modalityA == ModalityUnknown) KXXCP_THROW(kFunction, "Invalid Template (modality unknown)");
  if (instanceM != InstanceUnknown && instanceM != instanceA) {
    KXXCP_THROW(kFunction, "Invalid Template (instance invalid)");
  }
  modalityM = modalityA;
  instanceM = instanceA;

  bool mergedL = false;
  for (TemplateImp* presentL : templatesM) {
    if (presentL->sampleId() != templateA->sampleId()) continue;
    // Merging a template into itself would delete a template the record still holds.
    if (presentL == templateA)
      KXXCP_THROW(kFunction, "Invalid Template (already in this BioRecord)");
    mergedL = true;
    for (const auto& entryL : templateA->templateBlockMap()) {
      if (presentL->checkExistence(entryL.first)) {
        KXXCP_THROW(kFunction,
                    "The Template with the given id and templateBlocks of the same algorithm, "
                    "exist in this BioRecord.");
      }
      std::unique_ptr<TemplateBlockImp> copyL(entryL.second->copy());
      presentL->addTemplateBlock(copyL.get());
      copyL.release();
    }
    if (templateA->metaDataPtr() != nullptr) {
      if (presentL->metaDataPtr() != nullptr) {
        kxntc::warning << "Merging of template meta data not possible. Meta data information of "
                          "second template will be lost.";
        kxntc::notify(kxntc::warning);
      } else {
        presentL->setMetaData(templateA->metaDataPtr(), templateA->metaDataSize());
      }
    }
  }
  if (mergedL) {
    delete templateA;
  } else {
    templatesM.push_back(templateA);
  }
  templateA = nullptr;
}

bool BioRecordImp::hasTemplateWithId(KXuint128 idA) const {
  for (const TemplateImp* t : templatesM) {
    if (t->sampleId() == idA) return true;
  }
  return false;
}

TemplateImp* BioRecordImp::getTemplateById(KXuint128 idA) {
  for (TemplateImp* t : templatesM) {
    if (t->sampleId() == idA) return t;
  }
  KXXCP_THROW("qridy::BioRecordImp::getTemplateById", "Id invalid");
}

const TemplateImp* BioRecordImp::getTemplateById(KXuint128 idA) const {
  for (const TemplateImp* t : templatesM) {
    if (t->sampleId() == idA) return t;
  }
  KXXCP_THROW("qridy::BioRecordImp::getTemplateById", "Id invalid ("
                                                          << Types::modality2Text(modalityM) << "/"
                                                          << Types::instance2Text(instanceM) << "/"
                                                          << idA.low << "," << idA.high << ")");
}

TemplateImp* BioRecordImp::getTemplateByIndex(unsigned int indexA, bool throwA) {
  return const_cast<TemplateImp*>(
      static_cast<const BioRecordImp*>(this)->getTemplateByIndex(indexA, throwA));
}

const TemplateImp* BioRecordImp::getTemplateByIndex(unsigned int indexA, bool throwA) const {
  if (indexA < templatesM.size()) return templatesM[indexA];
  if (throwA) KXXCP_THROW("qridy::BioRecordImp::getTemplateByIndex", "Index invalid");
  return nullptr;
}

std::vector<KXuint128> BioRecordImp::getSampleIds() const {
  std::vector<KXuint128> idsL;
  idsL.reserve(templatesM.size());
  for (const TemplateImp* t : templatesM) idsL.push_back(t->sampleId());
  return idsL;
}

bool BioRecordImp::deleteTemplate(KXuint128 idA) {
  for (auto itL = templatesM.begin(); itL != templatesM.end(); ++itL) {
    if ((*itL)->sampleId() != idA) continue;
    delete *itL;
    templatesM.erase(itL);
    return true;
  }
  return false;
}

unsigned int BioRecordImp::deleteAllTemplates() {
  const auto countL = static_cast<unsigned int>(templatesM.size());
  for (TemplateImp* t : templatesM) delete t;
  templatesM.clear();
  return countL;
}

unsigned int BioRecordImp::checksum() const {
  std::uint32_t sumL = 0;
  for (const TemplateImp* t : templatesM) sumL += t->checksum();
  return sumL;
}

void BioRecordImp::randomizeFeatures() {
  for (TemplateImp* t : templatesM) t->randomizeFeatures();
}

void BioRecordImp::convertToGalleryAndProbe() {
  for (TemplateImp* t : templatesM) t->convertToGalleryAndProbe();
}

std::istream& BioRecordImp::read(std::istream& isA) {
  return recordio::readRecordOf(isA, "qridy::BioRecordImp::read", [&] { readRecord(isA); });
}

void BioRecordImp::readRecord(std::istream& isA) {
  const char* const kFunction = "qridy::BioRecordImp::read";
  reset();
  unsigned char headL[14];
  coding::Cursor curL =
      recordio::readHead(isA, headL, sizeof headL, "BR", kVersion, "BioRecord", kFunction);
  std::uint16_t modalityL;
  std::uint16_t instanceL;
  std::uint32_t storedChecksumL = 0;
  std::uint16_t countL = 0;
  if (curL.getFixed16(modalityL)) modalityM = static_cast<Modality>(modalityL);
  if (curL.getFixed16(instanceL)) instanceM = static_cast<Instance>(instanceL);
  curL.getFixed32(storedChecksumL);
  curL.getFixed16(countL);
  // Every template record takes at least four bytes or fails, so a hostile count ends at the end
  // of the stream.
  templatesM.reserve(countL < 64 ? countL : 64);
  for (std::uint16_t i = 0; i < countL; ++i) {
    std::unique_ptr<TemplateImp> templateL(new TemplateImp());
    templateL->read(isA);
    templatesM.push_back(templateL.release());
  }
  if (checksum() != storedChecksumL) KXXCP_THROW(kFunction, "Checksum error.");
}

std::ostream& BioRecordImp::write(std::ostream& osA) const {
  const char* const kFunction = "qridy::BioRecordImp::write";
  try {
    const std::uint16_t countL =
        recordio::checkedCount16(templatesM.size(), "templates", kFunction);
    recordio::writeHead<14>(osA, "BR", kVersion, [&](coding::PutCursor& curA) {
      curA.putFixed16(static_cast<std::uint16_t>(modalityM));
      curA.putFixed16(static_cast<std::uint16_t>(instanceM));
      curA.putFixed32(checksum());
      curA.putFixed16(countL);
    });
    for (const TemplateImp* t : templatesM) t->write(osA);
  } catch (...) {
    KXXCP_RETHROW(kFunction);
  }
  return osA;
}

bool BioRecordImp::validate(std::string& textA) const {
  std::string templatesL;
  bool okL = true;
  for (const TemplateImp* t : templatesM) okL = t->validate(templatesL) && okL;
  std::string outL = "<BioRecord\n";
  recordio::appendAttribute(outL, "modality", enumText(Types::modality2Text(modalityM), modalityM),
                            kKeyWidth);
  recordio::appendAttribute(outL, "instance", enumText(Types::instance2Text(instanceM), instanceM),
                            kKeyWidth);
  recordio::appendAttribute(outL, "checksum", checksum(), kKeyWidth);
  recordio::appendAttribute(outL, "nTemplates", templatesM.size(), kKeyWidth);
  recordio::appendSuccessLine(outL, okL, kKeyWidth, "\t>");
  outL += templatesL;
  outL += "</BioRecord>\n";
  textA += outL;
  return okL;
}

void BioRecordImp::info(std::ostream& osA) const {
  osA << "\t<bioRecord\n"
      << "\t\tmodality\t=    \"" << Types::modality2Text(modalityM) << "\"\n"
      << "\t\tinstance\t=    \"" << Types::instance2Text(instanceM) << "\"\n"
      << "\t\t>\n";
  for (const TemplateImp* t : templatesM) t->info(osA);
  osA << "\t</bioRecord>\n";
}

}  // namespace qridy
