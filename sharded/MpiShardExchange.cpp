#include "MpiShardExchange.h"

#include <cstdint>
#include <cstring>
#include <sstream>

#include <qrlcore/Exception.h>

namespace qrshard {

namespace {

constexpr char kPass = 'P';
constexpr char kDone = 'D';
constexpr const char* kFunction = "qrshard::MpiShardExchange";

void put64(std::string& dstA, std::uint64_t vA) {
  for (int i = 0; i < 8; ++i) dstA.push_back(static_cast<char>((vA >> (8 * i)) & 0xFF));
}

// Reads the messages this class writes; a message of another shape means the ranks are out of
// step (different builds or pipelines), never outside input.
class In {
 public:
  explicit In(const std::string& sA) : sM(sA) {}
  std::uint64_t u64() {
    need(8);
    std::uint64_t vL = 0;
    for (int i = 0; i < 8; ++i)
      vL |= static_cast<std::uint64_t>(static_cast<unsigned char>(sM[posM + i])) << (8 * i);
    posM += 8;
    return vL;
  }
  char byte() {
    need(1);
    return sM[posM++];
  }
  std::string bytes(std::size_t nA) {
    need(nA);
    std::string outL = sM.substr(posM, nA);
    posM += nA;
    return outL;
  }

 private:
  void need(std::size_t nA) {
    if (sM.size() - posM < nA) KXXCP_THROW(kFunction, "Shard message ends early");
  }
  const std::string& sM;
  std::size_t posM = 0;
};

}  // namespace

MpiShardExchange::MpiShardExchange(MPI_Comm commA) : commM(commA) {
  MPI_Comm_rank(commM, &rankM);
  MPI_Comm_size(commM, &sizeM);
  statusM.assign(static_cast<std::size_t>(sizeM), RankStatus{});
}

std::string MpiShardExchange::encodePass(const qrbase::ShardPassReport& reportA) {
  std::string outL(1, kPass);
  put64(outL, reportA.compared);
  put64(outL, reportA.identities);
  put64(outL, reportA.results);
  put64(outL, reportA.candidates);
  outL.push_back(reportA.failed ? 1 : 0);
  put64(outL, reportA.best.size());
  for (const qrbase::ShardCandidate& cL : reportA.best) {
    std::uint32_t bitsL = 0;
    std::memcpy(&bitsL, &cL.score, 4);
    put64(outL, bitsL);
    put64(outL, cL.personId);
    put64(outL, cL.transactionId);
  }
  return outL;
}

std::string MpiShardExchange::encodeDone(const RankStatus& statusA) {
  std::string outL(1, kDone);
  outL.push_back(statusA.ok ? 1 : 0);
  put64(outL, statusA.message.size());
  outL += statusA.message;
  return outL;
}

std::vector<std::string> MpiShardExchange::round(const std::string& mineA) {
  const int mySizeL = static_cast<int>(mineA.size());
  std::vector<int> sizesL(static_cast<std::size_t>(sizeM));
  MPI_Allgather(&mySizeL, 1, MPI_INT, sizesL.data(), 1, MPI_INT, commM);
  std::vector<int> offsetsL(static_cast<std::size_t>(sizeM));
  int totalL = 0;
  for (int r = 0; r < sizeM; ++r) {
    offsetsL[r] = totalL;
    totalL += sizesL[r];
  }
  std::string allL(static_cast<std::size_t>(totalL), '\0');
  MPI_Allgatherv(mineA.data(), mySizeL, MPI_CHAR, allL.data(), sizesL.data(), offsetsL.data(),
                 MPI_CHAR, commM);
  std::vector<std::string> outL(static_cast<std::size_t>(sizeM));
  for (int r = 0; r < sizeM; ++r) outL[r] = allL.substr(offsetsL[r], sizesL[r]);
  return outL;
}

std::vector<qrbase::ShardPassReport> MpiShardExchange::exchangeReports(
    const qrbase::ShardPassReport& mineA) {
  const std::vector<std::string> messagesL = round(encodePass(mineA));
  std::vector<qrbase::ShardPassReport> reportsL(messagesL.size());
  for (std::size_t r = 0; r < messagesL.size(); ++r) {
    In inL(messagesL[r]);
    const char kindL = inL.byte();
    if (kindL == kDone) {
      // That rank already ended its identification: its pass is empty and, when it failed,
      // marked so.
      statusM[r].ok = inL.byte() != 0;
      statusM[r].message = inL.bytes(inL.u64());
      reportsL[r].failed = !statusM[r].ok;
      continue;
    }
    if (kindL != kPass) KXXCP_THROW(kFunction, "Shard message of unknown kind");
    qrbase::ShardPassReport& rL = reportsL[r];
    rL.compared = inL.u64();
    rL.identities = inL.u64();
    rL.results = inL.u64();
    rL.candidates = inL.u64();
    rL.failed = inL.byte() != 0;
    const std::uint64_t nL = inL.u64();
    rL.best.resize(nL);
    for (qrbase::ShardCandidate& cL : rL.best) {
      const auto bitsL = static_cast<std::uint32_t>(inL.u64());
      std::memcpy(&cL.score, &bitsL, 4);
      cL.personId = inL.u64();
      cL.transactionId = inL.u64();
    }
  }
  return reportsL;
}

std::vector<RankStatus> MpiShardExchange::finish(const RankStatus& statusA) {
  const std::string mineL = encodeDone(statusA);
  for (;;) {
    const std::vector<std::string> messagesL = round(mineL);
    bool allDoneL = true;
    for (std::size_t r = 0; r < messagesL.size(); ++r) {
      In inL(messagesL[r]);
      if (inL.byte() != kDone) {
        allDoneL = false;  // still in its passes: this round served one of its exchanges
        continue;
      }
      statusM[r].ok = inL.byte() != 0;
      statusM[r].message = inL.bytes(inL.u64());
    }
    if (allDoneL) break;
  }
  std::vector<RankStatus> outL = statusM;
  statusM.assign(static_cast<std::size_t>(sizeM), RankStatus{});
  return outL;
}

}  // namespace qrshard
