#pragma once

// The common frame of the kill tests: a child process changes a gallery and reports on a pipe
// what it begins and what is acknowledged, the parent kills it with SIGKILL at a random moment
// and reads the report.
//
// Report lines (each written with one write(), so the parent never sees part of a line unless
// the child died inside it, which parseKillEvents ignores):
//   O                the gallery is open
//   B <first> [<n>]  an add of transactions first .. first + n - 1 begins (n: 1 when absent)
//   A                the add in flight is acknowledged
//   C <t>            the removal of transaction t begins
//   D                the removal in flight is acknowledged
//   F [<text>]       a change failed (the child goes on)
//   E <text>         the child stopped on an exception

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace quarlen_test {

// The decimal value of environment variable nameA, defaultA when it is absent or empty.
unsigned long envNumber(const char* nameA, unsigned long defaultA);

// Writes one report line (lineA ends with '\n').
void sayEvent(int fdA, const std::string& lineA);

struct KillEvents {
  enum class Change { None, Add, Removal };
  bool opened = false;
  // The first F or E line: the child reported a failure.
  std::string failure;
  std::vector<std::uint64_t> adds;      // acknowledged, in order
  std::vector<std::uint64_t> removals;  // acknowledged, in order
  // The change begun and not acknowledged when the child died: transactions first ..
  // first + count - 1.
  Change inFlight = Change::None;
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  // The first transaction no add has begun with (nextA when there was none).
  std::uint64_t next = 0;
};

KillEvents parseKillEvents(const std::string& textA, std::uint64_t nextA);

struct KilledChild {
  std::string report;
  int status = 0;  // as waitpid gives it
};

// Forks; the child runs childA(fd of the pipe's writing end), which must never return (it ends
// with _exit). The parent kills the child with SIGKILL: after a random time below
// openMicrosA (one time in eight, while it opens the gallery), else after it reported O (or E)
// and a random time below runMicrosA more. Returns the report and the status.
KilledChild runAndKill(const std::function<void(int)>& childA, std::mt19937& rngA,
                       unsigned openMicrosA, unsigned runMicrosA);

}  // namespace quarlen_test
