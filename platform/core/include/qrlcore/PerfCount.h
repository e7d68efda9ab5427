#pragma once

#include <chrono>

#include <qrlcore/CoreExport.h>

namespace kxutl {

// A stopwatch on the monotonic clock, started at construction.
class QRLCORE_EXPORT PerfCount {
 public:
  PerfCount();
  void restart();
  // Seconds since construction or the last restart().
  double elapsedSec() const;

 private:
  std::chrono::steady_clock::time_point startM;
};

}  // namespace kxutl
