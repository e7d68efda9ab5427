#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <quarlen/QuarlenExport.h>

namespace qrbase {

// Which parts of a template block a generator builds.
enum TemplateCreationType : std::uint32_t {
  TemplateCreationTypeGallery = 1,
  TemplateCreationTypeProbe = 2,
  TemplateCreationTypeGalleryAndProbe = 3,
};

}  // namespace qrbase

namespace qridy {

// The enums of the data model. In memory they are 32-bit values; the binary formats store the
// low 16 bits, so every value fits into 16 bits.
enum Modality : std::uint32_t {
  ModalityUnknown = 0,
  ModalityFace = 1,
  ModalityFingerprint = 2,
  ModalityIris = 3,
  ModalityAny = 65535,  // wildcard of record queries; has no written text form
};

enum Instance : std::uint32_t {
  InstanceUnknown = 0,
  InstanceFaceFrontal = 11,
  InstanceFingerUnknown = 100,
  InstanceFingerRightThumb = 101,
  InstanceFingerRightIndex = 102,
  InstanceFingerRightMiddle = 103,
  InstanceFingerRightRing = 104,
  InstanceFingerRightLittle = 105,
  InstanceFingerLeftThumb = 106,
  InstanceFingerLeftIndex = 107,
  InstanceFingerLeftMiddle = 108,
  InstanceFingerLeftRing = 109,
  InstanceFingerLeftLittle = 110,
  InstanceIrisLeft = 200,
  InstanceIrisRight = 201,
  InstanceAny = 65535,  // wildcard of record queries; has no text form
};

// 1 to 25 face, 150 to 157 fingerprint, 200 and 201 iris algorithms. 255 is the unknown
// algorithm: what text2Algorithm answers for an unrecognised text, and what a block carries
// before its algorithm has been read.
enum Algorithm : std::uint32_t {
  AlgNone = 0,
  AlgHgm = 1,
  AlgFmf = 2,
  AlgDicar = 3,
  AlgFHgm = 4,
  AlgSta = 5,
  AlgVfa = 6,
  AlgLfa = 7,
  AlgLfaLowRes = 8,
  AlgLfaIlmSb = 9,
  AlgHgmRaw = 10,
  AlgHgmFloat = 11,
  AlgHgmByte = 12,
  AlgVfa2 = 13,
  AlgCca = 14,
  AlgFHgmRaw = 15,
  AlgHgmPyr = 16,
  AlgVfa3 = 17,
  AlgHgmPyrRaw = 18,
  AlgHgmPyrByte = 19,
  AlgHgmPyrFloat = 20,
  AlgHgmPyrBit = 21,
  AlgL3Jim = 22,
  AlgL1Jim = 23,
  AlgL2Jim = 24,
  AlgHgmPyrBitSmwSb = 25,
  AlgBioengineSdk = 101,
  AlgL1b = 150,
  AlgL2f = 151,
  AlgL2m = 152,
  AlgL1v = 153,
  AlgL2v = 154,
  AlgL2f360 = 155,
  AlgFva = 156,
  AlgL2fi = 157,
  AlgMvxIris2PiSdk = 200,
  AlgDaugman2010 = 201,
  AlgUnknown = 255,
};

// Impression type of a fingerprint sample; latentImpression (4) is also the default.
enum FingerImpressionType : std::uint32_t {
  ImpressionLivePlain = 0,
  ImpressionLiveRolled = 1,
  ImpressionNonlivePlain = 2,
  ImpressionNonliveRolled = 3,
  ImpressionLatentImpression = 4,
  ImpressionLatentTracing = 5,
  ImpressionLatentPhoto = 6,
  ImpressionLatentLift = 7,
  ImpressionSwipe = 8,
};

// Names one kind of template block within an identity record: the key of stages, engines and
// storage.
struct QUARLEN_EXPORT BioMetricTriple {
  Modality modality = ModalityUnknown;
  Instance instance = InstanceUnknown;
  Algorithm algorithm = AlgNone;

  // ((instance << 16) + modality) << 32, plus the algorithm.
  std::uint64_t hashKey() const {
    return ((static_cast<std::uint64_t>(instance) << 16) + modality) << 32 | algorithm;
  }
  bool operator==(const BioMetricTriple& o) const {
    return modality == o.modality && instance == o.instance && algorithm == o.algorithm;
  }
  bool operator!=(const BioMetricTriple& o) const { return !(*this == o); }
  bool operator<(const BioMetricTriple& o) const { return hashKey() < o.hashKey(); }
};

// Conversions between the enums of the data model and their fixed text forms. Text forms are
// external vocabulary (configuration files, dumps, messages) and are exact, case included.
// None of the conversions throws: unknown values give "unknown", unknown texts give 0 for
// modality and instance, 255 for the algorithm and 4 for the impression type.
class QUARLEN_EXPORT Types {
 public:
  Types() = default;
  Types(const Types&) = default;
  Types& operator=(const Types&) { return *this; }  // stateless: assignment does nothing

  static std::string algorithm2Text(Algorithm algorithmA);
  static std::string modality2Text(Modality modalityA);
  static std::string instance2Text(Instance instanceA);
  static std::string fingerImpressionType2Text(FingerImpressionType typeA);
  // "(" modality "/" instance "/" algorithm ")", without blanks.
  static std::string bioTriple2Text(const BioMetricTriple& tripleA);

  // The written form of fHgm (4) and fHgmRaw (15) has a capital H, the read form does not: a
  // written "fHgm" reads back as 255. Kept for compatibility with stored configurations.
  static Algorithm text2Algorithm(const char* textA);
  static Modality text2Modality(const char* textA);
  static Instance text2Instance(const char* textA);
  static FingerImpressionType text2FingerImpressionType(const char* textA);

  // One entry per listed algorithm, each mapped to typeA. Throws "Invalid input argument." for
  // a null list or a count of 0.
  static std::map<Algorithm, qrbase::TemplateCreationType> algorithmVector2Map(
      const Algorithm* algorithmsA, unsigned int countA, qrbase::TemplateCreationType typeA);
  // The keys of algorithmsA, every value replaced by typeA.
  static std::map<Algorithm, qrbase::TemplateCreationType> createDefaultAlgorithmMap(
      const std::map<Algorithm, qrbase::TemplateCreationType>& algorithmsA,
      qrbase::TemplateCreationType typeA);
};

}  // namespace qridy

namespace qrbase {

class QUARLEN_EXPORT Types {
 public:
  // "TemplateCreationTypeGallery", "TemplateCreationTypeProbe",
  // "TemplateCreationTypeGalleryAndProbe"; any other value gives "unknown".
  static std::string templateCreationType2Text(TemplateCreationType typeA);
};

}  // namespace qrbase
