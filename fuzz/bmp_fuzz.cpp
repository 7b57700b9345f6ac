// Arbitrary bytes through load_input_from_memory: the BMP guard, DevIL's
// decoder, the conversion and the checks on what DevIL returns.

#include <IL/il.h>
#include <IL/ilu.h>

#include <cstddef>
#include <cstdint>

#include "image/load_input.h"

namespace {

uint32_t le16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }

uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// Pictures up to the loader's limits are legitimate, but a few bytes of RLE
// can declare one, and decoding one on every such input would slow the search
// to a crawl.
bool declares_large_picture(const uint8_t* data, size_t size) {
    if (size < 26) return false;
    const bool os2 = le16(data + 14) == 12;
    const int64_t width =
        os2 ? int64_t{le16(data + 18)} : int64_t{static_cast<int32_t>(le32(data + 18))};
    const int64_t height =
        os2 ? int64_t{le16(data + 20)} : int64_t{static_cast<int32_t>(le32(data + 22))};
    return width * (height < 0 ? -height : height) > (int64_t{1} << 20);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ilInit();
    iluInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (declares_large_picture(data, size)) return -1;
    input_image image;
    if (!load_input_from_memory("fuzz input", data, size, &image)) return 0;
    // Every byte the loader promises must be there: AddressSanitizer checks
    // these reads against DevIL's allocation.
    const size_t bytes =
        size_t{3} * static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum += image.pixels[i];
    volatile unsigned sink = sum;
    (void)sink;
    ilDeleteImages(1, &image.name);
    return 0;
}
