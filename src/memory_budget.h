#pragma once

#include <cstddef>

// Bytes the process can still allocate without pushing the machine into swap
// or past its address-space limit: the smaller of MemAvailable and the free
// part of RLIMIT_AS. Returns SIZE_MAX when neither can be read.
size_t allocatable_bytes();

// True when `needed` bytes fit in allocatable_bytes(); otherwise reports
// "<what>: <needed> needed, <available> available" and returns false.
bool fits_in_memory(const char* what, size_t needed);
