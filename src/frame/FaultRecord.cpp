#include "frame/FaultRecord.h"

#include <csignal>
#include <cstdio>

#include <qrlcore/Exception.h>

namespace qridy {
namespace {

struct Description {
  std::uint32_t codeM;
  const char* textM;
};

// The spelling ("Priviledged") is part of the texts applications match on.
const Description kDescriptions[] = {
    {faultcode::kGuardPage, "Access of PAGE_GUARD-flagged Memory @ "},
    {faultcode::kDatatypeMisalignment, "Datatype Misalignment @ "},
    {faultcode::kBreakpoint, "Breakpoint Encountered @ "},
    {faultcode::kSingleStep, "Trace or Single Step Trap @ "},
    {faultcode::kInPageError, "Page Fault @ "},
    {faultcode::kInvalidHandle, "Invalid Handle to Kernel Object @ "},
    {faultcode::kIllegalInstruction, "Illegal Instruction @ "},
    {faultcode::kNoncontinuable, "Attempt to Resume after Noncontinuable Exception @ "},
    {faultcode::kInvalidDisposition, "Invalid Disposition @ "},
    {faultcode::kArrayBoundsExceeded, "Array Bounds Exceeded @ "},
    {faultcode::kFltDenormalOperand, "Denormal (too small) Floating-Point Operand @ "},
    {faultcode::kFltDivideByZero, "Floating-Point Division by Zero @ "},
    {faultcode::kFltInexactResult, "Floating-Point Inexact Result @ "},
    {faultcode::kFltInvalidOperation, "Floating-Point Invalid Operation @ "},
    {faultcode::kFltOverflow, "Floating-Point Overflow @ "},
    {faultcode::kFltStackCheck, "Stack Overflow / Underflow through Floating-Point operation @ "},
    {faultcode::kFltUnderflow, "Floating-Point Underflow @ "},
    {faultcode::kIntDivideByZero, "Integer Division by Zero @ "},
    {faultcode::kIntOverflow, "Integer Overflow @ "},
    {faultcode::kPrivilegedInstruction, "Priviledged Instruction @ "},
    {faultcode::kStackOverflow, "Stack Size Exceeded @ "},
};

std::string addressText(std::uintptr_t addressA) {
  char bufferL[32];
  std::snprintf(bufferL, sizeof bufferL, "0x%016llX.", static_cast<unsigned long long>(addressA));
  return bufferL;
}

}  // namespace

std::string buildFaultMessage(const FaultRecord& recordA) {
  char headL[80];
  std::snprintf(headL, sizeof headL, "Win32 Exception (Code=0x%X) in Thread 0x%X: ",
                static_cast<unsigned>(recordA.codeM), static_cast<unsigned>(recordA.threadIdM));
  std::string messageL = headL;
  const std::string whereL = addressText(recordA.faultAddressM);
  if (recordA.codeM == faultcode::kAccessViolation) {
    messageL += "Access Violation @ " + whereL;
    messageL += recordA.accessKindM != 1 ? " Read-Access at virtual address "
                                         : " Write-Access at virtual address ";
    messageL += addressText(recordA.accessedAddressM);
    return messageL;
  }
  if (recordA.codeM == faultcode::kModuleNotFound) {
    messageL += "Module not found @ " + whereL + "( Missing dll: '";
    if (recordA.moduleNameM != nullptr) messageL += recordA.moduleNameM;
    messageL += "' )";
    return messageL;
  }
  const char* descriptionL = "Unknown Exception Code @ ";
  for (const auto& d : kDescriptions) {
    if (d.codeM == recordA.codeM) descriptionL = d.textM;
  }
  return messageL + descriptionL + whereL;
}

void win32XcpTranslate(const FaultRecord& recordA) {
  // A stack overflow needs no repair before throwing here: the exception is thrown on the
  // alternate signal stack, and the guard page of the thread's stack is never consumed.
  throw kxxcp::Exception(buildFaultMessage(recordA), __FILE__, __LINE__, "win32XcpTranslate",
                         nullptr, -1);
}

std::uint32_t faultCodeForSignal(int signalA, int signalCodeA) {
  switch (signalA) {
    case SIGSEGV:
      return faultcode::kAccessViolation;
    case SIGBUS:
      // A misaligned access, or a mapped page the backing file cannot deliver.
      return signalCodeA == BUS_ADRALN ? faultcode::kDatatypeMisalignment : faultcode::kInPageError;
    case SIGFPE:
      switch (signalCodeA) {
        case FPE_INTDIV:
          return faultcode::kIntDivideByZero;
        case FPE_INTOVF:
          return faultcode::kIntOverflow;
        case FPE_FLTDIV:
          return faultcode::kFltDivideByZero;
        case FPE_FLTOVF:
          return faultcode::kFltOverflow;
        case FPE_FLTUND:
          return faultcode::kFltUnderflow;
        case FPE_FLTRES:
          return faultcode::kFltInexactResult;
        case FPE_FLTSUB:
          return faultcode::kArrayBoundsExceeded;
        default:
          return faultcode::kFltInvalidOperation;
      }
    case SIGILL:
      return (signalCodeA == ILL_PRVOPC || signalCodeA == ILL_PRVREG)
                 ? faultcode::kPrivilegedInstruction
                 : faultcode::kIllegalInstruction;
    case SIGTRAP:
      return signalCodeA == TRAP_TRACE ? faultcode::kSingleStep : faultcode::kBreakpoint;
    default:
      return 0;
  }
}

}  // namespace qridy
