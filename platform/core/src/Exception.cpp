#include <qrlcore/Exception.h>

#include <utility>

namespace kxxcp {

Exception::Exception(std::string messageA, std::string fileA, int lineA, std::string functionA,
                     const char* versionA, int codeA)
    : messageM(std::move(messageA)),
      fileM(std::move(fileA)),
      lineM(lineA),
      functionM(std::move(functionA)),
      versionM(versionA != nullptr ? versionA : ""),
      codeM(codeA) {}

// Out-of-line destructors anchor the type information in this library, so that an exception
// thrown in one shared object is caught by type in another.
Exception::~Exception() = default;
CopException::~CopException() = default;
CopGoodException::~CopGoodException() = default;
EnrollException::~EnrollException() = default;

void rethrowNested(const char* functionA, const char* fileA, int lineA, const CatchIntros& introsA,
                   int codeA) {
  std::string messageL;
  try {
    throw;
  } catch (const Exception& e) {
    messageL = std::string(introsA.kxxcp) + e.getMessage();
  } catch (const std::exception& e) {
    messageL = std::string(introsA.stdExc) + e.what();
  } catch (int e) {
    messageL = std::string(introsA.intExc) + std::to_string(e);
  } catch (...) {
    messageL = introsA.unknown;
  }
  throw Exception(messageL, fileA, lineA, functionA, nullptr, codeA);
}

}  // namespace kxxcp
