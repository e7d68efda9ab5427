#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultTreeList.h>

namespace qridy {

// A result list in bytes, to carry it between processes unchanged: every score at every level
// (identity, biometric record, template, block with its normalised flag), the string
// identifiers and the miss-analysis text. Decoding restores the scores as they were, without
// recomputing them, so a decoded list ranks and prints exactly like the encoded one.
//
// Layout, little-endian: magic "RL", version u16, record count u32, then per record personId
// u64, transactionId u64, score f32, SID length u32 and bytes, biometric-record count u32; per
// biometric record key u32, score f32, template count u32; per template sample id high u64, low
// u64, score f32, block count u32; per block algorithm u32, score f32, normalised u8; finally the
// miss-analysis length u32 and bytes.
class QUARLEN_EXPORT ResultTreeCoding {
 public:
  static std::string encode(const ResultTreeList& listA);

  // Decodes bytes made by encode. The SIDs of the decoded records point into strings appended to
  // sidStoreA, which the caller keeps for as long as it uses the list. Throws kxxcp::Exception
  // ("Result list: ..." naming what is wrong) for bytes that end early, a wrong magic or
  // version, a count larger than the bytes can hold, or bytes left over.
  static ResultTreeList decode(const unsigned char* dataA, std::size_t sizeA,
                               std::deque<std::string>& sidStoreA);
};

}  // namespace qridy
