#pragma once

// Internals of the score-curve library (the C-style interface is <quarlen/ScoreCurve.h>): the
// curve family, the mapping handle and the fusion handle with its strategies.

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include <quarlen/ScoreCurve.h>

namespace qrscore {

// Reads white-space separated decimal numbers up to the end of the stream into valuesA. False
// when a word is no decimal number (inf, nan and hexadecimal forms included), a value is out of
// the double range, a word is longer than 512 characters, or the stream fails.
bool readDecimalNumbers(std::istream& inA, std::vector<double>& valuesA);

// A one-dimensional curve y = value(x). Curves are immutable once built, so one curve may be
// evaluated on several threads at once.
class CurveBase {
 public:
  virtual ~CurveBase();
  virtual const char* name() const = 0;
  virtual double value(double xA) const = 0;
  virtual double derivative(double xA) const = 0;
  // The x range the curve is defined on; the parametric curves answer 0.0 ... 1.0.
  virtual void domain(double& lowA, double& highA) const;
  // Copies the parameters into paramsA; returns their count, or 0 when sizeA is too small.
  virtual int getParameters(double* paramsA, int sizeA) const = 0;
  // Replaces the parameters; false (curve unchanged) for a wrong count or invalid values.
  virtual bool setParameters(const double* paramsA, int countA) = 0;
  // Writes the parameters as C++ source: "const static double <nameA>[] = { ... };".
  virtual void writeSource(std::ostream& osA, const std::string& nameA) const;
  // Reads the curve from a stream; false (curve unchanged) when the stream is no valid curve.
  virtual bool read(std::istream& inA, bool textModeA) = 0;
};

// y = x.
class CurveIdentity : public CurveBase {
 public:
  const char* name() const override { return "Identity"; }
  double value(double xA) const override { return xA; }
  double derivative(double) const override { return 1.0; }
  int getParameters(double* paramsA, int sizeA) const override { return 0; }
  bool setParameters(const double* paramsA, int countA) override { return countA == 0; }
  bool read(std::istream&, bool) override { return true; }
};

// y = offset - log10(Q((x - mean) / (sqrt(2) sigma))): the -log10 false-accept rate of a
// normally distributed impostor score, with Q the upper tail from a Chebyshev-fitted erfc.
class CurveLogErfc : public CurveBase {
 public:
  const char* name() const override { return "LogErfc"; }
  double value(double xA) const override;
  double derivative(double xA) const override;
  // offset, mean, sigma (sigma > 0).
  int getParameters(double* paramsA, int sizeA) const override;
  bool setParameters(const double* paramsA, int countA) override;
  bool read(std::istream&, bool) override { return false; }  // has no file form

  // The fitted erfc for z >= 0 (fractional error below 1.2e-7).
  static double erfcApprox(double zA);

 private:
  double offsetM = 0.0;
  double meanM = 0.0;
  double sigmaM = 1.0;
};

// Monotone cubic Hermite spline through knots (x[i], y[i]) with slopes d[i]. Below the first
// knot the first cubic is extended; at and above the last knot the line of slope d[n-1].
class CurveMCSpline : public CurveBase {
 public:
  struct Knot {
    double x, y, d;
  };

  const char* name() const override { return "MonotonicCubicSpline"; }
  double value(double xA) const override;  // 0 for an empty spline
  double derivative(double xA) const override;
  void domain(double& lowA, double& highA) const override;
  // The knots as triples x, y, d.
  int getParameters(double* paramsA, int sizeA) const override;
  bool setParameters(const double* paramsA, int countA) override;
  // Text mode: white-space separated numbers up to the end of the stream, in triples. Otherwise
  // lines of at most 1023 characters "%lg,   %lg,   %lg,". Either way the knots must be
  // finite and strictly ascending in x, and the coefficients finite. No numbers at all is an
  // empty spline (value 0 everywhere).
  bool read(std::istream& inA, bool textModeA) override;

  // Replaces the knots; false (spline unchanged) unless they form a valid spline as above. An
  // empty list gives the empty spline.
  bool setKnots(std::vector<Knot> knotsA);
  // Replaces the knots without any check, for the inverse of a mapping: knots in any order of x
  // (finite values expected). Evaluation finds the interval as always (before the first knot,
  // at or after the last, else a bisection for x[k] <= x < x[k+1]); an interval whose cubic is
  // not finite (a repeated x) is the line of slope d[k] through its knot. Never fails.
  void setKnotsAsGiven(std::vector<Knot> knotsA);
  const std::vector<Knot>& knots() const { return knotsM; }

 private:
  // Takes the knots and computes the coefficients. An interval whose cubic is not finite fails
  // (spline unchanged), or with lineWhereInfiniteA is the line of slope d[k] through its knot.
  bool install(std::vector<Knot> knotsA, bool lineWhereInfiniteA);
  std::size_t interval(double xA) const;

  std::vector<Knot> knotsM;
  std::vector<double> c2M, c3M;  // per interval; 0 for the last knot
};

// A mapping handle: a forward curve, for splines an inverse spline, a scale and clamping.
class ScoreNormalizer {
 public:
  enum Kind { KindIdentity = 0, KindSpline = 1, KindLogErfc = 2 };

  explicit ScoreNormalizer(Kind kindA = KindIdentity, bool clampAtZeroA = false);

  // Reads a mapping in text mode and builds the inverse. Returns ScoreCurveOk or
  // ScoreCurveCannotRead; on failure the handle is unchanged. The inverse never makes reading
  // fail: it is built from the knots with a slope whatever their order in y (see denormalize).
  // An empty mapping (no numbers) maps every score to 0 and inverts every score to 0.
  int readSpline(std::istream& inA);

  // value(s) * scale, negative results 0 with clamping. May be non-finite for huge scores.
  double normalize(double scoreA) const;
  // The raw score mapped to scoreA: inverse(scoreA / scale) with a negative quotient 0 under
  // clamping, never below the floor. The inverse spline has the knots (y, x, 1/d) of every knot
  // with d != 0, in file order; where these are not strictly ascending in y (a curve that falls
  // or levels off with a slope) it is evaluated as it stands, which answers some raw score
  // rather than the one a monotone curve would give. A repeated y takes the line of the knot
  // instead of an infinite cubic, and a slope whose reciprocal is not finite leaves its knot
  // out, so the answer stays finite.
  double denormalize(double scoreA) const;

  Kind kind() const { return kindM; }
  float scale() const { return scaleM; }
  void setScale(float scaleA);  // outside [0.5, 1.5] -> 1.0
  bool hasFloor() const { return floorM; }
  double floorValue() const { return floorValueM; }
  const CurveBase& forward() const { return *forwardM; }
  const CurveMCSpline* inverse() const { return inverseM.get(); }

 private:
  Kind kindM;
  bool clampAtZeroM;
  float scaleM = 1.0f;
  bool floorM = false;
  double floorValueM = 0.0;
  std::unique_ptr<CurveBase> forwardM;
  std::unique_ptr<CurveMCSpline> inverseM;
};

// A fusion strategy over countA scores (and weights). The base answers -1.0 to every request.
class FusionBase {
 public:
  virtual ~FusionBase();
  virtual float fuse(const float* scoresA, std::size_t countA, const float* weightsA,
                     std::size_t weightCountA, const std::vector<float>& parametersA) const;
  virtual float fuse(const float* scoresA, std::size_t countA, const float* weightsA,
                     std::size_t weightCountA) const;
  virtual float fuse(const float* scoresA, std::size_t countA) const;
};

// The log-FAR fusion (see logFarFusion).
class FusionLFARWS : public FusionBase {
 public:
  static const char* name() { return "FusionLFARWS"; }
  using FusionBase::fuse;
  float fuse(const float* scoresA, std::size_t countA, const float* weightsA,
             std::size_t weightCountA) const override;
  float fuse(const float* scoresA, std::size_t countA) const override;
};

// Fuses n scores, each a -log10 false-accept rate, with optional weights (missing weights are
// 1.0) into the -log10 of the probability that independent uniform values reach the weighted
// product of the FARs. Computed in double precision, returned as float:
//  - n = 0: 0; n = 1: s0 * w0 if s0 > 0, else 0;
//  - S = sum of max(0, s[i]) * w[i], weights divided by max(1, largest) when n > 2 or when n = 2
//    and one weight is 0;
//  - n = 2 and |w0 - w1| > 0.001 (unnormalised): with L = ln(10) S,
//    max(0, S - log10(exp((w1-1)L/w1) w1/(w1-w0) + exp((w0-1)L/w0) w0/(w0-w1)));
//  - n > 100: kTooManyScores;
//  - otherwise max(0, S - log10(sum_{k<n} L^k / k!)).
// Where a sum overflows double for huge S, the same quantity is computed in the log domain.
float logFarFusion(const float* scoresA, std::size_t countA, const float* weightsA,
                   std::size_t weightCountA);
constexpr std::size_t kMaxFusedScores = 100;
// The answer for more than kMaxFusedScores scores: the float nearest to -987654321.
constexpr float kTooManyScores = -987654321.0f;
// A strategy's answer that means "no result"; passed through without scaling.
constexpr float kNoFusionResult = -7654321.0f;
// A fusion input equal to kMissingScore stands for a missing score and counts as
// kMissingScoreReplacement.
constexpr float kMissingScore = -42.0f;
constexpr float kMissingScoreReplacement = 0.4343f;

// A fusion handle: the strategy (log-FAR fusion), its weights and a scale. The strategy is
// created with the handle, so fusing only reads the handle and may run on several threads.
class ScoreFusion {
 public:
  ScoreFusion();

  // Copies the scores, replaces kMissingScore, fuses with the weights (without when there are
  // none) and multiplies by the scale unless the strategy answered kNoFusionResult.
  float fuse(const float* scoresA, std::size_t countA) const;

  // Installs a new log-FAR strategy (type 0) with these weights.
  void setWeights(std::vector<float> weightsA);
  const std::vector<float>& weights() const { return weightsM; }
  float scale() const { return scaleM; }
  void setScale(float scaleA) { scaleM = scaleA > 0.0f ? scaleA : 1.0f; }
  int strategyType() const { return strategyTypeM; }

 private:
  std::unique_ptr<FusionBase> strategyM;
  int strategyTypeM = 0;
  float scaleM = 1.0f;
  std::vector<float> weightsM;
  std::vector<float> parametersM;           // used by strategy type 1 only, which nothing creates
  [[maybe_unused]] float exponentM = 4.0f;  // ditto
  float missingReplacementM = kMissingScoreReplacement;
};

}  // namespace qrscore
