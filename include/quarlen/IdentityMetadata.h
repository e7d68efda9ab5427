#pragma once

#include <quarlen/IdRecordKey.h>
#include <quarlen/QuarlenExport.h>

namespace qridy {

// The metadata entry of one enrolled identity, owned by the unique metadata container; stages
// and gallery files keep pointers to it. This form carries the identity's key, which is all the
// gallery files use; the container adds its query-language record, file position, string
// identifier and per-probe state to this class.
class QUARLEN_EXPORT IdentityMetadata {
 public:
  IdentityMetadata() = default;
  explicit IdentityMetadata(const IdRecordKey& keyA) : idRecordKeyM(keyA) {}

  const IdRecordKey& getIdRecordKey() const { return idRecordKeyM; }
  void setIdRecordKey(const IdRecordKey& keyA) { idRecordKeyM = keyA; }

 private:
  IdRecordKey idRecordKeyM;
};

}  // namespace qridy
