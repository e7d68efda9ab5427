// Gallery files: batched adds of 4 KiB blobs (write cache of 1000), with and without fsync,
// against plain appends of the same bytes to one file; random reads; opening a 100 000-record
// gallery; and reading all of it. Everything lives in a temporary directory under /tmp, removed at
// exit.
//
// The gallery files flush every header and record write to the operating system (and, with
// sync, sync each batch four times), so a plain append with one flush per batch is the floor the
// gallery files are measured against. Reads come from the page cache: they measure the cost of
// the file layer, not of the disk.

#include <quarlen/IdentityMetadata.h>
#include <quarlen/MultipassFileIO.h>

#include <benchmark/benchmark.h>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "gallery/FidChecksum.h"

namespace {

constexpr unsigned kBlobSize = 4096;
constexpr unsigned kBatch = 1000;
constexpr std::uint64_t kGalleryRecords = 100000;

// A directory under /tmp for the whole run.
const std::string& benchDir() {
  static const std::string dirS = [] {
    char templateL[] = "/tmp/bench_gallery_files_XXXXXX";
    if (mkdtemp(templateL) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ecL;
      std::filesystem::remove_all(benchDir(), ecL);
    });
    return std::string(templateL);
  }();
  return dirS;
}

std::vector<unsigned char> blob(std::uint64_t seedA) {
  std::vector<unsigned char> bL(kBlobSize);
  std::mt19937_64 rngL(seedA);
  for (unsigned i = 0; i < kBlobSize; i += 8) {
    const std::uint64_t vL = rngL();
    for (unsigned j = 0; j < 8; ++j) bL[i + j] = static_cast<unsigned char>(vL >> (8 * j));
  }
  return bL;
}

// Adds countA records with transaction ids from firstA on, in batches of kBatch.
void addRecords(qridy::MultipassFileIO& filesA, std::deque<qridy::IdentityMetadata>& metadataA,
                std::uint64_t firstA, std::uint64_t countA,
                const std::vector<unsigned char>& blobA) {
  for (std::uint64_t t = firstA; t < firstA + countA; ++t) {
    metadataA.emplace_back(qridy::IdRecordKey(t % 1000, t));
    if (!filesA.add(metadataA.back(), blobA.data(), kBlobSize)) std::abort();
  }
  if (!filesA.writeCacheToDisk()) std::abort();
}

void BM_BatchedAdd(benchmark::State& stateA) {
  const bool syncL = stateA.range(0) != 0;
  const std::string nameL = syncL ? "add_sync" : "add";
  std::filesystem::remove_all(benchDir() + "/" + nameL);
  qridy::MultipassFileIO filesL(benchDir(), 0, nameL, {kBlobSize});
  filesL.setSyncToDisk(syncL);
  filesL.create(0, 0);
  filesL.setWriteCacheSize(kBatch);
  std::deque<qridy::IdentityMetadata> metadataL;
  const std::vector<unsigned char> blobL = blob(1);
  std::uint64_t nextL = 0;
  for (auto _ : stateA) {
    addRecords(filesL, metadataL, nextL, kBatch, blobL);
    nextL += kBatch;
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(nextL));
  stateA.SetBytesProcessed(static_cast<std::int64_t>(nextL * kBlobSize));
  filesL.close();
  std::filesystem::remove_all(benchDir() + "/" + nameL);
}
BENCHMARK(BM_BatchedAdd)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_BatchedAdd)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// The reference: the same bytes appended to one plain file, one flush (and sync) per batch.
void BM_PlainAppend(benchmark::State& stateA) {
  const bool syncL = stateA.range(0) != 0;
  const std::string pathL = benchDir() + "/plain.bin";
  std::FILE* fL = std::fopen(pathL.c_str(), "wb");
  const std::vector<unsigned char> blobL = blob(1);
  std::uint64_t countL = 0;
  for (auto _ : stateA) {
    for (unsigned i = 0; i < kBatch; ++i) std::fwrite(blobL.data(), 1, kBlobSize, fL);
    std::fflush(fL);
    if (syncL) ::fsync(fileno(fL));
    countL += kBatch;
  }
  std::fclose(fL);
  std::remove(pathL.c_str());
  stateA.SetItemsProcessed(static_cast<std::int64_t>(countL));
  stateA.SetBytesProcessed(static_cast<std::int64_t>(countL * kBlobSize));
}
BENCHMARK(BM_PlainAppend)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PlainAppend)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// The record checksum of a 4 KiB blob: the eight-lane form used by the files against the
// byte-by-byte definition.
template <std::uint32_t (*Checksum)(const void*, std::size_t, std::uint32_t)>
void BM_RecordChecksum(benchmark::State& stateA) {
  const std::vector<unsigned char> blobL = blob(3);
  std::uint32_t sumL = 0;
  for (auto _ : stateA) {
    sumL += Checksum(blobL.data(), blobL.size(), 0);
    benchmark::DoNotOptimize(sumL);
  }
  stateA.SetItemsProcessed(stateA.iterations());
  stateA.SetBytesProcessed(stateA.iterations() * static_cast<std::int64_t>(kBlobSize));
}
BENCHMARK_TEMPLATE(BM_RecordChecksum, qridy::fid::recordChecksum)->Name("BM_RecordChecksum/lanes");
BENCHMARK_TEMPLATE(BM_RecordChecksum, qridy::fid::recordChecksumReference)
    ->Name("BM_RecordChecksum/reference");

// A 100 000-record gallery, built once.
qridy::MultipassFileIO& bigGallery() {
  static std::unique_ptr<qridy::MultipassFileIO> filesS;
  static std::deque<qridy::IdentityMetadata> metadataS;
  if (!filesS) {
    filesS = std::make_unique<qridy::MultipassFileIO>(benchDir(), 0, "big",
                                                      std::vector<unsigned>{kBlobSize});
    filesS->create(0, 0);
    filesS->setWriteCacheSize(kBatch);
    for (std::uint64_t t = 0; t < kGalleryRecords; t += kBatch) {
      addRecords(*filesS, metadataS, t, kBatch, blob(t));
    }
  }
  return *filesS;
}

void BM_RandomRead(benchmark::State& stateA) {
  qridy::MultipassFileIO& filesL = bigGallery();
  const auto& indexL = filesL.getIdRecKeyToBlobOffsetMap();
  std::mt19937 rngL(7);
  std::vector<unsigned char> bufferL(filesL.getDataSize());
  std::uint64_t countL = 0;
  for (auto _ : stateA) {
    const qridy::IdRecordKey& keyL = indexL[rngL() % indexL.size()].key;
    if (!filesL.read(keyL, bufferL.data(), true)) std::abort();
    ++countL;
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(countL));
  stateA.SetBytesProcessed(static_cast<std::int64_t>(countL * kBlobSize));
}
BENCHMARK(BM_RandomRead)->UseRealTime()->MinTime(2.0);

// Opening the gallery with a fresh object (which checks every part header against its records'
// status words), against opening it and reading its index.
void BM_OpenGallery(benchmark::State& stateA) {
  bigGallery().close();
  const bool indexL = stateA.range(0) != 0;
  for (auto _ : stateA) {
    qridy::MultipassFileIO filesL(benchDir(), 0, "big", {kBlobSize});
    filesL.open();
    if (indexL) filesL.readIdRecKeyToBlobOffsetMap("big");
  }
  stateA.SetItemsProcessed(static_cast<std::int64_t>(stateA.iterations() * kGalleryRecords));
}
BENCHMARK(BM_OpenGallery)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening the gallery with a fresh object, reading its index and then every blob, in key order
// (arg 0), in file order (arg 1), or in file order with a read-ahead buffer of 1 MiB per part
// (arg 2, configuration key "cacheBufferSize").
void BM_ReadWholeGallery(benchmark::State& stateA) {
  bigGallery().close();
  const bool fileOrderL = stateA.range(0) != 0;
  if (stateA.range(0) == 2) {
    const std::string iniL = benchDir() + "/readahead.ini";
    std::FILE* fL = std::fopen(iniL.c_str(), "w");
    std::fputs("[FID_DATA_CACHING]\ncacheBufferSize = 1048576\n", fL);
    std::fclose(fL);
    kxutl::QuarlenInformation::setConfigFile(iniL);
  }
  std::uint64_t countL = 0;
  for (auto _ : stateA) {
    qridy::MultipassFileIO filesL(benchDir(), 0, "big", {kBlobSize});
    filesL.readIdRecKeyToBlobOffsetMap("big");
    std::vector<qridy::MultipassFileIO::IdRecKeyToBlobOffset> entriesL =
        filesL.getIdRecKeyToBlobOffsetMap();
    if (fileOrderL) {
      std::sort(entriesL.begin(), entriesL.end(),
                [](const auto& aA, const auto& bA) { return aA.dataPosition < bA.dataPosition; });
    }
    std::vector<unsigned char> bufferL(filesL.getDataSize());
    for (const auto& entryL : entriesL) {
      if (!filesL.read(entryL.key, bufferL.data(), true)) std::abort();
    }
    countL += entriesL.size();
  }
  kxutl::QuarlenInformation::setConfigFile("");
  stateA.SetItemsProcessed(static_cast<std::int64_t>(countL));
  stateA.SetBytesProcessed(static_cast<std::int64_t>(countL * kBlobSize));
}
BENCHMARK(BM_ReadWholeGallery)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  kxntc::setSink([](kxntc::Level, const std::string&) {});
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ecL;
  std::filesystem::remove_all(benchDir(), ecL);
  return 0;
}
