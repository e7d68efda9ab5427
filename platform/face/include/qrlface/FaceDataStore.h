#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <qrlface/FaceExport.h>
#include <qrlface/FaceGraph.h>
#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Image.h>
#include <qrlimage/Roi.h>

namespace kxegm {

// A face template as the template commands leave it: feature values per graph node, frequency
// and orientation (node-major, then frequency, then orientation), in one of four forms.
struct QRLFACE_EXPORT TemplateGraph {
  enum Type : std::uint32_t {
    TypeFloat = 1,  // centred per node, unit length over the whole template (float values)
    TypeBit = 2,    // the signs of the TypeFloat values, one bit each, most significant first
    TypeRaw = 3,    // the Gabor magnitudes, unit length per node (float values)
    TypeByte = 4,   // the TypeFloat values quantised with ByteMinimalGraph (bytes)
  };
  Type type = TypeFloat;
  std::uint32_t nodes = 0;
  std::uint32_t frequencies = 0;
  std::uint32_t orientations = 0;
  std::vector<float> values;         // TypeFloat, TypeRaw
  std::vector<unsigned char> bytes;  // TypeBit, TypeByte

  std::size_t featureCount() const { return std::size_t{nodes} * frequencies * orientations; }
  // The template's bytes: floats little-endian, or the bytes as they are.
  std::vector<unsigned char> data() const;
};

// The named data of the face command interpreter: images, graphs, regions, feature points,
// numbers, feature arrays and template graphs, each registered under an identifier (one
// identifier names one item of one kind; registering replaces whatever the identifier named),
// and the external parameters (named texts) that commands read.
//
// Lookups of a missing identifier, or of one holding another kind, throw kxxcp::Exception
// (function "kxegm::FaceDataStore::<kind>") "Face data store has no <kind> '<id>'." with kind
// one of image, graph, region, feature points, number, feature array, template graph.
class QRLFACE_EXPORT FaceDataStore {
 public:
  void setImage(const std::string& idA, std::unique_ptr<qrimg::Image> imageA);
  // A copy of imageA.
  void setImage(const std::string& idA, const qrimg::Image& imageA);
  void setGraph(const std::string& idA, FaceGraph graphA);
  void setRegion(const std::string& idA, const qrimg::Roi& roiA);
  void setFeaturePoints(const std::string& idA, const qrimg::FacialFeaturePoints& pointsA);
  void setNumber(const std::string& idA, double valueA);
  void setFeatureArray(const std::string& idA, std::vector<float> valuesA);
  void setTemplateGraph(const std::string& idA, TemplateGraph graphA);

  const qrimg::Image& image(const std::string& idA) const;
  // Hands the image over to the caller and removes it.
  std::unique_ptr<qrimg::Image> takeImage(const std::string& idA);
  const FaceGraph& graph(const std::string& idA) const;
  const qrimg::Roi& region(const std::string& idA) const;
  const qrimg::FacialFeaturePoints& featurePoints(const std::string& idA) const;
  double number(const std::string& idA) const;
  const std::vector<float>& featureArray(const std::string& idA) const;
  const TemplateGraph& templateGraph(const std::string& idA) const;

  bool contains(const std::string& idA) const { return itemsM.count(idA) != 0; }
  // Removes whatever the identifier names; nothing happens for an unknown identifier.
  void remove(const std::string& idA) { itemsM.erase(idA); }
  std::size_t size() const { return itemsM.size(); }
  void clear() { itemsM.clear(); }

  // External parameters: a later value replaces an earlier one.
  void setParameter(const std::string& nameA, const std::string& valueA) {
    parametersM[nameA] = valueA;
  }
  bool hasParameter(const std::string& nameA) const { return parametersM.count(nameA) != 0; }
  // "" for an unset parameter.
  std::string parameter(const std::string& nameA) const;

 private:
  using Item = std::variant<std::unique_ptr<qrimg::Image>, FaceGraph, qrimg::Roi,
                            qrimg::FacialFeaturePoints, double, std::vector<float>, TemplateGraph>;
  template <typename T>
  const T& get(const std::string& idA, const char* kindA, const char* functionA) const;

  std::map<std::string, Item> itemsM;
  std::map<std::string, std::string> parametersM;
};

}  // namespace kxegm
