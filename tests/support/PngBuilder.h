#pragma once

// Hand-built PNG files for reader tests: chunks with correct CRCs around a zlib stream made of
// stored (uncompressed) deflate blocks, so tests can produce any colour type, depth or defect
// without an encoder.

#include <cstdint>
#include <string>
#include <vector>

namespace quarlen_test {

using Bytes = std::vector<unsigned char>;

std::uint32_t crc32(const unsigned char* dataA, std::size_t sizeA);

// Appends one chunk (length, type, data, CRC).
void appendChunk(Bytes& pngA, const char* typeA, const Bytes& dataA);

// A zlib stream holding rawA in stored blocks.
Bytes zlibStored(const Bytes& rawA);

// A complete PNG file: signature, IHDR, the extra chunks (already encoded) before IDAT, one IDAT
// with the zlib-stored scan lines (each row already starting with its filter byte), IEND.
Bytes buildPng(std::uint32_t widthA, std::uint32_t heightA, unsigned bitDepthA,
               unsigned colourTypeA, const Bytes& scanLinesA, const Bytes& extraChunksA = Bytes());

// Recomputes the CRC of the chunk that starts at byte offset chunkA (its length field).
void fixChunkCrc(Bytes& pngA, std::size_t chunkA);

// The byte offset of the first chunk of the given type; npos when there is none.
std::size_t findChunk(const Bytes& pngA, const char* typeA);

}  // namespace quarlen_test
