// Compares a program's output with the expected text of a case and renders the differences.
#pragma once

#include <string>

namespace e2e {

// Values of the placeholders {tmp}, {home} and {/}.
struct Placeholders {
    std::string tmp;
    std::string home;
    std::string separator = "/";  // what the shell joins path names with
};

// Replaces {tmp}, {home} and {/}; leaves {*} for the matcher.
std::string substitute(std::string text, const Placeholders& values);

// True when `actual` matches `expected`, where each {*} stands for any run of bytes within one
// line.
bool output_matches(const std::string& expected, const std::string& actual);

// The lines of expected (marked "-") and actual (marked "+") between their common first and
// last lines (shown unmarked), with unprintable bytes escaped.
std::string render_diff(const std::string& expected, const std::string& actual);

}  // namespace e2e
