#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin/cuda_runtime_standin.h"

namespace {

using namespace cuda_standin;

std::atomic<unsigned> kernel_calls{0};

__global__ void count_call() { ++kernel_calls; }

__global__ void touch(unsigned char* data) {
    ++kernel_calls;
    if (data != nullptr) {
        data[0] = 1;
    }
}

// Each thread bumps the slot of its global linear index.
__global__ void mark_thread(unsigned* hits, unsigned total) {
    const unsigned block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
    const unsigned thread = (threadIdx.z * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
    const unsigned index = block * blockDim.x * blockDim.y * blockDim.z + thread;
    if (index < total) {
        ++hits[index];
    }
}

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        clear_faults();
        ASSERT_EQ(cudaDeviceReset(), cudaSuccess);
        kernel_calls = 0;
    }
};

// Where one side of a copy points.
enum class Place { device, host, freed, null };

struct CopyCase {
    const char* what;
    Place dst;
    Place src;
    size_t count;
    cudaMemcpyKind kind;
    cudaError_t expected;
};

constexpr size_t copy_size = 64;

const CopyCase bad_copies[] = {
    {"wrong direction", Place::host, Place::device, copy_size, cudaMemcpyHostToDevice,
     cudaErrorInvalidValue},
    {"past the end", Place::host, Place::device, copy_size + 1, cudaMemcpyDeviceToHost,
     cudaErrorInvalidValue},
    {"past the end inferred", Place::host, Place::device, copy_size + 1, cudaMemcpyDefault,
     cudaErrorInvalidValue},
    {"host pointer as device", Place::device, Place::host, copy_size, cudaMemcpyDeviceToDevice,
     cudaErrorInvalidValue},
    {"device pointer as host", Place::host, Place::device, copy_size, cudaMemcpyHostToHost,
     cudaErrorInvalidValue},
    {"freed pointer", Place::host, Place::freed, copy_size, cudaMemcpyDeviceToHost,
     cudaErrorInvalidValue},
    {"null host pointer", Place::null, Place::device, copy_size, cudaMemcpyDeviceToHost,
     cudaErrorInvalidValue},
    {"invalid kind", Place::host, Place::device, copy_size, static_cast<cudaMemcpyKind>(5),
     cudaErrorInvalidMemcpyDirection},
};

TEST_F(StandinTest, BadCopiesFailWithoutCopying) {
    for (const CopyCase& c : bad_copies) {
        SCOPED_TRACE(c.what);
        void* device = nullptr;
        void* freed = nullptr;
        ASSERT_EQ(cudaMalloc(&device, copy_size), cudaSuccess);
        ASSERT_EQ(cudaMalloc(&freed, copy_size), cudaSuccess);
        ASSERT_EQ(cudaFree(freed), cudaSuccess);
        std::vector<unsigned char> host(2 * copy_size, 0x11);
        const auto where = [&](Place place) -> void* {
            switch (place) {
                case Place::device:
                    return device;
                case Place::host:
                    return host.data();
                case Place::freed:
                    return freed;
                case Place::null:
                    return nullptr;
            }
            return nullptr;
        };
        EXPECT_EQ(cudaMemcpy(where(c.dst), where(c.src), c.count, c.kind), c.expected);
        EXPECT_EQ(cudaGetLastError(), c.expected);
        EXPECT_EQ(host, std::vector<unsigned char>(2 * copy_size, 0x11));
        ASSERT_EQ(cudaFree(device), cudaSuccess);
    }
}

TEST_F(StandinTest, CopiesRoundTripInBothExplicitAndInferredDirections) {
    for (cudaMemcpyKind kind : {cudaMemcpyHostToDevice, cudaMemcpyDefault}) {
        const cudaMemcpyKind back = kind == cudaMemcpyDefault ? kind : cudaMemcpyDeviceToHost;
        std::vector<unsigned char> in(copy_size), out(copy_size);
        for (size_t i = 0; i < in.size(); ++i) {
            in[i] = static_cast<unsigned char>(i * 7);
        }
        unsigned char* device = nullptr;
        ASSERT_EQ(cudaMalloc(&device, copy_size), cudaSuccess);
        EXPECT_EQ(cudaMemcpy(device, in.data(), copy_size, kind), cudaSuccess);
        EXPECT_EQ(cudaMemcpy(out.data(), device, copy_size, back), cudaSuccess);
        EXPECT_EQ(out, in);
        EXPECT_EQ(cudaFree(device), cudaSuccess);
    }
}

TEST_F(StandinTest, FreshDeviceMemoryReadsBackAsPoison) {
    const size_t size = 1000;  // not a multiple of the alignment
    unsigned char* device = nullptr;
    ASSERT_EQ(cudaMalloc(&device, size), cudaSuccess);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(device) % 256, 0u);
    std::vector<unsigned char> host(size, 0);
    ASSERT_EQ(cudaMemcpy(host.data(), device, size, cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(host, std::vector<unsigned char>(size, device_poison));
}

TEST_F(StandinTest, MallocHandlesZeroImpossibleAndNullRequests) {
    void* device = &device;
    EXPECT_EQ(cudaMalloc(&device, 0), cudaSuccess);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(cudaMalloc(&device, SIZE_MAX), cudaErrorMemoryAllocation);
    EXPECT_EQ(cudaMalloc(&device, device_memory_bytes + 1), cudaErrorMemoryAllocation);
    EXPECT_EQ(cudaMalloc(static_cast<void**>(nullptr), 16), cudaErrorInvalidValue);
    EXPECT_EQ(live_device_allocations(), 0u);
}

TEST_F(StandinTest, FreeRejectsAnythingButALiveBase) {
    unsigned char* device = nullptr;
    ASSERT_EQ(cudaMalloc(&device, copy_size), cudaSuccess);
    int host = 0;
    EXPECT_EQ(cudaFree(nullptr), cudaSuccess);
    EXPECT_EQ(cudaFree(device + 1), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(&host), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(device), cudaSuccess);
    EXPECT_EQ(cudaFree(device), cudaErrorInvalidValue);
    EXPECT_EQ(live_device_allocations(), 0u);
}

TEST_F(StandinTest, LastErrorIsKeptUntilRead) {
    int host = 0;
    ASSERT_EQ(cudaFree(&host), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(nullptr), cudaSuccess);  // success leaves it in place
    EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidValue);
    EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidValue);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

struct LaunchCase {
    dim3 grid;
    dim3 block;
    size_t shared;
    cudaError_t expected;
};

const LaunchCase launch_cases[] = {
    {dim3(0, 1, 1), dim3(32), 0, cudaErrorInvalidConfiguration},
    {dim3(1, 0, 1), dim3(32), 0, cudaErrorInvalidConfiguration},
    {dim3(1, 1, 0), dim3(32), 0, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(0, 1, 1), 0, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(1025), 0, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(1, 1025, 1), 0, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(1, 1, 65), 0, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(32, 33, 1), 0, cudaErrorInvalidConfiguration},
    {dim3(1, 65536, 1), dim3(1), 0, cudaErrorInvalidConfiguration},
    {dim3(1, 1, 65536), dim3(1), 0, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(1), 48 * 1024 + 1, cudaErrorInvalidConfiguration},
    {dim3(2), dim3(1024), 48 * 1024, cudaSuccess},
    {dim3(2), dim3(1, 1024, 1), 0, cudaSuccess},
    {dim3(2), dim3(16, 1, 64), 0, cudaSuccess},
    {dim3(1, 65535, 1), dim3(1), 0, cudaSuccess},
};

TEST_F(StandinTest, LaunchConfigurationLimits) {
    for (const LaunchCase& c : launch_cases) {
        SCOPED_TRACE(::testing::Message() << "grid " << c.grid.x << "x" << c.grid.y << "x"
                                          << c.grid.z << " block " << c.block.x << "x" << c.block.y
                                          << "x" << c.block.z << " shared " << c.shared);
        kernel_calls = 0;
        EXPECT_EQ(cudaLaunchKernel(count_call, c.grid, c.block, nullptr, c.shared), c.expected);
        const unsigned threads = c.grid.x * c.grid.y * c.grid.z * c.block.x * c.block.y * c.block.z;
        EXPECT_EQ(kernel_calls, c.expected == cudaSuccess ? threads : 0u);
        EXPECT_EQ(cudaGetLastError(), c.expected);
    }
}

TEST_F(StandinTest, LaunchRejectsMissingKernelArgumentsAndUnknownStreams) {
    unsigned char* data = nullptr;
    void* args[] = {&data};
    void* missing[] = {nullptr};
    void (*no_kernel)(unsigned char*) = nullptr;
    EXPECT_EQ(cudaLaunchKernel(no_kernel, dim3(1), dim3(1), args), cudaErrorInvalidValue);
    EXPECT_EQ(cudaLaunchKernel(touch, dim3(1), dim3(1), nullptr), cudaErrorInvalidValue);
    EXPECT_EQ(cudaLaunchKernel(touch, dim3(1), dim3(1), missing), cudaErrorInvalidValue);
    EXPECT_EQ(
        cudaLaunchKernel(touch, dim3(1), dim3(1), args, 0, reinterpret_cast<cudaStream_t>(&data)),
        cudaErrorInvalidResourceHandle);
    EXPECT_EQ(kernel_calls, 0u);
}

TEST_F(StandinTest, OddGridRunsEveryThreadExactlyOnce) {
    const dim3 grid(3, 5, 2);
    const dim3 block(7, 3, 3);
    const unsigned total = 3 * 5 * 2 * 7 * 3 * 3;
    const unsigned slots = total + 16;  // slack to catch indices past the grid
    std::vector<unsigned> hits(slots, 0);
    unsigned* device = nullptr;
    ASSERT_EQ(cudaMalloc(&device, slots * sizeof(unsigned)), cudaSuccess);
    ASSERT_EQ(cudaMemcpy(device, hits.data(), slots * sizeof(unsigned), cudaMemcpyHostToDevice),
              cudaSuccess);
    unsigned limit = slots;
    void* args[] = {&device, &limit};
    ASSERT_EQ(cudaLaunchKernel(mark_thread, grid, block, args), cudaSuccess);
    ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    ASSERT_EQ(cudaMemcpy(hits.data(), device, slots * sizeof(unsigned), cudaMemcpyDeviceToHost),
              cudaSuccess);
    for (unsigned i = 0; i < slots; ++i) {
        ASSERT_EQ(hits[i], i < total ? 1u : 0u) << "slot " << i;
    }
}

TEST_F(StandinTest, KernelGivenANonDevicePointerFaultsAtSynchronise) {
    unsigned char host[8] = {};
    const struct {
        const char* what;
        Place place;
        size_t offset;
    } cases[] = {{"host", Place::host, 0},
                 {"freed", Place::freed, 0},
                 {"one past the end", Place::device, sizeof host}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        unsigned char* device = nullptr;
        unsigned char* freed = nullptr;
        ASSERT_EQ(cudaMalloc(&device, sizeof host), cudaSuccess);
        ASSERT_EQ(cudaMalloc(&freed, sizeof host), cudaSuccess);
        ASSERT_EQ(cudaFree(freed), cudaSuccess);  // nothing is allocated after, so no reuse
        unsigned char* argument = c.place == Place::host    ? host
                                  : c.place == Place::freed ? freed
                                                            : device + c.offset;
        void* args[] = {&argument};
        EXPECT_EQ(cudaLaunchKernel(touch, dim3(1), dim3(1), args), cudaSuccess);
        EXPECT_EQ(kernel_calls, 0u);
        EXPECT_EQ(host[0], 0);
        EXPECT_EQ(cudaDeviceSynchronize(), cudaErrorIllegalAddress);
        // The fault sticks to the device until it is reset.
        EXPECT_EQ(cudaMemcpy(host, device, sizeof host, cudaMemcpyDeviceToHost),
                  cudaErrorIllegalAddress);
        EXPECT_EQ(cudaDeviceSynchronize(), cudaErrorIllegalAddress);
        ASSERT_EQ(cudaDeviceReset(), cudaSuccess);
        EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    }
    unsigned char* none = nullptr;
    void* args[] = {&none};
    EXPECT_EQ(cudaLaunchKernel(touch, dim3(1), dim3(1), args), cudaSuccess);
    EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    EXPECT_EQ(kernel_calls, 1u);
}

TEST_F(StandinTest, ResetDropsAllocationsRegistrationsErrorsAndCacheConfig) {
    std::vector<unsigned char> host(64);
    void* device[3] = {};
    for (void*& d : device) {
        ASSERT_EQ(cudaMalloc(&d, 100), cudaSuccess);
    }
    ASSERT_EQ(cudaHostRegister(host.data(), host.size(), cudaHostRegisterDefault), cudaSuccess);
    ASSERT_EQ(cudaDeviceSetCacheConfig(cudaFuncCachePreferL1), cudaSuccess);
    ASSERT_EQ(cudaFree(host.data()), cudaErrorInvalidValue);
    ASSERT_EQ(live_device_allocations(), 3u);

    ASSERT_EQ(cudaDeviceReset(), cudaSuccess);
    EXPECT_EQ(live_device_allocations(), 0u);
    EXPECT_EQ(cudaPeekAtLastError(), cudaSuccess);
    cudaFuncCache config = cudaFuncCachePreferShared;
    EXPECT_EQ(cudaDeviceGetCacheConfig(&config), cudaSuccess);
    EXPECT_EQ(config, cudaFuncCachePreferNone);
    EXPECT_EQ(cudaFree(device[0]), cudaErrorInvalidValue);
    EXPECT_EQ(cudaHostUnregister(host.data()), cudaErrorHostMemoryNotRegistered);
    EXPECT_EQ(cudaHostRegister(host.data(), host.size(), cudaHostRegisterDefault), cudaSuccess);
}

TEST_F(StandinTest, HostRegistrationChecksRanges) {
    // Every case starts with bytes [64, 128) of the buffer registered.
    unsigned char host[256];
    unsigned char* device = nullptr;
    const struct {
        const char* what;
        bool unregister;
        Place place;
        size_t offset;
        size_t size;
        unsigned flags;
        cudaError_t expected;
    } cases[] = {
        {"inside", false, Place::host, 96, 8, 0, cudaErrorHostMemoryAlreadyRegistered},
        {"overlaps start", false, Place::host, 32, 64, 0, cudaErrorHostMemoryAlreadyRegistered},
        {"overlaps end", false, Place::host, 127, 8, 0, cudaErrorHostMemoryAlreadyRegistered},
        {"covers", false, Place::host, 0, 256, 0, cudaErrorHostMemoryAlreadyRegistered},
        {"just before", false, Place::host, 0, 64, 0, cudaSuccess},
        {"just after", false, Place::host, 128, 8, 0, cudaSuccess},
        {"null", false, Place::null, 0, 8, 0, cudaErrorInvalidValue},
        {"empty", false, Place::host, 0, 0, 0, cudaErrorInvalidValue},
        {"unknown flag", false, Place::host, 0, 8, 0x100, cudaErrorInvalidValue},
        {"device memory", false, Place::device, 0, 8, 0, cudaErrorInvalidValue},
        {"unregister base", true, Place::host, 64, 0, 0, cudaSuccess},
        {"unregister interior", true, Place::host, 65, 0, 0, cudaErrorHostMemoryNotRegistered},
        {"unregister unknown", true, Place::host, 0, 0, 0, cudaErrorHostMemoryNotRegistered},
        {"unregister null", true, Place::null, 0, 0, 0, cudaErrorHostMemoryNotRegistered},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(cudaDeviceReset(), cudaSuccess);
        ASSERT_EQ(cudaMalloc(&device, 64), cudaSuccess);
        ASSERT_EQ(cudaHostRegister(host + 64, 64, cudaHostRegisterDefault), cudaSuccess);
        unsigned char* pointer = c.place == Place::host     ? host + c.offset
                                 : c.place == Place::device ? device
                                                            : nullptr;
        const cudaError_t status =
            c.unregister ? cudaHostUnregister(pointer) : cudaHostRegister(pointer, c.size, c.flags);
        EXPECT_EQ(status, c.expected);
    }
}

TEST_F(StandinTest, SymbolCopiesStayInsideTheSymbol) {
    int symbol[4] = {};  // stands for a __constant__ array
    const int values[4] = {1, 2, 3, 4};
    int read[4] = {};
    const struct {
        bool to_symbol;
        size_t count;
        size_t offset;
        cudaMemcpyKind kind;
        cudaError_t expected;
    } cases[] = {
        {true, sizeof symbol, 0, cudaMemcpyHostToDevice, cudaSuccess},
        {true, 3 * sizeof(int), sizeof(int), cudaMemcpyHostToDevice, cudaSuccess},
        {true, sizeof symbol, sizeof(int), cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {true, sizeof symbol + 1, 0, cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {true, 1, SIZE_MAX, cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {true, sizeof symbol, 0, cudaMemcpyDeviceToHost, cudaErrorInvalidMemcpyDirection},
        {false, sizeof symbol, 0, cudaMemcpyDeviceToHost, cudaSuccess},
        {false, 3 * sizeof(int), sizeof(int), cudaMemcpyDeviceToHost, cudaSuccess},
        {false, sizeof symbol, sizeof(int), cudaMemcpyDeviceToHost, cudaErrorInvalidValue},
        {false, sizeof symbol, 0, cudaMemcpyHostToDevice, cudaErrorInvalidMemcpyDirection},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.to_symbol ? "to" : "from") << " count " << c.count
                                          << " offset " << c.offset << " kind " << c.kind);
        const int initial[4] = {10, 20, 30, 40};
        const int fill[4] = {9, 9, 9, 9};
        std::memcpy(symbol, initial, sizeof symbol);
        std::memcpy(read, fill, sizeof read);
        const cudaError_t status =
            c.to_symbol ? cudaMemcpyToSymbol(symbol, values, c.count, c.offset, c.kind)
                        : cudaMemcpyFromSymbol(read, symbol, c.count, c.offset, c.kind);
        ASSERT_EQ(status, c.expected);
        // A failed copy changes nothing; a good one moves exactly its bytes.
        const size_t moved = c.expected == cudaSuccess ? c.count / sizeof(int) : 0;
        const size_t first = c.offset / sizeof(int);
        for (size_t i = 0; i < 4; ++i) {
            if (c.to_symbol) {
                EXPECT_EQ(symbol[i],
                          i >= first && i < first + moved ? values[i - first] : initial[i])
                    << i;
            } else {
                EXPECT_EQ(read[i], i < moved ? initial[first + i] : fill[i]) << i;
            }
        }
    }
    // The default kinds, and device memory on the other side.
    int* device = nullptr;
    ASSERT_EQ(cudaMalloc(&device, sizeof symbol), cudaSuccess);
    ASSERT_EQ(cudaMemcpy(device, values, sizeof values, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpyToSymbol(symbol, device, sizeof symbol, 0, cudaMemcpyDeviceToDevice),
              cudaSuccess);
    EXPECT_EQ(cudaMemcpyToSymbol(symbol, device, sizeof symbol), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpyFromSymbol(read, symbol, sizeof symbol), cudaSuccess);
    EXPECT_EQ(std::memcmp(read, values, sizeof read), 0);
}

TEST_F(StandinTest, InjectedFaultHitsOnlyTheChosenOccurrence) {
    unsigned char a[4] = {1, 2, 3, 4};
    unsigned char b[4] = {};
    inject_fault("cudaMemcpy", 2, cudaErrorLaunchFailure);
    EXPECT_EQ(cudaMemcpy(b, a, 1, cudaMemcpyHostToHost), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(b + 1, a + 1, 1, cudaMemcpyHostToHost), cudaErrorLaunchFailure);
    EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchFailure);
    EXPECT_EQ(b[1], 0);  // the failing call did nothing
    EXPECT_EQ(cudaMemcpy(b + 2, a + 2, 1, cudaMemcpyHostToHost), cudaSuccess);

    void* device = &device;
    inject_fault("cudaMalloc", 1, cudaErrorMemoryAllocation);
    EXPECT_EQ(cudaMalloc(&device, 16), cudaErrorMemoryAllocation);
    EXPECT_EQ(device, &device);
    EXPECT_EQ(live_device_allocations(), 0u);

    inject_fault("cudaDeviceSynchronize", 1, cudaErrorUnknown);
    clear_faults();
    EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
}

// A harmless call of each runtime function the environment cases name.
cudaError_t probe(const std::string& call) {
    if (call == "cudaMemcpy") {
        unsigned char a = 1, b = 0;
        return cudaMemcpy(&b, &a, 1, cudaMemcpyHostToHost);
    }
    if (call == "cudaMalloc") {
        void* device = nullptr;
        const cudaError_t status = cudaMalloc(&device, 16);
        EXPECT_EQ(cudaFree(device), cudaSuccess);
        return status;
    }
    return cudaDeviceSynchronize();
}

TEST_F(StandinTest, FaultFromEnvironment) {
    const struct {
        const char* value;  // nullptr: unset
        bool accepted;
        const char* call;
        unsigned occurrence;
        cudaError_t error;
    } cases[] = {
        {nullptr, true, nullptr, 0, cudaSuccess},
        {"cudaMemcpy#2=1", true, "cudaMemcpy", 2, cudaErrorInvalidValue},
        {"cudaMalloc", true, "cudaMalloc", 1, cudaErrorMemoryAllocation},
        {"cudaMemcpy", true, "cudaMemcpy", 1, cudaErrorInvalidValue},
        {"cudaDeviceSynchronize=700", true, "cudaDeviceSynchronize", 1, cudaErrorIllegalAddress},
        {"cudaMalloc#3", true, "cudaMalloc", 3, cudaErrorMemoryAllocation},
        {"", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpyy", false, nullptr, 0, cudaSuccess},
        {"cudaGetLastError", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy#0", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy#", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy#2#3", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy#-1", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy=abc", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy=0", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy=5000", false, nullptr, 0, cudaSuccess},
        {"cudaMemcpy#99999999999=1", false, nullptr, 0, cudaSuccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "(unset)");
        clear_faults();
        if (c.value != nullptr) {
            ASSERT_EQ(setenv("LAPLACE_BENCH_STANDIN_FAULT", c.value, 1), 0);
        } else {
            ASSERT_EQ(unsetenv("LAPLACE_BENCH_STANDIN_FAULT"), 0);
        }
        const char* why = nullptr;
        EXPECT_EQ(inject_fault_from_env(&why), c.accepted);
        if (!c.accepted) {
            ASSERT_NE(why, nullptr);
            EXPECT_STRNE(why, "");
        }
        if (c.call != nullptr) {
            for (unsigned i = 1; i < c.occurrence; ++i) {
                EXPECT_EQ(probe(c.call), cudaSuccess);
            }
            EXPECT_EQ(probe(c.call), c.error);
        }
        // Nothing (else) is armed.
        EXPECT_EQ(probe("cudaMemcpy"), cudaSuccess);
        EXPECT_EQ(probe("cudaMalloc"), cudaSuccess);
        EXPECT_EQ(probe("cudaDeviceSynchronize"), cudaSuccess);
    }
    ASSERT_EQ(unsetenv("LAPLACE_BENCH_STANDIN_FAULT"), 0);
}

TEST(StandinErrorText, MatchesTheRealRuntime) {
    const struct {
        int code;
        const char* name;
        const char* text;
    } cases[] = {
        {0, "cudaSuccess", "no error"},
        {1, "cudaErrorInvalidValue", "invalid argument"},
        {2, "cudaErrorMemoryAllocation", "out of memory"},
        {9, "cudaErrorInvalidConfiguration", "invalid configuration argument"},
        {21, "cudaErrorInvalidMemcpyDirection", "invalid copy direction for memcpy"},
        {35, "cudaErrorInsufficientDriver",
         "CUDA driver version is insufficient for CUDA runtime version"},
        {100, "cudaErrorNoDevice", "no CUDA-capable device is detected"},
        {700, "cudaErrorIllegalAddress", "an illegal memory access was encountered"},
        {712, "cudaErrorHostMemoryAlreadyRegistered",
         "part or all of the requested memory range is already mapped"},
        {713, "cudaErrorHostMemoryNotRegistered",
         "pointer does not correspond to a registered memory region"},
        {5000, "unrecognized error code", "unrecognized error code"},
        {-1, "unrecognized error code", "unrecognized error code"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(cudaGetErrorName(static_cast<cudaError_t>(c.code)), c.name);
        EXPECT_STREQ(cudaGetErrorString(static_cast<cudaError_t>(c.code)), c.text);
    }
}

}  // namespace
