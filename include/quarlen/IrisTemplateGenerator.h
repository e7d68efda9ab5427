#pragma once

#include <quarlen/IrisDescriptor.h>
#include <quarlen/TemplateGenerator_Base.h>

namespace qridy {
class IdRecordImp;
}

namespace qrbase {

// Turns an iris descriptor into one "mvxIris2PiSdk" (200) template block with iris metadata and
// files it into an identity record.
class QUARLEN_EXPORT IrisTemplateGenerator : public TemplateGenerator_Base {
 public:
  // The map holds the one algorithm this generator produces: 200, gallery and probe.
  IrisTemplateGenerator();

  // Does nothing: the iris generator has nothing to configure.
  void init(unsigned long long threadCountA, TemplateCreationMode modeA,
            const qridy::Algorithm* algorithmsA, unsigned countA);

  // An invalid descriptor is left alone and targetA stays unchanged. Otherwise one block of
  // algorithm 200 gets the descriptor's probe and gallery data (not symmetric) and iris
  // metadata made from the descriptor's iris quality check result (irisValue1 = usable bit
  // count, irisValue2 = iris diameter, quality unchanged), and is filed with
  // addGeneratedTemplateBlock.
  //
  // A descriptor without probe and gallery data but with an eye image (the preprocessed image,
  // else the input image) first has its iris code and quality check result made by the iris
  // library (kxegm::IrisCodeCreator), which are stored in the descriptor.
  //
  // Failures are thrown as "\nkxxcp caught: " followed by the caught message
  // ("\nunknown exc caught.\n" for anything else).
  void createTemplate(IrisDescriptor& descriptorA, qridy::IdRecordImp& targetA);

  // The same with empty probe and gallery data, so that a record can carry an iris entry
  // without iris data; no iris code is made.
  static void createDummyTemplate(IrisDescriptor& descriptorA, qridy::IdRecordImp& targetA);
};

}  // namespace qrbase
