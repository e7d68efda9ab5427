#include <quarlen/BioDescriptorList.h>

#include <gtest/gtest.h>

#include "support/ExceptionMatchers.h"

namespace qrbase {
namespace {

// Counts live instances, to see that the list deletes what it owns.
class CountedIris : public IrisDescriptor {
 public:
  explicit CountedIris(int& liveA) : liveM(liveA) { ++liveM; }
  ~CountedIris() override { --liveM; }

 private:
  int& liveM;
};

class BioDescriptorListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listM.add(new FaceDescriptor());
    listM.add(new EyeDescriptor());
    listM.add(new FingerprintDescriptor());
    listM.add(new IrisDescriptor());
  }
  BioDescriptorList listM;
};

TEST_F(BioDescriptorListTest, AccessorsCheckTheKind) {
  ASSERT_EQ(listM.size(), 4u);
  EXPECT_EQ(listM.getFaceDescriptor(0)->type(), BioDescriptorTypeFace);
  EXPECT_EQ(listM.getEyeDescriptor(0), listM.getFaceDescriptor(0));  // a face is an eye too
  EXPECT_EQ(listM.getEyeDescriptor(1)->type(), BioDescriptorTypeEye);
  EXPECT_EQ(listM.getFingerprintDescriptor(2)->type(), BioDescriptorTypeFingerprint);
  EXPECT_EQ(listM.getIrisDescriptor(3)->type(), BioDescriptorTypeIris);
  EXPECT_EQ(listM.getBioDescriptor(3), listM.getIrisDescriptor(3));

  EXPECT_KXXCP_MESSAGE(listM.getFaceDescriptor(1),
                       "dynamic cast failed, descriptorList with index 1is not a FaceDescriptor");
  EXPECT_KXXCP_MESSAGE(listM.getEyeDescriptor(2),
                       "dynamic cast failed, descriptorList with index 2is not a EyeDescriptor");
  EXPECT_KXXCP_MESSAGE(
      listM.getFingerprintDescriptor(3),
      "dynamic cast failed, descriptorList with index 3is not a FingerprintDescriptor");
  EXPECT_KXXCP_MESSAGE(listM.getIrisDescriptor(0),
                       "dynamic cast failed, descriptorList with index 0is not a IrisDescriptor");
}

TEST_F(BioDescriptorListTest, IndexOutOfRangeIsWrapped) {
  for (auto accessL : {+[](const BioDescriptorList& l) { l.getBioDescriptor(4); },
                       +[](const BioDescriptorList& l) { l.getFaceDescriptor(4); },
                       +[](const BioDescriptorList& l) { l.getIrisDescriptor(99); }}) {
    EXPECT_KXXCP_PREFIX(accessL(listM), "\nstd::exc caught: ");
  }
  listM.clear();
  EXPECT_EQ(listM.size(), 0u);
  EXPECT_KXXCP_PREFIX(listM.getBioDescriptor(0), "\nstd::exc caught: ");
}

TEST_F(BioDescriptorListTest, TheListOwnsItsDescriptors) {
  int liveL = 0;
  {
    BioDescriptorList listL;
    listL.add(new CountedIris(liveL));
    listL.add(nullptr);  // ignored
    listL.add(new CountedIris(liveL));
    EXPECT_EQ(listL.size(), 2u);
    EXPECT_EQ(liveL, 2);
    listL.clear();
    EXPECT_EQ(liveL, 0);
    listL.add(new CountedIris(liveL));
  }
  EXPECT_EQ(liveL, 0);
}

}  // namespace
}  // namespace qrbase
