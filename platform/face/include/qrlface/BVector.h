#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include <qrlcore/Exception.h>

namespace MX {

// A small numeric vector of the face library: contiguous values with a dot product.
template <typename T>
class BVector {
 public:
  BVector() = default;
  explicit BVector(std::size_t sizeA, T valueA = T()) : valuesM(sizeA, valueA) {}
  explicit BVector(std::vector<T> valuesA) : valuesM(std::move(valuesA)) {}

  std::size_t size() const { return valuesM.size(); }
  bool empty() const { return valuesM.empty(); }
  void clear() { valuesM.clear(); }
  T& operator[](std::size_t iA) { return valuesM[iA]; }
  const T& operator[](std::size_t iA) const { return valuesM[iA]; }
  const T* data() const { return valuesM.data(); }
  // Appends the values of another vector after the present ones.
  void append(const std::vector<T>& moreA) {
    valuesM.insert(valuesM.end(), moreA.begin(), moreA.end());
  }

  // Dot product. Vectors of different dimension throw kxxcp::Exception
  // "Try combine vectors of dimensions <n> and <m> in BVector<T>::operator*\n".
  T operator*(const BVector& otherA) const {
    if (otherA.size() != size()) {
      char textL[160];
      std::snprintf(textL, sizeof textL, "Try combine vectors of dimensions %d and %d in %s\n",
                    static_cast<int>(size()), static_cast<int>(otherA.size()),
                    "BVector<T>::operator*");
      throw kxxcp::Exception(textL, __FILE__, __LINE__, "MX::BVector::operator*");
    }
    T sumL = T();
    for (std::size_t i = 0; i < size(); ++i) sumL += valuesM[i] * otherA.valuesM[i];
    return sumL;
  }

 private:
  std::vector<T> valuesM;
};

}  // namespace MX
