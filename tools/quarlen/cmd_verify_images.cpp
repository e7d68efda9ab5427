// quarlen verify-images A B: 1:1 verification of two face photographs with qrbase::Verifier,
// from the example configuration (or --config DIR). Prints the eyes located in each image and
// the verification score.
#include <stdlib.h>

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/ImageFile.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/EyeLocator.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/Verifier.h>

#include "Commands.h"
#include "ExampleConfig.h"

namespace quarlen_cli {
namespace {

using FFP = qrimg::FacialFeaturePoints;

std::string pointText(const qrimg::Point2f& pA) {
  std::ostringstream osL;
  osL << std::fixed << std::setprecision(1) << "(" << pA.x << ", " << pA.y << ")";
  return osL.str();
}

}  // namespace

int runVerifyImages(const std::vector<std::string>& args) {
  std::vector<std::string> filesL;
  std::string configDirL;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config" && i + 1 < args.size()) {
      configDirL = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::cerr << "quarlen verify-images: unknown option '" << args[i] << "'\n";
      return 2;
    } else {
      filesL.push_back(args[i]);
    }
  }
  if (filesL.size() != 2) {
    std::cerr << "usage: quarlen verify-images A B [--config DIR]\n";
    return 2;
  }
  std::string workL = (std::filesystem::temp_directory_path() / "quarlen-verify-XXXXXX").string();
  if (::mkdtemp(workL.data()) == nullptr) {
    std::cerr << "quarlen verify-images: cannot create " << workL << "\n";
    return 1;
  }
  int statusL = 0;
  try {
    ExampleConfig configL(configDirL, workL);
    qrbase::EyeLocator locatorL;
    locatorL.init(nullptr, nullptr, 1, true, qrbase::TemplateCreationModeFastC);
    qrbase::Verifier verifierL;
    verifierL.init(nullptr, nullptr, 0, 1);
    std::unique_ptr<qrimg::Image> imagesL[2];
    FFP pointsL[2];
    const char* rolesL[2] = {"probe  ", "gallery"};
    for (int i = 0; i < 2; ++i) {
      imagesL[i] = qrimg::ImageFile::readFile(filesL[i]);
      qrbase::BioDescriptorList listL;
      locatorL.locateEyes(*imagesL[i], listL, 0, nullptr, 1);
      pointsL[i] = *listL.getFaceDescriptor(0)->facialFeaturePoints();
      std::cout << rolesL[i] << " " << filesL[i] << ": right eye "
                << pointText(pointsL[i].point(FFP::RightEye)) << ", left eye "
                << pointText(pointsL[i].point(FFP::LeftEye)) << "\n";
    }
    const qridy::ResultIdRecord resultL =
        verifierL.verify(*imagesL[0], &pointsL[0], *imagesL[1], &pointsL[1], qridy::ModalityFace);
    std::cout << "score: " << std::fixed << std::setprecision(4) << resultL.getScore() << "\n";
  } catch (const kxxcp::Exception& eA) {
    std::cerr << "quarlen verify-images: " << eA.getMessage() << "\n";
    statusL = 1;
  } catch (const std::exception& eA) {
    std::cerr << "quarlen verify-images: " << eA.what() << "\n";
    statusL = 1;
  }
  std::error_code ignoredL;
  std::filesystem::remove_all(workL, ignoredL);
  return statusL;
}

}  // namespace quarlen_cli
