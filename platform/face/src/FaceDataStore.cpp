#include <qrlface/FaceDataStore.h>

#include <qrlcore/Exception.h>

#include "BlobCoding.h"

namespace kxegm {

std::vector<unsigned char> TemplateGraph::data() const {
  if (type == TypeBit || type == TypeByte) return bytes;
  std::vector<unsigned char> outL;
  blob::Writer wL(outL);
  wL.putFloats(values.data(), values.size());
  return outL;
}

template <typename T>
const T& FaceDataStore::get(const std::string& idA, const char* kindA,
                            const char* functionA) const {
  const auto itL = itemsM.find(idA);
  if (itL == itemsM.end() || !std::holds_alternative<T>(itL->second)) {
    KXXCP_THROW(functionA, "Face data store has no " << kindA << " '" << idA << "'.");
  }
  return std::get<T>(itL->second);
}

void FaceDataStore::setImage(const std::string& idA, std::unique_ptr<qrimg::Image> imageA) {
  if (!imageA) {
    KXXCP_THROW("kxegm::FaceDataStore::setImage", "Face data store has no image '" << idA << "'.");
  }
  itemsM[idA] = std::move(imageA);
}

void FaceDataStore::setImage(const std::string& idA, const qrimg::Image& imageA) {
  setImage(idA, std::unique_ptr<qrimg::Image>(imageA.clone()));
}

void FaceDataStore::setGraph(const std::string& idA, FaceGraph graphA) {
  itemsM[idA] = std::move(graphA);
}
void FaceDataStore::setRegion(const std::string& idA, const qrimg::Roi& roiA) {
  itemsM[idA] = roiA;
}
void FaceDataStore::setFeaturePoints(const std::string& idA,
                                     const qrimg::FacialFeaturePoints& pointsA) {
  itemsM[idA] = pointsA;
}
void FaceDataStore::setNumber(const std::string& idA, double valueA) {
  itemsM[idA] = valueA;
}
void FaceDataStore::setFeatureArray(const std::string& idA, std::vector<float> valuesA) {
  itemsM[idA] = std::move(valuesA);
}
void FaceDataStore::setTemplateGraph(const std::string& idA, TemplateGraph graphA) {
  itemsM[idA] = std::move(graphA);
}

const qrimg::Image& FaceDataStore::image(const std::string& idA) const {
  return *get<std::unique_ptr<qrimg::Image>>(idA, "image", "kxegm::FaceDataStore::image");
}

std::unique_ptr<qrimg::Image> FaceDataStore::takeImage(const std::string& idA) {
  get<std::unique_ptr<qrimg::Image>>(idA, "image", "kxegm::FaceDataStore::takeImage");
  auto imageL = std::move(std::get<std::unique_ptr<qrimg::Image>>(itemsM[idA]));
  itemsM.erase(idA);
  return imageL;
}

const FaceGraph& FaceDataStore::graph(const std::string& idA) const {
  return get<FaceGraph>(idA, "graph", "kxegm::FaceDataStore::graph");
}
const qrimg::Roi& FaceDataStore::region(const std::string& idA) const {
  return get<qrimg::Roi>(idA, "region", "kxegm::FaceDataStore::region");
}
const qrimg::FacialFeaturePoints& FaceDataStore::featurePoints(const std::string& idA) const {
  return get<qrimg::FacialFeaturePoints>(idA, "feature points",
                                         "kxegm::FaceDataStore::featurePoints");
}
double FaceDataStore::number(const std::string& idA) const {
  return get<double>(idA, "number", "kxegm::FaceDataStore::number");
}
const std::vector<float>& FaceDataStore::featureArray(const std::string& idA) const {
  return get<std::vector<float>>(idA, "feature array", "kxegm::FaceDataStore::featureArray");
}
const TemplateGraph& FaceDataStore::templateGraph(const std::string& idA) const {
  return get<TemplateGraph>(idA, "template graph", "kxegm::FaceDataStore::templateGraph");
}

std::string FaceDataStore::parameter(const std::string& nameA) const {
  const auto itL = parametersM.find(nameA);
  return itL == parametersM.end() ? std::string() : itL->second;
}

}  // namespace kxegm
