#include "frame/DllMain.h"

#include <cstdlib>
#include <iostream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <quarlen/CpuFeatures.h>

namespace qridy {
namespace entry {

int initialisePerformancePrimitives() {
  // Detection runs once and is cached; it cannot fail, only find fewer features.
  (void)CpuFeatures::level();
  return 0;
}

void reportPerformanceInitialisation(int statusA, const char* debugLevelTextA,
                                     std::ostream& reportA) {
  if (debugLevelTextA == nullptr || std::atoi(debugLevelTextA) == 0) return;
  // The status values are those of the vendor primitives this initialisation replaces: 20 is a
  // processor of another vendor (still a success), 24 a library without the operation.
  const char* lineL = "******************Initializing Ipp failed !!******************";
  if (statusA == 0) {
    lineL = "******************Initializing Ipp succeeded******************";
  } else if (statusA == 20) {
    lineL =
        "******************Initializing Ipp succeeded: non Intel Cpu found !!"
        "******************";
  } else if (statusA == 24) {
    lineL =
        "******************Initializing Ipp failed (ippStsNoOperationInDll) !!"
        "******************";
  }
  reportA << "\n" << lineL << "\n";
  reportA.flush();
}

void runEntrySteps(const std::function<void()>& stepsA) {
  try {
    stepsA();
  } catch (const kxxcp::Exception& e) {
    kxntc::error << "Quarlen Dll main tolm::Exception caught : " << e.getMessage();
    kxntc::notify(kxntc::error);
  } catch (...) {
    kxntc::error << "Quarlen Dll main unknown exception caught.";
    kxntc::notify(kxntc::error);
  }
}

int dllMain(unsigned long reasonA, std::ostream& reportA) {
  if (reasonA == kProcessAttach) {
    runEntrySteps([&reportA] {
      const int statusL = initialisePerformancePrimitives();
      reportPerformanceInitialisation(statusL, std::getenv("TOLM_QUARLEN_DEBUG_LEVEL"), reportA);
    });
  }
  return 1;
}

}  // namespace entry
}  // namespace qridy

namespace {

__attribute__((constructor)) void quarlenProcessAttach() {
  // The standard streams may not be constructed yet when the loader runs this.
  static std::ios_base::Init streamsL;
  qridy::entry::dllMain(qridy::entry::kProcessAttach, std::cerr);
}

}  // namespace
