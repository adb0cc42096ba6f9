// Host: arguments are bytes already, and so are the streams.
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "tools/common/Console.h"

namespace kv::tools {

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

std::filesystem::path pathOf(const std::string& utf8) { return std::filesystem::path(utf8); }

void binaryStandardStreams() {}

bool stderrIsTerminal() { return ::isatty(2) != 0; }

std::FILE* openForWriting(const std::filesystem::path& path) { return std::fopen(path.c_str(), "wb"); }

std::FILE* openForReading(const std::filesystem::path& path) { return std::fopen(path.c_str(), "rb"); }

std::string systemText(long, int error) { return errnoText(error); }

std::string errnoText(int error) { return std::generic_category().message(error != 0 ? error : EIO); }

}  // namespace kv::tools
