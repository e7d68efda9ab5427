#pragma once

// Filled-in sample descriptors for descriptor, generator and CLI tests, and their stream bytes.

#include <quarlen/BioDescriptor.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/FingerprintDescriptor.h>
#include <quarlen/IrisDescriptor.h>

#include <memory>
#include <string>

namespace quarlen_test {

// The header fields every factory sets: instance, sample id, identity key, quality, age class.
void fillHeader(qrbase::BioDescriptor& descriptorA, qridy::Instance instanceA);

// A small grey or colour test image with a pattern derived from seedA.
std::unique_ptr<qrimg::Image> patternImage(int widthA, int heightA, bool colourA, int seedA);

// A face descriptor holding every streamed item (texture, derotated and feature-extraction
// images, three graphs, a quality result, feature points, derotated feature points, a region)
// and some memory-only ones.
std::unique_ptr<qrbase::FaceDescriptor> fullFaceDescriptor();

// A fingerprint descriptor with input and working image and capture facts.
std::unique_ptr<qrbase::FingerprintDescriptor> fullFingerprintDescriptor();

// A descriptor's stream bytes.
std::string descriptorBytes(const qrbase::BioDescriptor& descriptorA, bool withInputImageA = true);

}  // namespace quarlen_test
