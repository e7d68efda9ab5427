#include <quarlen/TemplateMatcherMultipass.h>

namespace qrbase {

std::vector<qridy::StageMatchEngine_Base*>& TemplateMatcherMultipass::getSharedMatchEngines(
    qridy::Algorithm algorithmA, ThreadStruct& threadA) {
  return threadA.sharedMatchEngines[algorithmA];
}

std::uint64_t TemplateMatcherMultipass::calculateHashKey(qridy::Modality modalityA,
                                                         qridy::Instance instanceA,
                                                         qridy::Algorithm algorithmA) {
  return (((static_cast<std::uint64_t>(instanceA) << 16) + static_cast<std::uint64_t>(modalityA))
          << 32) +
         static_cast<std::uint64_t>(algorithmA);
}

}  // namespace qrbase
