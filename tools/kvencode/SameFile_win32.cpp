// win32: a file is its volume serial number and file index. The handles ask
// for no data access at all, only attributes, and share everything, so that
// looking never locks or changes either file; opening follows links.
#include "tools/kvencode/SameFile.h"

#include "platform/win32.h"

namespace kv::tools {

namespace {

bool identify(const std::filesystem::path& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE h = CreateFileW(path.wstring().c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return ok != FALSE;
}

}  // namespace

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!identify(a, ia) || !identify(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace kv::tools
