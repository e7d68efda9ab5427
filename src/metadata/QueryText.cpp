#include <quarlen/QueryText.h>

#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/QueryLanguage.h>

namespace qridy {

namespace {

constexpr const char* kCompile = "qridy::QueryText::compile";

enum class Kind { End, Name, Number, Symbol };

struct Token {
  Kind kind = Kind::End;
  std::string text;
  std::size_t column = 0;  // 1-based
};

bool startsName(char cA) {
  return std::isalpha(static_cast<unsigned char>(cA)) != 0 || cA == '_';
}
bool continuesName(char cA) {
  return std::isalnum(static_cast<unsigned char>(cA)) != 0 || cA == '_';
}

std::string lower(std::string textA) {
  for (char& c : textA) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return textA;
}

bool isKeyword(const std::string& wordA) {
  const std::string lL = lower(wordA);
  return lL == "and" || lL == "or" || lL == "not" || lL == "in";
}

// "a<digits>": the index, or -1.
long positionalIndex(const std::string& nameA) {
  if (nameA.size() < 2 || nameA.size() > 11 || nameA[0] != 'a') return -1;
  std::uint64_t vL = 0;
  for (std::size_t i = 1; i < nameA.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(nameA[i]))) return -1;
    vL = vL * 10 + static_cast<std::uint64_t>(nameA[i] - '0');
  }
  return vL > 0xFFFFFFFFull ? -1 : static_cast<long>(vL);
}

[[noreturn]] void fail(std::size_t columnA, const std::string& reasonA) {
  KXXCP_THROW(kCompile, "Query text, column " << columnA << ": " << reasonA << ".");
}

std::string describe(const Token& tA) {
  return tA.kind == Kind::End ? std::string("the end of the text") : "'" + tA.text + "'";
}

// Splits the text into names, numbers and operator symbols.
class Lexer {
 public:
  explicit Lexer(const std::string& textA) : textM(textA) {}

  Token next() {
    while (posM < textM.size() && std::isspace(static_cast<unsigned char>(textM[posM]))) ++posM;
    Token tL;
    tL.column = posM + 1;
    if (posM == textM.size()) return tL;
    const char cL = textM[posM];
    std::size_t endL = posM + 1;
    if (startsName(cL)) {
      tL.kind = Kind::Name;
      while (endL < textM.size() && continuesName(textM[endL])) ++endL;
    } else if (std::isdigit(static_cast<unsigned char>(cL))) {
      tL.kind = Kind::Number;
      while (endL < textM.size() && std::isalnum(static_cast<unsigned char>(textM[endL]))) ++endL;
    } else {
      tL.kind = Kind::Symbol;
      static const char* const kSymbols[] = {
          "..", "==", "!=", "!&", ">=", "<=", "=", ">", "<", "&", ","};
      bool foundL = false;
      for (const char* s : kSymbols) {
        const std::string symL(s);
        if (textM.compare(posM, symL.size(), symL) == 0) {
          endL = posM + symL.size();
          foundL = true;
          break;
        }
      }
      if (!foundL) fail(tL.column, "unexpected character '" + std::string(1, cL) + "'");
    }
    tL.text = textM.substr(posM, endL - posM);
    posM = endL;
    return tL;
  }

 private:
  const std::string& textM;
  std::size_t posM = 0;
};

std::uint32_t number(const Token& tA) {
  if (tA.kind != Kind::Number) fail(tA.column, "expected a number, found " + describe(tA));
  const std::string& sL = tA.text;
  const bool hexL = sL.size() > 2 && sL[0] == '0' && (sL[1] == 'x' || sL[1] == 'X');
  const unsigned baseL = hexL ? 16 : 10;
  std::uint64_t vL = 0;
  for (std::size_t i = hexL ? 2 : 0; i < sL.size(); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(sL[i])));
    unsigned dL = 0;
    if (c >= '0' && c <= '9') {
      dL = static_cast<unsigned>(c - '0');
    } else if (hexL && c >= 'a' && c <= 'f') {
      dL = static_cast<unsigned>(c - 'a' + 10);
    } else {
      fail(tA.column, "'" + sL + "' is not a number");
    }
    vL = vL * baseL + dL;
    if (vL > 0xFFFFFFFFull) fail(tA.column, "the number '" + sL + "' does not fit into 32 bits");
  }
  return static_cast<std::uint32_t>(vL);
}

}  // namespace

QueryText::QueryText(std::vector<std::string> namesA) : namesM(std::move(namesA)) {
  for (std::size_t i = 0; i < namesM.size(); ++i) {
    const std::string& nL = namesM[i];
    const char* reasonL = nullptr;
    if (nL.empty() || !startsName(nL[0])) {
      reasonL = "does not start with a letter or '_'";
    } else {
      for (char c : nL) {
        if (!continuesName(c)) reasonL = "holds a character other than letters, digits and '_'";
      }
    }
    if (reasonL == nullptr && isKeyword(nL)) reasonL = "is a keyword";
    if (reasonL == nullptr && positionalIndex(nL) >= 0) reasonL = "has the form of a word index";
    for (std::size_t j = 0; reasonL == nullptr && j < i; ++j) {
      if (namesM[j] == nL) reasonL = "is given twice";
    }
    if (reasonL != nullptr) {
      KXXCP_THROW("qridy::QueryText::QueryText",
                  "Query attribute name '" << nL << "' " << reasonL << ".");
    }
  }
}

QueryText QueryText::fromConfiguration() {
  std::vector<std::string> namesL;
  std::istringstream isL(
      kxutl::QuarlenInformation::getStdStringFromConfigFile("QUERY_LANGUAGE", "attributeNames"));
  std::string itemL;
  while (std::getline(isL, itemL, ',')) {
    const auto firstL = itemL.find_first_not_of(" \t");
    if (firstL == std::string::npos) continue;
    namesL.push_back(itemL.substr(firstL, itemL.find_last_not_of(" \t") + 1 - firstL));
  }
  return QueryText(std::move(namesL));
}

long QueryText::attributeIndex(const std::string& nameA) const {
  for (std::size_t i = 0; i < namesM.size(); ++i) {
    if (namesM[i] == nameA) return static_cast<long>(i + 1);
  }
  return positionalIndex(nameA);
}

std::string QueryText::attributeName(unsigned int iA) const {
  if (iA >= 1 && iA <= namesM.size()) return namesM[iA - 1];
  return "a" + std::to_string(iA);
}

namespace {

// The word index of the attribute token tA, checked against the record's words.
std::uint32_t attributeWord(const QueryText& namesA, const Token& tA) {
  if (tA.kind != Kind::Name || isKeyword(tA.text)) {
    fail(tA.column, "expected an attribute name, found " + describe(tA));
  }
  const long iL = namesA.attributeIndex(tA.text);
  if (iL < 0) fail(tA.column, "unknown attribute '" + tA.text + "'");
  const unsigned int nL = QueryLanguage::attributeSize();
  if (static_cast<unsigned long>(iL) > nL) {
    fail(tA.column, "attribute '" + tA.text + "' is word " + std::to_string(iL) +
                        ", a record has words 0 to " + std::to_string(nL));
  }
  return static_cast<std::uint32_t>(iL);
}

}  // namespace

std::vector<unsigned int> QueryText::compile(const std::string& textA) const {
  Lexer lexL(textA);
  std::vector<unsigned int> wordsL;
  Token tL = lexL.next();
  if (tL.kind == Kind::End) fail(tL.column, "the query is empty");
  std::size_t clauseL = 0;  // index of the current clause's length word
  wordsL.push_back(0);
  for (;;) {
    const std::uint32_t attrL = attributeWord(*this, tL);
    const std::string nameL = tL.text;
    Token opL = lexL.next();
    std::string symL = opL.kind == Kind::End ? "" : lower(opL.text);
    if (symL == "not") {
      const Token inL = lexL.next();
      if (inL.kind != Kind::Name || lower(inL.text) != "in") {
        fail(inL.column, "expected 'in' after 'not', found " + describe(inL));
      }
      symL = "not in";
    }
    if (symL == "in" || symL == "not in") {
      const Token loT = lexL.next();
      const std::uint32_t loL = number(loT);
      const Token dotsL = lexL.next();
      if (dotsL.text != "..") {
        fail(dotsL.column, "expected '..' in the range, found " + describe(dotsL));
      }
      const std::uint32_t hiL = number(lexL.next());
      if (loL > hiL) {
        fail(loT.column,
             "the range " + std::to_string(loL) + ".." + std::to_string(hiL) + " is empty");
      }
      wordsL.insert(
          wordsL.end(),
          {attrL, symL == "in" ? QueryLanguage::kInRange : QueryLanguage::kOutOfRange, loL, hiL});
    } else {
      std::uint32_t codeL = 0;
      if (opL.kind == Kind::Symbol) {
        if (symL == "=" || symL == "==") codeL = QueryLanguage::kEqual;
        if (symL == "!=") codeL = QueryLanguage::kNotEqual;
        if (symL == ">") codeL = QueryLanguage::kGreater;
        if (symL == "<") codeL = QueryLanguage::kLess;
        if (symL == "&") codeL = QueryLanguage::kAnyBit;
        if (symL == "!&") codeL = QueryLanguage::kNoBit;
        if (symL == ">=" || symL == "<=") codeL = QueryLanguage::kInRange;
      }
      if (codeL == 0) {
        fail(opL.column, "expected an operator (=, !=, <, >, <=, >=, &, !&, in, not in) after '" +
                             nameL + "', found " + describe(opL));
      }
      const std::uint32_t vL = number(lexL.next());
      if (symL == ">=") {
        wordsL.insert(wordsL.end(), {attrL, codeL, vL, 0xFFFFFFFFu});
      } else if (symL == "<=") {
        wordsL.insert(wordsL.end(), {attrL, codeL, 0u, vL});
      } else {
        wordsL.insert(wordsL.end(), {attrL, codeL, vL});
      }
    }
    const Token joinL = lexL.next();
    const std::string joinTextL = lower(joinL.text);
    if (joinL.kind == Kind::End) break;
    if (joinL.kind != Kind::Name || (joinTextL != "and" && joinTextL != "or")) {
      fail(joinL.column, "expected 'and' or 'or', found " + describe(joinL));
    }
    if (joinTextL == "or") {
      wordsL[clauseL] = static_cast<unsigned int>(wordsL.size() - clauseL - 1);
      clauseL = wordsL.size();
      wordsL.push_back(0);
    }
    tL = lexL.next();
  }
  wordsL[clauseL] = static_cast<unsigned int>(wordsL.size() - clauseL - 1);
  wordsL.push_back(0);
  QueryLanguage::validateQuery(wordsL.data(), wordsL.size());
  return wordsL;
}

std::string QueryText::toText(const unsigned int* queryA, std::size_t countA) const {
  static const char* const kFunction = "qridy::QueryText::toText";
  QueryLanguage::validateQuery(queryA, countA);
  if (queryA == nullptr) return "";
  if (queryA[0] == 0) {
    KXXCP_THROW(kFunction, "Query word 0: a query that selects nothing has no text form.");
  }
  std::ostringstream osL;
  for (std::size_t clauseL = 0; queryA[clauseL] != 0; clauseL += queryA[clauseL] + 1) {
    if (clauseL != 0) osL << " or ";
    const std::size_t endL = clauseL + 1 + queryA[clauseL];
    for (std::size_t i = clauseL + 1; i < endL;) {
      if (i != clauseL + 1) osL << " and ";
      const std::uint32_t opL = queryA[i + 1];
      osL << attributeName(queryA[i]);
      switch (opL) {
        case QueryLanguage::kEqual:
          osL << " = " << queryA[i + 2];
          break;
        case QueryLanguage::kNotEqual:
          osL << " != " << queryA[i + 2];
          break;
        case QueryLanguage::kGreater:
          osL << " > " << queryA[i + 2];
          break;
        case QueryLanguage::kLess:
          osL << " < " << queryA[i + 2];
          break;
        case QueryLanguage::kAnyBit:
          osL << " & " << queryA[i + 2];
          break;
        case QueryLanguage::kNoBit:
          osL << " !& " << queryA[i + 2];
          break;
        case QueryLanguage::kInRange:
          osL << " in " << queryA[i + 2] << ".." << queryA[i + 3];
          break;
        case QueryLanguage::kOutOfRange:
          osL << " not in " << queryA[i + 2] << ".." << queryA[i + 3];
          break;
        default:
          KXXCP_THROW(kFunction,
                      "Query word " << i + 1 << ": operator " << opL << " has no text form.");
      }
      i += QueryLanguage::conditionWidth(opL);
    }
  }
  return osL.str();
}

std::vector<unsigned int> QueryText::assign(const std::string& assignmentsA,
                                            std::vector<unsigned int>& wordsA) const {
  Lexer lexL(assignmentsA);
  std::vector<unsigned int> setL;
  for (Token tL = lexL.next(); tL.kind != Kind::End; tL = lexL.next()) {
    if (tL.text == ",") continue;
    const std::uint32_t iL = attributeWord(*this, tL);
    if (iL >= wordsA.size()) {
      fail(tL.column, "attribute '" + tL.text + "' is word " + std::to_string(iL) +
                          ", a record has words 0 to " + std::to_string(wordsA.size() - 1));
    }
    const Token eqL = lexL.next();
    if (eqL.text != "=")
      fail(eqL.column, "expected '=' after '" + tL.text + "', found " + describe(eqL));
    wordsA[iL] = number(lexL.next());
    setL.push_back(iL);
  }
  return setL;
}

}  // namespace qridy
