#include "DemoPopulation.h"

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include <qrlface/ByteMinimalGraph.h>
#include <qrlfinger/SyntheticFinger.h>
#include <qrliris/IrisCodeForms.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/Types.h>

namespace quarlen_cli {

namespace {

using qridy::IdRecordImp;
using qridy::TemplateBlockImp;

// A generator per identity and sample, so that any record can be made again alone.
std::mt19937_64 generator(std::uint64_t idA, std::uint64_t streamA) {
  std::seed_seq seedL{static_cast<std::uint32_t>(idA), static_cast<std::uint32_t>(idA >> 32),
                      static_cast<std::uint32_t>(streamA),
                      static_cast<std::uint32_t>(streamA >> 32)};
  return std::mt19937_64(seedL);
}

void addBlock(IdRecordImp& recordA, qridy::Algorithm algorithmA, qridy::Modality modalityA,
              qridy::Instance instanceA, const unsigned char* bytesA, unsigned sizeA,
              std::uint64_t sampleA) {
  std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmA));
  blockL->setData(bytesA, sizeA, bytesA, sizeA, false);
  recordA.addTemplateBlock(blockL.get(), modalityA, instanceA, {0, sampleA});
  blockL.release();
}

std::unique_ptr<IdRecordImp> newRecord(std::uint64_t personA, std::uint64_t transactionA) {
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(qridy::IdRecordKey(personA, transactionA));
  return recordL;
}

class Face : public DemoModality {
 public:
  static constexpr unsigned kFeatures = 256;
  explicit Face(float noiseA) : noiseM(noiseA) {}

  std::string label() const override { return "face"; }
  std::string storageId() const override { return "face"; }
  std::string pipelineId() const override { return "face"; }
  std::string describe() const override {
    std::ostringstream osL;
    osL << "hgmByte and hgmFloat blocks of " << kFeatures << " features; probes with noise "
        << noiseM;
    return osL.str();
  }
  std::unique_ptr<IdRecordImp> enrolment(std::uint64_t idA) const override {
    auto recordL = newRecord(idA, idA + 1);
    add(*recordL, features(idA), idA + 1);
    return recordL;
  }
  std::unique_ptr<IdRecordImp> probe(std::uint64_t idA, std::uint64_t seedA) const override {
    std::vector<float> vL = features(idA);
    auto rngL = generator(seedA, 1);
    std::normal_distribution<float> nL(0.0f, noiseM / std::sqrt(static_cast<float>(kFeatures)));
    for (float& x : vL) x += nL(rngL);
    auto recordL = newRecord(0, seedA);
    add(*recordL, vL, seedA);
    return recordL;
  }

 private:
  static std::vector<float> features(std::uint64_t idA) {
    auto rngL = generator(idA, 0);
    std::normal_distribution<float> nL;
    std::vector<float> vL(kFeatures);
    double sumL = 0.0;
    for (float& x : vL) {
      x = nL(rngL);
      sumL += static_cast<double>(x) * x;
    }
    const float scaleL = static_cast<float>(1.0 / std::sqrt(sumL));
    for (float& x : vL) x *= scaleL;
    return vL;
  }
  static void add(IdRecordImp& recordA, const std::vector<float>& vA, std::uint64_t sampleA) {
    std::vector<signed char> bytesL(vA.size());
    kxegm::ByteMinimalGraph::quantize(vA.data(), vA.size(), bytesL.data());
    addBlock(recordA, qridy::AlgHgmByte, qridy::ModalityFace, qridy::InstanceFaceFrontal,
             reinterpret_cast<const unsigned char*>(bytesL.data()), kFeatures, sampleA);
    addBlock(recordA, qridy::AlgHgmFloat, qridy::ModalityFace, qridy::InstanceFaceFrontal,
             reinterpret_cast<const unsigned char*>(vA.data()), kFeatures * 4, sampleA);
  }

  float noiseM;
};

class Iris : public DemoModality {
 public:
  static constexpr std::size_t kBytes = kxegm::irisforms::kCodeBytes;
  Iris(double flipsA, int turnA) : flipsM(flipsA), turnM(turnA) {}

  std::string label() const override { return "iris"; }
  std::string storageId() const override { return "iris"; }
  std::string pipelineId() const override { return "iris"; }
  std::string describe() const override {
    std::ostringstream osL;
    osL << "daugman2010 codes of both eyes; probes turned up to " << turnM << " positions with "
        << 100.0 * flipsM << " % of their bits flipped";
    return osL.str();
  }
  std::unique_ptr<IdRecordImp> enrolment(std::uint64_t idA) const override {
    auto recordL = newRecord(idA, idA + 1);
    for (int eyeL = 0; eyeL < 2; ++eyeL) add(*recordL, eyeL, code(idA, eyeL), idA + 1);
    return recordL;
  }
  std::unique_ptr<IdRecordImp> probe(std::uint64_t idA, std::uint64_t seedA) const override {
    auto recordL = newRecord(0, seedA);
    auto rngL = generator(seedA, 2);
    std::uniform_int_distribution<int> turnL(-turnM, turnM);
    std::bernoulli_distribution flipL(flipsM);
    for (int eyeL = 0; eyeL < 2; ++eyeL) {
      std::vector<unsigned char> recordFormL(kBytes), turnedL(kBytes), probeL(kBytes);
      const std::vector<unsigned char> codeL = code(idA, eyeL);
      kxegm::irisforms::matcherToRecord(codeL.data(), recordFormL.data());
      kxegm::irisforms::rotateRecord(recordFormL.data(), turnL(rngL), turnedL.data());
      kxegm::irisforms::recordToMatcher(turnedL.data(), probeL.data());
      // Code bits are the low 32 bits of every 64-bit word.
      for (std::size_t bitL = 0; bitL < 8 * kBytes / 2; ++bitL) {
        if (flipL(rngL)) {
          probeL[8 * (bitL / 32) + (bitL % 32) / 8] ^= static_cast<unsigned char>(1u << (bitL % 8));
        }
      }
      add(*recordL, eyeL, probeL, seedA);
    }
    return recordL;
  }

 private:
  // A code in the matcher form: 32 words of 32 code bits and 32 mask bits, about 80 % usable.
  static std::vector<unsigned char> code(std::uint64_t idA, int eyeA) {
    auto rngL = generator(idA, 10 + static_cast<std::uint64_t>(eyeA));
    std::vector<unsigned char> codeL(kBytes);
    for (std::size_t w = 0; w < kBytes / 8; ++w) {
      const std::uint64_t hiddenL = rngL() & rngL() & rngL() & 0xFFFFFFFFull;
      const std::uint64_t wordL = (rngL() & 0xFFFFFFFFull) | ((~hiddenL & 0xFFFFFFFFull) << 32);
      std::memcpy(codeL.data() + 8 * w, &wordL, 8);
    }
    return codeL;
  }
  static void add(IdRecordImp& recordA, int eyeA, const std::vector<unsigned char>& codeA,
                  std::uint64_t sampleA) {
    addBlock(recordA, qridy::AlgDaugman2010, qridy::ModalityIris,
             eyeA == 0 ? qridy::InstanceIrisLeft : qridy::InstanceIrisRight, codeA.data(),
             static_cast<unsigned>(codeA.size()), sampleA);
  }

  double flipsM;
  int turnM;
};

class Finger : public DemoModality {
 public:
  std::string label() const override { return "finger"; }
  std::string storageId() const override { return "finger"; }
  std::string pipelineId() const override { return "fourFinger"; }
  std::string describe() const override {
    return "l2f minutiae templates of four fingers; probes are other impressions";
  }
  std::unique_ptr<IdRecordImp> enrolment(std::uint64_t idA) const override {
    auto recordL = newRecord(idA, idA + 1);
    add(*recordL, idA, 0, idA + 1);
    return recordL;
  }
  std::unique_ptr<IdRecordImp> probe(std::uint64_t idA, std::uint64_t seedA) const override {
    auto recordL = newRecord(0, seedA);
    add(*recordL, idA, static_cast<std::uint32_t>(1 + seedA % 1000000), seedA);
    return recordL;
  }

 private:
  void add(IdRecordImp& recordA, std::uint64_t idA, std::uint32_t impressionA,
           std::uint64_t sampleA) const {
    static const qridy::Instance kFingers[4] = {
        qridy::InstanceFingerRightIndex, qridy::InstanceFingerLeftIndex,
        qridy::InstanceFingerRightThumb, qridy::InstanceFingerLeftThumb};
    for (std::uint32_t k = 0; k < 4; ++k) {
      const std::vector<std::uint8_t> bytesL = generatorM.impressionBytes(
          static_cast<std::uint32_t>(4 * idA + k), impressionA, qrfpt::ImpressionSettings());
      addBlock(recordA, qridy::AlgL2f, qridy::ModalityFingerprint, kFingers[k], bytesL.data(),
               static_cast<unsigned>(bytesL.size()), sampleA);
    }
  }

  qrfpt::SyntheticFingerGenerator generatorM{2026};
};

}  // namespace

std::unique_ptr<DemoModality> fingerModality() {
  return std::make_unique<Finger>();
}

std::unique_ptr<DemoModality> faceModality(float noiseA) {
  return std::make_unique<Face>(noiseA);
}

std::unique_ptr<DemoModality> irisModality(double flipsA, int turnA) {
  return std::make_unique<Iris>(flipsA, turnA);
}

}  // namespace quarlen_cli
