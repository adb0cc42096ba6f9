#pragma once

// Whether two paths name one file, by the file's identity rather than its
// name: another spelling, a hard link or a symbolic link is the same file.
// Each platform has its own source (FileIdentity_host.cpp, _win32.cpp).

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kv::components {

// What tells one file from every other while it exists: the device and the
// file's number on it.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Opens nothing for writing, changes nothing and allocates nothing. A path
// that does not exist (an output not yet written) or cannot be looked at has
// no identity, and so is never the same file as another.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path);

inline bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    const auto ia = fileIdentity(a);
    return ia && ia == fileIdentity(b);
}

}  // namespace kv::components
