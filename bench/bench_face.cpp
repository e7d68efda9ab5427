// Faces from images, single thread, on 640 x 480 grey photographs (the opencv-doc portraits,
// resampled): eye location, face template creation per algorithm group from a located face,
// and Verifier::verify of two images (location, hgm templates and the matcher). items_per_second
// is templates (or verifications) per second on one core.
//
// Reference: the Gabor jets at the 36 graph nodes against the plain way of getting the same
// responses, OpenCV's filter2D of the whole 128 x 128 derotated face with every kernel (then
// read at the nodes).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <qrlcore/QuarlenInformation.h>
#include <qrlface/GaborJets.h>
#include <qrlimage/ImageFile.h>
#include <quarlen/BioDescriptorList.h>
#include <quarlen/EyeLocator.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateGenerator.h>
#include <quarlen/Verifier.h>
#include <opencv2/imgproc.hpp>

namespace {

using qridy::Algorithm;

const char* const kPhotos[] = {"/usr/share/doc/opencv-doc/opencv4/html/227943776_1.jpg",
                               "/usr/share/doc/opencv-doc/opencv4/html/230501201_1.jpg"};

// The example configuration (data/config), filled into a temporary folder and installed.
std::string readAll(const std::filesystem::path& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(inL), {});
}

struct Setup {
  Setup() {
    namespace fs = std::filesystem;
    dir = (fs::temp_directory_path() / "bench_face").string();
    fs::create_directories(dir + "/galleries");
    const fs::path dataL = fs::path(QUARLEN_SOURCE_DIR) / "data";
    for (const fs::path& folderL : {dataL / "config", dataL / "scoremapping"}) {
      for (const auto& entryL : fs::directory_iterator(folderL)) {
        std::string textL = readAll(entryL.path());
        for (const auto& [fromL, toL] : {std::pair<std::string, std::string>{"@CONFIG_DIR@", dir},
                                         {"@GALLERY_DIR@", dir + "/galleries"}}) {
          for (std::size_t p = textL.find(fromL); p != std::string::npos;
               p = textL.find(fromL, p + toL.size())) {
            textL.replace(p, fromL.size(), toL);
          }
        }
        std::ofstream(fs::path(dir) / entryL.path().filename(), std::ios::binary) << textL;
      }
    }
    kxutl::QuarlenInformation::setConfigFile(dir + "/quarlen.ini");
    for (const char* pathL : kPhotos) {
      if (!std::ifstream(pathL)) continue;
      const qrimg::ByteImage greyL = qrimg::toGrey(*qrimg::ImageFile::readFile(pathL));
      // Into a 640 x 480 canvas, the face kept at its size relative to the canvas height.
      qrimg::ByteImage outL(640, 480);
      const float scaleL = static_cast<float>(greyL.height()) / 480.0f;
      for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
          outL.at(x, y) = static_cast<unsigned char>(
              greyL.sample(greyL.width() / 2.0f + (x - 320) * scaleL, y * scaleL));
        }
      }
      images.push_back(std::move(outL));
    }
    locator.init(nullptr, nullptr, 1, true, qrbase::TemplateCreationModeFastC);
  }
  std::string dir;
  std::vector<qrimg::ByteImage> images;
  qrbase::EyeLocator locator;
};

Setup& setup() {
  static Setup setupL;
  return setupL;
}

bool havePhotos(benchmark::State& stateA) {
  if (setup().images.size() < 2) {
    stateA.SkipWithError("photographs missing (install opencv-doc)");
    return false;
  }
  return true;
}

void BM_EyeLocation(benchmark::State& stateA) {
  if (!havePhotos(stateA)) return;
  for (auto _ : stateA) {
    qrbase::BioDescriptorList listL;
    setup().locator.locateEyes(setup().images[0], listL, 0, nullptr, 1);
    benchmark::DoNotOptimize(listL.size());
  }
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK(BM_EyeLocation)->Unit(benchmark::kMillisecond);

// Template creation for one algorithm group from a located face (the copy of the descriptor
// each round costs a few microseconds).
void templateGroup(benchmark::State& stateA, std::vector<Algorithm> algorithmsA) {
  if (!havePhotos(stateA)) return;
  qrbase::BioDescriptorList listL;
  setup().locator.locateEyes(setup().images[0], listL, 0, nullptr, 1);
  qrbase::TemplateGenerator generatorL;
  generatorL.init(nullptr, nullptr, 1, qrbase::TemplateCreationModeNormalC, algorithmsA.data(),
                  static_cast<unsigned>(algorithmsA.size()), 0.0f);
  for (auto _ : stateA) {
    qrbase::FaceDescriptor faceL(*listL.getFaceDescriptor(0));
    qridy::IdRecordImp recordL;
    generatorL.createFaceTemplate(faceL, recordL, {});
    benchmark::DoNotOptimize(recordL.nBioRecords());
  }
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK_CAPTURE(templateGroup, hgm_only, std::vector<Algorithm>{qridy::AlgHgm})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(templateGroup, hgm_group,
                  std::vector<Algorithm>{qridy::AlgHgm, qridy::AlgHgmRaw, qridy::AlgHgmFloat,
                                         qridy::AlgHgmByte, qridy::AlgVfa3})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(templateGroup, fast_cca,
                  std::vector<Algorithm>{qridy::AlgFHgm, qridy::AlgFHgmRaw, qridy::AlgCca})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(templateGroup, sta, std::vector<Algorithm>{qridy::AlgSta})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(templateGroup, vfa, std::vector<Algorithm>{qridy::AlgVfa, qridy::AlgVfa2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(templateGroup, lfa, std::vector<Algorithm>{qridy::AlgLfa, qridy::AlgLfaLowRes})
    ->Unit(benchmark::kMillisecond);

void BM_Verify(benchmark::State& stateA) {
  if (!havePhotos(stateA)) return;
  qrbase::Verifier verifierL;
  verifierL.init(nullptr, nullptr, 0, 1);
  float scoreL = 0.0f;
  for (auto _ : stateA) {
    scoreL =
        verifierL
            .verify(setup().images[0], nullptr, setup().images[1], nullptr, qridy::ModalityFace)
            .getScore();
    benchmark::DoNotOptimize(scoreL);
  }
  stateA.counters["score"] = scoreL;
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK(BM_Verify)->Unit(benchmark::kMillisecond);

// The Gabor jets at a 6 x 6 grid of a 128 x 128 face, and the whole-image reference.
struct JetInput {
  JetInput() : image(128, 128) {
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 128; ++x) {
        image.at(x, y) =
            static_cast<unsigned char>(128 + 90 * std::sin(x * 0.3) * std::cos(y * 0.2));
      }
    }
    for (int r = 0; r < 6; ++r) {
      for (int c = 0; c < 6; ++c) nodes.push_back({16.0f + 19.2f * c, 25.6f + 19.2f * r});
    }
  }
  qrimg::ByteImage image;
  std::vector<qrimg::Point2f> nodes;
};

void BM_GaborJets(benchmark::State& stateA) {
  const JetInput inL;
  const kxegm::GaborBank bankL{kxegm::GaborBank::Settings{}};
  std::vector<float> jetsL;
  for (auto _ : stateA) {
    jetsL.clear();
    bankL.extract(inL.image, inL.nodes, jetsL);
    benchmark::DoNotOptimize(jetsL.data());
  }
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK(BM_GaborJets)->Unit(benchmark::kMicrosecond);

void BM_GaborFilter2DReference(benchmark::State& stateA) {
  const JetInput inL;
  const kxegm::GaborBank::Settings s;
  std::vector<std::pair<cv::Mat, cv::Mat>> kernelsL;
  for (int f = 0; f < s.frequencies; ++f) {
    const double lambdaL = s.wavelength * std::pow(s.wavelengthStep, f);
    const int radiusL = static_cast<int>(std::ceil(2.5 * lambdaL * s.sigmaRatio));
    const cv::Size sizeL(2 * radiusL + 1, 2 * radiusL + 1);
    for (int o = 0; o < s.orientations; ++o) {
      const double thetaL = CV_PI * o / s.orientations;
      cv::Mat evenL =
          cv::getGaborKernel(sizeL, lambdaL * s.sigmaRatio, thetaL, lambdaL, 1.0, 0.0, CV_32F);
      evenL -= cv::mean(evenL)[0];
      kernelsL.emplace_back(evenL, cv::getGaborKernel(sizeL, lambdaL * s.sigmaRatio, thetaL,
                                                      lambdaL, 1.0, CV_PI / 2, CV_32F));
    }
  }
  const cv::Mat imageL(128, 128, CV_8U, const_cast<unsigned char*>(inL.image.data()));
  cv::Mat floatL;
  imageL.convertTo(floatL, CV_32F);
  std::vector<float> jetsL;
  cv::Mat reL, imL;
  for (auto _ : stateA) {
    jetsL.clear();
    for (const auto& [evenL, oddL] : kernelsL) {
      cv::filter2D(floatL, reL, CV_32F, evenL, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
      cv::filter2D(floatL, imL, CV_32F, oddL, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
      for (const qrimg::Point2f& p : inL.nodes) {
        const int xL = static_cast<int>(std::lround(p.x)), yL = static_cast<int>(std::lround(p.y));
        jetsL.push_back(std::hypot(reL.at<float>(yL, xL), imL.at<float>(yL, xL)));
      }
    }
    benchmark::DoNotOptimize(jetsL.data());
  }
  stateA.SetItemsProcessed(stateA.iterations());
}
BENCHMARK(BM_GaborFilter2DReference)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
