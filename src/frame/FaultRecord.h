#pragma once

// What the fault translator knows about one processor fault, and the exception text it makes of
// it. The codes are the structured-exception codes the library's messages have always named, so
// that a fault reads the same on every platform.

#include <cstdint>
#include <string>

namespace qridy {

namespace faultcode {
constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kGuardPage = 0x80000001;
constexpr std::uint32_t kDatatypeMisalignment = 0x80000002;
constexpr std::uint32_t kBreakpoint = 0x80000003;
constexpr std::uint32_t kSingleStep = 0x80000004;
constexpr std::uint32_t kInPageError = 0xC0000006;
constexpr std::uint32_t kInvalidHandle = 0xC0000008;
constexpr std::uint32_t kIllegalInstruction = 0xC000001D;
constexpr std::uint32_t kNoncontinuable = 0xC0000025;
constexpr std::uint32_t kInvalidDisposition = 0xC0000026;
constexpr std::uint32_t kArrayBoundsExceeded = 0xC000008C;
constexpr std::uint32_t kFltDenormalOperand = 0xC000008D;
constexpr std::uint32_t kFltDivideByZero = 0xC000008E;
constexpr std::uint32_t kFltInexactResult = 0xC000008F;
constexpr std::uint32_t kFltInvalidOperation = 0xC0000090;
constexpr std::uint32_t kFltOverflow = 0xC0000091;
constexpr std::uint32_t kFltStackCheck = 0xC0000092;
constexpr std::uint32_t kFltUnderflow = 0xC0000093;
constexpr std::uint32_t kIntDivideByZero = 0xC0000094;
constexpr std::uint32_t kIntOverflow = 0xC0000095;
constexpr std::uint32_t kPrivilegedInstruction = 0xC0000096;
constexpr std::uint32_t kStackOverflow = 0xC00000FD;
constexpr std::uint32_t kModuleNotFound = 0xC06D007E;
}  // namespace faultcode

// Plain data only: the signal handler fills it in.
struct FaultRecord {
  std::uint32_t codeM = 0;
  std::uint32_t threadIdM = 0;          // the faulting thread's kernel thread id
  std::uintptr_t faultAddressM = 0;     // the faulting instruction
  std::uintptr_t accessKindM = 0;       // access violations: 1 write, 0 read, 8 execute
  std::uintptr_t accessedAddressM = 0;  // access violations: the address accessed
  const char* moduleNameM = nullptr;    // module not found: the missing library's file name
};

// "Win32 Exception (Code=0x<code>) in Thread 0x<thread>: " followed by the code's description
// and the instruction address as "0x" + 16 upper-case hexadecimal digits + ".".
std::string buildFaultMessage(const FaultRecord& recordA);

// Throws kxxcp::Exception with buildFaultMessage(recordA), this file and line, the function
// name "win32XcpTranslate", no version text and code -1.
[[noreturn]] void win32XcpTranslate(const FaultRecord& recordA);

// The code for a synchronous signal and its si_code (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP).
std::uint32_t faultCodeForSignal(int signalA, int signalCodeA);

}  // namespace qridy
