// quarlen enrol --sharded / quarlen identify --sharded: the gallery sharded over the ranks of an
// MPI job (mpirun -np N quarlen ...). Every rank keeps its shard in its own folder below the
// gallery folder and recovers it at the start of each command; rank 0 reads the files and prints.
#include <mpi.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ResultTreeList.h>

#include "Commands.h"
#include "ExampleConfig.h"
#include "RecordFile.h"
#include "ShardedMatcher.h"

namespace quarlen_cli {

namespace {

namespace fs = std::filesystem;

const char* const kEnrolUsage =
    "usage: mpirun -np N quarlen enrol --sharded [--storage ID] [--work DIR]\n"
    "                                  [--config INI --gallery DIR] FILE...\n\n"
    "Enrols the identity records stored in the FILEs into a gallery sharded over the N\n"
    "ranks of the MPI job: each record goes to the rank its person id hashes to, which\n"
    "keeps it in memory and in its own folder (<gallery>/<storage>/shard-<rank>of<N>).\n"
    "A shard that exists is recovered first, so enrolments add up over runs with the same\n"
    "number of ranks. Storage ID of the configuration: face (default), iris or finger.\n"
    "Without --config the example configuration is filled into DIR (default\n"
    "./quarlen-sharded) with the galleries below it; --config names a system\n"
    "configuration file and --gallery the gallery folder instead.\n";

const char* const kIdentifyUsage =
    "usage: mpirun -np N quarlen identify --sharded [--storage ID] [--pipeline ID]\n"
    "                                     [--work DIR] [--config INI --gallery DIR]\n"
    "                                     [--max K] FILE\n\n"
    "Recovers the gallery sharded over the N ranks (as written by enrol --sharded with\n"
    "the same N), identifies the probe record stored in FILE on every shard and prints\n"
    "the merged result list (best K, default 10): rank, person id, transaction id and\n"
    "score. The pipeline defaults to the storage's (face, iris, fourFinger). The answer\n"
    "is the one a single matcher over the whole gallery gives; when a rank fails, the\n"
    "identification fails naming the rank.\n";

struct Options {
  std::string storage = "face";
  std::string pipeline;
  std::string work = "quarlen-sharded";
  std::string config;
  std::string gallery;
  std::size_t max = 10;
  std::vector<std::string> files;
};

// Parses the arguments after the command name (--sharded among them); false after a usage error.
bool parse(const std::vector<std::string>& argsA, Options& optA, std::string& errorA) {
  for (std::size_t i = 0; i < argsA.size(); ++i) {
    const std::string& aL = argsA[i];
    const auto valueL = [&](std::string& dstA) {
      if (i + 1 >= argsA.size()) {
        errorA = aL + " needs a value";
        return false;
      }
      dstA = argsA[++i];
      return true;
    };
    if (aL == "--sharded") continue;
    if (aL == "--storage" || aL == "--pipeline" || aL == "--work" || aL == "--config" ||
        aL == "--gallery") {
      std::string& dstL = aL == "--storage"    ? optA.storage
                          : aL == "--pipeline" ? optA.pipeline
                          : aL == "--work"     ? optA.work
                          : aL == "--config"   ? optA.config
                                               : optA.gallery;
      if (!valueL(dstL)) return false;
    } else if (aL == "--max") {
      std::string vL;
      if (!valueL(vL)) return false;
      char* endL = nullptr;
      const unsigned long long nL = std::strtoull(vL.c_str(), &endL, 10);
      if (vL.empty() || *endL != '\0' || nL == 0) {
        errorA = "--max needs a positive number, not '" + vL + "'";
        return false;
      }
      optA.max = static_cast<std::size_t>(nL);
    } else if (aL.rfind("--", 0) == 0) {
      errorA = "unknown option '" + aL + "'";
      return false;
    } else {
      optA.files.push_back(aL);
    }
  }
  if (optA.config.empty() != optA.gallery.empty()) {
    errorA = "--config and --gallery go together";
    return false;
  }
  if (optA.pipeline.empty()) optA.pipeline = optA.storage == "finger" ? "fourFinger" : optA.storage;
  return true;
}

// MPI for the length of one command.
class MpiSession {
 public:
  MpiSession() {
    int providedL = 0;
    MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &providedL);
    MPI_Comm_rank(MPI_COMM_WORLD, &rankM);
  }
  ~MpiSession() { MPI_Finalize(); }
  int rank() const { return rankM; }

 private:
  int rankM = 0;
};

// Installs the configuration on every rank (the example one filled by rank 0 alone) and returns
// the storage's gallery folder.
std::string installConfig(const Options& optA, int rankA,
                          std::unique_ptr<ExampleConfig>& exampleA) {
  if (!optA.config.empty()) {
    kxutl::QuarlenInformation::setConfigFile(optA.config);
    return optA.gallery + "/" + optA.storage;
  }
  const std::string workL = fs::absolute(optA.work).string();
  if (rankA == 0) exampleA = std::make_unique<ExampleConfig>("", workL);
  MPI_Barrier(MPI_COMM_WORLD);
  if (rankA != 0) kxutl::QuarlenInformation::setConfigFile(workL + "/config/quarlen.ini");
  return workL + "/galleries/" + optA.storage;
}

// Opens the sharded gallery: every rank recovers its shard when its folder holds one.
void open(qrshard::ShardedMatcher& matcherA, const Options& optA, const std::string& galleryA) {
  const std::string shardL =
      qrshard::ShardedMatcher::shardFolder(galleryA, matcherA.rank(), matcherA.size());
  const bool recoverL = fs::exists(shardL + "/metaData.dat");
  matcherA.init(optA.storage.c_str(), galleryA.c_str(), recoverL);
  matcherA.addMatchingPipeline(optA.pipeline);
}

template <typename F>
int runOnRanks(const char* commandA, const char* usageA, const std::vector<std::string>& argsA,
               F&& bodyA) {
  for (const auto& aL : argsA) {
    if (aL == "--help" || aL == "-h") {
      std::cout << usageA;
      return 0;
    }
  }
  Options optL;
  std::string errorL;
  if (!parse(argsA, optL, errorL)) {
    std::cerr << "quarlen " << commandA << ": " << errorL << "\n" << usageA;
    return 2;
  }
  MpiSession mpiL;
  try {
    std::unique_ptr<ExampleConfig> exampleL;
    const std::string galleryL = installConfig(optL, mpiL.rank(), exampleL);
    qrshard::ShardedMatcher matcherL(MPI_COMM_WORLD);
    open(matcherL, optL, galleryL);
    return bodyA(matcherL, optL);
  } catch (const kxxcp::Exception& eA) {
    // Every rank fails alike; one of them says why.
    if (mpiL.rank() == 0) std::cerr << "quarlen " << commandA << ": " << eA.getMessage() << "\n";
  } catch (const std::exception& eA) {
    std::cerr << "quarlen " << commandA << " (rank " << mpiL.rank() << "): " << eA.what() << "\n";
  }
  return 1;
}

}  // namespace

int runShardedEnrol(const std::vector<std::string>& argsA) {
  return runOnRanks(
      "enrol", kEnrolUsage, argsA, [](qrshard::ShardedMatcher& mA, const Options& oA) {
        std::vector<std::unique_ptr<qridy::IdRecordImp>> recordsL;
        int readableL = 1;
        if (mA.rank() == 0) {
          for (const std::string& fileL : oA.files) {
            auto recordL = std::make_unique<qridy::IdRecordImp>();
            if (!readIdRecordFile("enrol", fileL, *recordL)) readableL = 0;
            recordsL.push_back(std::move(recordL));
          }
          if (oA.files.empty()) {
            std::cerr << "quarlen enrol: no record files given\n";
            readableL = 0;
          }
        }
        MPI_Bcast(&readableL, 1, MPI_INT, 0, MPI_COMM_WORLD);
        if (readableL == 0) return 1;
        std::vector<const qridy::IdRecordImp*> viewL;
        for (const auto& rL : recordsL) viewL.push_back(rL.get());
        const std::size_t addedL = mA.addIdRecords(viewL);
        const std::uint64_t totalL = mA.numberOfIdRecords();
        if (mA.rank() == 0) {
          std::cout << "enrolled " << addedL << " identity records; the gallery holds " << totalL
                    << " on " << mA.size() << " ranks\n";
        }
        return 0;
      });
}

int runShardedIdentify(const std::vector<std::string>& argsA) {
  return runOnRanks(
      "identify", kIdentifyUsage, argsA, [](qrshard::ShardedMatcher& mA, const Options& oA) {
        qridy::IdRecordImp probeL;
        int readableL = 1;
        if (mA.rank() == 0) {
          if (oA.files.size() != 1) {
            std::cerr << "quarlen identify: exactly one probe file is needed\n";
            readableL = 0;
          } else if (!readIdRecordFile("identify", oA.files[0], probeL)) {
            readableL = 0;
          }
        }
        MPI_Bcast(&readableL, 1, MPI_INT, 0, MPI_COMM_WORLD);
        if (readableL == 0) return 1;
        const std::uint64_t totalL = mA.numberOfIdRecords();
        const qridy::ResultTreeList listL = mA.identify(mA.rank() == 0 ? &probeL : nullptr);
        if (mA.rank() != 0) return 0;
        std::cout << "gallery: " << totalL << " identity records on " << mA.size()
                  << " ranks\nrank\tpersonId\ttransactionId\tscore\n";
        for (std::size_t i = 0; i < listL.size() && i < oA.max; ++i) {
          std::cout << i + 1 << "\t" << listL[i].personId() << "\t" << listL[i].transactionId()
                    << "\t" << listL[i].getScore() << "\n";
        }
        return 0;
      });
}

}  // namespace quarlen_cli
