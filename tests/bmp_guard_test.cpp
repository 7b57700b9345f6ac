#include "image/bmp_guard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "bmp_bytes.h"

namespace {

using bmp_bytes::bytes;
using bmp_bytes::fields;

// A file with the given headers, `entries` black palette entries and
// `data` bytes of pixel data holding index or channel value `fill`.
bytes with(const fields& f, size_t entries, size_t data, unsigned char fill = 0) {
    return bmp_bytes::file(f, std::vector<bmp_bytes::rgb>(entries, {0, 0, 0}), bytes(data, fill));
}

fields sized(int32_t width, int32_t height, uint16_t bits = 24, uint32_t compression = 0) {
    fields f;
    f.width = width;
    f.height = height;
    f.bits = bits;
    f.compression = compression;
    return f;
}

// `f` with one field changed by `change`.
template <typename Change>
fields but(fields f, Change change) {
    change(f);
    return f;
}

fields header(uint32_t info_size, fields f = sized(2, 2)) {
    f.info_size = info_size;
    return f;
}

fields masked(uint16_t bits, uint32_t r, uint32_t g, uint32_t b) {
    fields f = sized(2, 2, bits, bmp_bytes::bitfields_compression);
    f.masks[0] = r;
    f.masks[1] = g;
    f.masks[2] = b;
    return f;
}

bytes rle8(int32_t width, int32_t height, const bytes& stream) {
    return bmp_bytes::file(sized(width, height, 8, bmp_bytes::rle8_compression),
                           std::vector<bmp_bytes::rgb>(256, {0, 0, 0}), stream);
}

struct guard_case {
    const char* name;
    bytes file;
    bool accepted;
    // A word the reason must contain when the file is refused.
    const char* word;
};

void PrintTo(const guard_case& c, std::ostream* os) { *os << c.name; }

class guard_table : public testing::TestWithParam<guard_case> {};

TEST_P(guard_table, accepts_or_refuses_with_a_reason) {
    const guard_case& c = GetParam();
    bmp_input in;
    std::string why;
    const bool accepted = guard_bmp(c.file.data(), c.file.size(), &in, &why);
    ASSERT_EQ(accepted, c.accepted) << why;
    if (!accepted) {
        EXPECT_NE(why.find(c.word), std::string::npos) << why;
        return;
    }
    // What DevIL gets: a 40-byte info header and every row it declares.
    const bytes& b = in.bytes;
    ASSERT_GE(b.size(), 54u);
    const auto le32 = [&](size_t at) {
        return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
               uint32_t{b[at + 3]} << 24;
    };
    EXPECT_EQ(le32(2), b.size());
    EXPECT_EQ(le32(14), 40u);
    const uint32_t bits = b[28];
    const uint64_t stride = (uint64_t{in.width} * bits + 31) / 32 * 4;
    EXPECT_EQ(le32(10) + stride * in.height, b.size());
    if (bits <= 8) {
        EXPECT_EQ(le32(10), 54 + (4u << bits));
    }
}

const guard_case guard_cases[] = {
    {"valid_24_bit", with(sized(2, 2), 0, 16), true, ""},
    {"valid_top_down", with(sized(2, -2), 0, 16), true, ""},
    {"size_overflowing_32_bits_8_bit", with(sized(13, 1321528399, 8), 256, 1000), false, "exceeds"},
    {"size_overflowing_32_bits_1_bit", with(sized(65536, 65537, 1), 2, 20000), false, "exceeds"},
    {"largest_int_square", with(sized(INT32_MAX, INT32_MAX), 0, 100), false, "exceeds"},
    {"largest_int_by_1", with(sized(INT32_MAX, 1), 0, 100), false, "exceeds"},
    {"too_many_pixels", with(sized(100000, 100000), 0, 100), false,
     "exceeds the limit of 268435456 pixels"},
    {"side_too_long", with(sized(65537, 1, 8), 256, 65540), false, "side"},
    {"truncated_inside_padded_rows", with(sized(5, 3), 0, 40), false, "truncated: 94 of 102"},
    {"header_without_data", with(sized(1, 1), 0, 0), false, "truncated"},
    {"too_short_for_info_header", bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0}, false,
     "truncated"},
    {"data_offset_past_end",
     with(but(sized(2, 2), [](fields& f) { f.data_offset = 5000; }), 0, 16), false, "offset"},
    {"data_offset_inside_headers",
     with(but(sized(2, 2), [](fields& f) { f.data_offset = 20; }), 0, 16), false, "offset"},
    {"indices_past_short_palette",
     with(but(sized(4, 2, 8), [](fields& f) { f.colours_used = 2; }), 2, 8, 255), true, ""},
    {"palette_larger_than_bits_allow",
     with(but(sized(4, 2, 8), [](fields& f) { f.colours_used = 300; }), 300, 8), false, "palette"},
    {"palette_past_end", with(sized(4, 2, 8), 16, 8), false, "truncated"},
    {"info_header_52", with(header(52), 0, 16), true, ""},
    {"info_header_56", with(header(56), 0, 16), true, ""},
    {"info_header_v4", with(header(108), 0, 16), true, ""},
    {"info_header_v5", with(header(124), 0, 16), true, ""},
    {"info_header_os2", with(header(12), 0, 16), true, ""},
    {"info_header_os2_v2", with(header(64), 0, 16), false, "unsupported: 64-byte"},
    {"bad_signature",
     with(but(sized(2, 2), [](fields& f) { f.signature[1] = 'A'; }), 0, 16), false, "no BM signature"},
    {"empty_file", bytes{}, false, "no BM signature"},
    {"two_planes",
     with(but(sized(2, 2), [](fields& f) { f.planes = 2; }), 0, 16), false, "planes"},
    {"jpeg_inside", with(sized(2, 2, 0, 4), 0, 16), false, "unsupported"},
    {"png_inside", with(sized(2, 2, 0, 5), 0, 16), false, "unsupported"},
    {"16_bit_jpeg", with(sized(2, 2, 16, 4), 0, 16), false,
     "unsupported: 16-bit with compression 4"},
    {"24_bit_rle8", with(sized(2, 2, 24, 1), 0, 16), false, "unsupported"},
    {"8_bit_rle4", with(sized(2, 2, 8, 2), 256, 16), false, "unsupported"},
    {"1_bit_rle8", with(sized(2, 2, 1, 1), 2, 16), false, "unsupported"},
    {"4_bit_rle8", with(sized(2, 2, 4, 1), 16, 16), false, "unsupported"},
    {"24_bit_bitfields", with(sized(2, 2, 24, 3), 0, 16), false, "unsupported"},
    {"8_bit_bitfields", with(sized(2, 2, 8, 3), 256, 16), false, "unsupported"},
    {"32_bit_alpha_bitfields", with(sized(2, 2, 32, 6), 0, 16), false, "unsupported"},
    {"2_bit", with(sized(2, 2, 2), 4, 16), false, "unsupported"},
    {"lowest_int_height", with(sized(2, INT32_MIN), 0, 16), false, "height"},
    {"zero_width", with(sized(0, 2), 0, 16), false, "size"},
    {"negative_width", with(sized(-2, 2), 0, 16), false, "size"},
    {"zero_height", with(sized(2, 0), 0, 16), false, "size"},
    {"masks_565", with(masked(16, 0xf800, 0x07e0, 0x001f), 0, 8), true, ""},
    {"masks_wider_than_8_bits", with(masked(32, 0x3ff00000, 0x000ffc00, 0x3ff), 0, 16), true, ""},
    {"masks_not_contiguous", with(masked(16, 0xf0f0, 0x0f00, 0x000f), 0, 8), false, "masks"},
    {"masks_overlapping", with(masked(16, 0xf800, 0x0fe0, 0x001f), 0, 8), false, "masks"},
    {"masks_past_the_pixel", with(masked(16, 0x1f0000, 0x07e0, 0x001f), 0, 8), false, "masks"},
    {"masks_cut_off",
     [] {
         bytes b = with(masked(16, 0xf800, 0x07e0, 0x001f), 0, 0);
         b.resize(60);
         return b;
     }(),
     false, "truncated"},
    {"rle_valid", rle8(4, 2, {4, 1, 0, 0, 0, 4, 1, 2, 3, 4, 0, 1}), true, ""},
    {"rle_end_of_line_then_end", rle8(2, 1, {2, 7, 0, 0, 0, 1}), true, ""},
    {"rle_skipping_with_delta", rle8(8, 4, {2, 7, 0, 2, 3, 2, 1, 9, 0, 1}), true, ""},
    {"rle_without_data", rle8(4, 2, {}), false, "truncated"},
    {"rle_without_end", rle8(4, 2, {4, 1, 0, 0, 4, 1}), false, "truncated"},
    {"rle_literal_cut_off", rle8(8, 1, {0, 5, 1, 2}), false, "truncated"},
    {"rle_delta_cut_off", rle8(8, 1, {0, 2, 1}), false, "truncated"},
    {"rle_run_past_row", rle8(8, 4, {12, 7, 0, 1}), false, "past the image"},
    {"rle_literal_past_row", rle8(2, 4, {0, 3, 1, 2, 3, 0, 0, 1}), false, "past the image"},
    {"rle_run_past_last_row", rle8(2, 1, {2, 7, 0, 0, 2, 7, 0, 1}), false, "past the image"},
    {"rle_end_of_line_past_last_row", rle8(2, 1, {2, 7, 0, 0, 0, 0, 0, 1}), false,
     "past the image"},
    {"rle_delta_past_image", rle8(8, 4, {0, 2, 200, 200, 1, 1, 0, 1}), false, "past the image"},
};

INSTANTIATE_TEST_SUITE_P(files, guard_table, testing::ValuesIn(guard_cases),
                         [](const testing::TestParamInfo<guard_case>& info) {
                             return std::string(info.param.name);
                         });

// A file already in the form the guard writes is handed to DevIL as it is,
// not copied; anything else is rewritten.
TEST(guard, passes_only_files_already_in_its_own_form) {
    bmp_bytes::picture p{5, 3, std::vector<bmp_bytes::rgb>(15, {9, 8, 7})};
    const bytes plain = bmp_bytes::encode(p, fields{}, {});
    bytes trailing = plain;
    trailing.push_back(0);
    const struct {
        const char* name;
        bytes file;
        bool as_is;
    } cases[] = {
        {"24-bit, 40-byte header", plain, true},
        {"a byte after the pixels", trailing, false},
        {"V5 header", bmp_bytes::encode(p, header(124), {}), false},
        {"no image size", with(sized(5, 3), 0, 48), false},
    };
    for (const auto& c : cases) {
        bmp_input in;
        std::string why;
        ASSERT_TRUE(guard_bmp(c.file.data(), c.file.size(), &in, &why)) << c.name << ": " << why;
        EXPECT_EQ(in.as_is, c.as_is) << c.name;
        EXPECT_EQ(in.bytes.empty(), c.as_is) << c.name;
    }
}

}  // namespace
