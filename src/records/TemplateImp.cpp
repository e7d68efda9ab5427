#include <quarlen/TemplateImp.h>

#include <quarlen/TemplateBlock_Common.h>

#include "records/RecordIo.h"

namespace qridy {

namespace {

constexpr int kKeyWidth = 24;  // attribute keys of the validation text are padded to this width

// copy() of every block; on failure the copies made so far are deleted and the exception passes.
std::map<Algorithm, TemplateBlockImp*> copyBlocks(
    const std::map<Algorithm, TemplateBlockImp*>& blocksA) {
  std::map<Algorithm, TemplateBlockImp*> copiesL;
  try {
    for (const auto& entryL : blocksA) copiesL.emplace(entryL.first, entryL.second->copy());
  } catch (...) {
    for (auto& entryL : copiesL) delete entryL.second;
    throw;
  }
  return copiesL;
}

}  // namespace

// Delegating to the default constructor makes the destructor free what was copied when the body
// throws.
TemplateImp::TemplateImp(const TemplateImp& otherA) : TemplateImp() {
  try {
    metaDataM = recordio::copyBytes(otherA.metaDataM.get(), otherA.metaDataSizeM);
    metaDataSizeM = metaDataM ? otherA.metaDataSizeM : 0;
    sampleIdM = otherA.sampleIdM;
    templateBlockMapM = copyBlocks(otherA.templateBlockMapM);
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateImp::TemplateImp");
  }
}

TemplateImp& TemplateImp::operator=(const TemplateImp& otherA) {
  if (this == &otherA) return *this;
  try {
    auto blocksL = copyBlocks(otherA.templateBlockMapM);
    metaDataM = recordio::copyBytes(otherA.metaDataM.get(), otherA.metaDataSizeM);
    metaDataSizeM = metaDataM ? otherA.metaDataSizeM : 0;
    sampleIdM = otherA.sampleIdM;
    deleteBlocks();
    templateBlockMapM = std::move(blocksL);
  } catch (...) {
    KXXCP_RETHROW("qridy::TemplateImp::operator=");
  }
  return *this;
}

TemplateImp::~TemplateImp() {
  deleteBlocks();
}

void TemplateImp::deleteBlocks() {
  for (auto& entryL : templateBlockMapM) delete entryL.second;
  templateBlockMapM.clear();
}

void TemplateImp::reset() {
  sampleIdM = KXuint128();
  metaDataM.reset();
  metaDataSizeM = 0;
  deleteBlocks();
}

void TemplateImp::setMetaData(const unsigned char* dataA, unsigned int sizeA) {
  metaDataM = recordio::copyBytes(dataA, sizeA);
  metaDataSizeM = metaDataM ? sizeA : 0;
}

unsigned int TemplateImp::checksum() const {
  std::uint32_t sumL = 0;
  for (const auto& entryL : templateBlockMapM) sumL += entryL.second->checkSum();
  return sumL;
}

void TemplateImp::addTemplateBlock(TemplateBlockImp* blockA) {
  const char* const kFunction = "qridy::TemplateImp::addTemplateBlock";
  if (blockA == nullptr) KXXCP_THROW(kFunction, "Null pointer");
  const Algorithm algorithmL = blockA->algorithm();
  if (algorithmL == AlgUnknown) KXXCP_THROW(kFunction, "unknownAlgorithm");
  if (!templateBlockMapM.emplace(algorithmL, blockA).second) {
    KXXCP_THROW(kFunction, "Algorithm already in map");
  }
}

TemplateBlockImp* TemplateImp::getTemplateBlock(Algorithm algorithmA) const {
  const auto itL = templateBlockMapM.find(algorithmA);
  if (itL == templateBlockMapM.end()) {
    // The quote after the algorithm text is never closed; the text is kept as it always was.
    KXXCP_THROW("qridy::TemplateImp::getTemplateBlock", "TemplateBlock with algorithm '"
                                                            << Types::algorithm2Text(algorithmA)
                                                            << "not found in internal map.");
  }
  return itL->second;
}

bool TemplateImp::checkExistence(Algorithm algorithmA) const {
  return templateBlockMapM.count(algorithmA) != 0;
}

void TemplateImp::deleteTemplateBlock(Algorithm algorithmA) {
  const auto itL = templateBlockMapM.find(algorithmA);
  if (itL == templateBlockMapM.end()) return;
  delete itL->second;
  templateBlockMapM.erase(itL);
}

float TemplateImp::getQuality() const {
  for (Algorithm a : {AlgMvxIris2PiSdk, AlgL2m, AlgL2f, AlgL1Jim, AlgHgmPyrBit, AlgHgm}) {
    const auto itL = templateBlockMapM.find(a);
    if (itL != templateBlockMapM.end()) return itL->second->getQuality();
  }
  return templateBlockMapM.empty() ? 0.0f : templateBlockMapM.begin()->second->getQuality();
}

FingerImpressionType TemplateImp::getImpressionType() const {
  for (Algorithm a : {AlgL2m, AlgL2f, AlgL1v}) {
    const auto itL = templateBlockMapM.find(a);
    if (itL != templateBlockMapM.end()) return itL->second->getImpressionType();
  }
  return ImpressionLatentImpression;
}

bool TemplateImp::isGalleryTemplate() const {
  if (templateBlockMapM.empty()) return false;
  for (const auto& entryL : templateBlockMapM) {
    if (entryL.second->gallerySize() == 0) return false;
  }
  return true;
}

bool TemplateImp::isProbeTemplate() const {
  if (templateBlockMapM.empty()) return false;
  for (const auto& entryL : templateBlockMapM) {
    if (entryL.second->probeSize() == 0) return false;
  }
  return true;
}

void TemplateImp::randomizeFeatures() {
  for (auto& entryL : templateBlockMapM) entryL.second->randomizeFeatures();
}

void TemplateImp::convertToGalleryAndProbe() {
  for (auto& entryL : templateBlockMapM) entryL.second->convertToGalleryAndProbe();
}

std::istream& TemplateImp::read(std::istream& isA) {
  return recordio::readRecordOf(isA, "qridy::TemplateImp::read", [&] { readRecord(isA); });
}

void TemplateImp::readRecord(std::istream& isA) {
  const char* const kFunction = "qridy::TemplateImp::read";
  reset();
  // Fixed head: magic, version, checksum, sample id (low, high), metadata size.
  unsigned char headL[28];
  coding::Cursor curL =
      recordio::readHead(isA, headL, sizeof headL, "TP", kVersion, "template", kFunction);
  std::uint32_t storedChecksumL = 0;
  std::uint32_t metaSizeL = 0;
  curL.getFixed32(storedChecksumL);
  curL.getFixed64(sampleIdM.low);
  curL.getFixed64(sampleIdM.high);
  curL.getFixed32(metaSizeL);
  const bool completeL = recordio::readPart(isA, metaSizeL, metaDataM, metaDataSizeM);
  recordio::checkComplete(completeL, "template meta data", metaDataSizeM, metaSizeL, kFunction);

  // Every block record takes at least six bytes or fails, so a hostile count ends at the end of
  // the stream.
  const std::uint16_t countL = recordio::readCount16(isA);
  for (std::uint16_t i = 0; i < countL; ++i) {
    std::unique_ptr<TemplateBlockImp> blockL(new TemplateBlock_Common(AlgUnknown));
    blockL->read(isA);
    addTemplateBlock(blockL.get());
    blockL.release();
  }
  if (checksum() != storedChecksumL) KXXCP_THROW(kFunction, "Checksum error reading template.");
}

std::ostream& TemplateImp::write(std::ostream& osA) const {
  const char* const kFunction = "qridy::TemplateImp::write";
  try {
    const std::uint16_t countL =
        recordio::checkedCount16(templateBlockMapM.size(), "template blocks", kFunction);
    recordio::writeHead<28>(osA, "TP", kVersion, [&](coding::PutCursor& curA) {
      curA.putFixed32(checksum());
      curA.putFixed64(sampleIdM.low);
      curA.putFixed64(sampleIdM.high);
      curA.putFixed32(metaDataSizeM);
    });
    coding::putBytes(osA, metaDataM.get(), metaDataSizeM);
    coding::putFixed16(osA, countL);
    for (const auto& entryL : templateBlockMapM) entryL.second->write(osA);
  } catch (...) {
    KXXCP_RETHROW(kFunction);
  }
  return osA;
}

bool TemplateImp::validate(std::string& textA) const {
  std::string blocksL;
  bool okL = true;
  for (const auto& entryL : templateBlockMapM) okL = entryL.second->validate(blocksL) && okL;
  std::string outL = "<Template\n";
  recordio::appendAttribute(outL, "sampleIdLow", sampleIdM.low, kKeyWidth);
  recordio::appendAttribute(outL, "sampleIdHigh", sampleIdM.high, kKeyWidth);
  recordio::appendAttribute(outL, "metaDataSize", metaDataSizeM, kKeyWidth);
  recordio::appendAttribute(outL, "checksum", checksum(), kKeyWidth);
  recordio::appendAttribute(outL, "nTemplateBlocks", templateBlockMapM.size(), kKeyWidth);
  recordio::appendSuccessLine(outL, okL, kKeyWidth, "    >");
  outL += blocksL;
  outL += "</Template>\n";
  textA += outL;
  return okL;
}

void TemplateImp::info(std::ostream& osA) const {
  std::string textL;
  validate(textL);
  osA << textL;
}

}  // namespace qridy
