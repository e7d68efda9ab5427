#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <qrlcore/CoreExport.h>

namespace kxutl {

// An INI file held in memory.
//
// Syntax, line by line (lines end with a line feed; a carriage return before it is dropped):
// - Blanks (spaces and tabs) at both ends of a line, a key and a value are ignored.
// - An empty line, or a line whose first character is ';' or '#', is a comment. Comments take
//   whole lines only: ';' and '#' inside a value belong to the value.
// - "[name]" starts the section "name". The line must end with ']'; the name may not be empty.
//   A section may appear several times; its keys accumulate.
// - "key = value" sets a key of the current section; the key is the text before the first '=',
//   the value everything after it (it may be empty). A value enclosed in double quotes loses the
//   quotes, so "  padded  " keeps its blanks. A key set twice keeps the later value.
// - Keys before the first section header belong to the section with the empty name.
// - Section and key names are matched without regard to ASCII letter case; values keep theirs.
// Anything else is malformed and read() throws kxxcp::Exception naming the line number.
//
// Not synchronised: concurrent const access is safe, mutation is not.
class QRLCORE_EXPORT IniFile {
 public:
  struct Entry {
    std::string keyM;  // as written first
    std::string valueM;
  };
  struct Section {
    std::string nameM;  // as written first
    std::vector<Entry> entriesM;
  };

  // An empty file: every getter answers false.
  IniFile();
  // Reads the file at pathA. Throws "Cannot open INI file '<path>'." when it cannot be opened,
  // and the read() errors (naming the path) when it is malformed.
  explicit IniFile(const std::string& pathA);

  // Replaces the content with what the stream delivers. Errors (sourceName() is the path, or
  // "stream" for an object constructed empty):
  //   "Unterminated section header in line <n> of '<source>': '<line>'."
  //   "Empty section name in line <n> of '<source>'."
  //   "Missing key name in line <n> of '<source>': '<line>'."
  //   "Invalid line <n> of '<source>' (neither a section header, a key = value pair nor a
  //    comment): '<line>'."
  //   "Cannot read INI text from '<source>'." (stream failure other than its end)
  // On an error the content is left empty.
  void read(std::istream& streamA);

  // Each getter returns whether the key is present and sets outA only then. A present value
  // that is not a (32-bit signed / unsigned) decimal integer throws
  //   "Value of key '<key>' in section '<section>' of '<source>' is not a 32-bit integer: '<v>'."
  //   "Value of key '<key>' in section '<section>' of '<source>' is not an unsigned 32-bit
  //    integer: '<v>'."
  bool getStdString(const std::string& sectionA, const std::string& keyA, std::string& outA) const;
  bool getZNint32(const std::string& sectionA, const std::string& keyA, std::int32_t& outA) const;
  bool getZNuint32(const std::string& sectionA, const std::string& keyA, std::uint32_t& outA) const;

  bool has(const std::string& sectionA, const std::string& keyA) const;
  // Null when absent. The pointer stays valid until the object is read again or destroyed.
  const std::string* find(const std::string& sectionA, const std::string& keyA) const;
  // Sections and their entries in the order they first appeared.
  const std::vector<Section>& sections() const { return sectionsM; }
  const std::string& sourceName() const { return sourceNameM; }

 private:
  void set(const std::string& sectionA, const std::string& keyA, const std::string& valueA);

  std::string sourceNameM;
  std::vector<Section> sectionsM;
  // (lower-case section, lower-case key) -> (section index, entry index)
  std::map<std::pair<std::string, std::string>, std::pair<std::size_t, std::size_t>> indexM;
  std::map<std::string, std::size_t> sectionIndexM;  // lower-case section -> index
};

}  // namespace kxutl
