#include <quarlen/TemplateBlockIrisDecorator.h>

#include <vector>

#include <qrlcore/Exception.h>
#include <qrliris/IrisMatchEngine.h>
#include <quarlen/TemplateBlockImp.h>

namespace qridy {

TemplateBlockIrisDecorator::TemplateBlockIrisDecorator(TemplateBlockImp* blockA,
                                                       bool isTransformedA)
    : blockM(blockA), isTransformedM(isTransformedA) {
  if (blockA == nullptr || blockA->algorithm() != AlgMvxIris2PiSdk) {
    KXXCP_THROW("qridy::TemplateBlockIrisDecorator::TemplateBlockIrisDecorator",
                "TemplateBlockIrisDecorator - Invalid template block to decorate");
  }
  engineM = std::make_unique<kxegm::IrisMatchEngine>();
  engineM->init();
}

TemplateBlockIrisDecorator::~TemplateBlockIrisDecorator() = default;

TemplateBlockImp* TemplateBlockIrisDecorator::transformIrisCode() {
  if (isTransformedM) {
    KXXCP_THROW("qridy::TemplateBlockIrisDecorator::transformIrisCode",
                "transformIrisCode called for transformed data");
  }
  return convertedCopy(true);
}

TemplateBlockImp* TemplateBlockIrisDecorator::untransformIrisCode() {
  if (!isTransformedM) {
    KXXCP_THROW("qridy::TemplateBlockIrisDecorator::untransformIrisCode",
                "untransformIrisCode called for untransformed data");
  }
  return convertedCopy(false);
}

TemplateBlockImp* TemplateBlockIrisDecorator::convertedCopy(bool transformA) const {
  auto convert = [this, transformA](const unsigned char* dataA, unsigned int sizeA) {
    std::vector<unsigned char> copyL;
    if (dataA != nullptr && sizeA >= 1) {
      copyL.assign(dataA, dataA + sizeA);
      if (transformA) {
        engineM->transformIrisCode(copyL.data(), sizeA);
      } else {
        engineM->untransformIrisCode(copyL.data(), sizeA);
      }
    }
    return copyL;
  };
  const std::vector<unsigned char> galleryL =
      convert(blockM->galleryDataPtr(), blockM->gallerySize());
  const std::vector<unsigned char> probeL = convert(blockM->probeDataPtr(), blockM->probeSize());
  std::unique_ptr<TemplateBlockImp> resultL(
      TemplateBlockImp::createTemplateBlock(AlgMvxIris2PiSdk));
  resultL->setData(probeL.empty() ? nullptr : probeL.data(),
                   static_cast<unsigned int>(probeL.size()),
                   galleryL.empty() ? nullptr : galleryL.data(),
                   static_cast<unsigned int>(galleryL.size()), false);
  return resultL.release();
}

}  // namespace qridy
