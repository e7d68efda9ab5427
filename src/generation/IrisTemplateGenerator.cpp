#include <quarlen/IrisTemplateGenerator.h>

#include <memory>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeCreator.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMetaDataIris.h>

namespace qrbase {

namespace {

// One block of algorithm 200 with the given parts and the descriptor's iris metadata, filed
// into targetA.
void fileIrisBlock(const IrisDescriptor& descriptorA, qridy::IdRecordImp& targetA,
                   const unsigned char* probeA, unsigned probeSizeA, const unsigned char* galleryA,
                   unsigned gallerySizeA) {
  std::unique_ptr<qridy::TemplateBlockImp> blockL(
      qridy::TemplateBlockImp::createTemplateBlock(qridy::AlgMvxIris2PiSdk));
  blockL->setData(probeA, probeSizeA, galleryA, gallerySizeA, false);

  const kxegm::IrisQualityCheckResult& qualityL = descriptorA.irisQcheckResult();
  qridy::TemplateMetaDataIris metaDataL;
  metaDataL.setIrisValue1(qualityL.usableBitCount);
  metaDataL.setIrisValue2(qualityL.irisDiameter);
  metaDataL.setQuality(qualityL.quality);
  unsigned char* bytesL = nullptr;
  unsigned int sizeL = 0;
  metaDataL.createData(bytesL, sizeL);
  const std::unique_ptr<unsigned char[]> ownedBytesL(bytesL);
  blockL->setMetaData(bytesL, sizeL);

  std::vector<qridy::TemplateBlockImp*> blocksL{blockL.release()};
  TemplateGenerator_Base::addGeneratedTemplateBlock(targetA, blocksL, descriptorA, nullptr, 0);
}

[[noreturn]] void rethrowWrapped(const char* functionA) {
  try {
    throw;
  } catch (const kxxcp::Exception& e) {
    KXXCP_THROW(functionA, "\nkxxcp caught: " << e.getMessage());
  } catch (...) {
    KXXCP_THROW(functionA, "\nunknown exc caught.\n");
  }
}

}  // namespace

IrisTemplateGenerator::IrisTemplateGenerator() {
  algorithmMapM.emplace(qridy::AlgMvxIris2PiSdk, TemplateCreationTypeGalleryAndProbe);
}

void IrisTemplateGenerator::init(unsigned long long threadCountA, TemplateCreationMode modeA,
                                 const qridy::Algorithm* algorithmsA, unsigned countA) {}

void IrisTemplateGenerator::createTemplate(IrisDescriptor& descriptorA,
                                           qridy::IdRecordImp& targetA) {
  if (!descriptorA.isValid()) return;
  try {
    const qrimg::Image* eyeL = descriptorA.preprocessedImage() != nullptr
                                   ? descriptorA.preprocessedImage()
                                   : descriptorA.inputImage();
    if (descriptorA.probeSize() == 0 && descriptorA.gallerySize() == 0 && eyeL != nullptr) {
      const kxegm::IrisTemplateData codeL = kxegm::IrisCodeCreator::createTemplate(*eyeL);
      descriptorA.setProbeData(codeL.probe.data(), static_cast<std::uint32_t>(codeL.probe.size()));
      descriptorA.setGalleryData(codeL.gallery.data(),
                                 static_cast<std::uint32_t>(codeL.gallery.size()));
      descriptorA.setIrisQcheckResult(codeL.quality);
    }
    fileIrisBlock(descriptorA, targetA, descriptorA.probeData(), descriptorA.probeSize(),
                  descriptorA.galleryData(), descriptorA.gallerySize());
  } catch (...) {
    rethrowWrapped("qrbase::IrisTemplateGenerator::createTemplate");
  }
}

void IrisTemplateGenerator::createDummyTemplate(IrisDescriptor& descriptorA,
                                                qridy::IdRecordImp& targetA) {
  if (!descriptorA.isValid()) return;
  try {
    fileIrisBlock(descriptorA, targetA, nullptr, 0, nullptr, 0);
  } catch (...) {
    rethrowWrapped("qrbase::IrisTemplateGenerator::createDummyTemplate");
  }
}

}  // namespace qrbase
