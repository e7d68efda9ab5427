#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qrfpt {
class MvxFinger;
}

namespace qridy {

class IdRecordImp;
class TemplateBlockImp;

// Appends to instancesA the finger of each piece of the comma-separated text stored under the
// text form of algorithmA in sectionA of the system configuration. Throws kxxcp::Exception
// (function "qridy::readMatchingDecoratorDefinition") "unsupported instance (<piece>) in block
// [<section>] at key <key>." for a piece that is not one of the ten fingers 101 to 110.
QUARLEN_EXPORT void readMatchingDecoratorDefinition(const std::string& sectionA,
                                                    Algorithm algorithmA,
                                                    std::vector<Instance>& instancesA);

// Rearranges the fingerprint templates of identity records for the multi-finger algorithms
// "l1b", "l1v", "l2v" and "fva", trims their "l2f" templates, and gathers blocks for the gallery
// container. Records are never changed. Static operations only.
//
// Configuration: section "MATCHING_DECORATOR_DEFINITION" names the finger of each slot per
// algorithm ("l2v = fingerRightThumb,fingerRightIndex"), "useL1bClassifierAsMissingMask" and
// "L1bClassifierAsMissingMaskConfidence"; section "MATCHING_DECORATOR_SIZE" lists sizes per
// algorithm, of which the largest is the slot size. Definitions and blob sizes of the four
// algorithms are read on first use and kept for the life of the process (guarded, so first uses
// may race); other algorithms have an empty definition.
class QUARLEN_EXPORT IdRecordFingerDecorator {
 public:
  // The cached slot definition of an algorithm (empty for others than 150, 153, 154, 156).
  static const std::vector<Instance>& definition(Algorithm algorithmA);
  // The largest "MATCHING_DECORATOR_SIZE" value of an algorithm (0 when none), read at each call.
  static unsigned int slotSize(Algorithm algorithmA);
  // The cached blob size: slots of the definition times the slot size.
  static unsigned int blobSize(Algorithm algorithmA);

  // Assembles the gallery parts of the record's first-sample blocks of algorithmA, one slot per
  // finger of definitionA (zeros for an absent finger): blobA receives a new array of blobSizeA
  // bytes (caller owns it, delete[]), maskA has bit k set for a filled slot k, lastBlockA the last
  // block copied (null when none). Throws kxxcp::Exception (function
  // "qridy::IdRecordFingerDecorator::createAssenbliedTemplateBlobs") "The data size of the given
  // template (<alg>) is invalid. (exp, current) = (<slot size>, <gallery size>)" for a block of
  // another size. With "useL1bClassifierAsMissingMask" set, l1v and l2v slots of fingers other
  // than thumbs are cleared when the float at offset 1 of the finger's "l1b" block (of the
  // largest "l1b" size) is at least 0 and below "L1bClassifierAsMissingMaskConfidence".
  static void createAssenbliedTemplateBlobs(const IdRecordImp* recordA,
                                            const std::vector<Instance>& definitionA,
                                            Algorithm algorithmA, std::uint16_t& maskA,
                                            unsigned char*& blobA, std::uint32_t& blobSizeA,
                                            const TemplateBlockImp*& lastBlockA);

  // A new symmetric block of algorithmA (153 "l1v", 154 "l2v" or 156 "fva") whose gallery part
  // holds the presence masks and assembled blobs of the record, zero-padded to a multiple of 16,
  // with the metadata of the last source block. Null for other algorithms and when the record has
  // none of the blocks for the configured fingers. The caller owns the block.
  static TemplateBlockImp* createDecoratedTemplateBlock(const IdRecordImp* recordA,
                                                        Algorithm algorithmA);

  // A copy of the record whose "l2f" blocks hold, as their only part, their gallery part trimmed
  // by the finger engine to at most maxCountA minutiae (selectionA passed through). Null for a
  // null record or engine; the record itself (not a copy) when it has no "l2f" block. The caller
  // owns a copy. Throws kxxcp::Exception "Failed to trim an L2F tempalte in the IdRecord"
  // (function "qridy::IdRecordFingerDecorator::trimL2FTemplates") when the engine refuses one.
  static IdRecordImp* trimL2FTemplates(IdRecordImp* recordA, qrfpt::MvxFinger* engineA,
                                       unsigned int selectionA, unsigned int maxCountA);

  // One gathered block with the triple it was gathered for; the block belongs to the record.
  using GatheredBlock = std::pair<BioMetricTriple, const TemplateBlockImp*>;
  // For each triple, the block of its algorithm in the first template (sample index 0) of its
  // modality and instance; triples the record lacks yield nothing.
  static std::vector<GatheredBlock> gatherFirstSampleBlocks(
      const IdRecordImp& recordA, const std::vector<BioMetricTriple>& triplesA);
  // For each triple, the blocks of its algorithm in every template of its modality and instance,
  // in the order of getTemplateKeys.
  static std::vector<GatheredBlock> gatherAllSampleBlocks(
      const IdRecordImp& recordA, const std::vector<BioMetricTriple>& triplesA);

  // Forgets the cached definitions and blob sizes, so that the next use reads the configuration
  // again. For tests; an application gets new definitions only in a new process.
  static void forgetCachedDefinitions();
};

}  // namespace qridy
