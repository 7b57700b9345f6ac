// The GPU pass on the host stand-in: the same source nvcc builds for the
// device, checked against the CPU reference.
#include "gpu/gpu_path.h"

#include <gtest/gtest.h>

#include <string>

#include "frame_fixture.h"
#include "standin/cuda_runtime_standin.h"

using namespace frame_fixture;

namespace {

struct image_size {
    int width, height;
};

class GpuPassOnStandin : public ::testing::TestWithParam<image_size> {};

TEST_P(GpuPassOnStandin, EqualsTheCpuReferenceByteForByte) {
    const auto [width, height] = GetParam();
    const bytes pixels = noise_image(width, height, static_cast<uint32_t>(width * 31 + height));
    const bytes in_frame = laplacian_input_frame(pixels, width, height);
    bytes out_frame(in_frame.size(), 0);
    double seconds = -1.0;
    ASSERT_TRUE(
        cuda_standin::gpu_pass(in_frame.data(), out_frame.data(), width, height, 2, 2, &seconds));
    EXPECT_GE(seconds, 0.0);
    bytes gpu(pixels.size());
    copy_from_frame(out_frame.data(), width, height, gpu.data());
    EXPECT_EQ(gpu, cpu_laplacian(pixels, width, height));
    EXPECT_EQ(cuda_standin::live_device_allocations(), 0u);
}

// Multiples of the 16x16 block and sizes that leave a partial block, down to
// images smaller than one block in either direction.
INSTANTIATE_TEST_SUITE_P(Sizes, GpuPassOnStandin,
                         ::testing::Values(image_size{1, 1}, image_size{15, 15}, image_size{17, 33},
                                           image_size{640, 480}, image_size{3, 700},
                                           image_size{700, 3}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

// The constant tables are readable by symbol before any kernel has run.
TEST(GpuPassOnStandin, CoefficientTablesReadBackBySymbol) {
    using namespace cuda_standin;
    int table[25] = {};
    float table_f[25] = {};
    ASSERT_EQ(cudaMemcpyFromSymbol(table, filter_laplace, sizeof table), cudaSuccess);
    ASSERT_EQ(cudaMemcpyFromSymbol(table_f, filter_laplace_f, sizeof table_f), cudaSuccess);
    int sum = 0;
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(table[i], i == 12 ? 24 : -1) << i;
        EXPECT_EQ(table_f[i], i == 12 ? 24.0f : -1.0f) << i;
        sum += table[i];
    }
    EXPECT_EQ(sum, 0);
}

// A grid that stops one block short (as plain W/16 would) leaves device
// memory as it was allocated, and the download makes that visible.
TEST(GpuPassOnStandin, PixelsTheKernelSkipsShowThePoison) {
    using namespace cuda_standin;
    const int width = 20, height = 16, padded_width = width + 4;
    const bytes in_frame = laplacian_input_frame(noise_image(width, height, 1), width, height);
    unsigned char* device_in = nullptr;
    unsigned char* device_out = nullptr;
    ASSERT_EQ(cudaMalloc(&device_in, in_frame.size()), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&device_out, in_frame.size()), cudaSuccess);
    ASSERT_EQ(cudaMemcpy(device_in, in_frame.data(), in_frame.size(), cudaMemcpyHostToDevice),
              cudaSuccess);
    int pw = padded_width, w = width, h = height;
    void* args[] = {&device_in, &device_out, &pw, &w, &h};
    ASSERT_EQ(cudaLaunchKernel(kernel_conv, dim3(width / 16, height / 16), dim3(16, 16), args, 0,
                               nullptr),
              cudaSuccess);
    ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    bytes out_frame(in_frame.size(), 0);
    ASSERT_EQ(cudaMemcpy(out_frame.data(), device_out, out_frame.size(), cudaMemcpyDeviceToHost),
              cudaSuccess);
    ASSERT_EQ(cudaDeviceReset(), cudaSuccess);

    bytes gpu(3 * width * height);
    copy_from_frame(out_frame.data(), width, height, gpu.data());
    const bytes cpu = cpu_laplacian(noise_image(width, height, 1), width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = 3 * (static_cast<size_t>(y) * width + x);
            if (x < 16) {
                ASSERT_EQ(gpu[at], cpu[at]) << x << ", " << y;
            } else {
                ASSERT_EQ(gpu[at], device_poison) << x << ", " << y;
            }
        }
    }
}

// Every runtime call on the path can fail; each failure is named, and the
// device is left with nothing allocated whatever step failed.
struct injected_fault {
    const char* call;
    unsigned occurrence;
    cuda_standin::cudaError_t error;
    const char* reported;
};

class GpuPassFault : public ::testing::TestWithParam<injected_fault> {};

TEST_P(GpuPassFault, IsReportedAndReleasesTheDevice) {
    const injected_fault fault = GetParam();
    const int width = 33, height = 17;
    const bytes in_frame = laplacian_input_frame(noise_image(width, height, 9), width, height);
    bytes out_frame(in_frame.size(), 0);
    cuda_standin::inject_fault(fault.call, fault.occurrence, fault.error);
    double seconds = 0.0;
    ::testing::internal::CaptureStderr();
    const bool ok =
        cuda_standin::gpu_pass(in_frame.data(), out_frame.data(), width, height, 2, 2, &seconds);
    const std::string stderr_text = ::testing::internal::GetCapturedStderr();
    cuda_standin::clear_faults();
    EXPECT_FALSE(ok);
    EXPECT_NE(stderr_text.find(std::string("laplace_bench: ") + fault.reported + ": " +
                               cuda_standin::cudaGetErrorString(fault.error)),
              std::string::npos)
        << stderr_text;
    EXPECT_EQ(cuda_standin::live_device_allocations(), 0u);
    // The next pass on a reset device works again.
    EXPECT_TRUE(
        cuda_standin::gpu_pass(in_frame.data(), out_frame.data(), width, height, 2, 2, &seconds));
}

using cuda_standin::cudaErrorInvalidValue;
using cuda_standin::cudaErrorMemoryAllocation;
INSTANTIATE_TEST_SUITE_P(
    EveryCall, GpuPassFault,
    ::testing::Values(
        injected_fault{"cudaDeviceSetCacheConfig", 1, cudaErrorInvalidValue,
                       "cudaDeviceSetCacheConfig"},
        injected_fault{"cudaMalloc", 1, cudaErrorMemoryAllocation, "cudaMalloc (input frame)"},
        injected_fault{"cudaMalloc", 2, cudaErrorMemoryAllocation, "cudaMalloc (output frame)"},
        injected_fault{"cudaHostRegister", 1, cudaErrorInvalidValue,
                       "cudaHostRegister (input frame)"},
        injected_fault{"cudaHostRegister", 2, cudaErrorInvalidValue,
                       "cudaHostRegister (output frame)"},
        injected_fault{"cudaMemcpy", 1, cudaErrorInvalidValue, "cudaMemcpy (upload)"},
        injected_fault{"cudaLaunchKernel", 1, cuda_standin::cudaErrorInvalidConfiguration,
                       "cudaLaunchKernel"},
        injected_fault{"cudaDeviceSynchronize", 1, cuda_standin::cudaErrorLaunchFailure,
                       "cudaDeviceSynchronize"},
        injected_fault{"cudaMemcpy", 2, cudaErrorInvalidValue, "cudaMemcpy (download)"},
        injected_fault{"cudaHostUnregister", 1, cuda_standin::cudaErrorHostMemoryNotRegistered,
                       "cudaHostUnregister (output frame)"},
        injected_fault{"cudaFree", 1, cudaErrorInvalidValue, "cudaFree (input frame)"},
        injected_fault{"cudaDeviceReset", 1, cuda_standin::cudaErrorInitializationError,
                       "cudaDeviceReset"}),
    [](const auto& info) { return std::to_string(info.index) + "_" + info.param.call; });

}  // namespace
