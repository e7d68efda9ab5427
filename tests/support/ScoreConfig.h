#pragma once

// A system configuration for the score-mapping tests, and a capture of error notifications.

#include <string>
#include <vector>

#include <qrlcore/Notification.h>

#include "support/Environment.h"

namespace quarlen_test {

// Writes a system configuration into dirA and installs it (QuarlenInformation::setConfigFile):
// face mapping mode modeA; every logFar curve and the iris curve map y = x + 2, except the
// HGMsmw curve, y = 2x. extraA is appended (its keys win). Restore with setConfigFile("").
void installScoreConfig(const TempDir& dirA, const std::string& modeA,
                        const std::string& extraA = "");

// Collects the entries of the error channel while it lives.
class CapturedErrors {
 public:
  CapturedErrors();
  ~CapturedErrors();
  CapturedErrors(const CapturedErrors&) = delete;
  CapturedErrors& operator=(const CapturedErrors&) = delete;

  std::vector<std::string> entriesM;

 private:
  kxntc::Sink previousM;
};

}  // namespace quarlen_test
