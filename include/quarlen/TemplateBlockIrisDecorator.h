#pragma once

#include <memory>

#include <quarlen/QuarlenExport.h>

namespace kxegm {
class IrisMatchEngine;
}

namespace qridy {

class TemplateBlockImp;

// Makes transformed or untransformed copies of an "mvxIris2PiSdk" iris block with the iris
// library's engine (kxegm::IrisMatchEngine): records store iris codes transformed, the iris
// match engines compare them untransformed. The wrapped block is never changed.
class QUARLEN_EXPORT TemplateBlockIrisDecorator {
 public:
  // Keeps blockA (not owned; it must outlive the decorator) and whether its data are already
  // transformed. Throws kxxcp::Exception "TemplateBlockIrisDecorator - Invalid template block to
  // decorate" (function "qridy::TemplateBlockIrisDecorator::TemplateBlockIrisDecorator") for a
  // null block or one of another algorithm.
  TemplateBlockIrisDecorator(TemplateBlockImp* blockA, bool isTransformedA);
  ~TemplateBlockIrisDecorator();
  TemplateBlockIrisDecorator(const TemplateBlockIrisDecorator&) = delete;
  TemplateBlockIrisDecorator& operator=(const TemplateBlockIrisDecorator&) = delete;

  // A new block of the same algorithm whose gallery and probe parts (those present) are the
  // transformed copies of the wrapped block's; no metadata, not symmetric. The caller owns it.
  // Throws kxxcp::Exception "transformIrisCode called for transformed data" when the wrapped
  // data are already transformed.
  TemplateBlockImp* transformIrisCode();
  // The inverse; throws "untransformIrisCode called for untransformed data".
  TemplateBlockImp* untransformIrisCode();

  bool isTransformed() const { return isTransformedM; }

 private:
  TemplateBlockImp* convertedCopy(bool transformA) const;

  TemplateBlockImp* blockM;
  bool isTransformedM;
  std::unique_ptr<kxegm::IrisMatchEngine> engineM;
};

}  // namespace qridy
