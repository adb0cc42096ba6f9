// win32: the narrow argv and fopen go through the ANSI code page, which
// cannot spell every file name; the wide command line and _wfopen can.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <system_error>

#include "platform/win32.h"
#include "tools/common/Console.h"

#include <shellapi.h>

namespace kv::tools {

namespace {

std::string utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, s.data(), n, nullptr, nullptr);
    s.pop_back();
    return s;
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < n; ++i) args.push_back(utf8(wide[i]));
    LocalFree(wide);
    return args;
}

std::filesystem::path pathOf(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

void binaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::FILE* openForWriting(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"wb"); }

std::FILE* openForReading(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"rb"); }

std::string systemText(long hr, int error) {
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = n != 0 ? utf8(text) : std::string();
    if (text) LocalFree(text);
    // One line: the system ends its words with a full stop and a line break.
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' '))
        words.pop_back();
    return words.empty() ? errnoText(error) : words;
}

std::string errnoText(int error) { return std::generic_category().message(error != 0 ? error : EIO); }

}  // namespace kv::tools
