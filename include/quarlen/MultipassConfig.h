#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace kxutl {
class DomXmlParser;
}

namespace qrbase {

// One matching pipeline: the ordered list of its stages ("passes"), each naming a biometric
// triple and how many candidates it keeps, read from a section of a pipeline XML file:
//
//   <anyRoot>
//     <multipass id="facePipeline">
//       <common processing="sequential"/>
//       <stage modality="face" instance="faceFrontal" algorithm="hgm" filterScore="true"
//              globalWeight="1.0" resultLengthMax="300,100" resultLengthMin="100"
//              nThreads="2" resultLengthLocalPercent="100" resultLengthGlobalPercent="100"
//              useNormalization="true" isRequired="true">[Additional]
//   searchMode=1
//       </stage>
//     </multipass>
//   </anyRoot>
//
// Copyable value; not thread-safe for concurrent changes.
class QUARLEN_EXPORT MultipassConfig {
 public:
  // The parameters getData and setData reach.
  enum ParametersToChange {
    ResultLengthMin = 0,
    ResultLengthMax = 1,
    ResultLengthLocalPercent = 2,
    ResultLengthGlobalPercent = 3,
    UseNormalization = 4,
  };

  // How the passes of a pipeline run (attribute processing of <common>).
  enum Processing {
    ProcessingParallel = 0,    // every stage widens its candidate count to ten times its limit
    ProcessingSequential = 1,  // the default
    ProcessingFiltering = 2,   // query filtering
  };

  // One stage. The list attributes keep every value; the scalar beside each list is its first
  // value (the default when the attribute held no number).
  struct QUARLEN_EXPORT Matchmode {
    qridy::Modality modality = qridy::ModalityUnknown;
    qridy::Instance instance = qridy::InstanceUnknown;
    qridy::Algorithm algorithm = qridy::AlgUnknown;
    float globalWeight = 1.0f;  // weight of this stage's score in fusion
    bool useNormalization = true;
    bool isRequired = true;
    std::uint32_t userValue = 0;  // free for the application; never read from the file
    float nThreads = 1.0f;        // a whole number: worker threads for this stage's triple
    std::uint32_t resultLengthMax = 1000;
    std::vector<std::uint32_t> resultLengthMaxList;
    std::uint32_t resultLengthMin = 1000;
    std::vector<std::uint32_t> resultLengthMinList;
    float resultLengthLocalPercent = 100.0f;
    std::vector<float> resultLengthLocalPercentList;
    float resultLengthGlobalPercent = 100.0f;
    std::vector<float> resultLengthGlobalPercentList;
    std::string userText;              // free for the application; never read from the file
    float userThreshold = -100.0f;     // free for the application; never read from the file
    bool filterScore = true;           // this stage's scores filter candidates
    std::string additionalParameters;  // the text content of <stage>: an INI text
  };

  // The result-length limits of one algorithm: the LAST value of each list of the last stage
  // with that algorithm.
  struct ResultLengthLimits {
    std::uint32_t resultLengthMax = 1000;
    std::uint32_t resultLengthMin = 1000;
    float resultLengthLocalPercent = 100.0f;
    float resultLengthGlobalPercent = 100.0f;
  };

  MultipassConfig();
  MultipassConfig(const MultipassConfig& otherA);
  MultipassConfig& operator=(const MultipassConfig& otherA);
  ~MultipassConfig();

  // Reads the section <multipass id="pipelineIdA"> of the XML file fileNameA; a section id that
  // matches no section reads as a pipeline without stages. Throws kxxcp::Exception ("Cannot open
  // multipass config file : <file>", "Missing parameter(s) in tag <stage> (<n>) : <list>",
  // "Missing parameter(s) in tag <common> :<list>", or the parser's error). A failed read keeps
  // the stages read so far and leaves the per-algorithm limits as they were.
  void read(std::string fileNameA, std::string pipelineIdA);
  // The same for the bytes of an XML document held in memory; nameA stands for the file name
  // in messages.
  void readText(const std::string& xmlTextA, std::string pipelineIdA,
                const std::string& nameA = "<memory>");

  unsigned int getNumberOfStages() const;
  // A copy of the first stage with exactly this triple, or a default Matchmode.
  Matchmode getConfig(qridy::Modality modalityA, qridy::Instance instanceA,
                      qridy::Algorithm algorithmA) const;
  // The stage at indexA (throws kxxcp::Exception "Stage index out of range: '<i>'.").
  const Matchmode& getStage(unsigned int indexA) const;
  const std::vector<Matchmode>& getStages() const { return stagesM; }

  // The value of a parameter of stage indexA (integers and the flag as float); false for an
  // index out of range or an unknown parameter.
  bool getData(unsigned int indexA, ParametersToChange parameterA, float& valueA) const;
  // Over every stage matching the triple (65535 modality or instance and 255 algorithm match
  // anything), in order: valueA is that of the last; false at the first failing stage; true
  // (valueA untouched) when nothing matches.
  bool getData(qridy::Modality modalityA, qridy::Instance instanceA, qridy::Algorithm algorithmA,
               ParametersToChange parameterA, float& valueA) const;
  // Sets a parameter of stage indexA. False for an index out of range, an unknown parameter, a
  // value that is not a number, or a negative value for parameters 0 to 3. Integers are set by
  // truncation (values beyond 4294967295 saturate); UseNormalization becomes value > 0.999.
  // Changes the stage's scalar only: the lists and the per-algorithm limits stay as read.
  bool setData(unsigned int indexA, ParametersToChange parameterA, float valueA);
  // Sets the parameter of every matching stage (wildcards as for getData); the AND of the
  // results, true when nothing matches.
  bool setData(qridy::Modality modalityA, qridy::Instance instanceA, qridy::Algorithm algorithmA,
               ParametersToChange parameterA, float valueA);
  // False when there are no stages, else the AND over all stages.
  bool setDataToAllStages(ParametersToChange parameterA, float valueA);

  // Empty when the stages present in both configurations name the same triples; otherwise one
  // line per difference, "Modality of stage <i> are different (est/conf) = (<this>/<other>)"
  // (likewise "Instance of stage " and "Algorithm of stage "), values as numbers.
  std::string isCompatibe(MultipassConfig otherA) const;

  // A readable dump of the pipeline.
  void info(std::ostream& osA) const;

  const std::string& getPipelineId() const { return pipelineIdM; }
  Processing getProcessing() const { return processingM; }
  void setProcessing(Processing processingA) { processingM = processingA; }
  // True with the limits of algorithmA when a stage of that algorithm was read.
  bool getResultLengthLimits(qridy::Algorithm algorithmA, ResultLengthLimits& limitsA) const;
  bool isConfigured(const qridy::BioMetricTriple& tripleA) const;
  // When set, the stages write miss-analysis elements into their results.
  bool isMissAnalysis() const { return missAnalysisM; }
  void setMissAnalysis(bool missAnalysisA) { missAnalysisM = missAnalysisA; }

 private:
  void readDocument(const kxutl::DomXmlParser& parserA);
  void rebuildTables();
  static bool setStageData(Matchmode& stageA, ParametersToChange parameterA, float valueA);
  static bool getStageData(const Matchmode& stageA, ParametersToChange parameterA, float& valueA);
  // Xerces UTF-16 text to and from 8-bit text.
  static std::string XMLtranscode(const char16_t* textA);
  static std::u16string XMLtranscode(const std::string& textA);

  std::map<qridy::Algorithm, ResultLengthLimits> limitsM;
  std::map<qridy::BioMetricTriple, bool> triplesM;
  std::vector<Matchmode> stagesM;
  std::map<std::string, std::string> propertiesM;  // free for the application; empty
  bool missAnalysisM = false;
  int userIndexM = -1;  // free for the application
  Processing processingM = ProcessingSequential;
  std::string pipelineIdM;
};

}  // namespace qrbase
