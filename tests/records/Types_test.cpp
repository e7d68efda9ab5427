#include <quarlen/Types.h>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

namespace qridy {
namespace {

TEST(TypesTest, AlgorithmTextFormsRoundTripExceptTheCapitalHQuirk) {
  for (unsigned v = 0; v < 300; ++v) {
    const auto alg = static_cast<Algorithm>(v);
    const std::string text = Types::algorithm2Text(alg);
    if (text == "unknown") continue;
    if (alg == AlgFHgm || alg == AlgFHgmRaw) {
      EXPECT_EQ(Types::text2Algorithm(text.c_str()), AlgUnknown) << text;
    } else {
      EXPECT_EQ(Types::text2Algorithm(text.c_str()), alg) << text;
    }
  }
  EXPECT_EQ(Types::algorithm2Text(AlgFHgm), "fHgm");
  EXPECT_EQ(Types::algorithm2Text(AlgFHgmRaw), "fHgmRaw");
  EXPECT_EQ(Types::text2Algorithm("fhgm"), AlgFHgm);
  EXPECT_EQ(Types::text2Algorithm("fhgmRaw"), AlgFHgmRaw);
  EXPECT_EQ(Types::text2Algorithm("HGM"), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm(""), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm(nullptr), AlgUnknown);
  EXPECT_EQ(Types::text2Algorithm("hgm "), AlgUnknown);
  for (unsigned v : {0u, 26u, 100u, 149u, 158u, 199u, 202u, 255u}) {
    EXPECT_EQ(Types::algorithm2Text(static_cast<Algorithm>(v)), "unknown") << v;
  }
}

TEST(TypesTest, ModalityAndInstanceFallbacks) {
  EXPECT_EQ(Types::text2Modality("anyModality"), ModalityAny);
  EXPECT_EQ(Types::modality2Text(ModalityAny), "unknown");
  EXPECT_EQ(Types::modality2Text(ModalityUnknown), "unknown");
  EXPECT_EQ(Types::text2Modality("Face"), ModalityUnknown);
  EXPECT_EQ(Types::text2Modality("iris"), ModalityIris);

  EXPECT_EQ(Types::text2Instance("ir"), InstanceUnknown);
  EXPECT_EQ(Types::text2Instance("irisleft"), InstanceUnknown);
  EXPECT_EQ(Types::text2Instance("irisLeft"), InstanceIrisLeft);
  EXPECT_EQ(Types::text2Instance("faceFrontal"), InstanceFaceFrontal);
  EXPECT_EQ(Types::instance2Text(InstanceAny), "unknown");
  for (unsigned v = 100; v <= 110; ++v) {
    const auto inst = static_cast<Instance>(v);
    EXPECT_EQ(Types::text2Instance(Types::instance2Text(inst).c_str()), inst) << v;
  }
  EXPECT_EQ(Types::instance2Text(static_cast<Instance>(111)), "unknown");
}

TEST(TypesTest, ImpressionTypeDefaultsToLatentImpression) {
  for (unsigned v = 0; v <= 8; ++v) {
    const auto t = static_cast<FingerImpressionType>(v);
    EXPECT_EQ(Types::text2FingerImpressionType(Types::fingerImpressionType2Text(t).c_str()), t);
  }
  EXPECT_EQ(Types::text2FingerImpressionType("rolled"), ImpressionLatentImpression);
  EXPECT_EQ(Types::fingerImpressionType2Text(ImpressionLatentImpression), "latentImpression");
  EXPECT_EQ(Types::fingerImpressionType2Text(static_cast<FingerImpressionType>(9)), "unknown");
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
  EXPECT_EQ(qrbase::Types::templateCreationType2Text(qrbase::TemplateCreationTypeGalleryAndProbe),
            "TemplateCreationTypeGalleryAndProbe");
  EXPECT_EQ(qrbase::Types::templateCreationType2Text(static_cast<qrbase::TemplateCreationType>(0)),
            "unknown");
}

}  // namespace
}  // namespace qridy
