// quarlen descriptor FILE [--write-images DIR]: what a stored sample descriptor holds, and its
// images as PNG files on request.
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlimage/PngCodec.h>
#include <quarlen/BioDescriptor.h>
#include <quarlen/EyeDescriptor.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/FingerprintDescriptor.h>
#include <quarlen/IrisDescriptor.h>

#include "Commands.h"

namespace quarlen_cli {

namespace {

const char* kindText(qrbase::BioDescriptorType typeA) {
  switch (typeA) {
    case qrbase::BioDescriptorTypeEye:
      return "eye";
    case qrbase::BioDescriptorTypeFace:
      return "face";
    case qrbase::BioDescriptorTypeFingerprint:
      return "fingerprint";
    case qrbase::BioDescriptorTypeIris:
      return "iris";
  }
  return "unknown";
}

const char* ageText(qrbase::AgeClass ageA) {
  switch (ageA) {
    case qrbase::AgeClassChild:
      return "child";
    case qrbase::AgeClassAdult:
      return "adult";
    case qrbase::AgeClassSenior:
      return "senior";
    default:
      return "unknown";
  }
}

std::string hex64(std::uint64_t vA) {
  std::ostringstream osL;
  osL << "0x" << std::hex << std::setw(16) << std::setfill('0') << vA;
  return osL.str();
}

// One item line: the name padded to a column, then what is known about it.
void item(const std::string& nameA, const std::string& textA) {
  std::cout << "  " << nameA << std::string(nameA.size() < 30 ? 30 - nameA.size() : 1, ' ') << textA
            << "\n";
}

std::string imageText(const qrimg::Image* imageA) {
  if (imageA == nullptr) return "absent";
  std::ostringstream osL;
  osL << imageA->width() << "x" << imageA->height() << " "
      << (imageA->channels() == 1 ? "grey" : "colour");
  return osL.str();
}

std::string graphText(const kxegm::FaceGraph* graphA) {
  if (graphA == nullptr) return "absent";
  std::ostringstream osL;
  osL << graphA->nodeCount() << " nodes, " << graphA->edges().size() << " edges";
  return osL.str();
}

std::string pointsText(const qrimg::FacialFeaturePoints* pointsA) {
  if (pointsA == nullptr) return "absent";
  std::ostringstream osL;
  const char* sepL = "";
  for (int indexL : qrbase::EyeDescriptor::kStreamedPoints) {
    const qrimg::Point2f pL = pointsA->point(indexL);
    osL << sepL << indexL << " (" << pL.x << ", " << pL.y << ")";
    sepL = ", ";
  }
  return osL.str();
}

struct NamedImage {
  const char* fileName;
  const qrimg::Image* image;
};

void describeEye(const qrbase::EyeDescriptor& eyeA) {
  item("feature points", pointsText(eyeA.facialFeaturePoints()));
  if (const qrimg::Roi* roiL = eyeA.roi()) {
    std::ostringstream osL;
    osL << "left " << roiL->left() << ", top " << roiL->top() << ", width " << roiL->width()
        << ", height " << roiL->height();
    item("region", osL.str());
  } else {
    item("region", "absent");
  }
  std::ostringstream confidenceL;
  confidenceL << eyeA.detectionConfidence();
  item("detection confidence", confidenceL.str());
}

std::vector<NamedImage> describeFace(const qrbase::FaceDescriptor& faceA) {
  describeEye(faceA);
  item("texture image", imageText(faceA.textureImage()));
  item("derotated image", imageText(faceA.derotatedImage()));
  item("derotation graph", graphText(faceA.derotationGraph()));
  if (const kxegm::FaceQualityCheckResult* qL = faceA.faceRecQcheckResult()) {
    std::ostringstream osL;
    osL << "image " << qL->imageWidth() << "x" << qL->imageHeight() << ", quality " << qL->quality()
        << ", " << qL->checks().size() << " checks";
    item("face quality check result", osL.str());
  } else {
    item("face quality check result", "absent");
  }
  item("derotated feature points", pointsText(faceA.derotatedFeaturePoints()));
  item("landmark graph", graphText(faceA.landmarkGraph()));
  item("feature extraction graph", graphText(faceA.featureExtractionGraph()));
  item("feature extraction image", imageText(faceA.featureExtractionImage()));
  std::ostringstream residualL;
  residualL << faceA.faceClassifierResidual();
  item("face classifier residual", residualL.str());
  return {{"texture.png", faceA.textureImage()},
          {"derotated.png", faceA.derotatedImage()},
          {"feature_extraction.png", faceA.featureExtractionImage()}};
}

std::vector<NamedImage> describeFingerprint(const qrbase::FingerprintDescriptor& fingerA) {
  item("input image", imageText(fingerA.inputImage()));
  item("working image", imageText(fingerA.workingImage()));
  std::ostringstream resolutionL;
  resolutionL << fingerA.xResolution() << " x " << fingerA.yResolution() << ", unit "
              << fingerA.resolutionUnit();
  item("resolution", resolutionL.str());
  item("certificate", std::to_string(fingerA.certificate()));
  return {{"input.png", fingerA.inputImage()}, {"working.png", fingerA.workingImage()}};
}

}  // namespace

int runDescriptor(const std::vector<std::string>& args) {
  std::string fileL;
  std::string imageDirL;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--write-images" && i + 1 < args.size()) {
      imageDirL = args[++i];
    } else if (fileL.empty() && args[i].rfind("--", 0) != 0) {
      fileL = args[i];
    } else {
      std::cerr << "quarlen descriptor: unexpected argument '" << args[i] << "'\n"
                << "usage: quarlen descriptor FILE [--write-images DIR]\n";
      return 2;
    }
  }
  if (fileL.empty()) {
    std::cerr << "usage: quarlen descriptor FILE [--write-images DIR]\n";
    return 2;
  }
  std::ifstream streamL(fileL, std::ios::binary);
  if (!streamL) {
    std::cerr << "quarlen descriptor: cannot open '" << fileL << "'\n";
    return 1;
  }
  // The stored valid flag (byte 52 of the header): reading makes eye, face and iris descriptors
  // valid whatever it says.
  char headerL[qrbase::BioDescriptor::kHeaderSize] = {};
  streamL.read(headerL, sizeof headerL);
  const bool storedValidL = streamL.gcount() == sizeof headerL && headerL[52] == 1;
  streamL.clear();
  streamL.seekg(0);
  std::unique_ptr<qrbase::BioDescriptor> descriptorL;
  try {
    descriptorL.reset(qrbase::BioDescriptor::create(streamL, nullptr));
  } catch (const kxxcp::Exception& e) {
    std::cerr << "quarlen descriptor: '" << fileL
              << "' is not a readable descriptor: " << e.getMessage() << "\n";
    return 1;
  }
  const auto endL = streamL.tellg();
  streamL.seekg(0, std::ios::end);
  if (streamL.tellg() != endL) {
    std::cerr << "quarlen descriptor: note: " << (streamL.tellg() - endL)
              << " bytes follow the descriptor in '" << fileL << "'\n";
  }

  const qrbase::BioDescriptor& dL = *descriptorL;
  std::cout << "kind:                " << kindText(dL.type()) << " (" << dL.type() << ")\n"
            << "modality:            " << qridy::Types::modality2Text(dL.modality()) << "\n"
            << "version:             " << qrbase::BioDescriptor::kVersion << "\n"
            << "stored valid flag:   " << (storedValidL ? "true" : "false") << "\n"
            << "instance:            " << qridy::Types::instance2Text(dL.instance()) << " ("
            << dL.instance() << ")\n"
            << "sample id:           " << hex64(dL.sampleId().high) << " "
            << hex64(dL.sampleId().low) << " (high, low)\n"
            << "person id:           " << dL.idRecordKey().personId << "\n"
            << "transaction id:      " << dL.idRecordKey().transactionId << "\n"
            << "quality class:       " << dL.qualityClass() << "\n"
            << "quality value:       " << dL.qualityValue() << "\n"
            << "age class:           " << ageText(dL.ageClass()) << " (" << dL.ageClass() << ")\n"
            << "items:\n";
  std::vector<NamedImage> imagesL;
  if (const auto* faceL = dynamic_cast<const qrbase::FaceDescriptor*>(&dL)) {
    imagesL = describeFace(*faceL);
  } else if (const auto* eyeL = dynamic_cast<const qrbase::EyeDescriptor*>(&dL)) {
    describeEye(*eyeL);
  } else if (const auto* fingerL = dynamic_cast<const qrbase::FingerprintDescriptor*>(&dL)) {
    imagesL = describeFingerprint(*fingerL);
  } else {
    item("(none)", "iris descriptors store no items");
  }

  if (imageDirL.empty()) return 0;
  std::error_code errorL;
  std::filesystem::create_directories(imageDirL, errorL);
  int writtenL = 0;
  for (const NamedImage& imageL : imagesL) {
    if (imageL.image == nullptr) continue;
    const std::string pathL = (std::filesystem::path(imageDirL) / imageL.fileName).string();
    try {
      qrimg::PngCodec::writeFile(pathL, *imageL.image);
    } catch (const kxxcp::Exception& e) {
      std::cerr << "quarlen descriptor: " << e.getMessage() << "\n";
      return 1;
    }
    std::cout << "wrote " << pathL << "\n";
    ++writtenL;
  }
  if (writtenL == 0) std::cout << "no images to write\n";
  return 0;
}

}  // namespace quarlen_cli
