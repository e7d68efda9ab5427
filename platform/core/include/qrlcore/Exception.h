#pragma once

#include <exception>
#include <sstream>
#include <string>

#include <qrlcore/CoreExport.h>

namespace kxxcp {

// The one exception type of the system. Every failure is reported by throwing it (or one of the
// derived kinds below, which callers catch as the base). Copyable; what() returns the message.
class QRLCORE_EXPORT Exception : public std::exception {
 public:
  // messageA: the text reproduced to the caller; fileA/lineA: where it was thrown;
  // functionA: the qualified function name ("qridy::IdRecordImp::read"); versionA: null, the
  // library version text, or a revision text; codeA: -1 unless the operation documents another.
  Exception(std::string messageA, std::string fileA, int lineA, std::string functionA,
            const char* versionA = nullptr, int codeA = -1);
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override;

  const std::string& getMessage() const { return messageM; }
  const std::string& getFile() const { return fileM; }
  int getLine() const { return lineM; }
  const std::string& getFunction() const { return functionM; }
  const std::string& getVersion() const { return versionM; }
  int errorCode() const { return codeM; }

  const char* what() const noexcept override { return messageM.c_str(); }

 private:
  std::string messageM;
  std::string fileM;
  int lineM;
  std::string functionM;
  std::string versionM;
  int codeM;
};

class QRLCORE_EXPORT CopException : public Exception {
 public:
  using Exception::Exception;
  ~CopException() override;
};

class QRLCORE_EXPORT CopGoodException : public Exception {
 public:
  using Exception::Exception;
  ~CopGoodException() override;
};

class QRLCORE_EXPORT EnrollException : public Exception {
 public:
  using Exception::Exception;
  ~EnrollException() override;
};

// The introductions put in front of a caught message when an operation re-throws what it caught.
struct CatchIntros {
  const char* kxxcp = "kxxcp caught: ";
  const char* stdExc = "std exc caught: ";
  const char* intExc = "int exc caught: ";
  const char* unknown = "unknown exc caught: ";
};

// To be called inside a catch block only: re-throws the exception in flight as one
// kxxcp::Exception whose message is the caught text behind the matching introduction.
[[noreturn]] QRLCORE_EXPORT void rethrowNested(const char* functionA, const char* fileA, int lineA,
                                               const CatchIntros& introsA = CatchIntros(),
                                               int codeA = -1);

}  // namespace kxxcp

// Throws kxxcp::Exception with a message built from a stream expression:
//   KXXCP_THROW("qridy::IdRecordImp::read", "Invalid version: '" << v << "'.");
#define KXXCP_THROW(functionA, streamA) KXXCP_THROW_CODE(functionA, -1, streamA)
#define KXXCP_THROW_CODE(functionA, codeA, streamA)                                               \
  do {                                                                                            \
    std::ostringstream kxxcpMessageL;                                                             \
    kxxcpMessageL << streamA;                                                                     \
    throw ::kxxcp::Exception(kxxcpMessageL.str(), __FILE__, __LINE__, functionA, nullptr, codeA); \
  } while (0)
// Inside a catch block: wrap and re-throw with the standard introductions.
#define KXXCP_RETHROW(functionA) ::kxxcp::rethrowNested(functionA, __FILE__, __LINE__)
