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
                        sum += static_cast<float>(window[r * stride + 3 * k + c]) * filter[5 * r + k];
                    }
                }
                if (static_cast<double>(sum) > 255.0) {
                    sum = 255.0f;
                } else if (sum < 0.0f) {
                    sum = 0.0f;
                }
                pixel[c] = static_cast<unsigned char>(static_cast<int>(sum));
            }
        }
    }
}
