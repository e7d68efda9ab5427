#include "engines/iris/IrisMatcherLibrary.h"

#include <cstring>
#include <memory>

#include <qrlcore/Exception.h>

namespace qridy {
namespace engines {
namespace {

template <typename Fn>
Fn importOrdinal(unsigned ordinalA) {
  void* procL = qrlIrisProcByOrdinal(ordinalA);
  if (procL == nullptr) {
    KXXCP_THROW("qridy::engines::IrisMatcherLibrary::get",
                "Iris-code matcher library lacks ordinal " << ordinalA << ".");
  }
  return reinterpret_cast<Fn>(procL);
}

}  // namespace

const IrisMatcherLibrary& IrisMatcherLibrary::get() {
  static const IrisMatcherLibrary libraryS = {
      importOrdinal<QrlIrisLoadProbeFn>(16), importOrdinal<QrlIrisFreeProbeFn>(11),
      importOrdinal<QrlIrisCountWordFn>(21), importOrdinal<QrlIrisCountWordFn>(22),
      importOrdinal<QrlIrisScreenFn>(23)};
  return libraryS;
}

QrlIrisProbeHandle* loadIrisProbe(const unsigned char* dataA, unsigned int sizeA,
                                  const char* functionA) {
  const IrisMatcherLibrary& libL = IrisMatcherLibrary::get();
  // The descriptor's first 4096 bytes belong to the library; it does not read them.
  auto descriptorL = std::make_unique<QrlIrisProbeDescriptor>();
  descriptorL->data = dataA;
  descriptorL->size = sizeA;
  descriptorL->flags = 0;
  auto handleL = std::make_unique<QrlIrisProbeHandle>();
  if (libL.loadProbe(descriptorL.get(), handleL.get()) != 0) {
    KXXCP_THROW(functionA, "IrisMatchEngine::identifyStart failed to load probe...");
  }
  return handleL.release();
}

void freeIrisProbe(QrlIrisProbeHandle*& handleA) {
  if (handleA == nullptr) return;
  IrisMatcherLibrary::get().freeProbe(handleA);
  delete handleA;
  handleA = nullptr;
}

}  // namespace engines
}  // namespace qridy
