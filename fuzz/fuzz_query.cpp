// Hostile queries: the input's 32-bit words (little-endian) are a probe query of known length.
// validateQuery must refuse it with kxxcp::Exception or accept it; an accepted query is
// evaluated against a small registry, word by word and through the container's filter, which
// must agree.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <qrlcore/Exception.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "RegistrySetup.h"

namespace {

qridy::UniqueMetadataContainer& registry() {
  static qridy::UniqueMetadataContainer* umcS = [] {
    fuzzing::registryDir();
    auto* umcL = new qridy::UniqueMetadataContainer(qridy::ModalityIris);
    for (unsigned iL = 0; iL < 64; ++iL) {
      qridy::QueryLanguage qL;
      const unsigned int valuesL[4] = {iL % 4, iL % 10, iL * 37u, iL % 2 == 0 ? 0xFFFFFFFFu : 0u};
      qL.setAttributes(iL, valuesL);
      umcL->addIdRecordKey(qridy::IdRecordKey(iL / 3, iL), &qL, nullptr, 0, false);
    }
    return umcL;
  }();
  return *umcS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  qridy::UniqueMetadataContainer& umcL = registry();
  std::vector<unsigned int> queryL(sizeA / 4);
  for (std::size_t iL = 0; iL < queryL.size(); ++iL) {
    queryL[iL] = dataA[4 * iL] | dataA[4 * iL + 1] << 8 | dataA[4 * iL + 2] << 16 |
                 static_cast<unsigned int>(dataA[4 * iL + 3]) << 24;
  }
  try {
    qridy::QueryLanguage::validateQuery(queryL.data(), queryL.size());
  } catch (const kxxcp::Exception&) {
    return 0;
  }
  if (qridy::QueryLanguage::getProbeQuerySize(queryL.data()) > queryL.size()) std::abort();
  umcL.processQueryLanguage(0, queryL.data(), 1 + sizeA % 2, qridy::QueryFilterModeDefault);
  std::vector<qridy::IdRecordKey> idsL;
  umcL.getIdsByQueryLanguage(0, queryL.data(), idsL);
  std::size_t matchesL = 0;
  for (const qridy::IdentityMetadata* mL : umcL.getInternalMetadataVector()) {
    const bool matchL = mL->queryLanguage().matchesQuery(queryL.data());
    if (matchL != (mL->getResultState(0) != 0)) std::abort();
    matchesL += matchL ? 1 : 0;
  }
  if (matchesL != idsL.size()) std::abort();
  return 0;
}
