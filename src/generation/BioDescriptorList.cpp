#include <quarlen/BioDescriptorList.h>

#include <stdexcept>
#include <string>

#include <qrlcore/Exception.h>

namespace qrbase {

BioDescriptorList::~BioDescriptorList() {
  clear();
}

void BioDescriptorList::add(BioDescriptor* descriptorA) {
  if (descriptorA != nullptr) descriptorsM.push_back(descriptorA);
}

void BioDescriptorList::clear() {
  for (BioDescriptor* d : descriptorsM) delete d;
  descriptorsM.clear();
}

template <typename D>
D* BioDescriptorList::getAs(std::size_t indexA, const char* kindA, const char* functionA) const {
  BioDescriptor* descriptorL = nullptr;
  try {
    descriptorL = descriptorsM.at(indexA);
  } catch (const std::out_of_range& e) {
    KXXCP_THROW(functionA, "\nstd::exc caught: " << e.what());
  }
  D* castL = dynamic_cast<D*>(descriptorL);
  if (castL == nullptr) {
    KXXCP_THROW(functionA, "dynamic cast failed, descriptorList with index "
                               << indexA << "is not a " << kindA);
  }
  return castL;
}

BioDescriptor* BioDescriptorList::getBioDescriptor(std::size_t indexA) const {
  return getAs<BioDescriptor>(indexA, "BioDescriptor",
                              "qrbase::BioDescriptorList::getBioDescriptor");
}

EyeDescriptor* BioDescriptorList::getEyeDescriptor(std::size_t indexA) const {
  return getAs<EyeDescriptor>(indexA, "EyeDescriptor",
                              "qrbase::BioDescriptorList::getEyeDescriptor");
}

FaceDescriptor* BioDescriptorList::getFaceDescriptor(std::size_t indexA) const {
  return getAs<FaceDescriptor>(indexA, "FaceDescriptor",
                               "qrbase::BioDescriptorList::getFaceDescriptor");
}

FingerprintDescriptor* BioDescriptorList::getFingerprintDescriptor(std::size_t indexA) const {
  return getAs<FingerprintDescriptor>(indexA, "FingerprintDescriptor",
                                      "qrbase::BioDescriptorList::getFingerprintDescriptor");
}

IrisDescriptor* BioDescriptorList::getIrisDescriptor(std::size_t indexA) const {
  return getAs<IrisDescriptor>(indexA, "IrisDescriptor",
                               "qrbase::BioDescriptorList::getIrisDescriptor");
}

}  // namespace qrbase
