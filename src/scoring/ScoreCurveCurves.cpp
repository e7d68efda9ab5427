// The curve family of the score-curve library.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <streambuf>

#include "scoring/ScoreCurveLibrary.h"

namespace qrscore {
namespace {

constexpr std::size_t kMaxWordLength = 512;
constexpr std::size_t kMaxLineLength = 1023;

bool isBlank(int cA) {
  return cA == ' ' || cA == '\t' || cA == '\n' || cA == '\r' || cA == '\v' || cA == '\f';
}

// Parses one decimal number ("-1.5e3", "+2", ".5"); the whole word must be the number.
bool parseDecimal(const std::string& wordA, double& valueA) {
  if (wordA.empty()) return false;
  for (char c : wordA) {
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) {
      return false;
    }
  }
  // from_chars is independent of the process locale; it takes no leading '+'.
  const char* firstL = wordA.data();
  const char* lastL = firstL + wordA.size();
  if (*firstL == '+') ++firstL;
  if (firstL == lastL || *firstL == '+') return false;
  double valueL = 0.0;
  const auto resultL = std::from_chars(firstL, lastL, valueL, std::chars_format::general);
  if (resultL.ec != std::errc() || resultL.ptr != lastL || !std::isfinite(valueL)) return false;
  valueA = valueL;
  return true;
}

// Reads one line of at most kMaxLineLength characters; false at the end of the stream or for
// an overlong line.
bool readLine(std::streambuf& bufA, std::string& lineA, bool& overlongA) {
  lineA.clear();
  overlongA = false;
  int cL = bufA.sbumpc();
  if (cL == std::char_traits<char>::eof()) return false;
  while (cL != std::char_traits<char>::eof() && cL != '\n') {
    if (lineA.size() == kMaxLineLength) {
      overlongA = true;
      return false;
    }
    lineA += static_cast<char>(cL);
    cL = bufA.sbumpc();
  }
  return true;
}

}  // namespace

bool readDecimalNumbers(std::istream& inA, std::vector<double>& valuesA) {
  std::streambuf* bufL = inA.rdbuf();
  if (bufL == nullptr || !inA.good()) return false;
  std::string wordL;
  const int eofL = std::char_traits<char>::eof();
  int cL = bufL->sbumpc();
  while (true) {
    while (cL != eofL && isBlank(cL)) cL = bufL->sbumpc();
    if (cL == eofL) return true;
    wordL.clear();
    while (cL != eofL && !isBlank(cL)) {
      if (wordL.size() == kMaxWordLength) return false;
      wordL += static_cast<char>(cL);
      cL = bufL->sbumpc();
    }
    double valueL = 0.0;
    if (!parseDecimal(wordL, valueL)) return false;
    valuesA.push_back(valueL);
  }
}

CurveBase::~CurveBase() = default;

void CurveBase::domain(double& lowA, double& highA) const {
  lowA = 0.0;
  highA = 1.0;
}

void CurveBase::writeSource(std::ostream& osA, const std::string& nameA) const {
  std::vector<double> paramsL(64);
  int countL = 0;
  while ((countL = getParameters(paramsL.data(), static_cast<int>(paramsL.size()))) == 0 &&
         paramsL.size() < (1u << 24)) {
    paramsL.resize(paramsL.size() * 4);
  }
  const auto oldPrecisionL = osA.precision(17);
  osA << "const static double " << nameA << "[] = {";
  for (int i = 0; i < countL; ++i) osA << (i ? ", " : " ") << paramsL[i];
  osA << " };\n";
  osA.precision(oldPrecisionL);
}

// ---- CurveLogErfc

double CurveLogErfc::erfcApprox(double zA) {
  const double t = 1.0 / (1.0 + zA / 2.0);
  return t * std::exp(-zA * zA - 1.26551223 +
                      t * (1.00002368 +
                           t * (0.37409196 +
                                t * (0.09678418 +
                                     t * (-0.18628806 +
                                          t * (0.27886807 +
                                               t * (-1.13520398 +
                                                    t * (1.48851587 +
                                                         t * (-0.82215223 + t * 0.17087277)))))))));
}

double CurveLogErfc::value(double xA) const {
  const double z = (xA - meanM) / (std::sqrt(2.0) * sigmaM);
  const double q = z >= 0.0 ? 0.5 * erfcApprox(z) : 1.0 - 0.5 * erfcApprox(-z);
  return offsetM - std::log10(q);
}

double CurveLogErfc::derivative(double xA) const {
  const double z = (xA - meanM) / (std::sqrt(2.0) * sigmaM);
  const double q = z >= 0.0 ? 0.5 * erfcApprox(z) : 1.0 - 0.5 * erfcApprox(-z);
  // dQ/dx is minus the normal density of the impostor scores.
  const double densityL = std::exp(-z * z) / (sigmaM * std::sqrt(2.0 * M_PI));
  return densityL / (q * std::log(10.0));
}

int CurveLogErfc::getParameters(double* paramsA, int sizeA) const {
  if (paramsA == nullptr || sizeA < 3) return 0;
  paramsA[0] = offsetM;
  paramsA[1] = meanM;
  paramsA[2] = sigmaM;
  return 3;
}

bool CurveLogErfc::setParameters(const double* paramsA, int countA) {
  if (paramsA == nullptr || countA != 3) return false;
  if (!std::isfinite(paramsA[0]) || !std::isfinite(paramsA[1]) || !std::isfinite(paramsA[2]) ||
      !(paramsA[2] > 0.0)) {
    return false;
  }
  offsetM = paramsA[0];
  meanM = paramsA[1];
  sigmaM = paramsA[2];
  return true;
}

// ---- CurveMCSpline

bool CurveMCSpline::setKnots(std::vector<Knot> knotsA) {
  for (std::size_t i = 0; i < knotsA.size(); ++i) {
    const Knot& k = knotsA[i];
    if (!std::isfinite(k.x) || !std::isfinite(k.y) || !std::isfinite(k.d)) return false;
    if (i > 0 && !(knotsA[i - 1].x < k.x)) return false;
  }
  // Knots so close or values so far apart that the cubic overflows describe no curve.
  return install(std::move(knotsA), false);
}

void CurveMCSpline::setKnotsAsGiven(std::vector<Knot> knotsA) {
  install(std::move(knotsA), true);
}

bool CurveMCSpline::install(std::vector<Knot> knotsA, bool lineWhereInfiniteA) {
  const std::size_t n = knotsA.size();
  std::vector<double> c2L(n, 0.0), c3L(n, 0.0);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double h = knotsA[i + 1].x - knotsA[i].x;
    const double m = (knotsA[i + 1].y - knotsA[i].y) / h;
    const double c2 = (3.0 * m - 2.0 * knotsA[i].d - knotsA[i + 1].d) / h;
    const double c3 = (knotsA[i].d + knotsA[i + 1].d - 2.0 * m) / (h * h);
    if (std::isfinite(c2) && std::isfinite(c3)) {
      c2L[i] = c2;
      c3L[i] = c3;
    } else if (!lineWhereInfiniteA) {
      return false;
    }
  }
  knotsM = std::move(knotsA);
  c2M = std::move(c2L);
  c3M = std::move(c3L);
  return true;
}

std::size_t CurveMCSpline::interval(double xA) const {
  const std::size_t n = knotsM.size();
  if (xA < knotsM.front().x) return 0;
  if (xA >= knotsM.back().x) return n - 1;
  // x[k] <= xA < x[k+1]
  std::size_t lowL = 0, highL = n - 1;
  while (highL - lowL > 1) {
    const std::size_t midL = lowL + (highL - lowL) / 2;
    if (knotsM[midL].x <= xA) {
      lowL = midL;
    } else {
      highL = midL;
    }
  }
  return lowL;
}

double CurveMCSpline::value(double xA) const {
  if (knotsM.empty()) return 0.0;
  const std::size_t k = interval(xA);
  const double t = xA - knotsM[k].x;
  return ((c3M[k] * t + c2M[k]) * t + knotsM[k].d) * t + knotsM[k].y;
}

double CurveMCSpline::derivative(double xA) const {
  if (knotsM.empty()) return 0.0;
  const std::size_t k = interval(xA);
  const double t = xA - knotsM[k].x;
  return (3.0 * c3M[k] * t + 2.0 * c2M[k]) * t + knotsM[k].d;
}

void CurveMCSpline::domain(double& lowA, double& highA) const {
  lowA = knotsM.empty() ? 0.0 : knotsM.front().x;
  highA = knotsM.empty() ? 0.0 : knotsM.back().x;
}

int CurveMCSpline::getParameters(double* paramsA, int sizeA) const {
  const std::size_t countL = knotsM.size() * 3;
  if (paramsA == nullptr || sizeA < 0 || static_cast<std::size_t>(sizeA) < countL) return 0;
  for (std::size_t i = 0; i < knotsM.size(); ++i) {
    paramsA[3 * i] = knotsM[i].x;
    paramsA[3 * i + 1] = knotsM[i].y;
    paramsA[3 * i + 2] = knotsM[i].d;
  }
  return static_cast<int>(countL);
}

bool CurveMCSpline::setParameters(const double* paramsA, int countA) {
  if (paramsA == nullptr || countA <= 0 || countA % 3 != 0) return false;
  std::vector<Knot> knotsL;
  for (int i = 0; i < countA; i += 3)
    knotsL.push_back({paramsA[i], paramsA[i + 1], paramsA[i + 2]});
  return setKnots(std::move(knotsL));
}

bool CurveMCSpline::read(std::istream& inA, bool textModeA) {
  std::vector<Knot> knotsL;
  if (textModeA) {
    std::vector<double> valuesL;
    if (!readDecimalNumbers(inA, valuesL) || valuesL.size() % 3 != 0) return false;
    for (std::size_t i = 0; i < valuesL.size(); i += 3) {
      knotsL.push_back({valuesL[i], valuesL[i + 1], valuesL[i + 2]});
    }
  } else {
    std::streambuf* bufL = inA.rdbuf();
    if (bufL == nullptr || !inA.good()) return false;
    std::string lineL;
    bool overlongL = false;
    while (readLine(*bufL, lineL, overlongL)) {
      if (std::all_of(lineL.begin(), lineL.end(), [](char c) { return isBlank(c); })) continue;
      Knot k{};
      if (std::sscanf(lineL.c_str(), "%lg,   %lg,   %lg,", &k.x, &k.y, &k.d) != 3) return false;
      knotsL.push_back(k);
    }
    if (overlongL) return false;
  }
  return setKnots(std::move(knotsL));
}

}  // namespace qrscore
