// Starting and waiting for programs on Windows, the program searches of which/type and of
// completion, and Ctrl-C.
#include <algorithm>
#include <atomic>
#include <unordered_set>

#include "platform/win_cmdline.hpp"
#include "platform/win_search.hpp"
#include "platform/win_text.hpp"
#include "platform/windows_detail.hpp"

namespace kiln::platform {

using namespace detail;

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_catching{false};  // Ctrl-C is the shell's to handle (interactive use)

BOOL WINAPI on_console_ctrl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        g_interrupts.fetch_add(1);
        return TRUE;  // the shell lives on; the program that was running gets its own event
    }
    return FALSE;
}

bool same_name(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool has_nul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

SpawnError spawn_error(bool not_found, std::string text) {
    return {not_found, std::move(text)};
}

// PATHEXT's pieces, or the default list when it is unset or not valid text.
std::vector<std::string> program_extensions() {
    auto value = env_wide("PATHEXT");
    bool valid = true;
    std::string text = value ? narrow(*value, &valid) : std::string();
    if (!value || !valid) text = std::string(win::kDefaultPathext);
    return win::split_pathext(text);
}

// Where a plain name is looked for: a PATH given to this child, the shell's own folder, the
// system folder, the Windows folder, then the shell's PATH.
std::vector<std::string> program_places(const SpawnRequest& request) {
    std::vector<std::string> places;
    // The child's PATH is the last assignment to it, whatever the letter case of its name.
    const auto& overrides = request.env_overrides;
    const auto child_path = std::find_if(overrides.rbegin(), overrides.rend(), [](const auto& v) {
        return same_name(wide(v.first), L"PATH");
    });
    if (child_path != overrides.rend()) places = win::split_path_list(child_path->second);
    places.insert(places.end(), {own_dir(), system_dir(), windows_dir()});
    if (auto path = env_wide("PATH")) {
        for (auto& dir : win::split_path_list(narrow(*path)))
            places.push_back(std::move(dir));
    }
    return places;
}

Result<std::string, SpawnError> resolve_program(const SpawnRequest& request) {
    const std::string& name = request.program;
    if (name.empty() || win::is_separator(name.back())) {
        return fail(spawn_error(false, "program path has no file name"));
    }
    if (std::none_of(name.begin(), name.end(), win::is_separator)) {
        if (auto found =
                win::search_to_run(name, program_places(request), program_extensions(), is_file)) {
            return *found;
        }
        return fail(spawn_error(true, "program not found"));
    }
    // A path: used as written, or with ".exe" when such a file exists.
    if (win::ends_with_nocase(name, ".exe")) return name;
    if (is_file(name + ".exe")) return name + ".exe";
    return name;
}

// The child's environment block when prefix assignments change it; absent to inherit the
// shell's. Names are compared without case and the block is sorted that way, as Windows wants.
std::optional<std::wstring> environment_block(const SpawnRequest& request) {
    if (request.env_overrides.empty()) return std::nullopt;
    std::vector<std::pair<std::wstring, std::wstring>> vars;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; p != nullptr && *p != L'\0';) {
        const std::wstring_view entry(p);
        p += entry.size() + 1;
        const auto eq = entry.find(L'=', 1);
        if (eq == std::wstring_view::npos) continue;
        vars.emplace_back(std::wstring(entry.substr(0, eq)), std::wstring(entry.substr(eq + 1)));
    }
    if (block != nullptr) FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : request.env_overrides) {
        const std::wstring wname = wide(name);
        std::erase_if(vars, [&](const auto& v) { return same_name(v.first, wname); });
        vars.emplace_back(wname, wide(value));
    }
    std::stable_sort(vars.begin(), vars.end(), [](const auto& a, const auto& b) {
        return CompareStringOrdinal(a.first.data(), static_cast<int>(a.first.size()),
                                    b.first.data(), static_cast<int>(b.first.size()),
                                    TRUE) == CSTR_LESS_THAN;
    });
    std::wstring out;
    for (const auto& [name, value] : vars) {
        out += name;
        out += L'=';
        out += value;
        out += L'\0';
    }
    out += L'\0';
    return out;
}

// Inheritable copies of the child's three standard handles, closed when the start is over.
class StdHandles {
public:
    explicit StdHandles(const SpawnRequest& request) {
        handles_[0] = inheritable(request.in, STD_INPUT_HANDLE, 0);
        handles_[1] = inheritable(request.out, STD_OUTPUT_HANDLE, 1);
        handles_[2] = inheritable(request.err, STD_ERROR_HANDLE, 2);
    }
    ~StdHandles() {
        for (int i = 0; i < 3; ++i) {
            if (owned_[i]) CloseHandle(handles_[i]);
        }
    }
    StdHandles(const StdHandles&) = delete;
    StdHandles& operator=(const StdHandles&) = delete;
    HANDLE get(int i) const { return handles_[i]; }

private:
    HANDLE inheritable(const Handle* given, DWORD which, int i) {
        HANDLE source = given != nullptr ? handle_of(*given) : GetStdHandle(which);
        if (source == nullptr || source == INVALID_HANDLE_VALUE) return source;
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE,
                             DUPLICATE_SAME_ACCESS)) {
            return source;
        }
        owned_[i] = true;
        return copy;
    }

    HANDLE handles_[3] = {nullptr, nullptr, nullptr};
    bool owned_[3] = {false, false, false};
};

bool has_nul_anywhere(const SpawnRequest& request) {
    if (has_nul(request.program) || has_nul(request.cwd)) return true;
    for (const auto& arg : request.args) {
        if (has_nul(arg)) return true;
    }
    for (const auto& [name, value] : request.env_overrides) {
        if (has_nul(name) || has_nul(value) || name.empty() ||
            name.find('=') != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The child's working directory as CreateProcessW takes it, which is never longer than
// MAX_PATH: a longer one through its short (8.3) form where the volume keeps short names,
// else in the \\?\ form.
std::wstring child_cwd(const std::string& cwd) {
    if (cwd.size() < MAX_PATH - 1) return wide(cwd);
    const std::wstring full = sys_path(cwd);
    std::wstring buffer(full.size() + 1, L'\0');
    const DWORD n =
        GetShortPathNameW(full.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return full;
    buffer.resize(n);
    const std::wstring_view unc = L"\\\\?\\UNC\\";
    std::wstring plain = buffer.starts_with(unc)          ? L"\\\\" + buffer.substr(unc.size())
                         : buffer.starts_with(L"\\\\?\\") ? buffer.substr(4)
                                                          : buffer;
    return plain.size() < MAX_PATH - 1 ? plain : full;
}

}  // namespace

Result<Child, SpawnError> spawn(const SpawnRequest& request) {
    if (has_nul_anywhere(request))
        return fail(spawn_error(false, "nul byte found in provided data"));
    auto resolved = resolve_program(request);
    if (!resolved) return fail(resolved.error());

    // Scripts run through the command interpreter of the system folder.
    std::string application = *resolved;
    std::string command_line;
    if (win::is_batch_file(*resolved)) {
        application = win::join_path(system_dir(), "cmd.exe");
        auto line = win::batch_command_line(*resolved, request.args);
        if (!line) return fail(spawn_error(false, "batch file arguments are invalid"));
        command_line = std::move(*line);
    } else {
        command_line = win::program_command_line(request.program, request.args);
    }

    std::optional<std::wstring> env = environment_block(request);
    const StdHandles std_handles(request);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = std_handles.get(0);
    startup.hStdOutput = std_handles.get(1);
    startup.hStdError = std_handles.get(2);
    PROCESS_INFORMATION info{};
    std::wstring wline = wide(command_line);
    const std::wstring wcwd = child_cwd(request.cwd);
    // Only the duplicated standard handles are inheritable: every handle the shell opens
    // itself is created without inheritance, and only the main thread starts programs.
    const BOOL ok = CreateProcessW(sys_path(application).c_str(), wline.data(), nullptr, nullptr,
                                   TRUE, CREATE_UNICODE_ENVIRONMENT, env ? env->data() : nullptr,
                                   request.cwd.empty() ? nullptr : wcwd.c_str(), &startup, &info);
    if (!ok) {
        const DWORD code = GetLastError();
        const bool not_found = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        return fail(spawn_error(not_found, describe(os_error(code))));
    }
    CloseHandle(info.hThread);
    return Child{reinterpret_cast<std::intptr_t>(info.hProcess)};
}

OsResult<int> wait_child(Child& child) {
    HANDLE process = reinterpret_cast<HANDLE>(child.id);
    if (WaitForSingleObject(process, INFINITE) == WAIT_FAILED) return fail(last_error());
    DWORD code = 0;
    const bool ok = GetExitCodeProcess(process, &code) != 0;
    const OsError error = ok ? OsError{} : last_error();
    CloseHandle(process);
    child.id = -1;
    if (!ok) return fail(error);
    // The console delivers Ctrl-C to the shell on a thread of its own, which may run only
    // after the program has ended: recorded here, the interrupt stops the rest of the line
    // before its next command starts.
    if (code == win::kControlCExit && g_catching) g_interrupts.fetch_add(1);
    return win::exit_status(code);
}

std::optional<std::string> find_program(std::string_view name) {
    if (std::any_of(name.begin(), name.end(), win::is_separator)) {
        if (file_kind(std::string(name)) == FileKind::Regular) return std::string(name);
        return std::nullopt;
    }
    auto path = env_wide("PATH");
    if (!path) return std::nullopt;
    const auto is_regular = [](const std::string& p) { return file_kind(p) == FileKind::Regular; };
    return win::search_to_report(name, win::split_path_list(narrow(*path)), program_extensions(),
                                 is_regular);
}

std::vector<std::string> list_programs(std::string_view prefix, std::size_t limit) {
    std::vector<std::string> found;
    auto path = env_wide("PATH");
    if (!path || limit == 0) return found;
    std::vector<std::wstring> extensions;
    for (const auto& ext : program_extensions())
        extensions.push_back(lowercase(wide(ext)));
    const std::wstring word = lowercase(wide(prefix));
    std::unordered_set<std::wstring> seen;
    for (const auto& dir : win::split_path_list(narrow(*path))) {
        if (dir.empty()) continue;
        auto entries = list_dir(dir);
        if (!entries) continue;
        for (const auto& entry : *entries) {
            const std::wstring name = wide(entry.name);
            const std::wstring lower = lowercase(name);
            // The first extension of the list that the name ends with; an empty one fits all.
            const auto ext =
                std::find_if(extensions.begin(), extensions.end(),
                             [&](const std::wstring& e) { return lower.ends_with(e); });
            if (ext == extensions.end()) continue;
            const std::size_t base_len = name.size() - ext->size();
            std::wstring lower_base = lower.substr(0, base_len);
            if (!lower_base.starts_with(word) || seen.contains(lower_base)) continue;
            seen.insert(std::move(lower_base));
            found.push_back(narrow(std::wstring_view(name).substr(0, base_len)));
            if (found.size() >= limit) return found;
        }
    }
    return found;
}

// ---- interrupts ----------------------------------------------------------------------------

void catch_interrupts() {
    g_catching = true;
    SetConsoleCtrlHandler(on_console_ctrl, TRUE);
}

bool take_interrupt() {
    return g_interrupts.exchange(0) > 0;
}

bool interrupt_pending() {
    return g_interrupts.load() > 0;
}

}  // namespace kiln::platform
