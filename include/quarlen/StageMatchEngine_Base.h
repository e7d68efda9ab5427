#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

class TemplateBlockImp;
class AlignedBuffer;  // the library's 64-byte aligned, zero-padded buffer (engines only)

// The comparator of one algorithm: scores one probe template block against gallery template
// blocks. Stages and verification never interpret template bytes themselves; they use an engine
// in this order:
//   1. extractRawData(probeBlock, size, true) once per probe;
//   2. setProbeForIdentification(data, size) once per probe;
//   3. matchGallery(galleryData, gallerySize) any number of times, with gallery bytes from
//      extractRawData(galleryBlock, size, false);
//   4. releaseProbe() when the probe is done.
// verify() runs steps 2 to 4 for one pair. All scores are similarities (larger is more alike);
// each engine documents its range.
//
// Buffers: the probe is copied once into memory aligned to 64 bytes (so at least 16) and zero
// padded to a multiple of 16 bytes, so that kernels read it in whole 16-byte blocks. Gallery data
// is read with unaligned loads up to its size rounded up to 16 (the stages' slots and verify's
// copy are padded so), and need not be aligned.
//
// An engine is not thread-safe: it holds one probe and scratch buffers. Use one engine per
// thread. Engines are plain heap objects owned by whoever created them.
class QUARLEN_EXPORT StageMatchEngine_Base {
 public:
  StageMatchEngine_Base();
  StageMatchEngine_Base(const StageMatchEngine_Base&) = delete;
  StageMatchEngine_Base& operator=(const StageMatchEngine_Base&) = delete;
  // Releases the probe buffer.
  virtual ~StageMatchEngine_Base();

  // Stores the algorithm; engines that own library matchers build them here.
  virtual void init(Algorithm algorithmA);
  // Copies sizeA bytes into a fresh zero-filled aligned buffer of (sizeA + 15) & ~15 bytes and
  // keeps it as the probe, releasing the previous one. Throws kxxcp::Exception (function
  // "qridy::StageMatchEngine_Base::setProbeForIdentification") with the lines
  // "Could not allocate aligned memory for probe ", "algorithm == <text>",
  // "aligned data size == <n>" when the buffer cannot be had; the previous probe then stays.
  virtual void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA);
  // Frees the probe buffer and clears probeIsGalleryData.
  virtual void releaseProbe();
  // A line of template facts for the engines that have them; empty otherwise.
  virtual std::string templateInfoText(const unsigned char* dataA, unsigned int sizeA,
                                       bool isProbeA);
  // The probe part (probePartA) or gallery part of a TemplateBlock_Common, with its size in
  // sizeA (0 when the block lacks that part). Throws kxxcp::Exception (function
  // "qridy::StageMatchEngine_Base::extractRawData") "Bad dynamic cast could not extract template
  // data Incoming Template is : (<algorithm text>))" for any other block.
  virtual const unsigned char* extractRawData(const TemplateBlockImp* blockA, unsigned int& sizeA,
                                              bool probePartA);
  // Per-engine tuning values; they persist across probes. Iris engines also apply keys 4
  // (search mode) and 5 (rotation half-range).
  virtual void setParameter(std::int32_t keyA, std::uint32_t valueA);
  // The stored value, or 0xFFFFFFFF when the key was never set.
  virtual std::uint32_t getParameter(std::int32_t keyA);
  // The similarity of the current probe and one gallery data block of gallerySizeA bytes.
  virtual float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) = 0;
  // How many leading bytes of a gallery data block of gallerySizeA bytes matchGallery reads for
  // most entries: scans ask the memory for that much of the entries ahead of the one they score.
  // The whole block, unless the engine rejects most entries on their first bytes.
  virtual unsigned int galleryBytesRead(unsigned int gallerySizeA) const;
  // Copies the gallery bytes into an aligned zero-padded buffer, sets the probe, scores, releases
  // the probe. Throws like setProbeForIdentification, with
  // "Could not allocate aligned memory for gallery template " as the first line and function
  // "qridy::StageMatchEngine_Base::verify", when the gallery copy cannot be had.
  virtual float verify(const unsigned char* probeDataA, unsigned int probeSizeA,
                       const unsigned char* galleryDataA, unsigned int gallerySizeA);
  // -10000.0 for every engine.
  virtual float minScore();
  // The minutia count of a fingerprint template; 0 for other engines.
  virtual std::uint16_t minutiaCount(const unsigned char* dataA);
  // Set by the caller when the probe template had no probe part and its gallery part serves.
  virtual bool probeIsGalleryData();
  virtual void setProbeIsGalleryData(bool valueA);

  // The engine for an algorithm, initialised; the caller owns it. Codes without an engine throw
  // kxxcp::Exception "Engine was not created, unknown algorithm !" (function
  // "qridy::StageMatchEngine_Base::createStageEngine").
  static StageMatchEngine_Base* createStageEngine(Algorithm algorithmA);

  Algorithm algorithm() const { return algorithmM; }
  const unsigned char* probeData() const { return probeDataM; }
  // The probe buffer length in bytes (a multiple of 16).
  std::uint32_t probeDataSize() const { return probeDataSizeM; }

 protected:
  // A zero-filled aligned buffer of sizeA bytes rounded up to a multiple of 16. When the memory
  // cannot be had or the rounded size does not fit 32 bits, throws kxxcp::Exception (function
  // functionA) with the lines firstLineA, "algorithm == <text>", "aligned data size == <n>".
  AlignedBuffer allocateOrThrow(std::uint64_t sizeA, const char* functionA,
                                const char* firstLineA) const;
  // Takes the buffer as the probe (probeDataM, probeDataSizeM), releasing the previous one.
  void adoptProbe(AlignedBuffer&& bufferA);

  // The probe: probeDataM points into probeBufferM, probeDataSizeM is its padded length.
  std::unique_ptr<AlignedBuffer> probeBufferM;
  unsigned char* probeDataM = nullptr;
  std::uint32_t probeDataSizeM = 0;
  bool probeIsGalleryDataM = false;
  Algorithm algorithmM = AlgUnknown;
  std::map<std::int32_t, std::uint32_t> parametersM;
};

}  // namespace qridy
