#include "standin/cuda_runtime_standin.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace cuda_standin {
namespace {

// Texts and names as the real runtime reports them.
struct ErrorText {
    cudaError_t code;
    const char* name;
    const char* text;
};

constexpr ErrorText error_texts[] = {
    {cudaSuccess, "cudaSuccess", "no error"},
    {cudaErrorInvalidValue, "cudaErrorInvalidValue", "invalid argument"},
    {cudaErrorMemoryAllocation, "cudaErrorMemoryAllocation", "out of memory"},
    {cudaErrorInitializationError, "cudaErrorInitializationError", "initialization error"},
    {cudaErrorInvalidConfiguration, "cudaErrorInvalidConfiguration",
     "invalid configuration argument"},
    {cudaErrorInvalidSymbol, "cudaErrorInvalidSymbol", "invalid device symbol"},
    {cudaErrorInvalidDevicePointer, "cudaErrorInvalidDevicePointer", "invalid device pointer"},
    {cudaErrorInvalidMemcpyDirection, "cudaErrorInvalidMemcpyDirection",
     "invalid copy direction for memcpy"},
    {cudaErrorInsufficientDriver, "cudaErrorInsufficientDriver",
     "CUDA driver version is insufficient for CUDA runtime version"},
    {cudaErrorInvalidDeviceFunction, "cudaErrorInvalidDeviceFunction", "invalid device function"},
    {cudaErrorNoDevice, "cudaErrorNoDevice", "no CUDA-capable device is detected"},
    {cudaErrorInvalidDevice, "cudaErrorInvalidDevice", "invalid device ordinal"},
    {cudaErrorInvalidResourceHandle, "cudaErrorInvalidResourceHandle", "invalid resource handle"},
    {cudaErrorIllegalAddress, "cudaErrorIllegalAddress",
     "an illegal memory access was encountered"},
    {cudaErrorHostMemoryAlreadyRegistered, "cudaErrorHostMemoryAlreadyRegistered",
     "part or all of the requested memory range is already mapped"},
    {cudaErrorHostMemoryNotRegistered, "cudaErrorHostMemoryNotRegistered",
     "pointer does not correspond to a registered memory region"},
    {cudaErrorLaunchFailure, "cudaErrorLaunchFailure", "unspecified launch failure"},
    {cudaErrorUnknown, "cudaErrorUnknown", "unknown error"},
};

constexpr const char* unrecognized_error = "unrecognized error code";

const ErrorText* find_error(cudaError_t error) {
    for (const ErrorText& entry : error_texts) {
        if (entry.code == error) {
            return &entry;
        }
    }
    return nullptr;
}

// Runtime functions a fault can be injected into.
constexpr const char* fault_calls[] = {
    "cudaGetDeviceCount",
    "cudaDeviceSetCacheConfig",
    "cudaDeviceGetCacheConfig",
    "cudaMalloc",
    "cudaFree",
    "cudaMemcpy",
    "cudaMemcpyToSymbol",
    "cudaMemcpyFromSymbol",
    "cudaHostRegister",
    "cudaHostUnregister",
    "cudaLaunchKernel",
    "cudaDeviceSynchronize",
    "cudaDeviceReset",
};

bool is_fault_call(const std::string& name) {
    for (const char* call : fault_calls) {
        if (name == call) {
            return true;
        }
    }
    return false;
}

// Device allocations and host registrations, base address -> size in bytes. Ranges within
// each map never overlap, so ordering by base also orders by end.
using RangeMap = std::map<std::uintptr_t, size_t>;

constexpr size_t device_alignment = 256;
constexpr unsigned max_threads_per_block = 1024;
constexpr unsigned max_block_x = 1024;
constexpr unsigned max_block_y = 1024;
constexpr unsigned max_block_z = 64;
constexpr unsigned max_grid_x = 0x7fffffff;
constexpr unsigned max_grid_yz = 65535;
constexpr size_t max_shared_bytes = size_t{48} * 1024;
constexpr unsigned host_register_flags = 0x0f;  // portable, mapped, I/O memory, read-only

struct Fault {
    std::string call;
    unsigned remaining = 0;  // 0: no fault armed
    cudaError_t error = cudaSuccess;
};

struct Device {
    std::mutex mutex;
    RangeMap allocations;
    size_t allocated_bytes = 0;
    RangeMap registrations;
    cudaFuncCache cache_config = cudaFuncCachePreferNone;
    // An illegal address fault of a kernel: like on a real device it corrupts the context, so
    // every later call fails with it until the device is reset.
    cudaError_t sticky = cudaSuccess;
    Fault fault;
};

Device& device() {
    static Device instance;
    return instance;
}

// Last error is per host thread, as in the real runtime.
thread_local cudaError_t last_error = cudaSuccess;

cudaError_t record(cudaError_t status) {
    if (status != cudaSuccess) {
        last_error = status;
    }
    return status;
}

// The injected error this call must fail with, or cudaSuccess. Caller holds the lock.
cudaError_t injected(Device& dev, const char* call) {
    Fault& fault = dev.fault;
    if (fault.remaining != 0 && fault.call == call && --fault.remaining == 0) {
        return fault.error;
    }
    return cudaSuccess;
}

// The error a call that uses the device must fail with before doing anything, or cudaSuccess.
cudaError_t enter(Device& dev, const char* call) {
    const cudaError_t status = injected(dev, call);
    return status != cudaSuccess ? status : dev.sticky;
}

bool range_valid(std::uintptr_t begin, size_t count) {
    return begin != 0 && count <= UINTPTR_MAX - begin;
}

// The range [begin, begin+count) lies inside one entry of `ranges`.
bool inside_one(const RangeMap& ranges, std::uintptr_t begin, size_t count) {
    auto next = ranges.upper_bound(begin);
    if (next == ranges.begin()) {
        return false;
    }
    const auto& [base, size] = *std::prev(next);
    return begin - base < size && count <= size - (begin - base);
}

// The range [begin, begin+count) shares a byte with some entry of `ranges`.
bool overlaps_any(const RangeMap& ranges, std::uintptr_t begin, size_t count) {
    auto next = ranges.lower_bound(begin + count);
    if (next == ranges.begin()) {
        return false;
    }
    const auto& [base, size] = *std::prev(next);
    return base + size > begin;
}

bool is_device(const Device& dev, const void* ptr) {
    return inside_one(dev.allocations, reinterpret_cast<std::uintptr_t>(ptr), 1);
}

// One side of a copy: device memory must lie inside one live allocation, host memory must be
// non-null and clear of every allocation.
bool side_valid(const Device& dev, const void* ptr, size_t count, bool on_device) {
    const auto begin = reinterpret_cast<std::uintptr_t>(ptr);
    if (on_device) {
        return inside_one(dev.allocations, begin, count);
    }
    return range_valid(begin, count) && !overlaps_any(dev.allocations, begin, count);
}

bool kind_valid(cudaMemcpyKind kind) {
    return kind >= cudaMemcpyHostToHost && kind <= cudaMemcpyDefault;
}

// Checks a copy with the lock held; cudaMemcpyDefault takes each side's place from the registry.
cudaError_t check_copy(const Device& dev, void* dst, const void* src, size_t count,
                       cudaMemcpyKind kind) {
    if (!kind_valid(kind)) {
        return cudaErrorInvalidMemcpyDirection;
    }
    if (count == 0) {
        return cudaSuccess;
    }
    const bool src_device = kind == cudaMemcpyDefault ? is_device(dev, src)
                                                      : kind == cudaMemcpyDeviceToHost ||
                                                            kind == cudaMemcpyDeviceToDevice;
    const bool dst_device = kind == cudaMemcpyDefault ? is_device(dev, dst)
                                                      : kind == cudaMemcpyHostToDevice ||
                                                            kind == cudaMemcpyDeviceToDevice;
    if (!side_valid(dev, src, count, src_device) || !side_valid(dev, dst, count, dst_device)) {
        return cudaErrorInvalidValue;
    }
    return cudaSuccess;
}

void release_allocations(Device& dev) {
    for (const auto& [base, size] : dev.allocations) {
        ::operator delete (reinterpret_cast<void*>(base),  // NOLINT(performance-no-int-to-ptr)
                           std::align_val_t{device_alignment});
    }
    dev.allocations.clear();
    dev.allocated_bytes = 0;
}

// A symbol copy of `count` bytes at `offset` into a symbol of `symbol_size` bytes, whose other
// side is `other` (device when `other_on_device`).
cudaError_t check_symbol_copy(const Device& dev, size_t symbol_size, const void* other,
                              size_t count, size_t offset, bool other_on_device) {
    if (offset > symbol_size || count > symbol_size - offset) {
        return cudaErrorInvalidValue;
    }
    if (count != 0 && !side_valid(dev, other, count, other_on_device)) {
        return cudaErrorInvalidValue;
    }
    return cudaSuccess;
}

}  // namespace

cudaError_t cudaGetDeviceCount(int* count) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    // Counting devices needs no context, so a sticky fault does not stop it.
    if (const cudaError_t status = injected(dev, "cudaGetDeviceCount")) {
        return record(status);
    }
    if (count == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    *count = 1;
    return cudaSuccess;
}

cudaError_t cudaDeviceSetCacheConfig(cudaFuncCache cacheConfig) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaDeviceSetCacheConfig")) {
        return record(status);
    }
    if (cacheConfig < cudaFuncCachePreferNone || cacheConfig > cudaFuncCachePreferEqual) {
        return record(cudaErrorInvalidValue);
    }
    dev.cache_config = cacheConfig;
    return cudaSuccess;
}

cudaError_t cudaDeviceGetCacheConfig(cudaFuncCache* pCacheConfig) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaDeviceGetCacheConfig")) {
        return record(status);
    }
    if (pCacheConfig == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    *pCacheConfig = dev.cache_config;
    return cudaSuccess;
}

cudaError_t cudaMalloc(void** devPtr, size_t size) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaMalloc")) {
        return record(status);
    }
    if (devPtr == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    if (size == 0) {
        *devPtr = nullptr;
        return cudaSuccess;
    }
    if (size > device_memory_bytes - dev.allocated_bytes) {
        return record(cudaErrorMemoryAllocation);
    }
    // Rounding cannot overflow: size is bounded by the device memory size.
    const size_t padded = (size + device_alignment - 1) / device_alignment * device_alignment;
    void* block = ::operator new (padded, std::align_val_t{device_alignment}, std::nothrow);
    if (block == nullptr) {
        return record(cudaErrorMemoryAllocation);
    }
    std::memset(block, device_poison, padded);
    dev.allocations.emplace(reinterpret_cast<std::uintptr_t>(block), size);
    dev.allocated_bytes += size;
    *devPtr = block;
    return cudaSuccess;
}

cudaError_t cudaFree(void* devPtr) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaFree")) {
        return record(status);
    }
    if (devPtr == nullptr) {
        return cudaSuccess;
    }
    const auto found = dev.allocations.find(reinterpret_cast<std::uintptr_t>(devPtr));
    if (found == dev.allocations.end()) {
        return record(cudaErrorInvalidValue);
    }
    dev.allocated_bytes -= found->second;
    dev.allocations.erase(found);
    ::operator delete (devPtr, std::align_val_t{device_alignment});
    return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaMemcpy")) {
        return record(status);
    }
    if (const cudaError_t status = check_copy(dev, dst, src, count, kind)) {
        return record(status);
    }
    if (count != 0) {
        std::memmove(dst, src, count);
    }
    return cudaSuccess;
}

cudaError_t cudaHostRegister(void* ptr, size_t size, unsigned int flags) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaHostRegister")) {
        return record(status);
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(ptr);
    if (size == 0 || (flags & ~host_register_flags) != 0 || !range_valid(begin, size) ||
        overlaps_any(dev.allocations, begin, size)) {
        return record(cudaErrorInvalidValue);
    }
    if (overlaps_any(dev.registrations, begin, size)) {
        return record(cudaErrorHostMemoryAlreadyRegistered);
    }
    dev.registrations.emplace(begin, size);
    return cudaSuccess;
}

cudaError_t cudaHostUnregister(void* ptr) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaHostUnregister")) {
        return record(status);
    }
    if (dev.registrations.erase(reinterpret_cast<std::uintptr_t>(ptr)) == 0) {
        return record(cudaErrorHostMemoryNotRegistered);
    }
    return cudaSuccess;
}

cudaError_t cudaDeviceSynchronize() {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    return record(enter(dev, "cudaDeviceSynchronize"));
}

cudaError_t cudaDeviceReset() {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    // A sticky fault is what a reset exists to clear, so only an injected fault stops it.
    if (const cudaError_t status = injected(dev, "cudaDeviceReset")) {
        return record(status);
    }
    release_allocations(dev);
    dev.registrations.clear();
    dev.cache_config = cudaFuncCachePreferNone;
    dev.sticky = cudaSuccess;
    last_error = cudaSuccess;
    return cudaSuccess;
}

cudaError_t cudaGetLastError() {
    const cudaError_t status = last_error;
    last_error = cudaSuccess;
    return status;
}

cudaError_t cudaPeekAtLastError() { return last_error; }

const char* cudaGetErrorString(cudaError_t error) {
    const ErrorText* entry = find_error(error);
    return entry != nullptr ? entry->text : unrecognized_error;
}

const char* cudaGetErrorName(cudaError_t error) {
    const ErrorText* entry = find_error(error);
    return entry != nullptr ? entry->name : unrecognized_error;
}

void inject_fault(const char* call_name, unsigned occurrence, cudaError_t error) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    dev.fault = Fault{call_name, occurrence, error};
}

void clear_faults() {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    dev.fault = Fault{};
}

namespace {

// Parses a positive decimal number that fits `limit`; false on anything else.
bool parse_number(const std::string& text, unsigned long limit, unsigned long* value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    unsigned long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<unsigned long>(c - '0');
    }
    if (result == 0 || result > limit) {
        return false;
    }
    *value = result;
    return true;
}

bool refuse(const char** why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

}  // namespace

bool inject_fault_from_env(const char** why) {
    const char* value = std::getenv("LAPLACE_BENCH_STANDIN_FAULT");
    if (value == nullptr) {
        return true;
    }
    const std::string text = value;
    const size_t code_at = text.find('=');
    const std::string head = text.substr(0, code_at);
    const size_t count_at = head.find('#');
    const std::string call = head.substr(0, count_at);
    if (!is_fault_call(call)) {
        return refuse(why, "unknown runtime call");
    }
    unsigned long occurrence = 1;
    if (count_at != std::string::npos &&
        !parse_number(head.substr(count_at + 1), UINT_MAX, &occurrence)) {
        return refuse(why, "occurrence is not a positive number");
    }
    unsigned long code = call == "cudaMalloc" ? cudaErrorMemoryAllocation : cudaErrorInvalidValue;
    if (code_at != std::string::npos && (!parse_number(text.substr(code_at + 1), INT_MAX, &code) ||
                                         find_error(static_cast<cudaError_t>(code)) == nullptr)) {
        return refuse(why, "error code is not a known CUDA error");
    }
    inject_fault(call.c_str(), static_cast<unsigned>(occurrence), static_cast<cudaError_t>(code));
    return true;
}

size_t live_device_allocations() {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    return dev.allocations.size();
}

namespace detail {

cudaError_t copy_symbol(bool to_symbol, void* symbol, size_t symbol_size, void* other, size_t count,
                        size_t offset, cudaMemcpyKind kind) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status =
            enter(dev, to_symbol ? "cudaMemcpyToSymbol" : "cudaMemcpyFromSymbol")) {
        return record(status);
    }
    // The symbol is device memory; the other side is host memory unless the
    // kind says device to device.
    const cudaMemcpyKind host_side = to_symbol ? cudaMemcpyHostToDevice : cudaMemcpyDeviceToHost;
    if (kind != host_side && kind != cudaMemcpyDeviceToDevice && kind != cudaMemcpyDefault) {
        return record(cudaErrorInvalidMemcpyDirection);
    }
    const bool other_on_device =
        kind == cudaMemcpyDefault ? is_device(dev, other) : kind == cudaMemcpyDeviceToDevice;
    if (const cudaError_t status =
            check_symbol_copy(dev, symbol_size, other, count, offset, other_on_device)) {
        return record(status);
    }
    if (count != 0) {
        unsigned char* at = static_cast<unsigned char*>(symbol) + offset;
        std::memcpy(to_symbol ? at : other, to_symbol ? other : at, count);
    }
    return cudaSuccess;
}

cudaError_t check_launch(bool has_kernel, void** args, size_t arg_count, dim3 grid, dim3 block,
                         size_t shared_mem, cudaStream_t stream) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    if (const cudaError_t status = enter(dev, "cudaLaunchKernel")) {
        return record(status);
    }
    if (!has_kernel || (arg_count != 0 && args == nullptr)) {
        return record(cudaErrorInvalidValue);
    }
    for (size_t i = 0; i < arg_count; ++i) {
        if (args[i] == nullptr) {
            return record(cudaErrorInvalidValue);
        }
    }
    // The stand-in has only the default stream.
    if (stream != nullptr) {
        return record(cudaErrorInvalidResourceHandle);
    }
    const bool dims_nonzero =
        grid.x != 0 && grid.y != 0 && grid.z != 0 && block.x != 0 && block.y != 0 && block.z != 0;
    if (!dims_nonzero || block.x > max_block_x || block.y > max_block_y || block.z > max_block_z ||
        size_t{block.x} * block.y * block.z > max_threads_per_block || grid.x > max_grid_x ||
        grid.y > max_grid_yz || grid.z > max_grid_yz || shared_mem > max_shared_bytes) {
        return record(cudaErrorInvalidConfiguration);
    }
    return cudaSuccess;
}

bool pointer_arguments_valid(const std::uintptr_t* pointers, size_t count) {
    Device& dev = device();
    std::lock_guard<std::mutex> lock(dev.mutex);
    for (size_t i = 0; i < count; ++i) {
        if (pointers[i] != 0 && !inside_one(dev.allocations, pointers[i], 1)) {
            dev.sticky = cudaErrorIllegalAddress;
            return false;
        }
    }
    return true;
}

}  // namespace detail
}  // namespace cuda_standin
