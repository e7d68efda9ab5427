#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>

#include <quarlen/QuarlenExport.h>

namespace qridy {

// How processQueryLanguage applies a query to the candidates of a probe. Only the default mode
// is defined.
enum QueryFilterMode : std::uint32_t {
  QueryFilterModeDefault = 0,
};

// The query-language record of an identity: N + 1 unsigned 32-bit words. Word 0 is the record's
// own value (setAttributes' first argument), words 1 .. N the attributes. N is process-wide:
// fixed by setAttributeSize or, at its first use (attributeSize, a construction), from the
// configured byte size M of the query-language block (section "MAX_TEMPLATE_SIZE", key
// "QueryLanguage") as (M - 20) / 4, rounded toward minus infinity (a configuration without room
// for attributes gives N = 0).
// Once an object exists N cannot change until all objects are gone.
//
// A probe query is a caller-owned array of words: clauses, each a length L followed by L words
// of conditions, ended by a clause of length 0. A condition is (attribute index, operator,
// value) or, for the two range operators, (attribute index, operator, low, high). The query
// holds when some clause holds (OR); a clause holds when all its conditions hold (AND).
// Operators, with a the record's word at the attribute index, compared unsigned:
//   1 a == value         2 low <= a <= high           3 (a & value) != 0   4 a > value
//   0xFFFFFFFF a != value   0xFFFFFFFE a < low or a > high   0xFFFFFFFD (a & value) == 0
//   0xFFFFFFFC a < value    any other operator never holds.
// A null query matches everything; a query whose first clause length is 0 matches nothing.
//
// Evaluation never reads past a clause: a condition that does not fit into the rest of its
// clause, or an attribute index above N, fails its clause. The clause chain itself relies on
// the terminating 0: a query that comes from outside with a known length goes through
// validateQuery first.
//
// Threads: matchesQuery and attributes() only read. The static attribute count is read without
// locking once fixed.
class QUARLEN_EXPORT QueryLanguage {
 public:
  // Operator words.
  static constexpr std::uint32_t kEqual = 1;
  static constexpr std::uint32_t kInRange = 2;
  static constexpr std::uint32_t kAnyBit = 3;
  static constexpr std::uint32_t kGreater = 4;
  static constexpr std::uint32_t kNotEqual = 0xFFFFFFFFu;
  static constexpr std::uint32_t kOutOfRange = 0xFFFFFFFEu;
  static constexpr std::uint32_t kNoBit = 0xFFFFFFFDu;
  static constexpr std::uint32_t kLess = 0xFFFFFFFCu;

  // The number of attributes N (not counting word 0).
  static unsigned int attributeSize();
  // Fixes N before any object exists. Throws "number of attributes cannot be changed after
  // creating objects." while an object is alive, and "number of attributes in
  // QueryLanguage::setAttributeSize <n> greater than <(M - 20) / 4>" when n does not fit the
  // configured block size M.
  static void setAttributeSize(unsigned int nA);
  // The number of words of a query including every clause length and the terminating 0: for
  // clause lengths L1 .. Lk it is (L1 + 1) + ... + (Lk + 1) + 1; 0 for a null query. The query
  // must be terminated (see validateQuery).
  static unsigned int getProbeQuerySize(const unsigned int* queryA);
  // Checks a query of countA words that comes from outside: the terminating 0 lies within
  // countA words, every clause length equals the word count of its conditions (3, or 4 for the
  // range operators; unknown operators count 3 and never hold), and every attribute index is at
  // most N. A null query is valid. Throws kxxcp::Exception naming the offending word index:
  //   "Query word <i>: clause length <L> runs past the end of the query (<count> words)."
  //   "Query word <i>: the condition needs <k> words, its clause has <r> left."
  //   "Query word <i>: attribute index <a> is greater than the number of attributes <N>."
  //   "Query word <i>: the query ends without its terminating 0."
  static void validateQuery(const unsigned int* queryA, std::size_t countA);

  // All N + 1 words 0. The first construction may fix N from the configuration (see above).
  QueryLanguage();
  QueryLanguage(const QueryLanguage& otherA);
  // Copies the N + 1 words.
  QueryLanguage& operator=(const QueryLanguage& otherA);
  ~QueryLanguage();

  // The N + 1 words.
  const unsigned int* attributes() const { return wordsM; }
  // Word 0 := the low 32 bits of firstA; words 1 .. N := valuesA[0 .. N - 1]. A null valuesA
  // changes nothing.
  void setAttributes(std::uint64_t firstA, const unsigned int* valuesA);

  bool matchesQuery(const unsigned int* queryA) const;

  // Read or write exactly (N + 1) * 4 bytes, little-endian. Reading throws "Cannot read
  // QueryLanguage: the stream ends early." on a short stream (the words are then unchanged).
  void readPredefinedSize(std::istream& isA);
  void writePredefinedSize(std::ostream& osA) const;

  // The evaluation itself, on any N + 1 words: used for records kept outside a QueryLanguage.
  static bool matches(const unsigned int* wordsA, unsigned int attributeCountA,
                      const unsigned int* queryA);
  // Whether the condition (operator opA, values lowA and highA) holds for the attribute value
  // aA; unknown operators never hold.
  static bool conditionHolds(std::uint32_t opA, std::uint32_t aA, std::uint32_t lowA,
                             std::uint32_t highA) {
    switch (opA) {
      case kEqual:
        return aA == lowA;
      case kInRange:
        return lowA <= aA && aA <= highA;
      case kAnyBit:
        return (aA & lowA) != 0;
      case kGreater:
        return aA > lowA;
      case kNotEqual:
        return aA != lowA;
      case kOutOfRange:
        return aA < lowA || aA > highA;
      case kNoBit:
        return (aA & lowA) == 0;
      case kLess:
        return aA < lowA;
      default:
        return false;
    }
  }
  static bool isKnownOperator(std::uint32_t opA) {
    return opA == kEqual || opA == kInRange || opA == kAnyBit || opA == kGreater ||
           opA == kNotEqual || opA == kOutOfRange || opA == kNoBit || opA == kLess;
  }
  // The words of a condition with operator opA: 4 for the range operators, else 3.
  static std::uint32_t conditionWidth(std::uint32_t opA) {
    return opA == kInRange || opA == kOutOfRange ? 4u : 3u;
  }

 protected:
  // One conjunction of lengthA condition words, without clause framing; length 0 holds.
  bool matchesAttribute(const unsigned int* conditionsA, unsigned int lengthA) const;

 private:
  friend class IdentityMetadata;
  friend class IdRecordKeyContainerInternels;
  friend class UniqueMetadataContainer;
  // A record whose words live in storage owned by someone else (a metadata block); the words
  // are zeroed.
  explicit QueryLanguage(unsigned int* storageA);
  static void enter();
  static void leave();
  // Fixes N from the configuration unless it is fixed already.
  static void fixAttributeCount();

  unsigned int* wordsM = nullptr;
  bool ownsM = true;
};

}  // namespace qridy
