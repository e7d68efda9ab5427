// Hostile pipeline XML: MultipassConfig::read either yields a configuration that can be queried,
// changed and dumped, or throws kxxcp::Exception; anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <qrlcore/Exception.h>
#include <quarlen/MultipassConfig.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  const std::string textL(reinterpret_cast<const char*>(dataA), sizeA);
  qrbase::MultipassConfig configL;
  try {
    configL.readText(textL, "p", "fuzz.xml");
  } catch (const kxxcp::Exception&) {
  }
  // Whatever was read, even partly, must be usable.
  std::ostringstream osL;
  configL.info(osL);
  float valueL = 0.0f;
  for (unsigned i = 0; i < configL.getNumberOfStages(); ++i) {
    configL.getData(i, qrbase::MultipassConfig::ResultLengthMax, valueL);
    configL.setData(i, qrbase::MultipassConfig::ResultLengthMin, valueL);
  }
  configL.setDataToAllStages(qrbase::MultipassConfig::UseNormalization, 1.0f);
  qrbase::MultipassConfig copyL(configL);
  (void)configL.isCompatibe(copyL);
  return 0;
}
