#include "gpu/gpu_backend.h"

#include <string>

#include "gpu/gpu_path.h"
#include "report.h"
#include "standin/cuda_runtime_standin.h"

bool choose_gpu_backend(gpu_backend* backend) {
    const char* why = "built without the CUDA toolkit";
#ifdef LAPLACE_BENCH_HAVE_CUDA
    if (cuda_device_usable(&why)) {
        *backend = gpu_backend::cuda_device;
        return true;
    }
#endif
    *backend = gpu_backend::host_standin;
    const std::string notice =
        std::string("no usable CUDA device (") + why + "); the GPU path runs on the host stand-in";
    report_notice(notice.c_str());
    const char* fault_error = nullptr;
    if (!cuda_standin::inject_fault_from_env(&fault_error)) {
        report_error("LAPLACE_BENCH_STANDIN_FAULT", fault_error);
        return false;
    }
    return true;
}

bool run_conv_cuda(gpu_backend backend, const unsigned char* in_frame, unsigned char* out_frame,
                   int width, int height, int border_x, int border_y) {
#ifdef LAPLACE_BENCH_HAVE_CUDA
    if (backend == gpu_backend::cuda_device) {
        return conv_cuda(in_frame, out_frame, width, height, border_x, border_y);
    }
#endif
    (void)backend;
    return cuda_standin::conv_cuda(in_frame, out_frame, width, height, border_x, border_y);
}
