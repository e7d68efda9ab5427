#include <quarlen/TemplateKey.h>

#include <sstream>

namespace qridy {

std::string TemplateKey::text() const {
  std::ostringstream osL;
  osL << *this;
  return osL.str();
}

std::ostream& operator<<(std::ostream& osA, const TemplateKey& keyA) {
  return osA << "(" << static_cast<unsigned int>(keyA.modality) << ", "
             << static_cast<unsigned int>(keyA.instance) << ", " << keyA.sampleId.low << ", "
             << keyA.sampleId.high << ")\n";
}

}  // namespace qridy
