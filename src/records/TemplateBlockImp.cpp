#include <quarlen/TemplateBlockImp.h>

#include <quarlen/TemplateBlock_Common.h>

namespace qridy {

TemplateBlockImp::~TemplateBlockImp() = default;

TemplateBlockImp* TemplateBlockImp::createTemplateBlock(Algorithm algorithmA) {
  return new TemplateBlock_Common(algorithmA);
}

}  // namespace qridy
