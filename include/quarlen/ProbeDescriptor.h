#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>

namespace qrbase {
class MultipassConfig;
}

namespace qridy {

// What narrows one identification beyond the probe record: a metadata query, a list of persons
// or a list of transactions (the candidates of every pass), and optionally a configuration that
// replaces the pipeline's own for verification. Empty after construction; copies own their query
// and configuration.
//
// Precedence in the pipeline: a query, else a person list, else a transaction list. A list that
// was set, even empty, restricts the search (an empty list leaves no candidate).
//
// Errors: setQuery validates the query (QueryLanguage::validateQuery) and throws its message;
// the descriptor is unchanged then.
class QUARLEN_EXPORT ProbeDescriptor {
 public:
  ProbeDescriptor();
  ProbeDescriptor(const ProbeDescriptor& otherA);
  ProbeDescriptor& operator=(const ProbeDescriptor& otherA);
  ProbeDescriptor(ProbeDescriptor&&) noexcept;
  ProbeDescriptor& operator=(ProbeDescriptor&&) noexcept;
  ~ProbeDescriptor();

  // Copies the countA words of queryA after validating them; null or countA 0 removes the query.
  void setQuery(const unsigned int* queryA, std::size_t countA);
  // The query words (terminated as validated), null when there is none.
  const unsigned int* query() const { return queryM.empty() ? nullptr : queryM.data(); }
  std::size_t querySize() const { return queryM.size(); }
  bool hasQuery() const { return !queryM.empty(); }

  void setPersonList(std::vector<std::uint64_t> personIdsA);
  const std::vector<std::uint64_t>& personList() const { return personIdsM; }
  bool hasPersonList() const { return hasPersonListM; }

  void setTransactionList(std::vector<std::uint64_t> transactionIdsA);
  const std::vector<std::uint64_t>& transactionList() const { return transactionIdsM; }
  bool hasTransactionList() const { return hasTransactionListM; }

  // A copy of configA (null removes it).
  void setConfig(const qrbase::MultipassConfig* configA);
  const qrbase::MultipassConfig* config() const { return configM.get(); }

  // Free-form properties an application attaches to the probe; the matcher does not read them.
  std::map<std::string, std::string>& properties() { return propertiesM; }
  const std::map<std::string, std::string>& properties() const { return propertiesM; }
  // An application value, -1 after construction; not read by the matcher.
  int userValue() const { return userValueM; }
  void setUserValue(int valueA) { userValueM = valueA; }

  // Back to the state after construction.
  void clear();

 private:
  std::vector<unsigned int> queryM;
  std::unique_ptr<qrbase::MultipassConfig> configM;
  std::vector<std::uint64_t> personIdsM;
  std::vector<std::uint64_t> transactionIdsM;
  std::map<std::string, std::string> propertiesM;
  bool hasPersonListM = false;
  bool hasTransactionListM = false;
  int userValueM = -1;
};

}  // namespace qridy
