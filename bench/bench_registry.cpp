// The identity registry with 1 000 000 identities of 16 attributes: add rate (in memory, and
// with every entry committed to metaData.dat), look-ups by key and by SID, and the query filter
// of one probe (a two-clause query) on 1 and 2 threads. Beside the filter, in the same run: a
// plain loop over a flat array of the same attributes with the same query (the scalar
// reference), and SQLite with the attributes in an in-memory table with an index on each
// attribute the query tests (the peer an integrator would otherwise reach for).
//
// The query: attribute 1 equals 42 (1 % of the identities) OR attribute 2 lies in 100 .. 199
// (1 %). The filter labels every identity of the gallery (matches become candidates, the rest
// is cleared); the flat loop writes one state word per identity in the same way; SQLite returns
// the matching row ids.

#include <quarlen/UniqueMetadataContainer.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::size_t kIdentities = 1000000;
constexpr unsigned kAttributes = 16;
constexpr std::size_t kPersistedAdds = 100000;
const std::vector<unsigned int> kQuery{3, 1, 1, 42, 4, 2, 2, 100, 199, 0};

const std::string& benchDir() {
  static const std::string dirS = [] {
    char templateL[] = "/tmp/bench_registry_XXXXXX";
    if (mkdtemp(templateL) == nullptr) std::abort();
    const std::string dirL(templateL);
    std::ofstream(dirL + "/quarlen.ini")
        << "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 32\n"
           "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n";
    kxutl::QuarlenInformation::setConfigFile(dirL + "/quarlen.ini");
    qridy::QueryLanguage::setAttributeSize(kAttributes);
    std::atexit([] {
      std::error_code ecL;
      std::filesystem::remove_all(benchDir(), ecL);
    });
    return dirL;
  }();
  return dirS;
}

// The attributes of identity i: word 1 in 0 .. 99, word 2 in 0 .. 9999, the rest mixed.
struct Population {
  std::vector<unsigned int> words;  // kIdentities x (kAttributes + 1), word 0 unused
  std::vector<std::string> sids;
  Population() : words(kIdentities * (kAttributes + 1)), sids(kIdentities) {
    std::mt19937 rngL(1);
    for (std::size_t iL = 0; iL < kIdentities; ++iL) {
      unsigned int* wL = &words[iL * (kAttributes + 1)];
      wL[0] = static_cast<unsigned int>(iL);
      wL[1] = rngL() % 100;
      wL[2] = rngL() % 10000;
      for (unsigned kL = 3; kL <= kAttributes; ++kL) wL[kL] = rngL();
      sids[iL] = "SID-" + std::to_string(iL * 2654435761ull % 1000000007ull);
    }
  }
  const unsigned int* attributes(std::size_t iA) const {
    return &words[iA * (kAttributes + 1) + 1];
  }
};

const Population& population() {
  static const Population* populationS = (benchDir(), new Population());
  return *populationS;
}

qridy::IdRecordKey keyOf(std::size_t iA) {
  return qridy::IdRecordKey(iA / 3, iA);
}

void enrol(qridy::UniqueMetadataContainer& umcA, std::size_t countA, bool commitA) {
  const Population& pL = population();
  qridy::QueryLanguage qL;
  for (std::size_t iL = 0; iL < countA; ++iL) {
    qL.setAttributes(iL, pL.attributes(iL));
    qridy::IdentityMetadata* mL = umcA.addIdRecordKey(
        keyOf(iL), &qL, reinterpret_cast<const unsigned char*>(pL.sids[iL].data()),
        pL.sids[iL].size(), false);
    if (commitA) umcA.commitIdRecordKey(mL);
  }
}

qridy::UniqueMetadataContainer& registry() {
  static qridy::UniqueMetadataContainer* umcS = [] {
    population();
    auto* umcL = new qridy::UniqueMetadataContainer(qridy::ModalityFace);
    enrol(*umcL, kIdentities, false);
    return umcL;
  }();
  return *umcS;
}

void BM_AddInMemory(benchmark::State& stateA) {
  population();
  for (auto _ : stateA) {
    qridy::UniqueMetadataContainer umcL(qridy::ModalityFace);
    enrol(umcL, kIdentities, false);
    benchmark::DoNotOptimize(umcL.size());
    stateA.PauseTiming();
    umcL.clear();
    stateA.ResumeTiming();
  }
  stateA.SetItemsProcessed(stateA.iterations() * kIdentities);
}
BENCHMARK(BM_AddInMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_AddWithPersistence(benchmark::State& stateA) {
  population();
  for (auto _ : stateA) {
    qridy::UniqueMetadataContainer umcL(qridy::ModalityFace);
    umcL.setFidFileFolder(benchDir() + "/gallery", true);
    umcL.createFidFile();
    enrol(umcL, kPersistedAdds, true);
    benchmark::DoNotOptimize(umcL.size());
  }
  stateA.SetItemsProcessed(stateA.iterations() * kPersistedAdds);
}
BENCHMARK(BM_AddWithPersistence)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_LookupByKey(benchmark::State& stateA) {
  qridy::UniqueMetadataContainer& umcL = registry();
  std::mt19937 rngL(2);
  for (auto _ : stateA) {
    benchmark::DoNotOptimize(umcL.getMetaDataByIdRecordKey(keyOf(rngL() % kIdentities)));
  }
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK(BM_LookupByKey);

void BM_LookupBySid(benchmark::State& stateA) {
  qridy::UniqueMetadataContainer& umcL = registry();
  const Population& pL = population();
  std::mt19937 rngL(3);
  for (auto _ : stateA) {
    const std::string& sidL = pL.sids[rngL() % kIdentities];
    benchmark::DoNotOptimize(
        umcL.getMetaDataBySID(reinterpret_cast<const unsigned char*>(sidL.data()), sidL.size()));
  }
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK(BM_LookupBySid);

void BM_QueryFilter(benchmark::State& stateA) {
  qridy::UniqueMetadataContainer& umcL = registry();
  const unsigned threadsL = static_cast<unsigned>(stateA.range(0));
  for (auto _ : stateA) {
    umcL.processQueryLanguage(0, kQuery.data(), threadsL, qridy::QueryFilterModeDefault);
  }
  stateA.counters["selected"] = static_cast<double>(umcL.calcNumberOfSelectedIdRecords(0));
  stateA.SetItemsProcessed(stateA.iterations() * kIdentities);
}
BENCHMARK(BM_QueryFilter)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The scalar reference: the same query written out over the flat attribute array, one state
// word per identity, the work split the same way over plain threads.
void flatRange(const unsigned int* wordsA, std::uint64_t* statesA, std::size_t fromA,
               std::size_t toA) {
  for (std::size_t iL = fromA; iL < toA; ++iL) {
    const unsigned int* wL = wordsA + iL * (kAttributes + 1);
    const bool matchL = wL[1] == 42 || (wL[2] >= 100 && wL[2] <= 199);
    std::uint64_t& sL = statesA[iL];
    if (matchL) {
      if (sL == 0) sL = 1;
    } else {
      sL = 0;
    }
  }
}

void BM_FlatArrayLoop(benchmark::State& stateA) {
  const Population& pL = population();
  const unsigned threadsL = static_cast<unsigned>(stateA.range(0));
  std::vector<std::uint64_t> probeL(kIdentities);
  for (auto _ : stateA) {
    if (threadsL == 1) {
      flatRange(pL.words.data(), probeL.data(), 0, kIdentities);
    } else {
      std::vector<std::thread> workersL;
      const std::size_t chunkL = kIdentities / threadsL;
      for (unsigned tL = 0; tL < threadsL; ++tL) {
        const std::size_t toL = tL + 1 == threadsL ? kIdentities : (tL + 1) * chunkL;
        workersL.emplace_back(flatRange, pL.words.data(), probeL.data(), tL * chunkL, toL);
      }
      for (auto& wL : workersL) wL.join();
    }
    benchmark::ClobberMemory();
  }
  std::size_t selectedL = 0;
  for (std::uint64_t sL : probeL) selectedL += sL != 0;
  stateA.counters["selected"] = static_cast<double>(selectedL);
  stateA.SetItemsProcessed(stateA.iterations() * kIdentities);
}
BENCHMARK(BM_FlatArrayLoop)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

sqlite3* sqliteTable() {
  static sqlite3* dbS = [] {
    const Population& pL = population();
    sqlite3* dbL = nullptr;
    if (sqlite3_open(":memory:", &dbL) != SQLITE_OK) std::abort();
    std::string createL = "CREATE TABLE t (id INTEGER PRIMARY KEY";
    std::string insertL = "INSERT INTO t VALUES (?";
    for (unsigned kL = 1; kL <= kAttributes; ++kL) {
      createL += ", a" + std::to_string(kL) + " INTEGER";
      insertL += ", ?";
    }
    sqlite3_exec(dbL, (createL + ")").c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(dbL, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* stmtL = nullptr;
    sqlite3_prepare_v2(dbL, (insertL + ")").c_str(), -1, &stmtL, nullptr);
    for (std::size_t iL = 0; iL < kIdentities; ++iL) {
      sqlite3_bind_int64(stmtL, 1, static_cast<sqlite3_int64>(iL));
      const unsigned int* aL = pL.attributes(iL);
      for (unsigned kL = 0; kL < kAttributes; ++kL) sqlite3_bind_int64(stmtL, kL + 2, aL[kL]);
      if (sqlite3_step(stmtL) != SQLITE_DONE) std::abort();
      sqlite3_reset(stmtL);
    }
    sqlite3_finalize(stmtL);
    sqlite3_exec(dbL, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_exec(dbL, "CREATE INDEX i1 ON t(a1)", nullptr, nullptr, nullptr);
    sqlite3_exec(dbL, "CREATE INDEX i2 ON t(a2)", nullptr, nullptr, nullptr);
    return dbL;
  }();
  return dbS;
}

void BM_SqliteFilter(benchmark::State& stateA) {
  sqlite3* dbL = sqliteTable();
  sqlite3_stmt* stmtL = nullptr;
  if (sqlite3_prepare_v2(dbL, "SELECT id FROM t WHERE a1 = 42 OR a2 BETWEEN 100 AND 199", -1,
                         &stmtL, nullptr) != SQLITE_OK) {
    stateA.SkipWithError(sqlite3_errmsg(dbL));
    return;
  }
  std::size_t selectedL = 0;
  for (auto _ : stateA) {
    selectedL = 0;
    while (sqlite3_step(stmtL) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int64(stmtL, 0));
      ++selectedL;
    }
    sqlite3_reset(stmtL);
  }
  sqlite3_finalize(stmtL);
  stateA.counters["selected"] = static_cast<double>(selectedL);
  stateA.SetItemsProcessed(stateA.iterations() * kIdentities);
}
BENCHMARK(BM_SqliteFilter)->Unit(benchmark::kMillisecond);

// The same filter in SQLite without the indexes: a full scan, as the flat loop does.
void BM_SqliteScan(benchmark::State& stateA) {
  sqlite3* dbL = sqliteTable();
  sqlite3_stmt* stmtL = nullptr;
  sqlite3_prepare_v2(dbL, "SELECT id FROM t NOT INDEXED WHERE a1 = 42 OR a2 BETWEEN 100 AND 199",
                     -1, &stmtL, nullptr);
  std::size_t selectedL = 0;
  for (auto _ : stateA) {
    selectedL = 0;
    while (sqlite3_step(stmtL) == SQLITE_ROW) ++selectedL;
    sqlite3_reset(stmtL);
  }
  sqlite3_finalize(stmtL);
  stateA.counters["selected"] = static_cast<double>(selectedL);
  stateA.SetItemsProcessed(stateA.iterations() * kIdentities);
}
BENCHMARK(BM_SqliteScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
