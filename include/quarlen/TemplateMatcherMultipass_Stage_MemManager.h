#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateMatcherMultipass_Stage.h>

namespace kxegm {
class IrisMatchEngine;
}

namespace qrbase {

// The memory-backed stage: the gallery part of every entry lives in a fixed-size slot of large
// 16-byte-aligned memory arrays, so matching walks contiguous memory and enrolment never moves
// data in use.
//
// Slot size (dataSize, fixed per stage, a multiple of 16): 4096 bytes for sta; for l2f and l2m
// the finger library's template size (FingerprintGallerySupport), else the first template's
// gallery size rounded up to 16.
//
// Memory: arrays of maxMemoryChunkSize / slot size slots (section "TEMPLATE_MATCHING_MULTIPASS",
// key "maxMemoryChunkSize"; 16 MiB when absent, at least one slot per array), taken without
// being written: a slot's pages are touched when the slot is first filled, so the unused tail
// of the last array costs address space, not memory. Entry i always
// uses slot i: slot i lies in array i / capacity at offset (i % capacity) x slot size. Removal
// keeps the entries dense by moving the last entry (its slot bytes, metadata and sample id) into
// the hole, and releases the last array once the others hold every entry (one per call).
//
// mvxIris2PiSdk stages keep the iris codes untransformed (the form the iris matcher compares):
// add untransforms the block's gallery part with the iris library's engine.
//
// Threads and errors as the base class.
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_MemManager
    : public TemplateMatcherMultipass_Stage {
 public:
  struct MemoryArray {
    unsigned char* data = nullptr;  // 16-byte aligned, owned
    std::uint32_t capacity = 0;     // in slots
  };

  // Reads maxMemoryChunkSize; creates and initialises the iris engine for mvxIris2PiSdk.
  TemplateMatcherMultipass_Stage_MemManager(qridy::Modality modalityA, qridy::Instance instanceA,
                                            qridy::Algorithm algorithmA,
                                            unsigned int maxNumberOfTemplatesA);
  ~TemplateMatcherMultipass_Stage_MemManager() override;

  // Nothing to do: memory is taken on the first add.
  void init(const char* parameterA, const unsigned& valueA) override;
  // Copies blockA's gallery part into the next slot. Throws (the stage is then unchanged):
  //   "add - invalid input parameter(s)" (null block or metadata);
  //   "Iris stage memory manager without the engine..." (mvxIris2PiSdk without its engine);
  //   "template has no gallery data ( <algorithm> )";
  //   "Symmetric flag inconsistent for <algorithm>:\t\"<flag>\" (expected:<flag>).";
  //   "The data size of your template is too large. (exp, current) = (<slot>, <size>)";
  //   "Cannot add to gallery, because number of reserved templates reached.";
  // and wraps any other failure as "Catched kxxcp::Exception: ( <message> )" or "Catched
  // unknown exception ( <algorithm> )".
  void add(const qridy::TemplateBlockImp* blockA, const qridy::IdentityMetadata* metadataA,
           KXuint128 sampleIdA) override;
  // The add of a block given by its stored parts: sizeA bytes of gallery data at dataA of a
  // block of algorithmA with symmetric flag symmetricA (the bytes stay the caller's and are
  // copied into the next slot). Same rules, conversions and messages as add(block, ...), which
  // calls it, except the null block warning; a null metadataA is "add - invalid input
  // parameter(s)". Lets a reload put the gallery bytes of the files straight into the slots.
  void addGalleryData(qridy::Algorithm algorithmA, const unsigned char* dataA, unsigned int sizeA,
                      bool symmetricA, const qridy::IdentityMetadata* metadataA,
                      KXuint128 sampleIdA);
  // Between setStreamingAdds(true) and setStreamingAdds(false) adds write the slots with
  // non-temporal stores where the platform has them: a reload of many templates then neither
  // reads every slot line before writing it nor evicts the caches. Such stores are weakly
  // ordered; switching back orders them before anything the thread does next, so the stage
  // must not be handed to readers on other threads before that.
  void setStreamingAdds(bool streamingA);
  // Frees every array; slot size and symmetric flag stay.
  void clear() override;
  // Removes every entry but keeps the arrays for the next adds (a stage refilled again and again,
  // such as a probe slot's reload stage, then takes no fresh memory each time).
  void empty();
  void destroyByIndices(const std::vector<GalleryEntry*>& entriesA) override;

  const std::vector<MemoryArray>& memoryArrays() const { return memoryArrayVecM; }
  std::uint32_t maxMemoryChunkSize() const { return maxMemoryChunkSizeM; }
  // Bytes held for the entries: the entry and index vectors' capacity and the arrays, of the
  // last array only the pages (4 KiB) up to the furthest slot filled so far (its other slots
  // have never been written and take no memory).
  std::size_t memoryInUse() const;
  // The iris engine of an mvxIris2PiSdk stage (null otherwise), to bring stored codes back to
  // their record form.
  const kxegm::IrisMatchEngine* irisEngine() const { return irisEngineM.get(); }

 protected:
  bool removalMovesLastEntry() const override { return true; }
  // The raw add of sizeA bytes (at most the slot size) of already converted gallery data.
  virtual void add(const unsigned char* dataA, unsigned int sizeA,
                   const qridy::IdentityMetadata* metadataA, KXuint128 sampleIdA);
  // Zeroes slot indexA and copies sizeA bytes of dataA into it (taking a new array when indexA
  // is the first slot past the existing arrays); returns the slot. Throws "Passed in dataSize
  // greater than maximum dataSize.", "Faild to alloc the requested memory." or "Bad Alloc .
  // Reserved size : <bytes>".
  unsigned char* addToMemarray(const unsigned char* dataA, unsigned int indexA, unsigned int sizeA);
  // Allocates countA slots of sizeA bytes into arrayA; false when the memory cannot be had.
  bool tryAlloc(unsigned int countA, unsigned int sizeA, MemoryArray& arrayA);

 private:
  void releaseArrays();

  std::vector<MemoryArray> memoryArrayVecM;
  std::uint32_t maxMemoryChunkSizeM = 0;
  std::uint32_t lastArrayFilledM = 0;  // slots of the last array written at least once
  bool streamingM = false;
  std::unique_ptr<kxegm::IrisMatchEngine> irisEngineM;
  std::vector<unsigned char> irisBufferM;
};

}  // namespace qrbase
