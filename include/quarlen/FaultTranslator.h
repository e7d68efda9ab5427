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
// thread that is inside guard() then becomes kxxcp::Exception, thrown at the faulting
// instruction (function "win32XcpTranslate", code -1), with the message
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
// How a fault travels: the handler records the fault, and on its return the thread continues
// in a small frame, on the thread's alternate signal stack, that throws the exception as if the
// faulting instruction had thrown it. Unwinding then runs as for any exception: destructors run
// and locks are released in every frame between the fault and guard(), and the operations'
// catch-and-rethrow frames see the fault and put their introduction in front of its message
// ("... kxxcp caught: Win32 Exception ..."). The library and its sibling stand-ins are built
// with -fnon-call-exceptions so that their unwind tables cover instructions that can fault,
// not only calls. (On processors other than x86-64 the exception is thrown from the handler
// itself, on the alternate stack, after restoring the signal mask.)
//
// Limits, all of which end in std::terminate as an exception in the same place would:
// - A fault in code built without -fnon-call-exceptions (the application's own hooks and
//   callbacks, for example) unwinds cleanly only where that function holds no destructors or
//   handlers at the faulting instruction; its callers are fine, since a call may always throw.
//   Build such code with the flag too when faults in it must unwind.
// - A fault inside a noexcept function (destructors included).
// - The compiler assumes that accesses to a function's own stack frame cannot fault: a stack
//   overflow in a function that touches nothing else may reach a caller that was compiled
//   without cleanups for that call.
// A fault while a translated fault is being thrown (in the unwinder, on the alternate stack)
// is not translated but handed to the previous handler. The exception is built in ordinary
// code after the handler has returned, but with the program in the state the fault left it: a
// fault inside the allocator, with its lock held, cannot be translated.
//
// Costs:
// - Built with -fnon-call-exceptions the compiler keeps faulting loads, stores and divisions in
//   place where it could otherwise drop, merge or move them, and the unwind tables grow. The
//   match engines' gallery scans show no difference beyond the noise of measuring (about 15 %,
//   bench/bench_engines compares both builds); the library's code grows by 1.5 %, its unwind
//   tables by 8 % and its exception tables double (23 to 47 KB).
// - guard(): two thread-local counter updates per call, about 5 ns. The first guard() on a thread
// also
//   finds the thread's stack bounds and sets up a 128 KiB alternate signal stack when the
//   thread has none or a smaller one (the previous one is put back when the thread ends).
// - A fault: signal delivery, the handler and one exception throw, about 10 microseconds.
//
// Under the sanitizers: AddressSanitizer installs its own handlers for SIGSEGV, SIGBUS and
// SIGFPE at start-up; enable() replaces them and hands every unguarded fault to them, so they
// still report it. Throwing from the alternate stack is supported there (the thread's stack is
// unpoisoned when an exception leaves an alternate stack). ThreadSanitizer wraps signal
// handlers and calls ours directly for these synchronous signals; as the exception is thrown
// after our handler has returned, its bookkeeping of handlers stays balanced. Guarded faults
// are translated under both.
//
// Stack overflows are caught on the alternate signal stack.
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
