// win32: a file is its volume serial number and file index. The handle asks
// for no data access at all, only attributes, and shares everything, so that
// looking never locks or changes the file; opening follows links.
#include "components/FileIdentity.h"

#include "platform/win32.h"

namespace kv::components {

std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path) {
    const HANDLE h =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace kv::components
