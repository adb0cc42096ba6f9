// win32: CREATE_NEW for a new name, a handle asking for the access a
// replacement needs to look, FlushFileBuffers and MoveFileExW to replace.
#include "components/FileReplace.h"

namespace kv::components {

namespace {

HRESULT lastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

HRESULT createNewFile(const std::filesystem::path& path) {
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? S_FALSE : lastError();
    }
    CloseHandle(h);
    return S_OK;
}

HRESULT checkReplaceable(const std::filesystem::path& path) {
    // Write and delete access, sharing everything: refused for a read-only
    // file and for one that another program holds without sharing it.
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    CloseHandle(h);
    return S_OK;
}

HRESULT replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    const HANDLE h = CreateFileW(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    const BOOL flushed = FlushFileBuffers(h);
    const HRESULT flushError = flushed ? S_OK : lastError();
    CloseHandle(h);
    if (!flushed) return flushError;
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? S_OK
                                                                                                     : lastError();
}

}  // namespace kv::components
