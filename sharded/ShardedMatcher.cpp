#include "ShardedMatcher.h"

#include <cstring>
#include <filesystem>
#include <sstream>

#include <qrlcore/Exception.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/IdRecordKey.h>
#include <quarlen/MultipassConfig.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeCoding.h>

namespace qrshard {

namespace {

constexpr const char* kClass = "qrshard::ShardedMatcher";

void put64(std::string& dstA, std::uint64_t vA) {
  for (int i = 0; i < 8; ++i) dstA.push_back(static_cast<char>((vA >> (8 * i)) & 0xFF));
}

std::uint64_t get64(const std::string& sA, std::size_t& posA) {
  if (sA.size() - posA < 8) KXXCP_THROW(kClass, "Shard message ends early");
  std::uint64_t vL = 0;
  for (int i = 0; i < 8; ++i) {
    vL |= static_cast<std::uint64_t>(static_cast<unsigned char>(sA[posA + i])) << (8 * i);
  }
  posA += 8;
  return vL;
}

std::string bytesOf(const qridy::IdRecordImp& recordA) {
  std::ostringstream osL;
  recordA.write(osL);
  return osL.str();
}

qridy::IdRecordImp recordOf(const std::string& bytesA) {
  qridy::IdRecordImp recordL;
  std::istringstream isL(bytesA);
  recordL.read(isL);
  return recordL;
}

// The probe descriptor's query, person list and transaction list: the parts a pipeline reads.
void putDescriptor(std::string& dstA, const qridy::ProbeDescriptor* descriptorA) {
  dstA.push_back(descriptorA != nullptr ? 1 : 0);
  if (descriptorA == nullptr) return;
  put64(dstA, descriptorA->querySize());
  for (std::size_t i = 0; i < descriptorA->querySize(); ++i) put64(dstA, descriptorA->query()[i]);
  const auto putList = [&dstA](bool hasA, const std::vector<std::uint64_t>& listA) {
    dstA.push_back(hasA ? 1 : 0);
    put64(dstA, listA.size());
    for (std::uint64_t vL : listA) put64(dstA, vL);
  };
  putList(descriptorA->hasPersonList(), descriptorA->personList());
  putList(descriptorA->hasTransactionList(), descriptorA->transactionList());
}

bool getDescriptor(const std::string& sA, std::size_t& posA, qridy::ProbeDescriptor& outA) {
  const auto byteL = [&]() {
    if (posA >= sA.size()) KXXCP_THROW(kClass, "Shard message ends early");
    return sA[posA++];
  };
  if (byteL() == 0) return false;
  std::vector<unsigned int> queryL(get64(sA, posA));
  for (unsigned int& wL : queryL) wL = static_cast<unsigned int>(get64(sA, posA));
  outA.setQuery(queryL.data(), queryL.size());
  const auto getList = [&]() {
    const bool hasL = byteL() != 0;
    std::vector<std::uint64_t> listL(get64(sA, posA));
    for (std::uint64_t& vL : listL) vL = get64(sA, posA);
    return std::make_pair(hasL, listL);
  };
  auto personsL = getList();
  if (personsL.first) outA.setPersonList(std::move(personsL.second));
  auto transactionsL = getList();
  if (transactionsL.first) outA.setTransactionList(std::move(transactionsL.second));
  return true;
}

// Runs stepA and turns what it throws into a status.
template <typename F>
RankStatus attempt(F&& stepA) {
  RankStatus statusL;
  try {
    stepA();
  } catch (const kxxcp::Exception& eA) {
    statusL = {false, eA.getMessage()};
  } catch (const std::exception& eA) {
    statusL = {false, eA.what()};
  } catch (...) {
    statusL = {false, "unknown exception"};
  }
  return statusL;
}

}  // namespace

ShardedMatcher::ShardedMatcher(MPI_Comm commA)
    : commM(commA),
      exchangeM(commA),
      matcherM(std::make_unique<qrbase::TemplateMatcherMultipass>()) {
  matcherM->setShardExchange(&exchangeM);
}

ShardedMatcher::~ShardedMatcher() = default;

int ShardedMatcher::ownerOf(std::uint64_t personIdA, int ranksA) {
  // splitmix64: consecutive person ids spread evenly, and the value never depends on the build.
  std::uint64_t zL = personIdA + 0x9E3779B97F4A7C15ull;
  zL = (zL ^ (zL >> 30)) * 0xBF58476D1CE4E5B9ull;
  zL = (zL ^ (zL >> 27)) * 0x94D049BB133111EBull;
  zL ^= zL >> 31;
  return static_cast<int>(zL % static_cast<std::uint64_t>(ranksA));
}

std::string ShardedMatcher::shardFolder(const std::string& folderA, int rankA, int ranksA) {
  return folderA + "/shard-" + std::to_string(rankA) + "of" + std::to_string(ranksA);
}

std::vector<RankStatus> ShardedMatcher::gatherStatus(const RankStatus& mineA) {
  // A step without passes: one round of "done" messages carries every rank's status.
  return exchangeM.finish(mineA);
}

void ShardedMatcher::raiseFailures(const std::vector<RankStatus>& statusesA,
                                   const char* whatA) const {
  std::ostringstream osL;
  bool failedL = false;
  for (std::size_t r = 0; r < statusesA.size(); ++r) {
    if (statusesA[r].ok) continue;
    osL << (failedL ? "\n" : "") << "rank " << r << ": " << statusesA[r].message;
    failedL = true;
  }
  if (failedL) {
    KXXCP_THROW(kClass, whatA << " failed on " << size() << " ranks because of\n" << osL.str());
  }
}

std::string ShardedMatcher::broadcast(const std::string& bytesA) {
  std::uint64_t sizeL = bytesA.size();
  MPI_Bcast(&sizeL, 1, MPI_UINT64_T, 0, commM);
  std::string outL = rank() == 0 ? bytesA : std::string(sizeL, '\0');
  if (sizeL != 0) MPI_Bcast(outL.data(), static_cast<int>(sizeL), MPI_CHAR, 0, commM);
  return outL;
}

void ShardedMatcher::init(const char* storageIdA, const char* folderA, bool recoverA) {
  const RankStatus statusL = attempt([&] {
    std::string folderL;
    if (folderA != nullptr) {
      folderL = shardFolder(folderA, rank(), size());
      std::filesystem::create_directories(folderL);
    }
    matcherM->init(storageIdA, folderA != nullptr ? folderL.c_str() : nullptr, 0, recoverA);
  });
  raiseFailures(gatherStatus(statusL), "init");
}

void ShardedMatcher::addMatchingPipeline(const std::string& pipelineIdA) {
  const RankStatus statusL = attempt([&] {
    matcherM->addMatchingPipeline(pipelineIdA);
    const qrbase::MultipassConfig configL = matcherM->getMultipassConfig();
    for (const auto& stageL : configL.getStages()) {
      if (stageL.useNormalization) {
        KXXCP_THROW(kClass, "Pipeline '" << pipelineIdA
                                         << "' normalises scores over the gallery; a sharded "
                                            "gallery cannot reproduce that");
      }
    }
  });
  raiseFailures(gatherStatus(statusL), "addMatchingPipeline");
}

bool ShardedMatcher::addIdRecordIfOwned(const qridy::IdRecordImp& recordA) {
  if (ownerOf(recordA.personId(), size()) != rank()) return false;
  matcherM->addIdRecord(&recordA, nullptr, false);
  return true;
}

std::size_t ShardedMatcher::addIdRecords(const std::vector<const qridy::IdRecordImp*>& recordsA) {
  // The root packs each rank's records ([length][record bytes]...) and scatters the packs.
  std::vector<std::string> packsL(static_cast<std::size_t>(size()));
  if (rank() == 0) {
    for (const qridy::IdRecordImp* recordL : recordsA) {
      if (recordL == nullptr) continue;
      std::string& packL = packsL[ownerOf(recordL->personId(), size())];
      const std::string bytesL = bytesOf(*recordL);
      put64(packL, bytesL.size());
      packL += bytesL;
    }
  }
  std::vector<int> sizesL(static_cast<std::size_t>(size())), offsetsL(sizesL.size());
  std::string allL;
  for (std::size_t r = 0; r < packsL.size(); ++r) {
    sizesL[r] = static_cast<int>(packsL[r].size());
    offsetsL[r] = static_cast<int>(allL.size());
    allL += packsL[r];
  }
  int mySizeL = 0;
  MPI_Scatter(sizesL.data(), 1, MPI_INT, &mySizeL, 1, MPI_INT, 0, commM);
  std::string mineL(static_cast<std::size_t>(mySizeL), '\0');
  MPI_Scatterv(allL.data(), sizesL.data(), offsetsL.data(), MPI_CHAR, mineL.data(), mySizeL,
               MPI_CHAR, 0, commM);
  unsigned long long addedL = 0;
  const RankStatus statusL = attempt([&] {
    std::size_t posL = 0;
    while (posL < mineL.size()) {
      const std::uint64_t lengthL = get64(mineL, posL);
      if (mineL.size() - posL < lengthL) KXXCP_THROW(kClass, "Shard message ends early");
      const qridy::IdRecordImp recordL = recordOf(mineL.substr(posL, lengthL));
      posL += lengthL;
      matcherM->addIdRecord(&recordL, nullptr, false);
      ++addedL;
    }
  });
  raiseFailures(gatherStatus(statusL), "addIdRecords");
  unsigned long long totalL = 0;
  MPI_Allreduce(&addedL, &totalL, 1, MPI_UNSIGNED_LONG_LONG, MPI_SUM, commM);
  return totalL;
}

bool ShardedMatcher::destroyIdRecords(std::uint64_t personIdA) {
  std::uint64_t personL = personIdA;
  MPI_Bcast(&personL, 1, MPI_UINT64_T, 0, commM);
  int removedL = 0;
  const RankStatus statusL = attempt([&] {
    if (ownerOf(personL, size()) == rank() && matcherM->exists(personL)) {
      removedL = matcherM->destroyIdRecords(personL) ? 1 : 0;
    }
  });
  raiseFailures(gatherStatus(statusL), "destroyIdRecords");
  int anyL = 0;
  MPI_Allreduce(&removedL, &anyL, 1, MPI_INT, MPI_MAX, commM);
  return anyL != 0;
}

std::uint64_t ShardedMatcher::numberOfIdRecords() {
  unsigned long long mineL = matcherM->numberOfIdRecords(), totalL = 0;
  MPI_Allreduce(&mineL, &totalL, 1, MPI_UNSIGNED_LONG_LONG, MPI_SUM, commM);
  return totalL;
}

qridy::ResultTreeList ShardedMatcher::identify(const qridy::IdRecordImp* probeA,
                                               const qridy::ProbeDescriptor* descriptorA) {
  std::string requestL;
  if (rank() == 0) {
    if (probeA == nullptr) KXXCP_THROW(kClass, "identify: no probe on the root");
    const std::string probeBytesL = bytesOf(*probeA);
    put64(requestL, probeBytesL.size());
    requestL += probeBytesL;
    putDescriptor(requestL, descriptorA);
  }
  requestL = broadcast(requestL);

  qridy::ResultTreeList localL;
  RankStatus statusL = attempt([&] {
    std::size_t posL = 0;
    const std::uint64_t lengthL = get64(requestL, posL);
    if (requestL.size() - posL < lengthL) KXXCP_THROW(kClass, "Shard message ends early");
    const qridy::IdRecordImp probeL = recordOf(requestL.substr(posL, lengthL));
    posL += lengthL;
    qridy::ProbeDescriptor descriptorL;
    const bool hasDescriptorL = getDescriptor(requestL, posL, descriptorL);
    if (failRankM == rank()) {
      failRankM = -1;
      KXXCP_THROW(kClass, "identification stopped on request");
    }
    matcherM->identifyTransaction(&probeL, 0, localL, hasDescriptorL ? &descriptorL : nullptr);
  });
  // Passes that failed after their exchange make the rank's candidates incomplete.
  for (const std::string& failureL : exchangeM.takeFailures()) {
    statusL.ok = false;
    statusL.message += (statusL.message.empty() ? "" : "\n") + failureL;
  }
  raiseFailures(exchangeM.finish(statusL), "identify");

  // Every rank's list to the root; the root merges them with the matcher's own sort.
  const std::string bytesL = qridy::ResultTreeCoding::encode(localL);
  const int mySizeL = static_cast<int>(bytesL.size());
  std::vector<int> sizesL(static_cast<std::size_t>(size()));
  MPI_Gather(&mySizeL, 1, MPI_INT, sizesL.data(), 1, MPI_INT, 0, commM);
  std::vector<int> offsetsL(sizesL.size());
  int totalL = 0;
  for (std::size_t r = 0; r < sizesL.size(); ++r) {
    offsetsL[r] = totalL;
    totalL += sizesL[r];
  }
  std::string allL(rank() == 0 ? static_cast<std::size_t>(totalL) : 0, '\0');
  MPI_Gatherv(bytesL.data(), mySizeL, MPI_CHAR, allL.data(), sizesL.data(), offsetsL.data(),
              MPI_CHAR, 0, commM);
  qridy::ResultTreeList mergedL;
  if (rank() != 0) return mergedL;
  sidStoreM.clear();
  std::string missL;
  for (std::size_t r = 0; r < sizesL.size(); ++r) {
    const qridy::ResultTreeList partL = qridy::ResultTreeCoding::decode(
        reinterpret_cast<const unsigned char*>(allL.data()) + offsetsL[r],
        static_cast<std::size_t>(sizesL[r]), sidStoreM);
    mergedL.append(partL);
    missL += partL.missAnalysisResult();
  }
  mergedL.sort();
  mergedL.setMissAnalysisResult(missL);
  return mergedL;
}

}  // namespace qrshard
