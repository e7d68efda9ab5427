// quarlen enrol-image DIR IMAGE: locates the face in a photograph, makes its face templates
// (the configuration's default face algorithms) and enrols them into the gallery folder DIR
// (made by quarlen gallery create for faces), which names its storage and pipeline.
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlimage/ImageFile.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/EyeLocator.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateGenerator.h>

#include "Commands.h"
#include "GalleryFolder.h"

namespace quarlen_cli {
namespace {

bool parseId(const std::string& textA, unsigned long long& outA) {
  if (textA.empty() || textA.find_first_not_of("0123456789") != std::string::npos) return false;
  try {
    outA = std::stoull(textA);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace

int runEnrolImage(const std::vector<std::string>& args) {
  std::vector<std::string> positionalL;
  unsigned long long personL = 1, transactionL = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool valueL = i + 1 < args.size();
    if (args[i] == "--person" && valueL) {
      if (!parseId(args[++i], personL)) {
        std::cerr << "quarlen enrol-image: invalid person id '" << args[i] << "'\n";
        return 2;
      }
    } else if (args[i] == "--transaction" && valueL) {
      if (!parseId(args[++i], transactionL)) {
        std::cerr << "quarlen enrol-image: invalid transaction id '" << args[i] << "'\n";
        return 2;
      }
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::cerr << "quarlen enrol-image: unknown option '" << args[i] << "'\n";
      return 2;
    } else {
      positionalL.push_back(args[i]);
    }
  }
  if (positionalL.size() != 2) {
    std::cerr << "usage: quarlen enrol-image DIR IMAGE [--person N] [--transaction N]\n";
    return 2;
  }
  int statusL = 0;
  try {
    GalleryFolder folderL(positionalL[0]);
    qrbase::TemplateMatcherMultipass& matcherL = folderL.matcher();
    const std::unique_ptr<qrimg::Image> imageL = qrimg::ImageFile::readFile(positionalL[1]);
    qrbase::EyeLocator locatorL;
    locatorL.init(nullptr, nullptr, 1, true, qrbase::TemplateCreationModeNormalC);
    qrbase::BioDescriptorList listL;
    locatorL.locateEyes(*imageL, listL, 0, nullptr, 1);
    qrbase::FaceDescriptor& faceL = *listL.getFaceDescriptor(0);
    faceL.setIdRecordKey(qridy::IdRecordKey(personL, transactionL));
    qrbase::TemplateGenerator generatorL;
    generatorL.init(nullptr, nullptr, 1, qrbase::TemplateCreationModeNormalC, nullptr, 0, 0.0f);
    qridy::IdRecordImp recordL;
    recordL.setIdRecordKey(qridy::IdRecordKey(personL, transactionL));
    generatorL.createFaceTemplate(faceL, recordL, {});
    matcherL.addIdRecord(&recordL, nullptr, false);

    using FFP = qrimg::FacialFeaturePoints;
    const FFP& pL = *faceL.facialFeaturePoints();
    std::cout << std::fixed << std::setprecision(1) << "enrolled person " << personL
              << " transaction " << transactionL << " from " << positionalL[1] << ": right eye ("
              << pL.point(FFP::RightEye).x << ", " << pL.point(FFP::RightEye).y << "), left eye ("
              << pL.point(FFP::LeftEye).x << ", " << pL.point(FFP::LeftEye).y << ")\n"
              << "gallery holds " << matcherL.numberOfIdRecords() << " records\n";
  } catch (const kxxcp::Exception& eA) {
    std::cerr << "quarlen enrol-image: " << eA.getMessage() << "\n";
    statusL = 1;
  } catch (const std::exception& eA) {
    std::cerr << "quarlen enrol-image: " << eA.what() << "\n";
    statusL = 1;
  }
  return statusL;
}

}  // namespace quarlen_cli
