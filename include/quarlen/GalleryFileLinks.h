#pragma once

// The links between the gallery files (MultipassFileIO) and the classes around them, reduced to
// what the gallery files use:
//
// - GalleryMetadataSource: where the gallery files look up an identity's metadata entry when
//   they read their index back. The unique metadata container provides it (its
//   getMetaDataByIdRecordKey).
// - GalleryBlockSink: where reloaded template blocks go. A gallery stage provides it (its add of
//   a block with the identity's metadata and the template's sample id).
// - validationNonBiometricInfo: what the intensive consistency check compares the stored blobs
//   with: the modalities and instances the gallery is meant to hold.
//
// The gallery files never own what these interfaces hand them: metadata entries stay owned by
// their container; a sink copies what it keeps from the block during add (the block is deleted
// afterwards).

#include <vector>

#include <quarlen/IdRecordKey.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/KXuint128.h>
#include <quarlen/Types.h>

namespace qridy {

class TemplateBlockImp;

class GalleryMetadataSource {
 public:
  virtual ~GalleryMetadataSource() = default;
  // The entry of keyA, or null when the identity is not registered. Not owned by the caller.
  virtual IdentityMetadata* getMetaDataByIdRecordKey(const IdRecordKey& keyA) = 0;
};

class GalleryBlockSink {
 public:
  virtual ~GalleryBlockSink() = default;
  // Takes over the gallery part of blockA for the identity metadataA and the sample sampleIdA.
  // blockA stays owned by the caller; metadataA by its container. Throws kxxcp::Exception when
  // the block cannot be taken.
  virtual void add(const TemplateBlockImp* blockA, const IdentityMetadata* metadataA,
                   KXuint128 sampleIdA) = 0;
};

struct validationNonBiometricInfo {
  std::vector<Modality> modalities;
  std::vector<Instance> instances;
};

}  // namespace qridy
