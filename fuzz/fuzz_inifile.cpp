// INI reader: any bytes either read or fail with kxxcp::Exception; every key read back as text
// and as 32-bit numbers behaves the same way.
#include <qrlcore/Exception.h>
#include <qrlcore/IniFile.h>
#include <qrlcore/StringUtils.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  const std::string textL(reinterpret_cast<const char*>(dataA), sizeA);
  kxutl::IniFile iniL;
  std::istringstream streamL(textL);
  try {
    iniL.read(streamL);
  } catch (const kxxcp::Exception&) {
    if (!iniL.sections().empty()) __builtin_trap();  // a failed read leaves nothing behind
    return 0;
  }
  for (const auto& sectionL : iniL.sections()) {
    for (const auto& entryL : sectionL.entriesM) {
      std::string valueL;
      if (!iniL.getStdString(sectionL.nameM, entryL.keyM, valueL)) __builtin_trap();
      std::int32_t signedL = 0;
      std::uint32_t unsignedL = 0;
      try {
        iniL.getZNint32(sectionL.nameM, entryL.keyM, signedL);
      } catch (const kxxcp::Exception&) {
      }
      try {
        iniL.getZNuint32(sectionL.nameM, entryL.keyM, unsignedL);
      } catch (const kxxcp::Exception&) {
      }
      kxutl::StringUtils::checkEnvironment(valueL);
    }
  }
  return 0;
}
