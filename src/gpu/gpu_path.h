#pragma once

// The GPU pass exists twice, built from the same source: once by nvcc against
// the real CUDA runtime (global namespace, only when the toolkit was found)
// and once by the host compiler against the host stand-in (namespace
// cuda_standin). Both take padded frames (see padded_frame.h).

// Uploads the input frame, runs kernel_conv over the image, downloads the
// device output buffer over the whole output frame and resets the device.
// *seconds gets the timed interval (upload, launch, wait, download). Returns
// true when every runtime call succeeded; a failure is reported on stderr and
// the device is released and reset all the same.
bool gpu_pass(const unsigned char* in_frame, unsigned char* out_frame, int width, int height,
              int border_x, int border_y, double* seconds);

// gpu_pass followed by the "CUDA time" line on stdout, printed in every case.
bool conv_cuda(const unsigned char* in_frame, unsigned char* out_frame, int width, int height,
               int border_x, int border_y);

namespace cuda_standin {
bool gpu_pass(const unsigned char* in_frame, unsigned char* out_frame, int width, int height,
              int border_x, int border_y, double* seconds);
bool conv_cuda(const unsigned char* in_frame, unsigned char* out_frame, int width, int height,
               int border_x, int border_y);
// The stand-in's copy of the device entry point and its table, for tests and
// benchmarks that drive the kernel on its own.
void kernel_conv(unsigned char* in_frame, unsigned char* out_frame, int padded_width, int width,
                 int height);
extern int filter_laplace[25];
extern float filter_laplace_f[25];
}  // namespace cuda_standin
