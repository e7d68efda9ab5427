#include <quarlen/FaultTranslator.h>

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "frame/FaultRecord.h"

namespace qridy {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// How far below the lowest stack address a fault still counts as a stack overflow: the kernel
// keeps a gap of 256 pages below a growing stack, and one large frame may skip further.
constexpr std::uintptr_t kStackOverflowReach = 2u << 20;

// The alternate signal stack a guarded thread needs at least: the handler runs on it, and the
// translated exception is thrown on it (message, exception object, unwinder).
constexpr std::size_t kAltStackSize = std::size_t{128} * 1024;
// What the throw needs below the handler's frame on the alternate stack.
constexpr std::uintptr_t kThrowReserve = 32 * 1024;

// What the signal handler reads and writes: plain data, constant-initialised, so that it needs
// no allocation or initialisation call on first access.
struct ThreadFaultState {
  unsigned depthM = 0;           // guard() calls active on this thread
  std::uintptr_t stackLowM = 0;  // lowest usable address of the thread's stack, 0 if unknown
  FaultRecord faultM;            // the fault being thrown
};
__attribute__((tls_model("initial-exec"))) thread_local ThreadFaultState tlsState;

std::atomic<bool> enabledS{false};
std::mutex enableMutexS;
struct sigaction previousActionsS[kSignalCount];

int signalIndex(int signalA) {
  for (int i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signalA) return i;
  }
  return -1;
}

// Hands a fault that no guard wants to whoever handled it before us.
void forwardToPrevious(int signalA, siginfo_t* infoA, void* contextA) {
  const int indexL = signalIndex(signalA);
  const struct sigaction& previousL = previousActionsS[indexL];
  if ((previousL.sa_flags & SA_SIGINFO) != 0 && previousL.sa_sigaction != nullptr) {
    previousL.sa_sigaction(signalA, infoA, contextA);
    return;
  }
  if (previousL.sa_handler != SIG_DFL && previousL.sa_handler != SIG_IGN &&
      previousL.sa_handler != nullptr) {
    previousL.sa_handler(signalA);
    return;
  }
  // Default action: returning re-executes the faulting instruction, which now ends the process
  // as if no handler had been installed. A signal sent by another process is raised again.
  signal(signalA, SIG_DFL);
  if (infoA->si_code <= 0) raise(signalA);
}

void recordFault(ThreadFaultState& stateA, int signalA, const siginfo_t* infoA,
                 const ucontext_t* contextA) {
  FaultRecord& recordL = stateA.faultM;
  recordL.codeM = faultCodeForSignal(signalA, infoA->si_code);
  recordL.threadIdM = static_cast<std::uint32_t>(syscall(SYS_gettid));
  recordL.faultAddressM = reinterpret_cast<std::uintptr_t>(infoA->si_addr);
  recordL.accessKindM = 0;
  recordL.accessedAddressM = 0;
#if defined(__x86_64__)
  recordL.faultAddressM = static_cast<std::uintptr_t>(contextA->uc_mcontext.gregs[REG_RIP]);
  if (signalA == SIGSEGV) {
    // Page-fault error code: bit 1 a write, bit 4 an instruction fetch.
    const auto errorCodeL = static_cast<std::uintptr_t>(contextA->uc_mcontext.gregs[REG_ERR]);
    recordL.accessKindM = (errorCodeL & 2) != 0 ? 1 : ((errorCodeL & 16) != 0 ? 8 : 0);
  }
#elif defined(__aarch64__)
  recordL.faultAddressM = static_cast<std::uintptr_t>(contextA->uc_mcontext.pc);
#else
  (void)contextA;
#endif
  if (signalA == SIGSEGV || signalA == SIGBUS) {
    recordL.accessedAddressM = reinterpret_cast<std::uintptr_t>(infoA->si_addr);
  }
  if (signalA == SIGSEGV && stateA.stackLowM != 0) {
    const std::uintptr_t addressL = recordL.accessedAddressM;
    const std::uintptr_t lowL = stateA.stackLowM;
    if (addressL < lowL + 4096 && addressL + kStackOverflowReach >= lowL) {
      recordL.codeM = faultcode::kStackOverflow;
    }
  }
}

}  // namespace
}  // namespace qridy

// Called by the trampoline below, as if the faulting instruction had called it.
extern "C" [[noreturn]] __attribute__((visibility("hidden"), used, noinline)) void
quarlenThrowPendingFault() {
  const qridy::FaultRecord recordL = qridy::tlsState.faultM;
  qridy::win32XcpTranslate(recordL);
}

#if defined(__x86_64__)

// The frame a translated fault is thrown from. The signal handler saves the faulting thread's
// registers in a block (one 64-bit slot per DWARF register number: rax, rdx, rcx, rbx, rsi, rdi,
// rbp, rsp, r8..r15, then the faulting instruction in slot 16), points rsp at the block and the
// instruction pointer here, and returns. Once the kernel has restored the signal mask, this code
// calls the thrower. Its unwind description says that the caller's registers are those in the
// block and that it is a signal frame, so the unwinder continues at the faulting instruction
// itself (not at a return address minus one) and finds the cleanups and handlers that cover it.
extern "C" void quarlenFaultTrampoline();
asm(".text\n"
    ".p2align 4\n"
    ".globl quarlenFaultTrampoline\n"
    ".hidden quarlenFaultTrampoline\n"
    ".type quarlenFaultTrampoline, @function\n"
    "quarlenFaultTrampoline:\n"
    ".cfi_startproc simple\n"
    ".cfi_signal_frame\n"
    ".cfi_escape 0x0f, 3, 0x77, 0x38, 0x06\n"        // CFA = *(rsp + 56): the faulting rsp
    ".cfi_escape 0x10, 0x00, 2, 0x77, 0x00\n"        // rax at rsp + 0
    ".cfi_escape 0x10, 0x01, 2, 0x77, 0x08\n"        // rdx at rsp + 8
    ".cfi_escape 0x10, 0x02, 2, 0x77, 0x10\n"        // rcx at rsp + 16
    ".cfi_escape 0x10, 0x03, 2, 0x77, 0x18\n"        // rbx at rsp + 24
    ".cfi_escape 0x10, 0x04, 2, 0x77, 0x20\n"        // rsi at rsp + 32
    ".cfi_escape 0x10, 0x05, 2, 0x77, 0x28\n"        // rdi at rsp + 40
    ".cfi_escape 0x10, 0x06, 2, 0x77, 0x30\n"        // rbp at rsp + 48
    ".cfi_escape 0x10, 0x08, 3, 0x77, 0xc0, 0x00\n"  // r8 at rsp + 64
    ".cfi_escape 0x10, 0x09, 3, 0x77, 0xc8, 0x00\n"  // r9 at rsp + 72
    ".cfi_escape 0x10, 0x0a, 3, 0x77, 0xd0, 0x00\n"  // r10 at rsp + 80
    ".cfi_escape 0x10, 0x0b, 3, 0x77, 0xd8, 0x00\n"  // r11 at rsp + 88
    ".cfi_escape 0x10, 0x0c, 3, 0x77, 0xe0, 0x00\n"  // r12 at rsp + 96
    ".cfi_escape 0x10, 0x0d, 3, 0x77, 0xe8, 0x00\n"  // r13 at rsp + 104
    ".cfi_escape 0x10, 0x0e, 3, 0x77, 0xf0, 0x00\n"  // r14 at rsp + 112
    ".cfi_escape 0x10, 0x0f, 3, 0x77, 0xf8, 0x00\n"  // r15 at rsp + 120
    ".cfi_escape 0x10, 0x10, 3, 0x77, 0x80, 0x01\n"  // return address (rip) at rsp + 128
    "call quarlenThrowPendingFault\n"
    "ud2\n"
    ".cfi_endproc\n"
    ".size quarlenFaultTrampoline, .-quarlenFaultTrampoline\n");

#endif

namespace qridy {
namespace {

#if defined(__x86_64__)

struct alignas(16) SavedRegisters {
  std::uint64_t slotsM[18];  // 17 registers, padded to a multiple of 16 bytes
};

// Makes the return from the handler continue in the trampoline, on the alternate signal stack
// below the handler's own frame (the signal frame the kernel restores from lies above it).
// False when that cannot be done safely: the handler does not run on an alternate stack, the
// fault happened on the alternate stack itself (inside another handler, or while a translated
// fault was being thrown), or too little of the alternate stack is left.
__attribute__((no_sanitize("address", "thread"))) bool redirectToThrow(ucontext_t* contextA) {
  stack_t altL{};
  if (sigaltstack(nullptr, &altL) != 0 || (altL.ss_flags & SS_ONSTACK) == 0) return false;
  const auto altLowL = reinterpret_cast<std::uintptr_t>(altL.ss_sp);
  const std::uintptr_t altHighL = altLowL + altL.ss_size;
  greg_t* registersL = contextA->uc_mcontext.gregs;
  const auto faultSpL = static_cast<std::uintptr_t>(registersL[REG_RSP]);
  if (faultSpL >= altLowL && faultSpL < altHighL) return false;
  char markerL = 0;
  const std::uintptr_t hereL = reinterpret_cast<std::uintptr_t>(&markerL);
  const std::uintptr_t blockL = (hereL - 1024 - sizeof(SavedRegisters)) & ~std::uintptr_t{15};
  if (hereL < altLowL || hereL > altHighL || blockL < altLowL + kThrowReserve) return false;
  static constexpr int kSlots[17] = {REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI,
                                     REG_RBP, REG_RSP, REG_R8,  REG_R9,  REG_R10, REG_R11,
                                     REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};
  auto* savedL = reinterpret_cast<SavedRegisters*>(blockL);
  for (int i = 0; i < 17; ++i) {
    savedL->slotsM[i] = static_cast<std::uint64_t>(registersL[kSlots[i]]);
  }
  savedL->slotsM[17] = 0;
  registersL[REG_RSP] = static_cast<greg_t>(blockL);
  registersL[REG_RIP] = reinterpret_cast<greg_t>(&quarlenFaultTrampoline);
  return true;
}

#endif

void onFault(int signalA, siginfo_t* infoA, void* contextA) {
  ThreadFaultState& stateL = tlsState;
  if (stateL.depthM == 0 || infoA->si_code <= 0) {  // no guard, or not a fault of this thread
    forwardToPrevious(signalA, infoA, contextA);
    return;
  }
  auto* contextL = static_cast<ucontext_t*>(contextA);
#if defined(__x86_64__)
  recordFault(stateL, signalA, infoA, contextL);
  if (!redirectToThrow(contextL)) forwardToPrevious(signalA, infoA, contextA);
#else
  // Without a trampoline for this processor the exception is thrown from the handler itself;
  // the signal mask the kernel would restore on return is restored first.
  recordFault(stateL, signalA, infoA, contextL);
  pthread_sigmask(SIG_SETMASK, &contextL->uc_sigmask, nullptr);
  quarlenThrowPendingFault();
#endif
}

// Per-thread preparation for guards: an alternate signal stack large enough to handle a fault
// and throw its exception (also after a stack overflow), and the stack's lower end, to
// recognise an overflow. A smaller alternate stack found on the thread is replaced for the
// thread's lifetime and put back when the thread ends.
struct ThreadPreparation {
  bool doneM = false;
  void* altStackM = nullptr;
  stack_t previousM{};

  void prepare() {
    doneM = true;
    stack_t currentL{};
    if (sigaltstack(nullptr, &currentL) == 0 && (currentL.ss_flags & SS_ONSTACK) == 0 &&
        ((currentL.ss_flags & SS_DISABLE) != 0 || currentL.ss_size < kAltStackSize)) {
      altStackM = std::malloc(kAltStackSize);
      if (altStackM != nullptr) {
        stack_t stackL{};
        stackL.ss_sp = altStackM;
        stackL.ss_size = kAltStackSize;
        if (sigaltstack(&stackL, nullptr) == 0) {
          previousM = currentL;
        } else {
          std::free(altStackM);
          altStackM = nullptr;
        }
      }
    }
    pthread_attr_t attributesL;
    if (pthread_getattr_np(pthread_self(), &attributesL) == 0) {
      void* addressL = nullptr;
      std::size_t sizeL = 0;
      if (pthread_attr_getstack(&attributesL, &addressL, &sizeL) == 0) {
        tlsState.stackLowM = reinterpret_cast<std::uintptr_t>(addressL);
      }
      pthread_attr_destroy(&attributesL);
    }
  }

  ~ThreadPreparation() {
    if (altStackM == nullptr) return;
    stack_t currentL{};
    if (sigaltstack(nullptr, &currentL) == 0 && currentL.ss_sp == altStackM) {
      if ((previousM.ss_flags & SS_DISABLE) != 0) {
        stack_t offL{};
        offL.ss_flags = SS_DISABLE;
        sigaltstack(&offL, nullptr);
      } else {
        previousM.ss_flags = 0;
        sigaltstack(&previousM, nullptr);
      }
    }
    std::free(altStackM);
  }
};

thread_local ThreadPreparation tlsPreparation;

// Leaves the thread's guard count as it found it, also when the body throws.
struct GuardDepth {
  GuardDepth() { ++tlsState.depthM; }
  ~GuardDepth() { --tlsState.depthM; }
  GuardDepth(const GuardDepth&) = delete;
  GuardDepth& operator=(const GuardDepth&) = delete;
};

}  // namespace

void FaultTranslator::enable() {
  std::lock_guard<std::mutex> lockL(enableMutexS);
  if (enabledS.load()) return;
  struct sigaction actionL {};
  actionL.sa_sigaction = &onFault;
  sigemptyset(&actionL.sa_mask);
  actionL.sa_flags = SA_SIGINFO | SA_ONSTACK;
  for (int i = 0; i < kSignalCount; ++i) {
    sigaction(kSignals[i], &actionL, &previousActionsS[i]);
  }
  enabledS.store(true);
}

void FaultTranslator::disable() {
  std::lock_guard<std::mutex> lockL(enableMutexS);
  if (!enabledS.load()) return;
  enabledS.store(false);
  for (int i = 0; i < kSignalCount; ++i) {
    // Leave a handler installed after ours alone; it may still forward to ours.
    struct sigaction currentL {};
    if (sigaction(kSignals[i], nullptr, &currentL) == 0 && (currentL.sa_flags & SA_SIGINFO) != 0 &&
        currentL.sa_sigaction == &onFault) {
      sigaction(kSignals[i], &previousActionsS[i], nullptr);
    }
  }
}

bool FaultTranslator::isEnabled() {
  return enabledS.load();
}

void FaultTranslator::runGuarded(void (*bodyA)(void*), void* contextA) {
  if (!enabledS.load()) {
    bodyA(contextA);
    return;
  }
  if (!tlsPreparation.doneM) tlsPreparation.prepare();
  GuardDepth depthL;
  bodyA(contextA);
}

}  // namespace qridy
