// Host: a file is its device and inode; stat follows symbolic links.
#include "tools/kvencode/SameFile.h"

#include <sys/stat.h>

namespace kv::tools {

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace kv::tools
