#include <quarlen/ResultBioRecord.h>

#include <limits>

#include <qrlcore/Exception.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateKey.h>

namespace qridy {
namespace {

// The key under which the dumps look up a sample's image file: instance and sample id only,
// the modality left at 0 (instances already tell the modalities apart). A registration made
// under a key that carries a modality is therefore not found.
TemplateKey imageKey(Instance instanceA, const KXuint128& sampleIdA) {
  return TemplateKey(ModalityUnknown, instanceA, sampleIdA);
}

}  // namespace

void ResultBioRecord::addScore(Modality modalityA, Instance instanceA, Algorithm algorithmA,
                               const KXuint128& sampleIdA, float rawScoreA, bool mapScoreA,
                               bool galleryNormalizedA, float scoreFactorA,
                               const ResultParameter& parameterA) {
  templatesM[sampleIdA].addScore(modalityA, instanceA, algorithmA, rawScoreA, mapScoreA,
                                 galleryNormalizedA, scoreFactorA, parameterA);
  float bestL = std::numeric_limits<float>::lowest();
  for (const auto& [sampleId, result] : templatesM) {
    if (result.getScore() > bestL) bestL = result.getScore();
  }
  scoreM = bestL;
}

unsigned int ResultBioRecord::getNumResultTemplateIds() const {
  return static_cast<unsigned int>(templatesM.size());
}

KXuint128 ResultBioRecord::getResultTemplateIdByIndex(unsigned int indexA) const {
  if (indexA >= templatesM.size()) {
    KXXCP_THROW("qridy::ResultBioRecord::getResultTemplateIdByIndex",
                "getResultTemplateIdByIndex() ResultTemplate not exist for this index");
  }
  return std::next(templatesM.begin(), indexA)->first;
}

void ResultBioRecord::info(std::ostream& osA, Modality modalityA, Instance instanceA,
                           int verbosityA) const {
  if (verbosityA < 1) return;
  osA << "\t<bioRecord"
      << " modality = \"" << Types::modality2Text(modalityA) << "\""
      << " instance = \"" << Types::instance2Text(instanceA) << "\""
      << " score = \"" << scoreM << "\""
      << " >" << std::endl;
  if (verbosityA >= 2) {
    for (const auto& [sampleId, result] : templatesM) {
      osA << "\t\t<sample"
          << " sampleId.low = \"" << sampleId.low << "\""
          << " sampleId.high = \"" << sampleId.high << "\"";
      std::string fileL;
      if (ResultTreeList::templateKeyFilename(imageKey(instanceA, sampleId), fileL)) {
        osA << "\timage = \"" << fileL << "\"";
      }
      osA << "\tscore = \"" << result.getScore() << "\""
          << " >" << std::endl;
      result.info(osA, verbosityA);
      osA << "\t</template>" << std::endl;
    }
  }
  osA << "\t</bioRecord>" << std::endl;
}

void ResultBioRecord::infoCsv(std::ostream& osA, Modality modalityA, Instance instanceA,
                              int verbosityA) const {
  if (verbosityA < 1) return;
  osA << ",bioRec_" << static_cast<unsigned>(modalityA) << "_" << static_cast<unsigned>(instanceA)
      << "_score," << scoreM;
  if (verbosityA < 2) return;
  for (const auto& [sampleId, result] : templatesM) {
    osA << ",samplelId.low," << sampleId.low << ",samplelId.high," << sampleId.high;
    std::string fileL;
    if (ResultTreeList::templateKeyFilename(imageKey(instanceA, sampleId), fileL)) {
      osA << ",image," << fileL;
    }
    osA << ",tplScore," << result.getScore();
    result.infoCsv(osA, verbosityA);
  }
}

}  // namespace qridy
