#pragma once

// Whether two paths name one file, by the file's identity rather than its
// name: another spelling, a hard link or a symbolic link is the same file.
// Each platform has its own source (SameFile_host.cpp, SameFile_win32.cpp).

#include <filesystem>

namespace kv::tools {

// Opens nothing for writing and changes nothing. A path that does not exist
// (an output not yet written) or cannot be looked at is no file, and so
// never the same file as another.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace kv::tools
