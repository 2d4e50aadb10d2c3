// Compares a program's output with the expected text of a case and renders the differences.
#pragma once

#include <string>

namespace e2e {

// Values of the placeholders {tmp}, {home} and {/} in expected text.
struct Placeholders {
    std::string tmp;
    std::string home;
    std::string separator = "/";  // what the shell joins path names with
};

// Replaces {tmp}, {home} and {/}; leaves {*} for the matcher.
std::string substitute(const std::string& text, const Placeholders& values);

// True when `actual` matches `expected` (after substitution), where each {*} stands for any
// run of bytes within one line.
bool output_matches(const std::string& expected, const std::string& actual);

// A line diff of expected (lines marked "-") against actual (marked "+"), each line indented
// by `indent`; bytes that are not printable are shown as escapes.
std::string render_diff(const std::string& expected, const std::string& actual,
                        const std::string& indent);

// Text with its unprintable bytes escaped, for one-line display.
std::string visible(const std::string& text);

}  // namespace e2e
