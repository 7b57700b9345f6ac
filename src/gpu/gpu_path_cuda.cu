// The GPU pass built by nvcc against the real CUDA runtime. The kernel and
// its tables stay in the global namespace, so the module registers them as
// kernel_conv, filter_laplace and filter_laplace_f.
#include <cuda_runtime.h>

#include <chrono>
#include <cstdio>

#include "gpu/gpu_backend.h"
#include "gpu/gpu_path.h"
#include "report.h"

// In this order: the tables, the kernel that reads them, the host code that
// launches it.
// clang-format off
#include "gpu/filter_tables.inc"
#include "gpu/kernel_conv.inc"
#include "gpu/conv_cuda.inc"
// clang-format on

bool cuda_device_usable(const char** why) {
    int count = 0;
    const cudaError_t status = cudaGetDeviceCount(&count);
    if (status != cudaSuccess) {
        *why = cudaGetErrorString(status);
        cudaGetLastError();  // the probe's error must not surface later
        return false;
    }
    if (count == 0) {
        *why = cudaGetErrorString(cudaErrorNoDevice);
        return false;
    }
    return true;
}
