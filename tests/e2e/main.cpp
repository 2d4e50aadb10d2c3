// The end-to-end runner: runs the selected cases of tests/cases against the real binary and
// reports every command whose status or output differs from its case.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "case_file.hpp"
#include "process.hpp"

namespace fs = std::filesystem;
using namespace e2e;

namespace {

constexpr const char* kUsage =
    "usage: kiln_e2e [options] KILN CASES [LINE]\n"
    "  KILN the shell binary; CASES a case file (LINE: only the case holding that line) or a\n"
    "  directory of them. Options: --platform posix|windows (default posix), --launcher \"CMD\n"
    "  ARGS\" (e.g. wine), --env NAME=VALUE or --env NAME (pass the runner's own), -j N (cases\n"
    "  at once), --keep (the directories of failing cases), -v (list passing cases too)\n";

struct Options {
    std::string kiln, cases;
    int line = 0;  // 0: every case
    std::vector<std::string> launcher, env;
    Platform platform = Platform::Posix;
    unsigned jobs = 1;
    bool keep = false, verbose = false;
};

bool parse_options(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--platform" && (value == "posix" || value == "windows")) {
            o.platform = value == "posix" ? Platform::Posix : Platform::Windows;
        } else if (a == "--launcher" && !value.empty()) {
            std::istringstream words(value);
            for (std::string w; words >> w;)
                o.launcher.push_back(w);
        } else if (a == "--env" && !value.empty()) {
            o.env.push_back(value);
        } else if (a == "-j" && std::atoi(value.c_str()) > 0) {
            o.jobs = static_cast<unsigned>(std::atoi(value.c_str()));
        } else if (a == "--keep" || a == "-v") {
            (a == "-v" ? o.verbose : o.keep) = true;
            continue;
        } else if (a.starts_with("-")) {
            return false;
        } else {
            positional.push_back(a);
            continue;
        }
        ++i;  // the option's value
    }
    if (positional.size() < 2 || positional.size() > 3) return false;
    o.kiln = positional[0];
    o.cases = positional[1];
    o.line = positional.size() == 3 ? std::atoi(positional[2].c_str()) : 0;
    return positional.size() == 2 || o.line > 0;
}

// --- comparing ---------------------------------------------------------------------------

// Values of the placeholders {tmp}, {home} and {/}.
struct Placeholders {
    std::string tmp, home, separator = "/";
};

std::string substitute(std::string text, const Placeholders& v) {
    for (const auto& [from, to] : {std::pair<std::string_view, const std::string&>{"{tmp}", v.tmp},
                                   {"{home}", v.home},
                                   {"{/}", v.separator}}) {
        for (auto at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    }
    return text;
}

// Lines with their line feeds, so that a last line without one differs from one with it.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, next; at < text.size(); at = next) {
        next = std::min(text.find('\n', at), text.size() - 1) + 1;
        lines.push_back(text.substr(at, next - at));
    }
    return lines;
}

// Matches one line; {*} in `pattern` stands for any run of bytes but a line feed.
bool line_matches(std::string_view pattern, std::string_view text) {
    const auto star = pattern.find("{*}");
    if (star == std::string_view::npos) return pattern == text;
    if (!text.starts_with(pattern.substr(0, star))) return false;
    for (std::size_t i = star; i <= text.size() && (i == star || text[i - 1] != '\n'); ++i)
        if (line_matches(pattern.substr(star + 3), text.substr(i))) return true;
    return false;
}

bool output_matches(const std::string& expected, const std::string& actual) {
    const auto want = split_lines(expected), got = split_lines(actual);
    return want.size() == got.size() &&
           std::equal(want.begin(), want.end(), got.begin(),
                      [](auto& w, auto& g) { return line_matches(w, g); });
}

// One line for display: control bytes, backslashes and trailing blanks escaped.
std::string visible(std::string line) {
    const bool eol = line.ends_with('\n');
    if (eol) line.pop_back();
    const std::size_t end = line.find_last_not_of(" \t") + 1;
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f || i >= end) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += c == '\t' && i < end ? std::string("\t") : hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return eol ? out : out + "   (no line feed at the end)";
}

// The lines between the common first and last lines, expected ones marked "-", actual "+".
std::string render_diff(const std::string& expected, const std::string& actual) {
    const auto a = split_lines(expected), b = split_lines(actual);
    std::size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && line_matches(a[head], b[head]))
        ++head;
    while (tail < a.size() - head && tail < b.size() - head &&
           line_matches(a[a.size() - 1 - tail], b[b.size() - 1 - tail]))
        ++tail;
    std::string out;
    auto show = [&](char mark, const auto& lines, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to && i < from + 40; ++i)
            out += std::string("    ") + mark + visible(lines[i]) + "\n";
        if (to > from + 40) out += "    ... " + std::to_string(to - from - 40) + " more lines\n";
    };
    show(' ', b, head > 3 ? head - 3 : 0, head);
    show('-', a, head, a.size() - tail);
    show('+', b, head, b.size() - tail);
    show(' ', b, b.size() - tail, std::min(b.size(), b.size() - tail + 3));
    return out;
}

// What went wrong in one command's run; empty when it did what the case expects.
std::string check(const Command& cmd, const ProcessResult& r, const Placeholders& values) {
    if (!r.start_error.empty()) return "  could not start: " + r.start_error + "\n";
    std::string out;
    if (r.timed_out) out += "  timed out\n";
    if (r.signal != 0) out += "  killed by signal " + std::string(strsignal(r.signal)) + "\n";
    if (!r.timed_out && (cmd.status ? r.status != *cmd.status : r.status == 0))
        out += "  status: expected " + (cmd.status ? std::to_string(*cmd.status) : "not 0") +
               ", got " + std::to_string(r.status) + "\n";
    for (const auto& [name, want, got] :
         {std::tuple{"stdout", &cmd.out, &r.out}, std::tuple{"stderr", &cmd.err, &r.err}}) {
        const std::string text = substitute(*want, values);
        if (!output_matches(text, *got))
            out += std::string("  ") + name + " (-expected +actual):\n" + render_diff(text, *got);
    }
    return out;
}

// --- running -----------------------------------------------------------------------------

// A Linux path as a Windows program under Wine sees it.
std::string wine_path(const std::string& path) {
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

std::vector<std::string> environment(const Options& o, const Case& c, const Placeholders& values,
                                     const std::string& kiln) {
    // KILN_EXE lets a case start the shell itself, e.g. to see the status it ends with.
    std::vector<std::pair<std::string, std::string>> env = {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", values.home},
        {"USERPROFILE", values.home},
        {"LANG", "C.UTF-8"},
        {"LC_ALL", "C.UTF-8"},
        {"KILN_EXE", o.platform == Platform::Windows ? wine_path(kiln) : kiln},
    };
    auto set = [&](const std::string& name, const std::optional<std::string>& value) {
        std::erase_if(env, [&](const auto& e) { return e.first == name; });
        if (value) env.emplace_back(name, *value);
    };
    // Sanitizer settings reach the shell so that a sanitized build reports through them.
    std::vector<std::string> entries = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};
    entries.insert(entries.end(), o.env.begin(), o.env.end());
    for (const auto& e : entries) {
        const auto eq = e.find('=');
        const char* own = getenv(e.c_str());
        if (eq != std::string::npos) set(e.substr(0, eq), e.substr(eq + 1));
        if (eq == std::string::npos && own) set(e, std::string(own));
    }
    for (const auto& [name, value] : c.env)
        set(name, value ? std::optional(substitute(*value, values)) : std::nullopt);
    std::vector<std::string> block;
    // Wine keeps HOME of the Unix environment from Windows programs; it hands them WINEHOME
    // under the name HOME instead.
    for (const auto& [name, value] : env)
        block.push_back((o.platform == Platform::Windows && name == "HOME" ? "WINEHOME" : name) +
                        "=" + value);
    return block;
}

struct Report {
    int line = 0;      // the failing command's line
    std::string text;  // empty on a pass
};

// Runs the case's commands in one fresh directory, up to the first that fails.
Report run_case(const Options& o, const std::string& kiln, const Case& c) {
    const char* root = getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/kiln-e2e-XXXXXX";
    if (!mkdtemp(pattern.data())) return {c.line, std::string("  mkdtemp: ") + strerror(errno)};
    std::error_code ec;
    const fs::path base = fs::canonical(pattern, ec), work = base / "work", home = base / "home";
    fs::create_directory(work, ec);
    fs::create_directory(home, ec);
    Placeholders values{work.string(), home.string()};
    if (o.platform == Platform::Windows)
        values = {wine_path(values.tmp), wine_path(values.home), "\\"};

    Report report{c.line, {}};
    for (const auto& f : c.files) {
        const fs::path target = (f.in_home ? home : work) / f.path;
        fs::create_directories(f.path.ends_with('/') ? target : target.parent_path(), ec);
        std::ofstream out;
        if (!f.path.ends_with('/')) out.open(target, std::ios::binary);
        if (!(out << substitute(f.content, values)) || ec)
            report.text += "  cannot create " + target.string() + "\n";
    }
    ProcessLaunch launch{o.launcher, environment(o, c, values, kiln), work.string(), c.input,
                         c.timeout_seconds};
    launch.argv.push_back(kiln);
    for (std::size_t i = 0; i < c.commands.size() && report.text.empty(); ++i) {
        launch.argv.resize(o.launcher.size() + 1);
        for (const auto& a : c.commands[i].argv)
            launch.argv.push_back(substitute(a, values));
        const ProcessResult result = run_process(launch, (base / "stream").string());
        if (auto failure = check(c.commands[i], result, values); !failure.empty())
            report = {c.commands[i].line, failure};
    }
    if (o.keep && !report.text.empty())
        report.text += "  kept: " + base.string() + "\n";
    else
        fs::remove_all(base, ec);
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::cerr << kUsage;
        return 2;
    }
    signal(SIGPIPE,
           SIG_IGN);  // a shell that exits before reading its input must not kill us
    std::error_code ec;
    const std::string kiln =
        o.launcher.empty() ? fs::canonical(o.kiln, ec).string() : fs::absolute(o.kiln, ec).string();
    std::vector<fs::path> files;
    if (fs::is_regular_file(o.cases)) files.push_back(o.cases);
    for (const auto& entry : fs::directory_iterator(o.cases, ec))
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (kiln.empty() || files.empty()) {
        std::cerr << "kiln_e2e: no binary " << o.kiln << " or no case files in " << o.cases << "\n";
        return 2;
    }
    std::vector<Case> selected;
    int failed = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const CaseFile parsed = parse_case_file(path.filename().string(), text.str());
        for (const auto& e : parsed.errors)
            std::cout << "ERROR " << e << "\n";
        failed += static_cast<int>(parsed.errors.size());
        for (std::size_t i = 0; i < parsed.cases.size(); ++i) {
            const Case& c = parsed.cases[i];
            const bool holds_line =
                o.line == 0 || (c.line <= o.line && (i + 1 == parsed.cases.size() ||
                                                     parsed.cases[i + 1].line > o.line));
            if (holds_line && (c.platform == Platform::Both || c.platform == o.platform))
                selected.push_back(c);
        }
    }

    std::vector<Report> reports(selected.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < std::min<std::size_t>(o.jobs, selected.size()); ++t)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < selected.size();)
                reports[i] = run_case(o, kiln, selected[i]);
        });
    for (auto& w : workers)
        w.join();
    int passed = 0;
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const Report& r = reports[i];
        (r.text.empty() ? passed : failed)++;
        if (!r.text.empty() || o.verbose)
            std::cout << (r.text.empty() ? "ok   " : "FAIL ") << selected[i].file << ":" << r.line
                      << ": " << selected[i].name << "\n"
                      << r.text;
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}
