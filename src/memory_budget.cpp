#include "memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "report.h"

namespace {

size_t mem_available() {
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) return SIZE_MAX;
    size_t available = SIZE_MAX;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, meminfo) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
            available = static_cast<size_t>(kib) * 1024;
            break;
        }
    }
    std::fclose(meminfo);
    return available;
}

// Address space the process has left under `ulimit -v`.
size_t address_space_left() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    const bool read = statm != nullptr && std::fscanf(statm, "%llu", &pages) == 1;
    if (statm != nullptr) std::fclose(statm);
    const unsigned long long used =
        read ? pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)) : 0;
    return limit.rlim_cur > used ? static_cast<size_t>(limit.rlim_cur - used) : 0;
}

std::string megabytes(size_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

}  // namespace

size_t allocatable_bytes() {
    const size_t available = mem_available();
    const size_t address_space = address_space_left();
    return available < address_space ? available : address_space;
}

bool fits_in_memory(const char* what, size_t needed) {
    const size_t available = allocatable_bytes();
    if (needed <= available) return true;
    const std::string why = megabytes(needed) + " needed, " + megabytes(available) + " available";
    report_error(what, why.c_str());
    return false;
}
