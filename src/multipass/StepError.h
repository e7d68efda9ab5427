#pragma once

// The error form of the operations that run in named steps (identification, matcher set-up):
// whatever a step throws leaves as one kxxcp::Exception of the operation, the step's name
// followed by an introduction and the caught text.

#include <exception>
#include <string>

#include <qrlcore/Exception.h>

namespace qrbase {

// To be called inside a catch block only. A kxxcp::Exception keeps its error code; the other
// kinds get code 0.
[[noreturn]] inline void rethrowFromStep(const char* functionA, const std::string& stepA) {
  try {
    throw;
  } catch (const kxxcp::Exception& eA) {
    throw kxxcp::Exception(stepA + "\nkxxcp caught: " + eA.getMessage(), __FILE__, __LINE__,
                           functionA, nullptr, eA.errorCode());
  } catch (const std::exception& eA) {
    throw kxxcp::Exception(stepA + "\nstd::exc caught: " + eA.what(), __FILE__, __LINE__, functionA,
                           nullptr, 0);
  } catch (int codeA) {
    throw kxxcp::Exception(stepA + "\nint exc caught: " + std::to_string(codeA), __FILE__, __LINE__,
                           functionA, nullptr, 0);
  } catch (...) {
    throw kxxcp::Exception(stepA + "\nunknown exc caught.", __FILE__, __LINE__, functionA, nullptr,
                           0);
  }
}

}  // namespace qrbase
