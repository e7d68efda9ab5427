#pragma once

// The fingerprint engine of the finger library: identification runs and verification on l2m
// templates, the L2F support (trimming l2f templates, deriving them from l2m templates), the
// quality of a template, and conversion of l2f templates into the normalised form the
// FingerL2Fi engine compares. Template formats: qrlfinger/MinutiaeTemplate.h; the comparison:
// qrlfinger/MinutiaeMatcher.h.
//
// Unlike their historical forms, the operations that read template bytes take the number of
// bytes available and never read beyond it. An engine object is not thread-safe.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qrlfinger/FingerExport.h>
#include <qrlfinger/MinutiaeMatcher.h>
#include <qrlfinger/MinutiaeTemplate.h>

namespace kxutl {
class IniFile;
}

namespace qrfpt {

// The output of trimL2FTemplate: the trimmed template's bytes.
class QRLFINGER_EXPORT L2FTrimResult {
 public:
  const std::uint8_t* featurePtr() const { return bytesM.empty() ? nullptr : bytesM.data(); }
  unsigned int featureSize() const { return static_cast<unsigned int>(bytesM.size()); }
  std::vector<std::uint8_t>& bytes() { return bytesM; }

 private:
  std::vector<std::uint8_t> bytesM;
};

class QRLFINGER_EXPORT MvxFinger {
 public:
  // Reads section "FingerMatching" of iniA: "angleTolerance" (degrees, default 40),
  // "maxDisplacement" (pixels, default 0 = unlimited), "angleConfidenceThreshold" (default 50).
  explicit MvxFinger(const kxutl::IniFile& iniA);
  virtual ~MvxFinger();
  MvxFinger(const MvxFinger&) = delete;
  MvxFinger& operator=(const MvxFinger&) = delete;

  // Settings of the next identification runs. 0 keeps the configured value of that setting.
  // An angle tolerance of 180 or more searches every rotation; with a confidence threshold set,
  // the finger orientations of two templates centre the search when both are that confident.
  void setMatchParameters(int angleToleranceA, int maxDisplacementA, int confidenceThresholdA);
  const MatchSettings& matchSettings() const { return settingsM; }

  // Starts an identification run with an l2m (or l2f) probe. Returns a FingerStatus; on failure
  // the run has no probe and identifyNext answers 0.
  int identifyStart(const std::uint8_t* probeA, std::size_t sizeA);
  // The similarity (0 .. 1) of the run's probe and one gallery template; 0 for a gallery
  // template that does not read and without a run.
  float identifyNext(const std::uint8_t* galleryA, std::size_t sizeA);
  // Number of identifyStart calls that succeeded (for tests of lazy starting).
  unsigned int runsStarted() const { return runsStartedM; }

  // identifyStart + identifyNext for one pair, outside any run (the run stays as it was).
  float verify(const std::uint8_t* probeA, std::size_t probeSizeA, const std::uint8_t* galleryA,
               std::size_t gallerySizeA);

  // Quality 0..100, minutia count and impression type stored in an l2m template. Returns a
  // FingerStatus; outputs change only on success.
  static int getQualityFromL2MTemplate(const std::uint8_t* dataA, std::size_t sizeA,
                                       float& qualityA, std::uint16_t& countA,
                                       unsigned int& impressionTypeA);

  // Enables the L2F operations below.
  void initL2f();
  bool l2fInitialised() const { return l2fM; }
  // Trims an l2f template to at most maxCountA minutiae. selectionA: 0 keeps the first ones in
  // stored order; 1 keeps the best quality ones; 2 and more also prefers, among equal quality,
  // minutiae nearer the centre of the template (their neighbourhoods are least likely cut off
  // in another impression). keepOrderA keeps the kept minutiae in stored order; otherwise they
  // come best first. The header's quality is recomputed. Returns a FingerStatus.
  int trimL2FTemplate(const std::uint8_t* dataA, std::size_t sizeA, L2FTrimResult& resultA,
                      unsigned short maxCountA, unsigned int selectionA, bool keepOrderA);
  // The l2f template of an l2m template: the best maxCountA minutiae (selection 2). Returns a
  // FingerStatus.
  int deriveL2FFromL2M(const std::uint8_t* dataA, std::size_t sizeA, L2FTrimResult& resultA,
                       unsigned short maxCountA);

  // Converts an l2f template into the compared form: settingA 0 keeps it as stored; 1 and more
  // moves its minutiae to their centre; 2 and more also turns it upright by its finger
  // orientation when that is at least the confidence threshold confident. Returns a
  // FingerStatus; templateA is left empty on failure.
  int convertL2FTemplateToBE5(const std::uint8_t* dataA, std::size_t sizeA,
                              FingerprintTemplate& templateA, bool isProbeA, int settingA);

 protected:
  MatchSettings settingsM;
  MatchSettings configuredM;
  MinutiaeMatcher runM;
  unsigned int runsStartedM = 0;

 private:
  FingerprintTemplate scratchM;
  bool l2fM = false;
};

// The engine for converted l2f templates: identification runs on FingerprintTemplate objects
// made by convertL2FTemplateToBE5.
class QRLFINGER_EXPORT FingerL2Fi : public MvxFinger {
 public:
  explicit FingerL2Fi(const kxutl::IniFile& iniA);
  using MvxFinger::identifyNext;
  using MvxFinger::identifyStart;
  int identifyStart(const FingerprintTemplate& probeA);
  // 0 without a run.
  float identifyNext(const FingerprintTemplate& galleryA);
};

}  // namespace qrfpt
