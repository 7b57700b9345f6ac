#include "conv_cpu.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "frame_fixture.h"
#include "padded_frame.h"

using namespace frame_fixture;

namespace {

int clamp_byte(int value) { return std::min(255, std::max(0, value)); }

// Image pixels in the 5x5 window of (x, y): the Laplacian of a uniform image
// of value v is 25*v minus v times that count.
int pixels_in_window(int x, int y, int width, int height) {
    const int columns = std::min(x + 2, width - 1) - std::max(x - 2, 0) + 1;
    const int rows = std::min(y + 2, height - 1) - std::max(y - 2, 0) + 1;
    return columns * rows;
}

class UniformImage : public ::testing::TestWithParam<int> {};

TEST_P(UniformImage, EachRingGetsTheMissingWindowPixels) {
    const int value = GetParam();
    const int width = 9, height = 8;
    const bytes pixels(3 * width * height, static_cast<unsigned char>(value));
    const bytes result = cpu_laplacian(pixels, width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int expected = clamp_byte((25 - pixels_in_window(x, y, width, height)) * value);
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(result[3 * (y * width + x) + c], expected)
                    << "pixel (" << x << ", " << y << ") channel " << c;
            }
        }
    }
}

// 10: every ring below 255 (0, 50, 90, 100, 160); 20: corners clamp; 255: all but
// the inside clamp.
INSTANTIATE_TEST_SUITE_P(Values, UniformImage, ::testing::Values(10, 20, 255));

TEST(ConvCpu, SingleBrightPixelKeepsItselfAndClearsItsWindow) {
    const int size = 9;
    bytes pixels(3 * size * size, 0);
    pixels[3 * (4 * size + 4) + 1] = 255;  // green channel only
    const bytes result = cpu_laplacian(pixels, size, size);
    for (size_t i = 0; i < result.size(); ++i) {
        EXPECT_EQ(result[i], i == 3 * (4 * size + 4) + 1 ? 255 : 0) << "byte " << i;
    }
}

TEST(ConvCpu, OnePixelImageIsTwentyFourTimesItsValueClamped) {
    const struct {
        unsigned char value;
        unsigned char expected;
    } cases[] = {{0, 0}, {10, 240}, {11, 255}, {255, 255}};
    for (const auto& c : cases) {
        const bytes result = cpu_laplacian(bytes{c.value, c.value, c.value}, 1, 1);
        EXPECT_EQ(result, (bytes{c.expected, c.expected, c.expected})) << int(c.value);
    }
}

// A table with a single 1 at row r, column k moves the image by (k-2, r-2):
// this pins down which table index weighs which window position.
TEST(ConvCpu, ShiftTablesMoveTheImage) {
    const int width = 7, height = 6;
    const bytes pixels = noise_image(width, height, 7);
    const struct { int row, column; } cases[] = {{0, 0}, {0, 1}, {3, 4}, {2, 2}};
    for (const auto& c : cases) {
        float filter[25] = {};
        filter[5 * c.row + c.column] = 1.0f;
        const bytes result = cpu_filtered(pixels, width, height, filter);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int sx = x + c.column - 2, sy = y + c.row - 2;
                const bool inside = sx >= 0 && sx < width && sy >= 0 && sy < height;
                for (int ch = 0; ch < 3; ++ch) {
                    const int expected = inside ? pixels[3 * (sy * width + sx) + ch] : 0;
                    ASSERT_EQ(result[3 * (y * width + x) + ch], expected)
                        << "row " << c.row << " column " << c.column << " at (" << x << ", " << y
                        << ")";
                }
            }
        }
    }
}

// Fractions truncate toward zero and the sum saturates at both ends.
TEST(ConvCpu, NonLaplacianTablesTruncateAndClamp) {
    const struct {
        float coefficient;
        unsigned char value;
        unsigned char expected;
    } cases[] = {
        {0.5f, 3, 1},      // centre only: 1.5 -> 1
        {2.0f, 200, 255},  // 400 -> 255
        {-1.0f, 200, 0},   // -200 -> 0
    };
    for (const auto& c : cases) {
        float filter[25] = {};
        filter[12] = c.coefficient;
        const bytes result = cpu_filtered(bytes{c.value, c.value, c.value}, 1, 1, filter);
        EXPECT_EQ(result[0], c.expected) << c.coefficient << " * " << int(c.value);
    }
}

TEST(ConvCpu, WritesOnlyTheInteriorOfTheOutputFrame) {
    const struct { int width, height; } cases[] = {{5, 4}, {0, 3}, {3, 0}};
    for (const auto& c : cases) {
        const bytes pixels = noise_image(c.width, c.height, 3);
        const bytes in_frame = laplacian_input_frame(pixels, c.width, c.height);
        bytes out_frame(in_frame.size(), 0x5a);
        float filter[25];
        fill_laplacian(filter);
        conv_cpu(c.height, c.width, c.width + 4, filter, in_frame.data(), out_frame.data());
        // Mark the interior as written; every other byte must still hold 0x5a.
        const bytes marks(pixels.size(), 0x5a);
        copy_into_frame(marks.data(), c.width, c.height, out_frame.data());
        EXPECT_EQ(std::count(out_frame.begin(), out_frame.end(), 0x5a),
                  static_cast<long>(out_frame.size()))
            << c.width << "x" << c.height;
    }
}

}  // namespace
