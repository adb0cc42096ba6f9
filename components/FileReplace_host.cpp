// Host: O_EXCL for a new name, access(2) to look, fsync and rename(2) to
// replace, which POSIX makes atomic within a file system.
#include "components/FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "components/Sinks.h"

namespace kv::components {

namespace {

HRESULT fromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return E_KV_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
            return E_ACCESSDENIED;
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EIO:
        case ENOSPC:
        case EDQUOT:
            return E_KV_WRITE_FAULT;
        default:
            return E_FAIL;
    }
}

}  // namespace

HRESULT createNewFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? S_FALSE : fromErrno(errno);
    ::close(fd);
    return S_OK;
}

HRESULT checkReplaceable(const std::filesystem::path& path) {
    return ::access(path.c_str(), W_OK) == 0 ? S_OK : fromErrno(errno);
}

HRESULT replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int fd = ::open(from.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return fromErrno(errno);
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced) return fromErrno(syncError);
    return std::rename(from.c_str(), to.c_str()) == 0 ? S_OK : fromErrno(errno);
}

}  // namespace kv::components
