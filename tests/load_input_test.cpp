#include "image/load_input.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "bmp_bytes.h"

namespace {

using bmp_bytes::bytes;
using bmp_bytes::fields;
using bmp_bytes::picture;
using bmp_bytes::rgb;

class devil_environment : public testing::Environment {
public:
    void SetUp() override {
        ilInit();
        iluInit();
    }
};

testing::Environment* const devil = testing::AddGlobalTestEnvironment(new devil_environment);

// A file name of its own for each test process, so that builds testing side by side do not meet.
std::string temp_path(const char* name) {
    return testing::TempDir() + "load_input_test_" + std::to_string(getpid()) + "_" + name;
}

// `n` distinct colours whose channels are multiples of the given steps, so
// that 16-bit pixels hold them exactly.
std::vector<rgb> colours(int n, int r_step = 1, int g_step = 1, int b_step = 1) {
    std::vector<rgb> c;
    c.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        c.push_back({static_cast<unsigned char>((i * 37 + 200) % 256 / r_step * r_step),
                     static_cast<unsigned char>((i * 101 + 60) % 256 / g_step * g_step),
                     static_cast<unsigned char>((255 - i * 13 % 256) / b_step * b_step)});
    return c;
}

// 7×5 pixels: each row opens with a repeat (an RLE run) and goes on with five
// different pixels (an odd literal stretch); 7 pixels leave padding at every
// bit depth but 32.
picture sample(const std::vector<rgb>& c) {
    picture p{7, 5, {}};
    const size_t n = c.size();
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.pixels.push_back(
                c[x < 2 ? static_cast<size_t>(y) % n : static_cast<size_t>(x * 5 + y * 2) % n]);
    return p;
}

fields kind(uint16_t bits, uint32_t compression = 0, uint32_t info_size = 40, bool top_down = false,
            uint32_t r = 0, uint32_t g = 0, uint32_t b = 0) {
    fields f;
    f.bits = bits;
    f.compression = compression;
    f.info_size = info_size;
    f.height = top_down ? -1 : 1;
    f.masks[0] = r;
    f.masks[1] = g;
    f.masks[2] = b;
    return f;
}

struct kind_case {
    const char* name;
    fields f;
    std::vector<rgb> colours;
    bool paletted;
    // How the conversion notice names the file's pixels; empty for 24-bit.
    const char* notice;
};

std::string expected_notice(const char* kind) {
    return *kind == '\0'
               ? ""
               : std::string("laplace_bench: in.bmp: converted ") + kind + " pixels to 24-bit\n";
}

// Rows of `image` top first against `p`.
void expect_pixels(const input_image& image, const picture& p) {
    ASSERT_EQ(image.width, p.width);
    ASSERT_EQ(image.height, p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const size_t at =
                static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x);
            const unsigned char* q = image.pixels + 3 * at;
            const rgb want = p.pixels[at];
            EXPECT_TRUE(q[0] == want.b && q[1] == want.g && q[2] == want.r)
                << "pixel " << x << "," << y << ": got " << int{q[2]} << "," << int{q[1]} << ","
                << int{q[0]} << " want " << int{want.r} << "," << int{want.g} << "," << int{want.b};
        }
}

void PrintTo(const kind_case& c, std::ostream* os) { *os << c.name; }

class kind_table : public testing::TestWithParam<kind_case> {};

TEST_P(kind_table, decodes_every_pixel_and_says_what_it_converted) {
    const kind_case& c = GetParam();
    const picture p = sample(c.colours);
    const bytes file = bmp_bytes::encode(p, c.f, c.paletted ? c.colours : std::vector<rgb>{});
    input_image image;
    testing::internal::CaptureStderr();
    const bool loaded = load_input_from_memory("in.bmp", file.data(), file.size(), &image);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << said;
    EXPECT_EQ(said, expected_notice(c.notice));
    expect_pixels(image, p);
    ilDeleteImages(1, &image.name);
}

constexpr uint32_t rle8 = bmp_bytes::rle8_compression;
constexpr uint32_t rle4 = bmp_bytes::rle4_compression;
constexpr uint32_t bitfields = bmp_bytes::bitfields_compression;

const kind_case kind_cases[] = {
    {"paletted_1_bit", kind(1), colours(2), true, "1-bit paletted"},
    {"paletted_4_bit", kind(4), colours(16), true, "4-bit paletted"},
    {"paletted_8_bit", kind(8), colours(256), true, "8-bit paletted"},
    {"paletted_8_bit_short_palette",
     [] {
         fields f = kind(8);
         f.colours_used = 20;
         return f;
     }(),
     colours(20), true, "8-bit paletted"},
    {"rle4", kind(4, rle4), colours(16), true, "4-bit RLE"},
    {"rle8", kind(8, rle8), colours(256), true, "8-bit RLE"},
    // DevIL widens 5- and 6-bit channels by shifting (31 becomes 248), so the
    // colours stay on the grid the shift reaches.
    {"rgb_16_bit_555", kind(16), colours(32, 8, 8, 8), false, "16-bit"},
    {"bitfields_16_bit_555", kind(16, bitfields, 40, false, 0x7c00, 0x03e0, 0x001f),
     colours(32, 8, 8, 8), false, "16-bit"},
    {"bitfields_16_bit_565", kind(16, bitfields, 40, false, 0xf800, 0x07e0, 0x001f),
     colours(32, 8, 4, 8), false, "16-bit"},
    {"rgb_24_bit", kind(24), colours(40), false, ""},
    {"rgb_32_bit", kind(32), colours(40), false, "32-bit"},
    {"bitfields_32_bit", kind(32, bitfields, 40, false, 0xff, 0xff00, 0xff0000), colours(40), false,
     "32-bit"},
    {"bitfields_32_bit_10_bits", kind(32, bitfields, 40, false, 0x3ff00000, 0xffc00, 0x3ff),
     colours(40), false, "32-bit"},
    {"top_down_24_bit", kind(24, 0, 40, true), colours(40), false, ""},
    {"top_down_8_bit", kind(8, 0, 40, true), colours(256), true, "8-bit paletted"},
    {"top_down_1_bit", kind(1, 0, 40, true), colours(2), true, "1-bit paletted"},
    {"top_down_16_bit", kind(16, bitfields, 40, true, 0xf800, 0x07e0, 0x001f), colours(32, 8, 4, 8),
     false, "16-bit"},
    {"os2_1_bit", kind(1, 0, 12), colours(2), true, "1-bit paletted"},
    {"os2_4_bit", kind(4, 0, 12), colours(16), true, "4-bit paletted"},
    {"os2_8_bit", kind(8, 0, 12), colours(256), true, "8-bit paletted"},
    {"os2_24_bit", kind(24, 0, 12), colours(40), false, ""},
    {"info_52_16_bit_565", kind(16, bitfields, 52, false, 0xf800, 0x07e0, 0x001f),
     colours(32, 8, 4, 8), false, "16-bit"},
    {"info_56_32_bit", kind(32, bitfields, 56, false, 0xff0000, 0xff00, 0xff), colours(40), false,
     "32-bit"},
    {"v4_24_bit", kind(24, 0, 108), colours(40), false, ""},
    {"v4_8_bit", kind(8, 0, 108), colours(256), true, "8-bit paletted"},
    {"v4_16_bit_565", kind(16, bitfields, 108, false, 0xf800, 0x07e0, 0x001f), colours(32, 8, 4, 8),
     false, "16-bit"},
    {"v4_rle4", kind(4, rle4, 108), colours(16), true, "4-bit RLE"},
    {"v5_24_bit", kind(24, 0, 124), colours(40), false, ""},
    {"v5_32_bit", kind(32, bitfields, 124, false, 0xff0000, 0xff00, 0xff), colours(40), false,
     "32-bit"},
    {"v5_top_down_32_bit", kind(32, 0, 124, true), colours(40), false, "32-bit"},
    {"v5_rle8", kind(8, rle8, 124), colours(256), true, "8-bit RLE"},
};

INSTANTIATE_TEST_SUITE_P(kinds, kind_table, testing::ValuesIn(kind_cases),
                         [](const testing::TestParamInfo<kind_case>& info) {
                             return std::string(info.param.name);
                         });

// Files whose pixels DevIL on its own would leave unset or read from past the
// palette: the loader gives them palette entry 0 and black.
TEST(load_input, pixels_rle_skips_take_palette_entry_0) {
    const std::vector<rgb> palette = colours(3);
    fields f = kind(8, rle8);
    f.width = 4;
    f.height = 2;
    f.colours_used = 3;
    // Bottom row: two of entry 1, skip one, one of entry 2; the top row is
    // never reached.
    const bytes file = bmp_bytes::file(f, palette, {2, 1, 0, 2, 1, 0, 1, 2, 0, 0, 0, 1});
    input_image image;
    testing::internal::CaptureStderr();
    const bool loaded = load_input_from_memory("in.bmp", file.data(), file.size(), &image);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << said;
    const rgb c0 = palette[0], c1 = palette[1], c2 = palette[2];
    expect_pixels(image, picture{4, 2, {c0, c0, c0, c0, c1, c1, c0, c2}});
    ilDeleteImages(1, &image.name);
}

TEST(load_input, indices_past_a_short_palette_are_black) {
    const std::vector<rgb> palette = colours(2);
    fields f = kind(8);
    f.width = 4;
    f.height = 1;
    f.colours_used = 2;
    const bytes file = bmp_bytes::file(f, palette, {0, 1, 2, 255});
    input_image image;
    testing::internal::CaptureStderr();
    const bool loaded = load_input_from_memory("in.bmp", file.data(), file.size(), &image);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << said;
    expect_pixels(image, picture{4, 1, {palette[0], palette[1], {0, 0, 0}, {0, 0, 0}}});
    ilDeleteImages(1, &image.name);
}

// The filter does not care which way up rows are; the saved output does.
TEST(load_input, saved_image_is_the_right_way_up) {
    const picture p = sample(colours(40));
    const std::string path = temp_path("saved.bmp");
    for (bool top_down : {false, true}) {
        SCOPED_TRACE(top_down ? "top-down file" : "bottom-up file");
        const bytes file = bmp_bytes::encode(p, kind(24, 0, 40, top_down), {});
        input_image image;
        ASSERT_TRUE(load_input_from_memory("in.bmp", file.data(), file.size(), &image));
        std::remove(path.c_str());
        ASSERT_TRUE(ilSave(IL_BMP, path.c_str()));
        ilDeleteImages(1, &image.name);

        input_image saved;
        ASSERT_TRUE(load_input_image(path.c_str(), &saved));
        expect_pixels(saved, p);
        ilDeleteImages(1, &saved.name);
    }
    std::remove(path.c_str());
}

struct failure_case {
    const char* name;
    std::string path;
    // File contents, written to `path` first when not empty.
    bytes contents;
    const char* reason;
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.name; }

class failure_table : public testing::TestWithParam<failure_case> {};

TEST_P(failure_table, reports_one_line_and_leaves_no_image) {
    const failure_case& c = GetParam();
    if (!c.contents.empty()) {
        std::FILE* f = std::fopen(c.path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(c.contents.data(), 1, c.contents.size(), f), c.contents.size());
        ASSERT_EQ(std::fclose(f), 0);
    }
    input_image image;
    testing::internal::CaptureStderr();
    const bool loaded = load_input_image(c.path.c_str(), &image);
    const std::string said = testing::internal::GetCapturedStderr();
    if (!c.contents.empty()) std::remove(c.path.c_str());
    EXPECT_FALSE(loaded);
    EXPECT_EQ(said, "laplace_bench: " + c.path + ": " + c.reason + "\n");
    EXPECT_EQ(image.name, 0u);
    EXPECT_EQ(image.pixels, nullptr);
}

const failure_case failure_cases[] = {
    {"missing_file", temp_path("missing.bmp"), {}, "No such file or directory"},
    {"directory", testing::TempDir(), {}, "Is a directory"},
    {"not_a_bmp",
     temp_path("not_a_bmp.png"),
     {0x89, 'P', 'N', 'G', 13, 10},
     "not a BMP file (no BM signature)"},
    {"truncated_rows", temp_path("truncated.bmp"),
     [] {
         bytes b = bmp_bytes::encode(sample(colours(40)), kind(24), {});
         b.resize(b.size() - 10);
         return b;
     }(),
     "truncated: 164 of 174 bytes"},
};

INSTANTIATE_TEST_SUITE_P(files, failure_table, testing::ValuesIn(failure_cases),
                         [](const testing::TestParamInfo<failure_case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
