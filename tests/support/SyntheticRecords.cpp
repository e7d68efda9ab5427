#include "support/SyntheticRecords.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <qrlface/ByteMinimalGraph.h>
#include <qrlfinger/SyntheticFinger.h>
#include <qrliris/IrisCodeForms.h>
#include <quarlen/TemplateBlockImp.h>

namespace quarlen_test {

using namespace qridy;

namespace {

constexpr unsigned kFaceDimension = 128;

std::mt19937_64 rngOf(std::uint64_t seedA, std::uint64_t streamA) {
  std::seed_seq seqL{static_cast<std::uint32_t>(seedA), static_cast<std::uint32_t>(seedA >> 32),
                     static_cast<std::uint32_t>(streamA)};
  return std::mt19937_64(seqL);
}

void addBlock(IdRecordImp& recordA, Algorithm algorithmA, Modality modalityA, Instance instanceA,
              const void* dataA, unsigned sizeA, KXuint128 sampleIdA) {
  std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmA));
  const auto* bytesL = static_cast<const unsigned char*>(dataA);
  blockL->setData(bytesL, sizeA, bytesL, sizeA, false);
  recordA.addTemplateBlock(blockL.release(), modalityA, instanceA, sampleIdA);
}

KXuint128 sampleIdOf(std::uint64_t transactionIdA) {
  return KXuint128{0x5A5A0000u, transactionIdA};
}

}  // namespace

std::unique_ptr<IdRecordImp> syntheticFaceRecord(std::uint64_t personIdA,
                                                 std::uint64_t transactionIdA,
                                                 std::uint64_t identityA,
                                                 std::uint64_t sampleSeedA) {
  // One distribution per generator: a distribution may keep a value it drew from one of them.
  std::normal_distribution<float> featureL, noiseL;
  auto identityRngL = rngOf(identityA, 1);
  std::vector<float> vL(kFaceDimension);
  for (float& x : vL) x = featureL(identityRngL);
  if (sampleSeedA != 0) {
    auto sampleRngL = rngOf(sampleSeedA, 2);
    for (float& x : vL) x += 0.35f * noiseL(sampleRngL);
  }
  float normL = 0.0f;
  for (float x : vL) normL += x * x;
  normL = std::sqrt(normL);
  for (float& x : vL) x /= normL;
  std::vector<signed char> bytesL(kFaceDimension);
  const float scaleL = kxegm::ByteMinimalGraph::scale();
  for (unsigned i = 0; i < kFaceDimension; ++i) {
    bytesL[i] = static_cast<signed char>(std::clamp(std::lround(vL[i] * scaleL), -127L, 127L));
  }
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(IdRecordKey(personIdA, transactionIdA));
  const KXuint128 sampleL = sampleIdOf(transactionIdA);
  addBlock(*recordL, AlgHgmFloat, ModalityFace, InstanceFaceFrontal, vL.data(),
           kFaceDimension * sizeof(float), sampleL);
  addBlock(*recordL, AlgHgmByte, ModalityFace, InstanceFaceFrontal, bytesL.data(), kFaceDimension,
           sampleL);
  return recordL;
}

std::unique_ptr<IdRecordImp> syntheticIrisRecord(std::uint64_t personIdA,
                                                 std::uint64_t transactionIdA,
                                                 std::uint64_t identityA,
                                                 std::uint64_t sampleSeedA) {
  using kxegm::irisforms::kCodeBytes;
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(IdRecordKey(personIdA, transactionIdA));
  const KXuint128 sampleL = sampleIdOf(transactionIdA);
  for (Instance instanceL : {InstanceIrisLeft, InstanceIrisRight}) {
    auto identityRngL = rngOf(identityA, 10 + instanceL);
    std::bernoulli_distribution usableL(0.8);
    std::vector<unsigned char> codeL(kCodeBytes);
    for (std::size_t w = 0; w < kCodeBytes / 8; ++w) {
      std::uint64_t wordL = identityRngL() & 0xFFFFFFFFu;
      for (int b = 0; b < 32; ++b) {
        wordL |= std::uint64_t{usableL(identityRngL)} << (32 + b);
      }
      std::memcpy(codeL.data() + 8 * w, &wordL, 8);
    }
    if (sampleSeedA != 0) {
      auto sampleRngL = rngOf(sampleSeedA, 20 + instanceL);
      std::vector<unsigned char> recordFormL(kCodeBytes), turnedL(kCodeBytes);
      kxegm::irisforms::matcherToRecord(codeL.data(), recordFormL.data());
      kxegm::irisforms::rotateRecord(recordFormL.data(), 1, turnedL.data());
      kxegm::irisforms::recordToMatcher(turnedL.data(), codeL.data());
      std::bernoulli_distribution flipL(0.1);
      for (std::size_t w = 0; w < kCodeBytes / 8; ++w) {
        for (int b = 0; b < 32; ++b) {
          if (flipL(sampleRngL)) codeL[8 * w + b / 8] ^= static_cast<unsigned char>(1u << (b % 8));
        }
      }
    }
    addBlock(*recordL, AlgDaugman2010, ModalityIris, instanceL, codeL.data(),
             static_cast<unsigned>(kCodeBytes), sampleL);
  }
  return recordL;
}

std::unique_ptr<IdRecordImp> syntheticFingerRecord(std::uint64_t personIdA,
                                                   std::uint64_t transactionIdA,
                                                   std::uint64_t identityA,
                                                   std::uint64_t sampleSeedA) {
  static const Instance kFingers[4] = {InstanceFingerRightIndex, InstanceFingerLeftIndex,
                                       InstanceFingerRightThumb, InstanceFingerLeftThumb};
  static const qrfpt::SyntheticFingerGenerator generatorS(2026);
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(IdRecordKey(personIdA, transactionIdA));
  for (std::uint32_t k = 0; k < 4; ++k) {
    const std::vector<std::uint8_t> bytesL = generatorS.impressionBytes(
        static_cast<std::uint32_t>(4 * identityA + k), static_cast<std::uint32_t>(sampleSeedA),
        qrfpt::ImpressionSettings());
    addBlock(*recordL, AlgL2f, ModalityFingerprint, kFingers[k], bytesL.data(),
             static_cast<unsigned>(bytesL.size()), sampleIdOf(transactionIdA));
  }
  return recordL;
}

}  // namespace quarlen_test
