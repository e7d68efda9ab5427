#include <qrlcore/IniFile.h>

#include <fstream>
#include <limits>

#include <qrlcore/Exception.h>

#include "ValueText.h"

namespace kxutl {

using valuetext::toLower;
using valuetext::trim;

IniFile::IniFile() : sourceNameM("stream") {}

IniFile::IniFile(const std::string& pathA) : sourceNameM(pathA) {
  std::ifstream fileL(pathA, std::ios::binary);
  if (!fileL) KXXCP_THROW("kxutl::IniFile::IniFile", "Cannot open INI file '" << pathA << "'.");
  read(fileL);
}

void IniFile::read(std::istream& streamA) {
  sectionsM.clear();
  indexM.clear();
  sectionIndexM.clear();
  try {
    std::string currentSectionL;
    std::string rawL;
    std::size_t lineNumberL = 0;
    while (std::getline(streamA, rawL)) {
      ++lineNumberL;
      if (!rawL.empty() && rawL.back() == '\r') rawL.pop_back();
      const std::string lineL = trim(rawL);
      if (lineL.empty() || lineL[0] == ';' || lineL[0] == '#') continue;
      if (lineL[0] == '[') {
        if (lineL.back() != ']' || lineL.size() < 2) {
          KXXCP_THROW("kxutl::IniFile::read", "Unterminated section header in line "
                                                  << lineNumberL << " of '" << sourceNameM << "': '"
                                                  << lineL << "'.");
        }
        currentSectionL = trim(lineL.substr(1, lineL.size() - 2));
        if (currentSectionL.empty()) {
          KXXCP_THROW("kxutl::IniFile::read", "Empty section name in line "
                                                  << lineNumberL << " of '" << sourceNameM << "'.");
        }
        if (sectionIndexM.count(toLower(currentSectionL)) == 0) {
          sectionIndexM[toLower(currentSectionL)] = sectionsM.size();
          sectionsM.push_back(Section{currentSectionL, {}});
        }
        continue;
      }
      const std::size_t equalsL = lineL.find('=');
      if (equalsL == std::string::npos) {
        KXXCP_THROW("kxutl::IniFile::read",
                    "Invalid line " << lineNumberL << " of '" << sourceNameM
                                    << "' (neither a section header, a key = value pair nor a "
                                       "comment): '"
                                    << lineL << "'.");
      }
      const std::string keyL = trim(lineL.substr(0, equalsL));
      if (keyL.empty()) {
        KXXCP_THROW("kxutl::IniFile::read", "Missing key name in line " << lineNumberL << " of '"
                                                                        << sourceNameM << "': '"
                                                                        << lineL << "'.");
      }
      std::string valueL = trim(lineL.substr(equalsL + 1));
      if (valueL.size() >= 2 && valueL.front() == '"' && valueL.back() == '"') {
        valueL = valueL.substr(1, valueL.size() - 2);
      }
      set(currentSectionL, keyL, valueL);
    }
    if (streamA.bad()) {
      KXXCP_THROW("kxutl::IniFile::read", "Cannot read INI text from '" << sourceNameM << "'.");
    }
  } catch (...) {
    sectionsM.clear();
    indexM.clear();
    sectionIndexM.clear();
    throw;
  }
}

void IniFile::set(const std::string& sectionA, const std::string& keyA, const std::string& valueA) {
  const std::string lowerSectionL = toLower(sectionA);
  auto sectionItL = sectionIndexM.find(lowerSectionL);
  if (sectionItL == sectionIndexM.end()) {
    sectionItL = sectionIndexM.emplace(lowerSectionL, sectionsM.size()).first;
    sectionsM.push_back(Section{sectionA, {}});
  }
  const std::size_t sectionL = sectionItL->second;
  const auto keyL = std::make_pair(lowerSectionL, toLower(keyA));
  const auto entryItL = indexM.find(keyL);
  if (entryItL != indexM.end()) {
    sectionsM[sectionL].entriesM[entryItL->second.second].valueM = valueA;
    return;
  }
  indexM[keyL] = std::make_pair(sectionL, sectionsM[sectionL].entriesM.size());
  sectionsM[sectionL].entriesM.push_back(Entry{keyA, valueA});
}

const std::string* IniFile::find(const std::string& sectionA, const std::string& keyA) const {
  const auto itL = indexM.find(std::make_pair(toLower(sectionA), toLower(keyA)));
  if (itL == indexM.end()) return nullptr;
  return &sectionsM[itL->second.first].entriesM[itL->second.second].valueM;
}

bool IniFile::has(const std::string& sectionA, const std::string& keyA) const {
  return find(sectionA, keyA) != nullptr;
}

bool IniFile::getStdString(const std::string& sectionA, const std::string& keyA,
                           std::string& outA) const {
  const std::string* valueL = find(sectionA, keyA);
  if (valueL == nullptr) return false;
  outA = *valueL;
  return true;
}

bool IniFile::getZNint32(const std::string& sectionA, const std::string& keyA,
                         std::int32_t& outA) const {
  const std::string* valueL = find(sectionA, keyA);
  if (valueL == nullptr) return false;
  long long parsedL = 0;
  if (!valuetext::parseInt64(*valueL, parsedL) ||
      parsedL < std::numeric_limits<std::int32_t>::min() ||
      parsedL > std::numeric_limits<std::int32_t>::max()) {
    KXXCP_THROW("kxutl::IniFile::getZNint32",
                "Value of key '" << keyA << "' in section '" << sectionA << "' of '" << sourceNameM
                                 << "' is not a 32-bit integer: '" << *valueL << "'.");
  }
  outA = static_cast<std::int32_t>(parsedL);
  return true;
}

bool IniFile::getZNuint32(const std::string& sectionA, const std::string& keyA,
                          std::uint32_t& outA) const {
  const std::string* valueL = find(sectionA, keyA);
  if (valueL == nullptr) return false;
  unsigned long long parsedL = 0;
  if (!valuetext::parseUint64(*valueL, parsedL) ||
      parsedL > std::numeric_limits<std::uint32_t>::max()) {
    KXXCP_THROW("kxutl::IniFile::getZNuint32",
                "Value of key '" << keyA << "' in section '" << sectionA << "' of '" << sourceNameM
                                 << "' is not an unsigned 32-bit integer: '" << *valueL << "'.");
  }
  outA = static_cast<std::uint32_t>(parsedL);
  return true;
}

}  // namespace kxutl
