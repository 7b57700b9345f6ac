// The GPU pass built by the host compiler against the host stand-in for the
// CUDA runtime: the same source as the device build, inside the stand-in's
// namespace so both copies link into one binary.
#include <chrono>
#include <cstddef>
#include <cstdio>

#include "gpu/gpu_path.h"
#include "report.h"
#include "standin/cuda_runtime_standin.h"

namespace cuda_standin {
// clang-format off
#include "gpu/filter_tables.inc"
#include "gpu/kernel_conv.inc"
#include "gpu/conv_cuda.inc"
// clang-format on
}  // namespace cuda_standin
