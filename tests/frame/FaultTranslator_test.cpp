#include <quarlen/FaultTranslator.h>
#include <quarlen/FileManager.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/MultipassFileIO.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <qrlcore/COrvixThreadPool.h>
#include <qrlcore/Exception.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <future>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "frame/FaultRecord.h"
#include "support/Environment.h"
#include "support/ProcessorFaults.h"

namespace qridy {
namespace {

// ---------------------------------------------------------------------------------------------

using quarlen_test::divide;
using quarlen_test::readAt;
using quarlen_test::writeAt;

volatile int gRecursionLimit = INT_MAX;
__attribute__((noinline)) int recurse(int depthA) {
  volatile char padL[512];
  padL[0] = static_cast<char>(depthA);
  // The compiler takes accesses to a function's own frame for safe and could treat the whole
  // recursion as unable to throw; a volatile asm statement may throw under
  // -fnon-call-exceptions.
  asm volatile("" : : "r"(padL) : "memory");
  if (depthA >= gRecursionLimit) return 0;
  return recurse(depthA + 1) + padL[0];
}

// A read entry for the file table that faults instead of reading.
unsigned long long faultingRead(void*, unsigned long long, unsigned long long, void*) {
  return static_cast<unsigned long long>(readAt(0));
}

// Installs faultingRead for its lifetime.
struct FaultingReads {
  FaultingReads() { FileManager::setReadFuncPtr(&faultingRead); }
  ~FaultingReads() { FileManager::setReadFuncPtr(&FileManager::defaultRead); }
  FaultingReads(const FaultingReads&) = delete;
  FaultingReads& operator=(const FaultingReads&) = delete;
};

std::uint32_t currentThreadId() {
  return static_cast<std::uint32_t>(syscall(SYS_gettid));
}

std::string threadText(std::uint32_t idA) {
  char bufferL[32];
  std::snprintf(bufferL, sizeof bufferL, "0x%X", idA);
  return bufferL;
}

// ---------------------------------------------------------------------------------------------

class FaultTranslatorTest : public ::testing::Test {
 protected:
  void SetUp() override { FaultTranslator::enable(); }
  void TearDown() override { FaultTranslator::disable(); }

  template <typename Fn>
  static kxxcp::Exception faultOf(Fn fnA) {
    try {
      FaultTranslator::guard(fnA);
    } catch (const kxxcp::Exception& e) {
      return e;
    }
    return kxxcp::Exception("no exception", "", 0, "");
  }
  // The message up to the instruction address, and what follows the address text.
  static void expectMessage(const kxxcp::Exception& eA, const std::string& headA,
                            const std::string& tailA) {
    const std::regex patternL(R"((.*?)0x[0-9A-F]{16}\.(.*))");
    std::smatch matchL;
    const std::string& messageL = eA.getMessage();
    ASSERT_TRUE(std::regex_match(messageL, matchL, patternL)) << messageL;
    EXPECT_EQ(matchL[1].str(), headA) << messageL;
    EXPECT_EQ(matchL[2].str(), tailA) << messageL;
    EXPECT_EQ(eA.getFunction(), "win32XcpTranslate");
    EXPECT_EQ(eA.errorCode(), -1);
    EXPECT_EQ(eA.getVersion(), "");
  }
  static std::string head(const char* codeA, std::uint32_t threadA, const char* descriptionA) {
    return std::string("Win32 Exception (Code=") + codeA + ") in Thread " + threadText(threadA) +
           ": " + descriptionA;
  }
};

TEST_F(FaultTranslatorTest, MessageForEveryCode) {
  struct Row {
    std::uint32_t code;
    const char* text;
  };
  const Row rowsL[] = {
      {0x80000001,
       "Win32 Exception (Code=0x80000001) in Thread 0x1A2B: Access of "
       "PAGE_GUARD-flagged Memory @ 0x00007FF6123ABCDE."},
      {0x80000002,
       "Win32 Exception (Code=0x80000002) in Thread 0x1A2B: Datatype Misalignment @ "
       "0x00007FF6123ABCDE."},
      {0x80000003,
       "Win32 Exception (Code=0x80000003) in Thread 0x1A2B: Breakpoint Encountered @ "
       "0x00007FF6123ABCDE."},
      {0x80000004,
       "Win32 Exception (Code=0x80000004) in Thread 0x1A2B: Trace or Single Step "
       "Trap @ 0x00007FF6123ABCDE."},
      {0xC0000006,
       "Win32 Exception (Code=0xC0000006) in Thread 0x1A2B: Page Fault @ "
       "0x00007FF6123ABCDE."},
      {0xC0000008,
       "Win32 Exception (Code=0xC0000008) in Thread 0x1A2B: Invalid Handle to "
       "Kernel Object @ 0x00007FF6123ABCDE."},
      {0xC000001D,
       "Win32 Exception (Code=0xC000001D) in Thread 0x1A2B: Illegal Instruction @ "
       "0x00007FF6123ABCDE."},
      {0xC0000025,
       "Win32 Exception (Code=0xC0000025) in Thread 0x1A2B: Attempt to Resume after "
       "Noncontinuable Exception @ 0x00007FF6123ABCDE."},
      {0xC0000026,
       "Win32 Exception (Code=0xC0000026) in Thread 0x1A2B: Invalid Disposition @ "
       "0x00007FF6123ABCDE."},
      {0xC000008C,
       "Win32 Exception (Code=0xC000008C) in Thread 0x1A2B: Array Bounds Exceeded @ "
       "0x00007FF6123ABCDE."},
      {0xC000008D,
       "Win32 Exception (Code=0xC000008D) in Thread 0x1A2B: Denormal (too small) "
       "Floating-Point Operand @ 0x00007FF6123ABCDE."},
      {0xC000008E,
       "Win32 Exception (Code=0xC000008E) in Thread 0x1A2B: Floating-Point Division "
       "by Zero @ 0x00007FF6123ABCDE."},
      {0xC000008F,
       "Win32 Exception (Code=0xC000008F) in Thread 0x1A2B: Floating-Point Inexact "
       "Result @ 0x00007FF6123ABCDE."},
      {0xC0000090,
       "Win32 Exception (Code=0xC0000090) in Thread 0x1A2B: Floating-Point Invalid "
       "Operation @ 0x00007FF6123ABCDE."},
      {0xC0000091,
       "Win32 Exception (Code=0xC0000091) in Thread 0x1A2B: Floating-Point Overflow "
       "@ 0x00007FF6123ABCDE."},
      {0xC0000092,
       "Win32 Exception (Code=0xC0000092) in Thread 0x1A2B: Stack Overflow / "
       "Underflow through Floating-Point operation @ 0x00007FF6123ABCDE."},
      {0xC0000093,
       "Win32 Exception (Code=0xC0000093) in Thread 0x1A2B: Floating-Point "
       "Underflow @ 0x00007FF6123ABCDE."},
      {0xC0000094,
       "Win32 Exception (Code=0xC0000094) in Thread 0x1A2B: Integer Division by "
       "Zero @ 0x00007FF6123ABCDE."},
      {0xC0000095,
       "Win32 Exception (Code=0xC0000095) in Thread 0x1A2B: Integer Overflow @ "
       "0x00007FF6123ABCDE."},
      {0xC0000096,
       "Win32 Exception (Code=0xC0000096) in Thread 0x1A2B: Priviledged "
       "Instruction @ 0x00007FF6123ABCDE."},
      {0xC00000FD,
       "Win32 Exception (Code=0xC00000FD) in Thread 0x1A2B: Stack Size Exceeded @ "
       "0x00007FF6123ABCDE."},
      // A delay-loaded function that is not found has no description of its own.
      {0xC06D007F,
       "Win32 Exception (Code=0xC06D007F) in Thread 0x1A2B: Unknown Exception Code "
       "@ 0x00007FF6123ABCDE."},
      {0x0,
       "Win32 Exception (Code=0x0) in Thread 0x1A2B: Unknown Exception Code @ "
       "0x00007FF6123ABCDE."},
  };
  for (const auto& rowL : rowsL) {
    FaultRecord recordL;
    recordL.codeM = rowL.code;
    recordL.threadIdM = 0x1A2B;
    recordL.faultAddressM = 0x7FF6123ABCDE;
    recordL.accessKindM = 1;          // ignored but by access violations
    recordL.accessedAddressM = 0x10;  // likewise
    recordL.moduleNameM = "QrlFace";  // likewise but by a missing module
    EXPECT_EQ(buildFaultMessage(recordL), rowL.text);
  }
}

TEST_F(FaultTranslatorTest, MessageForAccessViolationsAndMissingModules) {
  FaultRecord recordL;
  recordL.codeM = faultcode::kAccessViolation;
  recordL.threadIdM = 0xFFFFFFFF;
  recordL.faultAddressM = 0x401000;
  EXPECT_EQ(buildFaultMessage(recordL),
            "Win32 Exception (Code=0xC0000005) in Thread 0xFFFFFFFF: Access Violation @ "
            "0x0000000000401000. Read-Access at virtual address 0x0000000000000000.");
  recordL.accessKindM = 1;
  recordL.accessedAddressM = 0xFFFFFFFFFFFFFFF0u;
  EXPECT_EQ(buildFaultMessage(recordL),
            "Win32 Exception (Code=0xC0000005) in Thread 0xFFFFFFFF: Access Violation @ "
            "0x0000000000401000. Write-Access at virtual address 0xFFFFFFFFFFFFFFF0.");
  recordL.accessKindM = 8;  // an instruction fetch reads
  recordL.accessedAddressM = 0xABC;
  EXPECT_EQ(buildFaultMessage(recordL),
            "Win32 Exception (Code=0xC0000005) in Thread 0xFFFFFFFF: Access Violation @ "
            "0x0000000000401000. Read-Access at virtual address 0x0000000000000ABC.");

  recordL.codeM = faultcode::kModuleNotFound;
  recordL.threadIdM = 0x2C;
  recordL.moduleNameM = "libqrlface.so.0";
  EXPECT_EQ(buildFaultMessage(recordL),
            "Win32 Exception (Code=0xC06D007E) in Thread 0x2C: Module not found @ "
            "0x0000000000401000.( Missing dll: 'libqrlface.so.0' )");
  recordL.moduleNameM = nullptr;
  EXPECT_EQ(buildFaultMessage(recordL),
            "Win32 Exception (Code=0xC06D007E) in Thread 0x2C: Module not found @ "
            "0x0000000000401000.( Missing dll: '' )");

  try {
    win32XcpTranslate(recordL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), buildFaultMessage(recordL));
    EXPECT_EQ(e.getFunction(), "win32XcpTranslate");
    EXPECT_EQ(e.errorCode(), -1);
    EXPECT_NE(e.getFile().find("FaultRecord.cpp"), std::string::npos);
  }
}

TEST_F(FaultTranslatorTest, SignalsMapToCodes) {
  EXPECT_EQ(faultCodeForSignal(SIGSEGV, SEGV_MAPERR), 0xC0000005u);
  EXPECT_EQ(faultCodeForSignal(SIGSEGV, SEGV_ACCERR), 0xC0000005u);
  EXPECT_EQ(faultCodeForSignal(SIGSEGV, 0x80), 0xC0000005u);  // general protection
  EXPECT_EQ(faultCodeForSignal(SIGBUS, BUS_ADRALN), 0x80000002u);
  EXPECT_EQ(faultCodeForSignal(SIGBUS, BUS_ADRERR), 0xC0000006u);
  EXPECT_EQ(faultCodeForSignal(SIGBUS, BUS_OBJERR), 0xC0000006u);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_INTDIV), 0xC0000094u);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_INTOVF), 0xC0000095u);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_FLTDIV), 0xC000008Eu);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_FLTOVF), 0xC0000091u);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_FLTUND), 0xC0000093u);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_FLTRES), 0xC000008Fu);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_FLTINV), 0xC0000090u);
  EXPECT_EQ(faultCodeForSignal(SIGFPE, FPE_FLTSUB), 0xC000008Cu);
  EXPECT_EQ(faultCodeForSignal(SIGILL, ILL_ILLOPC), 0xC000001Du);
  EXPECT_EQ(faultCodeForSignal(SIGILL, ILL_ILLOPN), 0xC000001Du);
  EXPECT_EQ(faultCodeForSignal(SIGILL, ILL_PRVOPC), 0xC0000096u);
  EXPECT_EQ(faultCodeForSignal(SIGILL, ILL_PRVREG), 0xC0000096u);
  EXPECT_EQ(faultCodeForSignal(SIGTRAP, TRAP_BRKPT), 0x80000003u);
  EXPECT_EQ(faultCodeForSignal(SIGTRAP, TRAP_TRACE), 0x80000004u);
}

TEST_F(FaultTranslatorTest, ReadOfAddressZeroReachesTheCaller) {
  const auto eL = faultOf([] { readAt(0); });
  expectMessage(eL, head("0xC0000005", currentThreadId(), "Access Violation @ "),
                " Read-Access at virtual address 0x0000000000000000.");
}

TEST_F(FaultTranslatorTest, WriteToAReadOnlyPage) {
  const long pageL = sysconf(_SC_PAGESIZE);
  void* pageAddressL = mmap(nullptr, pageL, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pageAddressL, MAP_FAILED);
  const auto addressL = reinterpret_cast<std::uintptr_t>(pageAddressL) + 0x18;
  const auto eL = faultOf([&] { writeAt(addressL); });
  char expectedL[80];
  std::snprintf(expectedL, sizeof expectedL, " Write-Access at virtual address 0x%016llX.",
                static_cast<unsigned long long>(addressL));
#if defined(__x86_64__)
  expectMessage(eL, head("0xC0000005", currentThreadId(), "Access Violation @ "), expectedL);
#else
  EXPECT_NE(eL.getMessage().find("Access Violation @ "), std::string::npos);
#endif
  munmap(pageAddressL, pageL);
}

TEST_F(FaultTranslatorTest, DivisionByZeroIllegalInstructionAndBusError) {
  expectMessage(faultOf([] { return divide(7, 0); }),
                head("0xC0000094", currentThreadId(), "Integer Division by Zero @ "), "");
  expectMessage(faultOf([] { __builtin_trap(); }),
                head("0xC000001D", currentThreadId(), "Illegal Instruction @ "), "");

  // A mapped page beyond the end of its (empty) file cannot be delivered.
  quarlen_test::TempDir dirL;
  const std::string fileL = dirL.write("empty.bin", "");
  const int fdL = open(fileL.c_str(), O_RDONLY);
  ASSERT_GE(fdL, 0);
  const long pageL = sysconf(_SC_PAGESIZE);
  void* mappedL = mmap(nullptr, pageL, PROT_READ, MAP_PRIVATE, fdL, 0);
  close(fdL);
  ASSERT_NE(mappedL, MAP_FAILED);
  expectMessage(faultOf([&] { readAt(reinterpret_cast<std::uintptr_t>(mappedL)); }),
                head("0xC0000006", currentThreadId(), "Page Fault @ "), "");
  munmap(mappedL, pageL);
}

TEST_F(FaultTranslatorTest, StackOverflowOnASmallThreadStack) {
  struct Outcome {
    std::string message;
    std::uint32_t thread = 0;
  } outcomeL;
  auto bodyL = [](void* outcomeA) -> void* {
    auto* o = static_cast<Outcome*>(outcomeA);
    o->thread = currentThreadId();
    try {
      FaultTranslator::guard([] { return recurse(0); });
      o->message = "no exception";
    } catch (const kxxcp::Exception& e) {
      o->message = e.getMessage();
    }
    // The thread is healthy afterwards: guards and faults work again.
    try {
      FaultTranslator::guard([] { return readAt(0); });
    } catch (const kxxcp::Exception& e) {
      o->message += "|again";
    }
    return nullptr;
  };
  pthread_attr_t attributesL;
  pthread_attr_init(&attributesL);
  pthread_attr_setstacksize(&attributesL, 1 << 20);
  pthread_t threadL;
  ASSERT_EQ(pthread_create(&threadL, &attributesL, bodyL, &outcomeL), 0);
  pthread_join(threadL, nullptr);
  pthread_attr_destroy(&attributesL);
  const std::regex patternL("Win32 Exception \\(Code=0xC00000FD\\) in Thread " +
                            threadText(outcomeL.thread) +
                            ": Stack Size Exceeded @ 0x[0-9A-F]{16}\\.\\|again");
  EXPECT_TRUE(std::regex_match(outcomeL.message, patternL)) << outcomeL.message;
}

TEST_F(FaultTranslatorTest, GuardsPassResultsAndExceptionsAndNest) {
  EXPECT_EQ(FaultTranslator::guard([] { return 41 + 1; }), 42);
  EXPECT_EQ(FaultTranslator::guard([] { return std::string("text"); }), "text");
  try {
    FaultTranslator::guard([] { KXXCP_THROW("qridy::op", "plain failure"); });
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "plain failure");
    EXPECT_EQ(e.getFunction(), "qridy::op");
  }
  // The inner guard catches the fault; the outer one then sees an ordinary exception, and a
  // later fault still finds the outer guard.
  std::string innerL;
  const auto eL = faultOf([&] {
    try {
      FaultTranslator::guard([] { readAt(0); });
    } catch (const kxxcp::Exception& e) {
      innerL = e.getMessage();
    }
    divide(1, 0);
  });
  EXPECT_NE(innerL.find("Access Violation @ "), std::string::npos);
  EXPECT_NE(eL.getMessage().find("Integer Division by Zero @ "), std::string::npos);
}

TEST_F(FaultTranslatorTest, FaultsOnPoolWorkersReachThePoolsCaller) {
  constexpr unsigned kThreads = 4;
  std::vector<std::uint32_t> threadIdsL(kThreads);
  kxutl::COrvixThreadPool poolL(kThreads, threadIdsL.data());
  for (int round = 0; round < 3; ++round) {
    try {
      poolL.DoThreadedWork([](kxutl::ThreadData& d) {
        static_cast<std::uint32_t*>(d.userPtrM)[d.threadIndexM] = currentThreadId();
        FaultTranslator::guard([] { readAt(0); });
      });
      FAIL() << "no exception";
    } catch (const kxxcp::Exception& e) {
      expectMessage(e, head("0xC0000005", threadIdsL[0], "Access Violation @ "),
                    " Read-Access at virtual address 0x0000000000000000.");
    }
  }
  EXPECT_NE(threadIdsL[0], currentThreadId());
}

TEST_F(FaultTranslatorTest, EnableAndDisable) {
  EXPECT_TRUE(FaultTranslator::isEnabled());
  FaultTranslator::enable();  // twice is harmless
  FaultTranslator::disable();
  EXPECT_FALSE(FaultTranslator::isEnabled());
  EXPECT_EQ(FaultTranslator::guard([] { return 5; }), 5);
  struct sigaction currentL {};
  sigaction(SIGSEGV, nullptr, &currentL);
  FaultTranslator::enable();
  FaultTranslator::disable();
  struct sigaction afterL {};
  sigaction(SIGSEGV, nullptr, &afterL);
  EXPECT_EQ(afterL.sa_sigaction, currentL.sa_sigaction) << "the previous handler is restored";
  FaultTranslator::enable();
  EXPECT_NE(faultOf([] { readAt(0); }).getMessage(), "no exception");
}

TEST_F(FaultTranslatorTest, AFaultInAGalleryReadUnwindsThroughTheReadersFrames) {
  quarlen_test::TempDir dirL;
  const std::vector<unsigned char> blobL(256, 0x5A);
  std::vector<IdentityMetadata> metadataL{IdentityMetadata(IdRecordKey(1, 1)),
                                          IdentityMetadata(IdRecordKey(2, 2))};
  {
    MultipassFileIO writerL(dirL.path(), 100, "g", {256});
    writerL.create(0, 0);
    for (const auto& m : metadataL) ASSERT_TRUE(writerL.add(m, blobL.data(), 256));
    ASSERT_TRUE(writerL.writeCacheToDisk());
  }
  // Shared with a reader thread that may outlive the test if the read lock stays held.
  const auto galleryL =
      std::make_shared<MultipassFileIO>(dirL.path(), 100, "g", std::vector<unsigned int>{256});
  galleryL->readIdRecKeyToBlobOffsetMap("g");
  galleryL->enableCachingForDataFidFiles(false);  // every read reaches the file table

  // The recovery's catch-and-rethrow frame sees the fault and puts its introduction in front.
  try {
    FaultingReads faultingL;
    FaultTranslator::guard([&] { return galleryL->recoverDataAndAdd({}); });
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    const std::regex patternL(
        "Failed to recover gallery: kxxcp caught: Win32 Exception \\(Code=0xC0000005\\) in "
        "Thread " +
        threadText(currentThreadId()) +
        ": Access Violation @ 0x[0-9A-F]{16}\\. Read-Access at virtual address "
        "0x0000000000000000\\.");
    EXPECT_TRUE(std::regex_match(e.getMessage(), patternL)) << e.getMessage();
    EXPECT_EQ(e.getFunction(), "qridy::MultipassFileIO::recoverDataAndAdd");
  }

  // A fault while read() holds the gallery read lock releases the lock on the way out.
  std::vector<unsigned char> bufferL(galleryL->getDataSize());
  try {
    FaultingReads faultingL;
    FaultTranslator::guard([&] { return galleryL->read(IdRecordKey(1, 1), bufferL.data(), true); });
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_NE(e.getMessage().find("Access Violation @ "), std::string::npos) << e.getMessage();
  }
  std::promise<bool> readL;
  std::future<bool> resultL = readL.get_future();
  std::thread([galleryL, blobL, promiseL = std::move(readL)]() mutable {
    std::vector<unsigned char> bufferL(galleryL->getDataSize());
    promiseL.set_value(galleryL->read(IdRecordKey(2, 2), bufferL.data(), true) && bufferL == blobL);
  }).detach();
  // A bound on a hang, not a timing expectation: a lock left held blocks the reader forever.
  ASSERT_EQ(resultL.wait_for(std::chrono::minutes(2)), std::future_status::ready)
      << "the read lock is still held";
  EXPECT_TRUE(resultL.get());
}

TEST_F(FaultTranslatorTest, AFaultOutsideAnyGuardStillEndsTheProcess) {
  // The handler forwards what no guard wants to the handler before it (the default action, or
  // a sanitizer's report); it must neither swallow the fault nor spin on it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(readAt(0), "");
  EXPECT_DEATH(divide(1, 0), "");
}

}  // namespace
}  // namespace qridy
