#pragma once

#include <cstddef>
#include <vector>

#include <quarlen/BioDescriptor.h>
#include <quarlen/EyeDescriptor.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/FingerprintDescriptor.h>
#include <quarlen/IrisDescriptor.h>
#include <quarlen/QuarlenExport.h>

namespace qrbase {

// The descriptors a locator found, in the order it found them. The list owns them.
//
// The accessors return the descriptor at a position, checked to be of the asked kind (a face
// descriptor is also an eye descriptor). An index not below size() throws
// "\nstd::exc caught: " followed by the out-of-range text; a descriptor of another kind throws
// "dynamic cast failed, descriptorList with index <i>is not a FaceDescriptor" (EyeDescriptor,
// FingerprintDescriptor, IrisDescriptor respectively).
class QUARLEN_EXPORT BioDescriptorList {
 public:
  BioDescriptorList() = default;
  BioDescriptorList(const BioDescriptorList&) = delete;
  BioDescriptorList& operator=(const BioDescriptorList&) = delete;
  ~BioDescriptorList();

  // Takes ownership; a null pointer is ignored.
  void add(BioDescriptor* descriptorA);
  std::size_t size() const { return descriptorsM.size(); }
  // Deletes every descriptor and empties the list.
  void clear();

  BioDescriptor* getBioDescriptor(std::size_t indexA) const;
  EyeDescriptor* getEyeDescriptor(std::size_t indexA) const;
  FaceDescriptor* getFaceDescriptor(std::size_t indexA) const;
  FingerprintDescriptor* getFingerprintDescriptor(std::size_t indexA) const;
  IrisDescriptor* getIrisDescriptor(std::size_t indexA) const;

 private:
  template <typename D>
  D* getAs(std::size_t indexA, const char* kindA, const char* functionA) const;

  std::vector<BioDescriptor*> descriptorsM;
};

}  // namespace qrbase
