#pragma once

// Small helpers shared by the filter tests: an image as a byte vector, its
// padded frames, and the CPU reference applied to it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "conv_cpu.h"
#include "padded_frame.h"

namespace frame_fixture {

using bytes = std::vector<unsigned char>;

inline size_t frame_size(int width, int height) {
    return frame_bytes(width + 2 * frame_border, height + 2 * frame_border);
}

// A deterministic image with every byte value and sharp edges.
inline bytes noise_image(int width, int height, uint32_t seed) {
    bytes pixels(3 * static_cast<size_t>(width) * height);
    uint32_t state = seed;
    for (unsigned char& byte : pixels) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return pixels;
}

inline bytes laplacian_input_frame(const bytes& pixels, int width, int height) {
    bytes frame(frame_size(width, height), 0);
    copy_into_frame(pixels.data(), width, height, frame.data());
    return frame;
}

// conv_cpu of an image with the given table; returns the filtered image.
inline bytes cpu_filtered(const bytes& pixels, int width, int height, const float* filter) {
    const bytes in_frame = laplacian_input_frame(pixels, width, height);
    bytes out_frame(in_frame.size(), 0);
    conv_cpu(height, width, width + 2 * frame_border, filter, in_frame.data(), out_frame.data());
    bytes result(pixels.size());
    copy_from_frame(out_frame.data(), width, height, result.data());
    return result;
}

inline bytes cpu_laplacian(const bytes& pixels, int width, int height) {
    float filter[25];
    fill_laplacian(filter);
    return cpu_filtered(pixels, width, height, filter);
}

}  // namespace frame_fixture
