#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <typeinfo>
#include <vector>

#include <qrlface/FaceHGM.h>
#include <qrlface/LFAEngine.h>
#include <qrlface/STAEngine.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlock_Common.h>

#include "engines/face/StageMatchEngine_Face_HGM.h"
#include "engines/face/StageMatchEngine_Face_HgmByte.h"
#include "engines/face/StageMatchEngine_Face_HgmFloat.h"
#include "engines/face/StageMatchEngine_Face_HgmPyr.h"
#include "engines/face/StageMatchEngine_Face_HgmPyrByte.h"
#include "engines/face/StageMatchEngine_Face_HgmPyrFloat.h"
#include "engines/face/StageMatchEngine_Face_L1Jim.h"
#include "engines/face/StageMatchEngine_Face_L2Jim.h"
#include "engines/face/StageMatchEngine_Face_L3Jim.h"
#include "engines/face/StageMatchEngine_Face_LFA.h"
#include "engines/face/StageMatchEngine_Face_STA.h"
#include "engines/face/StageMatchEngine_Face_VFA.h"
#include "engines/iris/StageMatchEngine_Iris_Daugman.h"
#include "engines/iris/StageMatchEngine_Iris_Daugman_2010.h"
#include "support/EngineTesting.h"
#include "support/ExceptionMatchers.h"
#include "support/ForeignBlock.h"

namespace qridy {
namespace {

using quarlen_test::ForeignBlock;

class StageMatchEngineBaseTest : public quarlen_test::EngineConfigTest {};

TEST_F(StageMatchEngineBaseTest, FactoryMakesTheClassOfEveryCode) {
  struct Row {
    Algorithm code;
    const std::type_info& type;
  };
  const Row rowsL[] = {
      {AlgHgm, typeid(StageMatchEngine_Face_HGM)},
      {AlgSta, typeid(StageMatchEngine_Face_STA)},
      {AlgVfa, typeid(StageMatchEngine_Face_VFA)},
      {AlgVfa2, typeid(StageMatchEngine_Face_VFA)},
      {AlgVfa3, typeid(StageMatchEngine_Face_VFA)},
      {AlgLfa, typeid(StageMatchEngine_Face_LFA)},
      {AlgLfaLowRes, typeid(StageMatchEngine_Face_LFA)},
      {AlgLfaIlmSb, typeid(StageMatchEngine_Face_LFA)},
      {AlgHgmFloat, typeid(StageMatchEngine_Face_HgmFloat)},
      {AlgHgmByte, typeid(StageMatchEngine_Face_HgmByte)},
      {AlgHgmPyr, typeid(StageMatchEngine_Face_HgmPyr)},
      {AlgHgmPyrByte, typeid(StageMatchEngine_Face_HgmPyrByte)},
      {AlgHgmPyrFloat, typeid(StageMatchEngine_Face_HgmPyrFloat)},
      {AlgHgmPyrBit, typeid(StageMatchEngine_Face_HgmPyrBit)},
      {AlgL3Jim, typeid(StageMatchEngine_Face_L3Jim)},
      {AlgL1Jim, typeid(StageMatchEngine_Face_L1Jim)},
      {AlgL2Jim, typeid(StageMatchEngine_Face_L2Jim)},
      {AlgHgmPyrBitSmwSb, typeid(StageMatchEngine_Face_HgmPyrBit_SmwSb)},
      {AlgMvxIris2PiSdk, typeid(StageMatchEngine_Iris_Daugman)},
  };
  for (const Row& r : rowsL) {
    const auto engineL = create(r.code);
    ASSERT_NE(engineL, nullptr);
    EXPECT_EQ(typeid(*engineL), r.type) << Types::algorithm2Text(r.code);
    EXPECT_EQ(engineL->algorithm(), r.code);
  }
}

TEST_F(StageMatchEngineBaseTest, Daugman2010FollowsUseDaugmanAndThePopcntTest) {
  ASSERT_TRUE(CpuFeatures::hasPopcnt()) << "the tests assume a processor with POPCNT";
  EXPECT_EQ(typeid(*create(AlgDaugman2010)), typeid(StageMatchEngine_Iris_Daugman_2010_POPCNT));
  useConfig("useDaugman = true\n");
  EXPECT_EQ(typeid(*create(AlgDaugman2010)), typeid(StageMatchEngine_Iris_Daugman_2010));
  // Read at every creation, not cached.
  useConfig("useDaugman = false\n");
  EXPECT_EQ(typeid(*create(AlgDaugman2010)), typeid(StageMatchEngine_Iris_Daugman_2010_POPCNT));
}

TEST_F(StageMatchEngineBaseTest, CodesWithoutAnEngineFail) {
  for (unsigned codeL : {0u, 2u, 3u, 4u, 10u, 14u, 15u, 18u, 26u, 101u, 150u, 202u, 255u, 1000u}) {
    EXPECT_KXXCP_MESSAGE(StageMatchEngine_Base::createStageEngine(static_cast<Algorithm>(codeL)),
                         "Engine was not created, unknown algorithm !");
  }
  try {
    StageMatchEngine_Base::createStageEngine(AlgFmf);
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getFunction(), "qridy::StageMatchEngine_Base::createStageEngine");
    EXPECT_EQ(e.errorCode(), -1);
  }
}

TEST_F(StageMatchEngineBaseTest, ProbeIsCopiedAlignedAndZeroPadded) {
  auto engineL = create(AlgHgm);
  std::vector<unsigned char> probeL(17, 0xAB);
  engineL->setProbeForIdentification(probeL.data(), 17);
  ASSERT_EQ(engineL->probeDataSize(), 32u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(engineL->probeData()) % 16, 0u);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(engineL->probeData()[i], 0xAB);
  for (int i = 17; i < 32; ++i) EXPECT_EQ(engineL->probeData()[i], 0) << i;
  probeL[0] = 0;  // a copy, not a view
  EXPECT_EQ(engineL->probeData()[0], 0xAB);
  const std::vector<unsigned char> fullL(32, 1);
  engineL->setProbeForIdentification(fullL.data(), 32);
  EXPECT_EQ(engineL->probeDataSize(), 32u);

  engineL->setProbeIsGalleryData(true);
  EXPECT_TRUE(engineL->probeIsGalleryData());
  engineL->releaseProbe();
  EXPECT_EQ(engineL->probeData(), nullptr);
  EXPECT_EQ(engineL->probeDataSize(), 0u);
  EXPECT_FALSE(engineL->probeIsGalleryData());
}

// Records what verify hands to matchGallery.
class RecordingEngine : public StageMatchEngine_Base {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override {
    galleryM = galleryDataA;
    gallerySizeM = gallerySizeA;
    probeSizeM = probeDataSize();
    return 0.25f;
  }
  const unsigned char* galleryM = nullptr;
  unsigned int gallerySizeM = 99;
  std::uint32_t probeSizeM = 99;
};

TEST_F(StageMatchEngineBaseTest, EmptyProbesAndGalleriesPassAsNoBytes) {
  RecordingEngine engineL;
  const std::vector<unsigned char> bytesL(17, 3);
  // No data or no size: no probe, nothing copied or thrown.
  engineL.setProbeForIdentification(bytesL.data(), 17);
  engineL.setProbeForIdentification(bytesL.data(), 0);
  EXPECT_EQ(engineL.probeData(), nullptr);
  EXPECT_EQ(engineL.probeDataSize(), 0u);
  engineL.setProbeForIdentification(nullptr, 17);
  EXPECT_EQ(engineL.probeData(), nullptr);
  EXPECT_EQ(engineL.probeDataSize(), 0u);
  // verify: a gallery without bytes reaches the engine as null and 0; a real one as an aligned
  // copy of its size; the probe is padded and released afterwards.
  EXPECT_EQ(engineL.verify(bytesL.data(), 17, nullptr, 5), 0.25f);
  EXPECT_EQ(engineL.galleryM, nullptr);
  EXPECT_EQ(engineL.gallerySizeM, 0u);
  EXPECT_EQ(engineL.probeSizeM, 32u);
  EXPECT_EQ(engineL.verify(bytesL.data(), 17, bytesL.data(), 0), 0.25f);
  EXPECT_EQ(engineL.galleryM, nullptr);
  EXPECT_EQ(engineL.gallerySizeM, 0u);
  EXPECT_EQ(engineL.verify(bytesL.data(), 16, bytesL.data(), 3), 0.25f);
  EXPECT_NE(engineL.galleryM, bytesL.data());
  EXPECT_EQ(engineL.gallerySizeM, 3u);
  EXPECT_EQ(engineL.probeSizeM, 16u);
  EXPECT_EQ(engineL.probeData(), nullptr);
}

TEST_F(StageMatchEngineBaseTest, AProbeThatCannotBeAllocatedKeepsThePreviousOne) {
  auto engineL = create(AlgHgm);
  const std::vector<unsigned char> probeL(16, 1);
  engineL->setProbeForIdentification(probeL.data(), 16);
  // 4294967295 bytes round up past 32 bits: no buffer can be had (and none is read).
  EXPECT_KXXCP_MESSAGE(engineL->setProbeForIdentification(probeL.data(), 0xFFFFFFFFu),
                       "Could not allocate aligned memory for probe \nalgorithm == hgm\n"
                       "aligned data size == 4294967296\n");
  EXPECT_EQ(engineL->probeDataSize(), 16u);
  EXPECT_KXXCP_MESSAGE(engineL->verify(probeL.data(), 16, probeL.data(), 0xFFFFFFFFu),
                       "Could not allocate aligned memory for gallery template \nalgorithm == hgm\n"
                       "aligned data size == 4294967296\n");
}

TEST_F(StageMatchEngineBaseTest, ParametersAndFixedAnswers) {
  auto engineL = create(AlgHgmFloat);
  EXPECT_EQ(engineL->getParameter(4), 0xFFFFFFFFu);
  engineL->setParameter(4, 8);
  engineL->setParameter(-7, 0);
  engineL->setParameter(4, 9);
  EXPECT_EQ(engineL->getParameter(4), 9u);
  EXPECT_EQ(engineL->getParameter(-7), 0u);
  EXPECT_EQ(engineL->minScore(), -10000.0f);
  const unsigned char dataL[4] = {1, 2, 3, 4};
  EXPECT_EQ(engineL->minutiaCount(dataL), 0);
  EXPECT_EQ(engineL->templateInfoText(dataL, 4, true), "");
}

TEST_F(StageMatchEngineBaseTest, ExtractRawDataTakesTheRequestedPart) {
  auto engineL = create(AlgHgm);
  TemplateBlock_Common blockL(AlgHgm);
  const unsigned char probeL[3] = {1, 2, 3};
  const unsigned char galleryL[5] = {4, 5, 6, 7, 8};
  blockL.setData(probeL, 3, galleryL, 5, false);
  unsigned int sizeL = 99;
  const unsigned char* dataL = engineL->extractRawData(&blockL, sizeL, true);
  EXPECT_EQ(sizeL, 3u);
  EXPECT_EQ(dataL, blockL.probeDataPtr());
  dataL = engineL->extractRawData(&blockL, sizeL, false);
  EXPECT_EQ(sizeL, 5u);
  EXPECT_EQ(dataL, blockL.galleryDataPtr());
  // A block without a probe part: size 0.
  blockL.setData(nullptr, 0, galleryL, 5, false);
  engineL->extractRawData(&blockL, sizeL, true);
  EXPECT_EQ(sizeL, 0u);

  ForeignBlock foreignL;
  sizeL = 99;
  EXPECT_KXXCP_MESSAGE(engineL->extractRawData(&foreignL, sizeL, true),
                       "Bad dynamic cast could not extract template data Incoming Template is : "
                       "(hgmFloat))");
  EXPECT_EQ(sizeL, 0u);
  for (Algorithm codeL : {AlgSta, AlgLfa}) {
    auto libraryEngineL = create(codeL);
    EXPECT_KXXCP_MESSAGE(libraryEngineL->extractRawData(&foreignL, sizeL, false),
                         "Bad dynamic cast could not extract template data");
  }
}

TEST_F(StageMatchEngineBaseTest, VerifyScoresOnePairAndReleasesTheProbe) {
  auto engineL = create(AlgHgm);
  std::vector<unsigned char> aL(32, 0x0F), bL(32, 0x0F);
  bL[31] = 0x0E;  // one bit of 256 differs
  EXPECT_EQ(engineL->verify(aL.data(), 32, bL.data(), 32), 255.0f / 256.0f);
  EXPECT_EQ(engineL->probeData(), nullptr);
}

TEST_F(StageMatchEngineBaseTest, WritesFuzzSeedsOnRequest) {
  const char* requestL = std::getenv("QUARLEN_WRITE_SEEDS");
  if (requestL == nullptr || std::string(requestL) != "1") GTEST_SKIP() << "seeds not requested";
  const std::string dataDirL = QUARLEN_TEST_DATA_DIR;  // <source>/tests/data
  const std::string dirL =
      dataDirL.substr(0, dataDirL.rfind("/tests/data")) + "/fuzz/seeds/fuzz_match_engines/";
  // The order of the fuzz target's engine list; a seed is: index, probe length, probe, gallery.
  const Algorithm codesL[] = {
      AlgHgm,           AlgSta,        AlgVfa,    AlgLfa,        AlgLfaIlmSb,
      AlgHgmFloat,      AlgHgmByte,    AlgHgmPyr, AlgHgmPyrByte, AlgHgmPyrFloat,
      AlgHgmPyrBit,     AlgL3Jim,      AlgL1Jim,  AlgL2Jim,      AlgHgmPyrBitSmwSb,
      AlgMvxIris2PiSdk, AlgDaugman2010};
  std::mt19937 rngL(8);
  std::uniform_real_distribution<float> valueL(-1.0f, 1.0f);
  auto floats = [&](std::size_t nA) {
    std::vector<float> vL(nA);
    for (auto& v : vL) v = valueL(rngL);
    return vL;
  };
  for (unsigned char index = 0; index < sizeof(codesL) / sizeof(codesL[0]); ++index) {
    std::vector<unsigned char> probeL, galleryL;
    switch (codesL[index]) {
      case AlgSta: {
        std::vector<kxegm::STAPoint> pointsL(3);
        for (auto& p : pointsL) p.descriptor = floats(8);
        probeL = kxegm::STAEngine::encode(pointsL, false);
        galleryL = kxegm::STAEngine::encode(pointsL, true);
        break;
      }
      case AlgLfa:
      case AlgLfaIlmSb:
        probeL = kxegm::LFAEngine::encode(codesL[index], 2, 8, floats(16), {0.1f, 0.2f}, {1, 1});
        galleryL = kxegm::LFAEngine::encode(codesL[index], 2, 8, floats(16), {0.1f, 0.2f}, {1, 1});
        break;
      case AlgHgmPyr: {
        kxegm::PyramidLevel levelL;
        levelL.nodeCount = 2;
        levelL.featureLength = 8;
        levelL.features = floats(16);
        probeL = kxegm::FaceHGM::encodeTemplate(kxegm::PyramidDataType::Byte, {levelL});
        galleryL = probeL;
        break;
      }
      case AlgMvxIris2PiSdk:
      case AlgDaugman2010:
        probeL = quarlen_test::randomBytes(rngL, 256);
        galleryL = probeL;
        break;
      default: {
        const auto fL = floats(16);
        probeL.resize(64);
        std::memcpy(probeL.data(), fL.data(), 64);
        galleryL = probeL;
        galleryL[5] ^= 0x40;
      }
    }
    std::string seedL(1, static_cast<char>(index));
    seedL += static_cast<char>(probeL.size() & 0xFF);
    seedL += static_cast<char>(probeL.size() >> 8);
    seedL.append(probeL.begin(), probeL.end());
    seedL.append(galleryL.begin(), galleryL.end());
    std::ofstream fileL(dirL + Types::algorithm2Text(codesL[index]) + ".bin",
                        std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(fileL.good()) << dirL;
    fileL.write(seedL.data(), static_cast<std::streamsize>(seedL.size()));
  }
}

}  // namespace
}  // namespace qridy
