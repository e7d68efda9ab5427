// Hostile bytes as the metadata file "metaData.dat" of a gallery folder: recovery must either
// fill the registry with entries that can all be found again, or throw kxxcp::Exception and
// leave it empty and usable.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <qrlcore/Exception.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "RegistrySetup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  const std::string folderL = fuzzing::registryDir() + "/gallery";
  std::system(("mkdir -p " + folderL).c_str());
  {
    std::FILE* fL = std::fopen((folderL + "/metaData.dat").c_str(), "wb");
    if (fL == nullptr) std::abort();
    if (sizeA != 0) std::fwrite(dataA, 1, sizeA, fL);
    std::fclose(fL);
  }
  qridy::UniqueMetadataContainer umcL(qridy::ModalityIris);
  umcL.setFidFileFolder(folderL, true);
  std::size_t readL = 0;
  bool failedL = false;
  try {
    readL = umcL.recoverData();
  } catch (const kxxcp::Exception&) {
    failedL = true;
  }
  if (failedL && umcL.size() != 0) std::abort();  // a half-filled registry
  if (!failedL && readL != umcL.size()) std::abort();
  for (const qridy::IdentityMetadata* mL : umcL.getInternalMetadataVector()) {
    if (umcL.getMetaDataByIdRecordKey(mL->getIdRecordKey()) != mL) std::abort();
    if (mL->sid() != nullptr && umcL.getMetaDataBySID(mL->sid(), 8) == nullptr) std::abort();
  }
  // The registry stays usable: add, commit and remove.
  qridy::QueryLanguage qL;
  const unsigned char sidL[] = "fuzz";
  try {
    qridy::IdentityMetadata* mL =
        umcL.addIdRecordKey(qridy::IdRecordKey(~0ull, ~0ull), &qL, sidL, 4, false);
    umcL.commitIdRecordKey(mL);
  } catch (const kxxcp::Exception&) {
  }
  if (umcL.size() != 0) umcL.removeIdRecordKey(umcL.getMetaDataByIndex(0)->getIdRecordKey());
  return 0;
}
