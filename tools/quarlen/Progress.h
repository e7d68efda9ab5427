#pragma once

#include <chrono>
#include <cstddef>
#include <iomanip>
#include <iostream>
#include <string>

namespace quarlen_cli {

// A progress bar on standard error, redrawn at most every 100 ms.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  Progress(std::string labelA, std::size_t totalA) : labelM(std::move(labelA)), totalM(totalA) {
    draw(0);
  }
  void update(std::size_t doneA) {
    const auto nowL = Clock::now();
    if (nowL - lastM < std::chrono::milliseconds(100) && doneA < totalM) return;
    lastM = nowL;
    draw(doneA);
  }
  void finish() {
    draw(totalM);
    std::cerr << "\n";
  }

 private:
  void draw(std::size_t doneA) const {
    constexpr int kWidth = 40;
    const double fractionL =
        totalM == 0 ? 1.0 : static_cast<double>(doneA) / static_cast<double>(totalM);
    const int filledL = static_cast<int>(fractionL * kWidth);
    std::cerr << "\r  " << std::left << std::setw(16) << labelM << " [" << std::string(filledL, '#')
              << std::string(kWidth - filledL, '.') << "] " << std::right << std::setw(3)
              << static_cast<int>(fractionL * 100.0) << "%" << std::flush;
  }

  std::string labelM;
  std::size_t totalM;
  Clock::time_point lastM = Clock::now();
};

}  // namespace quarlen_cli
