#include <qrlcore/Notification.h>

#include <iostream>
#include <mutex>
#include <sstream>

#include <qrlcore/QuarlenInformation.h>

namespace kxntc {

Notification error(Level::error, 0);
Notification warning(Level::warning, 0);
Notification log(Level::log, 0);
Notification debug(Level::debug, 1);

namespace {

const char* const kLevelNames[] = {"error", "warning", "log", "debug"};

struct SinkState {
  std::mutex mutexM;
  Sink sinkM;
};

// Never destroyed: entries may still arrive from destructors of other static objects.
SinkState& sinkState() {
  static SinkState* stateL = new SinkState();
  return *stateL;
}

std::ostringstream& threadBuffer(Level levelA) {
  thread_local std::ostringstream buffersL[4];
  return buffersL[static_cast<int>(levelA)];
}

}  // namespace

const char* Notification::name() const {
  return kLevelNames[static_cast<int>(levelM)];
}

bool Notification::enabled() const {
  return kxutl::QuarlenInformation::debugLevelS.load(std::memory_order_relaxed) >= threshold();
}

std::ostream& Notification::stream() {
  return threadBuffer(levelM);
}

void notify(Notification& channelA) {
  try {
    std::ostringstream& bufferL = threadBuffer(channelA.level());
    std::string textL = bufferL.str();
    // Every entry starts from default formatting: flags such as std::fixed or a precision set
    // by one writer must not leak into the next entry.
    static const std::ostringstream kDefaultFormatL;
    bufferL.str(std::string());
    bufferL.clear();
    bufferL.copyfmt(kDefaultFormatL);
    if (!channelA.enabled()) return;
    SinkState& stateL = sinkState();
    std::lock_guard<std::mutex> lockL(stateL.mutexM);
    if (stateL.sinkM) {
      stateL.sinkM(channelA.level(), textL);
    } else {
      defaultSink(channelA.level(), textL);
    }
  } catch (...) {
    // A diagnostic that cannot be delivered is dropped; it must not turn into a failure.
  }
}

Sink setSink(Sink sinkA) {
  SinkState& stateL = sinkState();
  std::lock_guard<std::mutex> lockL(stateL.mutexM);
  Sink previousL = std::move(stateL.sinkM);
  stateL.sinkM = std::move(sinkA);
  return previousL;
}

void defaultSink(Level levelA, const std::string& textA) {
  std::string lineL = "[";
  lineL += kLevelNames[static_cast<int>(levelA)];
  lineL += "] ";
  lineL += textA;
  if (lineL.back() != '\n') lineL += '\n';
  std::cerr.write(lineL.data(), static_cast<std::streamsize>(lineL.size()));
  std::cerr.flush();
}

}  // namespace kxntc
