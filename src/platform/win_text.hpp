// Windows text and path rules as plain functions: UTF-16 conversion, path syntax, path lists
// and PATHEXT. They touch no system, so the Linux unit tests cover them as well.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiln::platform::win {

// UTF-8 to UTF-16; each invalid UTF-8 sequence becomes one U+FFFD: a byte that cannot start a
// character, or a sequence cut short, counted up to the first byte that does not fit it.
std::u16string to_utf16(std::string_view text);
// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD. `valid` (when given) tells whether
// the text had none.
std::string to_utf8(std::u16string_view text, bool* valid = nullptr);

// How many units of `text` one console write takes: at most `limit` (at least 2), and never
// only the first half of a surrogate pair, which the console would show as two wrong glyphs.
std::size_t console_chunk(std::u16string_view text, std::size_t limit);

bool is_separator(char c);
// Length of a leading drive ("C:") or share ("\\server\share", "\\?\...", "\\.\device")
// prefix; 0 when there is none.
std::size_t prefix_length(std::string_view path);
// A share or device prefix stands for a root even without a separator after it.
bool has_root(std::string_view path);
bool is_absolute(std::string_view path);
std::string join_path(std::string_view base, std::string_view rel);
std::string normalize_path(std::string_view path);
// The drive letter of a drive-relative path ("D:" or "D:x": a drive and no root), which names
// a place below that drive's current directory; absent for any other path.
std::optional<char> relative_drive(std::string_view path);
// The current directory of `drive` for a shell whose directory is `cwd`: `cwd` when it is on
// that drive, else `kept` (the directory the environment keeps for the drive as "=D:") when
// that is an absolute path on it, else the drive's root.
std::string drive_directory(char drive, std::string_view cwd, std::string_view kept);
// "=D:", the environment variable that keeps the current directory of a drive.
std::string drive_variable(char drive);

// An absolute path in the \\?\ form (\\?\UNC\ for a share), normalized and with backslashes
// only, which the file calls take past 260 characters; any other path unchanged.
std::string extended_path(std::string_view path);
// The last component names a device (NUL, CON, PRN, AUX, COM1-9, LPT1-9), whatever follows a
// dot: the system maps such a name to the device, which the \\?\ form would lose.
bool is_device_name(std::string_view path);

// ";" separates, a double-quoted part may hold ";", the quotes are removed; empty entries kept.
std::vector<std::string> split_path_list(std::string_view value);

inline constexpr std::string_view kDefaultPathext = ".EXE;.BAT;.CMD;.COM";
// The pieces of PATHEXT split at every ";", empty pieces kept.
std::vector<std::string> split_pathext(std::string_view value);

// True when the name ends in `suffix`, ASCII letters compared without case.
bool ends_with_nocase(std::string_view name, std::string_view suffix);
bool is_batch_file(std::string_view path);
// The path with every "/" made a backslash, as a program expects its own name to be spelled.
std::string backslashed(std::string_view path);

}  // namespace kiln::platform::win
