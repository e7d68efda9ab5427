#pragma once

// Selection of the best K scored results without sorting them: a three-way partition around a
// median-of-three pivot (divide) repeated on the part that still holds the cut (searchThreshold).
// Works on any result record with a float member `score`; larger scores are better.
//
// NaN scores compare neither above nor equal to any pivot: they collect at the low end and are
// never chosen as threshold while a number is left. The stage workers never keep NaN scores, so
// the stages hand only numbers (and +/- infinity) to these functions.

#include <cmath>
#include <cstddef>
#include <utility>

#include <qrlcore/Notification.h>

namespace qrcommon {

// What divide reports about a range after partitioning it around pivot.
struct DivideCounts {
  float pivot = 0.0f;
  std::size_t aboveOrEqual = 0;  // results with score >= pivot: the front of the range
  std::size_t equal = 0;         // of those, score == pivot: the last `equal` of the front part
  std::size_t below = 0;         // the rest (score < pivot, or NaN)
};

// The median of the first, middle and last scores of [firstA, lastA) (a NaN among them gives way
// to a number when there is one). The range must not be empty.
template <typename Result>
float medianOfThree(const Result* firstA, const Result* lastA) {
  const std::size_t nL = static_cast<std::size_t>(lastA - firstA);
  float aL = firstA[0].score, bL = firstA[nL / 2].score, cL = firstA[nL - 1].score;
  if (std::isnan(aL)) aL = std::isnan(bL) ? cL : bL;
  if (std::isnan(bL)) bL = aL;
  if (std::isnan(cL)) cL = aL;
  // Equal values need no special case: any of them is the median.
  if (aL < bL) std::swap(aL, bL);  // aL >= bL
  if (bL < cL) {
    bL = cL < aL ? cL : aL;
  }
  return bL;
}

// Partitions [firstA, lastA) into score > pivot, score == pivot, the rest (in this order) around
// the median of three; the order inside each part is not kept. An empty range gives all zeros.
template <typename Result>
DivideCounts divide(Result* firstA, Result* lastA) {
  DivideCounts countsL;
  if (firstA >= lastA) return countsL;
  const float pivotL = medianOfThree(firstA, lastA);
  // Dutch flag: [first, gt) above, [gt, i) equal, [i, lt) unknown, [lt, last) below.
  Result* gtL = firstA;
  Result* iL = firstA;
  Result* ltL = lastA;
  while (iL < ltL) {
    const float sL = iL->score;
    if (sL > pivotL) {
      std::swap(*gtL, *iL);
      ++gtL;
      ++iL;
    } else if (sL == pivotL) {
      ++iL;
    } else {
      --ltL;
      std::swap(*iL, *ltL);
    }
  }
  countsL.pivot = pivotL;
  countsL.aboveOrEqual = static_cast<std::size_t>(iL - firstA);
  countsL.equal = static_cast<std::size_t>(iL - gtL);
  countsL.below = static_cast<std::size_t>(lastA - iL);
  return countsL;
}

// Finds the threshold score of the best kA of the nA results (which it reorders):
//   thresholdA  the kA-th best score;
//   aboveOrEqualA  the number of results with score >= thresholdA;
//   equalA  the number of results with score == thresholdA;
// so that the aboveOrEqualA - equalA results strictly above the threshold and the first
// kA - (aboveOrEqualA - equalA) of those equal to it make the best kA.
// Degenerate requests: nA == 0 gives threshold -infinity and both counts 0; kA == 0 the highest
// score with the counts of that score (none of which is kept); kA >= nA the lowest score (every
// result is kept). Returns false (after the error notification "<nameA> not converged!") when
// more than 5 rounds in a row left pivot and counts unchanged, which only an all-NaN remainder
// can cause; the outputs then hold the last round's values.
template <typename Result>
bool searchThreshold(Result* resultsA, std::size_t nA, std::size_t kA, float& thresholdA,
                     std::size_t& equalA, std::size_t& aboveOrEqualA,
                     const char* nameA = "SearchThreshold") {
  thresholdA = -INFINITY;
  equalA = 0;
  aboveOrEqualA = 0;
  if (nA == 0) return true;
  std::size_t loL = 0, hiL = nA;  // the range that still holds the cut
  std::size_t acceptedL = 0;      // results above every score in the range, already chosen
  std::size_t needL = kA == 0 ? 1 : (kA > nA ? nA : kA);
  const bool highestOnlyL = kA == 0;
  DivideCounts lastL;
  int unchangedRoundsL = 0;
  for (;;) {
    const DivideCounts dL = divide(resultsA + loL, resultsA + hiL);
    // A NaN pivot (an all-NaN range) equals the last NaN pivot, or the search would not end.
    const bool samePivotL =
        dL.pivot == lastL.pivot || (std::isnan(dL.pivot) && std::isnan(lastL.pivot));
    if (samePivotL && dL.aboveOrEqual == lastL.aboveOrEqual && dL.equal == lastL.equal &&
        dL.below == lastL.below) {
      if (++unchangedRoundsL > 5) {
        thresholdA = dL.pivot;
        equalA = dL.equal;
        aboveOrEqualA = acceptedL + dL.aboveOrEqual;
        kxntc::error << nameA << " not converged! pivot: " << dL.pivot
                     << " aboveOrEqual: " << aboveOrEqualA << " equal: " << equalA << " K: " << kA;
        kxntc::notify(kxntc::error);
        return false;
      }
    } else {
      unchangedRoundsL = 0;
    }
    lastL = dL;
    const std::size_t aboveL = dL.aboveOrEqual - dL.equal;
    if (dL.aboveOrEqual >= needL && aboveL < needL) {
      // The cut falls among the results equal to the pivot.
      thresholdA = dL.pivot;
      equalA = dL.equal;
      aboveOrEqualA = acceptedL + dL.aboveOrEqual;
      if (highestOnlyL) aboveOrEqualA = equalA = dL.equal;
      return true;
    }
    if (aboveL >= needL) {
      hiL = loL + aboveL;  // strictly above: a smaller range, the pivot is left out
    } else {
      acceptedL += dL.aboveOrEqual;
      needL -= dL.aboveOrEqual;
      loL += dL.aboveOrEqual;  // below: everything at or above the pivot is chosen
    }
  }
}

}  // namespace qrcommon
