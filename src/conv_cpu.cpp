#include "conv_cpu.h"

#include <cstddef>

void conv_cpu(int height, int width, int padded_width, const float* __restrict filter,
              const unsigned char* __restrict in_frame, unsigned char* __restrict out_frame) {
    const size_t stride = 3 * static_cast<size_t>(padded_width);
    for (int y = 0; y < height; ++y) {
        const unsigned char* window_row = in_frame + static_cast<size_t>(y) * stride;
        unsigned char* out_row = out_frame + static_cast<size_t>(y + 2) * stride + 6;
        for (int x = 0; x < width; ++x) {
            const unsigned char* window = window_row + 3 * static_cast<size_t>(x);
            unsigned char* pixel = out_row + 3 * static_cast<size_t>(x);
            for (int c = 0; c < 3; ++c) {
                // One addition at a time, rows top to bottom and left to right:
                // the order is part of the result for tables that are not exact.
                float sum = 0.0f;
                for (int r = 0; r < 5; ++r) {
                    for (int k = 0; k < 5; ++k) {
                        sum += static_cast<float>(
                                   window[r * stride + static_cast<size_t>(3 * k + c)]) *
                               filter[5 * r + k];
                    }
                }
                // The clamp picks its value by index, not by branch: on grainy
                // pictures the sign of the sum is a coin toss, and each
                // mispredicted branch here throws away the next channel's sum
                // already under way. The two tests never hold together.
                const float clamped[3] = {sum, 255.0f, 0.0f};
                const int high = static_cast<double>(sum) > 255.0;
                const int low = sum < 0.0f;
                pixel[c] = static_cast<unsigned char>(static_cast<int>(clamped[high | low << 1]));
            }
        }
    }
}

void fill_laplacian(float* filter) {
    for (int i = 0; i < 25; ++i) filter[i] = -1.0f;
    filter[12] = 24.0f;
}
