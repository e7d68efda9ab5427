#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateGenerator_Base.h>
#include <quarlen/Types.h>

namespace kxegm {
class FaceCommandParser;
class FaceDataStore;
}  // namespace kxegm

namespace qridy {
class IdRecordImp;
}

namespace qrbase {

class FaceDescriptor;

// Settings of face template creation that setParameter and getParameter reach: each is an
// external parameter of the face command interpreter.
enum FaceTemplateCreationParameter : std::uint32_t {
  FaceParameterShapeScaleFactor = 1,  // "AFIG_shapeScaleFactor"
};

// Turns a located face (a FaceDescriptor) into one template block per face algorithm and files
// them into an identity record. Feature extraction runs in the face library: through its command
// interpreter (the command file named by the configuration) for the landmark-based algorithms,
// and through its template creator for STA, VFA and LFA.
//
// Algorithms this generator makes: hgm (1), fHgm (4), sta (5), vfa (6), lfa (7), lfaLowRes (8),
// hgmRaw (10), hgmFloat (11), hgmByte (12), vfa2 (13), cca (14), fHgmRaw (15), vfa3 (17); fmf
// (2) is accepted and makes no block. Others fail in init with "Algorithm '<text>' is not
// supported by the face library.".
//
// Configuration (section TEMPLATE_GENERATION): the command file under "XmlFile" (mode 1),
// "XmlFile_fast" (mode 2) or "XmlFile_3dIlm" (mode 4); "lfaUsesIlmEyepos" (bool);
// "defaultFaceAlgorithms" (comma-separated algorithm texts) when init gets no algorithm list.
//
// Not safe for concurrent createFaceTemplate calls (the data store's identifiers are shared).
class QUARLEN_EXPORT TemplateGenerator : public TemplateGenerator_Base {
 public:
  TemplateGenerator();
  ~TemplateGenerator() override;
  TemplateGenerator(const TemplateGenerator&) = delete;
  TemplateGenerator& operator=(const TemplateGenerator&) = delete;

  // textA and textB play no part. Failures leave as "Failed to initialize Template
  // Generation." followed by "\nkxxcp caught: " and the caught message ("\nstd::exc caught: ",
  // "\nint exc caught: ", "\nunknown exc caught."); modes 3 and unknown modes are refused with
  // their own messages inside that text.
  void init(const char* textA, const char* textB, unsigned long long threadsA,
            TemplateCreationMode modeA, const qridy::Algorithm* algorithmsA, unsigned countA,
            float shapeScaleA);

  // Makes the blocks of requestedA (all of the generator's algorithms when empty) and files
  // them into targetA. Nothing is filed when anything fails. Throws "Error face template
  // creation. Algorithms <list> not initialized." when requestedA names algorithms the
  // generator does not make, "TG::createFaceTemplate: invalid face descriptor" for an invalid
  // descriptor, "Failed to create <X> Template: kxxcp caught: <message>" when an engine-based
  // algorithm fails, and what the command interpreter throws.
  void createFaceTemplate(FaceDescriptor& descriptorA, qridy::IdRecordImp& targetA,
                          const AlgorithmMap& requestedA);

  void setParameter(FaceTemplateCreationParameter parameterA, const std::string& valueA);
  void enableSireIlmImageCreation(bool enableA) { sireIlmImageCreationM = enableA; }
  bool sireIlmImageCreation() const { return sireIlmImageCreationM; }
  bool lfaUsesIlmEyepos() const { return lfaUsesIlmEyeposM; }
  bool threeDimensionalMode() const { return threeDimensionalM; }
  // Null until init made the command interpreter (only maps with a landmark-based algorithm
  // need it).
  const kxegm::FaceDataStore* dataStore() const;

  // The face metadata multiplier of the shape scale: AFIG_shapeScaleFactor = scale * this.
  static constexpr float kShapeScaleUnit = 6.352375f;

 protected:
  std::string getParameter(FaceTemplateCreationParameter parameterA) const;

 private:
  bool needsLandmarks(const AlgorithmMap& mapA) const;
  void prepareLandmarks(FaceDescriptor& descriptorA);
  void extractFeatures(FaceDescriptor& descriptorA, const AlgorithmMap& mapA);

  std::unique_ptr<kxegm::FaceCommandParser> parserM;
  bool lfaUsesIlmEyeposM = false;
  bool threeDimensionalM = false;
  bool sireIlmImageCreationM = false;
  std::map<std::string, std::string> pendingParametersM;
};

}  // namespace qrbase
