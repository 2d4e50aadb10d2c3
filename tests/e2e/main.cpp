// The end-to-end runner: runs every selected case of tests/cases against the real binary.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "case_file.hpp"
#include "compare.hpp"
#include "process.hpp"

namespace fs = std::filesystem;
using namespace e2e;

namespace {

constexpr const char* kUsage =
    "usage: kiln_e2e [options] KILN CASES [FILTER...]\n"
    "  KILN   the shell binary; CASES a directory of *.txt case files, or one case file\n"
    "  FILTER FILE (e.g. quoting or quoting.txt), FILE:LINE, FILE:TEXT (cases of FILE whose\n"
    "         name contains TEXT), or TEXT (cases of any file whose name contains TEXT)\n"
    "options:\n"
    "  --platform posix|windows  run the cases that hold there (default posix)\n"
    "  --launcher \"CMD ARGS\"     start the binary through this command (e.g. wine)\n"
    "  --pass-env NAME           pass this variable of the runner's environment on\n"
    "  --env NAME=VALUE          set this variable for every case\n"
    "  -j, --jobs N              run N cases at a time (default: number of processors)\n"
    "  --keep                    keep the temporary directories and print their paths\n"
    "  -v, --verbose             also list the cases that pass\n";

struct Options {
    std::string kiln;
    std::string cases;
    std::vector<std::string> filters;
    Platform platform = Platform::Posix;
    std::vector<std::string> launcher;
    std::vector<std::string> pass_env;
    std::vector<std::string> extra_env;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool keep = false;
    bool verbose = false;
};

std::vector<std::string> split_spaces(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool parse_options(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (a == "--platform") {
            auto v = value();
            if (!v || (*v != "posix" && *v != "windows")) return false;
            o.platform = *v == "posix" ? Platform::Posix : Platform::Windows;
        } else if (a == "--launcher") {
            auto v = value();
            if (!v) return false;
            o.launcher = split_spaces(*v);
        } else if (a == "--pass-env" || a == "--env") {
            auto v = value();
            if (!v) return false;
            (a == "--env" ? o.extra_env : o.pass_env).push_back(*v);
        } else if (a == "-j" || a == "--jobs") {
            auto v = value();
            if (!v || std::atoi(v->c_str()) <= 0) return false;
            o.jobs = static_cast<unsigned>(std::atoi(v->c_str()));
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (a.starts_with("-") && a.size() > 1) {
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() < 2) return false;
    o.kiln = positional[0];
    o.cases = positional[1];
    o.filters.assign(positional.begin() + 2, positional.end());
    return true;
}

std::optional<std::string> read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_whole(const fs::path& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// --- selecting cases -------------------------------------------------------------------------

bool names_file(const std::string& word, const std::string& file) {
    return word == file || word + ".txt" == file;
}

bool all_digits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether `filter` selects case `index` of `cases` (all from one file). A bare word that names
// one of `files` selects that file only; otherwise it selects cases by name.
bool filter_selects(const std::string& filter, const std::vector<std::string>& files,
                    const std::vector<Case>& cases, std::size_t index) {
    const Case& c = cases[index];
    auto colon = filter.find(':');
    if (colon == std::string::npos) {
        bool is_file = std::any_of(files.begin(), files.end(),
                                   [&](const std::string& f) { return names_file(filter, f); });
        return is_file ? names_file(filter, c.file) : c.name.find(filter) != std::string::npos;
    }
    std::string file = filter.substr(0, colon), rest = filter.substr(colon + 1);
    if (!names_file(file, c.file)) return false;
    if (!all_digits(rest)) return c.name.find(rest) != std::string::npos;
    // FILE:LINE selects the case that holds that line.
    int line = std::atoi(rest.c_str());
    bool next_starts_later = index + 1 == cases.size() || cases[index + 1].line > line;
    return c.line <= line && next_starts_later;
}

bool holds_on(Platform case_platform, Platform run_platform) {
    return case_platform == Platform::Both || case_platform == run_platform;
}

// --- running one case ------------------------------------------------------------------------

struct Report {
    bool passed = false;
    std::string text;  // what to print for this case
};

// A Linux path as a Windows program under Wine sees it.
std::string wine_path(const std::string& path) {
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

void make_writable(const fs::path& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
}

std::vector<std::string> case_environment(const Options& o, const Case& c,
                                          const Placeholders& values, const std::string& home) {
    std::vector<std::pair<std::string, std::string>> env = {
        {"PATH", "/usr/bin:/bin"}, {"HOME", home},        {"USERPROFILE", home},
        {"LANG", "C.UTF-8"},       {"LC_ALL", "C.UTF-8"},
    };
    auto set = [&](const std::string& name, const std::optional<std::string>& value) {
        auto it = std::find_if(env.begin(), env.end(), [&](auto& e) { return e.first == name; });
        if (it != env.end()) env.erase(it);
        if (value) env.emplace_back(name, *value);
    };
    // Sanitizer settings reach the shell so that a sanitized build reports through them.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = getenv(name)) set(name, std::string(v));
    for (const auto& name : o.pass_env)
        if (const char* v = getenv(name.c_str())) set(name, std::string(v));
    for (const auto& entry : o.extra_env) {
        auto eq = entry.find('=');
        if (eq != std::string::npos) set(entry.substr(0, eq), entry.substr(eq + 1));
    }
    for (const auto& [name, value] : c.env)
        set(name, value ? std::optional<std::string>(substitute(*value, values)) : std::nullopt);
    std::vector<std::string> block;
    for (const auto& [name, value] : env) {
        // Wine keeps HOME of the Unix environment from Windows programs; it passes WINEHOME on
        // under the name HOME instead.
        const bool wine_home = o.platform == Platform::Windows && name == "HOME";
        block.push_back((wine_home ? "WINEHOME" : name) + "=" + value);
    }
    return block;
}

std::string describe_status(const std::optional<int>& status) {
    return status ? std::to_string(*status) : std::string("not 0");
}

// Compares the result with the expectations; returns the failure details, empty on a pass.
std::string check(const Case& c, const ProcessResult& r, const Placeholders& values) {
    std::string out;
    if (!r.start_error.empty()) return "  could not start: " + r.start_error + "\n";
    if (r.timed_out)
        out += "  timed out after " + std::to_string(c.timeout_seconds) + " s (killed)\n";
    else if (r.signal != 0)
        out += "  the shell was killed by signal " + std::to_string(r.signal) + " (" +
               strsignal(r.signal) + ")\n";
    const auto& want = c.expected.status;
    bool status_ok = want ? r.status == *want : r.status != 0;
    if (!r.timed_out && (!status_ok || r.signal != 0))
        out += "  status: expected " + describe_status(want) + ", got " + std::to_string(r.status) +
               "\n";
    auto stream = [&](const char* name, const std::string& expected, const std::string& actual) {
        std::string text = substitute(expected, values);
        if (output_matches(text, actual)) return;
        out += std::string("  ") + name + " (-expected +actual):\n";
        out += render_diff(text, actual, "    ");
    };
    stream("stdout", c.expected.stdout_text, r.out);
    stream("stderr", c.expected.stderr_text, r.err);
    return out;
}

Report run_case(const Options& o, const std::string& kiln, const Case& c) {
    Report report;
    std::string where = c.file + ":" + std::to_string(c.line) + ": " + c.name;
    const char* tmp_root = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp_root && *tmp_root ? tmp_root : "/tmp") + "/kiln-e2e-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        report.text = "FAIL " + where + "\n  mkdtemp: " + std::strerror(errno) + "\n";
        return report;
    }
    std::error_code ec;
    fs::path base = fs::canonical(pattern, ec);
    fs::path work = base / "work", home = base / "home";
    fs::create_directory(work, ec);
    fs::create_directory(home, ec);

    Placeholders values{work.string(), home.string()};
    if (o.platform == Platform::Windows)
        values = {wine_path(values.tmp), wine_path(values.home), "\\"};

    std::string setup_error;
    for (const auto& f : c.files) {
        fs::path target = (f.in_home ? home : work) / f.path;
        bool ok =
            f.path.ends_with('/')
                ? fs::create_directories(target, ec) || !ec
                : write_whole(target, f.substitute ? substitute(f.content, values) : f.content);
        if (!ok) setup_error = "cannot create " + target.string();
    }

    ProcessLaunch launch;
    launch.argv = o.launcher;
    launch.argv.push_back(kiln);
    for (const auto& a : c.argv)
        launch.argv.push_back(substitute(a, values));
    launch.env = case_environment(o, c, values, values.home);
    launch.cwd = work.string();
    launch.input = c.stdin_text;
    launch.timeout_seconds = c.timeout_seconds;

    std::string failure;
    if (!setup_error.empty()) {
        failure = "  setup: " + setup_error + "\n";
    } else {
        failure = check(c, run_process(launch), values);
    }
    if (o.keep) {
        failure += failure.empty() ? "" : "  kept: " + base.string() + "\n";
    } else {
        make_writable(base);
        fs::remove_all(base, ec);
    }
    report.passed = failure.empty();
    report.text = (report.passed ? "ok   " : "FAIL ") + where + "\n" + failure;
    return report;
}

// --- the whole run ---------------------------------------------------------------------------

std::vector<fs::path> case_files(const fs::path& cases) {
    std::vector<fs::path> files;
    if (fs::is_regular_file(cases)) return {cases};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(cases, ec))
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Runs the cases on `jobs` threads and prints the reports in file order as they complete.
int run_all(const Options& o, const std::string& kiln, const std::vector<Case>& cases, int failed) {
    std::vector<std::optional<Report>> reports(cases.size());
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < cases.size();) {
            Report r = run_case(o, kiln, cases[i]);
            std::lock_guard lock(mutex);
            reports[i] = std::move(r);
            ready.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::min<std::size_t>(o.jobs, cases.size()); ++t)
        threads.emplace_back(worker);
    int passed = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return reports[i].has_value(); });
        const Report& r = *reports[i];
        (r.passed ? passed : failed)++;
        if (!r.passed || o.verbose) std::cout << r.text << std::flush;
    }
    for (auto& t : threads)
        t.join();
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::cerr << kUsage;
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);  // a shell that exits before reading its input must not kill us
    std::error_code ec;
    std::string kiln =
        o.launcher.empty() ? fs::canonical(o.kiln, ec).string() : fs::absolute(o.kiln, ec).string();
    if (kiln.empty()) {
        std::cerr << "kiln_e2e: " << o.kiln << ": no such file\n";
        return 2;
    }
    auto files = case_files(o.cases);
    if (files.empty()) {
        std::cerr << "kiln_e2e: " << o.cases << ": no case files\n";
        return 2;
    }

    std::vector<std::string> file_names;
    for (const auto& path : files)
        file_names.push_back(path.filename().string());
    std::vector<Case> selected;
    std::vector<bool> filter_used(o.filters.size(), false);
    int errors = 0;
    for (const auto& path : files) {
        std::string name = path.filename().string();
        auto text = read_whole(path);
        if (!text) {
            std::cout << "ERROR " << name << ": cannot read\n";
            ++errors;
            continue;
        }
        CaseFile parsed = parse_case_file(name, *text);
        // Errors of a file count when the run takes the whole file or names it.
        bool targeted = o.filters.empty();
        for (const auto& f : o.filters)
            targeted = targeted || names_file(f.substr(0, f.find(':')), name);
        for (const auto& e : targeted ? parsed.errors : std::vector<ParseError>{}) {
            std::cout << "ERROR " << e.file << ":" << e.line << ": " << e.message << "\n";
            ++errors;
        }
        for (std::size_t i = 0; i < parsed.cases.size(); ++i) {
            bool wanted = o.filters.empty();
            for (std::size_t f = 0; f < o.filters.size(); ++f) {
                bool hit = filter_selects(o.filters[f], file_names, parsed.cases, i);
                if (hit) filter_used[f] = true;
                wanted = wanted || hit;
            }
            if (wanted && holds_on(parsed.cases[i].platform, o.platform))
                selected.push_back(parsed.cases[i]);
        }
        for (std::size_t f = 0; f < o.filters.size(); ++f)
            if (names_file(o.filters[f], name)) filter_used[f] = true;
    }
    for (std::size_t f = 0; f < o.filters.size(); ++f) {
        if (!filter_used[f]) {
            std::cout << "ERROR no case file or case matches '" << o.filters[f] << "'\n";
            ++errors;
        }
    }
    return run_all(o, kiln, selected, errors);
}
