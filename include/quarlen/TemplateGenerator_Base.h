#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {
class IdRecordImp;
class TemplateBlockImp;
}  // namespace qridy

namespace qrbase {

class BioDescriptor;

// The configuration a generator's init selects: the normal face configuration, the fast one,
// adaptation (no longer supported by the face generator) or the three-dimensional one. The iris
// generator ignores it.
enum TemplateCreationMode : std::uint32_t {
  TemplateCreationModeNormalC = 1,
  TemplateCreationModeFastC = 2,
  TemplateCreationModeAdaptationC = 3,
  TemplateCreationMode3dC = 4,
};

// Which algorithms a generator produces, and for which use; ordered by algorithm value.
using AlgorithmMap = std::map<qridy::Algorithm, TemplateCreationType>;

// What every template generator shares: the map of the algorithms it produces, the rules that
// intersect such maps, and the routine that files freshly made blocks into an identity record.
class QUARLEN_EXPORT TemplateGenerator_Base {
 public:
  TemplateGenerator_Base() = default;
  TemplateGenerator_Base(const TemplateGenerator_Base&) = default;
  TemplateGenerator_Base& operator=(const TemplateGenerator_Base&) = default;
  virtual ~TemplateGenerator_Base();

  // The algorithms this generator produces; empty until a generator fills it.
  const AlgorithmMap& algorithmMap() const { return algorithmMapM; }
  // Whether the algorithm is in the map (the modality takes no part).
  bool hasEnabled(qridy::Modality modalityA, qridy::Algorithm algorithmA) const;

  static bool algorithmMapContains(const AlgorithmMap& mapA, qridy::Algorithm algorithmA);
  // Whether the algorithm is in the map with a type that covers wantedA: gallery (1) covers only
  // 1, probe (2) only 2, gallery and probe (3) covers 1, 2 and 3; other stored values cover
  // nothing.
  static bool algorithmMapContains(const AlgorithmMap& mapA, qridy::Algorithm algorithmA,
                                   TemplateCreationType wantedA);
  // The uses two creation types have in common, 1 and 2 being single uses and 3 both: true and
  // outA set for (1,1), (1,3), (3,1) -> 1; (2,2), (2,3), (3,2) -> 2; (3,3) -> 3. Any other pair
  // ((1,2), (2,1), values outside 1..3) returns false and leaves outA alone.
  static bool createTemplateCreationTypeIntersection(TemplateCreationType aA,
                                                     TemplateCreationType bA,
                                                     TemplateCreationType& outA);
  // For each algorithm of both maps, the intersection of its two types; algorithms without a
  // common use are left out.
  static AlgorithmMap createAlgorithmMapIntersection(const AlgorithmMap& aA,
                                                     const AlgorithmMap& bA);

  // Files freshly made blocks for the descriptor's sample into targetA: one new template (sample
  // id of the descriptor, metadata from metaDataA when not null) holding the blocks, in a new
  // biometric record of the descriptor's modality and instance, in a new identity record with
  // the descriptor's key, which is then merged into targetA (IdRecordImp::merge).
  //
  // Ownership: the function takes every block of blocksA, on success and on failure alike
  // (blocks it could not file are deleted), and empties the vector. Null entries are skipped.
  //
  // Failures are thrown as "Failed to add 'TemplateBlock' to IDRecord. \n Details:" followed by
  // the caught message (" unkown exc caught." for anything that is not a kxxcp::Exception); a
  // vector without any block gives the detail "All template blocks are null.".
  static void addGeneratedTemplateBlock(qridy::IdRecordImp& targetA,
                                        std::vector<qridy::TemplateBlockImp*>& blocksA,
                                        const BioDescriptor& descriptorA,
                                        const unsigned char* metaDataA, unsigned metaDataSizeA);

 protected:
  AlgorithmMap algorithmMapM;
};

}  // namespace qrbase
