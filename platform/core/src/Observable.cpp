#include <qrlcore/Observable.h>

#include <algorithm>

namespace kxutl {

Observer::~Observer() = default;
Observable::~Observable() = default;

void Observable::addObserver(Observer* observerA) {
  if (observerA == nullptr) return;
  std::lock_guard<std::mutex> lockL(mutexM);
  if (std::find(observersM.begin(), observersM.end(), observerA) == observersM.end()) {
    observersM.push_back(observerA);
  }
}

void Observable::deleteObserver(Observer* observerA) {
  std::lock_guard<std::mutex> lockL(mutexM);
  observersM.erase(std::remove(observersM.begin(), observersM.end(), observerA), observersM.end());
}

void Observable::deleteObservers() {
  std::lock_guard<std::mutex> lockL(mutexM);
  observersM.clear();
}

int Observable::countObservers() const {
  std::lock_guard<std::mutex> lockL(mutexM);
  return static_cast<int>(observersM.size());
}

void Observable::setChanged() {
  std::lock_guard<std::mutex> lockL(mutexM);
  changedM = true;
}

void Observable::clearChanged() {
  std::lock_guard<std::mutex> lockL(mutexM);
  changedM = false;
}

bool Observable::hasChanged() const {
  std::lock_guard<std::mutex> lockL(mutexM);
  return changedM;
}

bool Observable::notifyObserver(void* argumentA) {
  std::vector<Observer*> observersL;
  {
    std::lock_guard<std::mutex> lockL(mutexM);
    if (!changedM) return false;
    changedM = false;
    observersL = observersM;
  }
  for (Observer* observerL : observersL) observerL->update(this, argumentA);
  return true;
}

}  // namespace kxutl
