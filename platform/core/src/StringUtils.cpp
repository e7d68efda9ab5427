#include <qrlcore/StringUtils.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kxutl {
namespace {

bool isNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Length of a variable name starting at positionA that is followed by closeA, or 0.
std::size_t nameBefore(const std::string& textA, std::size_t positionA, char closeA) {
  if (positionA >= textA.size() || !isNameStart(textA[positionA])) return 0;
  std::size_t endL = positionA + 1;
  while (endL < textA.size() && isNameChar(textA[endL])) ++endL;
  return (endL < textA.size() && textA[endL] == closeA) ? endL - positionA : 0;
}

}  // namespace

bool StringUtils::checkEnvironment(std::string& textA) {
  std::string outL;
  bool allSetL = true;
  std::size_t i = 0;
  while (i < textA.size()) {
    const char c = textA[i];
    const bool dollarL = c == '$';
    if (!dollarL && c != '%') {
      outL.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < textA.size() && textA[i + 1] == c) {  // "$$" or "%%"
      outL.push_back(c);
      i += 2;
      continue;
    }
    const std::size_t nameStartL = dollarL ? i + 2 : i + 1;
    const std::size_t lengthL = (dollarL && (i + 1 >= textA.size() || textA[i + 1] != '{'))
                                    ? 0
                                    : nameBefore(textA, nameStartL, dollarL ? '}' : '%');
    if (lengthL == 0) {
      outL.push_back(c);
      ++i;
      continue;
    }
    const std::size_t endL = nameStartL + lengthL + 1;  // past the closing character
    const char* valueL = std::getenv(textA.substr(nameStartL, lengthL).c_str());
    if (valueL != nullptr) {
      outL += valueL;
    } else {
      outL.append(textA, i, endL - i);
      allSetL = false;
    }
    i = endL;
  }
  textA = outL;
  return allSetL;
}

std::vector<std::string> separateString(const std::string& textA, const std::string& separatorA) {
  std::vector<std::string> partsL;
  if (textA.empty()) return partsL;
  if (separatorA.empty()) {
    partsL.push_back(textA);
    return partsL;
  }
  std::size_t startL = 0;
  for (;;) {
    const std::size_t foundL = textA.find(separatorA, startL);
    if (foundL == std::string::npos) {
      partsL.push_back(textA.substr(startL));
      return partsL;
    }
    partsL.push_back(textA.substr(startL, foundL - startL));
    startL = foundL + separatorA.size();
  }
}

char* itoa(int valueA, char* bufferA) {
  // Work on the magnitude as unsigned so that INT_MIN has one.
  unsigned int magnitudeL =
      valueA < 0 ? 0u - static_cast<unsigned int>(valueA) : static_cast<unsigned int>(valueA);
  char digitsL[12];
  int countL = 0;
  do {
    digitsL[countL++] = static_cast<char>('0' + magnitudeL % 10);
    magnitudeL /= 10;
  } while (magnitudeL != 0);
  char* outL = bufferA;
  if (valueA < 0) *outL++ = '-';
  while (countL > 0) *outL++ = digitsL[--countL];
  *outL = '\0';
  return bufferA;
}

int pixelRound(double valueA) {
  if (std::isnan(valueA)) return 0;
  // Not floor(x + 0.5): that sum rounds 0.49999999999999994 up to 1.
  const double floorL = std::floor(valueA);
  const double roundedL = (valueA - floorL >= 0.5) ? floorL + 1.0 : floorL;
  if (roundedL <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  if (roundedL >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(roundedL);
}

}  // namespace kxutl
