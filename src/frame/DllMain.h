#pragma once

// The library entry: what runs when the hosting process loads libquarlen.so.
//
// There is one entry with a reason code, as the library has always had: process attach runs
// the once-per-process initialisation and its report; thread attach and the detach reasons do
// nothing on this platform (fault translation is switched on by the application through
// qridy::FaultTranslator and covers every thread). A load-time constructor calls it with
// process attach.

#include <functional>
#include <ostream>

namespace qridy {
namespace entry {

enum Reason : unsigned long {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3,
};

// Returns 1 (success) for every reason, also when a step failed: failures are only logged.
// reportA receives the initialisation report (standard error for the real entry).
int dllMain(unsigned long reasonA, std::ostream& reportA);

// The once-per-process initialisation of the performance primitives; returns its status, 0 for
// success. Here that is the processor-feature detection the kernels dispatch on.
int initialisePerformancePrimitives();

// Writes the initialisation report for statusA when debugLevelTextA (the value of
// TOLM_QUARLEN_DEBUG_LEVEL, or null when it is not set) converts to a nonzero decimal integer
// the way atoi() converts it: a line break, the status line and a line break.
void reportPerformanceInitialisation(int statusA, const char* debugLevelTextA,
                                     std::ostream& reportA);

// Runs stepsA; an exception escaping it is logged at error level
// ("Quarlen Dll main tolm::Exception caught : <message>" or
// "Quarlen Dll main unknown exception caught.") and goes no further.
void runEntrySteps(const std::function<void()>& stepsA);

}  // namespace entry
}  // namespace qridy
