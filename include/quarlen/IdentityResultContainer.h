#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include <qrlcore/RWLock.h>
#include <quarlen/QuarlenExport.h>

namespace qridy {

class IdentityMetadata;
class IdentityResult;
class IdentityResultSlots;

// The identity results of one parallel probe. With locking on (the default) every result is
// registered here under a read/write lock, so that threads of the probe may acquire and delete
// results of different identities at once and the pool can be walked; with locking off
// (single-threaded use) results are owned by their identity's state word alone and nothing is
// registered.
//
// Labels (an identity that is a candidate without a result yet) live in the identities' state
// words only: a query filter labels up to the whole gallery, which must not serialise on the
// lock. The walks that need labelled identities go over the metadata index.
class QUARLEN_EXPORT IdentityResultContainer {
 public:
  // slotsA: the registry the results read (not owned). reserveA: expected number of results.
  IdentityResultContainer(const IdentityResultSlots* slotsA, unsigned int probeA,
                          bool lockingA = true, std::size_t reserveA = 0);
  // Deletes the registered results.
  ~IdentityResultContainer();
  IdentityResultContainer(const IdentityResultContainer&) = delete;
  IdentityResultContainer& operator=(const IdentityResultContainer&) = delete;

  unsigned int probeIndex() const { return probeM; }
  bool locking() const { return lockingM; }
  // Only between identifications.
  void setLocking(bool lockingA) { lockingM = lockingA; }

  // A new result for metadataA, registered unless locking is off (a failed lock returns it
  // unregistered). The caller stores it in the identity's state word.
  IdentityResult* acquire(IdentityMetadata* metadataA);
  // Destroys resultA, the result metadataA's state word held, and removes its registration.
  // With locking on, a result that is not registered is reported ("IdentityResultContainer::
  // deleteResult try to delete result that not exists") and destroyed all the same.
  void deleteResult(IdentityMetadata* metadataA, IdentityResult* resultA);
  // The number of registered results.
  std::size_t size() const;
  // The identities with a registered result, in address order.
  std::vector<IdentityMetadata*> registeredMetadata() const;

  // The best keepA of scoresA: keptA[i] is 1 for a kept candidate. With keepA 0 or at most
  // keepA candidates all are kept. Otherwise the threshold t is the keepA-th best score: every
  // score above t is kept and, in index order, as many scores equal to t as are needed to
  // reach keepA. A NaN score counts as the lowest score.
  static void selectBest(const std::vector<float>& scoresA, std::size_t keepA,
                         std::vector<char>& keptA);

 private:
  const IdentityResultSlots* slotsM;
  unsigned int probeM;
  bool lockingM;
  mutable qrsys::RWLock lockM;
  std::map<IdentityMetadata*, IdentityResult*> resultsM;
};

}  // namespace qridy
