#pragma once

// Synthetic enrolment records for matcher tests: identities whose templates of every sample
// lie close together (mates) and far from other identities, in the template forms the face and
// iris match engines read.
//
//   face: one faceFrontal template with an hgmFloat block (128 floats, unit length) and an
//         hgmByte block (the same vector quantised as the face library does);
//   iris: irisLeft and irisRight templates with daugman2010 blocks (256-byte matcher-form codes,
//         about 80 % of the bits usable).
//
// A sample of identity idA is its identity's features disturbed by sample noise drawn from
// sampleSeedA (sample seed 0: no noise; the iris code is turned by one position too). Every
// block carries the same bytes as gallery and probe part. The caller owns the result.

#include <cstdint>
#include <memory>

#include <quarlen/IdRecordImp.h>

namespace quarlen_test {

std::unique_ptr<qridy::IdRecordImp> syntheticFaceRecord(std::uint64_t personIdA,
                                                        std::uint64_t transactionIdA,
                                                        std::uint64_t identityA,
                                                        std::uint64_t sampleSeedA);

std::unique_ptr<qridy::IdRecordImp> syntheticIrisRecord(std::uint64_t personIdA,
                                                        std::uint64_t transactionIdA,
                                                        std::uint64_t identityA,
                                                        std::uint64_t sampleSeedA);

// Four fingers (right and left index, right and left thumb) as l2f templates: impression
// sampleSeedA of the synthetic fingers of identityA (impression 0 for an enrolment).
std::unique_ptr<qridy::IdRecordImp> syntheticFingerRecord(std::uint64_t personIdA,
                                                          std::uint64_t transactionIdA,
                                                          std::uint64_t identityA,
                                                          std::uint64_t sampleSeedA);

}  // namespace quarlen_test
