#pragma once

// Text helpers shared by the INI reader and the configuration access: trimming, ASCII case
// folding and strict number parsing. Parsers report success and leave the output unchanged on
// failure; they accept the whole text or nothing (no trailing garbage, no silent truncation).

#include <string>
#include <vector>

namespace kxutl {
namespace valuetext {

// Removes blanks (space, tab, carriage return, line feed, form feed, vertical tab) at both ends.
std::string trim(const std::string& textA);
std::string toLower(std::string textA);

// Decimal integer, optional leading '+' or '-'.
bool parseInt64(const std::string& textA, long long& outA);
// Decimal integer, optional leading '+'; a minus sign is refused.
bool parseUint64(const std::string& textA, unsigned long long& outA);
// Decimal or exponent notation independent of the locale ("1.5", "-2e3", "inf", "nan"); a value
// outside the float range is refused.
bool parseFloat(const std::string& textA, float& outA);
// "1", "true", "yes", "on" and "0", "false", "no", "off", in any letter case.
bool parseBool(const std::string& textA, bool& outA);
// Splits a list at commas and blanks: "1, 2 3" -> {"1","2","3"}. An empty text gives an empty
// list; an empty element between two commas ("1,,2") makes the result false.
bool splitList(const std::string& textA, std::vector<std::string>& outA);

}  // namespace valuetext
}  // namespace kxutl
