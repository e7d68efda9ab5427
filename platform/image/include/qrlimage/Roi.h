#pragma once

#include <qrlimage/ImageExport.h>
#include <qrlimage/Point.h>

namespace qrimg {

// A rectangular region of interest in pixel coordinates. Its fields are stored in the order
// left, top, width, height; formats that write a region refer to this order.
class QRLIMAGE_EXPORT Roi {
 public:
  Roi() = default;
  Roi(int leftA, int topA, int widthA, int heightA)
      : leftM(leftA), topM(topA), widthM(widthA), heightM(heightA) {}

  int left() const { return leftM; }
  int top() const { return topM; }
  int width() const { return widthM; }
  int height() const { return heightM; }
  // One past the last column and row.
  int right() const { return leftM + widthM; }
  int bottom() const { return topM + heightM; }
  bool isEmpty() const { return widthM <= 0 || heightM <= 0; }

  void setLeft(int v) { leftM = v; }
  void setTop(int v) { topM = v; }
  void setWidth(int v) { widthM = v; }
  void setHeight(int v) { heightM = v; }

  bool contains(const Point& pA) const {
    return pA.x >= leftM && pA.y >= topM && pA.x < right() && pA.y < bottom();
  }
  // The common part of two regions; empty (0, 0, 0, 0) when they do not overlap.
  Roi intersection(const Roi& otherA) const;

  bool operator==(const Roi& o) const {
    return leftM == o.leftM && topM == o.topM && widthM == o.widthM && heightM == o.heightM;
  }
  bool operator!=(const Roi& o) const { return !(*this == o); }

 private:
  int leftM = 0;
  int topM = 0;
  int widthM = 0;
  int heightM = 0;
};

}  // namespace qrimg
