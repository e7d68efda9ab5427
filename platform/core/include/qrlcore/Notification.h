#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

#include <qrlcore/CoreExport.h>

// Notifications: the diagnostic channels of the system.
//
//   kxntc::warning << "Merging of template meta data not possible. " << detailL;
//   kxntc::notify(kxntc::warning);
//
// Text streamed into a channel collects in a buffer of the calling thread (one buffer per thread
// and channel), and notify() hands the collected text to the sink as one entry and empties the
// buffer. Two threads never see each other's text, and the sink receives whole entries one at a
// time, so entries of different threads never interleave.
//
// Each channel has a threshold: an entry is delivered only while
// kxutl::QuarlenInformation::debugLevelS is at least the channel's threshold (error, warning and
// log: 0, that is always; debug: 1). Callers still gate optional diagnostics by the level
// themselves ("at debug level 3 or more"); the threshold keeps unconditional debug entries quiet
// in a default run.
namespace kxntc {

enum class Level { error = 0, warning = 1, log = 2, debug = 3 };

// Receives every delivered entry. It is called with a process-wide lock held, so it must not
// notify itself; exceptions it throws are swallowed.
using Sink = std::function<void(Level levelA, const std::string& textA)>;

class QRLCORE_EXPORT Notification {
 public:
  constexpr Notification(Level levelA, int thresholdA) : levelM(levelA), thresholdM(thresholdA) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  Level level() const { return levelM; }
  // "error", "warning", "log" or "debug".
  const char* name() const;
  int threshold() const { return thresholdM.load(std::memory_order_relaxed); }
  void setThreshold(int thresholdA) { thresholdM.store(thresholdA, std::memory_order_relaxed); }
  // Whether notify() would deliver an entry of this channel now.
  bool enabled() const;

  // The calling thread's buffer of this channel.
  std::ostream& stream();

  template <typename T>
  Notification& operator<<(const T& valueA) {
    stream() << valueA;
    return *this;
  }
  Notification& operator<<(std::ostream& (*manipulatorA)(std::ostream&)) {
    stream() << manipulatorA;
    return *this;
  }

 private:
  Level levelM;
  std::atomic<int> thresholdM;
};

extern QRLCORE_EXPORT Notification error;
extern QRLCORE_EXPORT Notification warning;
extern QRLCORE_EXPORT Notification log;
extern QRLCORE_EXPORT Notification debug;

// Emits the text the calling thread streamed into the channel as one entry (when the channel is
// enabled) and empties the buffer either way. Never throws.
QRLCORE_EXPORT void notify(Notification& channelA);

// Replaces the sink; returns the previous one. An empty sink restores the default, which writes
// "[<channel name>] " and the text to standard error, adding a line break when the text does not
// end with one.
QRLCORE_EXPORT Sink setSink(Sink sinkA);
QRLCORE_EXPORT void defaultSink(Level levelA, const std::string& textA);

}  // namespace kxntc
