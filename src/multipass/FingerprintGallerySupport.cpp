#include "multipass/FingerprintGallerySupport.h"

namespace qrbase {
namespace {

FingerprintGallerySupport* supportS = nullptr;

}  // namespace

FingerprintGallerySupport* fingerprintGallerySupport() {
  return supportS;
}

void setFingerprintGallerySupport(FingerprintGallerySupport* supportA) {
  supportS = supportA;
}

}  // namespace qrbase
