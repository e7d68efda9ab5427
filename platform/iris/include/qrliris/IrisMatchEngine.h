#pragma once

#include <qrliris/IrisExport.h>

namespace kxegm {

// Converts iris codes between their record form (how templates store them) and the matcher form
// that the iris-code matcher compares (both in IrisCodeForms.h). Stateless once initialised;
// one object may serve several threads.
class QRLIRIS_EXPORT IrisMatchEngine {
 public:
  IrisMatchEngine();
  ~IrisMatchEngine();
  IrisMatchEngine(const IrisMatchEngine&) = delete;
  IrisMatchEngine& operator=(const IrisMatchEngine&) = delete;

  // Must be called once before the conversions.
  void init();
  bool isInitialised() const { return initialisedM; }

  // In place, over each whole code of irisforms::kCodeBytes bytes in dataA (a probe may carry
  // its code twice); bytes after the last whole code stay as they are, so sizes that are not a
  // multiple of the code size survive a round trip unchanged. Throw kxxcp::Exception
  // "IrisMatchEngine is not initialised." before init().
  // transformIrisCode: matcher form -> record form. untransformIrisCode: the inverse.
  void transformIrisCode(unsigned char* dataA, unsigned int sizeA) const;
  void untransformIrisCode(unsigned char* dataA, unsigned int sizeA) const;

 private:
  bool initialisedM = false;
};

}  // namespace kxegm
