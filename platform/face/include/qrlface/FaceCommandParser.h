#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <qrlface/FaceDataStore.h>
#include <qrlface/FaceExport.h>
#include <qrlface/GaborJets.h>

namespace kxegm {

// The face command interpreter: named commands that read their inputs from a data store and
// leave their results in it, configured by an XML command file.
//
// Command file:
//   <faceCommands version="1">
//     <command name="startUpHgmFeatureExtraction" frequencies="4" orientations="8"/>
//     <command name="ilm"/>
//     ...
//   </faceCommands>
// Only the commands the file lists can be executed; a command's attributes (besides "name") are
// its numeric settings, each of which has a default. Limits: files of at most 1 MiB, no DTD.
//
// Commands (inputs -> results, by data-store identifier):
//   startUpIlm           settings gridRows (2..16, 6), gridColumns (2..16, 6), gridLeft (-1.0),
//                        gridRight (1.0), gridTop (-0.55), gridBottom (1.45): the landmark grid,
//                        in eye distances from the eye centre along and across the eye line.
//   ilm                  "derotatedInputImage", "derotationInfoGraph", "ffpDerotatedImage" (the
//                        eyes in the derotated image; "inputRoi" and "poseClassifierScore" are
//                        accepted and not needed) -> "landMarkGraph" (the grid placed from the
//                        eyes, mapped to the input image by the derotation graph's map),
//                        "ffpInputImage" (the eyes and mouth in input image coordinates),
//                        "outgraphForFeatureExtraction" (the grid with its edges, derotated
//                        frame), "outimageForFeatureExtraction" (the derotated image with its
//                        lighting normalised). Needs startUpIlm.
//   startUpHgmFeatureExtraction   settings frequencies, orientations, wavelength,
//                        wavelengthStep, sigmaRatio (GaborBank::Settings): the filter bank.
//   startUpHgmPromatSelector, startUpFastHgmPromatSelector, startUpCcaPromatSelector
//                        enable the template commands of their family (no settings).
//   prepareHgmFeatureExtraction   "graphForFeatureExtraction", "imageForFeatureExtraction":
//                        takes the node positions and the grey image for the next extraction.
//   performHgmFeatureExtraction   -> "hgmFeatureJets" (feature array: the Gabor magnitudes,
//                        node after node) and the numbers "hgmFeatureNodes",
//                        "hgmFeatureFrequencies", "hgmFeatureOrientations". Needs the bank and
//                        a prepared extraction.
//   createHgmRaw, createHgm, createHgmFloat, createHgmByte   "hgmFeatureJets" -> template graphs
//                        "hgmRawTemplate" (raw), "hgmTemplate" (bit), "hgmFloatTemplate"
//                        (float), "hgmByteTemplate" (byte). Need startUpHgmPromatSelector.
//   createFastHgmRaw, createFastHgm   the same on every second node of the grid (rows and
//                        columns of even index) -> "fastHgmRawTemplate" (raw),
//                        "fastHgmTemplate" (bit). Need startUpFastHgmPromatSelector.
//   createCca            "hgmFeatureJets" -> "ccaTemplate" (bit): per node, whether each
//                        orientation's magnitude exceeds the next orientation's (the
//                        template is invariant to the node's contrast). Needs
//                        startUpCcaPromatSelector.
//   doBackgroundsupression   "imageForFeatureExtraction", "graphForFeatureExtraction" ->
//                        "backgroundSupressedImage": pixels outside the ellipse around the
//                        graph's nodes take the mean grey value inside it.
//
// Failures are kxxcp::Exception (functions "kxegm::FaceCommandParser::<op>"):
//   "Cannot open face command file '<path>'.", "Face command file too large '<path>'.",
//   "Invalid face command file '<name>': <reason>", "Unknown face command '<c>'.",
//   "Face command '<c>' defined twice.", "Unknown setting '<s>' of face command '<c>'.",
//   "Invalid setting '<s>' of face command '<c>': '<value>'.",
//   "The face command file does not define '<c>'.", "Face command '<c>' needs '<other>'.",
//   and the data store's messages for missing inputs. A failed command leaves no result.
class QRLFACE_EXPORT FaceCommandParser {
 public:
  // threadsA: the worker count the interpreter may use (kept; commands run on the caller's
  // thread).
  explicit FaceCommandParser(unsigned long long threadsA = 1);
  ~FaceCommandParser();
  FaceCommandParser(const FaceCommandParser&) = delete;
  FaceCommandParser& operator=(const FaceCommandParser&) = delete;

  void load(const std::string& pathA);
  // Loads the command file held in textA; nameA stands for the file name in messages.
  void loadText(const std::string& textA, const std::string& nameA);

  FaceDataStore& dataStore() { return storeM; }
  const FaceDataStore& dataStore() const { return storeM; }
  unsigned long long threads() const { return threadsM; }

  bool defines(const std::string& commandA) const { return settingsM.count(commandA) != 0; }
  void execute(const std::string& commandA);

  // Every command this interpreter knows, in alphabetical order.
  static std::vector<std::string> commandNames();

 private:
  struct State;
  double setting(const std::string& commandA, const std::string& nameA) const;
  void require(const std::string& commandA, bool doneA, const char* otherA) const;

  unsigned long long threadsM;
  FaceDataStore storeM;
  std::map<std::string, std::map<std::string, double>> settingsM;
  std::unique_ptr<State> stateM;
};

}  // namespace kxegm
