#pragma once

// The stored form of a template block read in place, for readers that only need its gallery
// part (the reload of gallery files into stage slots): no block object, no copy.

#include <cstdint>

#include <quarlen/Types.h>

#include "common/Coding.h"

namespace qridy {

// What a block record holds for a gallery: its algorithm, symmetric flag and gallery bytes
// (pointing into the record's bytes; null when the part is empty).
struct TemplateBlockView {
  Algorithm algorithm = AlgUnknown;
  bool symmetric = false;
  const unsigned char* gallery = nullptr;
  std::uint32_t gallerySize = 0;
};

// Reads one template block record (the form TemplateBlock_Common::write and writeGalleryTB
// produce) at curA's position and advances curA past it. Every length is checked against the
// bytes left; the gallery, meta data and probe parts must match their checksums. Returns false
// for anything else (cut, wrong magic or version, checksum mismatch), leaving curA anywhere:
// the caller then reads the record through TemplateBlock_Common::read, which names the fault
// with its message. A record accepted here gives the same algorithm, flag and gallery bytes as
// that read.
bool viewTemplateBlockRecord(coding::Cursor& curA, TemplateBlockView& viewA);

}  // namespace qridy
