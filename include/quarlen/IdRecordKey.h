#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace qridy {

// The key of an identity record: person id and transaction id. Ordered by person id, then
// transaction id (both unsigned). The default key is (0, 0).
struct IdRecordKey {
  IdRecordKey() = default;
  IdRecordKey(std::uint64_t personIdA, std::uint64_t transactionIdA)
      : personId(personIdA), transactionId(transactionIdA) {}

  bool operator==(const IdRecordKey& otherA) const {
    return personId == otherA.personId && transactionId == otherA.transactionId;
  }
  bool operator!=(const IdRecordKey& otherA) const { return !(*this == otherA); }
  bool operator<(const IdRecordKey& otherA) const {
    return personId != otherA.personId ? personId < otherA.personId
                                       : transactionId < otherA.transactionId;
  }
  bool operator>(const IdRecordKey& otherA) const { return otherA < *this; }
  bool operator<=(const IdRecordKey& otherA) const { return !(otherA < *this); }
  bool operator>=(const IdRecordKey& otherA) const { return !(*this < otherA); }

  std::uint64_t personId = 0;
  std::uint64_t transactionId = 0;
};

}  // namespace qridy

namespace std {
template <>
struct hash<qridy::IdRecordKey> {
  std::size_t operator()(const qridy::IdRecordKey& keyA) const noexcept {
    return std::hash<std::uint64_t>()(keyA.personId * 0x9E3779B97F4A7C15ull ^ keyA.transactionId);
  }
};
}  // namespace std
