// The PNG encoder: checksums against known values, and the file checked by
// Python's zlib and struct, an independent reader.
#include "data/png_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#ifndef _WIN32
#include "../support/temp_dir.h"
#endif

namespace {

std::span<const std::uint8_t> bytes(const char* s) {
    return {reinterpret_cast<const std::uint8_t*>(s), std::char_traits<char>::length(s)};
}

TEST(PngImage, ChecksumsMatchTheirStandardCheckValues) {
    EXPECT_EQ(data::crc32(bytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(data::adler32(bytes("Wikipedia")), 0x11E60398u);
    // Longer than the adler32 blocking interval and a stored block.
    std::vector<std::uint8_t> big(70000, 0xFF);
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t v : big) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(data::adler32(big), b << 16 | a);
}

// Python runs beside the native build; the Windows build shares the encoder.
#ifndef _WIN32
TEST(PngImage, PythonsZlibDecodesThePixels) {
    // Wide enough for the pixel data to need more than one stored block.
    data::RgbImage image{150, 160, {}};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.rgb.insert(image.rgb.end(),
                             {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                              static_cast<std::uint8_t>(x ^ y)});
    const std::vector<std::uint8_t> png = data::encodePng(image);
    ASSERT_GT(png.size(), image.rgb.size());
    testsupport::TempDir dir;
    const auto path = dir.path() / "plot.png";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));

    // Walks the chunks checking every CRC, inflates the IDAT data (zlib checks
    // its Adler-32) and prints a digest of the pixel rows.
    const std::string script = R"(
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
assert d[:8] == b'\x89PNG\r\n\x1a\n'
at, idat, ihdr = 8, b'', None
while at < len(d):
    n, = struct.unpack('>I', d[at:at+4]); kind = d[at+4:at+8]; body = d[at+8:at+8+n]
    crc, = struct.unpack('>I', d[at+8+n:at+12+n])
    assert zlib.crc32(kind + body) == crc, kind
    if kind == b'IHDR': ihdr = struct.unpack('>IIBBBBB', body)
    if kind == b'IDAT': idat += body
    at += 12 + n
w, h = ihdr[0], ihdr[1]
raw = zlib.decompress(idat)
assert len(raw) == h * (1 + 3 * w) and all(raw[y * (1 + 3 * w)] == 0 for y in range(h))
px = lambda x, y: raw[y * (1 + 3 * w) + 1 + 3 * x: y * (1 + 3 * w) + 4 + 3 * x]
print(w, h, ihdr[2], ihdr[3], list(px(7, 9)), list(px(149, 159)))
)";
    const auto scriptPath = dir.path() / "check.py";
    std::ofstream(scriptPath) << script;
    const std::string command = "python3 " + scriptPath.string() + " " + path.string();
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    EXPECT_EQ(pclose(pipe), 0);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(line), "150 160 8 2 [7, 9, 14] [149, 159, 10]\n");
}

#endif

TEST(PngImage, AnInconsistentImageGivesNoFile) {
    EXPECT_TRUE(data::encodePng({0, 5, {}}).empty());
    EXPECT_TRUE(data::encodePng({2, 2, std::vector<std::uint8_t>(11)}).empty());
}

}  // namespace
