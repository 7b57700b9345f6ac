#include "report.h"

#include <cstdio>

void report_error(const char* what, const char* why) {
    std::fprintf(stderr, "laplace_bench: %s: %s\n", what, why);
}

void report_notice(const char* text) { std::fprintf(stderr, "laplace_bench: %s\n", text); }
