#include "support/KillTesting.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quarlen_test {

unsigned long envNumber(const char* nameA, unsigned long defaultA) {
  const char* valueL = std::getenv(nameA);
  if (valueL == nullptr || *valueL == '\0') return defaultA;
  return std::strtoul(valueL, nullptr, 10);
}

void sayEvent(int fdA, const std::string& lineA) {
  // One write of less than PIPE_BUF bytes: the parent receives whole lines.
  const ssize_t rcL = ::write(fdA, lineA.data(), lineA.size());
  (void)rcL;
}

KillEvents parseKillEvents(const std::string& textA, std::uint64_t nextA) {
  KillEvents eL;
  eL.next = nextA;
  std::istringstream isL(textA);
  std::string lineL;
  while (std::getline(isL, lineL)) {
    if (isL.eof()) break;  // a line without its end: the child died writing it
    std::istringstream wL(lineL);
    std::string tagL;
    wL >> tagL;
    if (tagL == "O") {
      eL.opened = true;
    } else if (tagL == "B") {
      eL.inFlight = KillEvents::Change::Add;
      eL.count = 1;
      wL >> eL.first >> eL.count;
      eL.next = eL.first + eL.count;
    } else if (tagL == "C") {
      eL.inFlight = KillEvents::Change::Removal;
      wL >> eL.first;
      eL.count = 1;
    } else if (tagL == "A") {
      for (std::uint64_t t = eL.first; t < eL.first + eL.count; ++t) eL.adds.push_back(t);
      eL.inFlight = KillEvents::Change::None;
    } else if (tagL == "D") {
      eL.removals.push_back(eL.first);
      eL.inFlight = KillEvents::Change::None;
    } else if ((tagL == "F" || tagL == "E") && eL.failure.empty()) {
      eL.failure = lineL;
    }
  }
  return eL;
}

KilledChild runAndKill(const std::function<void(int)>& childA, std::mt19937& rngA,
                       unsigned openMicrosA, unsigned runMicrosA) {
  int fdsL[2];
  if (::pipe(fdsL) != 0) throw std::runtime_error("pipe failed");
  const pid_t pidL = ::fork();
  if (pidL < 0) throw std::runtime_error("fork failed");
  if (pidL == 0) {
    ::close(fdsL[0]);
    childA(fdsL[1]);
    ::_exit(2);
  }
  ::close(fdsL[1]);
  KilledChild resultL;
  char bufferL[4096];
  if (rngA() % 8 == 0) {
    ::usleep(rngA() % openMicrosA);
  } else {
    while (resultL.report.find("O\n") == std::string::npos &&
           resultL.report.find("E ") == std::string::npos) {
      const ssize_t nL = ::read(fdsL[0], bufferL, sizeof bufferL);
      if (nL <= 0) break;
      resultL.report.append(bufferL, static_cast<std::size_t>(nL));
    }
    ::usleep(rngA() % runMicrosA);
  }
  ::kill(pidL, SIGKILL);
  ::waitpid(pidL, &resultL.status, 0);
  for (ssize_t nL; (nL = ::read(fdsL[0], bufferL, sizeof bufferL)) > 0;) {
    resultL.report.append(bufferL, static_cast<std::size_t>(nL));
  }
  ::close(fdsL[0]);
  return resultL;
}

}  // namespace quarlen_test
