// A small Windows program that the Windows end-to-end cases start through kiln.exe: it shows
// how its command line was split, exits with a given code, writes to its streams.
//   probe args ...     one line "[arg] [arg]...", the arguments as CommandLineToArgvW splits them
//   probe exit N       ends with exit code N (0 to 4294967295)
//   probe out TEXT     writes TEXT and a line feed to standard output; "err" to standard error
//   probe env NAME     the variable's value, or "(unset)"
//   probe cat          copies standard input to standard output
//   probe line         reads standard input up to its first line feed and writes that line,
//                      then "at N of SIZE" when it is a file (N: where the reading stopped),
//                      else "not a file"
//   probe self         the path of the running program
//   probe bytes HEX    writes the bytes spelled in hexadecimal to standard output
//   probe vt           "vt on" or "vt off": whether standard output is a console that
//                      interprets escape sequences, "no console" when it is none
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

void put(DWORD which, const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int wmain() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        put(STD_ERROR_HANDLE, "usage: probe args|exit|out|err|env|cat|line|self|bytes|vt ...\n");
        return 2;
    }
    const std::wstring verb = argv[1];
    if (verb == L"args") {
        std::string line;
        for (int i = 2; i < argc; ++i)
            line += (i > 2 ? " [" : "[") + utf8(argv[i]) + "]";
        put(STD_OUTPUT_HANDLE, line + "\n");
    } else if (verb == L"exit" && argc > 2) {
        ExitProcess(static_cast<UINT>(std::wcstoull(argv[2], nullptr, 10)));
    } else if ((verb == L"out" || verb == L"err") && argc > 2) {
        put(verb == L"out" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, utf8(argv[2]) + "\n");
    } else if (verb == L"env" && argc > 2) {
        wchar_t value[32768];
        const DWORD n = GetEnvironmentVariableW(argv[2], value, 32768);
        put(STD_OUTPUT_HANDLE, (n == 0 ? std::string("(unset)") : utf8(value)) + "\n");
    } else if (verb == L"self") {
        wchar_t path[32768];
        const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
        put(STD_OUTPUT_HANDLE, (n == 0 ? std::string("?") : utf8(path)) + "\n");
    } else if (verb == L"bytes" && argc > 2) {
        std::string bytes;
        for (const wchar_t* p = argv[2]; p[0] != L'\0' && p[1] != L'\0'; p += 2) {
            const wchar_t pair[3] = {p[0], p[1], L'\0'};
            bytes += static_cast<char>(std::wcstoul(pair, nullptr, 16));
        }
        put(STD_OUTPUT_HANDLE, bytes);
    } else if (verb == L"vt") {
        DWORD mode = 0;
        const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
        const bool vt = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        put(STD_OUTPUT_HANDLE, !console ? "no console\n" : vt ? "vt on\n" : "vt off\n");
    } else if (verb == L"cat") {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) &&
               n > 0) {
            put(STD_OUTPUT_HANDLE, std::string(buffer, n));
        }
    } else if (verb == L"line") {
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        std::string line;
        char c = 0;
        DWORD n = 0;
        while (c != '\n' && ReadFile(in, &c, 1, &n, nullptr) && n == 1)
            line += c;
        LARGE_INTEGER at{};
        LARGE_INTEGER size{};
        const bool file = GetFileType(in) == FILE_TYPE_DISK &&
                          SetFilePointerEx(in, LARGE_INTEGER{}, &at, FILE_CURRENT) &&
                          GetFileSizeEx(in, &size);
        put(STD_OUTPUT_HANDLE, line + (file ? "at " + std::to_string(at.QuadPart) + " of " +
                                                  std::to_string(size.QuadPart) + "\n"
                                            : "not a file\n"));
    } else {
        put(STD_ERROR_HANDLE, "probe: unknown request\n");
        return 2;
    }
    return 0;
}
