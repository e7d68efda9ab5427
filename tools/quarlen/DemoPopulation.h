#pragma once

// The synthetic population of the demo: identities whose templates of every sample lie close
// together (mates) and far from everybody else, in the forms the match engines read.

#include <cstdint>
#include <memory>
#include <string>

#include <quarlen/IdRecordImp.h>

namespace quarlen_cli {

// One modality of the demo: the storage and pipeline of the example configuration that serve it
// and the records of its identities.
class DemoModality {
 public:
  virtual ~DemoModality() = default;
  virtual std::string label() const = 0;       // "face", "iris", ...
  virtual std::string storageId() const = 0;   // of storage.xml
  virtual std::string pipelineId() const = 0;  // of pipelines.xml
  virtual std::string describe() const = 0;    // what a record holds
  // The enrolment record of identity idA (person idA, transaction idA + 1).
  virtual std::unique_ptr<qridy::IdRecordImp> enrolment(std::uint64_t idA) const = 0;
  // Another sample of identity idA, drawn with seedA (person 0, transaction seedA).
  virtual std::unique_ptr<qridy::IdRecordImp> probe(std::uint64_t idA,
                                                    std::uint64_t seedA) const = 0;
};

// Face: hgmByte and hgmFloat blocks of one 256-feature vector; a probe adds noise of relative
// strength noiseA.
std::unique_ptr<DemoModality> faceModality(float noiseA);
// Iris: daugman2010 codes of both eyes; a probe turns each code by up to turnA positions and
// flips a fraction flipsA of its bits.
std::unique_ptr<DemoModality> irisModality(double flipsA, int turnA);
// Fingerprints: l2f minutiae templates of four fingers (both index fingers and thumbs); a probe
// is another impression (turned, shifted, with missing and spurious minutiae).
std::unique_ptr<DemoModality> fingerModality();

}  // namespace quarlen_cli
