#include <quarlen/ProbeDescriptor.h>

#include <utility>

#include <quarlen/MultipassConfig.h>
#include <quarlen/QueryLanguage.h>

namespace qridy {

ProbeDescriptor::ProbeDescriptor() = default;

ProbeDescriptor::ProbeDescriptor(const ProbeDescriptor& otherA)
    : queryM(otherA.queryM),
      configM(otherA.configM ? std::make_unique<qrbase::MultipassConfig>(*otherA.configM)
                             : nullptr),
      personIdsM(otherA.personIdsM),
      transactionIdsM(otherA.transactionIdsM),
      propertiesM(otherA.propertiesM),
      hasPersonListM(otherA.hasPersonListM),
      hasTransactionListM(otherA.hasTransactionListM),
      userValueM(otherA.userValueM) {}

ProbeDescriptor& ProbeDescriptor::operator=(const ProbeDescriptor& otherA) {
  ProbeDescriptor copyL(otherA);  // safe for self-assignment
  *this = std::move(copyL);
  return *this;
}

ProbeDescriptor::ProbeDescriptor(ProbeDescriptor&&) noexcept = default;
ProbeDescriptor& ProbeDescriptor::operator=(ProbeDescriptor&&) noexcept = default;
ProbeDescriptor::~ProbeDescriptor() = default;

void ProbeDescriptor::setQuery(const unsigned int* queryA, std::size_t countA) {
  if (queryA == nullptr || countA == 0) {
    queryM.clear();
    return;
  }
  QueryLanguage::validateQuery(queryA, countA);
  // Keep the words up to the terminating 0 only.
  queryM.assign(queryA, queryA + QueryLanguage::getProbeQuerySize(queryA));
}

void ProbeDescriptor::setPersonList(std::vector<std::uint64_t> personIdsA) {
  personIdsM = std::move(personIdsA);
  hasPersonListM = true;
}

void ProbeDescriptor::setTransactionList(std::vector<std::uint64_t> transactionIdsA) {
  transactionIdsM = std::move(transactionIdsA);
  hasTransactionListM = true;
}

void ProbeDescriptor::setConfig(const qrbase::MultipassConfig* configA) {
  configM = configA != nullptr ? std::make_unique<qrbase::MultipassConfig>(*configA) : nullptr;
}

void ProbeDescriptor::clear() {
  *this = ProbeDescriptor();
}

}  // namespace qridy
