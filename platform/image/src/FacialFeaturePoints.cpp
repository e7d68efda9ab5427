#include <qrlimage/FacialFeaturePoints.h>

namespace qrimg {

namespace {
bool inRange(int indexA) {
  return indexA >= 0 && indexA < FacialFeaturePoints::kCount;
}
}  // namespace

bool FacialFeaturePoints::isSet(int indexA) const {
  return inRange(indexA) && setM[indexA];
}

Point2f FacialFeaturePoints::point(int indexA) const {
  return isSet(indexA) ? pointsM[indexA] : Point2f();
}

void FacialFeaturePoints::set(int indexA, Point2f pA) {
  if (!inRange(indexA)) return;
  pointsM[indexA] = pA;
  setM[indexA] = true;
}

void FacialFeaturePoints::clear(int indexA) {
  if (!inRange(indexA)) return;
  pointsM[indexA] = Point2f();
  setM[indexA] = false;
}

int FacialFeaturePoints::count() const {
  int nL = 0;
  for (bool s : setM) nL += s ? 1 : 0;
  return nL;
}

float FacialFeaturePoints::eyeDistance() const {
  if (!isSet(RightEye) || !isSet(LeftEye)) return 0.0f;
  return distance(pointsM[RightEye], pointsM[LeftEye]);
}

bool FacialFeaturePoints::estimateMouthCentre() {
  const float eyeDistanceL = eyeDistance();
  if (!(eyeDistanceL > 0.0f)) return false;
  const Point2f rightL = pointsM[RightEye];
  const Point2f leftL = pointsM[LeftEye];
  // With the right eye on the image's left, the eye vector (right -> left) points to +x for an
  // upright face; its clockwise normal in image coordinates (y down) points to +y, the chin.
  const float dxL = leftL.x - rightL.x;
  const float dyL = leftL.y - rightL.y;
  const float nxL = -dyL / eyeDistanceL;
  const float nyL = dxL / eyeDistanceL;
  const float offsetL = kMouthToEyeRatio * eyeDistanceL;
  set(MouthCentre,
      Point2f{(rightL.x + leftL.x) / 2 + nxL * offsetL, (rightL.y + leftL.y) / 2 + nyL * offsetL});
  return true;
}

bool FacialFeaturePoints::operator==(const FacialFeaturePoints& o) const {
  for (int i = 0; i < kCount; ++i) {
    if (setM[i] != o.setM[i]) return false;
    if (setM[i] && pointsM[i] != o.pointsM[i]) return false;
  }
  return true;
}

}  // namespace qrimg
