// Host: a file is its device and inode; stat follows symbolic links.
#include "components/FileIdentity.h"

#include <sys/stat.h>

namespace kv::components {

std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace kv::components
