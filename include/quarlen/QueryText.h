#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <quarlen/QuarlenExport.h>

namespace qridy {

// The readable text form of probe queries (see QueryLanguage for the word form) and of the
// attribute values of a record.
//
// Query text, keywords in any letter case, "and" binding tighter than "or", no parentheses:
//   query     := clause { "or" clause }
//   clause    := condition { "and" condition }
//   condition := attr "=" v | attr "==" v | attr "!=" v | attr ">" v | attr "<" v
//              | attr ">=" v | attr "<=" v | attr "&" v | attr "!&" v
//              | attr "in" v ".." v | attr "not" "in" v ".." v
// for example "region=7 and flags&3 or age in 10..20". ">= v" and "<= v" become the ranges
// v..4294967295 and 0..v. attr is a declared name or "a<i>", the record's word i (a0 is the
// record's own value, a1 .. aN its attributes); v is a decimal or 0x-hexadecimal number of at
// most 32 bits.
//
// Attribute names: the names given to the constructor denote attributes 1, 2, ... in order.
// fromConfiguration() takes them from the system configuration, section "QUERY_LANGUAGE", key
// "attributeNames": a comma-separated list.
//
// Errors are kxxcp::Exception with the column (1-based) where the text goes wrong:
// "Query text, column <c>: <reason>."
//
// A value type; every member only reads.
class QUARLEN_EXPORT QueryText {
 public:
  // namesA[i] names attribute i + 1. A name starts with a letter or '_', goes on with letters,
  // digits and '_', and is neither a keyword (and, or, not, in) nor of the form a<digits>, nor
  // given twice; else throws "Query attribute name '<name>' <reason>.".
  explicit QueryText(std::vector<std::string> namesA = {});
  // The names of the installed system configuration (none when the key is absent).
  static QueryText fromConfiguration();

  const std::vector<std::string>& names() const { return namesM; }
  // The word index of an attribute (a declared name or a<i>); -1 when it names none.
  long attributeIndex(const std::string& nameA) const;
  // The text of attribute index iA: its declared name, else "a<i>".
  std::string attributeName(unsigned int iA) const;

  // The terminated word form of a query text, checked against the current number of
  // attributes (QueryLanguage::attributeSize(): "attribute '<name>' is word <i>, a record has
  // words 0 to <N>") and by QueryLanguage::validateQuery.
  std::vector<unsigned int> compile(const std::string& textA) const;
  // The text of a query of countA words (validated first). Throws "Query word <i>: operator
  // <op> has no text form." for an unknown operator and "Query word 0: a query that selects
  // nothing has no text form." for a first clause of length 0. compile(toText(q)) gives q back.
  std::string toText(const unsigned int* queryA, std::size_t countA) const;

  // Sets the words that assignmentsA names: "name=value" items separated by commas or spaces,
  // for example "region=7, age=15". wordsA holds the N + 1 words of a record; an index beyond
  // it is refused like in compile. Returns the indexes of the words set, in text order.
  std::vector<unsigned int> assign(const std::string& assignmentsA,
                                   std::vector<unsigned int>& wordsA) const;

 private:
  std::vector<std::string> namesM;
};

}  // namespace qridy
