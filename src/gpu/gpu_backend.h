#pragma once

// Where the GPU pass runs: on a CUDA device through the real runtime, or on
// the host stand-in when no usable device (or no toolkit) is there.
enum class gpu_backend { cuda_device, host_standin };

// Decides once, at start-up. When it picks the stand-in it says so on stderr,
// and it arms the stand-in's fault injection from the environment (a testing
// aid). Returns false, after reporting, when that environment setting is
// malformed.
bool choose_gpu_backend(gpu_backend* backend);

// Runs conv_cuda on the chosen backend.
bool run_conv_cuda(gpu_backend backend, const unsigned char* in_frame, unsigned char* out_frame,
                   int width, int height, int border_x, int border_y);

// Asks the real runtime for a device; false with the runtime's text in *why
// when there is none or the runtime fails. Built by nvcc.
bool cuda_device_usable(const char** why);
