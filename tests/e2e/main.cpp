// The end-to-end runner: runs the selected cases of tests/cases against the real binary.
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
#include "compare.hpp"
#include "process.hpp"

namespace fs = std::filesystem;
using namespace e2e;

namespace {

constexpr const char* kUsage =
    "usage: kiln_e2e [options] KILN CASES [FILTER...]\n"
    "  KILN   the shell binary; CASES a directory of *.txt case files, or one case file\n"
    "  FILTER FILE (quoting or quoting.txt), FILE:LINE (the case holding that line), or TEXT\n"
    "         (the cases whose name contains TEXT)\n"
    "options:\n"
    "  --platform posix|windows  run the cases that hold there (default posix)\n"
    "  --launcher \"CMD ARGS\"     start the binary through this command (e.g. wine)\n"
    "  --pass-env NAME           pass this variable of the runner's environment on\n"
    "  --env NAME=VALUE          set this variable for every case\n"
    "  -j N                      run N cases at a time (default 1)\n"
    "  --keep                    keep the directories of failing cases\n"
    "  -v                        also list the cases that pass\n";

struct Options {
    std::string kiln, cases;
    std::vector<std::string> filters, launcher, pass_env, extra_env;
    Platform platform = Platform::Posix;
    unsigned jobs = 1;
    bool keep = false, verbose = false;
};

bool parse_options(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--platform" && has_value) {
            const std::string v = argv[++i];
            if (v != "posix" && v != "windows") return false;
            o.platform = v == "posix" ? Platform::Posix : Platform::Windows;
        } else if (a == "--launcher" && has_value) {
            std::istringstream words(argv[++i]);
            for (std::string w; words >> w;)
                o.launcher.push_back(w);
        } else if ((a == "--pass-env" || a == "--env") && has_value) {
            (a == "--env" ? o.extra_env : o.pass_env).push_back(argv[++i]);
        } else if (a == "-j" && has_value && std::atoi(argv[i + 1]) > 0) {
            o.jobs = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (a == "--keep" || a == "-v") {
            (a == "-v" ? o.verbose : o.keep) = true;
        } else if (a.starts_with("-")) {
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

bool names_file(const std::string& word, const std::string& file) {
    return word == file || word + ".txt" == file;
}

// Whether `filter` selects case `i` of one file's `cases`, with `is_file` telling whether a
// word names a case file.
template <class IsFile>
bool selects(const std::string& filter, const std::vector<Case>& cases, std::size_t i,
             IsFile is_file) {
    const Case& c = cases[i];
    const auto colon = filter.rfind(':');
    if (colon != std::string::npos && is_file(filter.substr(0, colon))) {
        const int line = std::atoi(filter.c_str() + colon + 1);
        return names_file(filter.substr(0, colon), c.file) && c.line <= line &&
               (i + 1 == cases.size() || cases[i + 1].line > line);
    }
    return is_file(filter) ? names_file(filter, c.file) : c.name.find(filter) != std::string::npos;
}

// A Linux path as a Windows program under Wine sees it.
std::string wine_path(const std::string& path) {
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

std::vector<std::string> environment(const Options& o, const Case& c, const Placeholders& values,
                                     const std::string& home) {
    std::vector<std::pair<std::string, std::string>> env = {
        {"PATH", "/usr/bin:/bin"}, {"HOME", home},        {"USERPROFILE", home},
        {"LANG", "C.UTF-8"},       {"LC_ALL", "C.UTF-8"},
    };
    auto set = [&](const std::string& name, const std::optional<std::string>& value) {
        std::erase_if(env, [&](const auto& e) { return e.first == name; });
        if (value) env.emplace_back(name, *value);
    };
    // Sanitizer settings reach the shell so that a sanitized build reports through them.
    std::vector<std::string> passed = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};
    passed.insert(passed.end(), o.pass_env.begin(), o.pass_env.end());
    for (const auto& name : passed)
        if (const char* v = getenv(name.c_str())) set(name, std::string(v));
    for (const auto& entry : o.extra_env)
        set(entry.substr(0, entry.find('=')), entry.substr(entry.find('=') + 1));
    for (const auto& [name, value] : c.env)
        set(name, value ? std::optional(substitute(*value, values)) : std::nullopt);
    std::vector<std::string> block;
    for (const auto& [name, value] : env) {
        // Wine keeps HOME of the Unix environment from Windows programs and hands them
        // WINEHOME under the name HOME instead.
        const bool wine_home = o.platform == Platform::Windows && name == "HOME";
        block.push_back((wine_home ? "WINEHOME" : name) + "=" + value);
    }
    return block;
}

// What went wrong in one command's run; empty when it did what the case expects.
std::string check(const Command& cmd, const ProcessResult& r, const Placeholders& values,
                  int timeout) {
    if (!r.start_error.empty()) return "  could not start: " + r.start_error + "\n";
    std::string out;
    if (r.timed_out) out += "  timed out after " + std::to_string(timeout) + " s\n";
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

bool write_file(const fs::path& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out << text);
}

void remove_tree(const fs::path& root) {
    std::error_code ec;
    // Cases may take permissions away; give them back so that everything can go.
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

struct Report {
    int line = 0;      // the failing command's line
    std::string text;  // empty on a pass
};

// Runs every command of the case in one fresh directory, up to the first that fails.
Report run_case(const Options& o, const std::string& kiln, const Case& c) {
    const char* root = getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/kiln-e2e-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {c.line, std::string("  mkdtemp: ") + strerror(errno) + "\n"};
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
        const bool ok = f.path.ends_with('/') ? fs::create_directories(target, ec) || !ec
                                              : write_file(target, substitute(f.content, values));
        if (!ok) report.text += "  cannot create " + target.string() + "\n";
    }
    ProcessLaunch launch{o.launcher, environment(o, c, values, values.home), work.string(), c.input,
                         c.timeout_seconds};
    launch.argv.push_back(kiln);
    for (std::size_t i = 0; i < c.commands.size() && report.text.empty(); ++i) {
        const Command& cmd = c.commands[i];
        launch.argv.resize(o.launcher.size() + 1);
        for (const auto& a : cmd.argv)
            launch.argv.push_back(substitute(a, values));
        const std::string failure =
            check(cmd, run_process(launch, (base / "stream").string()), values, c.timeout_seconds);
        if (!failure.empty()) report = {cmd.line, failure};
    }
    if (o.keep && !report.text.empty())
        report.text += "  kept: " + base.string() + "\n";
    else
        remove_tree(base);
    return report;
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
    auto is_file = [&](const std::string& word) {
        return std::any_of(files.begin(), files.end(), [&](const fs::path& p) {
            return names_file(word, p.filename().string());
        });
    };

    std::vector<Case> selected;
    std::vector<bool> used(o.filters.size(), false);
    int failed = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const CaseFile parsed = parse_case_file(path.filename().string(), text.str());
        // A file's errors count when the run takes every file or names this one.
        const std::string name = path.filename().string();
        bool targeted = o.filters.empty();
        for (const auto& f : o.filters)
            targeted =
                targeted || names_file(f.substr(0, f.rfind(':')), name) || names_file(f, name);
        for (const auto& e : targeted ? parsed.errors : std::vector<std::string>{}) {
            std::cout << "ERROR " << e << "\n";
            ++failed;
        }
        for (std::size_t i = 0; i < parsed.cases.size(); ++i) {
            bool wanted = o.filters.empty();
            for (std::size_t f = 0; f < o.filters.size(); ++f) {
                const bool hit = selects(o.filters[f], parsed.cases, i, is_file);
                used[f] = used[f] || hit;
                wanted = wanted || hit;
            }
            const Platform p = parsed.cases[i].platform;
            if (wanted && (p == Platform::Both || p == o.platform))
                selected.push_back(parsed.cases[i]);
        }
    }
    for (std::size_t f = 0; f < o.filters.size(); ++f) {
        if (!used[f]) std::cout << "ERROR no case matches '" << o.filters[f] << "'\n";
        failed += used[f] ? 0 : 1;
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
        const Case& c = selected[i];
        const Report& r = reports[i];
        const std::string where = c.file + ":" + std::to_string(r.line) + ": " + c.name + "\n";
        (r.text.empty() ? passed : failed)++;
        if (!r.text.empty() || o.verbose)
            std::cout << (r.text.empty() ? "ok   " : "FAIL ") << where << r.text;
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}
