#pragma once

// A record blob of the gallery files (entry count; per entry modality, instance, algorithm as
// 32-bit values, sample id low then high half, template block record) read in place: the
// counterpart of MultipassFileIO::readTemplateBlocksFromFidFileBlock for readers that only need
// the gallery parts, without block objects or copies.

#include <cstddef>
#include <vector>

#include <quarlen/KXuint128.h>
#include <quarlen/Types.h>

#include "records/TemplateBlockView.h"

namespace qridy {

struct RecordBlobEntry {
  BioMetricTriple triple;
  KXuint128 sampleId;
  TemplateBlockView block;  // points into the blob's bytes
};

// Fills entriesA (emptied first) with the blob's entries. Returns false for a blob that the
// stream reader might refuse or read differently (an entry count beyond what sizeA bytes can
// hold, a cut entry, a block that viewTemplateBlockRecord refuses) and for one with an entry of
// algorithm 255 (no block; the stream reader skips it with its diagnostics): the caller then
// reads the blob with readTemplateBlocksFromFidFileBlock, which reads it or throws the message
// of the fault. Never reads outside the sizeA bytes at dataA.
bool viewRecordBlob(const unsigned char* dataA, std::size_t sizeA,
                    std::vector<RecordBlobEntry>& entriesA);

}  // namespace qridy
