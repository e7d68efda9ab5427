#include <qrlimage/Roi.h>

#include <algorithm>
#include <cstdint>

namespace qrimg {

Roi Roi::intersection(const Roi& otherA) const {
  // 64-bit edges: regions read from streams may carry extreme values.
  const std::int64_t leftL = std::max<std::int64_t>(leftM, otherA.leftM);
  const std::int64_t topL = std::max<std::int64_t>(topM, otherA.topM);
  const std::int64_t rightL =
      std::min(std::int64_t{leftM} + widthM, std::int64_t{otherA.leftM} + otherA.widthM);
  const std::int64_t bottomL =
      std::min(std::int64_t{topM} + heightM, std::int64_t{otherA.topM} + otherA.heightM);
  if (rightL <= leftL || bottomL <= topL) return Roi();
  return Roi(static_cast<int>(leftL), static_cast<int>(topL), static_cast<int>(rightL - leftL),
             static_cast<int>(bottomL - topL));
}

}  // namespace qrimg
