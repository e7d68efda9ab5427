// Writes demo face records for the sharded command-line test: the enrolments of identities
// 0 .. N-1 as DIR/<id>.qx and a noisy sample of identity MATE as DIR/probe.qx.
//   write_demo_records DIR N MATE
#include <cstdlib>
#include <iostream>
#include <string>

#include "DemoPopulation.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: write_demo_records DIR N MATE\n";
    return 2;
  }
  const std::string dirL = argv[1];
  const unsigned long long nL = std::strtoull(argv[2], nullptr, 10);
  const auto faceL = quarlen_cli::faceModality(0.7f);
  for (unsigned long long id = 0; id < nL; ++id) {
    faceL->enrolment(id)->write(dirL + "/" + std::to_string(id) + ".qx");
  }
  faceL->probe(std::strtoull(argv[3], nullptr, 10), 99)->write(dirL + "/probe.qx");
  return 0;
}
