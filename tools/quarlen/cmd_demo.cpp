// The main job: a tour of what the library does, on data it generates itself.
#include <iostream>

#include <quarlen/Types.h>

#include "Commands.h"

namespace quarlen_cli {

int runDemo(const std::vector<std::string>& args) {
  int rc = runInfo({});
  if (rc != 0) return rc;
  std::cout << "\n== vocabulary ==\n";
  const qridy::BioMetricTriple triples[] = {
      {qridy::ModalityFace, qridy::InstanceFaceFrontal, qridy::AlgHgmFloat},
      {qridy::ModalityIris, qridy::InstanceIrisLeft, qridy::AlgDaugman2010},
      {qridy::ModalityFingerprint, qridy::InstanceFingerRightIndex, qridy::AlgL2f}};
  for (const auto& t : triples) {
    std::cout << "  " << qridy::Types::bioTriple2Text(t) << "  hash key 0x" << std::hex
              << t.hashKey() << std::dec << "\n";
  }
  std::cout << "  algorithm 4 is written \"" << qridy::Types::algorithm2Text(qridy::AlgFHgm)
            << "\" and that text reads back as "
            << qridy::Types::text2Algorithm(qridy::Types::algorithm2Text(qridy::AlgFHgm).c_str())
            << "\n";
  return 0;
}

}  // namespace quarlen_cli
