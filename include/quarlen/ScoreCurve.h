#pragma once

// The score-curve library: maps raw match scores through curves read from score-mapping files
// and fuses several mapped scores into one. A small C-style interface: every function returns
// one of the ScoreCurveError codes (scoreCurveErrorText gives its text), outputs go through
// pointers and are written only on success, and no function throws.
//
// Mapping-file format: plain text of decimal numbers separated by white space, taken in triples
// (x, y, d) = raw score, mapped value (-log10 of the false-accept rate), slope dy/dx at that
// knot, in strictly ascending x. The curve between knots is a cubic Hermite spline; below the
// first knot the first cubic is extended, above the last knot the line of slope d through it.
// A file without any number is an empty curve that maps every score to 0. Refused (code 16),
// since no curve can be made of them: a word that is no decimal number, inf or nan, a value
// outside the double range, a count of numbers that is no multiple of 3, x that does not
// strictly ascend, and knots so close that the cubic overflows.

#include <cstddef>

#include <quarlen/QuarlenExport.h>

namespace qrscore {

class ScoreNormalizer;  // a mapping curve (with its inverse); opaque to callers
class ScoreFusion;      // a fusion of several mapped scores; opaque to callers

enum ScoreCurveError : int {
  ScoreCurveOk = 0,              // "No error"
  ScoreCurveUnknownError = 1,    // "Unknown error"; also an exception inside a computation
  ScoreCurveInputNull = 10,      // "Error: input parameter is null"
  ScoreCurveOutputNull = 11,     // "Error: output parameter is null"
  ScoreCurveHandleNull = 12,     // "Error: handle is null"
  ScoreCurveCannotCreate = 13,   // "Error: unable to create handle"
  ScoreCurveCannotDestroy = 14,  // "Error: unable to destroy handle"
  ScoreCurveCannotOpen = 15,     // "Error: unable to open data file"
  ScoreCurveCannotRead = 16,     // "Error: unable to read data file"
  ScoreCurveOpenException = 17,  // "Error: exception thrown when opening data file"
  ScoreCurveCopyException = 18,  // "Error: exception thrown when copying array"
  ScoreCurveInvalidValue = 19,   // "Error: input parameter's value is invalid"
};

// Reads the mapping file at pathA into a new spline mapping that clamps negative values to 0.
// The caller owns *handleA and releases it with destroyNormalizer. Codes: 10 null path, 11 null
// handleA, 15 cannot open, 16 the file is not a well-formed mapping (see above), 17 exception
// on opening. An empty file gives the empty curve (code 0).
QUARLEN_EXPORT int createNormalizerFromFile(ScoreNormalizer** handleA, const char* pathA);
// The same mapping read from the zero-terminated text of a mapping file. Codes: 10 null text,
// 11 null handleA, 16 not a well-formed mapping.
QUARLEN_EXPORT int createNormalizerFromText(ScoreNormalizer** handleA, const char* textA);
// *outA = forward mapping of scoreA (times the scale, negative results clamped to 0).
// 12 null handle, 19 scoreA (or its mapping) not finite, 11 null outA.
QUARLEN_EXPORT int normalizeScore(const ScoreNormalizer* handleA, float scoreA, float* outA);
// *outA = the raw score whose mapping is scoreA (never below the curve's floor): the spline
// through the knots (y, x, 1/d) of the knots with d != 0, in file order. Where these are not
// strictly ascending in y (a falling curve, or two sloped knots at one y) the spline is
// evaluated as it stands: the interval is the first knot's below it, the last knot's at and
// above it, else the one a bisection finds, and an interval of two knots at one y is the line
// of its first knot instead of an infinite cubic. An empty curve answers 0.
// 12 null handle, 19 scoreA not finite or negative (or its answer not finite), 11 null outA.
QUARLEN_EXPORT int denormalizeScore(const ScoreNormalizer* handleA, float scoreA, float* outA);
// The scale multiplies every mapped value; a value outside [0.5, 1.5] resets it to 1.0.
// 19 for a scale that is not finite or negative.
QUARLEN_EXPORT int setNormalizerScale(ScoreNormalizer* handleA, float scaleA);
QUARLEN_EXPORT int getNormalizerScale(const ScoreNormalizer* handleA, float* scaleA);
// Null is accepted (0). 14 when destruction failed.
QUARLEN_EXPORT int destroyNormalizer(ScoreNormalizer* handleA);

// A log-FAR fusion handle. With parameterFileA null the default fusion (no weights, scale 1.0);
// otherwise the file holds the strategy type (only 0, the log-FAR fusion, is known) followed by
// exactly countA weights. The caller owns *handleA and releases it with destroyFusion.
QUARLEN_EXPORT int createFusion(ScoreFusion** handleA, const char* parameterFileA, int countA);
// *outA = the fusion of countA scores, each a finite -log10 FAR >= 0. 12 null handle, 10 null
// scoresA, 19 countA < 1 or a score not finite or negative, 11 null outA.
QUARLEN_EXPORT int fuseScores(const ScoreFusion* handleA, const float* scoresA, int countA,
                              float* outA);
// Installs a new log-FAR fusion with these weights (finite, >= 0). 10 null array, 19 countA < 1
// or an invalid weight.
QUARLEN_EXPORT int setFusionWeights(ScoreFusion* handleA, const float* weightsA, int countA);
// Copies the stored weights; 19 unless countA equals their number.
QUARLEN_EXPORT int getFusionWeights(const ScoreFusion* handleA, float* weightsA, int countA);
QUARLEN_EXPORT int getFusionWeightCount(const ScoreFusion* handleA, int* countA);
// A scale <= 0 resets the fusion scale to 1.0; 19 for a scale that is not finite.
QUARLEN_EXPORT int setFusionScale(ScoreFusion* handleA, float scaleA);
QUARLEN_EXPORT int getFusionScale(const ScoreFusion* handleA, float* scaleA);
QUARLEN_EXPORT int destroyFusion(ScoreFusion* handleA);
// The value that marks a missing score in a fusion input (-42.0).
QUARLEN_EXPORT int missingScoreMarker(const ScoreFusion* handleA, float* markerA);

// Copies the text of codeA into textA, cut to lengthA bytes including the terminating zero.
// 11 for a null textA or a length of 0.
QUARLEN_EXPORT int scoreCurveErrorText(int codeA, char* textA, std::size_t lengthA);

}  // namespace qrscore
