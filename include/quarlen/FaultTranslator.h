#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include <quarlen/QuarlenExport.h>

namespace qridy {

// Turns processor faults into the library's exception type.
//
// Off until the application switches it on: the library installs no signal handler unasked.
// enable() installs process-wide handlers for SIGSEGV, SIGBUS, SIGFPE and SIGILL. A fault on a
// thread that is inside guard() then leaves the guarded call and reaches guard()'s caller as
// kxxcp::Exception (function "win32XcpTranslate", code -1) with the message
//   "Win32 Exception (Code=0xC0000005) in Thread 0x<thread id>: Access Violation @
//    0x<instruction>. Read-Access at virtual address 0x0000000000000000."
// (without the line break), the code and description naming the fault:
//   SIGSEGV                   0xC0000005 access violation, "Write-Access" for a write
//                             (x86-64), 0xC00000FD "Stack Size Exceeded" for a stack overflow
//   SIGBUS                    0xC0000002 misalignment, 0xC0000006 "Page Fault" (mapped file)
//   SIGFPE                    0xC0000094 integer division by zero, 0xC0000095 integer
//                             overflow, 0xC000008E..0xC0000093 floating-point exceptions
//   SIGILL                    0xC000001D illegal, 0xC0000096 privileged instruction
// A fault outside guard() goes to the handler that was installed before enable() (by default
// the process ends as it always would).
//
// The guarded call is abandoned where it faulted: destructors of objects living inside it do
// not run and locks it held stay held. Guard whole operations whose partial state the caller
// discards, not code in the middle of changing shared state.
//
// Stack overflows are caught on an alternate signal stack, which guard() sets up for its thread
// when the thread has none.
class QUARLEN_EXPORT FaultTranslator {
 public:
  static void enable();
  // Restores the handlers that were installed before enable().
  static void disable();
  static bool isEnabled();

  // Runs fnA() and returns its result; faults inside reach the caller as kxxcp::Exception
  // while the translator is enabled (otherwise guard() only calls fnA). Exceptions thrown by
  // fnA pass through unchanged. Guards nest; the innermost one catches a fault.
  template <typename Fn>
  static auto guard(Fn&& fnA) -> decltype(fnA()) {
    using Result = decltype(fnA());
    static_assert(!std::is_reference<Result>::value, "guard() returns values, not references");
    if constexpr (std::is_void<Result>::value) {
      runGuarded(&invoke<std::remove_reference_t<Fn>>, &fnA);
    } else {
      std::optional<Result> resultL;
      auto bodyL = [&]() { resultL.emplace(fnA()); };
      runGuarded(&invoke<decltype(bodyL)>, &bodyL);
      return std::move(*resultL);
    }
  }

 private:
  template <typename Body>
  static void invoke(void* bodyA) {
    (*static_cast<Body*>(bodyA))();
  }
  static void runGuarded(void (*bodyA)(void*), void* contextA);
};

}  // namespace qridy
