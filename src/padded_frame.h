#pragma once

#include <cstddef>

// A padded frame holds a width x height image, three bytes per pixel, inside a
// border of `frame_border` pixels on every side: rows of 3*(width+4) bytes with
// no gap. Image pixel (x, y), channel c lies at
//   3*(width+4)*(y+2) + 3*(x+2) + c.
// The border is zero in the input frame, so the filters read zeros outside the
// image without any bounds test.
constexpr int frame_border = 2;

// Bytes of one padded frame for a padded width x padded height, or 0 when the
// product does not fit in size_t.
size_t frame_bytes(int padded_width, int padded_height);

// Allocates the input and output frames, uncleared. Returns false and leaves
// both pointers null when either allocation fails or the size overflows.
bool alloc_host_buffers(int padded_width, int padded_height, unsigned char** in_frame,
                        unsigned char** out_frame);

// Frees both frames and nulls the pointers; null frames are fine.
void free_host_buffers(unsigned char** in_frame, unsigned char** out_frame);

// Zeroes every byte of a frame, border included.
void clear_frame(unsigned char* frame, int padded_width, int padded_height);

// Copies image pixels (rows of 3*width bytes) into the interior of a frame.
void copy_into_frame(const unsigned char* pixels, int width, int height, unsigned char* frame);

// Copies the interior of a frame out to image pixels (rows of 3*width bytes).
void copy_from_frame(const unsigned char* frame, int width, int height, unsigned char* pixels);

// Compares the interior of a frame with image pixels. Returns the number of
// differing bytes; when there is any, *first_x and *first_y name the first
// differing pixel in row order.
size_t compare_frame_interior(const unsigned char* frame, const unsigned char* pixels, int width,
                              int height, int* first_x, int* first_y);
