// Throughput of every step of a laplace_bench run, at the image sizes users
// filter: the CPU reference (next to a plain loop of the same arithmetic),
// the GPU pass and its kernel on the host stand-in, and the host work around
// the timed intervals (load, frame copies, compare, save).
//
// Items are image pixels. Bytes are the image's bytes (3 per pixel), except
// for the GPU pass, whose bytes are the two padded frames it transfers.
#include <IL/il.h>
#include <IL/ilu.h>
#include <benchmark/benchmark.h>
#include <omp.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "conv_cpu.h"
#include "gpu/gpu_path.h"
#include "image/load_input.h"
#include "image/save_output.h"
#include "padded_frame.h"
#include "report.h"
#include "standin/cuda_runtime_standin.h"

namespace {

using bytes = std::vector<unsigned char>;

struct image_size {
    int width;
    int height;
    // 0 lets the library choose; the large sizes take seconds per pass.
    benchmark::IterationCount iterations;
};

constexpr image_size sizes[] = {
    {640, 480, 0},
    {1920, 1080, 0},
    {3840, 2160, 5},
    {7680, 4320, 2},
};

// Folder for the files the load and save benchmarks use; set by main.
std::string scratch_folder;

// A grainy photograph stand-in: smooth colour ramps under low noise, so the
// filter's clamp goes either way about as often as on a real picture.
bytes grainy_image(int width, int height) {
    bytes pixels(3 * static_cast<size_t>(width) * static_cast<size_t>(height));
    uint32_t state = 12345u;
    size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int ramp[3] = {x * 200 / width, y * 200 / height,
                                 (x + y) * 100 / (width + height)};
            for (int c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                pixels[at++] = static_cast<unsigned char>(ramp[c] + (state >> 28));
            }
        }
    }
    return pixels;
}

// The frames of one image as laplace_bench prepares them.
struct frames {
    int width;
    int height;
    int padded_width;
    int padded_height;
    bytes pixels;
    bytes in;
    bytes out;
};

frames make_frames(int width, int height) {
    frames f{};
    f.width = width;
    f.height = height;
    f.padded_width = width + 2 * frame_border;
    f.padded_height = height + 2 * frame_border;
    f.pixels = grainy_image(width, height);
    const size_t size = frame_bytes(f.padded_width, f.padded_height);
    f.in.assign(size, 0);
    f.out.assign(size, 0);
    copy_into_frame(f.pixels.data(), width, height, f.in.data());
    return f;
}

int64_t pixels_of(const frames& f) { return int64_t{f.width} * f.height; }

void set_throughput(benchmark::State& state, const frames& f) {
    state.SetItemsProcessed(state.iterations() * pixels_of(f));
    state.SetBytesProcessed(state.iterations() * 3 * pixels_of(f));
}

// conv_cpu's arithmetic written the plain way: int indices, no restrict, no
// hoisting. This file is built at -O2, so this is what an ordinary optimised
// scalar loop achieves, the bar conv_cpu must not fall below.
void plain_conv(int height, int width, int padded_width, const float* filter,
                const unsigned char* in_frame, unsigned char* out_frame) {
    const int stride = 3 * padded_width;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                float sum = 0.0f;
                for (int r = 0; r < 5; ++r) {
                    for (int k = 0; k < 5; ++k) {
                        sum += in_frame[(y + r) * stride + 3 * (x + k) + c] * filter[5 * r + k];
                    }
                }
                if (sum > 255.0) {
                    sum = 255.0f;
                } else if (sum < 0.0f) {
                    sum = 0.0f;
                }
                out_frame[(y + 2) * stride + 3 * (x + 2) + c] =
                    static_cast<unsigned char>(static_cast<int>(sum));
            }
        }
    }
}

using cpu_filter = void (*)(int, int, int, const float*, const unsigned char*, unsigned char*);

void run_cpu_filter(benchmark::State& state, cpu_filter filter_fn, int width, int height) {
    frames f = make_frames(width, height);
    float filter[25];
    fill_laplacian(filter);
    for (auto _ : state) {
        filter_fn(height, width, f.padded_width, filter, f.in.data(), f.out.data());
        benchmark::ClobberMemory();
    }
    // Both loops must compute the same thing for the comparison to mean anything.
    bytes reference(f.out.size(), 0);
    conv_cpu(height, width, f.padded_width, filter, f.in.data(), reference.data());
    if (f.out != reference) state.SkipWithError("the result differs from conv_cpu's");
    set_throughput(state, f);
}

void BM_conv_cpu(benchmark::State& state, int width, int height) {
    run_cpu_filter(state, conv_cpu, width, height);
}

void BM_plain_conv_O2(benchmark::State& state, int width, int height) {
    run_cpu_filter(state, plain_conv, width, height);
}

// Runs `body` with the stand-in's blocks spread over `threads` OpenMP threads.
template <class Body>
void with_omp_threads(int threads, Body body) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    body();
    omp_set_num_threads(saved);
}

// The whole timed interval of the pass: upload, launch, wait, download, as
// the pass itself measures it (allocation, registration and reset excluded).
void BM_standin_gpu_pass(benchmark::State& state, int width, int height) {
    frames f = make_frames(width, height);
    with_omp_threads(static_cast<int>(state.range(0)), [&] {
        for (auto _ : state) {
            double seconds = 0.0;
            if (!cuda_standin::gpu_pass(f.in.data(), f.out.data(), width, height, frame_border,
                                        frame_border, &seconds)) {
                state.SkipWithError("gpu_pass failed");
                break;
            }
            state.SetIterationTime(seconds);
        }
    });
    state.SetItemsProcessed(state.iterations() * pixels_of(f));
    state.SetBytesProcessed(state.iterations() * 2 * static_cast<int64_t>(f.in.size()));
}

// The kernel alone, on frames already in device memory.
void BM_standin_kernel(benchmark::State& state, int width, int height) {
    using namespace cuda_standin;
    frames f = make_frames(width, height);
    unsigned char* device_in = nullptr;
    unsigned char* device_out = nullptr;
    if (cudaMalloc(&device_in, f.in.size()) != cudaSuccess ||
        cudaMalloc(&device_out, f.out.size()) != cudaSuccess ||
        cudaMemcpy(device_in, f.in.data(), f.in.size(), cudaMemcpyHostToDevice) != cudaSuccess) {
        state.SkipWithError("device buffers");
        cudaDeviceReset();
        return;
    }
    int padded_width = f.padded_width;
    void* args[] = {&device_in, &device_out, &padded_width, &width, &height};
    const dim3 block(16, 16, 1);
    const dim3 grid((width + 15) / 16, (height + 15) / 16, 1);
    with_omp_threads(static_cast<int>(state.range(0)), [&] {
        for (auto _ : state) {
            if (cudaLaunchKernel(kernel_conv, grid, block, args, 0, nullptr) != cudaSuccess ||
                cudaDeviceSynchronize() != cudaSuccess) {
                state.SkipWithError("kernel launch failed");
                break;
            }
        }
    });
    cudaDeviceReset();
    set_throughput(state, f);
}

std::string bmp_path(const char* name, int width, int height) {
    return scratch_folder + "/" + name + "_" + std::to_string(width) + "x" +
           std::to_string(height) + ".bmp";
}

// A new bound DevIL image holding the picture top row first, as
// load_input_image leaves one. *name is set even on failure, for deletion.
bool bind_image(const frames& f, ILuint* name) {
    ilGenImages(1, name);
    ilBindImage(*name);
    if (ilTexImage(static_cast<ILuint>(f.width), static_cast<ILuint>(f.height), 1, 3, IL_BGR,
                   IL_UNSIGNED_BYTE, const_cast<unsigned char*>(f.pixels.data())) != IL_TRUE) {
        return false;
    }
    ilRegisterOrigin(IL_ORIGIN_UPPER_LEFT);
    return ilGetError() == IL_NO_ERROR;
}

void BM_load_input_image(benchmark::State& state, int width, int height) {
    const frames f = make_frames(width, height);
    const std::string path = bmp_path("load", width, height);
    ILuint name = 0;
    const bool written = bind_image(f, &name) && save_output_image(path.c_str());
    ilDeleteImages(1, &name);
    if (!written) {
        state.SkipWithError("cannot write the input file");
        return;
    }
    for (auto _ : state) {
        input_image image{};
        if (!load_input_image(path.c_str(), &image)) {
            state.SkipWithError("load_input_image failed");
            break;
        }
        ilDeleteImages(1, &image.name);
    }
    std::remove(path.c_str());
    set_throughput(state, f);
}

// What laplace_bench does to its frames before the CPU pass.
void BM_frames_in(benchmark::State& state, int width, int height) {
    frames f = make_frames(width, height);
    for (auto _ : state) {
        clear_frame(f.in.data(), f.padded_width, f.padded_height);
        clear_frame(f.out.data(), f.padded_width, f.padded_height);
        copy_into_frame(f.pixels.data(), width, height, f.in.data());
        benchmark::ClobberMemory();
    }
    set_throughput(state, f);
}

void BM_frame_out(benchmark::State& state, int width, int height) {
    frames f = make_frames(width, height);
    for (auto _ : state) {
        copy_from_frame(f.in.data(), width, height, f.pixels.data());
        benchmark::ClobberMemory();
    }
    set_throughput(state, f);
}

// The equal case, the one a correct run takes: every row is compared whole.
void BM_compare_frame_interior(benchmark::State& state, int width, int height) {
    const frames f = make_frames(width, height);
    for (auto _ : state) {
        int first_x = 0;
        int first_y = 0;
        benchmark::DoNotOptimize(compare_frame_interior(f.in.data(), f.pixels.data(), width, height,
                                                        &first_x, &first_y));
    }
    set_throughput(state, f);
}

void BM_save_output_image(benchmark::State& state, int width, int height) {
    const frames f = make_frames(width, height);
    const std::string path = bmp_path("save", width, height);
    ILuint name = 0;
    if (!bind_image(f, &name)) {
        state.SkipWithError("cannot make the DevIL image");
    } else {
        for (auto _ : state) {
            if (!save_output_image(path.c_str())) {
                state.SkipWithError("save_output_image failed");
                break;
            }
        }
    }
    ilDeleteImages(1, &name);
    std::remove(path.c_str());
    set_throughput(state, f);
}

// Ratios the project tracks. Each iteration times both sides back to back, so
// both see the same machine: on a shared one the speed drifts by tens of
// percent within a minute. Counters: both sides' mean seconds and the ratio of
// their totals.
struct timed_step {
    const char* name;
    // Runs the step once; its seconds, or a negative value on failure.
    std::function<double()> run;
};

void run_ratio(benchmark::State& state, const timed_step& top, const timed_step& bottom) {
    double top_total = 0.0;
    double bottom_total = 0.0;
    for (auto _ : state) {
        const double top_seconds = top.run();
        const double bottom_seconds = bottom.run();
        if (top_seconds < 0.0 || bottom_seconds < 0.0) {
            state.SkipWithError("a step failed");
            return;
        }
        top_total += top_seconds;
        bottom_total += bottom_seconds;
        state.SetIterationTime(top_seconds + bottom_seconds);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters[std::string(top.name) + "_s"] = top_total / n;
    state.counters[std::string(bottom.name) + "_s"] = bottom_total / n;
    state.counters["ratio"] = top_total / bottom_total;
}

template <class Step>
double seconds_of(Step step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

timed_step cpu_step(const char* name, cpu_filter filter_fn, frames* f, const float* filter) {
    return {name, [=] {
                return seconds_of([&] {
                    filter_fn(f->height, f->width, f->padded_width, filter, f->in.data(),
                              f->out.data());
                    benchmark::ClobberMemory();
                });
            }};
}

// threads 0: the OpenMP default, what laplace_bench runs with.
timed_step gpu_pass_step(const char* name, frames* f, int threads) {
    return {name, [=] {
                double seconds = -1.0;
                const auto pass = [&] {
                    if (!cuda_standin::gpu_pass(f->in.data(), f->out.data(), f->width, f->height,
                                                frame_border, frame_border, &seconds)) {
                        seconds = -1.0;
                    }
                };
                if (threads == 0) {
                    pass();
                } else {
                    with_omp_threads(threads, pass);
                }
                return seconds;
            }};
}

// conv_cpu against the plain -O2 loop: at most 1.10 wanted.
void BM_ratio_conv_cpu_to_plain(benchmark::State& state, int width, int height) {
    frames f = make_frames(width, height);
    float filter[25];
    fill_laplacian(filter);
    run_ratio(state, cpu_step("conv_cpu", conv_cpu, &f, filter),
              cpu_step("plain_conv_O2", plain_conv, &f, filter));
}

// The stand-in's timed interval against conv_cpu: at most 0.5 wanted.
void BM_ratio_gpu_pass_to_conv_cpu(benchmark::State& state, int width, int height) {
    frames f = make_frames(width, height);
    float filter[25];
    fill_laplacian(filter);
    run_ratio(state, gpu_pass_step("gpu_pass", &f, 0), cpu_step("conv_cpu", conv_cpu, &f, filter));
}

// The stand-in's timed interval on one thread against two: at least 1.7 wanted.
void BM_ratio_gpu_pass_1_to_2_threads(benchmark::State& state, int width, int height) {
    frames f = make_frames(width, height);
    run_ratio(state, gpu_pass_step("one_thread", &f, 1), gpu_pass_step("two_threads", &f, 2));
}

// What a second thread gives on this machine right now, for work that shares
// nothing: independent integer hashing, split the way the stand-in splits its
// blocks. Read the stand-in's thread ratio against this one.
void BM_ratio_machine_1_to_2_threads(benchmark::State& state, int width, int height) {
    const int64_t rounds = int64_t{width} * height;
    const auto hash_work = [rounds](int threads) {
        return [=] {
            uint32_t result = 0;
            with_omp_threads(threads, [&] {
#pragma omp parallel for schedule(dynamic, 4) reduction(^ : result)
                for (int64_t block = 0; block < rounds / 256; ++block) {
                    uint32_t h = static_cast<uint32_t>(block);
                    for (int i = 0; i < 256 * 16; ++i) h = h * 1664525u + 1013904223u;
                    result ^= h;
                }
            });
            benchmark::DoNotOptimize(result);
        };
    };
    run_ratio(state, {"one_thread", [=] { return seconds_of(hash_work(1)); }},
              {"two_threads", [=] { return seconds_of(hash_work(2)); }});
}

using benchmark_fn = void (*)(benchmark::State&, int, int);

struct benchmark_entry {
    const char* name;
    benchmark_fn fn;
    // Runs once per OpenMP thread count in `threads` instead of once.
    bool per_thread_count;
    // Reports the time the benchmark sets itself instead of the wall time.
    bool manual_time;
};

constexpr benchmark_entry benchmarks[] = {
    {"conv_cpu", BM_conv_cpu, false, false},
    {"plain_conv_O2", BM_plain_conv_O2, false, false},
    {"standin_gpu_pass", BM_standin_gpu_pass, true, true},
    {"standin_kernel", BM_standin_kernel, true, false},
    {"load_input_image", BM_load_input_image, false, false},
    {"frames_in", BM_frames_in, false, false},
    {"frame_out", BM_frame_out, false, false},
    {"compare_frame_interior", BM_compare_frame_interior, false, false},
    {"save_output_image", BM_save_output_image, false, false},
    {"ratio_conv_cpu_to_plain", BM_ratio_conv_cpu_to_plain, false, true},
    {"ratio_gpu_pass_to_conv_cpu", BM_ratio_gpu_pass_to_conv_cpu, false, true},
    {"ratio_gpu_pass_1_to_2_threads", BM_ratio_gpu_pass_1_to_2_threads, false, true},
    {"ratio_machine_1_to_2_threads", BM_ratio_machine_1_to_2_threads, false, true},
};

constexpr int thread_counts[] = {1, 2};

void register_benchmarks() {
    for (const image_size& size : sizes) {
        for (const benchmark_entry& entry : benchmarks) {
            const std::string name = std::string(entry.name) + "/" + std::to_string(size.width) +
                                     "x" + std::to_string(size.height);
            auto* b = benchmark::RegisterBenchmark(name.c_str(), entry.fn, size.width, size.height);
            b->Unit(benchmark::kMillisecond);
            if (size.iterations != 0) b->Iterations(size.iterations);
            if (entry.per_thread_count) {
                b->ArgName("threads");
                for (int threads : thread_counts) b->Arg(threads);
            }
            // The stand-in's blocks run on several threads: CPU time of the
            // main thread alone would undercount them.
            if (entry.manual_time) {
                b->UseManualTime();
            } else {
                b->UseRealTime();
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ilInit();
    iluInit();
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/laplace_benchmarks-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) {
        report_error(folder.c_str(), std::strerror(errno));
        return 1;
    }
    scratch_folder = folder;
    register_benchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (rmdir(folder.c_str()) != 0) {
        report_error(folder.c_str(), std::strerror(errno));
        return 1;
    }
    return 0;
}
