#include "padded_frame.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "frame_fixture.h"

using namespace frame_fixture;

namespace {

TEST(PaddedFrame, SizeIsPaddedWidthTimesPaddedHeightTimesThree) {
    EXPECT_EQ(frame_bytes(644, 484), 935088u);
    EXPECT_EQ(frame_bytes(5, 5), 75u);
    EXPECT_EQ(frame_bytes(0, 5), 0u);
    EXPECT_EQ(frame_bytes(-3, 5), 0u);
}

TEST(PaddedFrame, OnePixelImageSitsAtBytes36To38) {
    unsigned char* in_frame = nullptr;
    unsigned char* out_frame = nullptr;
    ASSERT_TRUE(alloc_host_buffers(5, 5, &in_frame, &out_frame));
    clear_frame(in_frame, 5, 5);
    const unsigned char pixel[3] = {1, 2, 3};
    copy_into_frame(pixel, 1, 1, in_frame);
    for (int i = 0; i < 75; ++i) {
        EXPECT_EQ(in_frame[i], i >= 36 && i <= 38 ? i - 35 : 0) << "byte " << i;
    }
    free_host_buffers(&in_frame, &out_frame);
    EXPECT_EQ(in_frame, nullptr);
    EXPECT_EQ(out_frame, nullptr);
}

TEST(PaddedFrame, CopiesRoundTripAndLeaveTheBorderZero) {
    const int width = 7, height = 5;
    const bytes pixels = noise_image(width, height, 11);
    const bytes frame = laplacian_input_frame(pixels, width, height);
    const int padded_width = width + 4;
    for (int y = 0; y < height + 4; ++y) {
        for (int x = 0; x < padded_width; ++x) {
            const bool border = x < 2 || y < 2 || x >= width + 2 || y >= height + 2;
            for (int c = 0; c < 3; ++c) {
                const unsigned char expected =
                    border ? 0 : pixels[3 * ((y - 2) * width + (x - 2)) + c];
                ASSERT_EQ(frame[3 * (y * padded_width + x) + c], expected) << x << ", " << y;
            }
        }
    }
    bytes back(pixels.size(), 0);
    copy_from_frame(frame.data(), width, height, back.data());
    EXPECT_EQ(back, pixels);
}

TEST(PaddedFrame, CompareCountsBytesAndNamesTheFirstPixel) {
    const int width = 6, height = 4;
    const bytes pixels = noise_image(width, height, 5);
    bytes frame = laplacian_input_frame(pixels, width, height);
    int first_x = -1, first_y = -1;
    EXPECT_EQ(
        compare_frame_interior(frame.data(), pixels.data(), width, height, &first_x, &first_y), 0u);
    const int padded_width = width + 4;
    frame[3 * ((2 + 3) * padded_width + 2 + 1) + 2] ^= 1;  // pixel (1, 3)
    frame[3 * ((2 + 2) * padded_width + 2 + 4) + 0] ^= 1;  // pixel (4, 2): first in row order
    frame[0] ^= 1;                                         // the border does not count
    EXPECT_EQ(
        compare_frame_interior(frame.data(), pixels.data(), width, height, &first_x, &first_y), 2u);
    EXPECT_EQ(first_x, 4);
    EXPECT_EQ(first_y, 2);
}

TEST(PaddedFrame, ImpossibleSizesAllocateNothing) {
    unsigned char* in_frame = reinterpret_cast<unsigned char*>(uintptr_t{1});
    unsigned char* out_frame = in_frame;
    EXPECT_FALSE(alloc_host_buffers(0, 10, &in_frame, &out_frame));
    EXPECT_EQ(in_frame, nullptr);
    EXPECT_EQ(out_frame, nullptr);
}

}  // namespace
