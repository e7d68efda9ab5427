#include <quarlen/FaultTranslator.h>

#include <pthread.h>
#include <setjmp.h>
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

struct GuardFrame {
  sigjmp_buf envM{};
  GuardFrame* previousM = nullptr;
  std::uintptr_t stackLowM = 0;  // lowest usable address of the thread's stack, 0 if unknown
  FaultRecord faultM;
};

// The signal handler reads these, so they must not need allocation on first access.
__attribute__((tls_model("initial-exec"))) thread_local GuardFrame* tlsActiveFrame = nullptr;

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

void onFault(int signalA, siginfo_t* infoA, void* contextA) {
  GuardFrame* frameL = tlsActiveFrame;
  if (frameL == nullptr || infoA->si_code <= 0) {  // no guard, or not a fault of this thread
    forwardToPrevious(signalA, infoA, contextA);
    return;
  }
  FaultRecord& recordL = frameL->faultM;
  recordL.codeM = faultCodeForSignal(signalA, infoA->si_code);
  recordL.threadIdM = static_cast<std::uint32_t>(syscall(SYS_gettid));
  recordL.faultAddressM = reinterpret_cast<std::uintptr_t>(infoA->si_addr);
  recordL.accessKindM = 0;
  recordL.accessedAddressM = 0;
  const auto* contextL = static_cast<const ucontext_t*>(contextA);
#if defined(__x86_64__)
  recordL.faultAddressM = static_cast<std::uintptr_t>(contextL->uc_mcontext.gregs[REG_RIP]);
  if (signalA == SIGSEGV) {
    // Page-fault error code: bit 1 a write, bit 4 an instruction fetch.
    const auto errorCodeL = static_cast<std::uintptr_t>(contextL->uc_mcontext.gregs[REG_ERR]);
    recordL.accessKindM = (errorCodeL & 2) != 0 ? 1 : ((errorCodeL & 16) != 0 ? 8 : 0);
  }
#elif defined(__aarch64__)
  recordL.faultAddressM = static_cast<std::uintptr_t>(contextL->uc_mcontext.pc);
#else
  (void)contextL;
#endif
  if (signalA == SIGSEGV || signalA == SIGBUS) {
    recordL.accessedAddressM = reinterpret_cast<std::uintptr_t>(infoA->si_addr);
  }
  if (signalA == SIGSEGV && frameL->stackLowM != 0) {
    const std::uintptr_t addressL = recordL.accessedAddressM;
    const std::uintptr_t lowL = frameL->stackLowM;
    if (addressL < lowL + 4096 && addressL + kStackOverflowReach >= lowL) {
      recordL.codeM = faultcode::kStackOverflow;
    }
  }
  siglongjmp(frameL->envM, 1);
}

// Per-thread preparation for guards: an alternate signal stack, so that a stack overflow can
// still be handled, and the stack's lower end, to recognise one.
struct ThreadPreparation {
  bool doneM = false;
  void* altStackM = nullptr;
  std::uintptr_t stackLowM = 0;

  void prepare() {
    doneM = true;
    stack_t currentL{};
    if (sigaltstack(nullptr, &currentL) == 0 && (currentL.ss_flags & SS_DISABLE) != 0) {
      const std::size_t sizeL = std::size_t{64} * 1024;
      altStackM = std::malloc(sizeL);
      if (altStackM != nullptr) {
        stack_t stackL{};
        stackL.ss_sp = altStackM;
        stackL.ss_size = sizeL;
        if (sigaltstack(&stackL, nullptr) != 0) {
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
        stackLowM = reinterpret_cast<std::uintptr_t>(addressL);
      }
      pthread_attr_destroy(&attributesL);
    }
  }

  ~ThreadPreparation() {
    if (altStackM == nullptr) return;
    stack_t currentL{};
    if (sigaltstack(nullptr, &currentL) == 0 && currentL.ss_sp == altStackM) {
      stack_t offL{};
      offL.ss_flags = SS_DISABLE;
      sigaltstack(&offL, nullptr);
    }
    std::free(altStackM);
  }
};

thread_local ThreadPreparation tlsPreparation;

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
  // The frame lives in memory (its address is published), so it keeps its values across the
  // jump back from the signal handler.
  GuardFrame frameL;
  frameL.previousM = tlsActiveFrame;
  frameL.stackLowM = tlsPreparation.stackLowM;
  if (sigsetjmp(frameL.envM, 1) != 0) {
    tlsActiveFrame = frameL.previousM;
    win32XcpTranslate(frameL.faultM);
  }
  tlsActiveFrame = &frameL;
  try {
    bodyA(contextA);
  } catch (...) {
    tlsActiveFrame = frameL.previousM;
    throw;
  }
  tlsActiveFrame = frameL.previousM;
}

}  // namespace qridy
