#include "padded_frame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

size_t row_bytes(int width) { return 3 * static_cast<size_t>(width); }

size_t frame_stride(int width) { return row_bytes(width + 2 * frame_border); }

// Offset of image pixel (0, y) in a frame for an image of the given width.
size_t interior_offset(int width, int y) {
    return frame_stride(width) * static_cast<size_t>(y + frame_border) + size_t{3} * frame_border;
}

}  // namespace

size_t frame_bytes(int padded_width, int padded_height) {
    if (padded_width <= 0 || padded_height <= 0) return 0;
    const size_t row = row_bytes(padded_width);
    if (static_cast<size_t>(padded_height) > SIZE_MAX / row) return 0;
    return row * static_cast<size_t>(padded_height);
}

bool alloc_host_buffers(int padded_width, int padded_height, unsigned char** in_frame,
                        unsigned char** out_frame) {
    *in_frame = nullptr;
    *out_frame = nullptr;
    const size_t bytes = frame_bytes(padded_width, padded_height);
    if (bytes == 0) return false;
    *in_frame = static_cast<unsigned char*>(std::malloc(bytes));
    *out_frame = static_cast<unsigned char*>(std::malloc(bytes));
    if (*in_frame == nullptr || *out_frame == nullptr) {
        free_host_buffers(in_frame, out_frame);
        return false;
    }
    return true;
}

void free_host_buffers(unsigned char** in_frame, unsigned char** out_frame) {
    std::free(*in_frame);
    std::free(*out_frame);
    *in_frame = nullptr;
    *out_frame = nullptr;
}

void clear_frame(unsigned char* frame, int padded_width, int padded_height) {
    std::memset(frame, 0, frame_bytes(padded_width, padded_height));
}

void copy_into_frame(const unsigned char* pixels, int width, int height, unsigned char* frame) {
    if (width <= 0) return;
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame + interior_offset(width, y), pixels + row_bytes(width) * y,
                    row_bytes(width));
    }
}

void copy_from_frame(const unsigned char* frame, int width, int height, unsigned char* pixels) {
    if (width <= 0) return;
    for (int y = 0; y < height; ++y) {
        std::memcpy(pixels + row_bytes(width) * y, frame + interior_offset(width, y),
                    row_bytes(width));
    }
}

size_t compare_frame_interior(const unsigned char* frame, const unsigned char* pixels, int width,
                              int height, int* first_x, int* first_y) {
    size_t differing = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* frame_row = frame + interior_offset(width, y);
        const unsigned char* image_row = pixels + row_bytes(width) * y;
        if (std::memcmp(frame_row, image_row, row_bytes(width)) == 0) continue;
        for (size_t i = 0; i < row_bytes(width); ++i) {
            if (frame_row[i] == image_row[i]) continue;
            if (differing == 0) {
                *first_x = static_cast<int>(i / 3);
                *first_y = y;
            }
            ++differing;
        }
    }
    return differing;
}
