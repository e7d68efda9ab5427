#pragma once

#include <mutex>
#include <vector>

#include <qrlcore/CoreExport.h>

namespace kxutl {

class Observable;

// Receives the notifications of the observables it was added to.
class QRLCORE_EXPORT Observer {
 public:
  virtual ~Observer();
  // observableA: the notifying object; argumentA: what notifyObserver was given.
  virtual void update(Observable* observableA, void* argumentA) = 0;
};

// Something others watch. Observers are not owned: an observer must be deleted from every
// observable before it is destroyed. Notifications go out only when the object was marked
// changed, in the order the observers were added; marking is cleared by the notification.
// Thread-safe; observers are called without the internal lock held, so an update() may add or
// delete observers (the change applies from the next notification). An observer deleted by
// another thread while a notification is under way may still receive that notification.
class QRLCORE_EXPORT Observable {
 public:
  Observable() = default;
  virtual ~Observable();
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;

  // Adds observerA unless it is null or already present.
  void addObserver(Observer* observerA);
  void deleteObserver(Observer* observerA);
  void deleteObservers();
  int countObservers() const;

  void setChanged();
  void clearChanged();
  bool hasChanged() const;
  // When changed: clears the mark and calls update(this, argumentA) on every observer.
  // Returns whether it notified.
  bool notifyObserver(void* argumentA = nullptr);

 private:
  mutable std::mutex mutexM;
  std::vector<Observer*> observersM;
  bool changedM = false;
};

}  // namespace kxutl
