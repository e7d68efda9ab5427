// Write and read throughput of the identity record format: a stream of 10 000 identity records
// (a face record with two templates, two finger records with one template each; parts of 1 to
// 4 KiB) written to and read from memory, against a plain memcpy of the same bytes. Times are
// processor times of the benchmark thread, so a shared machine's load does not count.
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateMetaDataFinger.h>

#include "records/RecordIo.h"

namespace {

using namespace qridy;

constexpr int kRecords = 10000;

TemplateBlockImp* makeBlock(std::mt19937& rngA, Algorithm algorithmA, bool withProbeA,
                            const std::string& metaA) {
  std::uniform_int_distribution<unsigned int> sizeL(1024, 4096);
  std::vector<unsigned char> galleryL(sizeL(rngA));
  std::vector<unsigned char> probeL(withProbeA ? sizeL(rngA) : 0);
  for (auto& b : galleryL) b = static_cast<unsigned char>(rngA());
  for (auto& b : probeL) b = static_cast<unsigned char>(rngA());
  TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(algorithmA);
  blockL->setData(probeL.data(), static_cast<unsigned int>(probeL.size()), galleryL.data(),
                  static_cast<unsigned int>(galleryL.size()), !withProbeA);
  blockL->setMetaData(reinterpret_cast<const unsigned char*>(metaA.data()),
                      static_cast<unsigned int>(metaA.size()));
  return blockL;
}

// The records, built once, and their serialised stream.
struct Corpus {
  std::vector<std::unique_ptr<IdRecordImp>> records;
  std::string bytes;

  Corpus() {
    std::mt19937 rngL(42);
    std::ostringstream metaL(std::ios::binary);
    TemplateMetaDataFinger().write(metaL);
    for (int r = 0; r < kRecords; ++r) {
      auto recordL = std::make_unique<IdRecordImp>();
      recordL->setIdRecordKey({static_cast<std::uint64_t>(r), 1});
      for (std::uint64_t s = 1; s <= 2; ++s) {
        recordL->addTemplateBlock(makeBlock(rngL, AlgHgmFloat, false, ""), ModalityFace,
                                  InstanceFaceFrontal, {0, s});
      }
      for (Instance f : {InstanceFingerRightIndex, InstanceFingerLeftIndex}) {
        recordL->addTemplateBlock(makeBlock(rngL, AlgL2f, true, metaL.str()), ModalityFingerprint,
                                  f, {0, 3});
      }
      records.push_back(std::move(recordL));
    }
    std::ostringstream osL(std::ios::binary);
    for (const auto& r : records) r->write(osL);
    bytes = osL.str();
  }
};

const Corpus& corpus() {
  static const Corpus corpusL;
  return corpusL;
}

// An output stream into a string whose capacity is reserved up front.
class ReservedStringBuf : public std::streambuf {
 public:
  explicit ReservedStringBuf(std::size_t capacityA) { bytesM.reserve(capacityA); }
  std::string& bytes() { return bytesM; }

 protected:
  std::streamsize xsputn(const char* sA, std::streamsize nA) override {
    bytesM.append(sA, static_cast<std::size_t>(nA));
    return nA;
  }
  int_type overflow(int_type cA) override {
    if (!traits_type::eq_int_type(cA, traits_type::eof())) bytesM.push_back(static_cast<char>(cA));
    return traits_type::not_eof(cA);
  }

 private:
  std::string bytesM;
};

// Writing reuses one stream: after the first pass its buffer is allocated and its pages are
// mapped, as for a server that writes records over and over.
void BM_WriteIdRecords_ostringstream(benchmark::State& state) {
  const Corpus& c = corpus();
  std::ostringstream osL(std::ios::binary);
  for (const auto& r : c.records) r->write(osL);  // untimed first pass
  for (auto _ : state) {
    osL.seekp(0);
    for (const auto& r : c.records) r->write(osL);
    benchmark::DoNotOptimize(osL.tellp());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_WriteIdRecords_ostringstream)->Unit(benchmark::kMillisecond);

void BM_WriteIdRecords_reservedBuffer(benchmark::State& state) {
  const Corpus& c = corpus();
  ReservedStringBuf bufL(c.bytes.size());
  std::ostream osL(&bufL);
  for (const auto& r : c.records) r->write(osL);  // untimed first pass
  for (auto _ : state) {
    bufL.bytes().clear();
    for (const auto& r : c.records) r->write(osL);
    benchmark::DoNotOptimize(bufL.bytes().data());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_WriteIdRecords_reservedBuffer)->Unit(benchmark::kMillisecond);

// A new stream per pass: includes the buffer's growth and the first touch of every page, which
// dominates on virtual machines with expensive page faults. Compare with BM_MemcpyFreshBuffer.
void BM_WriteIdRecords_freshOstringstream(benchmark::State& state) {
  const Corpus& c = corpus();
  for (auto _ : state) {
    std::ostringstream osL(std::ios::binary);
    for (const auto& r : c.records) r->write(osL);
    benchmark::DoNotOptimize(osL.tellp());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_WriteIdRecords_freshOstringstream)->Unit(benchmark::kMillisecond);

void BM_ReadIdRecords_memoryStream(benchmark::State& state) {
  const Corpus& c = corpus();
  IdRecordImp recordL;
  for (auto _ : state) {
    recordio::MemoryInStream isL(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                 c.bytes.size());
    for (int r = 0; r < kRecords; ++r) recordL.read(isL);
    benchmark::DoNotOptimize(recordL.nBioRecords());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_ReadIdRecords_memoryStream)->Unit(benchmark::kMillisecond);

void BM_ReadIdRecords_istringstream(benchmark::State& state) {
  const Corpus& c = corpus();
  IdRecordImp recordL;
  for (auto _ : state) {
    state.PauseTiming();
    std::istringstream isL(c.bytes, std::ios::binary);
    state.ResumeTiming();
    for (int r = 0; r < kRecords; ++r) recordL.read(isL);
    benchmark::DoNotOptimize(recordL.nBioRecords());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_ReadIdRecords_istringstream)->Unit(benchmark::kMillisecond);

// The references: copying the same bytes once, into a buffer in use and into a new one.
void BM_MemcpyReference(benchmark::State& state) {
  const Corpus& c = corpus();
  std::vector<char> dstL(c.bytes.size());
  for (auto _ : state) {
    std::memcpy(dstL.data(), c.bytes.data(), c.bytes.size());
    benchmark::DoNotOptimize(dstL.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

void BM_MemcpyFreshBuffer(benchmark::State& state) {
  const Corpus& c = corpus();
  for (auto _ : state) {
    std::unique_ptr<char[]> dstL(new char[c.bytes.size()]);
    std::memcpy(dstL.get(), c.bytes.data(), c.bytes.size());
    benchmark::DoNotOptimize(dstL.get());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.bytes.size()));
}
BENCHMARK(BM_MemcpyFreshBuffer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
