// An application of the installed library: the exported vocabulary, processor features,
// configuration access, and exceptions thrown inside the library and caught here. The exception
// type comes through the umbrella header alone.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include <qrlcore/QuarlenInformation.h>
#include <quarlen/quarlen.h>

namespace {

int failures = 0;

void check(bool conditionA, const std::string& whatA) {
  if (!conditionA) {
    std::cerr << "consumer: FAILED: " << whatA << "\n";
    ++failures;
  }
}

#if defined(__x86_64__)
int readAt(std::uintptr_t addressA) {
  int valueL;
  asm volatile("movl (%1), %0" : "=r"(valueL) : "r"(addressA) : "memory");
  return valueL;
}
#endif

}  // namespace

int main() {
  check(qridy::Types::algorithm2Text(qridy::AlgHgmFloat) == "hgmFloat", "algorithm text");
  const qridy::BioMetricTriple tripleL{qridy::ModalityIris, qridy::InstanceIrisLeft,
                                       qridy::AlgDaugman2010};
  check(qridy::Types::bioTriple2Text(tripleL).find("iris") != std::string::npos, "triple text");
  check(qridy::CpuFeatures::levelName(qridy::CpuFeatures::level()) != nullptr, "cpu level");
  check(std::string(kxutl::QuarlenInformation::quarlenVersionS) ==
            std::string("Quarlen ") + QUARLEN_VERSION_TEXT,
        "version text");

  // Thrown inside libquarlen, typed by libqrlcore, caught here.
  try {
    qridy::Types::algorithmVector2Map(nullptr, 0, qrbase::TemplateCreationTypeGallery);
    check(false, "no exception from algorithmVector2Map");
  } catch (const kxxcp::Exception& e) {
    check(e.getMessage() == "Invalid input argument.", "message: " + e.getMessage());
    check(e.getFunction() == "qridy::Types::algorithmVector2Map", "function");
  }

#if defined(__x86_64__)
  qridy::FaultTranslator::enable();
  try {
    qridy::FaultTranslator::guard([] { return readAt(0); });
    check(false, "no exception from a read of address zero");
  } catch (const kxxcp::Exception& e) {
    check(e.getMessage().find(" Read-Access at virtual address 0x0000000000000000.") !=
              std::string::npos,
          "fault message: " + e.getMessage());
  }
  qridy::FaultTranslator::disable();
#endif

  if (failures == 0) std::cout << "consumer: ok\n";
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
