#pragma once

// Little-endian coding for every binary format of the library. Integers are encoded byte by
// byte, and a float as the IEEE 754 single-precision bits of a little-endian uint32, so the
// formats do not depend on the host's byte order or struct layout. The get* functions change
// their output only when all bytes were available and report whether they were; a failed read
// leaves the value as it was.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>

namespace qridy {
namespace coding {

inline void encodeFixed16(unsigned char* dst, std::uint16_t v) {
  dst[0] = static_cast<unsigned char>(v);
  dst[1] = static_cast<unsigned char>(v >> 8);
}
inline void encodeFixed32(unsigned char* dst, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void encodeFixed64(unsigned char* dst, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) dst[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline std::uint16_t decodeFixed16(const unsigned char* src) {
  return static_cast<std::uint16_t>(src[0] | (src[1] << 8));
}
inline std::uint32_t decodeFixed32(const unsigned char* src) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | src[i];
  return v;
}
inline std::uint64_t decodeFixed64(const unsigned char* src) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | src[i];
  return v;
}
inline void encodeFloat32(unsigned char* dst, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  encodeFixed32(dst, bits);
}
inline float decodeFloat32(const unsigned char* src) {
  const std::uint32_t bits = decodeFixed32(src);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

// --- streams ---------------------------------------------------------------------------------

inline void putFixed8(std::ostream& os, std::uint8_t v) {
  os.put(static_cast<char>(v));
}
inline void putFixed16(std::ostream& os, std::uint16_t v) {
  unsigned char b[2];
  encodeFixed16(b, v);
  os.write(reinterpret_cast<const char*>(b), 2);
}
inline void putFixed32(std::ostream& os, std::uint32_t v) {
  unsigned char b[4];
  encodeFixed32(b, v);
  os.write(reinterpret_cast<const char*>(b), 4);
}
inline void putFixed64(std::ostream& os, std::uint64_t v) {
  unsigned char b[8];
  encodeFixed64(b, v);
  os.write(reinterpret_cast<const char*>(b), 8);
}
inline void putFloat32(std::ostream& os, float v) {
  unsigned char b[4];
  encodeFloat32(b, v);
  os.write(reinterpret_cast<const char*>(b), 4);
}
inline void putBytes(std::ostream& os, const void* data, std::size_t size) {
  if (size != 0) os.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Reads exactly n bytes; false (and a failed stream) when the stream ends first.
inline bool getRaw(std::istream& is, unsigned char* dst, std::size_t n) {
  is.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(n));
  return static_cast<std::size_t>(is.gcount()) == n;
}
inline bool getFixed8(std::istream& is, std::uint8_t& v) {
  unsigned char b;
  if (!getRaw(is, &b, 1)) return false;
  v = b;
  return true;
}
inline bool getFixed16(std::istream& is, std::uint16_t& v) {
  unsigned char b[2];
  if (!getRaw(is, b, 2)) return false;
  v = decodeFixed16(b);
  return true;
}
inline bool getFixed32(std::istream& is, std::uint32_t& v) {
  unsigned char b[4];
  if (!getRaw(is, b, 4)) return false;
  v = decodeFixed32(b);
  return true;
}
inline bool getFixed64(std::istream& is, std::uint64_t& v) {
  unsigned char b[8];
  if (!getRaw(is, b, 8)) return false;
  v = decodeFixed64(b);
  return true;
}
inline bool getFloat32(std::istream& is, float& v) {
  unsigned char b[4];
  if (!getRaw(is, b, 4)) return false;
  v = decodeFloat32(b);
  return true;
}

// --- memory buffers ---------------------------------------------------------------------------

inline void appendFixed16(std::string& dst, std::uint16_t v) {
  unsigned char b[2];
  encodeFixed16(b, v);
  dst.append(reinterpret_cast<const char*>(b), 2);
}
inline void appendFixed32(std::string& dst, std::uint32_t v) {
  unsigned char b[4];
  encodeFixed32(b, v);
  dst.append(reinterpret_cast<const char*>(b), 4);
}
inline void appendFixed64(std::string& dst, std::uint64_t v) {
  unsigned char b[8];
  encodeFixed64(b, v);
  dst.append(reinterpret_cast<const char*>(b), 8);
}

// A read cursor over a byte range: every get advances on success only and reports it.
class Cursor {
 public:
  Cursor(const unsigned char* data, std::size_t size) : p_(data), end_(data + size) {}
  std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
  const unsigned char* position() const { return p_; }
  bool getFixed16(std::uint16_t& v) { return get(v, 2, decodeFixed16); }
  bool getFixed32(std::uint32_t& v) { return get(v, 4, decodeFixed32); }
  bool getFixed64(std::uint64_t& v) { return get(v, 8, decodeFixed64); }
  bool getFloat32(float& v) { return get(v, 4, decodeFloat32); }
  bool getBytes(void* dst, std::size_t n) {
    if (remaining() < n) return false;
    if (n != 0) std::memcpy(dst, p_, n);
    p_ += n;
    return true;
  }
  bool skip(std::size_t n) {
    if (remaining() < n) return false;
    p_ += n;
    return true;
  }

 private:
  template <typename T, typename D>
  bool get(T& v, std::size_t n, D decode) {
    if (remaining() < n) return false;
    v = decode(p_);
    p_ += n;
    return true;
  }
  const unsigned char* p_;
  const unsigned char* end_;
};

// A write cursor over a fixed byte range (a record's head or body): every put writes and
// advances when the range has room for all its bytes, and reports whether it had.
class PutCursor {
 public:
  PutCursor(unsigned char* data, std::size_t size) : p_(data), end_(data + size) {}
  std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
  bool putFixed8(std::uint8_t v) {
    if (remaining() < 1) return false;
    *p_++ = v;
    return true;
  }
  bool putFixed16(std::uint16_t v) { return put(v, 2, encodeFixed16); }
  bool putFixed32(std::uint32_t v) { return put(v, 4, encodeFixed32); }
  bool putFixed64(std::uint64_t v) { return put(v, 8, encodeFixed64); }
  bool putFloat32(float v) { return put(v, 4, encodeFloat32); }

 private:
  template <typename T, typename E>
  bool put(T v, std::size_t n, E encode) {
    if (remaining() < n) return false;
    encode(p_, v);
    p_ += n;
    return true;
  }
  unsigned char* p_;
  unsigned char* end_;
};

}  // namespace coding
}  // namespace qridy
