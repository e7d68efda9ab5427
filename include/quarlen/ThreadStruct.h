#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/ResultParameter.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/Types.h>

namespace qridy {
class StageMatchEngine_Base;
}

namespace qrbase {

// The time and volume one pass spent on the probes of a slot (one record per stage, plus one for
// query filtering and one "Overall").
struct PerformanceRecord {
  std::string modality, instance, algorithm;  // texts
  unsigned int threads = 0;
  unsigned long long probeCount = 0;
  unsigned long long sumGallerySize = 0;
  unsigned long long sumBundleCount = 0;
  unsigned long long sumReloadSize = 0;
  double sumReloadTime = 0.0;
  double sumIdentifyTime = 0.0;
  double sumNormalizationTime = 0.0;
  double sumOverheadTime = 0.0;
  double sumStageTime = 0.0;
};

// Everything one probe slot of the matcher owns: its index, its score-mapping parameters, its
// match engines (per algorithm one per worker thread) and its performance records. One per
// parallel probe, owned by the matcher; only the identification running on the slot uses it.
struct QUARLEN_EXPORT ThreadStruct {
  ThreadStruct() = default;
  explicit ThreadStruct(unsigned int threadIndexA) : threadIndex(threadIndexA) {}
  ~ThreadStruct();
  ThreadStruct(const ThreadStruct&) = delete;
  ThreadStruct& operator=(const ThreadStruct&) = delete;
  ThreadStruct(ThreadStruct&&) = default;
  ThreadStruct& operator=(ThreadStruct&&) = default;

  unsigned int threadIndex = 0;
  qridy::ResultParameter resultParameter;
  // Owned: deleted with the slot.
  std::map<qridy::Algorithm, std::vector<qridy::StageMatchEngine_Base*>> sharedMatchEngines;
  // One record per stage of the pipeline, in configuration order (sized by the pipeline), and
  // the record of the query-filtering step.
  std::vector<PerformanceRecord> stagePerformance;
  PerformanceRecord queryFilteringPerformance;
  // The name the slot's performance file carries ("" until setPerflogFilename).
  std::string performanceLogName;
  // Per stage of the pipeline whether it ran for the current probe (a stage without a probe
  // block or with resultLengthMax 0 does not).
  std::vector<char> stagesRun;
  // The miss-analysis elements the passes of the current probe wrote.
  std::string missAnalysis;
};

// A disk triple's stage in one probe slot, filled from the gallery files for one identification
// and emptied afterwards.
struct ReloadStagesStruct {
  std::unique_ptr<TemplateMatcherMultipass_Stage_MemManager> stage;
  bool loaded = false;
};

// The gallery container's state of one probe slot: one reload stage per disk triple. Only the
// identification running on the slot touches it.
struct ContainerThreadStruct {
  std::map<qridy::BioMetricTriple, ReloadStagesStruct> reloadStages;
};

}  // namespace qrbase
