// The end-to-end runner: runs the selected cases of tests/cases against the real binary and
// reports every command whose status or output differs from its case.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "case_file.hpp"

namespace fs = std::filesystem;
using namespace e2e;

namespace {

constexpr const char* kUsage =
    "usage: kiln_e2e [--wine WINE] [--env NAME[=VALUE]]... [-j N] [--keep] [--no-limits] [-v]\n"
    "                KILN CASES [LINE]\n"
    "  runs the cases of a file (only the one holding LINE) or a directory "
    "(tests/cases/README.md)\n";

struct Options {
    std::string kiln, cases;
    int line = 0;      // 0: every case
    std::string wine;  // when set, KILN is a Windows program and the Windows cases run
    // Sanitizer settings reach the shell so that a sanitized build reports through them.
    std::vector<std::string> env = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};
    unsigned jobs = 1;
    bool keep = false, verbose = false;
    bool limits = true;  // false: cases with a `limit` are left out (a sanitized KILN needs more)
};

bool parse_options(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--keep" || a == "-v") {
            (a == "-v" ? o.verbose : o.keep) = true;
        } else if (a == "--no-limits") {
            o.limits = false;
        } else if (!a.starts_with("-")) {
            positional.push_back(a);
        } else if (a == "--wine" && !value.empty() && ++i) {
            o.wine = value;
        } else if (a == "--env" && !value.empty() && ++i) {
            o.env.push_back(value);
        } else if (a == "-j" && std::atoi(value.c_str()) > 0 && ++i) {
            o.jobs = static_cast<unsigned>(std::atoi(value.c_str()));
        } else {
            return false;
        }
    }
    if (positional.size() < 2 || positional.size() > 3) return false;
    o.kiln = positional[0];
    o.cases = positional[1];
    o.line = positional.size() == 3 ? std::atoi(positional[2].c_str()) : 0;
    return positional.size() == 2 || o.line > 0;
}

struct ProcessResult {
    std::string out, err;
    int status = 0;  // exit code, or 128 + signal number
    int signal = 0;  // the signal that ended the program, 0 when it exited
    bool timed_out = false;
};

std::string read_file(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// --- comparing ---------------------------------------------------------------------------

// The placeholders {tmp}, {home} and {/} with their values.
using Placeholders = std::vector<std::pair<std::string, std::string>>;

std::string substitute(std::string text, const Placeholders& values) {
    for (const auto& [from, to] : values)
        for (auto at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
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

// One line for display: control bytes, backslashes and trailing blanks escaped.
std::string visible(std::string line) {
    const bool eol = line.ends_with('\n');
    if (eol) line.pop_back();
    const std::size_t end = line.find_last_not_of(" \t") + 1;
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        const bool escaped = (c < 0x20 && c != '\t') || c == 0x7f || i >= end;
        out += c == '\\' ? std::string("\\\\") : escaped ? std::string(hex) : std::string(1, c);
    }
    return eol ? out : out + "   (no line feed at the end)";
}

// The lines between the common first and last lines, expected ones marked "-", actual "+";
// empty when every line matches.
std::string diff(const std::string& expected, const std::string& actual) {
    const auto a = split_lines(expected), b = split_lines(actual);
    std::size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && line_matches(a[head], b[head]))
        ++head;
    while (tail < a.size() - head && tail < b.size() - head &&
           line_matches(a[a.size() - 1 - tail], b[b.size() - 1 - tail]))
        ++tail;
    std::string out;
    for (std::size_t i = head; i < a.size() - tail; ++i)
        out += "    -" + visible(a[i]) + "\n";
    for (std::size_t i = head; i < b.size() - tail; ++i)
        out += "    +" + visible(b[i]) + "\n";
    return out;
}

// What went wrong in one command's run; empty when it did what the case expects.
std::string check(const Command& cmd, const ProcessResult& r, const Placeholders& values) {
    std::string out;
    if (r.timed_out) out += "  timed out\n";
    if (r.signal != 0) out += "  killed by signal " + std::string(strsignal(r.signal)) + "\n";
    if (!r.timed_out && (cmd.status ? r.status != *cmd.status : r.status == 0))
        out += "  status: expected " + (cmd.status ? std::to_string(*cmd.status) : "not 0") +
               ", got " + std::to_string(r.status) + "\n";
    for (const auto& [name, want, got] :
         {std::tuple{"stdout", &cmd.out, &r.out}, std::tuple{"stderr", &cmd.err, &r.err}})
        if (auto lines = diff(substitute(*want, values), *got); !lines.empty())
            out += std::string("  ") + name + " (-expected +actual):\n" + lines;
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
    const bool windows = !o.wine.empty();
    // KILN_EXE lets a case start the shell itself, e.g. to see the status it ends with.
    std::map<std::string, std::optional<std::string>> env = {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", values[1].second},
        {"USERPROFILE", values[1].second},
        {"LANG", "C.UTF-8"},
        {"LC_ALL", "C.UTF-8"},
        {"KILN_EXE", windows ? wine_path(kiln) : kiln}};
    for (const auto& e : o.env) {
        const auto eq = e.find('=');
        if (eq != std::string::npos)
            env[e.substr(0, eq)] = e.substr(eq + 1);
        else if (const char* own = getenv(e.c_str()))
            env[e] = own;
    }
    for (const auto& [name, value] : c.env)
        env[name] = value ? std::optional(substitute(*value, values)) : std::nullopt;
    std::vector<std::string> block;
    // Wine keeps HOME of the Unix environment from Windows programs; it hands them WINEHOME
    // under the name HOME instead.
    for (const auto& [name, value] : env)
        if (value) block.push_back((windows && name == "HOME" ? "WINEHOME" : name) + "=" + *value);
    return block;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Runs `argv` (argv[0] the program's path) in its own process group with exactly the
// environment `env`, and `input` (/dev/null when absent) in a pipe filled beforehand. The
// output streams go to the files `scratch`.out and .err, read once it has ended.
ProcessResult run_process(std::vector<std::string> argv, std::vector<std::string> env,
                          const std::string& cwd, const std::optional<std::string>& input,
                          int timeout_seconds, const std::string& scratch, std::uint64_t limit) {
    // The input goes into the pipe before the start; cases hold far less than a pipe takes.
    int in[2] = {-1, -1};
    if (input && pipe2(in, O_CLOEXEC) == 0) {
        fcntl(in[1], F_SETPIPE_SZ, 1 << 20);
        if (write(in[1], input->data(), input->size()) < 0) close(std::exchange(in[0], -1));
        close(in[1]);
    }
    // The child runs only async-signal-safe calls up to the exec: other threads may hold locks.
    const std::string out = scratch + ".out", err = scratch + ".err";
    const auto args = pointers(argv), vars = pointers(env);
    const std::string failure =
        "kiln_e2e: cannot start " + argv[0] + " in " + cwd + " with its streams\n";
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        const rlimit address_space{limit, limit};
        if (limit != 0 && setrlimit(RLIMIT_AS, &address_space) != 0) _exit(126);
        const int fd0 = input ? in[0] : open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int fd1 = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int fd2 = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (chdir(cwd.c_str()) == 0 && dup2(fd0, 0) == 0 && dup2(fd1, 1) == 1 && dup2(fd2, 2) == 2)
            execve(args[0], args.data(), vars.data());
        [[maybe_unused]] const auto n = write(2, failure.data(), failure.size());
        _exit(127);
    }
    if (in[0] >= 0) close(in[0]);
    if (pid < 0) return {{}, "kiln_e2e: fork failed\n", -1, 0, false};
    setpgid(pid, pid);  // so that a kill below reaches the group even before the child set it

    ProcessResult r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            r.timed_out = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &raw, 0);
            break;
        }
        usleep(1000);
    }
    kill(-pid, SIGKILL);     // programs left behind in the group must not outlive the case
    r.out = read_file(out);  // the files stay until the case's directory is removed
    r.err = read_file(err);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    return r;
}

// Runs the case's commands in one fresh directory, up to the first that fails; returns its
// report: "ok" and the header's line on a pass, "FAIL", the failing command's line and what
// differs otherwise.
std::string run_case(const Options& o, const std::string& kiln, const Case& c) {
    const char* root = getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/kiln-e2e-XXXXXX";
    if (!mkdtemp(pattern.data())) return "FAIL " + c.file + ": mkdtemp failed\n";
    std::error_code ec;
    const fs::path base = fs::canonical(pattern, ec), work = base / "work", home = base / "home";
    fs::create_directory(work, ec);
    fs::create_directory(home, ec);
    Placeholders values = {{"{tmp}", work}, {"{home}", home}, {"{/}", "/"}};
    if (!o.wine.empty())
        values = {{"{tmp}", wine_path(work)}, {"{home}", wine_path(home)}, {"{/}", "\\"}};

    int line = c.line;
    std::string failure;
    for (const auto& [path, content] : c.files) {
        const fs::path target = path.starts_with("~/") ? home / path.substr(2) : work / path;
        fs::create_directories(path.ends_with('/') ? target : target.parent_path(), ec);
        std::ofstream out;
        if (!path.ends_with('/')) out.open(target, std::ios::binary);
        if (!(out << substitute(content, values)) || ec)
            failure += "  cannot create " + target.string() + "\n";
    }
    const auto env = environment(o, c, values, kiln);
    for (std::size_t i = 0; i < c.commands.size() && failure.empty(); ++i) {
        std::vector<std::string> argv = {kiln};
        if (!o.wine.empty()) argv.insert(argv.begin(), o.wine);
        for (const auto& a : c.commands[i].argv)
            argv.push_back(substitute(a, values));
        const auto result =
            run_process(argv, env, work, c.input, c.timeout, base / "stream", c.limit);
        failure = check(c.commands[i], result, values);
        line = c.commands[i].line;
    }
    if (o.keep && !failure.empty())
        failure += "  kept: " + base.string() + "\n";
    else
        fs::remove_all(base, ec);
    const std::string header = c.file + ":" + std::to_string(failure.empty() ? c.line : line);
    return (failure.empty() ? "ok   " : "FAIL ") + header + ": " + c.name + "\n" + failure;
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
    const std::string kiln = fs::canonical(o.kiln, ec).string();
    std::vector<fs::path> files;
    if (fs::is_regular_file(o.cases)) files.push_back(o.cases);
    for (const auto& entry : fs::directory_iterator(o.cases, ec))
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (kiln.empty() || files.empty()) {
        std::cerr << "kiln_e2e: no binary " << o.kiln << " or no case files in " << o.cases << "\n";
        return 2;
    }
    const Platform platform = o.wine.empty() ? Platform::Posix : Platform::Windows;
    std::vector<Case> selected;
    std::vector<std::string> errors;
    for (const auto& path : files) {
        std::vector<Case> cases;
        parse_case_file(path.filename().string(), read_file(path), cases, errors);
        for (const Case& c : cases)
            if ((o.line == 0 || (c.line <= o.line && o.line <= c.end)) &&
                (c.platform == Platform::Both || c.platform == platform) &&
                (c.limit == 0 || (o.limits && o.wine.empty())))
                selected.push_back(c);
    }
    for (const auto& e : errors)
        std::cout << "ERROR " << e << "\n";

    std::vector<std::string> reports(selected.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < std::min<std::size_t>(o.jobs, selected.size()); ++t)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < selected.size();)
                reports[i] = run_case(o, kiln, selected[i]);
        });
    for (auto& w : workers)
        w.join();
    int passed = 0, failed = static_cast<int>(errors.size());
    for (const auto& report : reports) {
        const bool ok = report.starts_with("ok");
        (ok ? passed : failed)++;
        if (!ok || o.verbose) std::cout << report;
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}
