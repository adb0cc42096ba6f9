#pragma once

// What a file sink needs to replace a file in one step: write beside it, then
// put the new file in its place, so that the old one stays whole until then.
// Each platform has its own source (FileReplace_host.cpp, _win32.cpp).

#include <filesystem>

#include "platform/win32.h"

namespace kv::components {

// Creates `path` as a new, empty file. S_FALSE when something of that name
// exists already (nothing is touched); E_KV_PATH_NOT_FOUND when its folder
// does not exist; E_ACCESSDENIED when the folder cannot be written.
HRESULT createNewFile(const std::filesystem::path& path);

// Whether the existing file `path` could be written and replaced now, seen
// without changing it: S_OK, or E_ACCESSDENIED (or another platform failure,
// such as another program holding it on win32).
HRESULT checkReplaceable(const std::filesystem::path& path);

// Puts `from` in place of `to` (in the same folder) in one step once its
// bytes are on the disk: whatever happens, `to` is the old file or the new
// one, never a part. On failure both are left as they were.
HRESULT replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace kv::components
