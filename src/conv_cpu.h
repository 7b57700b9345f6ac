#pragma once

// Reference 5x5 convolution of a padded frame (border 2, three bytes per
// pixel, rows of 3*padded_width bytes). Each channel of each image pixel gets
// the single-precision sum of its window, clamped to 0..255 and truncated, at
// the same position of `out_frame`; the output border is not written.
// `filter` holds 25 coefficients, row-major. Scalar and single-threaded on
// purpose: it is the baseline the GPU timing is compared with.
void conv_cpu(int height, int width, int padded_width, const float* filter,
              const unsigned char* in_frame, unsigned char* out_frame);

// The program's table: the 5x5 Laplacian, -1 everywhere but the centre (24),
// so the entries sum to 0 and uniform areas filter to 0.
void fill_laplacian(float* filter);
