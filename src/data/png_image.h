#pragma once
// A small PNG encoder of our own, so that every build (Qt, Win32, headless)
// writes the same files without an image library.
#include <cstdint>
#include <span>
#include <vector>

namespace data {

// 8-bit RGB pixels, row after row, 3 bytes each.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// The PNG file of the image: one IDAT chunk holding a zlib stream of stored
// (uncompressed) deflate blocks. Plots are small, so size matters less than
// an encoder simple enough to trust. An empty or inconsistent image gives an
// empty vector.
std::vector<std::uint8_t> encodePng(const RgbImage& image);

// The checksums that PNG and zlib use, for the encoder and its tests.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);
std::uint32_t adler32(std::span<const std::uint8_t> bytes, std::uint32_t adler = 1);

}  // namespace data
