#pragma once

// Checks a BMP file held in memory before DevIL 1.7.8 sees it, and rewrites it
// into the one shape DevIL decodes safely. DevIL trusts the headers: sizes
// whose product overflows 32 bits make it write past its buffers, a pixel data
// offset past the end makes it read wild memory, short files load with
// uninitialised pixels, indices past a short palette read past it, RLE runs
// past the image write past it and skipped RLE pixels stay uninitialised, and
// it refuses the 108- and 124-byte headers most programs write today.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Largest accepted side and picture, in pixels.
constexpr uint64_t bmp_max_side = 65536;
constexpr uint64_t bmp_max_pixels = uint64_t{16384} * 16384;
// Largest accepted file: a picture of bmp_max_pixels at 32 bits a pixel fits
// with room to spare, and DevIL takes buffer sizes as 32-bit counts.
constexpr uint64_t bmp_max_file_bytes = uint64_t{1} << 31;

// A checked BMP, rewritten for DevIL.
struct bmp_input {
    // The file DevIL reads: a 40-byte info header, bit-field masks narrowed to
    // at most 8 bits each, a palette of all 2^bits entries (those the file
    // lacks are black), and uncompressed pixel rows (RLE data expanded to
    // 8-bit indices, pixels it skips being index 0).
    std::vector<unsigned char> bytes;
    // True when the file already is byte for byte that form; `bytes` is then
    // empty and DevIL reads the original.
    bool as_is = false;
    uint32_t width;
    uint32_t height;
    // Bits per pixel in the file.
    uint32_t bits;
    // The pixels as the file stored them, e.g. "4-bit RLE", "8-bit paletted", "16-bit".
    std::string kind;
};

// Fills `out` and returns true when `data` is a BMP DevIL can decode;
// otherwise sets `why` to a one-line reason and returns false.
bool guard_bmp(const unsigned char* data, size_t size, bmp_input* out, std::string* why);
