#pragma once

// Randomly built records for round-trip tests, fuzz seeds and benchmarks of other components.
// Every record is valid: checksums agree, metadata parts are well-formed metadata records of the
// block's modality, sample ids are unique within a biometric record. The caller owns the result.

#include <random>

#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/Types.h>

namespace quarlen_test {

using namespace qridy;

// A block of algorithmA with random gallery, probe and metadata parts of up to maxPartA bytes
// (each possibly empty) and a random symmetric flag.
TemplateBlockImp* randomBlock(std::mt19937& rngA, Algorithm algorithmA, Modality modalityA,
                              unsigned int maxPartA = 64);
// A template with a random sample id, maybe metadata, and 0 to 3 blocks of algorithms of
// modalityA.
TemplateImp* randomTemplate(std::mt19937& rngA, Modality modalityA, unsigned int maxPartA = 64);

// A biometric record of modalityA and instanceA with 0 to maxTemplatesA templates (distinct
// sample ids).
BioRecordImp* randomBioRecord(std::mt19937& rngA, Modality modalityA, Instance instanceA,
                              unsigned int maxTemplatesA = 3, unsigned int maxPartA = 64);

// An identity record with a random key, maybe an sId, and 0 to maxBioRecordsA biometric records
// of distinct (modality, instance) pairs.
IdRecordImp* randomIdRecord(std::mt19937& rngA, unsigned int maxBioRecordsA = 4,
                            unsigned int maxTemplatesA = 3, unsigned int maxPartA = 64);

}  // namespace quarlen_test
