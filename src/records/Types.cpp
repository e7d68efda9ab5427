#include <quarlen/Types.h>

#include <cstring>

#include <qrlcore/Exception.h>

namespace qridy {
namespace {

struct AlgorithmText {
  Algorithm value;
  const char* written;
  const char* read;
};

// Written and read forms differ for fHgm and fHgmRaw only (see text2Algorithm).
constexpr AlgorithmText kAlgorithmTexts[] = {
    {AlgHgm, "hgm", "hgm"},
    {AlgFmf, "fmf", "fmf"},
    {AlgDicar, "dicar", "dicar"},
    {AlgFHgm, "fHgm", "fhgm"},
    {AlgSta, "sta", "sta"},
    {AlgVfa, "vfa", "vfa"},
    {AlgLfa, "lfa", "lfa"},
    {AlgLfaLowRes, "lfaLowRes", "lfaLowRes"},
    {AlgLfaIlmSb, "lfaIlmSb", "lfaIlmSb"},
    {AlgHgmRaw, "hgmRaw", "hgmRaw"},
    {AlgHgmFloat, "hgmFloat", "hgmFloat"},
    {AlgHgmByte, "hgmByte", "hgmByte"},
    {AlgVfa2, "vfa2", "vfa2"},
    {AlgCca, "cca", "cca"},
    {AlgFHgmRaw, "fHgmRaw", "fhgmRaw"},
    {AlgHgmPyr, "hgmPyr", "hgmPyr"},
    {AlgVfa3, "vfa3", "vfa3"},
    {AlgHgmPyrRaw, "hgmPyrRaw", "hgmPyrRaw"},
    {AlgHgmPyrByte, "hgmPyrByte", "hgmPyrByte"},
    {AlgHgmPyrFloat, "hgmPyrFloat", "hgmPyrFloat"},
    {AlgHgmPyrBit, "hgmPyrBit", "hgmPyrBit"},
    {AlgL3Jim, "l3Jim", "l3Jim"},
    {AlgL1Jim, "l1Jim", "l1Jim"},
    {AlgL2Jim, "l2Jim", "l2Jim"},
    {AlgHgmPyrBitSmwSb, "hgmPyrBitSmwSb", "hgmPyrBitSmwSb"},
    {AlgBioengineSdk, "bioengineSdk", "bioengineSdk"},
    {AlgL1b, "l1b", "l1b"},
    {AlgL2f, "l2f", "l2f"},
    {AlgL2m, "l2m", "l2m"},
    {AlgL1v, "l1v", "l1v"},
    {AlgL2v, "l2v", "l2v"},
    {AlgL2f360, "l2f360", "l2f360"},
    {AlgFva, "fva", "fva"},
    {AlgL2fi, "l2fi", "l2fi"},
    {AlgMvxIris2PiSdk, "mvxIris2PiSdk", "mvxIris2PiSdk"},
    {AlgDaugman2010, "daugman2010", "daugman2010"},
};

struct InstanceText {
  Instance value;
  const char* text;
};

constexpr InstanceText kFingerTexts[] = {
    {InstanceFingerUnknown, "fingerUnknown"},
    {InstanceFingerRightThumb, "fingerRightThumb"},
    {InstanceFingerRightIndex, "fingerRightIndex"},
    {InstanceFingerRightMiddle, "fingerRightMiddle"},
    {InstanceFingerRightRing, "fingerRightRing"},
    {InstanceFingerRightLittle, "fingerRightLittle"},
    {InstanceFingerLeftThumb, "fingerLeftThumb"},
    {InstanceFingerLeftIndex, "fingerLeftIndex"},
    {InstanceFingerLeftMiddle, "fingerLeftMiddle"},
    {InstanceFingerLeftRing, "fingerLeftRing"},
    {InstanceFingerLeftLittle, "fingerLeftLittle"},
};

constexpr const char* kImpressionTexts[] = {
    "livePlain",     "liveRolled",  "nonlivePlain", "nonliveRolled", "latentImpression",
    "latentTracing", "latentPhoto", "latentLift",   "swipe",
};

bool same(const char* a, const char* b) {
  return a != nullptr && std::strcmp(a, b) == 0;
}

}  // namespace

std::string Types::algorithm2Text(Algorithm algorithmA) {
  std::string textL = "unknown";
  for (const auto& entry : kAlgorithmTexts) {
    if (entry.value == algorithmA) textL = entry.written;
  }
  return textL;
}

std::string Types::modality2Text(Modality modalityA) {
  std::string textL = "unknown";
  switch (modalityA) {
    case ModalityFace:
      textL = "face";
      break;
    case ModalityFingerprint:
      textL = "fingerprint";
      break;
    case ModalityIris:
      textL = "iris";
      break;
    default:
      break;
  }
  return textL;
}

std::string Types::instance2Text(Instance instanceA) {
  std::string textL = "unknown";
  if (instanceA == InstanceFaceFrontal) textL = "faceFrontal";
  if (instanceA == InstanceIrisLeft) textL = "irisLeft";
  if (instanceA == InstanceIrisRight) textL = "irisRight";
  for (const auto& entry : kFingerTexts) {
    if (entry.value == instanceA) textL = entry.text;
  }
  return textL;
}

std::string Types::fingerImpressionType2Text(FingerImpressionType typeA) {
  std::string textL = "unknown";
  if (typeA <= ImpressionSwipe) textL = kImpressionTexts[typeA];
  return textL;
}

std::string Types::bioTriple2Text(const BioMetricTriple& tripleA) {
  return "(" + modality2Text(tripleA.modality) + "/" + instance2Text(tripleA.instance) + "/" +
         algorithm2Text(tripleA.algorithm) + ")";
}

Algorithm Types::text2Algorithm(const char* textA) {
  for (const auto& entry : kAlgorithmTexts) {
    if (same(textA, entry.read)) return entry.value;
  }
  return AlgUnknown;
}

Modality Types::text2Modality(const char* textA) {
  if (same(textA, "face")) return ModalityFace;
  if (same(textA, "fingerprint")) return ModalityFingerprint;
  if (same(textA, "anyModality")) return ModalityAny;
  if (same(textA, "iris")) return ModalityIris;
  return ModalityUnknown;
}

Instance Types::text2Instance(const char* textA) {
  if (textA == nullptr || std::strlen(textA) < 3) return InstanceUnknown;
  if (same(textA, "faceFrontal")) return InstanceFaceFrontal;
  if (same(textA, "irisLeft")) return InstanceIrisLeft;
  if (same(textA, "irisRight")) return InstanceIrisRight;
  if (textA[1] == 'i') {
    for (const auto& entry : kFingerTexts) {
      if (same(textA, entry.text)) return entry.value;
    }
  }
  return InstanceUnknown;
}

FingerImpressionType Types::text2FingerImpressionType(const char* textA) {
  for (std::uint32_t i = 0; i <= ImpressionSwipe; ++i) {
    if (same(textA, kImpressionTexts[i])) return static_cast<FingerImpressionType>(i);
  }
  return ImpressionLatentImpression;
}

std::map<Algorithm, qrbase::TemplateCreationType> Types::algorithmVector2Map(
    const Algorithm* algorithmsA, unsigned int countA, qrbase::TemplateCreationType typeA) {
  if (algorithmsA == nullptr || countA == 0) {
    KXXCP_THROW("qridy::Types::algorithmVector2Map", "Invalid input argument.");
  }
  std::map<Algorithm, qrbase::TemplateCreationType> mapL;
  for (unsigned int i = 0; i < countA; ++i) mapL[algorithmsA[i]] = typeA;
  return mapL;
}

std::map<Algorithm, qrbase::TemplateCreationType> Types::createDefaultAlgorithmMap(
    const std::map<Algorithm, qrbase::TemplateCreationType>& algorithmsA,
    qrbase::TemplateCreationType typeA) {
  std::map<Algorithm, qrbase::TemplateCreationType> mapL;
  for (const auto& entry : algorithmsA) mapL[entry.first] = typeA;
  return mapL;
}

}  // namespace qridy

namespace qrbase {

std::string Types::templateCreationType2Text(TemplateCreationType typeA) {
  switch (typeA) {
    case TemplateCreationTypeGallery:
      return "TemplateCreationTypeGallery";
    case TemplateCreationTypeProbe:
      return "TemplateCreationTypeProbe";
    case TemplateCreationTypeGalleryAndProbe:
      return "TemplateCreationTypeGalleryAndProbe";
  }
  return "unknown";
}

}  // namespace qrbase
