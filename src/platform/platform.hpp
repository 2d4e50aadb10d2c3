// The one door to the operating system. Everything kiln needs of the system is declared here,
// in one section per area. Each area is implemented twice, in files of the same stem:
// {stem}_posix.cpp and {stem}_windows.cpp. The sections, in order, and their stems:
//   errors            errors_     files          files_      standard streams  console_
//   process start-up  startup_    file updates   update_     programs          process_
//   environment       env_        directories    dir_        interrupts        process_
//   paths             paths_      memory         memory_     endings           signals_
//                                 held output    spool_
// The shell's own errors are the same everywhere: own_errors.cpp. Only Windows has
// text_windows.cpp (UTF-8 to and from UTF-16) and the rules that need no system, tested
// everywhere: win_text.* (UTF-16, paths), win_cmdline.* (command lines) and win_search.*
// (program searches).
// No other folder includes system headers or tests for the platform.
//
// Text crossing this wall is UTF-8 in std::string. On POSIX paths and environment entries are
// bytes and pass unchanged; on Windows they are converted from and to UTF-16 here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.hpp"

namespace kiln::platform {

// ---- errors --------------------------------------------------------------------------------

// A failed system call: the system's own code and description.
struct OsError {
    int code = 0;
    std::string message;  // e.g. "No such file or directory"
};

// Codes of failures that are the shell's own rather than the system's.
inline constexpr int kInterrupted = -1;  // Ctrl-C ended a wait or a read
inline constexpr int kTooLarge = -2;     // the bytes would pass the memory bound (may_hold)

// The failure of a wait or a read that Ctrl-C ended: "interrupted".
OsError interrupted();

// "{message} (os error {code})", the one format of system errors in messages; the message
// alone for the shell's own codes.
std::string describe(const OsError& error);

template <class T>
using OsResult = Result<T, OsError>;

// ---- process start-up ----------------------------------------------------------------------

// Captures what must be read once at start-up (the arguments, the profile folder) and sets
// the process up (SIGPIPE ignored on POSIX, console modes on Windows). Call first in main.
void init(int argc, char** argv);

// The process arguments as text; element 0 is the program path.
const std::vector<std::string>& arguments();

// The user's profile folder, as found at start-up; absent when the system has none.
const std::optional<std::string>& home_dir();

int process_id();

// Flushes standard output and ends the process with the status.
[[noreturn]] void exit_process(int status);

// ---- environment ---------------------------------------------------------------------------

// Every entry of the process environment, in block order, as text.
std::vector<std::pair<std::string, std::string>> environment();
// The variables the shell starts with: the entries of environment(), and on Windows the
// program path also under the name PATH when the block spells it otherwise (such as "Path"),
// so that $PATH is the one variable that programs are searched by.
std::vector<std::pair<std::string, std::string>> startup_variables();
std::optional<std::string> get_env(std::string_view name);
// Refused (with a reason) for a name the system cannot hold: empty, containing '=' or NUL,
// or a value containing NUL.
OsResult<void> set_env(std::string_view name, std::string_view value);
OsResult<void> unset_env(std::string_view name);

// The profile folder as the environment names it now: on Windows USERPROFILE when it is set
// and not empty; never elsewhere, where HOME is read once at start-up into home_dir().
inline std::optional<std::string> profile_dir_from_env() {
#ifdef _WIN32
    if (auto profile = get_env("USERPROFILE"); profile && !profile->empty()) return profile;
#endif
    return std::nullopt;
}

// ---- paths ---------------------------------------------------------------------------------

inline constexpr char kPathListSeparator =
#ifdef _WIN32
    ';';
#else
    ':';
#endif

// The separator that file-name completion splits a word at and puts after a directory.
inline constexpr char kDirSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// True for a character that separates path components ('/', and '\\' on Windows).
bool is_separator(char c);
// Absolute: rooted on POSIX; with both a drive or share prefix and a root on Windows.
bool is_absolute(std::string_view path);
// Joins with the platform's rules: an absolute `rel` replaces `base`.
std::string join_path(std::string_view base, std::string_view rel);
// Lexical removal of "." and "..", joining with the platform's separator.
std::string normalize_path(std::string_view path);
// Splits a PATH-like value into its directories (empty entries kept; callers skip them).
std::vector<std::string> split_path_list(std::string_view value);

OsResult<std::string> current_dir();
OsResult<void> set_current_dir(const std::string& path);

// ---- files ---------------------------------------------------------------------------------

enum class FileKind { Missing, Regular, Directory, Other };

// Metadata with links followed. Missing also covers entries that cannot be examined.
FileKind file_kind(const std::string& path);

// The whole file. Ctrl-C stops the read (kInterrupted), and so does the memory bound
// (too_large), so that an endless file such as /dev/zero ends with a message.
OsResult<std::string> read_file(const std::string& path);

// An owned native descriptor or handle; closed when destroyed.
class Handle {
public:
    Handle() = default;
    explicit Handle(std::intptr_t native) : native_(native) {}
    Handle(Handle&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            close();
            native_ = std::exchange(other.native_, -1);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }

    bool valid() const { return native_ != -1; }
    std::intptr_t native() const { return native_; }
    void close();

private:
    std::intptr_t native_ = -1;
};

// Opens an existing file for reading: a `<` file, which a program reads itself. A directory
// is refused with the error that reading it gives. Ctrl-C ends a wait for the other side of
// a FIFO (kInterrupted).
OsResult<Handle> open_for_read(const std::string& path);
// The rest of a file opened by open_for_read, read as read_file reads it.
OsResult<std::string> read_file(const Handle& file);
// True when `path` names the regular file that `file` has open, links followed.
bool is_same_file(const Handle& file, const std::string& path);

// Opens for writing, creating the file when missing; truncates unless `append`, in which case
// every write goes to the end. Other processes may read, write and delete the file meanwhile.
// Ctrl-C ends a wait for the other side of a FIFO (kInterrupted).
OsResult<Handle> open_for_write(const std::string& path, bool append);

// Writes every byte, retrying interrupted and partial writes.
OsResult<void> write_all(const Handle& handle, std::string_view bytes);
// Appends everything up to end of file to `out`. On an error the bytes read so far stay.
OsResult<void> read_all(const Handle& handle, std::string& out);

struct PipeEnds {
    Handle read;
    Handle write;
};
OsResult<PipeEnds> make_pipe();

// ---- file updates --------------------------------------------------------------------------

// The two ends of a file, read without what lies between them, so that a huge file costs no
// more than a small one.
struct FileEnds {
    std::string head;   // the first bytes, as many as asked for or the whole file
    std::string tail;   // the last bytes, as many as asked for or the whole file
    bool whole = true;  // the tail is the whole file
};

// Absent when nothing exists at the path.
OsResult<std::optional<FileEnds>> read_file_ends(const std::string& path, std::size_t head,
                                                 std::size_t tail);

// Replaces a file's content with what `rewrite` makes of its ends (as read_file_ends reads
// them; empty for a missing file). The new text goes to a new file in the same directory,
// readable by the owner only, that is then renamed over the old one: a crash or a full disk
// leaves the old file whole. Processes that update the same file this way take turns, so
// that none loses what another wrote meanwhile. A file that exists but cannot be read is
// left as it is, with the error. A link is followed: the file it names is replaced.
OsResult<void> update_file(const std::string& path, std::size_t head, std::size_t tail,
                           const std::function<std::string(const FileEnds&)>& rewrite);

// ---- directories ---------------------------------------------------------------------------

struct DirEntry {
    std::string name;
    bool is_dir = false;  // false for a link, whatever it points to
    bool is_link = false;
    std::uint64_t size = 0;
    bool hidden = false;  // Windows' hidden attribute, which `dir` and Explorer honour
};

// The entries of a directory, "." and ".." left out; unreadable entries are skipped.
OsResult<std::vector<DirEntry>> list_dir(const std::string& path);
// The same, except that sizes may be left at 0: on POSIX the directory's own type records
// answer is_dir and is_link, so a large directory is listed without examining every entry.
OsResult<std::vector<DirEntry>> list_dir_names(const std::string& path);

// ---- memory --------------------------------------------------------------------------------

// Everything the shell holds for commands (held and captured outputs, builtins' output, files
// and streams read whole, expanded values) counts against one bound for the whole process:
// the smaller of its address-space or data limit and the machine's physical memory (on
// Windows the job's or the system's commit limit), less a margin for the shell itself. True
// when the process may take `more` bytes and stay within it, judged by what it uses now.
// Asked only before large growth, so that its cost is spread over many bytes.
bool may_hold(std::size_t more);
// Lowers the bound to at most `bytes` in use, for a host that runs the shell under a memory
// limit of its own (the fuzz targets under the fuzzer's).
void cap_memory(std::uint64_t bytes);

// A block of memory for a structure of one piece that may grow large (a parsed tree, the
// lists gathered for it): `block`, holding `size` bytes, resized to `new_size` bytes, its
// bytes kept; null when there is no memory for it, `block` then as it was. A block resized
// from null is new; one grown large moves by its pages instead of being copied where the
// system can, and leaves no freed copy behind in the heap. Freed only by free_block, given
// its size.
void* resize_block(void* block, std::size_t size, std::size_t new_size);
void free_block(void* block, std::size_t size);

// Growth to this size and beyond asks may_hold first; smaller buffers never do.
inline constexpr std::size_t kBoundedFrom = std::size_t{1} << 20;

// True when `text` may grow by `more` bytes: always within its capacity or below
// kBoundedFrom; past that a string doubles, so the bound is asked for the doubled block.
inline bool may_grow(const std::string& text, std::size_t more) {
    const std::size_t size = text.size() + more;
    return size <= text.capacity() || size < kBoundedFrom ||
           may_hold(std::max(size, 2 * text.capacity()));
}

// The failure of a buffer stopped at the bound with `size` bytes in it:
// "output too large to hold in memory (1.4 GiB)".
OsError too_large(std::size_t size);

// ---- held output ---------------------------------------------------------------------------

// The whole standard output of a command, held until the next command takes it as its input.
//
// On POSIX a large output lives in a mapping of its own rather than in a string: a child's
// pipe is read straight into it, it grows by moving its pages rather than copying them, and
// nothing is zero-filled ahead of the bytes. On Linux it is lent to the next child's pipe by
// reference (vmsplice) instead of being copied into it, and its pages are given back behind
// the feed, so that a pipeline holds about one stage's output at a time. The next child still
// reads a pipe, as from any other command. Small outputs, the shell's own output and Windows
// use a plain string.
class Spool {
public:
    Spool() = default;
    explicit Spool(std::string bytes) : text_(std::move(bytes)) {}
    Spool(Spool&& other) noexcept;
    Spool& operator=(Spool&& other) noexcept;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    ~Spool();

    std::size_t size() const { return in_region() ? size_ : text_.size(); }
    bool empty() const { return size() == 0; }

    // Appends the bytes; a string or spool is taken whole when this one is empty. Fails with
    // too_large when the bytes would pass the memory bound.
    OsResult<void> append(std::string_view bytes);
    OsResult<void> append(std::string&& bytes);
    OsResult<void> append(Spool&& other);

    // Every byte, valid until the spool changes or ends.
    std::string_view view() const;
    // The bytes as a string, leaving the spool empty; copied only out of a mapping.
    std::string take();

private:
    friend OsResult<void> read_all(const Handle& handle, Spool& out);
    friend OsResult<void> write_all(const Handle& handle, Spool&& bytes);

    bool in_region() const { return region_ != nullptr; }
    bool small_enough(std::size_t more) const;
    bool reserve(std::size_t more);
    void release();

    std::string text_;          // the bytes, while they are not in a mapping
    char* region_ = nullptr;    // the mapping, once the output is large
    std::size_t size_ = 0;      // bytes in the mapping
    std::size_t capacity_ = 0;  // its length
};

// Appends everything up to end of file to the spool. On an error the bytes read so far stay.
// Growth past the memory bound stops the read with too_large; the caller then closes the
// pipe, so that its writer sees a broken pipe.
OsResult<void> read_all(const Handle& handle, Spool& out);
// Writes every byte of the spool (to a pipe or a file).
OsResult<void> write_all(const Handle& handle, const Spool& bytes);
// The same for bytes that are no longer needed: they are freed as they go, and a pipe may
// hold the pages themselves until its reader takes them.
OsResult<void> write_all(const Handle& handle, Spool&& bytes);

// ---- standard streams ----------------------------------------------------------------------

// Writes to the shell's own standard output (flushed) or standard error. A console receives
// the bytes as UTF-8 text. write_stdout is false when its reader has gone (a broken pipe);
// every other error is ignored.
bool write_stdout(std::string_view bytes);
void write_stderr(std::string_view bytes);

// The status of a run ended by a broken pipe on its standard output: as a program killed by
// SIGPIPE on POSIX, a plain failure on Windows.
inline constexpr int kBrokenPipeStatus =
#ifdef _WIN32
    1;
#else
    141;
#endif

bool stdin_is_terminal();

// One line of the shell's standard input, its line feed included, read without buffering
// ahead so that the rest stays for programs started later. Absent at end of input. Ctrl-C
// ends the wait (kInterrupted); a line past the memory bound fails with too_large.
OsResult<std::optional<std::string>> read_stdin_line();

// ---- programs ------------------------------------------------------------------------------

struct SpawnRequest {
    std::string program;            // argv[0] as typed
    std::vector<std::string> args;  // argv[1..]
    std::string cwd;                // working directory of the child
    // Variables added or replaced in the child's environment only (prefix assignments).
    std::vector<std::pair<std::string, std::string>> env_overrides;
    // Standard handles for the child; null means inherited from the shell.
    const Handle* in = nullptr;
    const Handle* out = nullptr;
    const Handle* err = nullptr;
};

struct SpawnError {
    bool not_found = false;  // the "command not found" kind
    std::string text;        // the {error} of "kiln: {name}: {error}"
};

struct Child {
    std::intptr_t id = -1;  // pid, or the process handle on Windows
};

// Finds and starts the program (searching the PATH of env_overrides first, then the shell's).
Result<Child, SpawnError> spawn(const SpawnRequest& request);
// Waits without time limit; the exit code as a signed 32-bit status (128 + N for signal N).
OsResult<int> wait_child(Child& child);

// The program that `which`/`type` report for a plain name, or absent.
std::optional<std::string> find_program(std::string_view name);

// Names of programs on PATH whose name begins with `prefix` (compared without case), as
// spelled in the directory; at most `limit` names, in directory order.
std::vector<std::string> list_programs(std::string_view prefix, std::size_t limit);

// ---- interrupts ----------------------------------------------------------------------------

// From now on Ctrl-C does not end the shell; it is recorded for take_interrupt().
void catch_interrupts();
// True once for each Ctrl-C received since the last call, and always while an ending waits.
bool take_interrupt();
// True while a Ctrl-C waits to be taken, without taking it: long reads and walks ask it
// between steps and stop with kInterrupted.
bool interrupt_pending();

// ---- endings -------------------------------------------------------------------------------

// From now on the interactive shell saves its history (through `save`) before it ends because
// its terminal went away or it was asked to end. On POSIX, SIGHUP and SIGTERM wait for the main
// thread: a running command line stops as after Ctrl-C, and end_if_asked() saves and ends the
// process by that signal. SIGQUIT is ignored (programs started later get the default). On
// Windows a closed console window, log-off or shutdown calls `save` on the console control
// handler's thread, before the system ends the process a few seconds later.
void catch_endings(std::function<void()> save);
// An ending waits for end_if_asked() (POSIX only; always false on Windows).
bool ending_pending();
// When an ending waits: calls the `save` given to catch_endings, then ends the process.
void end_if_asked();

}  // namespace kiln::platform
