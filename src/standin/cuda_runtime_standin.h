// Host stand-in for the part of the CUDA runtime API that the GPU path uses.
//
// CUDA sources are included inside namespace cuda_standin and compiled by the host compiler;
// every runtime name they use resolves here with the real spelling, signature, enum values and
// error semantics. The stand-in behaves as a strict device: device memory lives in its own
// poisoned allocations, copies and kernel arguments are checked against them, launch
// configurations are validated against real hardware limits, and a kernel handed a host pointer
// faults asynchronously (reported by the next synchronising call, then sticky until reset).
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

// Execution space qualifiers vanish: device code is plain host code here.
// __shared__ and __syncthreads are deliberately absent: the threads of a block run one after
// another on one core, so block cooperation would need one fiber per thread. A kernel using
// them must fail to compile rather than run wrong.
#ifndef __global__
#define __global__  // NOLINT(bugprone-reserved-identifier): CUDA's own spelling
#endif
#ifndef __device__
#define __device__  // NOLINT(bugprone-reserved-identifier): CUDA's own spelling
#endif
#ifndef __host__
#define __host__  // NOLINT(bugprone-reserved-identifier): CUDA's own spelling
#endif
#ifndef __constant__
#define __constant__  // NOLINT(bugprone-reserved-identifier): CUDA's own spelling
#endif
#ifndef __forceinline__
#define __forceinline__  // NOLINT(bugprone-reserved-identifier): CUDA's own spelling inline
#endif

namespace cuda_standin {

// Fixed underlying types let the stand-in receive out-of-range values (an invalid copy kind,
// an unknown error code) without undefined behaviour, so it can reject them as the real one does.
enum cudaError : int {
    cudaSuccess = 0,
    cudaErrorInvalidValue = 1,
    cudaErrorMemoryAllocation = 2,
    cudaErrorInitializationError = 3,
    cudaErrorInvalidConfiguration = 9,
    cudaErrorInvalidSymbol = 13,
    cudaErrorInvalidDevicePointer = 17,
    cudaErrorInvalidMemcpyDirection = 21,
    cudaErrorInsufficientDriver = 35,
    cudaErrorInvalidDeviceFunction = 98,
    cudaErrorNoDevice = 100,
    cudaErrorInvalidDevice = 101,
    cudaErrorInvalidResourceHandle = 400,
    cudaErrorIllegalAddress = 700,
    cudaErrorHostMemoryAlreadyRegistered = 712,
    cudaErrorHostMemoryNotRegistered = 713,
    cudaErrorLaunchFailure = 719,
    cudaErrorUnknown = 999
};
using cudaError_t = cudaError;

enum cudaMemcpyKind : int {
    cudaMemcpyHostToHost = 0,
    cudaMemcpyHostToDevice = 1,
    cudaMemcpyDeviceToHost = 2,
    cudaMemcpyDeviceToDevice = 3,
    cudaMemcpyDefault = 4
};

enum cudaFuncCache : int {
    cudaFuncCachePreferNone = 0,
    cudaFuncCachePreferShared = 1,
    cudaFuncCachePreferL1 = 2,
    cudaFuncCachePreferEqual = 3
};

struct CUstream_st;
using cudaStream_t = CUstream_st*;

constexpr unsigned cudaHostRegisterDefault = 0x00;

struct uint3 {
    unsigned x, y, z;
};

struct dim3 {
    unsigned x, y, z;
    constexpr dim3(unsigned vx = 1, unsigned vy = 1, unsigned vz = 1) : x(vx), y(vy), z(vz) {}
    constexpr dim3(uint3 v) : x(v.x), y(v.y), z(v.z) {}
    constexpr operator uint3() const { return uint3{x, y, z}; }
};

// Constant initialisers let kernels read these with a plain TLS load instead of a call to a
// TLS wrapper function on every access.
inline thread_local uint3 threadIdx{0, 0, 0};
inline thread_local uint3 blockIdx{0, 0, 0};
inline thread_local dim3 blockDim{1, 1, 1};
inline thread_local dim3 gridDim{1, 1, 1};

// Fresh device memory is filled with this byte, so output a kernel never wrote stands out.
constexpr unsigned char device_poison = 0xA5;

// Total device memory; allocations beyond it fail with cudaErrorMemoryAllocation.
constexpr size_t device_memory_bytes = size_t{8} << 30;

cudaError_t cudaGetDeviceCount(int* count);
cudaError_t cudaDeviceSetCacheConfig(cudaFuncCache cacheConfig);
cudaError_t cudaDeviceGetCacheConfig(cudaFuncCache* pCacheConfig);
cudaError_t cudaMalloc(void** devPtr, size_t size);
cudaError_t cudaFree(void* devPtr);
cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind);
cudaError_t cudaHostRegister(void* ptr, size_t size, unsigned int flags);
cudaError_t cudaHostUnregister(void* ptr);
cudaError_t cudaDeviceSynchronize();
cudaError_t cudaDeviceReset();
cudaError_t cudaGetLastError();
cudaError_t cudaPeekAtLastError();
const char* cudaGetErrorString(cudaError_t error);
const char* cudaGetErrorName(cudaError_t error);

// Test support, not part of the CUDA API: the occurrence-th call (1-based, counted from now) of
// the named runtime function fails with `error` without doing anything. One fault at a time.
void inject_fault(const char* call_name, unsigned occurrence, cudaError_t error);
void clear_faults();
// Injects the fault described by LAPLACE_BENCH_STANDIN_FAULT=<call>[#<occurrence>][=<code>].
// Unset: true, nothing injected. Malformed or unknown call: false, *why says what is wrong.
bool inject_fault_from_env(const char** why);
size_t live_device_allocations();

namespace detail {

// Symbol copies, both directions: `symbol` is the host variable standing for the __constant__
// one, `other` the host or device memory on the other side.
cudaError_t copy_symbol(bool to_symbol, void* symbol, size_t symbol_size, void* other, size_t count,
                        size_t offset, cudaMemcpyKind kind);

// Everything a launch must pass before its arguments are read: injected and sticky faults,
// kernel and argument array, stream, and the configuration limits of the device.
cudaError_t check_launch(bool has_kernel, void** args, size_t arg_count, dim3 grid, dim3 block,
                         size_t shared_mem, cudaStream_t stream);
// False when a non-null pointer argument lies outside every live device allocation; the device
// then holds an illegal address fault until reset.
bool pointer_arguments_valid(const std::uintptr_t* pointers, size_t count);

template <class T>
std::uintptr_t pointer_value(const T& value) {
    if constexpr (std::is_pointer_v<T> && !std::is_function_v<std::remove_pointer_t<T>>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else {
        return 0;
    }
}

// Blocks run in parallel on every core; the threads of a block run in order on one core. The
// per-thread cost is the threadIdx stores and the call. Blocks are handed out a few at a time,
// not split up front: on a shared machine one core often runs slower, and a fixed split would
// leave the pass waiting for it.
template <class... P, size_t... I>
void run_grid(void (*kernel)(P...), dim3 grid, dim3 block, const std::tuple<P...>& values,
              std::index_sequence<I...>) {
    const size_t plane = size_t{grid.x} * grid.y;
    const size_t blocks = plane * grid.z;
#pragma omp parallel for schedule(dynamic, 4)
    for (size_t b = 0; b < blocks; ++b) {
        blockIdx =
            uint3{static_cast<unsigned>(b % grid.x), static_cast<unsigned>(b % plane / grid.x),
                  static_cast<unsigned>(b / plane)};
        blockDim = block;
        gridDim = grid;
        for (unsigned z = 0; z < block.z; ++z) {
            threadIdx.z = z;
            for (unsigned y = 0; y < block.y; ++y) {
                threadIdx.y = y;
                for (unsigned x = 0; x < block.x; ++x) {
                    threadIdx.x = x;
                    kernel(std::get<I>(values)...);
                }
            }
        }
    }
}

template <class... P, size_t... I>
cudaError_t launch(void (*kernel)(P...), dim3 grid, dim3 block, void** args,
                   std::index_sequence<I...> index) {
    // Arguments are read once at launch, as the real runtime does.
    const std::tuple<P...> values{*static_cast<P*>(args[I])...};
    const std::uintptr_t pointers[] = {0, pointer_value(std::get<I>(values))...};
    if (pointer_arguments_valid(pointers, sizeof pointers / sizeof pointers[0])) {
        run_grid(kernel, grid, block, values, index);
    }
    // A faulting kernel does not fail its launch: the fault surfaces at the next synchronisation.
    return cudaSuccess;
}

}  // namespace detail

template <class T>
cudaError_t cudaMalloc(T** devPtr, size_t size) {
    void* allocation = nullptr;
    const cudaError_t status = cudaMalloc(devPtr != nullptr ? &allocation : nullptr, size);
    if (status == cudaSuccess) {
        *devPtr = static_cast<T*>(allocation);
    }
    return status;
}

template <class T>
cudaError_t cudaMemcpyToSymbol(const T& symbol, const void* src, size_t count, size_t offset = 0,
                               cudaMemcpyKind kind = cudaMemcpyHostToDevice) {
    return detail::copy_symbol(true, const_cast<T*>(&symbol), sizeof(T), const_cast<void*>(src),
                               count, offset, kind);
}

template <class T>
cudaError_t cudaMemcpyFromSymbol(void* dst, const T& symbol, size_t count, size_t offset = 0,
                                 cudaMemcpyKind kind = cudaMemcpyDeviceToHost) {
    return detail::copy_symbol(false, const_cast<T*>(&symbol), sizeof(T), dst, count, offset, kind);
}

template <class... P>
cudaError_t cudaLaunchKernel(void (*kernel)(P...), dim3 grid, dim3 block, void** args,
                             size_t sharedMem = 0, cudaStream_t stream = 0) {
    const cudaError_t status =
        detail::check_launch(kernel != nullptr, args, sizeof...(P), grid, block, sharedMem, stream);
    if (status != cudaSuccess) {
        return status;
    }
    return detail::launch(kernel, grid, block, args, std::index_sequence_for<P...>{});
}

}  // namespace cuda_standin
