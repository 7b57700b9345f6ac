// laplace_bench: filters "input.bmp" with a 5x5 Laplacian once on the CPU and
// once through CUDA, prints both timings and saves the GPU result as
// "output.bmp".
//
// Exit status: 0 success; 1 the run failed (input, output, resources);
// 2 the GPU pass failed or its result differs from the CPU reference.
#include <IL/il.h>
#include <IL/ilu.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "conv_cpu.h"
#include "gpu/gpu_backend.h"
#include "image/load_input.h"
#include "image/save_output.h"
#include "memory_budget.h"
#include "padded_frame.h"
#include "report.h"

#ifdef _WIN32
// Read by NVIDIA's driver on hybrid-graphics laptops: run this process on the
// NVIDIA GPU rather than the integrated one.
extern "C" __declspec(dllexport) int NvOptimusEnablementCuda = 1;
#endif

namespace {

constexpr const char* input_path = "input.bmp";
constexpr const char* output_path = "output.bmp";

// Compares the GPU result (interior of the output frame) with the CPU
// reference and reports the first difference.
bool gpu_matches_cpu(const unsigned char* out_frame, const unsigned char* reference, int width,
                     int height) {
    int first_x = 0;
    int first_y = 0;
    const size_t differing =
        compare_frame_interior(out_frame, reference, width, height, &first_x, &first_y);
    if (differing == 0) return true;
    const std::string why = std::to_string(differing) + " bytes differ from the CPU reference, " +
                            "the first at pixel (" + std::to_string(first_x) + ", " +
                            std::to_string(first_y) + ")";
    report_error("GPU result", why.c_str());
    return false;
}

// Filters the loaded image on both paths and leaves the pixels to save in the
// image buffer. Returns the exit status.
int filter_image(gpu_backend backend, const input_image& image) {
    const int width = image.width;
    const int height = image.height;
    const int padded_width = width + 2 * frame_border;
    const int padded_height = height + 2 * frame_border;
    // Two host frames, and on the stand-in two device buffers in host memory
    // as well: make sure they all fit before allocating any of them.
    const size_t frame_size = frame_bytes(padded_width, padded_height);
    const size_t buffers = backend == gpu_backend::host_standin ? 4 : 2;
    if (frame_size == 0 || frame_size > SIZE_MAX / buffers) {
        report_error("padded frames", "the image is too large");
        return 1;
    }
    if (!fits_in_memory("padded frames", buffers * frame_size)) return 1;
    unsigned char* in_frame = nullptr;
    unsigned char* out_frame = nullptr;
    if (!alloc_host_buffers(padded_width, padded_height, &in_frame, &out_frame)) {
        report_error("padded frames", "out of memory");
        return 1;
    }
    clear_frame(in_frame, padded_width, padded_height);
    clear_frame(out_frame, padded_width, padded_height);
    copy_into_frame(image.pixels, width, height, in_frame);

    float filter_cpu[25];
    fill_laplacian(filter_cpu);
    const auto start = std::chrono::steady_clock::now();
    conv_cpu(height, width, padded_width, filter_cpu, in_frame, out_frame);
    const auto stop = std::chrono::steady_clock::now();
    std::printf("CPU TIME: %4.4f\n", std::chrono::duration<double>(stop - start).count());
    std::fflush(stdout);

    // The image buffer keeps the CPU result: it is the reference for the
    // check, and what gets saved if the GPU pass fails.
    copy_from_frame(out_frame, width, height, image.pixels);
    int status = 0;
    if (!run_conv_cuda(backend, in_frame, out_frame, width, height, frame_border, frame_border)) {
        status = 2;
    } else {
        if (!gpu_matches_cpu(out_frame, image.pixels, width, height)) status = 2;
        copy_from_frame(out_frame, width, height, image.pixels);
    }
    free_host_buffers(&in_frame, &out_frame);
    return status;
}

}  // namespace

int main() {
    // A file-size limit must show up as a failed write, not kill the process.
    std::signal(SIGXFSZ, SIG_IGN);
    ilInit();
    iluInit();

    gpu_backend backend{};
    if (!choose_gpu_backend(&backend)) return 1;

    input_image image{};
    if (!load_input_image(input_path, &image)) return 1;
    int status = filter_image(backend, image);
    if (status != 1) {
        // The pixels were written in place, in DevIL's own buffer.
        if (!save_output_image(output_path)) status = 1;
    }
    ilDeleteImages(1, &image.name);
    // Callers parse the two lines: losing them is a failed run.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_error("standard output", "the timing lines could not be written");
        status = 1;
    }
    return status;
}
