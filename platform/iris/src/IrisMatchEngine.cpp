#include <qrliris/IrisMatchEngine.h>

#include <qrlcore/Exception.h>
#include <qrliris/IrisCodeForms.h>

namespace kxegm {
namespace {

template <typename Convert>
void eachCode(unsigned char* dataA, unsigned int sizeA, Convert convertA) {
  unsigned char scratchL[irisforms::kCodeBytes];
  for (std::size_t offsetL = 0; offsetL + irisforms::kCodeBytes <= sizeA;
       offsetL += irisforms::kCodeBytes) {
    convertA(dataA + offsetL, scratchL);
    for (std::size_t i = 0; i < irisforms::kCodeBytes; ++i) dataA[offsetL + i] = scratchL[i];
  }
}

}  // namespace

IrisMatchEngine::IrisMatchEngine() = default;
IrisMatchEngine::~IrisMatchEngine() = default;

void IrisMatchEngine::init() {
  initialisedM = true;
}

void IrisMatchEngine::transformIrisCode(unsigned char* dataA, unsigned int sizeA) const {
  if (!initialisedM) {
    KXXCP_THROW("kxegm::IrisMatchEngine::transformIrisCode", "IrisMatchEngine is not initialised.");
  }
  if (dataA != nullptr) eachCode(dataA, sizeA, irisforms::matcherToRecord);
}

void IrisMatchEngine::untransformIrisCode(unsigned char* dataA, unsigned int sizeA) const {
  if (!initialisedM) {
    KXXCP_THROW("kxegm::IrisMatchEngine::untransformIrisCode",
                "IrisMatchEngine is not initialised.");
  }
  if (dataA != nullptr) eachCode(dataA, sizeA, irisforms::recordToMatcher);
}

}  // namespace kxegm
