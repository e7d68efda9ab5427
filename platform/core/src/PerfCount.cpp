#include <qrlcore/PerfCount.h>

namespace kxutl {

PerfCount::PerfCount() : startM(std::chrono::steady_clock::now()) {}

void PerfCount::restart() {
  startM = std::chrono::steady_clock::now();
}

double PerfCount::elapsedSec() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - startM).count();
}

}  // namespace kxutl
