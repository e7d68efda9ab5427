// Gallery stages and the gallery template container:
// - enrolment of 1 000 000 identities with a 1 KiB hgmFloat block into a memory stage (records/s),
//   beside a plain reference (copy into one preallocated buffer, append a 32-byte entry), and the
//   memory the stage holds per template against its slot size (as the stage counts it, and as
//   the process's resident pages grow);
// - removal of 10 % of the 1 000 000 at random (records/s);
// - reload of a 100 000-record disk triple into a probe slot's stage through the container, beside
//   a plain sequential read of the same data file (MB/s of blob bytes), in the same run.
// Files live in a temporary directory under /tmp, removed at exit. Reads come from the page cache.

#include <quarlen/IdentityMetadata.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include <benchmark/benchmark.h>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace qridy;
using qrbase::TemplateMatcherMultipass_Stage_MemManager;

constexpr unsigned kBlockSize = 1024;
constexpr unsigned kIdentities = 1000000;
constexpr unsigned kReloadRecords = 100000;
constexpr unsigned kBlockVariants = 64;

const std::string& benchDir() {
  static const std::string dirS = [] {
    char templateL[] = "/tmp/bench_gallery_XXXXXX";
    if (mkdtemp(templateL) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ecL;
      std::filesystem::remove_all(benchDir(), ecL);
    });
    return std::string(templateL);
  }();
  return dirS;
}

std::vector<std::unique_ptr<TemplateBlockImp>> blocks() {
  std::vector<std::unique_ptr<TemplateBlockImp>> blocksL;
  std::mt19937 rngL(5);
  for (unsigned v = 0; v < kBlockVariants; ++v) {
    std::vector<unsigned char> gL(kBlockSize);
    for (auto& b : gL) b = static_cast<unsigned char>(rngL());
    blocksL.emplace_back(TemplateBlockImp::createTemplateBlock(AlgHgmFloat));
    blocksL.back()->setData(nullptr, 0, gL.data(), kBlockSize, false);
  }
  return blocksL;
}

// Metadata entries of the identities, made once (not part of any measurement).
const std::deque<IdentityMetadata>& metadata() {
  static const std::deque<IdentityMetadata> entriesS = [] {
    std::deque<IdentityMetadata> eL;
    for (unsigned i = 0; i < kIdentities; ++i) eL.emplace_back(IdRecordKey(i / 3, i));
    return eL;
  }();
  return entriesS;
}

// The machine is shared: every figure is the CPU time of the measuring thread (user and
// system), so that other processes' load does not enter the ratios.
double threadSeconds() {
  timespec tL{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &tL);
  return static_cast<double>(tL.tv_sec) + static_cast<double>(tL.tv_nsec) * 1e-9;
}
double seconds(double startA) {
  return threadSeconds() - startA;
}

// Resident bytes of the process (Linux; 0 elsewhere): the cross-check of the memory the stage
// reports, since untouched pages of its arrays cost address space only.
double residentBytes() {
  std::ifstream statmL("/proc/self/statm");
  double pagesL = 0, residentL = 0;
  if (!(statmL >> pagesL >> residentL)) return 0;
  return residentL * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Enrolment of 1 M into a stage, its memory, then removal of 10 % at random.
void BM_MemoryStageEnrolAndRemove(benchmark::State& stateA) {
  const auto blocksL = blocks();
  const auto& metaL = metadata();
  double enrolL = 0, referenceL = 0, removeL = 0, bytesPerTemplateL = 0, tailL = 0;
  double residentPerTemplateL = 0;
  std::uint32_t slotL = 0;
  for (auto _ : stateA) {
    {
      // Plain reference: the same bytes into one preallocated buffer, one entry appended each.
      struct Entry {
        const unsigned char* data;
        const IdentityMetadata* metadata;
        KXuint128 sampleId;
      };
      // Not initialised: its pages are taken on first touch, as the stage's are.
      std::unique_ptr<unsigned char[]> bufferL(
          new unsigned char[static_cast<std::size_t>(kIdentities) * kBlockSize]);
      std::vector<Entry> entriesL;
      entriesL.reserve(kIdentities);
      const double t0L = threadSeconds();
      for (unsigned i = 0; i < kIdentities; ++i) {
        unsigned char* slotP = bufferL.get() + static_cast<std::size_t>(i) * kBlockSize;
        std::memcpy(slotP, blocksL[i % kBlockVariants]->galleryDataPtr(), kBlockSize);
        entriesL.push_back({slotP, &metaL[i], KXuint128{0, i}});
      }
      referenceL = seconds(t0L);
      benchmark::DoNotOptimize(entriesL.data());
    }
    const double residentBeforeL = residentBytes();
    TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgmFloat,
                                                     kIdentities);
    const double t1L = threadSeconds();
    for (unsigned i = 0; i < kIdentities; ++i) {
      stageL.add(blocksL[i % kBlockVariants].get(), &metaL[i], KXuint128{0, i});
    }
    enrolL = seconds(t1L);
    slotL = stageL.dataSize();
    bytesPerTemplateL = static_cast<double>(stageL.memoryInUse()) / kIdentities;
    // The index is built by the first look-up (removal below); count it as built.
    stageL.getGalleryEntriesByIdRecordKey({metaL[0].getIdRecordKey()});
    residentPerTemplateL = (residentBytes() - residentBeforeL) / kIdentities;
    std::size_t slotsL = 0;
    for (const auto& a : stageL.memoryArrays()) slotsL += a.capacity;
    tailL = static_cast<double>(slotsL - kIdentities) * stageL.dataSize() / kIdentities;

    std::vector<unsigned> orderL(kIdentities);
    for (unsigned i = 0; i < kIdentities; ++i) orderL[i] = i;
    std::shuffle(orderL.begin(), orderL.end(), std::mt19937(9));
    stageL.numberOfTemplates();
    const double t2L = threadSeconds();
    for (unsigned k = 0; k < kIdentities / 10; ++k) {
      stageL.destroyIdRecord(metaL[orderL[k]].getIdRecordKey());
    }
    removeL = seconds(t2L);
    if (stageL.numberOfTemplates() != kIdentities - kIdentities / 10)
      stateA.SkipWithError("removal");
  }
  stateA.counters["enrol_records_per_s"] = kIdentities / enrolL;
  stateA.counters["reference_records_per_s"] = kIdentities / referenceL;
  stateA.counters["enrol_vs_reference"] = referenceL / enrolL;
  stateA.counters["slot_bytes"] = slotL;
  stateA.counters["bytes_per_template"] = bytesPerTemplateL;
  stateA.counters["overhead_bytes"] = bytesPerTemplateL - slotL;
  // The unused slots of the last array, shared by the templates: address space only.
  stateA.counters["last_array_tail_bytes"] = tailL;
  // What the process really took per template (resident pages), index built.
  stateA.counters["resident_overhead_bytes"] = residentPerTemplateL - slotL;
  stateA.counters["remove_records_per_s"] = (kIdentities / 10) / removeL;
}
BENCHMARK(BM_MemoryStageEnrolAndRemove)->Iterations(1)->Unit(benchmark::kSecond);

// Reload of a 100 000-record disk triple into a slot's stage, beside a sequential read.
void BM_ReloadDiskTriple(benchmark::State& stateA) {
  kxntc::setSink([](kxntc::Level, const std::string&) {});
  const std::string folderL = benchDir() + "/reload";
  std::filesystem::create_directories(folderL);
  const std::string xmlL = folderL + "/storage.xml";
  std::ofstream(xmlL) << "<r><storage id=\"b\" reserveNumberOfTemplates=\"200000\" "
                         "reserveNumberOfReloadedTemplates=\"200000\" folder=\""
                      << folderL
                      << "\"><harddisk id=\"hd\" sizes=\"1100\"><disk modality=\"face\" "
                         "instance=\"faceFrontal\" algorithm=\"hgmFloat\"/></harddisk>"
                         "</storage></r>";
  // Gallery files read ahead 1 MiB per file, as a deployment that reloads sets up.
  const std::string iniL = folderL + "/quarlen.ini";
  std::ofstream(iniL) << "[FID_DATA_CACHING]\ncacheBufferSize = 1048576\n";
  kxutl::QuarlenInformation::setConfigFile(iniL);
  const auto blocksL = blocks();
  const auto& metaL = metadata();
  const BioMetricTriple tripleL{ModalityFace, InstanceFaceFrontal, AlgHgmFloat};
  {
    // The files, written in batches of 1000 as a bulk load would.
    MultipassFileIO filesL(folderL, kReloadRecords, "hd", {1100});
    filesL.create(0, 0);
    filesL.setWriteCacheSize(1000);
    for (unsigned i = 0; i < kReloadRecords; ++i) {
      const std::string blobL = qrbase::TemplateMatcherMultipass_TemplateContainer::recordBlob(
          {tripleL}, {blocksL[i % kBlockVariants].get()}, {KXuint128{0, i}});
      filesL.add(metaL[i], blobL.data(), static_cast<unsigned>(blobL.size()));
    }
    filesL.writeCacheToDisk();
  }
  UniqueMetadataContainer registryL(ModalityFace);
  for (unsigned i = 0; i < kReloadRecords; ++i) {
    registryL.addIdRecordKey(metaL[i].getIdRecordKey(), nullptr, nullptr, 0, false);
  }
  qrbase::TemplateMatcherMultipass_TemplateContainer containerL("b", xmlL);
  containerL.init(1, true, &registryL);
  qrbase::ThreadStruct threadL;
  containerL.recoverGallery(threadL);
  std::map<Algorithm, std::vector<StageMatchEngine_Base*>> enginesL;
  const std::string dataFileL = containerL.fidFile("hd")->dataFileName(0);
  const double fileBytesL = static_cast<double>(std::filesystem::file_size(dataFileL));
  const double blobBytesL = static_cast<double>(kReloadRecords) * (4 + 12 + 16);
  // The machine is shared: each rate is the best of the iterations (the least disturbed).
  double reloadL = 1e30, plainL = 1e30;
  std::size_t loadedL = 0;
  for (auto _ : stateA) {
    const double t0L = threadSeconds();
    loadedL = containerL.getGalleryTemplates(tripleL, 0, enginesL, false).galleryVec->size();
    reloadL = std::min(reloadL, seconds(t0L));
    containerL.clearPreloadedStages(0);
    std::vector<char> bufferL(1 << 20);
    const double t1L = threadSeconds();
    std::FILE* fL = std::fopen(dataFileL.c_str(), "rb");
    std::size_t readL = 0;
    for (std::size_t nL; (nL = std::fread(bufferL.data(), 1, bufferL.size(), fL)) > 0;) readL += nL;
    std::fclose(fL);
    plainL = std::min(plainL, seconds(t1L));
    benchmark::DoNotOptimize(readL);
  }
  if (loadedL != kReloadRecords) stateA.SkipWithError("reload incomplete");
  // Both rates over the same bytes: the data file as stored.
  (void)blobBytesL;
  stateA.counters["reload_MB_per_s"] = fileBytesL / reloadL / 1e6;
  stateA.counters["plain_read_MB_per_s"] = fileBytesL / plainL / 1e6;
  stateA.counters["reload_vs_plain"] = plainL / reloadL;
  stateA.counters["reload_records_per_s"] = kReloadRecords / reloadL;
}
BENCHMARK(BM_ReloadDiskTriple)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
