#pragma once

// Randomly built records for round-trip tests, fuzz seeds and benchmarks of other components.
// Every record is valid: checksums agree, metadata parts are well-formed metadata records of the
// block's modality, sample ids are unique within a biometric record. The caller owns the result.

#include <random>

#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/Types.h>

namespace qridy {
namespace testsupport {

// A block of algorithmA with random gallery, probe and metadata parts of up to maxPartA bytes
// (each possibly empty) and a random symmetric flag.
TemplateBlockImp* randomBlock(std::mt19937& rngA, Algorithm algorithmA, Modality modalityA,
                              unsigned int maxPartA = 64);
// A template with a random sample id, maybe metadata, and 0 to 3 blocks of algorithms of
// modalityA.
TemplateImp* randomTemplate(std::mt19937& rngA, Modality modalityA, unsigned int maxPartA = 64);

}  // namespace testsupport
}  // namespace qridy
