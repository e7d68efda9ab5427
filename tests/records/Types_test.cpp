#include <quarlen/Types.h>

#include <cstddef>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

namespace qridy {
namespace {

// The text tables written out, value by value: a renamed text fails here.
struct AlgorithmTexts {
  unsigned value;
  const char* written;  // algorithm2Text
  const char* read;     // what text2Algorithm accepts
};
const AlgorithmTexts kAlgorithms[] = {
    {1, "hgm", "hgm"},
    {2, "fmf", "fmf"},
    {3, "dicar", "dicar"},
    {4, "fHgm", "fhgm"},
    {5, "sta", "sta"},
    {6, "vfa", "vfa"},
    {7, "lfa", "lfa"},
    {8, "lfaLowRes", "lfaLowRes"},
    {9, "lfaIlmSb", "lfaIlmSb"},
    {10, "hgmRaw", "hgmRaw"},
    {11, "hgmFloat", "hgmFloat"},
    {12, "hgmByte", "hgmByte"},
    {13, "vfa2", "vfa2"},
    {14, "cca", "cca"},
    {15, "fHgmRaw", "fhgmRaw"},
    {16, "hgmPyr", "hgmPyr"},
    {17, "vfa3", "vfa3"},
    {18, "hgmPyrRaw", "hgmPyrRaw"},
    {19, "hgmPyrByte", "hgmPyrByte"},
    {20, "hgmPyrFloat", "hgmPyrFloat"},
    {21, "hgmPyrBit", "hgmPyrBit"},
    {22, "l3Jim", "l3Jim"},
    {23, "l1Jim", "l1Jim"},
    {24, "l2Jim", "l2Jim"},
    {25, "hgmPyrBitSmwSb", "hgmPyrBitSmwSb"},
    {101, "bioengineSdk", "bioengineSdk"},
    {150, "l1b", "l1b"},
    {151, "l2f", "l2f"},
    {152, "l2m", "l2m"},
    {153, "l1v", "l1v"},
    {154, "l2v", "l2v"},
    {155, "l2f360", "l2f360"},
    {156, "fva", "fva"},
    {157, "l2fi", "l2fi"},
    {200, "mvxIris2PiSdk", "mvxIris2PiSdk"},
    {201, "daugman2010", "daugman2010"},
};

struct ValueText {
  unsigned value;
  const char* text;
};
const ValueText kModalities[] = {{1, "face"}, {2, "fingerprint"}, {3, "iris"}};
const ValueText kInstances[] = {
    {11, "faceFrontal"},        {100, "fingerUnknown"},     {101, "fingerRightThumb"},
    {102, "fingerRightIndex"},  {103, "fingerRightMiddle"}, {104, "fingerRightRing"},
    {105, "fingerRightLittle"}, {106, "fingerLeftThumb"},   {107, "fingerLeftIndex"},
    {108, "fingerLeftMiddle"},  {109, "fingerLeftRing"},    {110, "fingerLeftLittle"},
    {200, "irisLeft"},          {201, "irisRight"},
};
const ValueText kImpressions[] = {
    {0, "livePlain"},     {1, "liveRolled"},       {2, "nonlivePlain"},
    {3, "nonliveRolled"}, {4, "latentImpression"}, {5, "latentTracing"},
    {6, "latentPhoto"},   {7, "latentLift"},       {8, "swipe"},
};

// The listed text for each listed value, "unknown" for every other value below 70000 (the
// "any" value 65535 included).
template <typename Enum, typename Row, std::size_t N, typename Text, typename ToText>
void expectTextOfEveryValue(const Row (&rowsA)[N], Text textOfA, ToText toTextA) {
  std::map<unsigned, std::string> expectedL;
  for (const Row& r : rowsA) expectedL[r.value] = textOfA(r);
  for (unsigned v = 0; v < 70000; ++v) {
    const auto itL = expectedL.find(v);
    const std::string wantL = itL == expectedL.end() ? "unknown" : itL->second;
    if (toTextA(static_cast<Enum>(v)) != wantL) {
      ADD_FAILURE() << v << ": '" << toTextA(static_cast<Enum>(v)) << "' instead of '" << wantL
                    << "'";
    }
  }
}

TEST(TypesTest, EveryAlgorithmWithItsWrittenAndReadText) {
  expectTextOfEveryValue<Algorithm>(
      kAlgorithms, [](const AlgorithmTexts& r) { return r.written; }, Types::algorithm2Text);
  for (const AlgorithmTexts& r : kAlgorithms) {
    EXPECT_EQ(Types::text2Algorithm(r.read), static_cast<Algorithm>(r.value)) << r.read;
  }
  // The written forms of 4 and 15 do not read back.
  EXPECT_EQ(Types::text2Algorithm("fHgm"), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm("fHgmRaw"), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm("HGM"), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm(""), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm(nullptr), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm("hgm "), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm("unknown"), AlgUnknown);
}

TEST(TypesTest, EveryModalityAndInstanceWithItsText) {
  expectTextOfEveryValue<Modality>(
      kModalities, [](const ValueText& r) { return r.text; }, Types::modality2Text);
  for (const ValueText& r : kModalities) {
    EXPECT_EQ(Types::text2Modality(r.text), static_cast<Modality>(r.value)) << r.text;
  }
  EXPECT_EQ(Types::text2Modality("anyModality"), ModalityAny);
  EXPECT_EQ(static_cast<unsigned>(ModalityAny), 65535u);
  EXPECT_EQ(Types::text2Modality("Face"), ModalityUnknown);
  EXPECT_EQ(Types::text2Modality("unknown"), ModalityUnknown);

  expectTextOfEveryValue<Instance>(
      kInstances, [](const ValueText& r) { return r.text; }, Types::instance2Text);
  for (const ValueText& r : kInstances) {
    EXPECT_EQ(Types::text2Instance(r.text), static_cast<Instance>(r.value)) << r.text;
  }
  EXPECT_EQ(static_cast<unsigned>(InstanceAny), 65535u);
  EXPECT_EQ(Types::text2Instance("ir"), InstanceUnknown);
  EXPECT_EQ(Types::text2Instance("irisleft"), InstanceUnknown);
  EXPECT_EQ(Types::text2Instance("unknown"), InstanceUnknown);
}

TEST(TypesTest, EveryImpressionTypeWithItsText) {
  expectTextOfEveryValue<FingerImpressionType>(
      kImpressions, [](const ValueText& r) { return r.text; }, Types::fingerImpressionType2Text);
  for (const ValueText& r : kImpressions) {
    EXPECT_EQ(Types::text2FingerImpressionType(r.text), static_cast<FingerImpressionType>(r.value))
        << r.text;
  }
  // Any other text is the default, latentImpression.
  EXPECT_EQ(Types::text2FingerImpressionType("rolled"), ImpressionLatentImpression);
  EXPECT_EQ(Types::text2FingerImpressionType("unknown"), ImpressionLatentImpression);
}

TEST(TypesTest, EveryCreationTypeWithItsText) {
  const ValueText kCreationTypes[] = {{1, "TemplateCreationTypeGallery"},
                                      {2, "TemplateCreationTypeProbe"},
                                      {3, "TemplateCreationTypeGalleryAndProbe"}};
  expectTextOfEveryValue<qrbase::TemplateCreationType>(
      kCreationTypes, [](const ValueText& r) { return r.text; },
      qrbase::Types::templateCreationType2Text);
}

TEST(TypesTest, BioTripleTextAndHashKey) {
  EXPECT_EQ(Types::bioTriple2Text({ModalityFace, InstanceFaceFrontal, AlgHgm}),
            "(face/faceFrontal/hgm)");
  EXPECT_EQ(Types::bioTriple2Text({ModalityIris, InstanceIrisLeft, AlgDaugman2010}),
            "(iris/irisLeft/daugman2010)");
  EXPECT_EQ(Types::bioTriple2Text({}), "(unknown/unknown/unknown)");
  const BioMetricTriple t{ModalityIris, InstanceIrisRight, AlgDaugman2010};
  EXPECT_EQ(t.hashKey(), ((201ull << 16) + 3ull) << 32 | 201ull);
}

TEST(TypesTest, AlgorithmMaps) {
  const Algorithm list[] = {AlgHgm, AlgSta, AlgHgm};
  const auto m = Types::algorithmVector2Map(list, 3, qrbase::TemplateCreationTypeProbe);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m.at(AlgSta), qrbase::TemplateCreationTypeProbe);
  try {
    Types::algorithmVector2Map(list, 0, qrbase::TemplateCreationTypeProbe);
    FAIL() << "expected an exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "Invalid input argument.");
    EXPECT_EQ(e.getFunction(), "qridy::Types::algorithmVector2Map");
    EXPECT_EQ(e.errorCode(), -1);
  }
  EXPECT_THROW(Types::algorithmVector2Map(nullptr, 2, qrbase::TemplateCreationTypeProbe),
               kxxcp::Exception);
  const auto d = Types::createDefaultAlgorithmMap(m, qrbase::TemplateCreationTypeGallery);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d.at(AlgHgm), qrbase::TemplateCreationTypeGallery);
  EXPECT_TRUE(Types::createDefaultAlgorithmMap({}, qrbase::TemplateCreationTypeGallery).empty());
}

}  // namespace
}  // namespace qridy
