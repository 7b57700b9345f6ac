// What the binary makes of the files users hand it: every BMP kind it reads
// is filtered correctly, and every file it refuses ends in one clear line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmp_bytes.h"
#include "frame_fixture.h"
#include "run_binary.h"

namespace {

using bmp_bytes::bytes;
using bmp_bytes::fields;
using bmp_bytes::picture;
using bmp_bytes::rgb;
using run_binary::outcome;
using run_binary::work_folder;

const std::string binary = LAPLACE_BENCH_BINARY;

// Colours on the 5-bit grid (multiples of 8), which 16-bit pixels hold
// exactly, with strong contrasts between neighbours.
std::vector<rgb> palette_of(size_t n) {
    std::vector<rgb> colours;
    for (size_t i = 0; i < n; ++i) {
        colours.push_back({static_cast<unsigned char>((i * 88 + 8) % 256 / 8 * 8),
                           static_cast<unsigned char>((i * 136 + 200) % 256 / 8 * 8),
                           static_cast<unsigned char>((248 - i * 40) % 256 / 8 * 8)});
    }
    return colours;
}

// 23×19 pixels: runs and single pixels in every row, so RLE files hold both
// kinds of packet, and a width that leaves row padding at most depths.
picture sample(const std::vector<rgb>& colours) {
    picture p{23, 19, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const size_t index =
                x < 6 ? static_cast<size_t>(y) : static_cast<size_t>(x * 7 + y * 3);
            p.pixels.push_back(colours[index % colours.size()]);
        }
    }
    return p;
}

// The edge image the program must save for `p`, in the channel order of a
// 24-bit BMP.
frame_fixture::bytes expected_edges(const picture& p) {
    frame_fixture::bytes bgr;
    for (const rgb& c : p.pixels) bgr.insert(bgr.end(), {c.b, c.g, c.r});
    return frame_fixture::cpu_laplacian(bgr, p.width, p.height);
}

struct bmp_kind {
    const char* name;
    uint32_t info_size;
    uint16_t bits;
    uint32_t compression;
    bool top_down;
};

class InputKind : public ::testing::TestWithParam<bmp_kind> {};

TEST_P(InputKind, IsFilteredLikeTheCpuReference) {
    const bmp_kind kind = GetParam();
    const std::vector<rgb> colours = palette_of(kind.bits == 1 ? 2 : 16);
    const picture p = sample(colours);
    fields f;
    f.info_size = kind.info_size;
    f.bits = kind.bits;
    f.compression = kind.compression;
    f.height = kind.top_down ? -1 : 1;
    if (kind.bits <= 8) f.colours_used = static_cast<uint32_t>(colours.size());
    if (kind.compression == bmp_bytes::bitfields_compression) {
        f.masks[0] = 0xf800;  // 5-6-5
        f.masks[1] = 0x07e0;
        f.masks[2] = 0x001f;
    }
    work_folder folder;
    run_binary::write_file(folder.path / "input.bmp",
                           bmp_bytes::encode(p, f, kind.bits <= 8 ? colours : std::vector<rgb>{}));
    const outcome run = run_binary::run(binary, folder.path);
    ASSERT_EQ(run.status, 0) << run.err;
    int width = 0, height = 0;
    std::vector<unsigned char> saved;
    ASSERT_TRUE(run_binary::read_bmp24(run_binary::read_file(folder.path / "output.bmp"), &width,
                                       &height, &saved));
    EXPECT_EQ(width, p.width);
    EXPECT_EQ(height, p.height);
    EXPECT_EQ(saved, expected_edges(p));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, InputKind,
    ::testing::Values(
        bmp_kind{"rgb_24", 40, 24, 0, false}, bmp_kind{"top_down_24", 40, 24, 0, true},
        bmp_kind{"paletted_1", 40, 1, 0, false}, bmp_kind{"paletted_4", 40, 4, 0, false},
        bmp_kind{"paletted_8", 40, 8, 0, false}, bmp_kind{"rle4", 40, 4, 2, false},
        bmp_kind{"rle8", 40, 8, 1, false}, bmp_kind{"rgb_16_555", 40, 16, 0, false},
        bmp_kind{"bitfields_16_565", 40, 16, 3, false}, bmp_kind{"rgb_32", 40, 32, 0, false},
        bmp_kind{"os2_4", 12, 4, 0, false}, bmp_kind{"v4_24", 108, 24, 0, false},
        bmp_kind{"v5_8", 124, 8, 0, false}, bmp_kind{"v5_16_565", 124, 16, 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Files the program refuses: exit status 1, one line naming input.bmp and the
// reason, no timing line, the old output untouched and nothing stray.
struct bad_input {
    const char* name;
    bytes file;
    const char* reason;
};

bytes header_only(fields f) { return bmp_bytes::file(f, {}, {}); }

fields sized(int32_t width, int32_t height, uint16_t bits) {
    fields f;
    f.width = width;
    f.height = height;
    f.bits = bits;
    return f;
}

std::vector<bad_input> bad_inputs() {
    std::vector<bad_input> cases;
    const picture p = sample(palette_of(16));
    bytes truncated = bmp_bytes::encode(p, fields{}, {});
    truncated.resize(truncated.size() - 100);
    cases.push_back({"truncated_rows", truncated, "truncated"});
    cases.push_back({"header_without_data", header_only(sized(640, 480, 24)), "truncated"});
    cases.push_back(
        {"overflowing_8_bit", header_only(sized(13, 1321528399, 8)), "exceeds the limit"});
    cases.push_back(
        {"overflowing_1_bit", header_only(sized(65536, 65537, 1)), "exceeds the limit"});
    cases.push_back(
        {"largest_int", header_only(sized(2147483647, 2147483647, 24)), "exceeds the limit"});
    cases.push_back({"zero_width", header_only(sized(0, 10, 24)), "invalid size"});
    fields offset_past_end = sized(4, 4, 24);
    offset_past_end.data_offset = 100000;
    cases.push_back({"offset_past_end",
                     bmp_bytes::encode(sample(palette_of(2)), offset_past_end, {}),
                     "past the end"});
    fields not_bmp = sized(4, 4, 24);
    not_bmp.signature[0] = 'G';
    not_bmp.signature[1] = 'I';
    cases.push_back({"not_a_bmp", header_only(not_bmp), "not a BMP file"});
    cases.push_back({"empty_file", bytes{}, "input.bmp"});
    fields jpeg = sized(4, 4, 0);
    jpeg.compression = 4;
    cases.push_back({"jpeg_inside", header_only(jpeg), "unsupported"});
    return cases;
}

class BadInput : public ::testing::TestWithParam<bad_input> {};

TEST_P(BadInput, IsRefusedWithAReason) {
    const bad_input& bad = GetParam();
    work_folder folder;
    run_binary::write_file(folder.path / "input.bmp", bad.file);
    run_binary::write_file(folder.path / "output.bmp", {'o', 'l', 'd'});
    const outcome run = run_binary::run(binary, folder.path);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "");
    const size_t line = run.err.find("laplace_bench: input.bmp: ");
    ASSERT_NE(line, std::string::npos) << run.err;
    EXPECT_NE(run.err.find(bad.reason, line), std::string::npos) << run.err;
    EXPECT_TRUE(run_binary::read_file(folder.path / "output.bmp") == "old");
    EXPECT_EQ(folder.entries().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Files, BadInput, ::testing::ValuesIn(bad_inputs()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, DirectoryNamedInputIsRefused) {
    work_folder folder;
    run_binary::fs::create_directory(folder.path / "input.bmp");
    const outcome run = run_binary::run(binary, folder.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("laplace_bench: input.bmp: "), std::string::npos) << run.err;
    EXPECT_EQ(folder.entries().size(), 1u);
}

}  // namespace
