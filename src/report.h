#pragma once

// Every failure the program reports is one line on stderr:
//   laplace_bench: <what failed>: <why>
void report_error(const char* what, const char* why);

// A notice that is not a failure, same prefix: "laplace_bench: <text>".
void report_notice(const char* text);
