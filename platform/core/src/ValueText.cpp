#include "ValueText.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace kxutl {
namespace valuetext {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// from_chars refuses a leading '+'; strip one (but never "+-5" or "+").
bool skipPlus(const char*& firstA, const char* lastA) {
  if (firstA != lastA && *firstA == '+') {
    ++firstA;
    if (firstA == lastA || *firstA == '-' || *firstA == '+') return false;
  }
  return true;
}

}  // namespace

std::string trim(const std::string& textA) {
  std::size_t beginL = 0;
  std::size_t endL = textA.size();
  while (beginL < endL && isBlank(textA[beginL])) ++beginL;
  while (endL > beginL && isBlank(textA[endL - 1])) --endL;
  return textA.substr(beginL, endL - beginL);
}

std::string toLower(std::string textA) {
  for (char& c : textA) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return textA;
}

bool parseInt64(const std::string& textA, long long& outA) {
  const char* firstL = textA.data();
  const char* lastL = textA.data() + textA.size();
  if (!skipPlus(firstL, lastL) || firstL == lastL) return false;
  long long valueL = 0;
  const auto resultL = std::from_chars(firstL, lastL, valueL, 10);
  if (resultL.ec != std::errc() || resultL.ptr != lastL) return false;
  outA = valueL;
  return true;
}

bool parseUint64(const std::string& textA, unsigned long long& outA) {
  const char* firstL = textA.data();
  const char* lastL = textA.data() + textA.size();
  if (!skipPlus(firstL, lastL) || firstL == lastL || *firstL == '-') return false;
  unsigned long long valueL = 0;
  const auto resultL = std::from_chars(firstL, lastL, valueL, 10);
  if (resultL.ec != std::errc() || resultL.ptr != lastL) return false;
  outA = valueL;
  return true;
}

bool parseFloat(const std::string& textA, float& outA) {
  const char* firstL = textA.data();
  const char* lastL = textA.data() + textA.size();
  if (!skipPlus(firstL, lastL) || firstL == lastL) return false;
  float valueL = 0.0f;
  const auto resultL = std::from_chars(firstL, lastL, valueL, std::chars_format::general);
  if (resultL.ec != std::errc() || resultL.ptr != lastL) return false;
  outA = valueL;
  return true;
}

bool parseBool(const std::string& textA, bool& outA) {
  const std::string lowerL = toLower(textA);
  if (lowerL == "1" || lowerL == "true" || lowerL == "yes" || lowerL == "on") {
    outA = true;
    return true;
  }
  if (lowerL == "0" || lowerL == "false" || lowerL == "no" || lowerL == "off") {
    outA = false;
    return true;
  }
  return false;
}

bool splitList(const std::string& textA, std::vector<std::string>& outA) {
  std::vector<std::string> partsL;
  std::string currentL;
  bool pendingCommaL = false;  // a comma was seen and no element followed it yet
  bool anyL = false;
  auto finishL = [&]() {
    if (!currentL.empty()) {
      partsL.push_back(currentL);
      currentL.clear();
      pendingCommaL = false;
      anyL = true;
    }
  };
  for (char c : textA) {
    if (c == ',') {
      const bool hadElementL = !currentL.empty();
      finishL();
      if (!hadElementL && (pendingCommaL || !anyL)) return false;
      pendingCommaL = true;
    } else if (isBlank(c)) {
      finishL();
    } else {
      currentL.push_back(c);
    }
  }
  finishL();
  if (pendingCommaL) return false;  // trailing comma
  outA = std::move(partsL);
  return true;
}

}  // namespace valuetext
}  // namespace kxutl
