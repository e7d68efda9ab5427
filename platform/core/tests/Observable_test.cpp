#include <qrlcore/Observable.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kxutl {
namespace {

struct Recorder : Observer {
  explicit Recorder(std::string nameA, std::vector<std::string>& logA)
      : nameM(std::move(nameA)), logM(logA) {}
  void update(Observable* observableA, void* argumentA) override {
    logM.push_back(nameM + ":" + (argumentA ? *static_cast<std::string*>(argumentA) : "-"));
    if (onUpdateM) onUpdateM(observableA);
  }
  std::string nameM;
  std::vector<std::string>& logM;
  std::function<void(Observable*)> onUpdateM;
};

TEST(ObservableTest, NotifiesOnlyWhenChangedInOrderOfAdding) {
  std::vector<std::string> logL;
  Recorder aL("a", logL), bL("b", logL);
  Observable subjectL;
  subjectL.addObserver(&aL);
  subjectL.addObserver(&bL);
  subjectL.addObserver(&aL);  // already present
  subjectL.addObserver(nullptr);
  EXPECT_EQ(subjectL.countObservers(), 2);

  EXPECT_FALSE(subjectL.notifyObserver());
  EXPECT_TRUE(logL.empty());

  std::string argL = "x";
  subjectL.setChanged();
  EXPECT_TRUE(subjectL.hasChanged());
  EXPECT_TRUE(subjectL.notifyObserver(&argL));
  EXPECT_FALSE(subjectL.hasChanged());
  EXPECT_FALSE(subjectL.notifyObserver(&argL)) << "the mark is used up";
  EXPECT_EQ(logL, (std::vector<std::string>{"a:x", "b:x"}));

  subjectL.deleteObserver(&aL);
  subjectL.setChanged();
  subjectL.notifyObserver();
  EXPECT_EQ(logL.back(), "b:-");
  EXPECT_EQ(logL.size(), 3u);

  subjectL.setChanged();
  subjectL.clearChanged();
  EXPECT_FALSE(subjectL.notifyObserver());
}

TEST(ObservableTest, ObserversMayUnsubscribeWhileNotified) {
  std::vector<std::string> logL;
  Recorder aL("a", logL), bL("b", logL);
  Observable subjectL;
  aL.onUpdateM = [&](Observable* o) { o->deleteObserver(&aL); };
  subjectL.addObserver(&aL);
  subjectL.addObserver(&bL);
  subjectL.setChanged();
  subjectL.notifyObserver();
  subjectL.setChanged();
  subjectL.notifyObserver();
  EXPECT_EQ(logL, (std::vector<std::string>{"a:-", "b:-", "b:-"}));
  subjectL.deleteObservers();
  EXPECT_EQ(subjectL.countObservers(), 0);
}

}  // namespace
}  // namespace kxutl
